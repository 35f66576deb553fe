#include "hqstreamlist.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

#include "hqtime.h"

namespace {

HqIStreamList *global_list = nullptr;

// Streams whose execute() is running, so that one destroyed inside its own
// callback is not touched afterwards.
struct Running {
    HqStream *stream;
    bool gone;
    Running *outer;
};
Running *running_chain = nullptr;

}  // namespace

HqIStreamList &globallist()
{
    // Never destroyed: streams that are static objects may still leave it
    // while the program ends.
    if (!global_list)
        global_list = new HqIStreamList;
    return *global_list;
}

void HqIStreamList::forget(HqStream *stream)
{
    for (Running *r = running_chain; r; r = r->outer)
        if (r->stream == stream)
            r->gone = true;
    if (global_list)
        global_list->remove(stream);
}

void HqIStreamList::append(HqStream *stream)
{
    if (stream && !contains(stream))
        streams_.push_back(stream);
}

bool HqIStreamList::remove(HqStream *stream)
{
    auto it = std::find(streams_.begin(), streams_.end(), stream);
    if (it == streams_.end())
        return false;
    streams_.erase(it);
    return true;
}

bool HqIStreamList::contains(const HqStream *stream) const
{
    return std::find(streams_.begin(), streams_.end(), stream) != streams_.end();
}

int HqIStreamList::select(int ms)
{
    int r = wait(streams_, ms, true, nullptr);
    return r == 2 ? 0 : r;
}

int HqIStreamList::run_due(const std::vector<HqStream *> *ready)
{
    if (!global_list)
        return 0;
    long long now = hq_monotonic_ms();
    // A snapshot: callbacks may change the list.
    std::vector<HqStream *> members = global_list->streams_;
    int ran = 0;
    for (HqStream *s : members) {
        if (!global_list->contains(s) || s->running_)
            continue;
        bool by_alarm = s->alarm_at_ >= 0 && s->alarm_at_ <= now;
        bool by_input = false;
        if (!by_alarm && s->hascallback()) {
            by_input = s->inputready() ||
                       (ready && std::find(ready->begin(), ready->end(), s) != ready->end());
        }
        if (!by_alarm && !by_input)
            continue;
        if (by_alarm)
            s->alarm_at_ = -1;
        Running entry = {s, false, running_chain};
        running_chain = &entry;
        s->running_ = true;
        s->alarmed_ = by_alarm;
        s->execute();
        running_chain = entry.outer;
        if (!entry.gone) {
            s->running_ = false;
            s->alarmed_ = false;
        }
        ++ran;
    }
    return ran;
}

int HqIStreamList::wait(const std::vector<HqStream *> &wanted, int ms, bool stop_on_run, HqStream *owner)
{
    long long deadline = ms < 0 ? -1 : hq_monotonic_ms() + ms;
    if (owner)
        owner->terminate_ = false;
    std::vector<struct pollfd> fds;
    std::vector<HqStream *> watched;   // the global member behind each fd after the wanted ones
    std::vector<HqStream *> ready;
    const std::vector<HqStream *> *ready_now = nullptr;
    for (;;) {
        for (HqStream *w : wanted)
            if (w->inputready())
                return 1;
        int ran = run_due(ready_now);
        ready_now = nullptr;
        if (owner && owner->terminate_) {
            owner->terminate_ = false;
            return 0;
        }
        long long now = hq_monotonic_ms();
        bool last = deadline >= 0 && now >= deadline;
        if (ran && (stop_on_run || last))
            return 2;

        // One poll: the wanted descriptors, then the members that watch input.
        long long wake = deadline;
        fds.clear();
        watched.clear();
        for (HqStream *w : wanted)
            if (w->getfd() >= 0)
                fds.push_back({w->getfd(), POLLIN, 0});
        size_t nwanted = fds.size();
        if (global_list) {
            for (HqStream *s : global_list->streams_) {
                if (s->running_)
                    continue;
                if (s->alarm_at_ >= 0 && (wake < 0 || s->alarm_at_ < wake))
                    wake = s->alarm_at_;
                if (s->hascallback() && s->getfd() >= 0) {
                    fds.push_back({s->getfd(), POLLIN, 0});
                    watched.push_back(s);
                }
            }
        }
        if (fds.empty() && wake < 0)
            return -1;   // nothing could ever end this wait
        int timeout = wake < 0 ? -1 : static_cast<int>(std::min(std::max(wake - now, 0LL), 0x7fffffffLL));
        int r = poll(fds.data(), fds.size(), timeout);
        if (r < 0 && errno != EINTR)
            return -1;
        if (r < 0)
            continue;
        for (size_t i = 0; i < nwanted; ++i)
            if (fds[i].revents)
                return 1;
        ready.clear();
        for (size_t i = nwanted; i < fds.size(); ++i)
            if (fds[i].revents)
                ready.push_back(watched[i - nwanted]);
        if (!ready.empty())
            ready_now = &ready;
        else if (last)
            return 0;
    }
}
