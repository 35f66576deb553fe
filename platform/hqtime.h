// Dates in the form mail headers use, and the clock of the stream waits.
//
//   HqString now = rfc822_date(-1);     // "Tue, 04 Mar 2025 09:15:02 +0100"
//   long long t = hq_monotonic_ms();    // for deadlines; never goes back
#pragma once

#include <ctime>

#include "hqstring.h"

// Local time of `when` (-1: now) as "Www, dd Mmm yyyy hh:mm:ss +hhmm",
// with English day and month names whatever the locale.
HqString rfc822_date(time_t when);

// Milliseconds of the monotonic clock.
long long hq_monotonic_ms();
