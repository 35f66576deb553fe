// Log sources and receivers.
//
// A source (HqLog) names a part of the program and has a default level; a
// receiver (HqSyslog, HqLogConsole) takes every message whose level it admits.
// Lower levels are more severe: 0 and 1 are failures, 9 is progress chatter.
//
//   HqSyslog sys("MailQueue", false, 5, 10);   // registered while it lives
//   HqLog log("Virus Scanner", 9);
//   log(1, "Tried to scan a non-file: '%s'\n", path);
//   log("Got content length = %s.\n", 42);      // default level
//
// Formats know only "%s" (with printf's flags, width and precision) and "%%";
// each argument (text or integer) is turned into text first. Receivers must
// outlive no source in particular; they register on construction and
// unregister on destruction. Single-threaded use.
#pragma once

#include <initializer_list>
#include <string>
#include <type_traits>

#include "hqstring.h"

// One formatted argument: a text, or an integer turned into decimal text.
class HqLogArg {
public:
    HqLogArg(const char *text) : text_(text ? text : "(null)") {}
    HqLogArg(const HqFastString &text) : text_(text.isnull() ? "(null)" : text.str()) {}
    HqLogArg(const std::string &text) : text_(text) {}
    template <class T, class = std::enable_if_t<std::is_integral<T>::value>>
    HqLogArg(T value) : text_(std::to_string(value)) {}
    const std::string &text() const { return text_; }

private:
    std::string text_;
};

// "%s" formatting over ready-made texts, as the log calls use it.
std::string hqlog_format(const char *fmt, std::initializer_list<HqLogArg> args);

class HqLogReceiver {
public:
    HqLogReceiver();
    virtual ~HqLogReceiver();
    HqLogReceiver(const HqLogReceiver &) = delete;
    HqLogReceiver &operator=(const HqLogReceiver &) = delete;
    // One message of `source` at `level`; the receiver decides whether to keep it.
    virtual void receive(const char *source, int level, const std::string &text) = 0;
};

// Messages up to `notice_level` go to the system log as notices (levels 0 and
// 1 as errors), those up to `debug_level` as debug messages, the rest nowhere.
// With `also_stderr` every message sent is copied to standard error.
class HqSyslog : public HqLogReceiver {
public:
    HqSyslog(const char *prefix, bool also_stderr, int notice_level, int debug_level);
    ~HqSyslog() override;
    void receive(const char *source, int level, const std::string &text) override;

private:
    std::string prefix_;
    int notice_level_;
    int debug_level_;
};

// Messages up to `level` written to descriptor `fd` as "source: text".
class HqLogConsole : public HqLogReceiver {
public:
    HqLogConsole(int fd, int level);
    void receive(const char *source, int level, const std::string &text) override;

private:
    int fd_;
    int level_;
};

class HqLog {
public:
    HqLog(const char *name, int default_level);

    template <class... A>
    void operator()(int level, const char *fmt, const A &...args) const
    {
        static_assert(sizeof...(A) <= 20, "at most 20 arguments");
        emit(level, hqlog_format(fmt, {HqLogArg(args)...}));
    }
    template <class... A>
    void operator()(const char *fmt, const A &...args) const
    {
        static_assert(sizeof...(A) <= 20, "at most 20 arguments");
        emit(default_level_, hqlog_format(fmt, {HqLogArg(args)...}));
    }

    const char *name() const { return name_.c_str(); }
    int default_level() const { return default_level_; }

private:
    void emit(int level, const std::string &text) const;
    std::string name_;
    int default_level_;
};
