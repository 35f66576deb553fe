// Generators that wrap another one (which they own): a subtree of its keys,
// and a cache of the values read.
//
//   RaveloGen *gen = new RaveloCache(new RaveloSubtree(new RaveloUnix("/tmp/ravelod"), "cfg"));
//   gen->get(RaveloKey("eth0/ipaddr"), &v);     // asks the daemon for "cfg/eth0/ipaddr"
//
// Both are ok while the inner generator is.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "ravelo.h"

// The keys below `path` of the inner tree: "eth0/ipaddr" is `path`/eth0/ipaddr.
class RaveloSubtree : public RaveloGen {
public:
    RaveloSubtree(RaveloGen *inner, const char *path);

    bool get(const RaveloKey &key, HqString *value) override;
    bool set(const RaveloKey &key, const HqFastString &value) override;
    int flush() override { return inner_->flush(); }
    bool isok() const override { return inner_->isok(); }

private:
    RaveloKey inside(const RaveloKey &key) const;
    std::unique_ptr<RaveloGen> inner_;
    std::string path_;
};

// Keeps the values read and written. With refresh on (see setrefresh) every
// read asks the inner generator again, so changes by others show at once;
// with refresh off a value is asked for once. Writes always go straight
// through to the inner generator.
class RaveloCache : public RaveloGen {
public:
    explicit RaveloCache(RaveloGen *inner) : inner_(inner) {}

    bool get(const RaveloKey &key, HqString *value) override;
    bool set(const RaveloKey &key, const HqFastString &value) override;
    int flush() override { return inner_->flush(); }
    bool isok() const override { return inner_->isok(); }

private:
    struct Entry {
        bool present;
        HqString value;
    };
    std::unique_ptr<RaveloGen> inner_;
    std::map<std::string, Entry> values_;
};
