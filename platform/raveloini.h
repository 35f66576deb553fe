// The INI back end of Ravelo: sections are the first level of keys, their
// entries the second.
//
//   RaveloIni ini("/tmp/hqmail/hqmail.ini", 0660);
//   ini.setint(RaveloKey("Main", "Number Virus Found"), 4);
//   ini.flush();
//
// The file holds "[Section]" lines and "Key=Value" lines; other lines
// (comments, blank lines) are kept as they are. Names match without regard to
// case. flush() is safe against other processes flushing the same file: it
// takes an exclusive lock on the file, reads it again, applies only this
// object's changes, writes a temporary file in the same folder with the
// object's file mode and renames it over the original, so readers see either
// the old or the new file. An integer stored with setint() is merged as a
// difference against the value it was read as, so counters raised by several
// processes at once add up.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "ravelo.h"

class RaveloIni : public RaveloGen {
public:
    RaveloIni(const char *path, mode_t mode);

    bool get(const RaveloKey &key, HqString *value) override;
    bool set(const RaveloKey &key, const HqFastString &value) override;
    bool setint(const RaveloKey &key, long long value) override;
    bool maybeset(const RaveloKey &key, const HqFastString &value) override;
    int flush() override;

    const std::string &path() const { return path_; }

    // The parsed form of one file.
    struct Line {
        std::string raw;     // the line as read without its LF, for lines that are not entries
        std::string key;
        std::string value;
        bool entry = false;
    };
    struct Section {
        std::string name;    // empty for lines before the first heading
        bool heading = false;
        std::vector<Line> lines;
    };
    struct Data {
        std::vector<Section> sections;
        void parse(const std::string &text);
        std::string text() const;
        const std::string *find(const std::string &section, const std::string &key) const;
        void store(const std::string &section, const std::string &key, const std::string &value);
    };

private:
    enum class Op { Set, SetInt, MaybeSet };
    struct Change {
        std::string section;
        std::string key;
        Op op;
        std::string value;
        long long base = 0;      // SetInt: the value the change was made against
        bool has_base = false;
    };

    bool split(const RaveloKey &key, std::string *section, std::string *name) const;
    Change *find_change(const std::string &section, const std::string &name);
    const std::string *visible(const std::string &section, const std::string &name);
    void load();
    void reload_if_changed();
    bool read_fd(int fd, std::string *text) const;
    int write_replacement(const std::string &text);

    std::string path_;
    mode_t mode_;
    Data data_;
    std::vector<Change> changes_;
    // Values last returned by get(), by lower-case "section\nkey".
    std::map<std::string, std::string> seen_;
    // Identity of the file last read, to notice replacements by others.
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    long long mtime_ns_ = -1;
    off_t size_ = -1;
};
