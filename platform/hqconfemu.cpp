#include "hqconfemu.h"

#include <climits>

HqString HqConfEmu::get(const char *section, const char *key, const char *fallback)
{
    return root_->xget(RaveloKey(section, key), HqString(fallback));
}

long HqConfEmu::getint(const char *section, const char *key, long fallback)
{
    long long v = root_->xgetint(RaveloKey(section, key), fallback);
    return v < LONG_MIN || v > LONG_MAX ? fallback : static_cast<long>(v);
}

bool HqConfEmu::setint(const char *section, const char *key, long value)
{
    return root_->xsetint(RaveloKey(section, key), value);
}

bool HqConfEmu::maybesetint(const char *section, const char *key, long value)
{
    return root_->xmaybeset(RaveloKey(section, key), HqString(static_cast<long long>(value)));
}

int HqConfEmu::flush() { return root_->flush(); }
