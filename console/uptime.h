// The console's uptime clock in the frame's top-right corner.
//
//   HqStream timer;                          // a bare stream: only its alarm
//   timer.setcallback(update_uptime, &frame);
//   timer.alarm(1);
//   globallist().append(&timer);             // every wait of the program runs it
//
// uptime_text(90061) is "UpTime: 1 day + 1:01:01": hours as they are,
// minutes and seconds with two digits.
#pragma once

#include "hqstream.h"
#include "hqstring.h"

// The clock text for `seconds` of uptime.
HqString uptime_text(long long seconds);

// The timer's callback: `user` is the PlFrame. Reads "/proc/uptime", shows
// the clock when the file gives a line, and re-arms the timer for 200 ms.
void update_uptime(HqStream *timer, void *user);
