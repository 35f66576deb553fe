// The header value scanner: one table of inputs and the tokens they give
// (kind, text, extended text), run over an exact-size memory block and over
// a stream that hands out one byte per read; the character-class table
// against its definition.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/teststream.h"
#include "mime/rfc2045tokenizer.h"
#include "mimetestutil.h"

using namespace telsor;
using mime_test::ExactBytes;
using mime_test::Show;
using mime_test::Str;

namespace {

struct Tok {
  int kind;
  std::string text;
  std::string ext;  // extended text; "=" means the same as text
  bool operator==(const Tok& o) const { return kind == o.kind && text == o.text && ext == o.ext; }
};

std::ostream& operator<<(std::ostream& os, const Tok& t) {
  return os << "{" << t.kind << ", \"" << Show(t.text) << "\", \"" << Show(t.ext) << "\"}";
}

// Tokens up to and including the first end token; strip: StripDelimiters
// on every token before it is read.
std::vector<Tok> Scan(CRfc2045Tokenizer& t, bool strip) {
  std::vector<Tok> out;
  for (int guard = 0; guard < 100; ++guard) {
    int kind = t.NextToken();
    EXPECT_EQ(kind, t.Type());
    if (strip) t.StripDelimiters();
    std::string text = Str(t.Token()), ext = Str(t.ExtendToken());
    out.push_back({kind, text, ext == text ? "=" : ext});
    if (kind == 0) break;
  }
  return out;
}

struct Row {
  const char* what;
  std::string input;
  ULONG flags;
  bool strip;
  std::vector<Tok> tokens;
};

const int A = CRfc2045Tokenizer::TOKEN_ATOM, S = CRfc2045Tokenizer::TOKEN_SPECIAL,
          Q = CRfc2045Tokenizer::TOKEN_QUOTED, C = CRfc2045Tokenizer::TOKEN_COMMENT,
          L = CRfc2045Tokenizer::TOKEN_LITERAL, U = CRfc2045Tokenizer::TOKEN_UNTERMINATED;

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      {"content type", "text/plain; charset=us-ascii", 1, false,
       {{A, "text", "="}, {S, "/", "="}, {A, "plain", "="}, {S, ";", "="}, {A, "charset", " charset"},
        {S, "=", "="}, {A, "us-ascii", "="}, {0, "", "="}}},
      {"empty", "", 1, false, {{0, "", "="}}},
      {"white space only: the end token holds it", " \t\r\n", 1, false, {{0, " \t\r\n", ""}}},
      {"a dotted name is one atom, the at sign a special", "a.b.c@x", 1, false,
       {{A, "a.b.c", "="}, {S, "@", "="}, {A, "x", "="}, {0, "", "="}}},
      {"every tspecial that opens nothing is a special", ")<>,:;@]/=?", 1, false,
       {{S, ")", "="}, {S, "<", "="}, {S, ">", "="}, {S, ",", "="}, {S, ":", "="}, {S, ";", "="},
        {S, "@", "="}, {S, "]", "="}, {S, "/", "="}, {S, "=", "="}, {S, "?", "="}, {0, "", "="}}},
      {"escaped quote stays inside the quoted string", "\"a\\\"b\" c", 1, false,
       {{Q, "\"a\\\"b\"", "="}, {A, "c", " c"}, {0, "", "="}}},
      {"stripping keeps the escape", "\"a\\\"b\"", 1, true, {{Q, "a\\\"b", "\"a\\\"b\""}, {0, "", "="}}},
      {"two-level comment is one token", "(a (b) c) x", 1, false,
       {{C, "(a (b) c)", "="}, {A, "x", " x"}, {0, "", "="}}},
      {"escaped parenthesis in a comment, escapes on", "(a \\) b) c", 1, false,
       {{C, "(a \\) b)", "="}, {A, "c", " c"}, {0, "", "="}}},
      {"escaped parenthesis in a comment, escapes off", "(a \\) b) c", 0, false,
       {{C, "(a \\)", "="}, {A, "b", " b"}, {S, ")", "="}, {A, "c", " c"}, {0, "", "="}}},
      {"unterminated quoted string of two words", "\"two words", 1, false,
       {{U, "\"two", "="}, {A, "words", " words"}, {0, "", "="}}},
      {"unterminated quoted string cut at a dot", "\"a.b c", 1, false,
       {{U, "\"a", "="}, {A, ".b", "="}, {A, "c", " c"}, {0, "", "="}}},
      {"unterminated quoted string of one word runs to the end", " \"word", 1, false,
       {{U, "\"word", " \"word"}, {0, "", "="}}},
      {"unterminated quoted string ending in a backslash", "\"ab\\", 1, false,
       {{U, "\"ab", "="}, {A, "\\", "="}, {0, "", "="}}},
      {"unterminated comment runs to the end; stripping leaves it", "x (a (b) c", 1, true,
       {{A, "x", "="}, {U, "(a (b) c", " (a (b) c"}, {0, "", "="}}},
      {"tab and spaces before a token", "\t  x", 1, false, {{A, "x", "\t  x"}, {0, "", "="}}},
      {"controls are skipped like white space", "\x01" "a\x7f", 1, false,
       {{A, "a", "\x01" "a"}, {0, "\x7f", ""}}},
      {"bytes from 0x80 belong to atoms", "caf\xE9s au", 1, false,
       {{A, "caf\xE9s", "="}, {A, "au", " au"}, {0, "", "="}}},
      {"domain literal, escaped bracket, stripped", "[a\\]b] [1.2.3.4]", 1, true,
       {{L, "a\\]b", "[a\\]b]"}, {L, "1.2.3.4", " [1.2.3.4]"}, {0, "", "="}}},
      {"unterminated domain literal", "[open", 1, false, {{U, "[open", "="}, {0, "", "="}}},
      {"an atom may begin with an escape", "\\(x y", 1, false,
       {{A, "\\(x", "="}, {A, "y", " y"}, {0, "", "="}}},
      {"escape inside an atom takes a special", "a\\;b;c", 1, false,
       {{A, "a\\;b", "="}, {S, ";", "="}, {A, "c", "="}, {0, "", "="}}},
      {"backslash at the end of an atom", "ab\\", 1, false, {{A, "ab\\", "="}, {0, "", "="}}},
      {"empty quoted string strips to nothing", "\"\"", 1, true, {{Q, "", "\"\""}, {0, "", "="}}},
      {"NUL byte is a control", std::string("a\0b", 3), 1, false,
       {{A, "a", "="}, {A, "b", std::string("\0b", 2)}, {0, "", "="}}},
  };
  return rows;
}

TEST(Rfc2045Tokenizer, TableOverExactMemory) {
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.what);
    ExactBytes in(row.input);
    CRfc2045Tokenizer t(in.data(), in.size());
    EXPECT_EQ(t.Type(), -1);
    t.SetFlags(row.flags);
    EXPECT_EQ(Scan(t, row.strip), row.tokens);
    // After the end it stays there.
    EXPECT_EQ(t.NextToken(), 0);
    EXPECT_EQ(t.NextToken(), 0);
  }
}

TEST(Rfc2045Tokenizer, StreamFormGivesTheSameTokens) {
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.what);
    // Bytes before the value: the stream form starts at the current position.
    CTestStream stream("HEAD" + row.input + "TAIL");
    stream.pos = 4;
    stream.maxChunk = 1;
    CRfc2045Tokenizer t(&stream, static_cast<ULONG>(row.input.size()));
    t.SetFlags(row.flags);
    EXPECT_EQ(Scan(t, row.strip), row.tokens);
  }
}

TEST(Rfc2045Tokenizer, StreamFailureIsThrownAsItsCode) {
  CTestStream stream(std::string(10000, 'a'));
  stream.failReadAt = 5000;
  stream.readError = static_cast<HRESULT>(0x80000009u);
  CRfc2045Tokenizer t(&stream, CStreamReader::NO_LIMIT);
  try {
    t.NextToken();
    FAIL() << "no throw";
  } catch (DWORD code) {
    EXPECT_EQ(code, 0x80000009u);
  }
}

TEST(Rfc2045Tokenizer, FlagsAreReplacedAndReturned) {
  CRfc2045Tokenizer t(static_cast<const unsigned char*>(nullptr), 0);
  EXPECT_EQ(t.GetFlags(), 1u);
  EXPECT_EQ(t.SetFlags(0), 1u);
  EXPECT_EQ(t.GetFlags(), 0u);
  EXPECT_EQ(t.NextToken(), 0);
}

// The table against its definition: every byte value's class.
TEST(Rfc2045Tokenizer, CharacterClassTable) {
  const std::string both = "\"(),:;<>@[\\]";
  for (int c = 0; c < 256; ++c) {
    int expected = 0;
    if (c < 0x20 || c == 0x7F) expected |= CHAR_CONTROL;
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') expected |= CHAR_SPACE;
    if (c == '.' || both.find(static_cast<char>(c)) != std::string::npos) expected |= CHAR_SPECIAL;
    if (c == '/' || c == '=' || c == '?' || both.find(static_cast<char>(c)) != std::string::npos) {
      expected |= CHAR_TSPECIAL;
    }
    EXPECT_EQ(g_aCharMap[c], expected) << "byte " << c;
  }
}

// Hostile input costs linear time: many unterminated quotes and comments.
TEST(Rfc2045Tokenizer, UnterminatedRunsStayLinear) {
  std::string s = "\"a";
  for (int i = 0; i < 200000; ++i) s += " \\\"b (c";
  ExactBytes in(s);
  CRfc2045Tokenizer t(in.data(), in.size());
  int tokens = 0;
  while (t.NextToken() != 0) ++tokens;
  // The quoted string stops at its first blank; the escaped quotes are
  // atoms; the first "(" opens a comment that takes the rest.
  EXPECT_EQ(tokens, 3);
}

}  // namespace
