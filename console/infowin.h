// The "Status" and "Settings" windows of the console's main screen.
//
//   refresh_info_windows(root, status, settings);   // on every pass of the loop
//
// Status shows the two lines of the front-panel file "/etc/lcdfile",
// centred; Settings shows host name, Cordane address, DHCP state and the
// addresses of eth0 to eth5 from the configuration, with defaults for
// whatever is missing. Both windows must be shown; they give up the focus
// again afterwards.
#pragma once

#include "hqstring.h"
#include "ovlwin.h"
#include "ravelo.h"

// The default of "global/domain".
extern const char *const console_default_domain;

void refresh_info_windows(Ravelo &root, OvlWin &status, OvlWin &settings);

// The text preceded by (width - length) / 2 blanks; a null text counts as
// empty, a text as wide as `width` or wider gets none.
HqString center_text(const HqFastString &text, int width);

// The text in bright white (15), then the text colour back to grey (7).
void print_highlighted(const char *text);
void print_highlighted_format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
