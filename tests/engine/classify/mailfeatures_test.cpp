// The mail feature extractor over parsed messages: one small message per
// feature, the choice among alternatives, attached messages under reports,
// the ratio limits of the HTML counters, links, the text and its unit-length
// n-gram vector, the file entry point, and the matchers and message tests
// the extractor relies on.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "foundation/errorroad.h"
#include "classify/mailfeatures.h"
#include "classify/mailmatchers.h"
#include "common/tempdir.h"
#include "foundation/results.h"
#include "mime/anomalyflags.h"
#include "mime/html2cleantext.h"
#include "mime/message.h"
#include "mime/rfc822parser.h"

using namespace telsor;
using telsor_test::TempDir;

namespace {

std::string Str(const TSTRING& s) { return std::string(s.c_str(), static_cast<size_t>(s.GetLength())); }

// A message parsed with its bodies from text.
std::unique_ptr<CRfc822Message> Parse(const std::string& text) {
  std::unique_ptr<CRfc822Message> message(new CRfc822Message);
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  EXPECT_EQ(parser->OpenSession(nullptr), S_OK);
  parser->PutMaxContentSizeInMemory(1 << 20);
  EXPECT_EQ(S_OK, message->PutContentAsString(reinterpret_cast<const unsigned char*>(text.data()),
                                              static_cast<ULONG>(text.size())));
  EXPECT_EQ(S_OK, parser->ParseMessage(PARSE_SCOPE_FULL, *message));
  return message;
}

// The raised features; every value must be exactly 0.0 or 1.0.
std::set<int> Raised(const CMailFeatureExtractor& x) {
  std::set<int> raised;
  EXPECT_EQ(25u, x.features.GetSize());
  for (DWORD i = 0; i < x.features.GetSize(); ++i) {
    EXPECT_TRUE(x.features[i] == 0.0 || x.features[i] == 1.0) << i;
    if (x.features[i] == 1.0) raised.insert(static_cast<int>(i));
  }
  return raised;
}

std::string Show(const std::set<int>& s) {
  std::string out;
  for (int f : s) out += std::to_string(f) + " ";
  return out;
}

const char kHead[] =
    "From: ann@example.org\r\nTo: bob@example.org\r\nSubject: hello\r\n"
    "Date: Thu, 10 Dec 2026 10:00:00 +0000\r\nMIME-Version: 1.0\r\n";

// Enough visible words that no counter reaches a third of the clean text.
const char kProse[] =
    "The committee met on Tuesday to review the plans for the new library wing and agreed "
    "that the builders should start in spring once the last drawings have been signed by "
    "everyone who sits on the board of the town's trust for public buildings and parks.";

std::string Plain(const std::string& body, const std::string& extra = "") {
  return std::string(kHead) + "Content-Type: text/plain; charset=us-ascii\r\n" + extra + "\r\n" + body + "\r\n";
}

// An alternative of a plain part and an HTML part: not HTML-only.
std::string Alternative(const std::string& html) {
  return std::string(kHead) +
         "Content-Type: multipart/alternative; boundary=\"b1\"\r\n\r\n"
         "--b1\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n" +
         kProse + "\r\n--b1\r\nContent-Type: text/html; charset=us-ascii\r\n\r\n" + html + "\r\n--b1--\r\n";
}

std::string Html(const std::string& inner) { return "<html><body><p>" + std::string(kProse) + "</p>" + inner + "</body></html>"; }

struct FeatureCase {
  const char* what;
  std::string message;
  std::set<int> raised;
};

TEST(MailFeatures, OneMessagePerFeature) {
  const std::string uu =
      "see the file\r\nbegin 644 a.txt\r\n#86)C\r\n`\r\nend\r\nthat was it\r\n";
  const FeatureCase cases[] = {
      {"a plain message raises nothing", Plain(kProse), {}},
      {"0: a bare LF in a CR LF message", Plain("line one\nline two\r\n"), {0}},
      {"1: control characters in the body", Plain(std::string("bell \x01\x02 here")), {1}},
      {"2: a header line that is no field", std::string(kHead) + "this line has no colon\r\n" +
                                                "Content-Type: text/plain\r\n\r\nwords\r\n",
       {2}},
      {"3: a comment in a field name (always with the strict bit of 2)",
       std::string(kHead) + "X-Name(comment): value\r\nContent-Type: text/plain\r\n\r\nwords\r\n", {2, 3}},
      {"4: a uuencoded file in a text part (an attachment of its own)", Plain(uu), {4, 9}},
      {"5: an empty boundary (with the strict bit of 2; no plain part is found)",
       std::string(kHead) + "Content-Type: multipart/mixed; boundary=\"\"\r\n\r\nbody\r\n", {2, 5, 8}},
      {"6: a date that is no date",
       "From: ann@example.org\r\nSubject: hello\r\nDate: the day after tomorrow\r\n"
       "Content-Type: text/plain\r\n\r\nwords\r\n",
       {6}},
      {"7: a base64 text part", Plain("aGVsbG8gd29ybGQ=", "Content-Transfer-Encoding: base64\r\n"), {7}},
      {"7: a transfer encoding nobody knows", Plain("words", "Content-Transfer-Encoding: x-rot13\r\n"), {7}},
      {"7: quoted-printable is not obscure", Plain("words", "Content-Transfer-Encoding: quoted-printable\r\n"), {}},
      {"8: HTML alone", std::string(kHead) + "Content-Type: text/html\r\n\r\n" + Html("") + "\r\n", {8}},
      {"9: an attachment without Content-ID",
       std::string(kHead) +
           "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\n"
           "words\r\n--b\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment\r\n\r\n"
           "%PDF\r\n--b--\r\n",
       {9}},
      {"9: an attachment with a Content-ID is not counted",
       std::string(kHead) +
           "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\n"
           "words\r\n--b\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment\r\n"
           "Content-ID: <p1@example.org>\r\n\r\n%PDF\r\n--b--\r\n",
       {}},
      {"10: user information before the host", Alternative(Html("<a href=\"http://joe@bank.example.com/\">x</a>")),
       {10}},
      {"11: a dotted decimal host", Alternative(Html("<a href=\"http://10.1.2.3/login\">x</a>")), {11}},
      {"12: two HTML alternatives",
       std::string(kHead) +
           "Content-Type: multipart/alternative; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/html\r\n\r\n" +
           Html("") + "\r\n--b\r\nContent-Type: text/html\r\n\r\n" + Html("") + "\r\n--b--\r\n",
       {8, 12}},
      {"13: seven blanks in the subject",
       "From: ann@example.org\r\nSubject: buy       now\r\nDate: Thu, 10 Dec 2026 10:00:00 +0000\r\n"
       "Content-Type: text/plain\r\n\r\nwords\r\n",
       {13}},
      {"14: comments outweigh the text", Alternative("<p>short text</p><!-- " + std::string(200, 'c') + " -->"),
       {14}},
      {"15: URLs outweigh the text",
       Alternative("<p>hi</p><img src=\"http://images.example.com/a/long/path/to/the/picture.gif\">"), {15}},
      {"16: scripts outweigh the text",
       Alternative("<p>hi</p><script>var a = 1; var b = 2; var c = a + b; var d = c * c;</script>"), {16}},
      {"17: a script writes into the document", Alternative(Html("<script>document.write('x')</script>")), {17}},
      {"18: white text on white", Alternative(Html("<font color=\"#ffffff\">hidden words here</font>")), {18}},
      {"19: HTML in the preamble",
       std::string(kHead) +
           "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n<b>buy</b> now</font>\r\n--b\r\n"
           "Content-Type: text/plain\r\n\r\nwords\r\n--b--\r\n",
       {19}},
      {"20: text after the end of the document", Alternative(Html("") + "trailing words"), {20}},
      {"21: an embedded image (no plain text beside the HTML)",
       std::string(kHead) +
           "Content-Type: multipart/related; boundary=\"r\"\r\n\r\n--r\r\nContent-Type: text/html\r\n\r\n" +
           Html("<img src=\"cid:img1@example.org\">") +
           "\r\n--r\r\nContent-Type: image/gif\r\nContent-ID: <img1@example.org>\r\n\r\nGIF89a\r\n--r--\r\n",
       {8, 21}},
      {"23: a tag that is no tag", Alternative(Html("<a &amp; b>")), {23}},
      {"24: a long word", Alternative(Html("<p>abcdefghijklmnopqrstuvwxyzabcdefghij</p>")), {24}},
      {"24: a long word with a dot is a name", Alternative(Html("<p>abcdefghijklmnopqrstuvwxyz.abcdefghij</p>")),
       {}},
  };
  CMailFeatureExtractor x(nullptr);
  for (const FeatureCase& c : cases) {
    std::unique_ptr<CRfc822Message> m = Parse(c.message);
    ASSERT_EQ(S_OK, x.ExtractFeatures(*m));
    EXPECT_EQ(Show(c.raised), Show(Raised(x))) << c.what;
    EXPECT_EQ(0.0, x.features[MAIL_FEATURE_BAD_CHARSET]) << c.what;
  }
}

// A multipart/alternative of the given parts (type, body).
std::string AlternativeOf(const std::vector<std::pair<std::string, std::string>>& parts) {
  std::string m = std::string(kHead) + "Content-Type: multipart/alternative; boundary=\"b\"\r\n\r\n";
  for (const auto& p : parts) m += "--b\r\nContent-Type: " + p.first + "\r\n\r\n" + p.second + "\r\n";
  return m + "--b--\r\n";
}

const char kThreeWords[] = "short plain alternative";
std::string FortyWords() {
  std::string s;
  for (int i = 0; i < 40; ++i) s += "word" + std::to_string(i) + " ";
  return s;
}

CRfc822Part* Child(CRfc822Part* part, int index) {
  CRfc822Parts* parts = part->GetParts(nullptr);
  void* p = parts->GetHeadPosition();
  for (int i = 0; i < index && p != nullptr; ++i) parts->GetNext(p);
  return p == nullptr ? nullptr : parts->GetAt(p);
}

TEST(MailFeatures, AlternativeChoice) {
  CMailFeatureExtractor x(nullptr);
  // Two plain alternatives and an HTML one: the HTML one is read, the plain
  // ones are neither read nor examined.
  std::unique_ptr<CRfc822Message> m = Parse(AlternativeOf(
      {{"text/plain", kThreeWords}, {"text/plain", FortyWords()}, {"text/html", "<p>the html words</p>"}}));
  Child(m.get(), 0)->AddAnomalyFlags(ANOMALY_BAD_EOL);
  Child(m.get(), 1)->AddAnomalyFlags(ANOMALY_BAD_DATE);
  ASSERT_EQ(S_OK, x.ExtractFeatures(*m));
  EXPECT_EQ(Show({12}), Show(Raised(x)));
  EXPECT_NE(std::string::npos, Str(x.text).find("the html words"));
  EXPECT_EQ(std::string::npos, Str(x.text).find(kThreeWords));
  EXPECT_EQ(std::string::npos, Str(x.text).find("word39"));

  // Without HTML: the 3-word plain part gives way to the 40-word one.
  m = Parse(AlternativeOf({{"text/plain", kThreeWords}, {"text/plain", FortyWords()}}));
  ASSERT_EQ(S_OK, x.ExtractFeatures(*m));
  EXPECT_EQ(Show({12}), Show(Raised(x)));
  EXPECT_NE(std::string::npos, Str(x.text).find("word39"));
  EXPECT_EQ(std::string::npos, Str(x.text).find(kThreeWords));

  // A first plain part of five words or more stays.
  m = Parse(AlternativeOf({{"text/plain", FortyWords()}, {"text/plain", kThreeWords}}));
  ASSERT_EQ(S_OK, x.ExtractFeatures(*m));
  EXPECT_NE(std::string::npos, Str(x.text).find("word39"));
  EXPECT_EQ(std::string::npos, Str(x.text).find(kThreeWords));

  // Neither text nor HTML: the last other alternative is taken, appends
  // nothing and still gets the transfer-encoding test.
  m = Parse(std::string(kHead) +
            "Content-Type: multipart/alternative; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: image/gif\r\n\r\nGIF\r\n"
            "--b\r\nContent-Type: application/pdf\r\nContent-Transfer-Encoding: base64\r\n\r\nJVBERg==\r\n--b--\r\n");
  ASSERT_EQ(S_OK, x.ExtractFeatures(*m));
  EXPECT_EQ(Show({7, 8}), Show(Raised(x)));
  EXPECT_EQ("hello\r\n", Str(x.text));

  // An alternative part without children contributes its own content.
  CRfc822Message bare;
  bare.PutContentMediaType("multipart/alternative");
  bare.Subject() = "s";
  EXPECT_EQ(bare.PutContentAsString("own words"), S_OK);
  ASSERT_EQ(S_OK, x.ExtractFeatures(bare));
  EXPECT_EQ(Show({8, 12}), Show(Raised(x)));
  EXPECT_EQ("s\r\nown words", Str(x.text));
}

std::string WithAttachedMessage(const char* outer, const char* disposition) {
  return std::string(kHead) + "Content-Type: " + outer + "; boundary=\"b\"\r\n\r\n--b\r\n" +
         "Content-Type: text/plain\r\n\r\nthe notice\r\n--b\r\nContent-Type: message/rfc822\r\n" + disposition +
         "\r\nSubject: inner\r\nContent-Type: text/plain\r\n\r\nthe inner body\r\n--b--\r\n";
}

TEST(MailFeatures, AttachedMessagesAndReports) {
  CMailFeatureExtractor x(nullptr);
  struct {
    const char* outer;
    const char* disposition;
    bool innerRead;
  } cases[] = {
      {"multipart/report", "", false},
      {"multipart/report", "Content-Disposition: attachment\r\n", false},
      {"multipart/report", "Content-Disposition: INLINE\r\n", true},
      {"multipart/mixed", "", true},
  };
  for (const auto& c : cases) {
    std::unique_ptr<CRfc822Message> m = Parse(WithAttachedMessage(c.outer, c.disposition));
    ASSERT_EQ(S_OK, x.ExtractFeatures(*m));
    const std::string text = Str(x.text);
    size_t marker = text.find("<ATTMSG>");
    ASSERT_NE(std::string::npos, marker) << c.outer << " " << c.disposition;
    EXPECT_LT(text.find("the notice"), marker);
    size_t inner = text.find("the inner body");
    if (c.innerRead) {
      EXPECT_GT(inner, marker) << c.outer << " " << c.disposition;
    } else {
      EXPECT_EQ(std::string::npos, inner) << c.outer << " " << c.disposition;
    }
  }
}

TEST(MailFeatures, RatioLimitOfTheHtmlCounters) {
  struct {
    DWORD count;
    int length;
    bool raised;
  } cases[] = {
      {4, 10, true},   // 4 / 6 reaches 0.35
      {2, 10, false},  // 2 / 8 does not
      {7, 27, true},   // 7 / 20 is exactly 0.35
      {10, 10, true},  // all of the text
      {11, 10, true},  // more than the text
      {0, 10, false},
      {5, 0, false},   // an empty clean text tests no ratio
  };
  for (const auto& c : cases) {
    for (int which = 0; which < 3; ++which) {
      CMailFeatureExtractor x(nullptr);
      CHtml2CleanText converter(0);
      DWORD* counters[] = {&converter.m_dwCommentLength, &converter.m_dwScriptLength, &converter.m_dwUrlLength};
      const DWORD features[] = {MAIL_FEATURE_MANY_COMMENTS, MAIL_FEATURE_MANY_SCRIPTS, MAIL_FEATURE_MANY_URLS};
      *counters[which] = c.count;
      x.SetMetricHTML(converter, TSTRING('x', c.length));
      std::set<int> expected;
      if (c.raised) expected.insert(static_cast<int>(features[which]));
      EXPECT_EQ(Show(expected), Show(Raised(x))) << c.count << "/" << c.length << " counter " << which;
    }
  }
  // An empty clean text does not test the script writes either.
  CMailFeatureExtractor x(nullptr);
  CHtml2CleanText converter(0);
  converter.m_bScriptWrites = 1;
  x.SetMetricHTML(converter, TSTRING());
  EXPECT_EQ(Show({}), Show(Raised(x)));
  x.SetMetricHTML(converter, TSTRING("x"));
  EXPECT_EQ(Show({17}), Show(Raised(x)));
}

TEST(MailFeatures, HttpLinks) {
  const struct {
    const char* afterScheme;
    std::set<int> raised;
  } cases[] = {
      {"joe@bank.example.com/", {10}},
      {"bank.example.com/path@x", {}},
      {"joe@bank.example.com", {10}},
      {"10.1.2.3/login", {11}},
      {"%62ank.example.com/", {11}},
      {"bank%2Eexample.com/", {11}},
      {"bank.example.com/%41", {}},
      {"host9.example.com/", {}},
      {"a#b@c", {10}},            // the host would start past the "#"
      {"joe@10.1.2.3/", {10, 11}},
      {"/path", {}},
  };
  for (const auto& c : cases) {
    CMailFeatureExtractor x(nullptr);
    x.ExploreHttpRef(nullptr, c.afterScheme, c.afterScheme + strlen(c.afterScheme));
    EXPECT_EQ(Show(c.raised), Show(Raised(x))) << c.afterScheme;
  }
}

TEST(MailFeatures, LinkListEntries) {
  std::unique_ptr<CRfc822Message> m =
      Parse(std::string(kHead) +
            "Content-Type: multipart/related; boundary=\"r\"\r\n\r\n--r\r\nContent-Type: text/html\r\n\r\n<p>x</p>\r\n"
            "--r\r\nContent-Type: text/plain\r\nContent-ID: <t1>\r\n\r\nlinked text\r\n"
            "--r\r\nContent-Type: application/octet-stream; name=\"page.HTML\"\r\nContent-ID: <h1>\r\n\r\n"
            "<p>linked page</p>\r\n--r\r\nContent-Type: image/png; name=\"p.png\"\r\nContent-ID: <i1>\r\n\r\nPNG\r\n"
            "--r--\r\n");
  CRfc822Part* html = Child(m.get(), 0);
  const struct {
    const char* entry;
    const char* appended;  // null: nothing
    std::set<int> raised;
  } cases[] = {
      {"cid:t1", "\r\n<CID:;;>\r\nlinked text", {}},
      {"cid : \tt1", "\r\n<CID:;;>\r\nlinked text", {}},
      {"cidt1", "\r\n<CID:;;>\r\nlinked text", {}},
      {"  t1", "\r\n<CID:;;>\r\nlinked text", {}},
      {"CID:t1", nullptr, {}},  // upper case: a URL with a scheme that is not followed
      {"cid:T1", nullptr, {}},  // identifiers are compared exactly
      {"cid:h1", "\r\n<CID:HTML;;>\r\nlinked page ", {}},  // its clean text
      {"cid:i1", "\r\n<CID:image/png;png;>\r\n", {}},
      {"cid:none", nullptr, {}},
      {"cid:", "\r\n<CID:multipart/related;;>\r\n", {}},  // the first part without an identifier: the top
      {"HTTP://joe@x.example/", nullptr, {10}},
      {"see https://1.2.3.4/", nullptr, {11}},
      {"ftp://joe@x.example/", nullptr, {}},
  };
  for (const auto& c : cases) {
    CMailFeatureExtractor x(nullptr);
    CPList<TSTRING, TSTRING&> urls(4);
    TSTRING entry(c.entry);
    urls.AddTail(entry);
    x.ExploreHtmlRefs(html, urls);
    EXPECT_EQ(c.appended == nullptr ? std::string() : std::string(c.appended), Str(x.text)) << c.entry;
    EXPECT_EQ(Show(c.raised), Show(Raised(x))) << c.entry;
  }
}

TEST(MailFeatures, AVersionWritesUrlsInPlaceAndFollowsNoLink) {
  std::unique_ptr<CRfc822Message> m =
      Parse(std::string(kHead) +
            "Content-Type: multipart/related; boundary=\"r\"\r\n\r\n--r\r\nContent-Type: text/html\r\n\r\n" +
            Html("<a href=\"http://joe@10.0.0.1/\">x</a><img src=\"cid:t1\">") +
            "\r\n--r\r\nContent-Type: text/plain\r\nContent-ID: <t1>\r\n\r\nlinked text\r\n--r--\r\n");
  CMailFeatureExtractor x(nullptr);
  ASSERT_EQ(S_OK, x.ExtractFeatures(*m));
  EXPECT_EQ(1.0, x.features[MAIL_FEATURE_AT_IN_URL]);
  EXPECT_EQ(1.0, x.features[MAIL_FEATURE_OBFUSCATED_URL]);
  EXPECT_NE(std::string::npos, Str(x.text).find("<CID:;;>"));
  x.SetVersion(1);
  ASSERT_EQ(S_OK, x.ExtractFeatures(*m));
  EXPECT_EQ(0.0, x.features[MAIL_FEATURE_AT_IN_URL]);
  EXPECT_EQ(0.0, x.features[MAIL_FEATURE_OBFUSCATED_URL]);
  EXPECT_EQ(std::string::npos, Str(x.text).find("<CID:;;>"));
  EXPECT_NE(std::string::npos, Str(x.text).find("<|pspam|URL:||||http://10.0.0.1/>"));  // in place, normalised
}

TEST(MailFeatures, ALinkReadsTheFirstPartOfItsIdentifier) {
  // Two parts share an identifier; the link reads the first in pre-order,
  // in an extraction as in a direct call.
  std::unique_ptr<CRfc822Message> m =
      Parse(std::string(kHead) +
            "Content-Type: multipart/related; boundary=\"r\"\r\n\r\n--r\r\nContent-Type: text/html\r\n\r\n"
            "<p>x</p><img src=\"cid:same\">\r\n--r\r\nContent-Type: multipart/mixed; boundary=\"m\"\r\n\r\n"
            "--m\r\nContent-Type: image/gif\r\nContent-ID: <same>\r\n\r\nGIF\r\n--m--\r\n"
            "--r\r\nContent-Type: text/plain\r\nContent-ID: <same>\r\n\r\nsecond\r\n--r--\r\n");
  CMailFeatureExtractor x(nullptr);
  ASSERT_EQ(S_OK, x.ExtractFeatures(*m));
  EXPECT_NE(std::string::npos, Str(x.text).find("<CID:image/gif;;>"));
  EXPECT_EQ(std::string::npos, Str(x.text).find("<CID:;;>"));
  CMailFeatureExtractor direct(nullptr);
  direct.ExploreCIDRef(Child(m.get(), 0), "same", nullptr);
  EXPECT_EQ("\r\n<CID:image/gif;;>\r\n", Str(direct.text));
}

TEST(MailFeatures, ManyLinksToOnePartReadItOnce) {
  // A thousand links to one large part add its text once, not a thousand
  // times (the walk reads the part as well: twice in all).
  std::string html = "<p>x</p>";
  for (int i = 0; i < 1000; ++i) html += "<img src=\"cid:big\">";
  std::unique_ptr<CRfc822Message> m =
      Parse(std::string(kHead) + "Content-Type: multipart/related; boundary=\"r\"\r\n\r\n--r\r\n" +
            "Content-Type: text/html\r\n\r\n" + html + "\r\n--r\r\nContent-Type: text/plain\r\nContent-ID: <big>\r\n\r\n" +
            std::string(100000, 'w') + "\r\n--r--\r\n");
  CMailFeatureExtractor x(nullptr);
  ASSERT_EQ(S_OK, x.ExtractFeatures(*m));
  EXPECT_GT(x.text.GetLength(), 200000);
  EXPECT_LT(x.text.GetLength(), 250000);
}

TEST(MailFeatures, TextOfAPlainMessage) {
  CMailFeatureExtractor x(nullptr);
  std::unique_ptr<CRfc822Message> m = Parse(
      "Subject: =?ISO-8859-1?Q?caf=E9?= menu\r\nOrganization: Plain Org\r\nOrganization: =?US-ASCII?Q?Coded_Org?=\r\n"
      "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\nthe body\r\n");
  ASSERT_EQ(S_OK, x.ExtractFeatures(*m));
  EXPECT_EQ("Plain Org\r\nCoded Orgcaf\xE9  menu\r\n\r\nutf-8;8bit\r\nthe body\r\n", Str(x.text));
  // An encoded word and a plain run keep the run's blank and get one more.
  EXPECT_EQ("caf\xE9  menu", Str(x.subject));
  EXPECT_EQ(Show({}), Show(Raised(x)));
  // The vector is the unit vector of the text.
  CNGramsVector expected(5, x.text.c_str(), static_cast<DWORD>(x.text.GetLength()), DefaultNextStopWord);
  ASSERT_GT(expected.GetCount(), 0u);
  EXPECT_EQ(expected.GetCount(), x.ngrams.GetCount());
  EXPECT_NEAR(1.0, x.ngrams.DotProduct(), 1e-6);
  EXPECT_NEAR(sqrt(expected.DotProduct()), expected.DotProduct(x.ngrams), 1e-4);

  // A text too short for one 5-gram leaves the vector empty.
  CRfc822Message empty;
  ASSERT_EQ(S_OK, x.ExtractFeatures(empty));
  EXPECT_EQ("\r\n", Str(x.text));
  EXPECT_EQ(0u, x.ngrams.GetCount());
  EXPECT_EQ(0.0, x.ngrams.DotProduct());
}

TEST(MailFeatures, SubjectBlanksAfterDecoding) {
  const struct {
    const char* subject;
    bool raised;
  } cases[] = {
      {"a      b", false},                      // six
      {"a       b", true},                      // seven
      {"\t\t\t\t\t\t\t", true},
      {"      x      ", false},
      {"=?US-ASCII?Q?a_______b?=", true},       // seven from the encoded word
      {"=?US-ASCII?Q?a___?=  b", false},        // three, the joining blank, two raw
      {"=?US-ASCII?Q?a____?=  b", true},        // four, the joining blank, two raw
      {"no =? end      x", false},
  };
  CMailFeatureExtractor x(nullptr);
  for (const auto& c : cases) {
    CRfc822Message m;
    m.Subject() = c.subject;
    ASSERT_EQ(S_OK, x.ExtractFeatures(m));
    EXPECT_EQ(c.raised, x.features[MAIL_FEATURE_SUBJECT_BLANKS] == 1.0) << c.subject;
  }
  // "=?" without a later "?=" stays raw.
  CRfc822Message m;
  m.Subject() = "x ?= y =?abc";
  ASSERT_EQ(S_OK, x.ExtractFeatures(m));
  EXPECT_EQ("x ?= y =?abc", Str(x.subject));
}

TEST(MailFeatures, FileEntryPoint) {
  TempDir dir;
  const std::string path = dir / "m.eml";
  telsor_test::WriteFileBytes(path, Plain(kProse));
  CMailFeatureExtractor x(dir.path().c_str());
  ASSERT_EQ(S_OK, x.ExtractFeatures(TSTRING(path.c_str()), nullptr));
  EXPECT_NE(std::string::npos, Str(x.text).find("library wing"));
  struct stat st;
  EXPECT_EQ(0, stat(path.c_str(), &st));  // the file stays

  // With a parser of the caller's.
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  ASSERT_EQ(S_OK, parser->OpenSession(nullptr));
  CMailFeatureExtractor y(nullptr);
  ASSERT_EQ(S_OK, y.ExtractFeatures(TSTRING(path.c_str()), parser));
  EXPECT_EQ(Str(x.text), Str(y.text));

  // A missing file: the parse's code, nothing extracted.
  CMailFeatureExtractor z(nullptr);
  EXPECT_EQ(ResultFromSystemError(ERROR_FILE_NOT_FOUND), z.ExtractFeatures(TSTRING((dir / "absent").c_str()), nullptr));
  EXPECT_TRUE(z.text.IsEmpty());
}

TEST(MailFeatures, CopiesAndEmpty) {
  CMailFeatureExtractor x("/tmp");
  x.SetVersion(2);
  std::unique_ptr<CRfc822Message> m = Parse(Alternative(Html("")));
  ASSERT_EQ(S_OK, x.ExtractFeatures(*m));
  CMailFeatureExtractor copy(x);
  EXPECT_EQ(Str(x.text), Str(copy.text));
  EXPECT_EQ(Str(x.htmlText), Str(copy.htmlText));
  EXPECT_EQ(2u, copy.version);
  EXPECT_EQ("/tmp", Str(copy.tmpDirectory));
  x.Empty();
  EXPECT_TRUE(x.text.IsEmpty() && x.htmlText.IsEmpty() && x.subject.IsEmpty());
  EXPECT_EQ(0u, x.ngrams.GetCount());
  EXPECT_EQ(25u, x.features.GetSize());
  EXPECT_EQ(2u, x.version);
  EXPECT_FALSE(copy.text.IsEmpty());
}

TEST(MailFeatures, FeatureDump) {
  CMailFeatureExtractor x(nullptr);
  x.features.SetAt(9, 1.0);
  TempDir dir;
  FILE* f = fopen((dir / "dump").c_str(), "w+");
  ASSERT_NE(nullptr, f);
  x.PrintMetricData(f);
  fclose(f);
  const std::string dump = telsor_test::ReadFileBytes(dir / "dump");
  EXPECT_EQ(0u, dump.find("'Has invalid EOL sequence ?'  0\n"));
  EXPECT_NE(std::string::npos, dump.find("\n'Has any attachement ?'  1\n"));
  EXPECT_EQ(25, std::count(dump.begin(), dump.end(), '\n'));
}

// The matchers and message tests.

TEST(MailMatchers, ArmouredBlocks) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"a\r\n-----BEGIN PGP MESSAGE-----\r\nhQEMA\r\n-----END PGP MESSAGE-----\r\nb",
       "a\r\n-----BEGIN PGP MESSAGE----END PGP MESSAGE-----\r\nb"},
      {"--begin pgp message--x--end pgp message--|--BEGIN PGP MESSAGE--y--END PGP MESSAGE--",
       "--begin pgp message----end pgp message--|--BEGIN PGP MESSAGE----END PGP MESSAGE--"},
      {"--BEGIN PGP MESSAGE-- no end here", "--BEGIN PGP MESSAGE-- no end here"},
      {"text --BEGIN PGP MESSAGE--", "text --BEGIN PGP MESSAGE--"},
      // Clear-signed: the body stays, the signature is emptied.
      {"-----BEGIN PGP SIGNED MESSAGE-----\r\nbody\r\n-----BEGIN PGP SIGNATURE-----\r\nsig\r\n"
       "-----END PGP SIGNATURE-----\r\n",
       "-----BEGIN PGP SIGNED MESSAGE-----\r\nbody\r\n-----BEGIN PGP SIGNATURE----END PGP SIGNATURE-----\r\n"},
      {"-- Play-By-Email Data Follows This Line --moves-- End of Play-By-Email Data --",
       "-- Play-By-Email Data Follows This Line ---- End of Play-By-Email Data --"},
      {"--BEGIN GEEK CODE BLOCK--GCS d--END GEEK CODE BLOCK--", "--BEGIN GEEK CODE BLOCK----END GEEK CODE BLOCK--"},
      {"--BEGIN PGP PUBLIC KEY BLOCK--k--END PGP PUBLIC KEY BLOCK--",
       "--BEGIN PGP PUBLIC KEY BLOCK----END PGP PUBLIC KEY BLOCK--"},
      {"", ""},
      // Any case, after a NUL byte, and a play-by-email block beside one.
      {std::string("x\0y--Begin Geek Code Block--z--end geek code block--", 52),
       std::string("x\0y--Begin Geek Code Block----end geek code block--", 51)},
      {"--BEGIN PGP SIGNATURE--s--END PGP SIGNATURE---- Play-By-Email Data Follows This Line --m"
       "-- End of Play-By-Email Data --",
       "--BEGIN PGP SIGNATURE----END PGP SIGNATURE---- Play-By-Email Data Follows This Line ---- End of "
       "Play-By-Email Data --"},
  };
  for (const auto& c : cases) {
    TSTRING t(c.in.data(), static_cast<int>(c.in.size()));
    RemoveEncryptedPart(t);
    EXPECT_EQ(c.out, Str(t)) << c.in;
  }
}

TEST(MailMatchers, HtmlMarkers) {
  EXPECT_TRUE(IsHTMLText("x <img src=a>"));
  EXPECT_TRUE(IsHTMLText("</TaBlE>"));
  EXPECT_TRUE(IsHTMLText("a <FRAME > b"));
  EXPECT_FALSE(IsHTMLText("<html><img>"));  // no marker: opening tags and IMG without a blank
  EXPECT_FALSE(IsHTMLText(""));
  EXPECT_FALSE(IsHTMLText(nullptr));
  EXPECT_EQ(11, [] {
    int n = 0;
    while (CDetectHtml::aszWords[n] != nullptr) ++n;
    return n;
  }());
}

TEST(MailMatchers, HtmlOnlyMessages) {
  const struct {
    std::string message;
    bool htmlOnly;
  } cases[] = {
      {std::string(kHead) + "Content-Type: TEXT/HTML\r\n\r\nx\r\n", true},
      {Plain("x"), false},
      {AlternativeOf({{"text/html", "x"}, {"image/gif", "g"}}), true},
      {AlternativeOf({{"text/html", "x"}, {"text/enriched", "g"}}), true},
      {AlternativeOf({{"text/html", "x"}, {"text/plainish", "g"}}), false},
      {AlternativeOf({{"text/html", "x"}, {"text", "g"}}), false},
      {std::string(kHead) +
           "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/html\r\n\r\nx\r\n"
           "--b\r\n\r\nno type\r\n--b--\r\n",
       false},
      {std::string(kHead) +
           "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/html\r\n\r\nx\r\n"
           "--b\r\nContent-Type: message/rfc822\r\n\r\nSubject: in\r\nContent-Type: text/plain\r\n\r\ny\r\n--b--\r\n",
       false},
  };
  for (const auto& c : cases) {
    std::unique_ptr<CRfc822Message> m = Parse(c.message);
    EXPECT_EQ(c.htmlOnly, IsHTMLOnlyMessage(*m)) << c.message;
  }
}

TEST(MailMatchers, SubjectBlanksEncodingsAndEmptyText) {
  EXPECT_TRUE(ManySpaceInSubject(TSTRING("\t\t\t\t\t\t\t"), 7));
  EXPECT_FALSE(ManySpaceInSubject(TSTRING("      a      "), 7));
  EXPECT_TRUE(ManySpaceInSubject(TSTRING(" \0 \r\n\v\f", 7), 7));  // NUL counts
  EXPECT_FALSE(ManySpaceInSubject(TSTRING("\xA0\xA0\xA0\xA0\xA0\xA0\xA0"), 7));
  for (int e = 0; e <= 7; ++e) {
    EXPECT_EQ(e < 1 || e > 4, IsObscureEncoding(static_cast<tag_CONTENT_ENCODING>(e))) << e;
  }
  EXPECT_TRUE(IsTextEmpty(TSTRING(" \t\r\n")));
  EXPECT_FALSE(IsTextEmpty(TSTRING(" x")));
}

}  // namespace
