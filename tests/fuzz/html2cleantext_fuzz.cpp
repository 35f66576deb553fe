// HTML from untrusted bytes: the conversion never fails or crashes, its 0/1
// counters stay 0 or 1, a second conversion gives the same text and
// counters, and the tokenizer gives the same tokens over memory and over a
// stream read in short pieces.
#include <stdint.h>
#include <string.h>

#include <cstdlib>
#include <string>

#include "common/teststream.h"
#include "mime/html2cleantext.h"
#include "mime/htmltokenizer.h"
#include "mime/htmlurl.h"

using namespace telsor;

namespace {

std::string Tokens(CHTMLTokenizer& tok) {
  std::string out;
  tag_HTML_TOKEN t;
  while (tok.GetNextToken(t)) {
    out += static_cast<char>('A' + t.nKind);
    out.append(t.strText.c_str(), static_cast<size_t>(t.strText.GetLength()));
    out += '\0';
  }
  if (t.nKind != HTML_EOF || t.strText.GetLength() != 0) abort();
  return out;
}

std::string Snapshot(const CHtml2CleanText& c, const TSTRING& text) {
  const DWORD flags[] = {c.m_bTextAfterHtmlEnd, c.m_bTinyFont,   c.m_bScriptWrites, c.m_bInvisibleText,
                         c.m_bEmbeddedContent,  c.m_bBadTag,     c.m_bLongWord};
  std::string s(text.c_str(), static_cast<size_t>(text.GetLength()));
  for (DWORD f : flags) {
    if (f > 1) abort();
    s += static_cast<char>('0' + f);
  }
  if (c.m_bBadCharset != 0) abort();
  s += std::to_string(c.m_dwCommentCount) + "," + std::to_string(c.m_dwCommentLength) + "," +
       std::to_string(c.m_dwFrameCount) + "," + std::to_string(c.m_dwUrlLength) + "," +
       std::to_string(c.m_dwScriptLength) + "," + std::to_string(c.GetUrls().GetCount());
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const ULONG options = data[0] & 1;
  const std::string html(reinterpret_cast<const char*>(data) + 1, size - 1);

  CHtml2CleanText conv(options);
  TSTRING text(html.data(), static_cast<int>(html.size()));
  if (conv.Execute(text, 0, nullptr) != S_OK) abort();
  const std::string first = Snapshot(conv, text);
  TSTRING again(html.data(), static_cast<int>(html.size()));
  if (conv.Execute(again, 0, nullptr) != S_OK) abort();
  if (Snapshot(conv, again) != first) abort();

  CHTMLTokenizer memory(reinterpret_cast<const unsigned char*>(html.data()), static_cast<ULONG>(html.size()));
  CTestStream stream(html);
  stream.maxChunk = 5;
  CHTMLTokenizer streamed(&stream, CStreamReader::NO_LIMIT);
  if (Tokens(memory) != Tokens(streamed)) abort();

  // Normalisation is total and a URL with a scheme is cut to 1024 bytes.
  TSTRING u = NormalizeHtmlUrl(TSTRING(html.data(), static_cast<int>(html.size())));
  if (u.GetLength() > 1024 && (memmem(u.c_str(), static_cast<size_t>(u.GetLength()), "http://", 7) ||
                               memmem(u.c_str(), static_cast<size_t>(u.GetLength()), "https://", 8))) {
    // Only a text without a scheme keeps its whole length.
    abort();
  }
  return 0;
}
