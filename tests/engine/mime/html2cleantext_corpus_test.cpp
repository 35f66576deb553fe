// Real mail through the HTML converter: every message of the SpamAssassin
// training half, taken whole as HTML (headers, encoded bodies and all),
// converts without a failure, with 0/1 counters that are 0 or 1, the same
// result a second time (every tenth message), and in both URL modes the same counters (but for
// invisible URLs written in place). Skipped
// when $QOR_CORPORA is not set (tools/test-all.sh sets it).
#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mime/html2cleantext.h"

using namespace telsor;

namespace {

std::vector<std::string> Files(const std::string& dir) {
  std::vector<std::string> out;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return out;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] != '.') out.push_back(dir + "/" + e->d_name);
  }
  closedir(d);
  return out;
}

struct Outcome {
  std::string text;
  std::vector<DWORD> counters;
};

Outcome Convert(CHtml2CleanText& conv, const std::string& html) {
  TSTRING text(html.data(), static_cast<int>(html.size()));
  EXPECT_EQ(S_OK, conv.Execute(text, 0, nullptr));
  Outcome o;
  o.text.assign(text.c_str(), static_cast<size_t>(text.GetLength()));
  o.counters = {conv.m_dwCommentCount, conv.m_dwCommentLength, conv.m_dwFrameCount,
                conv.m_dwUrlLength,    conv.m_dwScriptLength,  conv.m_bTextAfterHtmlEnd,
                conv.m_bTinyFont,      conv.m_bScriptWrites,   conv.m_bInvisibleText,
                conv.m_bEmbeddedContent, conv.m_bBadTag,       conv.m_bBadCharset,
                conv.m_bLongWord};
  for (size_t i = 5; i < o.counters.size(); ++i) EXPECT_LE(o.counters[i], 1u);
  EXPECT_EQ(0u, conv.m_bBadCharset);
  return o;
}

TEST(Html2CleanTextCorpus, SpamAssassinTrainingHalf) {
  const char* corpora = getenv("QOR_CORPORA");
  if (corpora == nullptr) GTEST_SKIP() << "QOR_CORPORA not set";
  const std::string train = std::string(corpora) + "/spamassassin/train";
  size_t messages = 0;
  size_t withUrls = 0;
  CHtml2CleanText collected(0);
  CHtml2CleanText inlined(CHtml2CleanText::HTO_INLINE_URLS);
  for (const std::string& group : Files(train)) {
    for (const std::string& path : Files(group)) {
      std::ifstream in(path, std::ios::binary);
      std::stringstream bytes;
      bytes << in.rdbuf();
      const std::string html = bytes.str();
      Outcome a = Convert(collected, html);
      if (messages % 10 == 0) {
        Outcome b = Convert(collected, html);
        EXPECT_EQ(a.text, b.text) << path;
        EXPECT_EQ(a.counters, b.counters) << path;
      }
      // In place, a URL in an invisible colour is itself invisible text;
      // otherwise both modes count alike.
      Outcome c = Convert(inlined, html);
      EXPECT_LE(a.counters[8], c.counters[8]) << path;
      a.counters[8] = c.counters[8];
      EXPECT_EQ(a.counters, c.counters) << path;
      // Collected URLs end the text, one per line, in document order.
      if (collected.GetUrls().GetCount() != 0) ++withUrls;
      ++messages;
    }
  }
  EXPECT_GT(messages, 1000u);
  EXPECT_GT(withUrls, 100u);
}

}  // namespace
