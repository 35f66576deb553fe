// Hostile HTML converts in linear time: each input below is a few MiB of a
// construct that a careless converter handles in quadratic time (hours at
// this size); every one must finish in seconds and give the right counts.
#include <gtest/gtest.h>

#include <string>

#include "common/cputime.h"
#include "mime/html2cleantext.h"

using namespace telsor;

namespace {

// About a second each in a plain build: CPU seconds of this thread, so a
// busy machine does not stretch them; the sanitizer build runs slower.
const double kBound = 5 * kSanitizerSlowdown;

const size_t kMiB = 1024 * 1024;
// The size of most inputs; the unclosed comments get 4 MiB.
const size_t kSize = 2 * kMiB;

std::string Repeat(const std::string& piece, size_t bytes) {
  std::string out;
  out.reserve(bytes + piece.size());
  while (out.size() < bytes) out += piece;
  return out;
}

// Converts html with conv and fails the test when it takes longer than the
// bound; returns the clean text.
std::string Convert(CHtml2CleanText& conv, const std::string& html) {
  TSTRING text(html.data(), static_cast<int>(html.size()));
  CCpuTimer timer;
  EXPECT_EQ(S_OK, conv.Execute(text, 0, nullptr));
  EXPECT_LT(timer.Seconds(), kBound) << html.substr(0, 40) << "... (" << html.size() << " bytes)";
  return std::string(text.c_str(), static_cast<size_t>(text.GetLength()));
}

TEST(Html2CleanTextHostile, UnclosedCommentsFallBackInLinearTime) {
  // Each "<!--x>" is unclosed and ends at its first ">".
  const std::string html = Repeat("<!--x>", 4 * kMiB);
  CHtml2CleanText conv(0);
  std::string text;
  text = Convert(conv, html);
  const DWORD n = static_cast<DWORD>(html.size() / 6);
  EXPECT_EQ(n, conv.m_dwCommentCount);
  EXPECT_EQ(2 * n, conv.m_dwCommentLength);
  EXPECT_EQ("", text);
}

TEST(Html2CleanTextHostile, UnclosedCommentsWithTextBetween) {
  // Text between comments, and dashes that nearly close them.
  const std::string html = Repeat("<!-- a -> b- >c<p>", kSize) + "<!-- end";
  CHtml2CleanText conv(0);
  std::string text;
  text = Convert(conv, html);
  const DWORD n = static_cast<DWORD>((html.size() - 8) / 18);
  EXPECT_EQ(n + 1, conv.m_dwCommentCount);
  // " a ->" per comment, then " end".
  EXPECT_EQ(5 * n + 4, conv.m_dwCommentLength);
  // After each comment " b- >c" and the blank of P.
  EXPECT_EQ(Repeat("b- >c ", 6 * n), text);
}

TEST(Html2CleanTextHostile, ManyClosedComments) {
  const std::string html = Repeat("<!--x-->y", 100000 * 9);
  CHtml2CleanText conv(0);
  std::string text;
  text = Convert(conv, html);
  EXPECT_EQ(100000u, conv.m_dwCommentCount);
  EXPECT_EQ(std::string(100000, 'y'), text);
}

TEST(Html2CleanTextHostile, NestedFontTags) {
  std::string html = Repeat("<font color=red>", 100000 * 16) + "x";
  html += Repeat("</font>", 100000 * 7);
  CHtml2CleanText conv(0);
  std::string text;
  text = Convert(conv, html);
  EXPECT_EQ("x", text);
  // Unclosed: 100k open scopes stay until the next conversion.
  const std::string open = Repeat("<font color=white><td>", 100000 * 22) + "x";
  text = Convert(conv, open);
  EXPECT_EQ("", text);
  EXPECT_EQ(1u, conv.m_bInvisibleText);
}

TEST(Html2CleanTextHostile, LongRunsOfAmpersands) {
  CHtml2CleanText conv(0);
  CHtml2CleanText inl(CHtml2CleanText::HTO_INLINE_URLS);
  std::string text;
  text = Convert(conv, std::string(kSize, '&'));
  EXPECT_EQ(kSize, text.size());
  // Inside a tag, as one attribute value.
  text = Convert(inl, "<a href=" + std::string(kSize, '&') + ">");
  EXPECT_EQ(kSize + 2, text.size());
  // Entities that join one value.
  text = Convert(conv, "<a title=" + Repeat("&amp;", kSize) + ">");
  EXPECT_EQ(1u, conv.m_bBadTag);
  text = Convert(conv, Repeat("&#1;", kSize));
  EXPECT_EQ(kSize / 4, text.size());
}

TEST(Html2CleanTextHostile, HugeWordsAndValues) {
  CHtml2CleanText conv(0);
  std::string text;
  text = Convert(conv, std::string(kSize, 'w'));
  EXPECT_EQ(kSize, text.size());
  EXPECT_EQ(1u, conv.m_bLongWord);
  text = Convert(conv, "<p title=\"" + std::string(kSize, 'v') + "\">x");
  EXPECT_EQ("x", text);
  text = Convert(conv, "<script>" + std::string(kSize, 's') + "</script>");
  EXPECT_EQ(kSize, conv.m_dwScriptLength);
}

TEST(Html2CleanTextHostile, ScriptBodiesFullOfFalseEndTags) {
  CHtml2CleanText conv(0);
  std::string text;
  text = Convert(conv, "<script>" + Repeat("</scrip<'", kSize));
  EXPECT_GE(conv.m_dwScriptLength, kSize);
  text = Convert(conv, "<style>" + Repeat("< / styl ", kSize) + "</style>x");
  EXPECT_EQ("x", text);
}

TEST(Html2CleanTextHostile, ManyTagsAndBadTags) {
  CHtml2CleanText conv(0);
  CHtml2CleanText inl(CHtml2CleanText::HTO_INLINE_URLS);
  std::string text;
  text = Convert(conv, std::string(kSize, '<'));
  EXPECT_EQ(1u, conv.m_bBadTag);
  text = Convert(conv, Repeat("<>", kSize));
  EXPECT_EQ(1u, conv.m_bBadTag);
  text = Convert(conv, Repeat("<p>a", kSize));
  EXPECT_EQ(kSize / 2 - 1, text.size());  // "a a a ... a"
  text = Convert(conv, Repeat("<comment>", kSize));
  EXPECT_EQ(1u, conv.m_dwCommentCount);
  const std::string images = Repeat("<img src=x>", kSize);
  text = Convert(inl, images);
  EXPECT_EQ(Repeat("<IMGSRC><x>", images.size()), text);
}

TEST(Html2CleanTextHostile, HugeMetaContent) {
  CHtml2CleanText conv(0);
  std::string text = Convert(conv, "<meta content=\"text/html" + Repeat("; charset=x", kSize) + "\">y");
  EXPECT_EQ("y", text);
}

TEST(Html2CleanTextHostile, HostileUrls) {
  CHtml2CleanText conv(0);
  CHtml2CleanText inl(CHtml2CleanText::HTO_INLINE_URLS);
  std::string text;
  text = Convert(inl, "<a href=http://" + std::string(kSize, '@') + "h/>");
  EXPECT_EQ("<|pspam|URL:||||http://h/>", text);
  text = Convert(inl, "<a href=http://" + Repeat("%41", kSize) + ">");
  EXPECT_EQ(1024u + 2 + 15, text.size());
  text = Convert(inl, "<a href=http://" + std::string(kSize, '1') + "/>");
  EXPECT_GT(inl.m_dwUrlLength, 0u);
  // Many collected URLs.
  text = Convert(conv, Repeat("<a href=http://0x7f.0.0.1/>", kSize));
  EXPECT_GT(conv.m_dwUrlLength, 0u);
}

}  // namespace
