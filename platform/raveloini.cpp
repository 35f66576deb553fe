#include "raveloini.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

namespace {

bool same_name(const std::string &a, const std::string &b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

std::string trim(const std::string &s)
{
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// Names match without regard to case, so remembered values are kept by a
// lower-case id.
std::string key_id(const std::string &section, const std::string &name)
{
    std::string id = section + '\n' + name;
    for (char &ch : id)
        ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    return id;
}

long long mtime_ns(const struct stat &st)
{
    return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

}  // namespace

void RaveloIni::Data::parse(const std::string &text)
{
    sections.clear();
    sections.emplace_back();
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string::npos ? text.size() : nl;
        // Kept byte for byte, CRs included, for lines that are written back
        // as they are; the trimmed form decides what the line is.
        std::string raw = text.substr(pos, end - pos);
        pos = nl == std::string::npos ? text.size() : nl + 1;
        std::string t = trim(raw);
        size_t close = t.find(']');
        if (!t.empty() && t[0] == '[' && close != std::string::npos) {
            Section s;
            s.name = trim(t.substr(1, close - 1));
            s.heading = true;
            sections.push_back(s);
            continue;
        }
        Line line;
        line.raw = raw;
        size_t eq = t.find('=');
        if (!t.empty() && t[0] != ';' && t[0] != '#' && eq != std::string::npos && eq > 0) {
            line.entry = true;
            line.key = trim(t.substr(0, eq));
            line.value = trim(t.substr(eq + 1));
        }
        sections.back().lines.push_back(line);
    }
}

std::string RaveloIni::Data::text() const
{
    std::string out;
    for (const Section &s : sections) {
        if (s.heading)
            out += "[" + s.name + "]\n";
        for (const Line &l : s.lines)
            out += (l.entry ? l.key + "=" + l.value : l.raw) + "\n";
    }
    return out;
}

const std::string *RaveloIni::Data::find(const std::string &section, const std::string &key) const
{
    for (const Section &s : sections) {
        if (!s.heading || !same_name(s.name, section))
            continue;
        for (const Line &l : s.lines)
            if (l.entry && same_name(l.key, key))
                return &l.value;
    }
    return nullptr;
}

void RaveloIni::Data::store(const std::string &section, const std::string &key, const std::string &value)
{
    Section *target = nullptr;
    for (Section &s : sections) {
        if (!s.heading || !same_name(s.name, section))
            continue;
        for (Line &l : s.lines) {
            if (l.entry && same_name(l.key, key)) {
                l.value = value;
                return;
            }
        }
        if (!target)
            target = &s;
    }
    if (!target) {
        Section s;
        s.name = section;
        s.heading = true;
        sections.push_back(s);
        target = &sections.back();
    }
    // New entries go after the section's last entry, before trailing comments.
    size_t at = 0;
    for (size_t i = 0; i < target->lines.size(); ++i)
        if (target->lines[i].entry)
            at = i + 1;
    Line line;
    line.entry = true;
    line.key = key;
    line.value = value;
    target->lines.insert(target->lines.begin() + static_cast<long>(at), line);
}

RaveloIni::RaveloIni(const char *path, mode_t mode) : path_(path ? path : ""), mode_(mode) { load(); }

bool RaveloIni::split(const RaveloKey &key, std::string *section, std::string *name) const
{
    if (key.names().size() != 2)
        return false;
    *section = key.names()[0];
    *name = key.names()[1];
    return !section->empty() && !name->empty();
}

RaveloIni::Change *RaveloIni::find_change(const std::string &section, const std::string &name)
{
    for (Change &c : changes_)
        if (same_name(c.section, section) && same_name(c.key, name))
            return &c;
    return nullptr;
}

const std::string *RaveloIni::visible(const std::string &section, const std::string &name)
{
    if (Change *c = find_change(section, name))
        return &c->value;
    return data_.find(section, name);
}

bool RaveloIni::get(const RaveloKey &key, HqString *value)
{
    std::string section, name;
    if (!split(key, &section, &name))
        return false;
    reload_if_changed();
    const std::string *v = visible(section, name);
    std::string id = key_id(section, name);
    if (!v) {
        seen_.erase(id);
        return false;
    }
    seen_[id] = *v;
    *value = HqString(*v);
    return true;
}

bool RaveloIni::set(const RaveloKey &key, const HqFastString &value)
{
    std::string section, name;
    if (!split(key, &section, &name) || value.isnull() || value.str().find('\n') != std::string::npos)
        return false;
    Change *c = find_change(section, name);
    if (!c) {
        changes_.push_back(Change{section, name, Op::Set, std::string(), 0, false});
        c = &changes_.back();
    }
    c->op = Op::Set;
    c->value = value.str();
    return true;
}

bool RaveloIni::setint(const RaveloKey &key, long long value)
{
    std::string section, name;
    if (!split(key, &section, &name))
        return false;
    // The change counts against the value last handed out for this key, which
    // is what the caller's new value was computed from.
    std::string id = key_id(section, name);
    auto it = seen_.find(id);
    const std::string *seen = it != seen_.end() ? &it->second : visible(section, name);
    long long base = 0;
    bool has_base = seen && ravelo_parse_int(seen->c_str(), &base);
    Change *c = find_change(section, name);
    if (c && c->op == Op::SetInt) {
        c->value = std::to_string(value);   // keeps the first base
        return true;
    }
    if (c && c->op == Op::MaybeSet) {
        // A key this object created: it was absent, so the new value counts
        // against the created one.
        c->op = Op::SetInt;
    } else if (!c) {
        changes_.push_back(Change{section, name, Op::SetInt, std::string(), 0, false});
        c = &changes_.back();
        c->op = Op::SetInt;
    } else {
        c->op = Op::Set;
        c->value = std::to_string(value);
        return true;
    }
    c->base = base;
    c->has_base = has_base;
    c->value = std::to_string(value);
    return true;
}

bool RaveloIni::maybeset(const RaveloKey &key, const HqFastString &value)
{
    std::string section, name;
    if (!split(key, &section, &name) || value.isnull() || value.str().find('\n') != std::string::npos)
        return false;
    if (visible(section, name))
        return true;
    changes_.push_back(Change{section, name, Op::MaybeSet, value.str(), 0, false});
    return true;
}

bool RaveloIni::read_fd(int fd, std::string *text) const
{
    text->clear();
    char buf[8192];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        text->append(buf, static_cast<size_t>(n));
    }
}

void RaveloIni::load()
{
    data_.parse(std::string());
    mtime_ns_ = -1;
    size_ = -1;
    int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st;
    std::string text;
    if (fstat(fd, &st) == 0 && read_fd(fd, &text)) {
        data_.parse(text);
        dev_ = st.st_dev;
        ino_ = st.st_ino;
        mtime_ns_ = mtime_ns(st);
        size_ = st.st_size;
    }
    close(fd);
}

void RaveloIni::reload_if_changed()
{
    // Pending changes are merged by flush(); until then the view stays put.
    if (!refresh_ || !changes_.empty())
        return;
    struct stat st;
    bool exists = stat(path_.c_str(), &st) == 0;
    if (!exists && size_ < 0)
        return;
    if (exists && st.st_dev == dev_ && st.st_ino == ino_ && mtime_ns(st) == mtime_ns_ && st.st_size == size_)
        return;
    load();
}

int RaveloIni::write_replacement(const std::string &text)
{
    std::string tmp = path_ + ".XXXXXX";
    int fd = mkstemp(&tmp[0]);
    if (fd < 0)
        return -1;
    bool ok = fchmod(fd, mode_) == 0;
    size_t done = 0;
    while (ok && done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(tmp.c_str(), path_.c_str()) == 0;
    if (!ok) {
        unlink(tmp.c_str());
        return -1;
    }
    return 0;
}

int RaveloIni::flush()
{
    if (changes_.empty())
        return 0;
    int fd;
    for (;;) {
        fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode_);
        if (fd < 0)
            return -1;
        int r;
        do {
            r = flock(fd, LOCK_EX);
        } while (r < 0 && errno == EINTR);
        struct stat locked, current;
        if (r < 0 || fstat(fd, &locked) < 0) {
            close(fd);
            return -1;
        }
        // Another writer may have renamed a new file over the one we locked.
        if (stat(path_.c_str(), &current) == 0 && current.st_dev == locked.st_dev &&
            current.st_ino == locked.st_ino)
            break;
        close(fd);
    }
    std::string text;
    if (!read_fd(fd, &text)) {
        close(fd);
        return -1;
    }
    Data fresh;
    fresh.parse(text);
    for (const Change &c : changes_) {
        const std::string *disk = fresh.find(c.section, c.key);
        long long now = 0, target = 0;
        switch (c.op) {
        case Op::Set:
            fresh.store(c.section, c.key, c.value);
            break;
        case Op::MaybeSet:
            if (!disk)
                fresh.store(c.section, c.key, c.value);
            break;
        case Op::SetInt:
            ravelo_parse_int(c.value.c_str(), &target);
            if (c.has_base && disk && ravelo_parse_int(disk->c_str(), &now))
                target = now + (target - c.base);
            fresh.store(c.section, c.key, std::to_string(target));
            break;
        }
    }
    int r = write_replacement(fresh.text());
    if (r == 0) {
        data_ = fresh;
        changes_.clear();
        struct stat st;
        if (stat(path_.c_str(), &st) == 0) {
            dev_ = st.st_dev;
            ino_ = st.st_ino;
            mtime_ns_ = mtime_ns(st);
            size_ = st.st_size;
        }
    }
    close(fd);   // releases the lock
    return r;
}
