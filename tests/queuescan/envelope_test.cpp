#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hqenvelope.h"

namespace {

using namespace std::string_literals;

struct EnvelopeCase {
    const char *name;
    std::string bytes;
    bool complete;
    std::string sender;
};

const std::vector<EnvelopeCase> kCases = {
    {"sender and two recipients", "Falice@example.com\0Tbob@example.org\0Tcarol@example.net\0\0"s, true,
     "alice@example.com"},
    {"bounce: empty sender", "F\0Tbob@example.org\0\0"s, true, ""},
    {"no recipients", "Falice@example.com\0\0"s, true, "alice@example.com"},
    {"shortest", "F\0\0"s, true, ""},
    {"no closing empty field", "Falice@example.com\0Tbob@example.org\0"s, false, "alice@example.com"},
    {"recipient first", "Tbob@example.org\0Falice@example.com\0\0"s, false, ""},
    {"no leading F", "alice@example.com\0Tbob@example.org\0\0"s, false, ""},
    {"lower-case f", "falice@example.com\0\0"s, false, ""},
    {"sender never ended", "Falice@example.com"s, false, "alice@example.com"},
    {"F and one NUL", "F\0"s, false, ""},
    {"one NUL", "\0"s, false, ""},
    {"nothing", ""s, false, ""},
};

}  // namespace

TEST(Envelope, VerdictAndSenderWhateverTheReadBoundaries)
{
    for (const EnvelopeCase &c : kCases) {
        // Whole, byte by byte, and cut once at every place.
        std::vector<std::vector<std::string>> splits = {{c.bytes}};
        std::vector<std::string> bytes;
        for (char ch : c.bytes)
            bytes.emplace_back(1, ch);
        if (!bytes.empty())
            splits.push_back(bytes);
        for (size_t cut = 0; cut <= c.bytes.size(); ++cut)
            splits.push_back({c.bytes.substr(0, cut), c.bytes.substr(cut)});
        for (const auto &pieces : splits) {
            HqEnvelope envelope;
            for (const std::string &piece : pieces)
                envelope.take(piece.data(), piece.size());
            std::string how = std::string(c.name) + " in " + std::to_string(pieces.size()) + " pieces, first " +
                              std::to_string(pieces[0].size());
            EXPECT_EQ(envelope.complete(), c.complete) << how;
            if (c.bytes[0] == 'F') {
                EXPECT_EQ(envelope.sender(), c.sender) << how;
            }
            EXPECT_EQ(envelope.size(), static_cast<long>(c.bytes.size())) << how;
            if (c.complete) {
                EXPECT_EQ(envelope.fields_length(), static_cast<long>(c.bytes.size()) - 1) << how;
            }
        }
    }
}
