// Checks of the console's bounds and states. A failed check is a caller
// error: the terminal is put back into its saved mode (shown cursor, grey
// on black, ASCII character set) before the program ends with the
// operation and the condition on standard error, so the recovery terminal
// is never left raw.
//
//   PL_ASSERT(y < ysize);     // "PlCells::row: y < ysize", then abort()
#pragma once

#define PL_ASSERT(cond) ((cond) ? (void)0 : pl_assert_fail(pl_operation(__PRETTY_FUNCTION__), #cond))

// Called before the program ends; the screen registers its restore here.
using PlFailureHook = void (*)();
void pl_set_failure_hook(PlFailureHook hook);

[[noreturn]] void pl_assert_fail(const char *operation, const char *condition);

// "PlCells::row" out of "PlCell* PlCells::row(int)".
const char *pl_operation(const char *pretty);
