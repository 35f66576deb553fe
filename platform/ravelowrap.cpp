#include "ravelowrap.h"

RaveloSubtree::RaveloSubtree(RaveloGen *inner, const char *path) : inner_(inner), path_(path ? path : "") {}

RaveloKey RaveloSubtree::inside(const RaveloKey &key) const
{
    std::string k = key.text();
    if (path_.empty())
        return RaveloKey(k.c_str());
    return RaveloKey((path_ + "/" + k).c_str());
}

bool RaveloSubtree::get(const RaveloKey &key, HqString *value) { return inner_->get(inside(key), value); }

bool RaveloSubtree::set(const RaveloKey &key, const HqFastString &value) { return inner_->set(inside(key), value); }

bool RaveloCache::get(const RaveloKey &key, HqString *value)
{
    std::string k = key.text();
    if (!refresh_) {
        auto it = values_.find(k);
        if (it != values_.end()) {
            if (it->second.present)
                *value = it->second.value;
            return it->second.present;
        }
    }
    HqString v;
    bool present = inner_->get(key, &v);
    // A read that failed for want of the daemon is not an answer to keep.
    if (inner_->isok())
        values_[k] = Entry{present, v};
    if (present)
        *value = v;
    return present;
}

bool RaveloCache::set(const RaveloKey &key, const HqFastString &value)
{
    if (!inner_->set(key, value))
        return false;
    values_[key.text()] = Entry{true, HqString(value.isnull() ? "" : value.cstr())};
    return true;
}
