// Streams waited on together, and the process-wide list that every wait
// services.
//
//   HqIStreamList wanted;                 // the screen and a source
//   wanted.append(&screen);
//   wanted.append(&source);
//   if (wanted.select(-1) > 0) ...        // one of them has input
//
//   globallist().append(&timer);          // runs inside every wait from now on
//
// A list does not own its streams. A stream leaves globallist() by itself
// when it is destroyed; a local list must not outlive its streams (declare
// it after them). Members may be appended or removed, even destroyed, from
// inside a callback.
#pragma once

#include <vector>

#include "hqstream.h"

class HqIStreamList {
public:
    // Adds the stream once (a second append does nothing).
    void append(HqStream *stream);
    // False when it was not a member.
    bool remove(HqStream *stream);
    bool contains(const HqStream *stream) const;
    int count() const { return static_cast<int>(streams_.size()); }
    HqStream *operator[](int i) const { return streams_.at(static_cast<size_t>(i)); }

    // Waits at most `ms` (-1: no limit) until a member has input or has
    // ended, servicing globallist() meanwhile: 1 input, 0 time out or a
    // member of globallist() ran, -1 failure (nothing to wait for).
    int select(int ms);

    // The wait itself: input on `wanted`, servicing the global list. With
    // `stop_on_run` a run of a global member ends the wait (2); otherwise
    // only `owner`'s terminate_continue_select() (0), input (1) or the time
    // limit (0, or 2 when members ran on the last pass) end it.
    static int wait(const std::vector<HqStream *> &wanted, int ms, bool stop_on_run, HqStream *owner);

    // A stream that is being destroyed: it leaves globallist(), and a run of
    // its execute() in progress further up the call stack no longer touches it.
    static void forget(HqStream *stream);

private:
    // Runs the global members that are due; how many ran.
    static int run_due(const std::vector<HqStream *> *ready);
    std::vector<HqStream *> streams_;
};

// The process-wide list. It lives until the process ends.
HqIStreamList &globallist();
