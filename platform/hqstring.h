// HqFastString: a text that may be null, plus the small string helpers the
// programs share.
//
//   HqString name("report.txt");
//   HqString line = HqString::format("%s:%d", name.cstr(), 7);
//   if (!line) ...                       // null or empty
//   HqString path = trim_string("  /tmp/x \n");        // "/tmp/x"
//
// Values are plain copies; cstr() stays valid until the string is changed.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class HqFastString {
public:
    HqFastString() = default;                 // null
    HqFastString(const char *text);           // null when text is null
    HqFastString(const char *text, size_t length);
    HqFastString(const std::string &text);
    explicit HqFastString(long long value);   // decimal text

    static HqFastString format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

    bool isnull() const { return null_; }
    bool operator!() const { return null_ || text_.empty(); }
    const char *cstr() const { return null_ ? nullptr : text_.c_str(); }
    size_t length() const { return text_.size(); }

    // Writable buffer of length() bytes plus its NUL; makes a null string empty.
    char *edit();
    // Values are never shared, so every string is already unique.
    void unique() {}
    // Cuts or extends (with NULs) to `length` bytes; makes a null string empty.
    void setsize(size_t length);

    const std::string &str() const { return text_; }
    bool operator==(const HqFastString &other) const;
    bool operator!=(const HqFastString &other) const { return !(*this == other); }

private:
    bool null_ = true;
    std::string text_;
};

using HqString = HqFastString;

// Words of a text cut at any of the separator characters; empty words are dropped.
//
//   HqStringList words;
//   words.split("a, b,,c", ", ");        // "a" "b" "c"
class HqStringList {
public:
    int split(const char *text, const char *separators);
    int count() const { return static_cast<int>(items_.size()); }
    const HqString &operator[](int i) const { return items_.at(static_cast<size_t>(i)); }
    std::vector<HqString>::const_iterator begin() const { return items_.begin(); }
    std::vector<HqString>::const_iterator end() const { return items_.end(); }

private:
    std::vector<HqString> items_;
};

// The text without leading and trailing white space (null stays null).
HqString trim_string(const HqFastString &text);
// The text with its line ending ("\n", "\r\n" or "\r") removed and `c` appended
// unless `c` is 0.
HqString terminate_string(const HqFastString &text, char c);
// A backslash before each character that a shell or the scanner daemon would
// take specially: white space, quotes, backslash and shell metacharacters.
HqString backslash_escape(const HqFastString &text);
