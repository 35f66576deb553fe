// Multi-word matcher: the MIME parser's word lists, leftmost hits with their
// true offset and length against a naive all-words scan, streams across
// block seams, compile results, records and concurrent searches.
#include <gtest/gtest.h>
#include <strings.h>

#include <random>
#include <string>
#include <vector>

#include "search/seekmultiwords.h"
#include "common/teststream.h"

using namespace telsor;

namespace {
const DWORD kNone = SEEK_NOT_FOUND;

const char* kHeaderNames[] = {"Received:", "From:", "To:", "Cc:", "Bcc:", "Subject:", "Message-ID",
                              "MIME-Version", "Content-Type", "Content-Transfer-Encoding",
                              "Return-Path", nullptr};
const char* kMessageEnd[] = {"Received:", "From:", "To:", "Cc:", "Bcc:", "Message-ID", "Subject:",
                             "MIME-Version", "Content-Type", "Content-Transfer-Encoding",
                             "Return-Path", "\n.\r", "\r.\r", "\n.\n", "\r.\n", nullptr};

struct tag_HIT {
  DWORD at;
  DWORD len;
};

// Oracle: every word at every offset; the leftmost, then the longest.
tag_HIT Naive(const std::vector<std::string>& words, const std::string& text, bool caseSensitive) {
  for (size_t i = 0; i < text.size(); ++i) {
    size_t best = 0;
    for (const std::string& w : words) {
      if (w.empty() || w.size() > text.size() - i || w.size() <= best) continue;
      int diff = caseSensitive ? text.compare(i, w.size(), w) : strncasecmp(text.data() + i, w.data(), w.size());
      if (diff == 0) best = w.size();
    }
    if (best) return {static_cast<DWORD>(i), static_cast<DWORD>(best)};
  }
  return {kNone, 0};
}

tag_HIT Find(const CSeekMultiWords& m, const std::string& text) {
  DWORD len = 99;
  DWORD at = m.Search(text.data(), static_cast<DWORD>(text.size()), &len);
  return {at, len};
}

tag_HIT FindInStream(const CSeekMultiWords& m, const std::string& text, size_t from, ULONG chunk) {
  CTestStream s(text);
  s.pos = from;
  s.maxChunk = chunk;
  DWORD len = 99;
  DWORD at = m.Search(&s, static_cast<DWORD>(text.size() - from), &len);
  return {at, len};
}

std::vector<std::string> List(const char** words) {
  std::vector<std::string> out;
  for (; *words; ++words) out.push_back(*words);
  return out;
}
}  // namespace

TEST(SeekMultiWordsTest, HeaderNameList) {
  CSeekMultiWords m;
  ASSERT_EQ(0, m.Compile(kHeaderNames, 0));
  EXPECT_EQ(11u, m.GetCount());
  EXPECT_STREQ("content-transfer-encoding", m.GetPattern(9));
  EXPECT_EQ(nullptr, m.GetPattern(11));
  EXPECT_EQ(nullptr, m.GetPattern(-1));
  const struct {
    const char* text;
    DWORD at;
    DWORD len;
  } cases[] = {
      {"hello\r\nSUBJECT: hi\r\nfrom: x", 7, 8},
      {"xx content-type: text/plain", 3, 12},
      {"a Content-Transfer-Encoding: base64", 2, 25},  // not the shorter "Content-T..."
      {"Reply-To: a", 6, 3},                            // "To:" inside a longer name
      {"bcc: and cc:", 0, 4},
      {"nothing to see", kNone, 0},
      {"message-idx", 0, 10},
  };
  for (const auto& c : cases) {
    tag_HIT h = Find(m, c.text);
    EXPECT_EQ(c.at, h.at) << c.text;
    EXPECT_EQ(c.len, h.len) << c.text;
  }
}

TEST(SeekMultiWordsTest, MessageEndListFindsDotLines) {
  CSeekMultiWords m;
  ASSERT_EQ(0, m.Compile(kMessageEnd, 0));
  EXPECT_EQ(15u, m.GetCount());
  tag_HIT h = Find(m, "body text\r\n.\r\nmore");
  EXPECT_EQ(10u, h.at);  // "\n.\r" after the CR
  EXPECT_EQ(3u, h.len);
  h = Find(m, "line\r.\nFrom: a");
  EXPECT_EQ(4u, h.at);
  EXPECT_EQ(3u, h.len);
  h = Find(m, "a.b\n.x\n to: y");
  EXPECT_EQ(8u, h.at);  // "to:"; "\n.x" is no dot line
  EXPECT_EQ(3u, h.len);
}

TEST(SeekMultiWordsTest, AgreesWithNaiveScan) {
  std::mt19937 rng(99);
  for (int round = 0; round < 300; ++round) {
    std::vector<std::string> words;
    const int count = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < count; ++i) {
      std::string w;
      const int len = static_cast<int>(rng() % 6);  // empty words too
      for (int k = 0; k < len; ++k) w += "abcAB"[rng() % 5];
      words.push_back(w);
    }
    std::vector<const char*> list;
    for (const std::string& w : words) list.push_back(w.c_str());
    list.push_back(nullptr);
    const bool cs = rng() % 2 == 0;
    CSeekMultiWords m;
    ASSERT_EQ(0, m.Compile(list.data(), cs ? 1 : 0));
    for (int k = 0; k < 10; ++k) {
      std::string text;
      const int len = static_cast<int>(rng() % 40);
      for (int i = 0; i < len; ++i) text += "abcABx"[rng() % 6];
      tag_HIT want = Naive(words, text, cs);
      tag_HIT got = Find(m, text);
      EXPECT_EQ(want.at, got.at) << text;
      EXPECT_EQ(want.len, got.len) << text;
      if (!text.empty()) {
        tag_HIT s = FindInStream(m, text, 0, 1 + rng() % 5);
        EXPECT_EQ(want.at, s.at);
        EXPECT_EQ(want.len, s.len);
      }
    }
  }
}

TEST(SeekMultiWordsTest, StreamFindsWordsAcrossBlockSeams) {
  CSeekMultiWords m;
  ASSERT_EQ(0, m.Compile(kHeaderNames, 0));
  const std::vector<std::string> words = List(kHeaderNames);
  for (size_t seam : {4096u, 8192u}) {
    for (size_t back = 1; back < 25; back += 3) {
      std::string text(seam + 100, 'z');
      text.replace(seam - back, 25, "Content-Transfer-Encoding");
      for (size_t from : {0u, 17u}) {
        tag_HIT s = FindInStream(m, text, from, 0xFFFFFFFFu);
        tag_HIT want = Naive(words, text.substr(from), false);
        EXPECT_EQ(want.at + from, s.at);
        EXPECT_EQ(25u, s.len);
      }
    }
  }
  CTestStream failing(std::string(5000, 'z') + "From:");
  failing.failReadAt = 4096;
  DWORD len = 5;
  EXPECT_EQ(kNone, m.Search(&failing, 5005, &len));
  EXPECT_EQ(0u, len);
}

TEST(SeekMultiWordsTest, CompileResults) {
  CSeekMultiWords m;
  EXPECT_EQ(E_POINTER, m.Compile(static_cast<const char**>(nullptr), 1));
  const char* none[] = {"", "", nullptr};
  EXPECT_EQ(0, m.Compile(none, 1));
  EXPECT_EQ(0u, m.GetCount());
  EXPECT_EQ(kNone, m.Search("anything", 0, nullptr));
  std::string big(65535, 'a');
  std::string fine(65534, 'b');
  const char* tooLong[] = {"x", big.c_str(), nullptr};
  ASSERT_EQ(0, m.Compile(kHeaderNames, 1));
  EXPECT_EQ(E_SEEK_WORD_TOO_LONG, m.Compile(tooLong, 1));
  EXPECT_EQ(0u, m.GetCount());  // nothing left from before
  EXPECT_EQ(kNone, m.Search("From:", 0, nullptr));
  const char* longest[] = {fine.c_str(), nullptr};
  ASSERT_EQ(0, m.Compile(longest, 1));
  std::string text = "a" + fine;
  EXPECT_EQ(1u, m.Search(text.c_str(), 0, nullptr));
  // Over the state limit: more than 65535 trie states.
  std::string a(40000, 'c'), b(30000, 'd');
  const char* many[] = {a.c_str(), b.c_str(), nullptr};
  EXPECT_EQ(E_SEEK_TOO_MANY_STATES, m.Compile(many, 1));
  EXPECT_EQ(0u, m.GetCount());
  // The single-pattern form compiles one word.
  ASSERT_EQ(0, m.Compile("Word", 0, 0));
  EXPECT_EQ(1u, m.GetCount());
  EXPECT_EQ(2u, m.Search("a WORD", 0, nullptr));
}

TEST(SeekMultiWordsTest, RecordRoundTrip) {
  CSeekMultiWords m;
  ASSERT_EQ(0, m.Compile(kMessageEnd, 0));
  CTestStream s;
  ASSERT_EQ(0, m.Serialize(&s, 1));
  s.pos = 0;
  CSeekMultiWords back;
  ASSERT_EQ(0, back.Serialize(&s, 0));
  EXPECT_EQ(s.bytes.size(), s.pos);
  ASSERT_EQ(15u, back.GetCount());
  for (DWORD i = 0; i < 15; ++i) EXPECT_STREQ(m.GetPattern(i), back.GetPattern(i));
  EXPECT_EQ(0, back.IsCaseSensitive());
  const char* texts[] = {"x\r\n.\r\n", "MIME-VERSION: 1.0", "none"};
  for (const char* t : texts) {
    EXPECT_EQ(Find(m, t).at, Find(back, t).at);
    EXPECT_EQ(Find(m, t).len, Find(back, t).len);
  }
  // Truncated and damaged records fail; another version is refused.
  std::string bytes = s.str();
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    CTestStream shortRecord(bytes.substr(0, cut));
    CSeekMultiWords broken;
    EXPECT_NE(0, broken.Serialize(&shortRecord, 0)) << cut;
  }
  const size_t version = 3 + 2;  // after the empty base record
  std::string v2 = bytes;
  v2[version] = 2;
  CTestStream v2s(v2);
  EXPECT_EQ(E_RECORD_VERSION, back.Serialize(&v2s, 0));
  std::string nul = bytes;
  nul[version + 7] = '\0';  // inside the first word
  CTestStream nuls(nul);
  EXPECT_EQ(E_FAIL, back.Serialize(&nuls, 0));
}
