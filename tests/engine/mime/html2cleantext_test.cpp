// The HTML-to-clean-text converter: clean text and counters for text, tags,
// colours, comments, scripts and URLs, in both URL modes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mime/html2cleantext.h"
#include "mime/htmlurl.h"

using namespace telsor;

namespace {

// The counters that are not 0, in field order, as "Name=value" joined by blanks.
std::string Counters(const CHtml2CleanText& c) {
  const std::pair<const char*, DWORD> all[] = {
      {"CommentCount", c.m_dwCommentCount},     {"CommentLength", c.m_dwCommentLength},
      {"FrameCount", c.m_dwFrameCount},         {"UrlLength", c.m_dwUrlLength},
      {"ScriptLength", c.m_dwScriptLength},     {"TextAfterHtmlEnd", c.m_bTextAfterHtmlEnd},
      {"TinyFont", c.m_bTinyFont},              {"ScriptWrites", c.m_bScriptWrites},
      {"InvisibleText", c.m_bInvisibleText},    {"EmbeddedContent", c.m_bEmbeddedContent},
      {"BadTag", c.m_bBadTag},                  {"BadCharset", c.m_bBadCharset},
      {"LongWord", c.m_bLongWord},
  };
  std::string out;
  for (const auto& kv : all) {
    if (kv.second == 0) continue;
    if (!out.empty()) out += " ";
    out += kv.first + std::string("=") + std::to_string(kv.second);
  }
  return out;
}

struct Result {
  std::string text;
  std::string counters;
  std::vector<std::string> urls;
};

Result Convert(const std::string& html, ULONG options = 0) {
  CHtml2CleanText conv(options);
  TSTRING text(html.data(), static_cast<int>(html.size()));
  EXPECT_EQ(S_OK, conv.Execute(text, 0, nullptr));
  Result r;
  r.text.assign(text.c_str(), static_cast<size_t>(text.GetLength()));
  r.counters = Counters(conv);
  const CPList<TSTRING, TSTRING&>& urls = conv.GetUrls();
  for (void* p = urls.GetHeadPosition(); p != nullptr;) {
    const TSTRING& u = urls.GetNext(p);
    r.urls.emplace_back(u.c_str(), static_cast<size_t>(u.GetLength()));
  }
  return r;
}

struct Case {
  const char* html;
  const char* text;
  const char* counters;
};

void RunTable(const Case* cases, size_t n, ULONG options) {
  for (size_t i = 0; i < n; ++i) {
    Result r = Convert(cases[i].html, options);
    EXPECT_EQ(cases[i].text, r.text) << cases[i].html;
    EXPECT_EQ(cases[i].counters, r.counters) << cases[i].html;
  }
}

const std::string k33Letters(33, 'w');

TEST(Html2CleanText, TextAndMarkers) {
  const std::string longWord = "a" + k33Letters + "b";
  const std::string words[] = {k33Letters, std::string(32, 'w'), std::string(20, 'w') + "." + std::string(20, 'w'),
                               std::string(20, 'w') + ":" + std::string(20, 'w'),
                               std::string(20, 'w') + "-" + std::string(20, 'w')};
  const Case cases[] = {
      {"", "", ""},
      {"  Hello   world  ", "Hello world ", ""},
      {"a\r\n\tb", "a b", ""},
      {"a</html>b", "a<HTMEND>b", "TextAfterHtmlEnd=1"},
      {"a</html>.", "a.", ""},
      {"a</html>.b", "a<HTMEND>.b", "TextAfterHtmlEnd=1"},
      {"a</html>&nbsp;b", "a <HTMEND>b", "TextAfterHtmlEnd=1"},
      {"a</html>&amp;", "a<HTMEND>&", "TextAfterHtmlEnd=1"},
      {"a&nbsp;&nbsp;b", "a  b", ""},
      {"a &amp; b", "a & b", ""},
      {"a</body>b<body>c</body>d", "a<HTMEND>b cd", "TextAfterHtmlEnd=1"},
      {"</html><html>x", "x", ""},
      {"</HTML><HTML>x", "x", ""},
      {"</html>x<html>y</html>z", "<HTMEND>xyz", "TextAfterHtmlEnd=1"},
      {"x<script>document.write('x')</script>y",
       "x <SCRIPT>\r\ndocument.write('x')\r\n</SCRIPT>\r\ny", "ScriptLength=19 ScriptWrites=1"},
      {"<script>d . writeln (1)</script>", "<SCRIPT>\r\nd . writeln (1)\r\n</SCRIPT>\r\n",
       "ScriptLength=15 ScriptWrites=1"},
      {"<script>document.Write('x')</script>", "<SCRIPT>\r\ndocument.Write('x')\r\n</SCRIPT>\r\n",
       "ScriptLength=19"},
      {"<script>write(1)</script>", "<SCRIPT>\r\nwrite(1)\r\n</SCRIPT>\r\n", "ScriptLength=8"},
      {"<script></script>", "", ""},
      {"<style>p{color:red}</style>x", "x", ""},
      {"<!-- abc -->", "", "CommentCount=1 CommentLength=8"},
      {"a<!-- b -->c", "ac", "CommentCount=1 CommentLength=6"},
      {"<comment>x y</comment>z", "z", "CommentCount=1 CommentLength=4"},
      {"<comment a=b>x<b>y</b></COMMENT >z", "z", "CommentCount=1 CommentLength=10"},
      {"<comment>x", "", "CommentCount=1 CommentLength=1"},
      {"<img src=a.gif>", "<IMGSRC>\r\na.gif", "UrlLength=5"},
      {"a<map>b", "a<IMGSRC>b", ""},
      {"x<iframe src=y>", "x <IFRAME>\r\ny", "FrameCount=1 UrlLength=1"},
      {"<p>a</p><p>b", "a b", ""},
      {"a<br>b<br><br>c", "a\r\nb\r\n\r\nc", ""},
      {"a<br/>b", "ab", ""},
      {"a<br />b", "a\r\nb", ""},
      {"a<div>b", "a\r\nb", ""},
      {"a<h1>b</h1>c<li>d", "a bc d", ""},  // "/H1" is no block tag
      {"a<span>b</span>c", "abc", ""},
      // The character set of a META tag has no effect.
      {"<meta content='text/html; charset=koi8-r'>", "", ""},
      {"<META HTTP-EQUIV=Content-Type CONTENT=\"text/html; charset=(x) utf-8\">x", "x", ""},
      {"<meta content='charset=koi8-r'>x<meta content=';;charset'>y", "xy", ""},
      {"&#0;  x", " x", ""},  // an empty entity text empties nothing but the ends-in-blank state
  };
  RunTable(cases, sizeof cases / sizeof cases[0], 0);
  EXPECT_EQ("LongWord=1", Convert(words[0]).counters);
  EXPECT_EQ("", Convert(words[1]).counters);
  EXPECT_EQ("", Convert(words[2]).counters);
  EXPECT_EQ("", Convert(words[3]).counters);
  EXPECT_EQ("", Convert(words[4]).counters);
  EXPECT_EQ("LongWord=1", Convert("<p>" + longWord + "</p>").counters);
  // A long attribute value is not a word of the text.
  EXPECT_EQ("", Convert("<p title=" + longWord + ">").counters);
}

TEST(Html2CleanText, BadTags) {
  const Case cases[] = {
      {"<a", "", "BadTag=1"},
      {"<a  ", "", "BadTag=1"},
      {"<", "", ""},
      {"x< \t", "x", ""},
      {"<>", "", "BadTag=1"},
      {"<a &amp; b>", "", "BadTag=1"},
      {"<a &nbsp; b>", "", ""},  // blank entities before the attributes are skipped
      {"<a b &nbsp;>", "", "BadTag=1"},
      {"<<b>x", "x", "BadTag=1"},
      {"</", "", "BadTag=1"},
      {"<\"q\">x", "x", "BadTag=1"},
      // Quotes inside a word are word characters: one value "c'd'".
      {"<a href=c'd'>", "\r\nc'd'", "UrlLength=4"},
      // A quoted piece after pending text joins it and marks the tag.
      {"<a href=&amp;'c'>", "\r\n&c", "UrlLength=2 BadTag=1"},
      {"<a b='c'd>", "", ""},
      {"<a href=x", "\r\n", ""},  // HREF handed on with an empty value; "x" dropped
      {"<p>x", "x", ""},
  };
  RunTable(cases, sizeof cases / sizeof cases[0], 0);
}

TEST(Html2CleanText, ColoursAndVisibility) {
  const Case cases[] = {
      {"<font color=white>x</font>y", "y", "InvisibleText=1"},
      {"<font color=white> </font>y", "y", ""},
      {"<body bgcolor=black text=#000000>x", "", "InvisibleText=1"},
      {"<body bgcolor=black><font color=#101010>x", "", "InvisibleText=1"},
      {"<body bgcolor=black><font color=#111010>x", "x", ""},
      {"<font color=#101010>x", "x", ""},
      {"<font color=#cfcfcf>x", "x", ""},
      {"<font color=#efefef>x", "", "InvisibleText=1"},
      {"<font color=white><td>x</font>y", "", "InvisibleText=1"},
      {"<font color=white><td>x</td>y", "", "InvisibleText=1"},
      {"<font color=white><td>x</td></font>y", "y", "InvisibleText=1"},
      {"<p color=white>x", "x", ""},
      {"<td bgcolor=#000000 color=white>x</td>y", "x y", ""},
      {"<table bgcolor=white><tr><td>x", "x", ""},  // black on white
      {"<font color=red bgcolor=#fe0000>x", "", "InvisibleText=1"},
      {"<font color=red bgcolor=red>x</font>y<b>z", "yz", "InvisibleText=1"},
      // Markers are written whatever the colours.
      {"<font color=white></html>x<img>", "<HTMEND><IMGSRC>", "TextAfterHtmlEnd=1 InvisibleText=1"},
      {"<font color=white><script>s</script>", "<SCRIPT>\r\ns\r\n</SCRIPT>\r\n", "ScriptLength=1"},
      // An empty colour value changes nothing.
      {"<font color=white><font color=>x", "", "InvisibleText=1"},
      // STYLE is taken and ignored.
      {"<font style='color:white'>x", "x", ""},
      {"<font size=1>", "", "TinyFont=1"},
      {"<font size=+1>", "", "TinyFont=1"},
      {"<font size=0>", "", "TinyFont=1"},
      {"<font size=>", "", "TinyFont=1"},
      {"<font size=-1>", "", ""},
      {"<font size=2>", "", ""},
      {"<p size=1>", "", ""},
      {"<font color=white", "", ""},
  };
  RunTable(cases, sizeof cases / sizeof cases[0], 0);
}

// Scopes: only the innermost closes, and a pop restores the colours of the
// scope below it.
TEST(Html2CleanText, ColourScopesNest) {
  EXPECT_EQ("a c", Convert("<font color=red>a<font color=white>b</font> c</font>").text);
  EXPECT_EQ("a", Convert("<font color=red>a<font color=white>b</font></font><font color=white>c").text);
  EXPECT_EQ("ad", Convert("a<font color=white>b<b>c</b></FONT>d").text);
  // Many nested scopes unwind one by one.
  std::string html;
  for (int i = 0; i < 50; ++i) html += i % 2 ? "<font color=white>" : "<font color=black>";
  html += "x";
  for (int i = 0; i < 50; ++i) html += std::string("</font>") + static_cast<char>('a' + i % 26);
  // Innermost (i = 49) is white: "x" and "a" (still inside i = 48, black)...
  Result r = Convert(html);
  std::string want;
  for (int i = 0; i < 50; ++i) {
    // After closing scope 49 - i, scope 48 - i is in force (default after the last).
    int inner = 48 - i;
    bool white = inner >= 0 && inner % 2 == 1;
    if (!white) want += static_cast<char>('a' + i % 26);
  }
  EXPECT_EQ(want, r.text);
  EXPECT_EQ("InvisibleText=1", r.counters);
}

TEST(Html2CleanText, Urls) {
  const std::string long2000 = "http://h/" + std::string(1991, 'p');
  const std::string plain2000 = "x" + std::string(1999, 'p');
  struct UrlCase {
    std::string url;
    std::string written;  // without brackets
    bool embedded;
  };
  const UrlCase cases[] = {
      {"http://host/index.html", "http://host/index.html", false},
      {"HTTP://HOST/Index.html", "http://host/index.html", false},
      {"http://host/a%20b", "|pspam|URL:||||http://host/a b", false},
      {"http://host/%41", "|pspam|URL:||||http://host/A", false},
      {"http://host/?q=%41", "http://host/?q=%41", false},
      {"http://host/%", "|pspam|URL:||||http://host/", false},
      {"http://host/%4", "|pspam|URL:||||http://host/", false},
      {"http://host/%zz", "http://host/%zz", false},
      {"http://host/%%", "|pspam|URL:||||http://host/%", false},
      {"http://host/%4?", "http://host/%4?", false},
      {"http://host/%?%41", "http://host/%?%41", false},
      {"http://host/%25%3F%41", "|pspam|URL:||||http://host/%?A", false},
      {"http://a@b@host/x", "|pspam|URL:||||http://host/x", false},
      {"http://host/x@y", "http://host/x@y", false},
      {"http://0x7f.0.0.1/", "|pspam|URL:||||http://127.0.0.1/", false},
      {"http://0177.0.0.1/", "|pspam|URL:||||http://127.0.0.1/", false},
      {"http://2130706433/", "|pspam|URL:||||http://127.0.0.1/", false},
      {"http://u:p@2130706433/", "|pspam|URL:||||http://127.0.0.1/", false},
      {"http://127.1/", "|pspam|URL:||||http://0.0.127.1/", false},
      {"http://1.2.3.4.5/", "|pspam|URL:||||http://2.3.4.5/", false},
      {"http://2130706433:80/", "|pspam|URL:||||http://0.0.0.1:80/", false},
      {"http://1.2.3.4:8080/x", "http://1.2.3.4:8080/x", false},
      {"http://1.2.3.4:0/", "|pspam|URL:||||http://1.2.3.4/", false},
      {"http://0/", "http://0/", false},
      {"http://1a.b/", "http://1a.b/", false},
      {"http://0x7g/", "http://0x7g/", false},
      {"http://1.2.3.4?x=1", "|pspam|URL:||||http://1.2.3.41", false},
      {"https://0x0a000001/", "|pspam|URL:||||https://10.0.0.1/", false},
      {"go('http://0x0a000001/')", "|pspam|URL:||||go('http://10.0.0.1/')", false},
      {"cid:part1", "<CID:>", true},
      {"CID:Part1", "<CID:>", true},
      {"cid:a%41", "|pspam|URL:||||cid:aA", false},
      {"ci", "ci", false},
      {long2000, "|pspam|URL:||||" + long2000.substr(0, 1024), false},
      {plain2000, plain2000, false},
  };
  for (const UrlCase& c : cases) {
    std::string html = "<a href=\"" + c.url + "\">x</a>";
    Result inl = Convert(html, CHtml2CleanText::HTO_INLINE_URLS);
    EXPECT_EQ("<" + c.written + ">x", inl.text) << c.url;
    EXPECT_TRUE(inl.urls.empty());
    Result col = Convert(html, 0);
    EXPECT_EQ("x\r\n" + c.written, col.text) << c.url;
    ASSERT_EQ(1u, col.urls.size());
    EXPECT_EQ(c.url, col.urls[0]);
    EXPECT_EQ(inl.counters, col.counters) << c.url;
    EXPECT_EQ(c.embedded, inl.counters.find("EmbeddedContent=1") != std::string::npos) << c.url;
    // The URL length is that of the normalised text.
    TSTRING u = NormalizeHtmlUrl(TSTRING(c.url.data(), static_cast<int>(c.url.size())));
    EXPECT_NE(std::string::npos,
              (" " + inl.counters + " ").find(" UrlLength=" + std::to_string(u.GetLength()) + " "))
        << c.url;
  }
  // "019": a leading zero, then "1" octal, then "9" ends the reading: no rewrite.
  EXPECT_EQ("<http://019/>", Convert("<a href=http://019/>", 1).text);
}

TEST(Html2CleanText, UrlModes) {
  // With brackets.
  EXPECT_EQ("<http://host/>", Convert("<a href=http://host/>", 1).text);
  EXPECT_EQ("<|pspam|URL:||||http://host/a b>", Convert("<a href=http://host/a%20b>", 1).text);
  EXPECT_EQ("<<CID:>>", Convert("<img src=cid:x>", 1).text.substr(8));
  // The four URL attributes, in document order; other attributes are not URLs.
  Result r = Convert("a<a href=1 name=n><img src=2><object codebase=3 archive=4 data=5>b");
  EXPECT_EQ("a<IMGSRC>b\r\n1\r\n2\r\n3\r\n4", r.text);
  EXPECT_EQ((std::vector<std::string>{"1", "2", "3", "4"}), r.urls);
  EXPECT_EQ("a<1><IMGSRC><2><3><4>b", Convert("a<a href=1 name=n><img src=2><object codebase=3 archive=4 data=5>b", 1).text);
  // "<a href>" hands on an empty URL, "<a href >" nothing.
  EXPECT_EQ("<>", Convert("<a href>", 1).text);
  EXPECT_EQ((std::vector<std::string>{""}), Convert("<a href>").urls);
  EXPECT_EQ("", Convert("<a href >", 1).text);
  EXPECT_TRUE(Convert("<a href >").urls.empty());
  // In place, URLs are visible-only; collected ones are written whatever the colours.
  Result hidden = Convert("<font color=white><a href=http://h/>x</a>", 1);
  EXPECT_EQ("", hidden.text);
  EXPECT_EQ("UrlLength=9 InvisibleText=1", hidden.counters);
  EXPECT_EQ("\r\nhttp://h/", Convert("<font color=white><a href=http://h/>x</a>", 0).text);
  // Two collected URLs end the text, one per line.
  EXPECT_EQ("t \r\na\r\nb", Convert("t <a href=A><a href=B>").text);
}

TEST(Html2CleanText, ExecuteStartsAfresh) {
  CHtml2CleanText conv(0);
  TSTRING a("<font color=white>x<a href=u><!--c--></html>y");
  ASSERT_EQ(S_OK, conv.Execute(a, 0, nullptr));
  EXPECT_STREQ("<HTMEND>\r\nu", a.c_str());
  EXPECT_EQ("CommentCount=1 CommentLength=4 UrlLength=1 TextAfterHtmlEnd=1 InvisibleText=1", Counters(conv));
  TSTRING b("p q");
  ASSERT_EQ(S_OK, conv.Execute(b, 0, "koi8-r"));
  EXPECT_STREQ("p q", b.c_str());
  EXPECT_EQ("", Counters(conv));
  EXPECT_EQ(0, conv.GetUrls().GetCount());
  TSTRING c("<font color=white>x<a href=u><!--c--></html>y");
  ASSERT_EQ(S_OK, conv.Execute(c, 0, nullptr));
  EXPECT_STREQ(a.c_str(), c.c_str());
  TSTRING empty;
  ASSERT_EQ(S_OK, conv.Execute(empty, 0, nullptr));
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_EQ("", Counters(conv));
}

// A text shared with another string: the other keeps the HTML.
TEST(Html2CleanText, SharedTextIsNotChangedBehindItsBack) {
  TSTRING html("<b>bold</b>");
  TSTRING copy = html;
  CHtml2CleanText conv(0);
  ASSERT_EQ(S_OK, conv.Execute(copy, 0, nullptr));
  EXPECT_STREQ("bold", copy.c_str());
  EXPECT_STREQ("<b>bold</b>", html.c_str());
}

// Markers make the text longer than its input; it grows as needed.
TEST(Html2CleanText, OutputLongerThanInput) {
  std::string html;
  for (int i = 0; i < 5000; ++i) html += "<img>";
  Result r = Convert(html);
  ASSERT_EQ(5000u * 8, r.text.size());
  EXPECT_EQ("<IMGSRC><IMGSRC>", r.text.substr(0, 16));
}

}  // namespace
