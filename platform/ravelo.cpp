#include "ravelo.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "raveloini.h"
#include "ravelounix.h"
#include "ravelowrap.h"

RaveloKey::RaveloKey(const char *path)
{
    HqStringList list;
    list.split(path, "/");
    for (const HqString &name : list)
        names_.push_back(name.str());
}

RaveloKey::RaveloKey(const char *first, const char *second)
{
    names_.push_back(first ? first : "");
    names_.push_back(second ? second : "");
}

std::string RaveloKey::text() const
{
    std::string out;
    for (const std::string &name : names_) {
        if (!out.empty())
            out.push_back('/');
        out += name;
    }
    return out;
}

bool RaveloGen::setint(const RaveloKey &key, long long value)
{
    return set(key, HqString(value));
}

bool RaveloGen::maybeset(const RaveloKey &key, const HqFastString &value)
{
    HqString current;
    return get(key, &current) || set(key, value);
}

RaveloGen *ravelo_open_moniker(const char *moniker, bool refresh)
{
    if (!moniker)
        return nullptr;
    RaveloGen *gen = nullptr;
    if (strncmp(moniker, "ini:", 4) == 0 && moniker[4]) {
        gen = new RaveloIni(moniker + 4, 0660);
    } else if (strncmp(moniker, "unix:", 5) == 0 && moniker[5]) {
        gen = new RaveloUnix(moniker + 5);
    } else if (strncmp(moniker, "cache:", 6) == 0) {
        if (RaveloGen *inner = ravelo_open_moniker(moniker + 6, refresh))
            gen = new RaveloCache(inner);
    } else if (strncmp(moniker, "subtree:", 8) == 0) {
        // "<moniker> <path>": the path follows the last blank.
        const char *rest = moniker + 8;
        const char *blank = strrchr(rest, ' ');
        if (blank && blank != rest && blank[1]) {
            std::string inner_moniker(rest, static_cast<size_t>(blank - rest));
            if (RaveloGen *inner = ravelo_open_moniker(inner_moniker.c_str(), refresh))
                gen = new RaveloSubtree(inner, blank + 1);
        }
    }
    if (gen)
        gen->setrefresh(refresh);
    return gen;
}

bool ravelo_parse_int(const char *text, long long *value)
{
    if (!text)
        return false;
    char *end = nullptr;
    errno = 0;
    long long v = strtoll(text, &end, 10);
    if (end == text || errno == ERANGE)
        return false;
    while (*end == ' ' || *end == '\t')
        ++end;
    if (*end)
        return false;
    *value = v;
    return true;
}

HqString RaveloRef::getme(const HqFastString &fallback) const { return tree_->xget(key_, fallback); }
long long RaveloRef::getmeint(long long fallback) const { return tree_->xgetint(key_, fallback); }
bool RaveloRef::setme(const HqFastString &value) const { return tree_->xset(key_, value); }
bool RaveloRef::setmeint(long long value) const { return tree_->xsetint(key_, value); }

RaveloGen *Ravelo::mount(const char *moniker, bool refresh)
{
    return mount(ravelo_open_moniker(moniker, refresh), refresh);
}

RaveloGen *Ravelo::mount(RaveloGen *gen, bool refresh)
{
    if (!gen)
        return nullptr;
    gen->setrefresh(refresh);
    mounts_.insert(mounts_.begin(), std::unique_ptr<RaveloGen>(gen));
    return gen;
}

RaveloGen *Ravelo::whichmount(const RaveloKey &) const
{
    // Every generator is mounted at the top, so the newest serves all keys.
    return mounts_.empty() ? nullptr : mounts_.front().get();
}

void Ravelo::unmount(RaveloGen *gen, bool keep)
{
    for (auto it = mounts_.begin(); it != mounts_.end(); ++it) {
        if (it->get() == gen) {
            if (keep)
                it->release();
            mounts_.erase(it);
            return;
        }
    }
}

HqString Ravelo::xget(const RaveloKey &key, const HqFastString &fallback)
{
    HqString value;
    RaveloGen *gen = whichmount(key);
    return gen && gen->get(key, &value) ? value : HqString(fallback);
}

long long Ravelo::xgetint(const RaveloKey &key, long long fallback)
{
    long long v;
    HqString text = xget(key, HqString());
    return ravelo_parse_int(text.cstr(), &v) ? v : fallback;
}

bool Ravelo::xset(const RaveloKey &key, const HqFastString &value)
{
    RaveloGen *gen = whichmount(key);
    return gen && gen->set(key, value);
}

bool Ravelo::xsetint(const RaveloKey &key, long long value)
{
    RaveloGen *gen = whichmount(key);
    return gen && gen->setint(key, value);
}

bool Ravelo::xmaybeset(const RaveloKey &key, const HqFastString &value)
{
    RaveloGen *gen = whichmount(key);
    return gen && gen->maybeset(key, value);
}

int Ravelo::flush()
{
    int r = 0;
    for (auto &gen : mounts_)
        if (gen->flush() < 0)
            r = -1;
    return r;
}
