// Helpers shared by the queue filter's tests: temporary folders, files, and
// parsing a message text into a part tree.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "hqmimepart.h"

namespace qstest {

// A folder removed with its files when the object goes.
class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/qstest-XXXXXX";
        path_ = mkdtemp(tmpl) ? tmpl : "";
    }
    ~TempDir()
    {
        DIR *d = opendir(path_.c_str());
        while (struct dirent *e = d ? readdir(d) : nullptr) {
            std::string name = e->d_name;
            if (name != "." && name != "..")
                unlink((path_ + "/" + name).c_str());
        }
        if (d)
            closedir(d);
        rmdir(path_.c_str());
    }
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    int count() const
    {
        int n = 0;
        DIR *d = opendir(path_.c_str());
        while (struct dirent *e = d ? readdir(d) : nullptr)
            n += e->d_name[0] != '.';
        if (d)
            closedir(d);
        return n;
    }

private:
    std::string path_;
};

inline void write_file(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The message written to a file of `dir` and parsed; decoded files go to `dir`.
inline std::unique_ptr<HqMimePart> parse(const TempDir &dir, const std::string &text,
                                         const std::string &name = "message")
{
    std::string path = dir.file(name);
    write_file(path, text);
    FILE *f = fopen(path.c_str(), "r");
    if (!f)
        return nullptr;
    auto part = std::make_unique<HqMimePart>(f, 0L, static_cast<long>(text.size()),
                                             dir.file("decoded-XXXXXX").c_str());
    part->process_part();
    return part;
}

// What dump_to_file writes.
inline std::string dump(HqMimePart &part, bool skip_flagged)
{
    char *buf = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&buf, &size);
    part.dump_to_file(out, skip_flagged);
    fclose(out);
    std::string text(buf, size);
    free(buf);
    return text;
}

inline std::string range(const std::string &text, const HqMimePart &part)
{
    return text.substr(static_cast<size_t>(part.start()), static_cast<size_t>(part.end() - part.start()));
}

}  // namespace qstest
