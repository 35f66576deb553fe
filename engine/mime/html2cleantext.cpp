// The HTML-to-clean-text converter: conversion entry, text between tags,
// COMMENT elements, script bodies and the output.
#include "mime/html2cleantext.h"

#include <string.h>

#include <new>

#include "foundation/errorroad.h"
#include "foundation/exception.h"
#include "search/regexpr.h"

namespace telsor {

namespace {

// Finds calls of write or writeln on an object ("document.write(",
// "d . writeln (") in script bodies; case-sensitive.
class CSeekJScriptMethods : public CRegExpr {
 public:
  CSeekJScriptMethods() { Compile("\\w\\s*\\.\\s*((write)|(writeln))\\s*\\(", 1, 0); }
  ~CSeekJScriptMethods() override {}
};

// Built when the library is loaded; only searched afterwards.
const CSeekJScriptMethods g_scriptMethods;

inline bool IsWhite(unsigned char c) { return c == ' ' || (c >= 9 && c <= 13); }

const char kHtmEnd[] = "<HTMEND>";
const char kScriptOpen[] = "<SCRIPT>\r\n";
const char kScriptClose[] = "\r\n</SCRIPT>\r\n";

}  // namespace

CHtml2CleanText::CHtml2CleanText(ULONG options)
    : CStateMachine(3),
      m_nTextRoom(0),
      m_lstUrls(10),
      m_dwFlags(HTF_TEXT_VISIBLE),
      m_dwOptions(options) {
  ZeroCounters();
}

void CHtml2CleanText::ZeroCounters() {
  m_dwCommentCount = 0;
  m_dwCommentLength = 0;
  m_dwFrameCount = 0;
  m_dwUrlLength = 0;
  m_dwScriptLength = 0;
  m_bTextAfterHtmlEnd = 0;
  m_bTinyFont = 0;
  m_bScriptWrites = 0;
  m_bInvisibleText = 0;
  m_bEmbeddedContent = 0;
  m_bBadTag = 0;
  m_bBadCharset = 0;
  m_bLongWord = 0;
}

CHtml2CleanText::~CHtml2CleanText() = default;

const StateFunc* CHtml2CleanText::GetStateMap() {
  static const StateFunc m_astStateMap[] = {
      static_cast<StateFunc>(&CHtml2CleanText::StateWaitHtmlTag),
      static_cast<StateFunc>(&CHtml2CleanText::StateReadHtmlTag),
      static_cast<StateFunc>(&CHtml2CleanText::StateReadComment),
  };
  return m_astStateMap;
}

void CHtml2CleanText::SetDefaultCharacterSet(const char*) {}

void CHtml2CleanText::SetCharacterSet(const char*) {}

HRESULT CHtml2CleanText::Execute(TSTRING& text, int, const char* defaultCharset) {
  m_pTokenizer.reset();
  HRESULT hr = ResultOf([&] {
    m_pTokenizer = std::make_unique<CHTMLTokenizer>(reinterpret_cast<const unsigned char*>(text.c_str()),
                                                    static_cast<ULONG>(text.GetLength()));
  });
  if (FAILED(hr)) return E_OUTOFMEMORY;

  m_strTagName.AssignCopy(0, nullptr);
  m_strText.Release();
  m_strText.reserve(text.GetLength());
  m_nTextRoom = static_cast<ULONG>(text.GetLength());

  ZeroCounters();
  m_lstUrls.RemoveAll();
  m_stkColors.clear();

  m_dwFlags = HTF_TEXT_VISIBLE | HTF_ENDS_WITH_SPACE;
  m_stColor = tag_COLOR_ATTRIBUTE();
  SetDefaultCharacterSet(defaultCharset);

  ExternalEvent(0, nullptr);

  if ((m_dwOptions & HTO_INLINE_URLS) == 0) SaveUrls();
  m_pTokenizer.reset();

  text = m_strText;
  text.FreeExtra();
  m_strText.Release();
  m_nTextRoom = 0;
  return S_OK;
}

void CHtml2CleanText::SaveUtf8Text(const char* text, ULONG length, int checkVisible) {
  if (checkVisible && (m_dwFlags & HTF_TEXT_VISIBLE) == 0) {
    for (ULONG i = 0; i < length; ++i) {
      if (!IsWhite(static_cast<unsigned char>(text[i]))) {
        m_bInvisibleText = 1;
        break;
      }
    }
    return;
  }
  ULONG have = static_cast<ULONG>(m_strText.GetLength());
  if (length > m_nTextRoom - have) {
    // Doubling keeps the appends linear when the text outgrows its input.
    ULONGLONG want = static_cast<ULONGLONG>(have) + length;
    ULONGLONG room = 2ull * m_nTextRoom;
    if (room < want) room = want;
    if (room > 0x7FFFFFFFull) room = 0x7FFFFFFFull;
    if (want > room) AfxThrowMemoryException();
    m_strText.reserve(static_cast<int>(room));
    m_nTextRoom = static_cast<ULONG>(room);
  }
  m_strText.ConcatInPlace(static_cast<int>(length), text);
  int n = m_strText.GetLength();
  if (n != 0 && IsWhite(static_cast<unsigned char>(m_strText[n - 1]))) {
    m_dwFlags |= HTF_ENDS_WITH_SPACE;
  } else {
    m_dwFlags &= ~static_cast<DWORD>(HTF_ENDS_WITH_SPACE);
  }
}

bool CHtml2CleanText::IsEmptyToken() const {
  return m_stToken.nKind == HTML_SPACE ||
         (m_stToken.nKind == HTML_ENTITY && (m_stToken.dwCode == 160 || m_stToken.dwCode == 32));
}

void CHtml2CleanText::SkipSpaces() {
  do {
    if (!m_pTokenizer->GetNextToken(m_stToken)) return;
  } while (IsEmptyToken());
}

void CHtml2CleanText::ProcessScriptBody() {
  const TSTRING& body = m_stToken.strText;
  if (body.IsEmpty()) return;
  SaveUtf8Text(kScriptOpen, sizeof kScriptOpen - 1, 0);
  SaveUtf8Text(body.c_str(), static_cast<ULONG>(body.GetLength()), 0);
  SaveUtf8Text(kScriptClose, sizeof kScriptClose - 1, 0);
  m_dwScriptLength += static_cast<DWORD>(body.GetLength());
  if (g_scriptMethods.Search(body.c_str(), static_cast<DWORD>(body.GetLength()), nullptr) !=
      SEEK_NOT_FOUND) {
    m_bScriptWrites = 1;
  }
}

void CHtml2CleanText::StateWaitHtmlTag(CEventData*) {
  while (m_pTokenizer->GetNextToken(m_stToken)) {
    const TSTRING& text = m_stToken.strText;
    switch (m_stToken.nKind) {
      case HTML_WORD: {
        const ULONG n = static_cast<ULONG>(text.GetLength());
        if (n > 32 && memchr(text.c_str(), '.', n) == nullptr &&
            memchr(text.c_str(), ':', n) == nullptr && memchr(text.c_str(), '-', n) == nullptr) {
          m_bLongWord = 1;
        }
        if (n != 0 && (m_dwFlags & (HTF_HTML_ENDED | HTF_HTMEND_WRITTEN)) == HTF_HTML_ENDED &&
            !(n == 1 && text[0] == '.')) {
          SaveUtf8Text(kHtmEnd, sizeof kHtmEnd - 1, 0);
          m_dwFlags |= HTF_HTMEND_WRITTEN;
          m_bTextAfterHtmlEnd = 1;
        }
        SaveText(text.c_str(), n, 1);
        break;
      }
      case HTML_SPACE:
        if ((m_dwFlags & HTF_ENDS_WITH_SPACE) == 0) SaveUtf8Text(" ", 1, 1);
        break;
      case HTML_ENTITY:
        if ((m_dwFlags & (HTF_HTML_ENDED | HTF_HTMEND_WRITTEN)) == HTF_HTML_ENDED &&
            !IsEmptyToken()) {
          m_bTextAfterHtmlEnd = 1;
          m_dwFlags |= HTF_HTMEND_WRITTEN;
          SaveUtf8Text(kHtmEnd, sizeof kHtmEnd - 1, 0);
        }
        SaveUtf8Text(text.c_str(), static_cast<ULONG>(text.GetLength()), 1);
        break;
      case HTML_TAG_OPEN:
        InternalEvent(1);
        return;
      case HTML_COMMENT:
        ++m_dwCommentCount;
        m_dwCommentLength += static_cast<DWORD>(text.GetLength());
        break;
      case HTML_SCRIPT:
        ProcessScriptBody();
        break;
      default:  // style bodies, strings, names, ">" and "=" write nothing
        break;
    }
  }
}

void CHtml2CleanText::StateReadComment(CEventData*) {
  if (!m_pTokenizer->GetNextToken(m_stToken)) return;
  const TSTRING& text = m_stToken.strText;
  if (m_stToken.nKind == HTML_TAG_NAME && text.GetLength() >= 2 && text[0] == '/' &&
      (text[1] == 'C' || text[1] == 'c') && lstrcmpiA(text.c_str(), "/COMMENT") == 0) {
    // The end tag's rest up to its ">" is not counted.
    while (m_pTokenizer->GetNextToken(m_stToken) && m_stToken.nKind != HTML_TAG_CLOSE) {
    }
    InternalEvent(0);
    return;
  }
  m_dwCommentLength += static_cast<DWORD>(text.GetLength());
  InternalEvent(2);
}

}  // namespace telsor
