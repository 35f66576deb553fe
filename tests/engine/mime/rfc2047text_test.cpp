// RFC 2047 codecs, encoded words and header texts: tables of inputs and
// results, codec round trips against an independent Base64, and the bound on
// nested re-decoding.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "common/cputime.h"
#include "mime/rfc2047text.h"
#include "mimetestutil.h"

using namespace telsor;
using mime_test::ExactBytes;
using mime_test::Show;
using mime_test::Str;
using mime_test::T;

namespace {

TEST(Rfc2047Codecs, QDecodeTable) {
  struct {
    std::string in;
    HRESULT hr;
    std::string out;
  } rows[] = {
      {"Caf=E9_au_lait", S_OK, "Caf\xE9 au lait"},
      {"=4a", S_OK, "J"},
      {"=4", ERROR_INVALID_DATA, ""},
      {"a=3G", ERROR_INVALID_DATA, "a"},
      {"ab=G3", ERROR_INVALID_DATA, "ab"},
      {"x?y", ERROR_INVALID_DATA, "x"},
      {"tab\there", S_OK, "tab\there"},
      {"bad\xE9", ERROR_INVALID_DATA, "bad"},
      {"cr\r", ERROR_INVALID_DATA, "cr"},
      {"del\x7f", ERROR_INVALID_DATA, "del"},
      {"=00=FF", S_OK, std::string("\0\xFF", 2)},
      {"", S_OK, ""},
  };
  for (const auto& row : rows) {
    TSTRING out("old");
    EXPECT_EQ(QWordDecode(out, T(row.in)), row.hr) << Show(row.in);
    EXPECT_EQ(Str(out), row.out) << Show(row.in);
  }
}

TEST(Rfc2047Codecs, QEncodeTable) {
  struct {
    std::string in, out;
  } rows[] = {
      {"a b.c", "a_b=2Ec"},
      {"x=y", "x=3Dy"},
      {"\t", "\t"},
      {"\xE9", "=E9"},
      {"_?\\", "=5F=3F=5C"},
      {std::string("\0\x7f", 2), "=00=7F"},
      {"", ""},
  };
  for (const auto& row : rows) {
    TSTRING out;
    EXPECT_EQ(QWordEncode(out, T(row.in)), S_OK);
    EXPECT_EQ(Str(out), row.out) << Show(row.in);
    // And back.
    TSTRING back;
    EXPECT_EQ(QWordDecode(back, out), S_OK);
    EXPECT_EQ(Str(back), row.in);
  }
}

TEST(Rfc2047Codecs, QEncodeBufferForm) {
  ULONG size = 0;
  EXPECT_EQ(QWordEncode(nullptr, &size, T("")), S_OK);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(QWordEncode(nullptr, &size, T("a\xE9")), ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u);
  // A three-character group is written only when all of it fits.
  char buf[8] = {'-', '-', '-', '-', '-', '-', '-', '-'};
  size = 3;
  EXPECT_EQ(QWordEncode(buf, &size, T("a\xE9")), ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::string(buf, 4), "a---");
  size = 4;
  EXPECT_EQ(QWordEncode(buf, &size, T("a\xE9")), S_OK);
  EXPECT_EQ(std::string(buf, 5), "a=E9-");  // no NUL written
  EXPECT_EQ(QWordEncode(buf, nullptr, T("a")), E_POINTER);
}

TEST(Rfc2047Codecs, BDecodeTable) {
  struct {
    std::string in, out;
  } rows[] = {
      {"QUJD", "ABC"},
      {"QUJ", "AB"},
      {"QQ", "A"},
      {"Q", "\x40"},
      {"QUJD=RUY=", "ABC"},
      {"QU JD", "ABC"},
      {"QU*JD", "ABC"},
      {"Q\r\nU\tJ\fD", "ABC"},
      {"QUJDREVG", "ABCDEF"},
      {"QUI=", "AB"},
      {"=QUJD", ""},
      {"", ""},
      {"////", "\xFF\xFF\xFF"},
  };
  for (const auto& row : rows) {
    TSTRING out("old");
    ExactBytes in(row.in);
    EXPECT_EQ(BWordDecode(out, in.chars(), in.size()), S_OK);
    EXPECT_EQ(Str(out), row.out) << Show(row.in);
    TSTRING same(T(row.in));
    EXPECT_EQ(BWordDecode(same, same), S_OK);  // in and out the same string
    EXPECT_EQ(Str(same), row.out);
  }
}

TEST(Rfc2047Codecs, BEncodeTable) {
  struct {
    std::string in, out;
  } rows[] = {{"A", "QQ=="}, {"AB", "QUI="}, {"ABC", "QUJD"}, {"", ""}, {"\xFF\xFE", "//4="}};
  for (const auto& row : rows) {
    TSTRING out;
    EXPECT_EQ(BWordEncode(out, T(row.in)), S_OK);
    EXPECT_EQ(Str(out), row.out);
  }
  TSTRING hundred(T(std::string(100, 'x'))), out;
  EXPECT_EQ(BWordEncode(out, hundred), S_OK);
  EXPECT_EQ(out.GetLength(), 136);
  EXPECT_EQ(Str(out).find_first_of("\r\n"), std::string::npos);
}

TEST(Rfc2047Codecs, BEncodeBufferForm) {
  ULONG size = 77;
  EXPECT_EQ(BWordEncode(nullptr, &size, T("")), ERROR_MORE_DATA);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(BWordEncode(nullptr, nullptr, T("a")), E_POINTER);
  char buf[8];
  size = 3;
  EXPECT_EQ(BWordEncode(buf, &size, T("AB")), ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u);
  size = 8;
  EXPECT_EQ(BWordEncode(buf, &size, T("AB")), S_OK);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::string(buf, 4), "QUI=");
}

// An independent Base64 decoder for the round trip.
std::string ReferenceBase64Decode(const std::string& s) {
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned bits = 0, n = 0;
  for (char c : s) {
    size_t v = alphabet.find(c);
    if (v == std::string::npos) break;
    bits = bits << 6 | static_cast<unsigned>(v);
    n += 6;
    if (n >= 8) {
      n -= 8;
      out += static_cast<char>((bits >> n) & 0xFF);
    }
  }
  return out;
}

TEST(Rfc2047Codecs, RandomRoundTrips) {
  std::mt19937 rng(2047);
  for (int i = 0; i < 500; ++i) {
    std::string bytes(rng() % 64, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    TSTRING b, q, back;
    ASSERT_EQ(BWordEncode(b, T(bytes)), S_OK);
    ASSERT_EQ(ReferenceBase64Decode(Str(b)), bytes);
    ASSERT_EQ(BWordDecode(back, b), S_OK);
    ASSERT_EQ(Str(back), bytes);
    ASSERT_EQ(QWordEncode(q, T(bytes)), S_OK);
    ASSERT_EQ(QWordDecode(back, q), S_OK) << Show(Str(q));
    ASSERT_EQ(Str(back), bytes);
  }
}

struct WordRow {
  std::string word;
  std::string charset;
  char letter;
  std::string decoded;
};

TEST(Rfc2047EncodedWord, ParseTable) {
  const WordRow rows[] = {
      {"=?ISO-8859-1?Q?Caf=E9_au_lait?=", "ISO-8859-1", 'Q', "Caf\xE9 au lait"},
      {"=?utf-8?q?a=3G?=", "US-ASCII", 0, "a=3G"},
      {"=?utf-8?q?a=3?=", "US-ASCII", 0, "a=3"},
      {"=?x?B?QUJD?=", "x", 'B', "ABC"},
      {"=?x?b?QUJD?=", "x", 'b', "ABC"},
      {"=?cs??abc?=", "cs", 0, "abc"},
      {"=?cs?X?abc?=", "cs", 'X', "abc"},
      {"=?cs?Qxyz?abc?=", "cs", 'Q', "abc"},
      {"=?cs?Q?a b?=", "cs", 'Q', "a b"},
      {"=??Q?x?=", "", 'Q', "x"},
      {"=?cs?Q?\?=", "cs", 'Q', ""},
      {"=?cs?Q?a?=trailing", "cs", 'Q', "a"},       // after the closing "=" nothing is read
      {"=x?cs?Q?a?=", "cs", 'Q', "a"},              // bytes between "=" and "?" are skipped
      {"plain text", "US-ASCII", 0, "plain text"},
      {"=?cs?Q?a\r\n?=", "US-ASCII", 'Q', "=?cs?Q?a\r\n?="},  // fails after its letter
      {"=?c s?Q?a?=", "US-ASCII", 0, "=?c s?Q?a?="},
      {"=?cs?Q x?a?=", "US-ASCII", 'Q', "=?cs?Q x?a?="},
      {"=?cs?Q?a?b?=", "US-ASCII", 'Q', "=?cs?Q?a?b?="},
      {"=?cs?Q?a?", "US-ASCII", 'Q', "=?cs?Q?a?"},
      {"", "US-ASCII", 0, ""},
  };
  for (const WordRow& row : rows) {
    CRfc2047EncodedWord w(T(row.word));
    w.Parse();
    EXPECT_EQ(Str(w.GetCharset()), row.charset) << Show(row.word);
    EXPECT_EQ(w.GetEncodingType(), row.letter) << Show(row.word);
    EXPECT_EQ(Str(w.GetDecodedText()), row.decoded) << Show(row.word);
    EXPECT_EQ(Str(w.GetEncodedText()), row.word);
  }
}

TEST(Rfc2047EncodedWord, ComposeAndLetters) {
  CRfc2047EncodedWord w;
  EXPECT_EQ(Str(w.GetCharset()), "US-ASCII");
  w.PutEncodingType('x');
  EXPECT_EQ(w.GetEncodingType(), 0);
  w.PutEncodingType('q');
  w.PutCharset("utf-8");
  w.PutDecodedText("a b\xE9");
  w.Compose();
  EXPECT_EQ(Str(w.GetEncodedText()), "=?utf-8?q?a_b=E9?=");
  w.PutDecodedText("other");
  w.Compose();  // an encoded text stays
  EXPECT_EQ(Str(w.GetEncodedText()), "=?utf-8?q?a_b=E9?=");

  CRfc2047EncodedWord b;
  b.PutEncodingType('B');
  b.PutCharset("x");
  b.PutDecodedText(T(std::string(3000, 'z')));
  b.Compose();  // never split, whatever its length
  EXPECT_EQ(b.GetEncodedText().GetLength(), 6 + 4000 + 2);
  CRfc2047EncodedWord copy(b), parsed(b.GetEncodedText());
  parsed.Parse();
  EXPECT_EQ(Str(parsed.GetDecodedText()), std::string(3000, 'z'));
  EXPECT_EQ(Str(copy.GetEncodedText()), Str(b.GetEncodedText()));

  CRfc2047EncodedWord none;
  none.PutDecodedText("text");
  none.Compose();
  EXPECT_EQ(Str(none.GetEncodedText()), "text");
  CRfc2047EncodedWord empty;
  empty.PutEncodingType('Q');
  empty.Compose();
  EXPECT_EQ(Str(empty.GetEncodedText()), "");
}

struct TextRow {
  std::string text;
  std::vector<std::string> words;  // encoded texts of the words, in order
  std::string decoded;
  std::string composed;
};

TEST(Rfc2047Text, ParseDecodeComposeTable) {
  const TextRow rows[] = {
      {"Hello =?a?Q?x?= World", {"Hello ", "=?a?Q?x?=", " World"}, "Hello  x  World",
       " Hello =?a?Q?x?= World"},
      {"=?a?Q?x?= =?a?Q?y?=", {"=?a?Q?x?=", "=?a?Q?y?="}, "xy", " =?a?Q?x?==?a?Q?y?="},
      {"abc=?a?Q?x?=def", {"abc", "=?a?Q?x?=", "def"}, "abc x def", " abc=?a?Q?x?=def"},
      {"  =?a?Q?x?=\t ", {"=?a?Q?x?="}, "x", " =?a?Q?x?="},
      {"  plain  text  ", {"  plain  text  "}, "  plain  text  ", "   plain  text  "},
      {"", {}, "", ""},
      {"=?a?B?PT9hP1E/eT89?=", {"=?a?B?PT9hP1E/eT89?="}, "y", " =?a?B?PT9hP1E/eT89?="},
      // A malformed word stays text; white space inside it ends the token.
      {"=?a?Q?x y?= z", {"=?a?Q?x y?=", " z"}, "x y  z", " =?a?Q?x y?= z"},
      {"=?a b?Q?x?=", {"=?a b?Q?x?="}, "=?a b?Q?x?=", " =?a b?Q?x?="},
      {"x=?a?Q?y", {"x=?a?Q?y"}, "x=?a?Q?y", " x=?a?Q?y"},
      // A plain run that itself satisfies the word grammar is decoded.
      {"==?a?Q?x?=", {"==?a?Q?x?="}, "x", " ==?a?Q?x?="},
      {"Re: =?utf-8?B?w6k=?= =?utf-8?Q?=C3=A9?= end",
       {"Re: ", "=?utf-8?B?w6k=?=", "=?utf-8?Q?=C3=A9?=", " end"}, "Re:  \xC3\xA9\xC3\xA9  end",
       " Re: =?utf-8?B?w6k=?==?utf-8?Q?=C3=A9?= end"},
  };
  for (const TextRow& row : rows) {
    SCOPED_TRACE(Show(row.text));
    CRfc2047Text t(T(row.text));
    t.Parse();
    std::vector<std::string> words;
    for (void* p = t.m_Words.GetHeadPosition(); p != nullptr;) words.push_back(Str(t.m_Words.GetNext(p).GetEncodedText()));
    EXPECT_EQ(words, row.words);
    EXPECT_EQ(Str(t.GetDecodedText()), row.decoded);
    EXPECT_EQ(Str(t.GetText()), row.text);  // Parse leaves the text
    CRfc2047Text copy(t);
    copy.Compose();
    EXPECT_EQ(Str(copy.GetText()), row.composed);
    CRfc2047Text assigned;
    assigned = t;
    EXPECT_EQ(Str(assigned.GetDecodedText()), row.decoded);
    assigned = T("fresh");
    EXPECT_EQ(assigned.m_Words.GetCount(), 0);
  }
}

TEST(Rfc2047Text, PlainWordsAreUsAscii) {
  CRfc2047Text t(T("a =?ISO-8859-2?Q?x?= b"));
  t.Parse();
  std::vector<std::string> charsets;
  for (void* p = t.m_Words.GetHeadPosition(); p != nullptr;) charsets.push_back(Str(t.m_Words.GetNext(p).GetCharset()));
  EXPECT_EQ(charsets, (std::vector<std::string>{"US-ASCII", "ISO-8859-2", "US-ASCII"}));
}

// A word whose decoded bytes are an encoded word again, n levels deep.
std::string Nested(int levels) {
  std::string word = "=?a?Q?core?=";
  for (int i = 0; i < levels; ++i) {
    TSTRING b;
    EXPECT_EQ(BWordEncode(b, T(word)), S_OK);
    word = "=?a?B?" + Str(b) + "?=";
  }
  return word;
}

TEST(Rfc2047Text, NestedWordsAreDecodedSixteenLevelsDeep) {
  CRfc2047Text t(T(Nested(16)));
  t.Parse();
  EXPECT_EQ(Str(t.GetDecodedText()), "core");
  // One more level: the last re-decoding is not done.
  CRfc2047Text deeper(T(Nested(17)));
  deeper.Parse();
  EXPECT_EQ(Str(deeper.GetDecodedText()), "=?a?Q?core?=");
}

TEST(Rfc2047Text, CraftedNestingCostsLinearTime) {
  // Q words wrapped in Q words: every level is only a little longer than the
  // one inside it, so without a bound each of the hundreds of levels would
  // cost the whole length again.
  std::vector<std::string> levels = {"=?a?Q?core?="};
  while (levels.back().size() < 200000) {
    TSTRING q;
    EXPECT_EQ(QWordEncode(q, T(levels.back())), S_OK);
    levels.push_back("=?a?Q?" + Str(q) + "?=");
  }
  ASSERT_GT(levels.size(), 150u);
  const CCpuTimer timer;
  CRfc2047Text t(T(levels.back()));
  t.Parse();
  EXPECT_LT(timer.Seconds(), 5.0 * kSanitizerSlowdown);
  // The first decoding and sixteen more.
  EXPECT_EQ(Str(t.GetDecodedText()), levels[levels.size() - 1 - 17]);
}

}  // namespace
