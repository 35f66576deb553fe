#include "plassert.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

PlFailureHook failure_hook = nullptr;
char operation_name[256];

void put(const char *text)
{
    size_t n = strlen(text);
    while (n) {
        ssize_t w = write(2, text, n);
        if (w <= 0)
            return;
        text += w;
        n -= static_cast<size_t>(w);
    }
}

}  // namespace

void pl_set_failure_hook(PlFailureHook hook) { failure_hook = hook; }

const char *pl_operation(const char *pretty)
{
    // The name ends at the parameter list; it starts after the return type.
    const char *end = strchr(pretty, '(');
    if (!end)
        end = pretty + strlen(pretty);
    const char *start = end;
    while (start > pretty && start[-1] != ' ' && start[-1] != '*' && start[-1] != '&')
        --start;
    size_t n = static_cast<size_t>(end - start);
    if (n >= sizeof operation_name)
        n = sizeof operation_name - 1;
    memcpy(operation_name, start, n);
    operation_name[n] = '\0';
    return operation_name;
}

void pl_assert_fail(const char *operation, const char *condition)
{
    PlFailureHook hook = failure_hook;
    failure_hook = nullptr;   // a failure inside the hook must not loop
    if (hook)
        hook();
    put(operation);
    put(": assertion failed: ");
    put(condition);
    put("\n");
    abort();
}
