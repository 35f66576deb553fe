// One compiled matcher searched from eight threads at once, over buffers
// and streams: every search gives the single-threaded answer.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/teststream.h"
#include "search/regexpr.h"
#include "search/seekmatches.h"
#include "search/seekmultiwords.h"
#include "search/seeksubstr.h"

using namespace telsor;

namespace {

struct tag_HIT {
  DWORD at;
  DWORD len;
  bool operator==(const tag_HIT& o) const { return at == o.at && len == o.len; }
};

tag_HIT Find(const CSeekPattern& m, const std::string& text) {
  tag_HIT h{0, 77};
  h.at = m.Search(text.data(), static_cast<DWORD>(text.size()), &h.len);
  return h;
}

tag_HIT FindInStream(const CSeekPattern& m, const std::string& text) {
  CTestStream s(text);
  tag_HIT h{0, 77};
  h.at = m.Search(&s, static_cast<DWORD>(text.size()), &h.len);
  return h;
}

std::string With(size_t size, char fill, size_t at, const std::string& piece) {
  std::string text(size, fill);
  text.replace(at, piece.size(), piece);
  return text;
}

const char* kHeaderNames[] = {"Received:", "From:", "To:", "Cc:", "Bcc:", "Subject:", "Message-ID",
                              "MIME-Version", "Content-Type", "Content-Transfer-Encoding",
                              "Return-Path", nullptr};

}  // namespace

TEST(MatchersThreadsTest, OneMatcherSearchedFromEightThreads) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<CSeekPattern>()> make;
    std::string text;
    tag_HIT want;  // SEEK_NOT_FOUND at: whatever one thread finds
    int rounds;
    bool streams;
  } cases[] = {
      {"regexpr",
       [] {
         auto m = std::make_unique<CRegExpr>();
         EXPECT_EQ(0, m->Compile("boundary=\\\"?([-a-z0-9_]+)\\\"?", 0, 0));
         return std::unique_ptr<CSeekPattern>(std::move(m));
       },
       With(100000, 'x', 77777, "Boundary=\"abc-123\"\r\n"), {SEEK_NOT_FOUND, 0}, 20, true},
      {"multiwords",
       [] {
         auto m = std::make_unique<CSeekMultiWords>();
         EXPECT_EQ(0, m->Compile(kHeaderNames, 0));
         return std::unique_ptr<CSeekPattern>(std::move(m));
       },
       With(200000, 'q', 150000, "mime-version"), {150000, 12}, 10, true},
      {"substr",
       [] {
         auto m = std::make_unique<CSeekSubstr>();
         EXPECT_EQ(0, m->Compile("--=_NextPart_000", 0, 0));
         return std::unique_ptr<CSeekPattern>(std::move(m));
       },
       With(100000, '-', 90001, "--=_nextpart_000"), {90001, 16}, 10, true},
      {"matches",
       [] {
         auto m = std::make_unique<CSeekMatches>(SEEK_CAPS_BRACKETS | SEEK_CAPS_ESCAPE);
         EXPECT_EQ(0, m->Compile("*[0-9]% off*", 1, 0));
         return std::unique_ptr<CSeekPattern>(std::move(m));
       },
       With(20000, 'z', 15000, "50% off"), {0, 20000}, 10, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<CSeekPattern> m = c.make();
    const tag_HIT expected = Find(*m, c.text);
    ASSERT_NE(SEEK_NOT_FOUND, expected.at);
    if (c.want.at != SEEK_NOT_FOUND) {
      EXPECT_EQ(c.want.at, expected.at);
      EXPECT_EQ(c.want.len, expected.len);
    }
    // Whole-text matchers do not search streams: their stream answer is a
    // miss, the same in every thread.
    const tag_HIT inStream = FindInStream(*m, c.text);
    if (c.streams) {
      ASSERT_TRUE(inStream == expected);
    }
    std::vector<int> bad(8, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&, t]() {
        for (int i = 0; i < c.rounds; ++i) {
          if (!(Find(*m, c.text) == expected) || !(FindInStream(*m, c.text) == inStream)) ++bad[t];
        }
      });
    }
    for (std::thread& th : threads) th.join();
    for (int t = 0; t < 8; ++t) EXPECT_EQ(0, bad[t]);
  }
}
