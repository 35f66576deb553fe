// The HTML tokenizer: token tables for text, tags, entities, comments and
// script and style bodies, over memory and over a stream.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/teststream.h"
#include "mime/htmlentities.h"
#include "mime/htmltokenizer.h"

using namespace telsor;

namespace {

const char* const kKindNames[] = {"WORD", "SPACE", "ENTITY", "DQ",     "SQ",     "OPEN", "NAME",
                                  "CLOSE", "COMMENT", "EQUAL", "SCRIPT", "STYLE", "EOF"};

// Every token up to the end as "KIND:text" lines joined by "|", the end
// itself included once.
std::string Tokens(CHTMLTokenizer& tok) {
  std::string out;
  tag_HTML_TOKEN t;
  for (;;) {
    int more = tok.GetNextToken(t);
    if (!out.empty()) out += "|";
    out += kKindNames[t.nKind];
    if (t.nKind == HTML_EOF) {
      EXPECT_EQ(0, more);
      EXPECT_EQ("", std::string(t.strText.c_str()));
      break;
    }
    EXPECT_EQ(1, more);
    out += ":" + std::string(t.strText.c_str(), static_cast<size_t>(t.strText.GetLength()));
  }
  return out;
}

std::string Tokens(const std::string& html) {
  CHTMLTokenizer tok(reinterpret_cast<const unsigned char*>(html.data()),
                     static_cast<ULONG>(html.size()));
  return Tokens(tok);
}

struct Case {
  const char* html;
  const char* tokens;
};

TEST(HtmlTokenizer, TokenTable) {
  const Case cases[] = {
      {"", "EOF"},
      {"<p class=x>", "OPEN:<|NAME:p|SPACE: |WORD:class|EQUAL:=|WORD:x|CLOSE:>|EOF"},
      {"a>b=c", "WORD:a>b=c|EOF"},
      {"a<b", "WORD:a|OPEN:<|NAME:b|EOF"},
      {"<a title='1>2'>", "OPEN:<|NAME:a|SPACE: |WORD:title|EQUAL:=|SQ:1|CLOSE:>|WORD:2'>|EOF"},
      {"</ b>", "OPEN:<|NAME:/b|CLOSE:>|EOF"},
      {"</>", "OPEN:<|NAME:|CLOSE:>|EOF"},
      {"<<b>", "OPEN:<|WORD:|WORD:<b|CLOSE:>|EOF"},
      {"</", "OPEN:<|WORD:|EOF"},
      {"</ \"x\">", "OPEN:<|WORD:|DQ:x|CLOSE:>|EOF"},
      {"<br/>", "OPEN:<|NAME:br/|CLOSE:>|EOF"},
      {"<a=b>", "OPEN:<|NAME:a|EQUAL:=|WORD:b|CLOSE:>|EOF"},
      {"<!DOCTYPE html>", "OPEN:<|NAME:!DOCTYPE|SPACE: |WORD:html|CLOSE:>|EOF"},
      {"< \"q\" x>", "OPEN:<|SPACE: |DQ:q|SPACE: |WORD:x|CLOSE:>|EOF"},
      {"<>x", "OPEN:<|CLOSE:>|WORD:x|EOF"},
      {"<a b=\"x<y\">", "OPEN:<|NAME:a|SPACE: |WORD:b|EQUAL:=|DQ:x|WORD:<y\"|CLOSE:>|EOF"},
      {"<a b='it\"s'>", "OPEN:<|NAME:a|SPACE: |WORD:b|EQUAL:=|SQ:it\"s|CLOSE:>|EOF"},
      {"<a b=\"x&amp;y\">", "OPEN:<|NAME:a|SPACE: |WORD:b|EQUAL:=|DQ:x&y|CLOSE:>|EOF"},
      {"<a b=\"x", "OPEN:<|NAME:a|SPACE: |WORD:b|EQUAL:=|DQ:x|EOF"},
      {" \t\r\n x", "SPACE: \t\r\n |WORD:x|EOF"},
      {"<a\n\tb>", "OPEN:<|NAME:a|SPACE:\n\t|WORD:b|CLOSE:>|EOF"},
      // Inside a tag quotes, "/" and "<" are word characters.
      {"<a x/y<z>", "OPEN:<|NAME:a|SPACE: |WORD:x/y<z|CLOSE:>|EOF"},
      // An entity in a tag's name place keeps the tag-start mode.
      {"<&nbsp;b>", "OPEN:<|ENTITY: |NAME:b|CLOSE:>|EOF"},
      {"<a&amp;b>", "OPEN:<|NAME:a|ENTITY:&|WORD:b|CLOSE:>|EOF"},
      // Bytes 128-255 are ordinary characters.
      {"\xC3\xA9t\xC3\xA9", "WORD:\xC3\xA9t\xC3\xA9|EOF"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.tokens, Tokens(c.html)) << c.html;
}

TEST(HtmlTokenizer, EntityTable) {
  const Case cases[] = {
      {"&amp;", "ENTITY:&|EOF"},
      {"&AMP;", "ENTITY: |EOF"},
      {"&nbsp;", "ENTITY: |EOF"},
      {"&#160;", "ENTITY: |EOF"},
      {"&#32;", "ENTITY: |EOF"},
      {"&reg;", "ENTITY:\xC2\xAE|EOF"},
      {"&not;", "ENTITY:\xC2\xAC|EOF"},
      {"&trade;", "ENTITY:\xE2\x84\xA2|EOF"},
      {"&euro;", "ENTITY:\xE2\x82\xAC|EOF"},
      {"&Yuml;", "ENTITY:\xC5\xB8|EOF"},
      {"&alpha;", "ENTITY: |EOF"},  // symbol set other than trade: not known
      {"&#65;", "ENTITY:A|EOF"},
      {"&#;", "ENTITY:|EOF"},
      {"&#1234567;", "ENTITY:\xF0\x9D\x9A\x87|EOF"},
      {"&#12345678;", "WORD:&#12345678;|EOF"},
      {"&#x41;", "WORD:&#x41;|EOF"},
      {"AT&T; x", "WORD:AT|ENTITY: |SPACE: |WORD:x|EOF"},
      {"& <b>;", "ENTITY: |EOF"},
      {"&#128512;", "ENTITY:\xF0\x9F\x98\x80|EOF"},
      {"&#262144;", "ENTITY:\xF1\x80\x80\x80|EOF"},
      {"&#1114112;", "ENTITY:|EOF"},
      {"&#1114177;", "ENTITY:A|EOF"},
      {"&;", "WORD:&;|EOF"},
      {"&", "WORD:&|EOF"},
      {"a&b", "WORD:a&b|EOF"},
      // One to eight characters between "&" and ";".
      {"&abcdefgh;", "ENTITY: |EOF"},
      {"&abcdefghi;", "WORD:&abcdefghi;|EOF"},
      {"x&&amp;", "WORD:x|ENTITY: |EOF"},  // "&" + "&amp;" is one unknown name
  };
  for (const Case& c : cases) EXPECT_EQ(c.tokens, Tokens(c.html)) << c.html;
}

TEST(HtmlTokenizer, EntityCodes) {
  struct Row {
    const char* html;
    ULONG code;
  };
  const Row rows[] = {{"&amp;", 38}, {"&AMP;", 32}, {"&nbsp;", 160}, {"&#160;", 160},
                      {"&reg;", 174}, {"&trade;", 8482}, {"&#;", 0}, {"&#1114177;", 1114177}};
  for (const Row& r : rows) {
    CHTMLTokenizer tok(reinterpret_cast<const unsigned char*>(r.html), static_cast<ULONG>(strlen(r.html)));
    tag_HTML_TOKEN t;
    ASSERT_EQ(1, tok.GetNextToken(t));
    EXPECT_EQ(HTML_ENTITY, t.nKind);
    EXPECT_EQ(r.code, t.dwCode) << r.html;
  }
  // Other tokens leave the code alone.
  CHTMLTokenizer tok(reinterpret_cast<const unsigned char*>("&reg;x"), 6);
  tag_HTML_TOKEN t;
  tok.GetNextToken(t);
  tok.GetNextToken(t);
  EXPECT_EQ(HTML_WORD, t.nKind);
  EXPECT_EQ(174u, t.dwCode);
}

TEST(HtmlTokenizer, EveryTableEntityDecodes) {
  int rows = 0;
  for (const tag_HTML_ENTITY* e = g_aHtmlEntities; e->pszName != nullptr; ++e, ++rows) {
    CHTMLTokenizer tok(reinterpret_cast<const unsigned char*>(e->pszName),
                       static_cast<ULONG>(strlen(e->pszName)));
    tag_HTML_TOKEN t;
    ASSERT_EQ(1, tok.GetNextToken(t)) << e->pszName;
    EXPECT_EQ(HTML_ENTITY, t.nKind) << e->pszName;
    EXPECT_EQ(e->dwCode, t.dwCode) << e->pszName;
    EXPECT_EQ(0, tok.GetNextToken(t)) << e->pszName;
    // Names are exact: changing the case of the first letter misses.
    std::string other = e->pszName;
    other[1] = static_cast<char>(isupper(static_cast<unsigned char>(other[1])) ? tolower(other[1]) : toupper(other[1]));
    if (LookupHtmlEntity(other.c_str() + 1, static_cast<ULONG>(other.size() - 1)) != 32) {
      // Pairs such as &Auml; / &auml; exist; then the other one answers.
      EXPECT_NE(e->dwCode, LookupHtmlEntity(other.c_str() + 1, static_cast<ULONG>(other.size() - 1)));
    }
  }
  EXPECT_EQ(HTML_ENTITY_COUNT, rows);
  // Latin-1 rows run from 160 to 255 in order.
  for (int i = 0; i < 96; ++i) EXPECT_EQ(static_cast<ULONG>(160 + i), g_aHtmlEntities[i].dwCode);
}

TEST(HtmlTokenizer, UnicodeToUTF8) {
  struct Row {
    ULONG code;
    const char* bytes;
    int n;
  };
  const Row rows[] = {
      {0x41, "A", 1},        {0x7F, "\x7F", 1},         {0x80, "\xC2\x80", 2},
      {0x7FF, "\xDF\xBF", 2}, {0x800, "\xE0\xA0\x80", 3}, {0xD800, "\xED\xA0\x80", 3},
      {0xFFFF, "\xEF\xBF\xBF", 3}, {0x10000, "\xF0\x90\x80\x80", 4},
      {0x10FFFF, "\xF4\x8F\xBF\xBF", 4}, {0x110000, "", 0}, {0x110041, "A", 1},
      {0x1D687 + 2 * 0x110000, "\xF0\x9D\x9A\x87", 4}, {0, "", 0},
  };
  for (const Row& r : rows) {
    char out[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(r.n, UnicodeToUTF8(r.code, out)) << r.code;
    EXPECT_EQ(std::string(r.bytes), std::string(out)) << r.code;
  }
}

TEST(HtmlTokenizer, Comments) {
  const Case cases[] = {
      {"<!-- a -->b", "COMMENT: a -->|WORD:b|EOF"},
      {"<!-- a > b", "COMMENT: a >|SPACE: |WORD:b|EOF"},
      {"<!-- a --", "COMMENT: a |EOF"},
      {"<!-- a -- \t", "COMMENT: a |EOF"},
      {"<!-- a", "COMMENT: a|EOF"},
      {"<!--", "COMMENT:|EOF"},
      {"<!---->x", "COMMENT:-->|WORD:x|EOF"},
      {"<!-- a ---> b --> c", "COMMENT: a ---> b -->|SPACE: |WORD:c|EOF"},
      {"<!-- a -- >x", "COMMENT: a -- >|WORD:x|EOF"},
      {"<!-- a - ->x", "COMMENT: a - ->|WORD:x|EOF"},
      {"<!-- a >b -->c", "COMMENT: a >b -->|WORD:c|EOF"},
      // Unclosed with a ">" but two dashes at the end: runs to the end.
      {"<!-- a > b --", "COMMENT: a > b |EOF"},
      {"<!- x>", "OPEN:<|NAME:!-|SPACE: |WORD:x|CLOSE:>|EOF"},
      // The fallback goes back to the first ">"; the next comment is scanned afresh.
      {"<!--x>y<!--z-->w", "COMMENT:x>y<!--z-->|WORD:w|EOF"},
      {"<!--x>y<!--z>w", "COMMENT:x>|WORD:y|COMMENT:z>|WORD:w|EOF"},
      {"<!--x>y<!--z", "COMMENT:x>|WORD:y|COMMENT:z|EOF"},
      {"<!--x>y<!---", "COMMENT:x>|WORD:y|COMMENT:-|EOF"},
      {"<!--x>y<!----", "COMMENT:x>y<!--|EOF"},  // two dashes at the end
      {"<!--x>a<!-- b --", "COMMENT:x>a<!-- b |EOF"},  // two dashes at the end
  };
  for (const Case& c : cases) EXPECT_EQ(c.tokens, Tokens(c.html)) << c.html;
}

// The comment scan with what it learns from an unclosed comment must give the
// tokens of a plain scan from each comment's start: compared with a direct
// reading of the rules over many short inputs of the characters that matter.
std::string ReferenceComment(const std::string& in, size_t start, size_t* next) {
  int dashes = 0;
  size_t firstGt = std::string::npos;
  size_t end = std::string::npos;
  size_t i = start;
  for (; i < in.size(); ++i) {
    char c = in[i];
    if (c == '-') {
      dashes = dashes == 1 ? 2 : 1;
    } else if (c == ' ') {
    } else if (c == '>') {
      if (dashes == 2) {
        end = i + 1;
        break;
      }
      if (firstGt == std::string::npos) firstGt = i + 1;
      dashes = 0;
    } else {
      dashes = 0;
    }
  }
  if (end == std::string::npos) end = (dashes != 2 && firstGt != std::string::npos) ? firstGt : in.size();
  *next = end;
  std::string text = in.substr(start, end - start);
  size_t last = text.size();
  while (last > 0 && text[last - 1] == ' ') --last;
  if (last >= 2 && text[last - 1] == '-' && text[last - 2] == '-') text.resize(last - 2);
  return text;
}

TEST(HtmlTokenizer, CommentsMatchAPlainScan) {
  const char alphabet[] = {'-', '>', ' ', 'x'};
  for (unsigned seed = 0; seed < 6000; ++seed) {
    // Inputs of comments separated by short texts.
    std::string in;
    unsigned r = seed * 2654435761u + 12345;
    int pieces = 1 + seed % 4;
    for (int p = 0; p < pieces; ++p) {
      in += "<!--";
      int len = static_cast<int>(r % 9);
      for (int k = 0; k < len; ++k) {
        r = r * 1103515245u + 12345;
        in += alphabet[(r >> 16) % 4];
      }
      r = r * 1103515245u + 12345;
    }
    // The reference: comments only where the tokenizer would begin one.
    std::vector<std::string> want;
    CHTMLTokenizer tok(reinterpret_cast<const unsigned char*>(in.data()), static_cast<ULONG>(in.size()));
    tag_HTML_TOKEN t;
    while (tok.GetNextToken(t)) {
      if (t.nKind != HTML_COMMENT) continue;
      want.push_back(std::string(t.strText.c_str(), static_cast<size_t>(t.strText.GetLength())));
    }
    // Walk the same input with the reference reading.
    std::vector<std::string> ref;
    size_t i = 0;
    while (i < in.size()) {
      if (in.compare(i, 4, "<!--") == 0) {
        size_t next;
        ref.push_back(ReferenceComment(in, i + 4, &next));
        i = next;
      } else {
        ++i;
      }
    }
    ASSERT_EQ(ref, want) << in;
  }
}

TEST(HtmlTokenizer, ScriptAndStyleBodies) {
  const Case cases[] = {
      {"<SCRIPT>x</ScRiPt >", "OPEN:<|NAME:SCRIPT|CLOSE:>|SCRIPT:x|OPEN:<|NAME:/ScRiPt|SPACE: |CLOSE:>|EOF"},
      {"<script>if(a<b)c();</script>",
       "OPEN:<|NAME:script|CLOSE:>|SCRIPT:if(a<b)c();|OPEN:<|NAME:/script|CLOSE:>|EOF"},
      {"<script>abc</scr", "OPEN:<|NAME:script|CLOSE:>|SCRIPT:abc|EOF"},
      {"<script>", "OPEN:<|NAME:script|CLOSE:>|EOF"},
      {"<script></script>", "OPEN:<|NAME:script|CLOSE:>|SCRIPT:|OPEN:<|NAME:/script|CLOSE:>|EOF"},
      {"<style>a{}</style>", "OPEN:<|NAME:style|CLOSE:>|STYLE:a{}|OPEN:<|NAME:/style|CLOSE:>|EOF"},
      {"<script type=x>a</script>",
       "OPEN:<|NAME:script|SPACE: |WORD:type|EQUAL:=|WORD:x|CLOSE:>|SCRIPT:a|OPEN:<|NAME:/script|CLOSE:>|EOF"},
      // Quotes do not hide the end tag.
      {"<script>x='</script>'", "OPEN:<|NAME:script|CLOSE:>|SCRIPT:x='|OPEN:<|NAME:/script|CLOSE:>|WORD:'|EOF"},
      // A failed candidate is copied and its failing character not examined again.
      {"<script><</script>x", "OPEN:<|NAME:script|CLOSE:>|SCRIPT:<</script>x|EOF"},
      {"<script>a<'b</script>", "OPEN:<|NAME:script|CLOSE:>|SCRIPT:a<'b|OPEN:<|NAME:/script|CLOSE:>|EOF"},
      // An escaped "<" inside quotes starts no candidate.
      {"<script>'\\</script>'</script>",
       "OPEN:<|NAME:script|CLOSE:>|SCRIPT:'\\</script>'|OPEN:<|NAME:/script|CLOSE:>|EOF"},
      {"<script>'\\", "OPEN:<|NAME:script|CLOSE:>|SCRIPT:'\\|EOF"},
      {"<script>< / script\n>", "OPEN:<|NAME:script|CLOSE:>|SCRIPT:|OPEN:<|SPACE: |NAME:/script|SPACE:\n|CLOSE:>|EOF"},
      {"<script></scriptx>y</script>",
       "OPEN:<|NAME:script|CLOSE:>|SCRIPT:</scriptx>y|OPEN:<|NAME:/script|CLOSE:>|EOF"},
      {"<script></sc ript>", "OPEN:<|NAME:script|CLOSE:>|SCRIPT:</sc ript>|EOF"},
      // A style end tag does not end a script.
      {"<script></style></script>",
       "OPEN:<|NAME:script|CLOSE:>|SCRIPT:</style>|OPEN:<|NAME:/script|CLOSE:>|EOF"},
      {"<script/>x", "OPEN:<|NAME:script/|CLOSE:>|WORD:x|EOF"},
      // A quoted name in the name place leaves the in-tag mode, no body.
      {"<'script'>x", "OPEN:<|SQ:script|CLOSE:>|WORD:x|EOF"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.tokens, Tokens(c.html)) << c.html;
}

TEST(HtmlTokenizer, StreamFormGivesTheSameTokens) {
  std::string big = "<html><body bgcolor=\"#ffffff\">";
  for (int i = 0; i < 3000; ++i) big += "word&amp; <!-- c" + std::to_string(i) + " --> <b>x</b>\n";
  big += "<script>document.write('<b>')</script><!-- open > tail";
  const std::string inputs[] = {"<p class=x>a&nbsp;b<!-- c -->", big};
  for (const std::string& in : inputs) {
    CTestStream stream(in);
    stream.maxChunk = 7;  // short reads
    CHTMLTokenizer tok(&stream, CStreamReader::NO_LIMIT);
    EXPECT_EQ(Tokens(in), Tokens(tok));
  }
}

TEST(HtmlTokenizer, NullStreamIsRefused) {
  try {
    CHTMLTokenizer tok(static_cast<IStream*>(nullptr), 10);
    FAIL() << "constructed over a null stream";
  } catch (DWORD code) {
    EXPECT_EQ(static_cast<DWORD>(E_POINTER), code);
  }
}

// A failing stream read is thrown as its code, inside a word as inside a
// comment that has to look ahead.
TEST(HtmlTokenizer, StreamFailuresAreThrownAsTheirCode) {
  const std::string inputs[] = {std::string(10000, 'w'), "<!-- " + std::string(10000, 'c')};
  for (const std::string& in : inputs) {
    CTestStream stream(in);
    stream.failReadAt = 5000;
    CHTMLTokenizer tok(&stream, CStreamReader::NO_LIMIT);
    tag_HTML_TOKEN t;
    try {
      while (tok.GetNextToken(t)) {
      }
      FAIL() << "no failure";
    } catch (DWORD code) {
      EXPECT_EQ(static_cast<DWORD>(stream.failure), code);
    }
  }
}

TEST(HtmlTokenizer, EndOfInputRepeats) {
  CHTMLTokenizer tok(reinterpret_cast<const unsigned char*>("x"), 1);
  tag_HTML_TOKEN t;
  EXPECT_EQ(1, tok.GetNextToken(t));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(0, tok.GetNextToken(t));
    EXPECT_EQ(HTML_EOF, t.nKind);
  }
}

TEST(HtmlTokenizer, NulBytesAreOrdinary) {
  const char in[] = "a\0b <x\0y>";
  const char want[] = "WORD:a\0b|SPACE: |OPEN:<|NAME:x\0y|CLOSE:>|EOF";
  EXPECT_EQ(std::string(want, sizeof want - 1), Tokens(std::string(in, sizeof in - 1)));
}

}  // namespace
