// A program run as a child, its standard output on a pipe that this stream
// reads. Standard input and standard error stay the caller's.
//
//   const char *const argv[] = {"/usr/bin/mirror-hqdisk", "installcd", nullptr};
//   HqPipe child("/usr/bin/mirror-hqdisk", argv);
//   if (!child.isok()) log("%s", child.errstr());    // e.g. not found
//   while (HqString line = child.getline(-1, '\n', 1024)) ...
//
// A program that cannot be started gives a stream that is not ok at once,
// with the reason as its error. The child is not waited for: it runs on
// after close() (it gets SIGPIPE when it writes to the closed pipe) and the
// system reaps it, so closing never blocks and leaves no zombie.
#pragma once

#include "hqstream.h"

class HqPipe : public HqFdStream {
public:
    // `argv` ends with a null entry; argv[0] is the name the program sees.
    HqPipe(const char *program, const char *const argv[]);
};
