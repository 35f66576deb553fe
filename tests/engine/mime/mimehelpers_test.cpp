// The MIME layer's stream and text helpers: one table per helper, and the
// stream helpers' failures as thrown codes with the position kept.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/teststream.h"
#include "mime/mimehelpers.h"
#include "mimetestutil.h"

using namespace telsor;
using mime_test::Show;
using mime_test::Str;

namespace {

TEST(MimeHelpers, UnfoldLineTable) {
  struct {
    std::string in, out;
  } rows[] = {
      {"Hello\r\n World", "HelloWorld"},
      {"Hello\r\n\tWorld", "HelloWorld"},
      {"value\r\n", "value"},
      {"a\n\n\r b", "ab"},             // one run of breaks, then its blank
      {"a\r\nXb", "ab"},               // the byte after the break goes, whatever it is
      {"a\r\n\\b", "a\\b"},            // unless it is a backslash
      {"a\\\r\nb", "a\r\nb"},          // backslash before CR LF keeps the break
      {"a\\\nb", "ab"},                // backslash before a bare LF: both go
      {"a\\\rXb", "aXb"},              // backslash, lone CR and a byte: only the byte
      {"a\\\r\rb", "a\rb"},
      {"a\\\\b", "a\\\\b"},            // an escaped backslash stays
      {"a\\xb", "a\\xb"},
      {"end\\", "end"},                // trailing backslash disappears
      {"end\\\r", "end"},
      {std::string("a\0\r\n b", 6), std::string("a\0b", 3)},
      {"", ""},
      // Long plain stretches around the breaks and backslashes.
      {"from mail.example.org (mail [10.0.0.1])\r\n\tby mx.example.net with SMTP; Mon, 1 Jul 2002\r\n",
       "from mail.example.org (mail [10.0.0.1])by mx.example.net with SMTP; Mon, 1 Jul 2002"},
      {"0123456789abcdefghij\\\r\nklmnopqrstuvwxyz0123\\x0123456789abcdefghij",
       "0123456789abcdefghij\r\nklmnopqrstuvwxyz0123\\x0123456789abcdefghij"},
  };
  for (const auto& row : rows) {
    TSTRING s(row.in.data(), static_cast<int>(row.in.size()));
    UnfoldLine(s);
    EXPECT_EQ(Str(s), row.out) << Show(row.in);
  }
}

TEST(MimeHelpers, RemoveCommentsTable) {
  struct {
    std::string in;
    int quotedPairs;
    int result;
    std::string out;
  } rows[] = {
      {"a (b \\) c) d", 1, 1, "a  d"},
      {"a (b \\) c) d", 0, 1, "a  c) d"},
      {"no comment here", 1, 0, "no comment here"},
      {"escaped \\( only", 1, 1, "escaped ( only"},
      {"x \\(y) z (c)", 1, 1, "x (y) z "},  // escaped outside: kept as text
      {"a (b (c) d) e", 0, 1, "a  e"},
      {"a (never closed", 1, 1, "a "},
      {"\"q (not special)\"", 1, 1, "\"q \""},
      {"tail\\", 1, 0, "tail\\"},
      {"(x)tail\\", 1, 1, "tail"},
      {std::string("(\0)a", 4), 1, 1, "a"},
  };
  for (const auto& row : rows) {
    TSTRING s(row.in.data(), static_cast<int>(row.in.size()));
    EXPECT_EQ(RemoveComments(s, row.quotedPairs), row.result) << Show(row.in);
    EXPECT_EQ(Str(s), row.out) << Show(row.in);
  }
}

TEST(MimeHelpers, IsValidEOLTable) {
  EXPECT_TRUE(IsValidEOL(""));
  EXPECT_TRUE(IsValidEOL("\r\n"));
  EXPECT_TRUE(IsValidEOL("\r\n\r\n"));
  EXPECT_FALSE(IsValidEOL("\r\n\r"));
  EXPECT_FALSE(IsValidEOL("\n\r"));
  EXPECT_FALSE(IsValidEOL("\n\n"));
  EXPECT_FALSE(IsValidEOL(TSTRING("\r\n\0\0", 4)));
}

TEST(MimeHelpers, IsWordsCountLessTable) {
  struct {
    std::string text;
    ULONG limit;
    bool less;
  } rows[] = {
      {"one two three", 3, false},
      {"one two three", 4, true},
      {"a b", 2, true},  // the one-byte last word does not count
      {"a bc", 2, false},
      {"a", 1, true},
      {"ab", 1, false},
      {"", 1, true},
      {"", 0, false},
      {"anything", 0, false},
      {"x-y_z/w", 3, false},  // punctuation separates
      {"x-y_z/w", 4, true},
      {"caf\xE9 na\xEFve", 2, false},  // bytes from 0x80 are word bytes
      {std::string("ab\0cd", 5), 2, false},
      {"...!!!", 1, true},
      {"  lead", 1, false},
      {"w1 w2 w3 w4 w5 w6", 5, false},
  };
  for (const auto& row : rows) {
    TSTRING s(row.text.data(), static_cast<int>(row.text.size()));
    EXPECT_EQ(IsWordsCountLess(s, row.limit), row.less) << Show(row.text) << " limit " << row.limit;
  }
}

TEST(MimeHelpers, WriteString) {
  CTestStream out;
  WriteString(&out, "", 0);
  WriteString(&out, nullptr, 5);
  EXPECT_TRUE(out.bytes.empty());
  WriteString(&out, "abc", 0);
  WriteString(&out, "xyz", 2);
  EXPECT_EQ(out.str(), "abcxy");
  out.failWrite = static_cast<HRESULT>(0x80000009u);
  try {
    WriteString(&out, "q", 0);
    FAIL() << "no throw";
  } catch (DWORD code) {
    EXPECT_EQ(code, 0x80000009u);
  }
}

TEST(MimeHelpers, ReadStringKeepsThePosition) {
  std::string hundred;
  for (int i = 0; i < 100; ++i) hundred += static_cast<char>('0' + i % 10);
  CTestStream in(hundred);
  in.pos = 42;
  TSTRING text("old");
  ReadString(&in, 95, 10, text);
  EXPECT_EQ(Str(text), "56789");
  EXPECT_EQ(in.pos, 42u);
  ReadString(&in, 3, 4, text);
  EXPECT_EQ(Str(text), "3456");
  ReadString(&in, 200, 4, text);
  EXPECT_EQ(Str(text), "");
  // Count 0 touches nothing: a failing stream is not even asked.
  in.seeksUntilFailure = 0;
  text = "x";
  ReadString(&in, 0, 0, text);
  EXPECT_EQ(Str(text), "");
}

TEST(MimeHelpers, ReadStringOfHugeCountGrowsWithTheBytes) {
  CTestStream in(std::string(300000, 'q'));
  TSTRING text;
  ReadString(&in, 0, 0x7FFFFFF0u, text);  // no 2 GiB block for 300 kB
  EXPECT_EQ(text.GetLength(), 300000);
  in.maxChunk = 7;  // a short read ends the range
  ReadString(&in, 10, 100, text);
  EXPECT_EQ(text.GetLength(), 7);
  EXPECT_EQ(in.pos, 0u);
}

TEST(MimeHelpers, ReadStringFailuresAreThrown) {
  CTestStream in(std::string(50, 'a'));
  in.failReadAt = 20;
  TSTRING text;
  try {
    ReadString(&in, 0, 40, text);
    FAIL() << "no throw";
  } catch (DWORD code) {
    EXPECT_EQ(code, 0x80000008u);
  }
  CTestStream bad("abc");
  bad.seeksUntilFailure = 0;
  EXPECT_THROW(ReadString(&bad, 0, 2, text), DWORD);
}

TEST(MimeHelpers, StreamLengthWithoutEndDot) {
  struct {
    std::string bytes;
    ULONGLONG length;
  } rows[] = {
      {"", 0},
      {"ab", 2},
      {"\r\n.", 0},
      {"x\r\n.", 1},
      {"body\r\n.\r\n", 4},
      {"\r\n.\r\n", 0},
      {"body\r\n.", 4},
      {"body\r\n.\n", 8},
      {"body\r\n..\r\n", 10},
  };
  for (const auto& row : rows) {
    CTestStream s(row.bytes);
    s.pos = row.bytes.size() / 2;
    size_t before = s.pos;
    ULONGLONG length = 99;
    GetStreamLenghWithoutEndDot(&s, length);
    EXPECT_EQ(length, row.length) << Show(row.bytes);
    EXPECT_EQ(s.pos, before);
  }
  ULONGLONG length = 5;
  GetStreamLenghWithoutEndDot(nullptr, length);
  EXPECT_EQ(length, 0u);
  CTestStream bad("abcdef");
  bad.failReadAt = 3;
  EXPECT_THROW(GetStreamLenghWithoutEndDot(&bad, length), DWORD);
}

}  // namespace
