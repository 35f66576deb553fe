// Helpers shared by the queue filter's tests: temporary folders, files, and
// parsing a message text into a part tree.
#pragma once

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "hqmimepart.h"
#include "hqunix.h"

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

// Whether `text` has the form of `shape`, character by character: 'A' an
// upper-case letter, 'a' a lower-case one, '9' a digit, 'x' a lower-case
// hexadecimal digit, '~' a sign (+ or -); anything else stands for itself.
inline bool has_shape(const std::string &text, const std::string &shape)
{
    if (text.size() != shape.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        bool ok;
        switch (shape[i]) {
        case 'A': ok = c >= 'A' && c <= 'Z'; break;
        case 'a': ok = c >= 'a' && c <= 'z'; break;
        case '9': ok = c >= '0' && c <= '9'; break;
        case 'x': ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); break;
        case '~': ok = c == '+' || c == '-'; break;
        default: ok = c == shape[i];
        }
        if (!ok)
            return false;
    }
    return true;
}

// A cookie line: 6 to 48 lower-case hexadecimal digits and a line feed.
inline bool is_cookie_line(const std::string &text)
{
    return text.size() >= 7 && text.size() <= 49 && has_shape(text, std::string(text.size() - 1, 'x') + "\n");
}

// The date of a virus log record or a mail header, "Www, dd Mmm yyyy hh:mm:ss +hhmm".
const char kDateShape[] = "Aaa, 99 Aaa 9999 99:99:99 ~9999";

// A program built beside the running test program.
inline std::string program_beside(const std::string &name)
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, n > 0 ? static_cast<size_t>(n) : 0);
    return path.substr(0, path.rfind('/') + 1) + name;
}

// The fake kavdaemon serving a socket while the object lives.
class FakeDaemon {
public:
    FakeDaemon() = default;
    FakeDaemon(const FakeDaemon &) = delete;
    FakeDaemon &operator=(const FakeDaemon &) = delete;
    ~FakeDaemon() { stop(); }

    // Starts it with MATCH REPLY rule pairs; false when it did not come up.
    bool start(const std::string &socket, const std::string &log, const std::vector<std::string> &rules)
    {
        std::string program = program_beside("fake_kavdaemon");
        std::vector<std::string> args = {program, socket, log};
        args.insert(args.end(), rules.begin(), rules.end());
        pid_ = fork();
        if (pid_ < 0)
            return false;
        if (pid_ == 0) {
            std::vector<char *> argv;
            for (std::string &a : args)
                argv.push_back(&a[0]);
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        for (int i = 0; i < 400; ++i) {
            if (HqUnixConn(HqUnixAddr(socket.c_str())).isok())
                return true;
            usleep(5000);
        }
        return false;
    }
    void stop()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// The lines of `text` without their LFs.
inline std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    for (size_t pos = 0; pos < text.size();) {
        size_t nl = text.find('\n', pos);
        out.push_back(text.substr(pos, nl - pos));
        pos = nl == std::string::npos ? text.size() : nl + 1;
    }
    return out;
}

// Request lines of the fake daemon's log, each cut into its tab-separated fields.
inline std::vector<std::vector<std::string>> daemon_requests(const std::string &log)
{
    std::vector<std::vector<std::string>> out;
    for (const std::string &line : lines(read_file(log))) {
        std::vector<std::string> fields;
        size_t f = 0;
        for (;;) {
            size_t tab = line.find('\t', f);
            fields.push_back(line.substr(f, tab - f));
            if (tab == std::string::npos)
                break;
            f = tab + 1;
        }
        out.push_back(fields);
    }
    return out;
}

// The lowercase hexadecimal form of `bytes`, as the Python oracles print it.
inline std::string hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

// The MIME trees of the messages in `paths` as Python's email package sees
// them (email_tree.py, one run for all): one line per part, "DEPTH TYPE PAYLOAD".
inline std::vector<std::vector<std::string>> python_trees(const std::vector<std::string> &paths, bool text_lf = false)
{
    std::string cmd = "python3 " QS_TEST_SOURCE_DIR "/email_tree.py";
    if (text_lf)
        cmd += " --text-lf";
    for (const std::string &p : paths)
        cmd += " '" + p + "'";
    FILE *pipe = popen(cmd.c_str(), "r");
    if (!pipe)
        return {};
    std::string text;
    for (int c; (c = fgetc(pipe)) != EOF;)
        text.push_back(static_cast<char>(c));
    pclose(pipe);
    std::vector<std::vector<std::string>> trees(1);
    for (const std::string &line : lines(text)) {
        if (line == "==")
            trees.emplace_back();
        else
            trees.back().push_back(line);
    }
    return trees;
}

// A file of the committed fixtures.
inline std::string fixture(const std::string &name) { return read_file(QS_TEST_SOURCE_DIR "/fixtures/" + name); }

// `text` with every LF made CR LF.
inline std::string crlf(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

}  // namespace qstest
