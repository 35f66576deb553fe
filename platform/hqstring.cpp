#include "hqstring.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

HqFastString::HqFastString(const char *text)
{
    if (text) {
        null_ = false;
        text_ = text;
    }
}

HqFastString::HqFastString(const char *text, size_t length) : null_(false), text_(text, length) {}

HqFastString::HqFastString(const std::string &text) : null_(false), text_(text) {}

HqFastString::HqFastString(long long value) : null_(false), text_(std::to_string(value)) {}

HqFastString HqFastString::format(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    va_list again;
    va_copy(again, ap);
    int n = vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    HqFastString out;
    if (n >= 0) {
        std::string text(static_cast<size_t>(n) + 1, '\0');
        vsnprintf(&text[0], text.size(), fmt, again);
        text.resize(static_cast<size_t>(n));
        out = HqFastString(text);
    }
    va_end(again);
    return out;
}

char *HqFastString::edit()
{
    null_ = false;
    return &text_[0];
}

void HqFastString::setsize(size_t length)
{
    null_ = false;
    text_.resize(length, '\0');
}

bool HqFastString::operator==(const HqFastString &other) const
{
    return null_ == other.null_ && text_ == other.text_;
}

int HqStringList::split(const char *text, const char *separators)
{
    items_.clear();
    if (!text)
        return 0;
    const char *p = text;
    while (*p) {
        p += strspn(p, separators);
        size_t n = strcspn(p, separators);
        if (n)
            items_.emplace_back(p, n);
        p += n;
    }
    return count();
}

static bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

HqString trim_string(const HqFastString &text)
{
    if (text.isnull())
        return HqString();
    const std::string &s = text.str();
    size_t b = 0, e = s.size();
    while (b < e && is_space(s[b]))
        ++b;
    while (e > b && is_space(s[e - 1]))
        --e;
    return HqString(s.substr(b, e - b));
}

HqString terminate_string(const HqFastString &text, char c)
{
    std::string s = text.str();
    if (!s.empty() && s.back() == '\n')
        s.pop_back();
    if (!s.empty() && s.back() == '\r')
        s.pop_back();
    if (c)
        s.push_back(c);
    return HqString(s);
}

HqString backslash_escape(const HqFastString &text)
{
    static const char special[] = " \t\n\r\\'\"`$;&|<>()*?[]{}!#~";
    if (text.isnull())
        return HqString();
    std::string out;
    out.reserve(text.length() + 8);
    for (char c : text.str()) {
        if (c && strchr(special, c))
            out.push_back('\\');
        out.push_back(c);
    }
    return HqString(out);
}
