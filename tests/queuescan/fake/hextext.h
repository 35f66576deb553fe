// Bytes shown as lower-case hexadecimal text and back, for the fake
// kavdaemon's log and the tests that read it.
#pragma once

#include <string>

inline std::string to_hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

inline std::string from_hex(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}
