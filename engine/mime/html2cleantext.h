// CHtml2CleanText: turns the text of an HTML body into clean text, the
// visible words with single blanks and line breaks where the layout
// separates them, plus marker tokens for what a spam test cares about, and
// counts what it met on the way (comments, scripts, URLs, invisible text,
// ill-formed tags, over-long words).
//
//   CHtml2CleanText conv(0);                  // or CHtml2CleanText::HTO_INLINE_URLS
//   TSTRING text = "<p>Hi <a href=\"http://x.example/\">there</a></p>";
//   HRESULT hr = conv.Execute(text, 0, nullptr);   // text is now the clean text
//   if (FAILED(hr)) return hr;
//   bool hidden = conv.m_bInvisibleText != 0;      // counters of this conversion
//   std::vector<TSTRING> urls;
//   for (void* p = conv.GetUrls().GetHeadPosition(); p;) urls.push_back(conv.GetUrls().GetNext(p));
//
// "a</body>b<body>c</body>d" gives "a<HTMEND>b cd": white-space runs become
// one blank (none at the start), block tags (P, TD, BODY, ...) write one
// blank, BR and DIV write "\r\n", and text after the closing HTML or BODY
// tag is preceded once by "<HTMEND>". Further markers: "<IMGSRC>" (IMG and
// MAP), "<IFRAME>", "<SCRIPT>\r\n" body "\r\n</SCRIPT>\r\n" for a script
// body, "|pspam|URL:||||" before a URL that normalisation changed and
// "<CID:>" for a content-ID URL (htmlurl.h). Text in a colour too close to
// its background (FONT, BODY, table and layer tags; the sum of the RGB
// differences 48 or less) is left out; markers are written whatever the
// colours. Comments, COMMENT elements, style bodies and tags write nothing.
//
// URL attributes (HREF, SRC, CODEBASE, ARCHIVE): with HTO_INLINE_URLS each
// value is written in place as "<url>"; without, the values are collected in
// GetUrls() in document order and written after the text, one per line.
//
// Execute returns 0, or 0x80000002 (E_OUTOFMEMORY) when the tokenizer cannot
// be made (text and counters then unchanged). Running out of memory later
// throws CMemoryException* to the caller and leaves text unchanged. Malformed
// HTML is never an error. Time and memory are linear in the text.
//
// Threads: an object serves one conversion at a time on one thread; the
// shared tables (state map, the script-method matcher built at load, the
// closing names of the colour scopes) are read-only and safe to use from
// any number of converters at once.
#ifndef TELSOR_MIME_HTML2CLEANTEXT_H
#define TELSOR_MIME_HTML2CLEANTEXT_H

#include <memory>
#include <vector>

#include "foundation/plist.h"
#include "foundation/statemachine.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "mime/htmltokenizer.h"

namespace telsor {

// The colours and size in force, and the closing tag name of the scope that
// a tag being read opens (such as "/FONT").
struct tag_COLOR_ATTRIBUTE {
  ULONG dwTextColor;  // 0x00BBGGRR
  ULONG dwBkColor;
  LONG nSize;         // from a SIZE attribute
  TSTRING strCloseTag;

  tag_COLOR_ATTRIBUTE() : dwTextColor(0x000000), dwBkColor(0xFFFFFF), nSize(10) {}
};

class CHtml2CleanText : public CStateMachine {
 public:
  // Option bits.
  enum : ULONG {
    HTO_INLINE_URLS = 1,  // write URL attribute values where their tags stand
  };
  // State bits of m_dwFlags.
  enum : ULONG {
    HTF_HTML_ENDED = 1,        // after "/HTML" or "/BODY", until "HTML" or "BODY"
    HTF_HTMEND_WRITTEN = 2,    // "<HTMEND>" has been written
    HTF_COLOR_SCOPE_TAG = 4,   // the tag being read opens a colour scope
    HTF_TEXT_VISIBLE = 8,      // text and background colours differ enough
    HTF_ENDS_WITH_SPACE = 16,  // the clean text ends in white space
  };

  explicit CHtml2CleanText(ULONG options);
  ~CHtml2CleanText() override;

  // Replaces the HTML in text by its clean text. flag has no effect;
  // defaultCharset goes to SetDefaultCharacterSet. Every call starts afresh.
  [[nodiscard]] HRESULT Execute(TSTRING& text, int flag, const char* defaultCharset);

  // Character sets have no effect: the text is converted as bytes.
  void SetDefaultCharacterSet(const char* name);
  void SetCharacterSet(const char* name);

  // The URL attribute values of the last conversion without
  // HTO_INLINE_URLS, in document order.
  const CPList<TSTRING, TSTRING&>& GetUrls() const { return m_lstUrls; }
  CPList<TSTRING, TSTRING&>& GetUrls() { return m_lstUrls; }

  // The counters of the last conversion (zeroed when it starts, kept after
  // it until the next). Callers read them; only the converter writes.
  DWORD m_dwCommentCount;      // comment tokens and COMMENT tags
  DWORD m_dwCommentLength;     // characters of comments and COMMENT elements
  DWORD m_dwFrameCount;        // IFRAME tags
  DWORD m_dwUrlLength;         // characters of the URLs saved, after normalisation
  DWORD m_dwScriptLength;      // characters of script bodies
  DWORD m_bTextAfterHtmlEnd;   // 1: "<HTMEND>" was written
  DWORD m_bTinyFont;           // 1: a colour-scope tag had SIZE 0 or 1
  DWORD m_bScriptWrites;       // 1: a script body calls write or writeln
  DWORD m_bInvisibleText;      // 1: non-blank text was left out as invisible
  DWORD m_bEmbeddedContent;    // 1: a URL began with "cid"
  DWORD m_bBadTag;             // 1: a tag could not be read as a tag
  DWORD m_bBadCharset;         // never set
  DWORD m_bLongWord;           // 1: a word over 32 bytes without ".", ":" or "-"

  CHtml2CleanText(const CHtml2CleanText&) = delete;
  CHtml2CleanText& operator=(const CHtml2CleanText&) = delete;

 protected:
  const StateFunc* GetStateMap() override;

 private:
  // State handlers: 0 text between tags, 1 a tag, 2 inside a COMMENT element.
  void StateWaitHtmlTag(CEventData* data);
  void StateReadHtmlTag(CEventData* data);
  void StateReadComment(CEventData* data);

  void ZeroCounters();
  // Appends length bytes to the clean text; with checkVisible while the text
  // is invisible, appends nothing and notes non-blank text as invisible.
  void SaveUtf8Text(const char* text, ULONG length, int checkVisible);
  void SaveText(const char* text, ULONG length, int checkVisible) {
    SaveUtf8Text(text, length, checkVisible);
  }
  // A blank: an HTML_SPACE token, or an entity of code 160 or 32.
  bool IsEmptyToken() const;
  // Reads tokens until one that is not empty (or HTML_EOF).
  void SkipSpaces();
  void ProcessScriptBody();

  // Tags and attributes (htmltags.cpp).
  int ProcessTagName();
  void ProcessColorScope();
  void OnEndHtmlTag();
  void ProcessAttributeValue(TSTRING& name, TSTRING& value);
  void CheckColorAttribute(TSTRING& name, TSTRING& value);
  void ProcessStyleAttribute(TSTRING& value);
  void ProcessMetaContent(const TSTRING& value);
  void RecomputeVisibility();
  // name := the pending attribute text; the pending text is emptied.
  void TakePending(TSTRING& name);

  // URLs (htmlurl.cpp).
  void SaveUrl(const TSTRING& url, bool inBrackets);
  void SaveUrls();

  std::unique_ptr<CHTMLTokenizer> m_pTokenizer;  // only during Execute
  TSTRING m_strText;             // the clean text being built
  ULONG m_nTextRoom;             // capacity reserved in m_strText
  TSTRING m_strTagName;          // the tag being read ("/B" for an end tag)
  CPList<TSTRING, TSTRING&> m_lstUrls;
  std::vector<tag_COLOR_ATTRIBUTE> m_stkColors;  // open colour scopes, innermost last
  tag_HTML_TOKEN m_stToken;      // the current token
  tag_COLOR_ATTRIBUTE m_stColor; // colours in force
  DWORD m_dwFlags;
  ULONG m_dwOptions;
  CByteScratch m_scPending;      // attribute text of the tag being read
  TSTRING m_strAttrName;         // the attribute name held while its value is read
  TSTRING m_strAttrValue;
};

}  // namespace telsor

#endif  // TELSOR_MIME_HTML2CLEANTEXT_H
