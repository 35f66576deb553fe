#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hqcodec.h"

namespace {

std::string sample(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 7 + n * 13) % 256);
    return s;
}

const std::vector<size_t> kSizes = {0, 1, 2, 3, 4, 5, 56, 57, 58, 113, 114, 115, 256, 1000, 4099};

// Python's base64.encodebytes for each sample, line ends shown as '|' and
// the final line end left out.
std::vector<std::string> python_base64()
{
    std::string script = "import base64,sys\nfor n in [";
    for (size_t n : kSizes)
        script += std::to_string(n) + ",";
    script += "]:\n d=bytes((i*7+n*13)%256 for i in range(n))\n"
              " sys.stdout.write(base64.encodebytes(d).decode().rstrip('\\n').replace('\\n','|')+'\\n')\n";
    std::string cmd = "python3 -c \"" + script + "\"";
    FILE *p = popen(cmd.c_str(), "r");
    std::vector<std::string> lines;
    if (!p)
        return lines;
    std::string cur;
    int c;
    while ((c = fgetc(p)) != EOF) {
        if (c == '\n') {
            lines.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(static_cast<char>(c));
        }
    }
    pclose(p);
    return lines;
}

std::string bars(std::string s)
{
    for (char &c : s)
        if (c == '\n')
            c = '|';
    return s;
}

}  // namespace

TEST(Base64Encoder, MatchesPythonInOneCallAndInPieces)
{
    std::vector<std::string> expected = python_base64();
    ASSERT_EQ(expected.size(), kSizes.size());
    for (size_t k = 0; k < kSizes.size(); ++k) {
        std::string data = sample(kSizes[k]);
        HqDynBuf in(16, 1 << 20), out(16, 1 << 20);
        in.putstr(data.data(), data.size());
        ASSERT_TRUE(HqBase64Encoder().encode(in, out, true, true));
        EXPECT_EQ(in.used(), 0u);
        EXPECT_EQ(bars(out.getstr().str()), expected[k]) << "size " << kSizes[k];

        // Fed in uneven pieces, holding back everything but whole lines.
        HqBase64Encoder enc;
        for (size_t pos = 0; pos < data.size(); pos += 31) {
            in.putstr(data.data() + pos, std::min<size_t>(31, data.size() - pos));
            ASSERT_TRUE(enc.encode(in, out, false, false));
            EXPECT_EQ(out.used() % 77 == 0 || out.used() % 77 == 76, true) << out.used();
        }
        ASSERT_TRUE(enc.encode(in, out, false, true));
        EXPECT_EQ(bars(out.getstr().str()), expected[k]) << "pieces, size " << kSizes[k];
    }
}

TEST(Base64Encoder, FlushWritesWholeGroupsAndKeepsTheRest)
{
    HqDynBuf in(16, 1024), out(16, 1024);
    in.putstr("hello");
    HqBase64Encoder enc(0);
    ASSERT_TRUE(enc.encode(in, out, true, false));
    EXPECT_EQ(out.getstr().str(), "aGVs");
    EXPECT_EQ(in.getstr().str(), "lo");
}

TEST(Base64Encoder, RefusesAFullOutputAndKeepsItsInput)
{
    HqDynBuf in(16, 1024);
    HqInPlaceBuf out(3);
    in.putstr("abc");
    EXPECT_FALSE(HqBase64Encoder().encode(in, out, true, true));
    EXPECT_EQ(in.used(), 3u);
    EXPECT_EQ(out.used(), 0u);
}

TEST(HexDecoder, EveryByteInBothCases)
{
    for (const char *fmt : {"%02x", "%02X"}) {
        std::string text, expected;
        for (int b = 0; b < 256; ++b) {
            char hex[4];
            snprintf(hex, sizeof hex, fmt, b);
            text += hex;
            expected.push_back(static_cast<char>(b));
        }
        HqDynBuf in(16, 4096), out(16, 4096);
        in.putstr(text.c_str());
        ASSERT_TRUE(HqHexDecoder().flush(in, out, true));
        EXPECT_EQ(out.getstr().str(), expected) << fmt;
    }
}

TEST(HexDecoder, Table)
{
    struct Case {
        const char *in;
        bool finish;
        const char *out;
        const char *left;
    } cases[] = {
        {"48656c6c6f", false, "Hello", ""},
        {"4 8\n6\t9", false, "Hi", ""},
        {"zz41-42", false, "AB", ""},
        {"414", false, "A", "4"},
        {"41 4", false, "A", " 4"},
        {"414", true, "A", ""},
        {"", true, "", ""},
        {"q", false, "", ""},
    };
    for (const Case &c : cases) {
        HqDynBuf in(16, 64), out(16, 64);
        in.putstr(c.in);
        ASSERT_TRUE(HqHexDecoder().flush(in, out, c.finish));
        EXPECT_EQ(out.getstr().str(), c.out) << c.in;
        EXPECT_EQ(in.getstr().str(), c.left) << c.in;
    }
}

TEST(HexDecoder, DigitSplitAcrossCallsIsJoined)
{
    HqDynBuf in(16, 64), out(16, 64);
    HqHexDecoder hex;
    in.putstr("4");
    ASSERT_TRUE(hex.flush(in, out, false));
    in.putstr("1");
    ASSERT_TRUE(hex.flush(in, out, false));
    EXPECT_EQ(out.getstr().str(), "A");
}
