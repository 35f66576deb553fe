// The queue filter's run: qmail starts it in place of its own queue program
// with the message on descriptor 0 and the envelope on descriptor 1.
//
//   int main(int argc, char **argv)
//   {
//       HqSyslog log("MailQueue", false, 5, 10);
//       return x_main(argc, argv);        // the installed program's paths
//   }
//
// The result is the queue program's exit status, or 81 when the filter could
// not hand the message over completely (nothing is queued by it then).
#pragma once

#include "hqplaces.h"

int x_main(int argc, char **argv, const HqQueuePlaces &places = HqQueuePlaces());
// One read() call; its result.
int x_read(int fd, void *buf, unsigned size);
