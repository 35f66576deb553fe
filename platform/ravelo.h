// Ravelo: a tree of configuration keys served by mounted generators.
//
//   RaveloRoot root(new RaveloIni("/tmp/hqmail/hqmail.ini", 0660), true);
//   HqString domain = root.xget(RaveloKey("Main", "Mail Domain"), "example.net");
//   root[RaveloKey("Main/Number Virus Found")].setmeint(3);
//   root.flush();                          // changes reach the INI file
//
// A key is a path of names separated by '/'. The tree owns its generators.
// Single-threaded.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hqstring.h"

class RaveloKey {
public:
    RaveloKey() = default;
    RaveloKey(const char *path);                 // "eth0/ipaddr"
    RaveloKey(const char *first, const char *second);
    const std::vector<std::string> &names() const { return names_; }
    bool isnull() const { return names_.empty(); }
    std::string text() const;                    // names joined by '/'

private:
    std::vector<std::string> names_;
};

// Serves the keys of one subtree. Values are texts; absent keys give false.
class RaveloGen {
public:
    virtual ~RaveloGen() = default;
    virtual bool get(const RaveloKey &key, HqString *value) = 0;
    virtual bool set(const RaveloKey &key, const HqFastString &value) = 0;
    // An integer change: a generator that merges concurrent writers applies it
    // as a difference against the value it was read as.
    virtual bool setint(const RaveloKey &key, long long value);
    // Stores only when the key is absent.
    virtual bool maybeset(const RaveloKey &key, const HqFastString &value);
    // Makes the changes lasting; 0 on success, -1 on failure.
    virtual int flush() { return 0; }
    // Whether reads should notice changes made by others.
    void setrefresh(bool refresh) { refresh_ = refresh; }
    // False when the generator can no longer serve (its daemon went away):
    // its reads give "absent" and its writes fail until it is mounted anew.
    virtual bool isok() const { return true; }

protected:
    bool refresh_ = true;
};

// A generator for a moniker ("ini:/path/file.ini", or the daemon's
// "cache:subtree:unix:/tmp/ravelod cfg", see ravelounix.h), or null when the
// moniker is not understood. A daemon that cannot be reached still gives a
// generator, one that is not ok.
RaveloGen *ravelo_open_moniker(const char *moniker, bool refresh);

class Ravelo;

// Handle on one key of a tree.
class RaveloRef {
public:
    RaveloRef(Ravelo *tree, const RaveloKey &key) : tree_(tree), key_(key) {}
    HqString getme(const HqFastString &fallback) const;
    long long getmeint(long long fallback) const;
    bool setme(const HqFastString &value) const;
    bool setmeint(long long value) const;

private:
    Ravelo *tree_;
    RaveloKey key_;
};

class Ravelo {
public:
    Ravelo() = default;
    virtual ~Ravelo() = default;
    Ravelo(const Ravelo &) = delete;
    Ravelo &operator=(const Ravelo &) = delete;

    // Mounts the moniker's generator at the top; the generator or null.
    RaveloGen *mount(const char *moniker, bool refresh);
    // Mounts `gen` (taken over) at the top, in front of earlier mounts.
    RaveloGen *mount(RaveloGen *gen, bool refresh);
    // The generator serving `key` (the top for a null key), or null.
    RaveloGen *whichmount(const RaveloKey &key) const;
    // Removes `gen`; with `keep` the caller gets it back to delete, otherwise
    // it is deleted here.
    void unmount(RaveloGen *gen, bool keep);

    RaveloRef operator[](const RaveloKey &key) { return RaveloRef(this, key); }
    HqString xget(const RaveloKey &key, const HqFastString &fallback);
    long long xgetint(const RaveloKey &key, long long fallback);
    bool xset(const RaveloKey &key, const HqFastString &value);
    bool xsetint(const RaveloKey &key, long long value);
    bool xmaybeset(const RaveloKey &key, const HqFastString &value);
    // Flushes every generator; 0 when all succeeded.
    int flush();

private:
    std::vector<std::unique_ptr<RaveloGen>> mounts_;   // newest first
};

class RaveloRoot : public Ravelo {
public:
    RaveloRoot() = default;
    RaveloRoot(RaveloGen *gen, bool refresh) { mount(gen, refresh); }
    RaveloRoot(const char *moniker, bool refresh) { mount(moniker, refresh); }
};

// Decimal integer of a whole text (white space around allowed); false when
// the text is not one.
bool ravelo_parse_int(const char *text, long long *value);
