// The windowed reader against plain string operations on the same bytes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <random>
#include <string>

#include "hqfilereader.h"
#include "testutil.h"

using qstest::TempDir;

namespace {

std::string lower(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

// `lowered` is `text` in lower case, for the searches without regard to case.
long oracle_find(const std::string &text, const std::string &lowered, const std::string &pattern, long from,
                 long last_start, bool nocase)
{
    size_t pos = nocase ? lowered.find(lower(pattern), static_cast<size_t>(from))
                        : text.find(pattern, static_cast<size_t>(from));
    return pos == std::string::npos || static_cast<long>(pos) > last_start ? -1 : static_cast<long>(pos);
}

// Bytes over a small alphabet, so that patterns occur often and across
// every window seam; NUL bytes included.
std::string random_text(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    const char alphabet[] = {'a', 'B', '\n', '-', '\0', 'b'};
    std::string s(n, ' ');
    for (char &c : s)
        c = alphabet[rng() % sizeof alphabet];
    return s;
}

}  // namespace

TEST(FileReader, FindAgreesWithStringFindAcrossWindows)
{
    TempDir dir;
    const std::string text = random_text(3 * HqFileReader::kWindow + 777, 1);
    const std::string lowered = lower(text);
    qstest::write_file(dir.file("f"), text);
    int fd = open(dir.file("f").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    HqFileReader file(fd, true);
    EXPECT_EQ(file.size(), static_cast<long>(text.size()));
    std::mt19937 rng(7);
    const std::string patterns[] = {"a", "\n-", "-a\nb", "ab-", std::string("\0b", 2), "AbAb", "B\n\n-a"};
    const long n = static_cast<long>(text.size());
    const long w = static_cast<long>(HqFileReader::kWindow);
    for (int round = 0; round < 3000; ++round) {
        const std::string &p = patterns[rng() % (sizeof patterns / sizeof patterns[0])];
        long from = round % 4 == 0 ? w * static_cast<long>(rng() % 4) - static_cast<long>(rng() % 8)
                                   : static_cast<long>(rng() % static_cast<unsigned>(n + 10));
        if (from < 0)
            from = 0;
        long last = round % 3 == 0 ? n + 5 : from + static_cast<long>(rng() % 200000);
        bool nocase = round % 2 == 1;
        ASSERT_EQ(file.find(p.data(), p.size(), from, last, nocase), oracle_find(text, lowered, p, from, last, nocase))
            << "pattern " << qstest::hex(p) << " from " << from << " last " << last << " nocase " << nocase;
    }
}

TEST(FileReader, OccurrencesAtEveryWindowSeamAreFound)
{
    TempDir dir;
    const long w = static_cast<long>(HqFileReader::kWindow);
    const std::string pattern = "--boundary";
    for (long seam : {w, 2 * w, w + 4096}) {
        for (long back = 0; back <= static_cast<long>(pattern.size()); ++back) {
            std::string text(static_cast<size_t>(3 * w), 'x');
            long at = seam - back;
            text.replace(static_cast<size_t>(at), pattern.size(), pattern);
            qstest::write_file(dir.file("f"), text);
            HqFileReader file(open(dir.file("f").c_str(), O_RDONLY), true);
            for (long from : {0L, at - 1, at, seam - 4096, seam - 1})
                EXPECT_EQ(file.find(pattern.data(), pattern.size(), from, 3 * w, false), from <= at ? at : -1)
                    << "seam " << seam << " back " << back << " from " << from;
            EXPECT_EQ(file.find(pattern.data(), pattern.size(), at + 1, 3 * w, false), -1);
            EXPECT_EQ(file.find(pattern.data(), pattern.size(), 0, at - 1, false), -1);
        }
    }
}

TEST(FileReader, BytesPiecesAndCopiesMatchTheFile)
{
    TempDir dir;
    const std::string text = random_text(2 * HqFileReader::kWindow + 123, 2);
    qstest::write_file(dir.file("f"), text);
    FILE *f = fopen(dir.file("f").c_str(), "r");
    ASSERT_NE(f, nullptr);
    HqFileReader file(f);   // closes f
    const long n = static_cast<long>(text.size());
    std::mt19937 rng(3);
    for (int round = 0; round < 300; ++round) {
        long from = static_cast<long>(rng() % static_cast<unsigned>(n));
        long to = std::min(n, from + static_cast<long>(rng() % 150000));
        if (round % 5 == 0)
            from = n - static_cast<long>(rng() % 3);   // at and near the end
        ASSERT_EQ(file.byte_at(from), from < n ? static_cast<unsigned char>(text[static_cast<size_t>(from)]) : -1);
        std::string pieces;
        size_t largest = 0;
        bool whole = file.each(from, to, [&](const char *p, size_t len) {
            pieces.append(p, len);
            largest = std::max(largest, len);
            return true;
        });
        EXPECT_TRUE(whole);
        ASSERT_EQ(pieces, from < to ? text.substr(static_cast<size_t>(from), static_cast<size_t>(to - from)) : "");
        EXPECT_LE(largest, HqFileReader::kPiece);

        char *buf = nullptr;
        size_t size = 0;
        FILE *out = open_memstream(&buf, &size);
        EXPECT_TRUE(file.copy(from, to, out));
        fclose(out);
        EXPECT_EQ(std::string(buf, size), pieces);
        free(buf);
    }
    // Past the end: nothing, and a range that runs past it is short.
    EXPECT_EQ(file.byte_at(n), -1);
    EXPECT_EQ(file.byte_at(-1), -1);
    EXPECT_FALSE(file.each(n - 2, n + 2, [](const char *, size_t) { return true; }));
    char two[4];
    EXPECT_EQ(file.read(n - 2, two, sizeof two), 2u);
    EXPECT_TRUE(file.matches(n - 2, text.data() + n - 2, 2));
    EXPECT_FALSE(file.matches(n - 2, "abc", 3));
}
