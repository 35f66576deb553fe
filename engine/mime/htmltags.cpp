// The tag side of the HTML-to-clean-text converter: reading a tag into its
// name and attribute pairs, layout tags, markers, colour scopes and
// visibility, URL, colour and META attributes.
#include <strings.h>

#include <vector>

#include "mime/html2cleantext.h"
#include "mime/htmlcolors.h"
#include "mime/mediatype.h"

namespace telsor {

namespace {

// Tags that write one blank (unless the text already ends in white space).
const char* const kBlockTags[] = {
    "ADDRESS", "/ADDRESS", "BODY",  "FORM",      "/FORM",      "FRAME",  "/FRAME",
    "IFRAME",  "/IFRAME",  "H1",    "H2",        "H3",         "H4",     "H5",
    "H6",      "HR",       "MULTICOL", "/MULTICOL", "OL",       "/OL",    "OPTION",
    "P",       "/P",       "PRE",   "/PRE",      "SCRIPT",     "/SCRIPT", "TR",
    "/TR",     "TD",       "/TD",   "TABLE",     "/TABLE",     "TBODY",  "TEXTARRAY",
    "/TEXTARRAY", "TITLE", "/TITLE", "UL",       "/UL",        "LI",     "/LI",
};
const int kBlockTagCount = sizeof kBlockTags / sizeof kBlockTags[0];
static_assert(kBlockTagCount == 42, "block tag table");

// Tags that open a colour scope; each is closed by "/" and its name.
const char* const kColorScopeTags[] = {
    "BASEFONT", "BODY", "FONT",     "TABLE",  "TD",    "TR",     "TH",      "THEAD",
    "TBODY",    "TFOOT", "FRAME",   "FRAMESET", "ILAYER", "LAYER", "MARQUEE",
};
const int kColorScopeCount = sizeof kColorScopeTags / sizeof kColorScopeTags[0];
static_assert(kColorScopeCount == 15, "colour scope table");

const char* const kUrlAttributes[] = {"HREF", "SRC", "CODEBASE", "ARCHIVE"};

inline char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
inline bool IsWhite(char c) { return c == ' ' || (c >= 9 && c <= 13); }

// The index of the first entry of the table (entries in upper case) that
// name equals without regard to case, or -1; only the entries with the
// name's first two characters are compared whole.
class CNameTable {
 public:
  CNameTable(const char* const* table, int count) : m_table(table) {
    for (int i = 0; i < count; ++i) m_byFirst[static_cast<unsigned char>(table[i][0])].push_back(i);
  }
  int Find(const char* name) const {
    if (name[0] == '\0') return -1;
    const char c1 = Upper(name[1]);
    for (int i : m_byFirst[static_cast<unsigned char>(Upper(name[0]))]) {
      if (m_table[i][1] == c1 && strcasecmp(m_table[i], name) == 0) return i;
    }
    return -1;
  }

 private:
  const char* const* m_table;
  std::vector<int> m_byFirst[256];
};

// The three tables, indexed once on first use (thread-safe), read-only
// afterwards.
const CNameTable& ColorScopeTable() {
  static const CNameTable table(kColorScopeTags, kColorScopeCount);
  return table;
}
const CNameTable& BlockTable() {
  static const CNameTable table(kBlockTags, kBlockTagCount);
  return table;
}
const CNameTable& UrlAttributeTable() {
  static const CNameTable table(kUrlAttributes, sizeof kUrlAttributes / sizeof kUrlAttributes[0]);
  return table;
}

// The closing names of the colour scopes, "/BASEFONT" to "/MARQUEE"; built
// once on first use (thread-safe), read-only afterwards.
const TSTRING* ClosingNames() {
  struct CTable {
    TSTRING names[kColorScopeCount];
    CTable() {
      for (int i = 0; i < kColorScopeCount; ++i) names[i] = TSTRING("/") + kColorScopeTags[i];
    }
  };
  static const CTable table;
  return table.names;
}

// A SIZE value: white space, a sign and decimal digits; 0 without digits.
LONG ReadSize(const char* p) {
  while (IsWhite(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  ULONG n = 0;
  while (*p >= '0' && *p <= '9') n = n * 10 + static_cast<ULONG>(*p++ - '0');
  return static_cast<LONG>(negative ? 0u - n : n);
}

}  // namespace

void CHtml2CleanText::TakePending(TSTRING& name) { m_scPending.MoveTo(name); }

void CHtml2CleanText::StateReadHtmlTag(CEventData*) {
  SkipSpaces();
  if (m_stToken.nKind == HTML_EOF) return;  // a "<" at the end writes and counts nothing
  m_strTagName.AssignCopy(0, nullptr);  // emptied, its room kept
  unsigned char next = 1;
  TSTRING& name = m_strAttrName;    // held attribute name
  TSTRING& value = m_strAttrValue;  // held attribute value
  name.AssignCopy(0, nullptr);
  value.AssignCopy(0, nullptr);
  m_scPending.Clear();

  if (m_stToken.nKind == HTML_TAG_NAME) {
    next = static_cast<unsigned char>(ProcessTagName());
    if (next == 1) {
      SkipSpaces();
      if (m_stToken.nKind == HTML_EOF) {
        m_bBadTag = 1;
        return;
      }
    }
  } else if (m_stToken.nKind == HTML_TAG_CLOSE) {
    next = 0;  // "<>"
    m_bBadTag = 1;
  } else {
    m_bBadTag = 1;  // no name: this token starts the attributes
  }

  if (next == 1) {
    int sub = 0;  // 0 name, 1 after a name, 2 value
    bool done = false;
    do {
      const TSTRING& text = m_stToken.strText;
      switch (m_stToken.nKind) {
        case HTML_WORD:
          if (sub == 1) {
            ProcessAttributeValue(name, value);  // the held name, no value
            m_scPending.Clear();
            m_scPending.Put(text.c_str(), static_cast<ULONG>(text.GetLength()));
            sub = 0;
          } else {
            m_scPending.Put(text.c_str(), static_cast<ULONG>(text.GetLength()));
          }
          break;
        case HTML_SPACE:
          if (sub == 0) {
            TakePending(name);
            sub = name.IsEmpty() ? 0 : 1;
          } else if (sub == 2 && m_scPending.Size() != 0) {
            TakePending(value);
            sub = 0;
            ProcessAttributeValue(name, value);
          }
          break;
        case HTML_ENTITY:
          m_bBadTag = 1;
          if (sub == 0) {
            if (IsEmptyToken()) {
              TakePending(name);
              sub = name.IsEmpty() ? 0 : 1;
            } else {
              m_scPending.Put(text.c_str(), static_cast<ULONG>(text.GetLength()));
            }
          } else if (sub == 1) {
            ProcessAttributeValue(name, value);
            m_scPending.Clear();
            m_scPending.Put(text.c_str(), static_cast<ULONG>(text.GetLength()));
            sub = 0;
          } else if (!IsEmptyToken()) {
            m_scPending.Put(text.c_str(), static_cast<ULONG>(text.GetLength()));
          } else if (m_scPending.Size() != 0) {
            TakePending(value);
            sub = 0;
            ProcessAttributeValue(name, value);
          }
          break;
        case HTML_EQUAL:
          if (sub == 0) {
            TakePending(name);
          } else if (sub == 2) {
            m_scPending.Put('=');
          }
          if (sub != 2) sub = 2;
          break;
        case HTML_DQ_STRING:
        case HTML_SQ_STRING:
          if (m_scPending.Size() != 0) m_bBadTag = 1;  // a quoted piece after bare text
          m_scPending.Put(text.c_str(), static_cast<ULONG>(text.GetLength()));
          if (sub == 1) ProcessAttributeValue(name, value);  // the held name, no value
          TakePending(value);
          ProcessAttributeValue(name, value);
          sub = 0;
          break;
        case HTML_TAG_CLOSE:
          next = 0;
          if (sub == 2) {
            TakePending(value);
          } else {
            TakePending(name);  // after a name the pending text is empty: the name is lost
          }
          ProcessAttributeValue(name, value);
          OnEndHtmlTag();
          done = true;
          break;
        default:  // "<", tag names, comments and bodies do not occur inside a tag
          break;
      }
    } while (!done && m_pTokenizer->GetNextToken(m_stToken));
  }

  // A pair still held at the end of the input; pending text is dropped.
  ProcessAttributeValue(name, value);
  if (m_stToken.nKind != HTML_EOF) InternalEvent(next);
}

int CHtml2CleanText::ProcessTagName() {
  m_strTagName.AssignCopy(m_stToken.strText.GetLength(), m_stToken.strText.c_str());
  ProcessColorScope();
  const TSTRING* closing = ClosingNames();
  const char* name = m_strTagName.c_str();

  m_dwFlags &= ~static_cast<DWORD>(HTF_COLOR_SCOPE_TAG);
  const int scope = ColorScopeTable().Find(name);
  if (scope >= 0) {
    // A copy of the characters: the shared table's strings are never
    // shared with a converter's own, whose counts change on its thread.
    m_stColor.strCloseTag.AssignCopy(closing[scope].GetLength(), closing[scope].c_str());
    m_dwFlags |= HTF_COLOR_SCOPE_TAG;
  }

  if (BlockTable().Find(name) >= 0) {
    if ((m_dwFlags & HTF_ENDS_WITH_SPACE) == 0) SaveUtf8Text(" ", 1, 1);
  } else if (strcasecmp(name, "BR") == 0 || strcasecmp(name, "DIV") == 0) {
    SaveUtf8Text("\r\n", 2, 1);
  }

  switch (Upper(name[0])) {
    case '/':
      if (strcasecmp(name, "/HTML") == 0 || strcasecmp(name, "/BODY") == 0) {
        m_dwFlags |= HTF_HTML_ENDED;
      }
      break;
    case 'H':
    case 'B':
      if (strcasecmp(name, "HTML") == 0 || strcasecmp(name, "BODY") == 0) {
        m_dwFlags &= ~static_cast<DWORD>(HTF_HTML_ENDED);
      }
      break;
    case 'I':
    case 'M':
      if (strcasecmp(name, "IMG") == 0 || strcasecmp(name, "MAP") == 0) {
        SaveUtf8Text("<IMGSRC>", 8, 0);
      } else if (strcasecmp(name, "IFRAME") == 0) {
        ++m_dwFrameCount;
        SaveUtf8Text("<IFRAME>", 8, 0);
      }
      break;
    case 'C':
      if (strcasecmp(name, "COMMENT") == 0) {
        ++m_dwCommentCount;
        // The tag's attributes are skipped unread.
        while (m_pTokenizer->GetNextToken(m_stToken) && m_stToken.nKind != HTML_TAG_CLOSE) {
        }
        return 2;
      }
      break;
    default:
      break;
  }
  return 1;
}

void CHtml2CleanText::ProcessColorScope() {
  if (m_stkColors.empty()) return;
  // Only the innermost scope can be closed.
  if (strcasecmp(m_stToken.strText.c_str(), m_stkColors.back().strCloseTag.c_str()) != 0) return;
  m_stkColors.pop_back();
  m_stColor = m_stkColors.empty() ? tag_COLOR_ATTRIBUTE() : m_stkColors.back();
  RecomputeVisibility();
}

void CHtml2CleanText::OnEndHtmlTag() {
  if ((m_dwFlags & HTF_COLOR_SCOPE_TAG) == 0) return;
  m_dwFlags &= ~static_cast<DWORD>(HTF_COLOR_SCOPE_TAG);
  m_stkColors.push_back(m_stColor);
}

void CHtml2CleanText::RecomputeVisibility() {
  int sum = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    int a = static_cast<int>(m_stColor.dwTextColor >> shift & 0xFF);
    int b = static_cast<int>(m_stColor.dwBkColor >> shift & 0xFF);
    sum += a > b ? a - b : b - a;
  }
  if (sum > 48) {
    m_dwFlags |= HTF_TEXT_VISIBLE;
  } else {
    m_dwFlags &= ~static_cast<DWORD>(HTF_TEXT_VISIBLE);
  }
}

void CHtml2CleanText::ProcessAttributeValue(TSTRING& name, TSTRING& value) {
  if (name.IsEmpty() && value.IsEmpty()) return;
  const char* n = name.c_str();
  if (UrlAttributeTable().Find(n) >= 0) {
    if (m_dwOptions & HTO_INLINE_URLS) {
      SaveUrl(value, true);
    } else {
      m_lstUrls.AddTail(value);
    }
  } else {
    if (m_dwFlags & HTF_COLOR_SCOPE_TAG) CheckColorAttribute(name, value);
    if (Upper(m_strTagName[0]) == 'M' && Upper(n[0]) == 'C' && strcasecmp(m_strTagName.c_str(), "META") == 0 &&
        strcasecmp(n, "CONTENT") == 0) {
      ProcessMetaContent(value);
    }
  }
  name.AssignCopy(0, nullptr);
  value.AssignCopy(0, nullptr);
}

void CHtml2CleanText::CheckColorAttribute(TSTRING& name, TSTRING& value) {
  const char* n = name.c_str();
  if (strcasecmp(n, "BGCOLOR") == 0) {
    ParseColor(value.c_str(), m_stColor.dwBkColor);
    RecomputeVisibility();
  } else if (strcasecmp(n, "COLOR") == 0 || strcasecmp(n, "TEXT") == 0) {
    ParseColor(value.c_str(), m_stColor.dwTextColor);
    RecomputeVisibility();
  } else if (strcasecmp(n, "SIZE") == 0) {
    m_stColor.nSize = ReadSize(value.c_str());
    if (static_cast<ULONG>(m_stColor.nSize) <= 1) m_bTinyFont = 1;
  } else if (strcasecmp(n, "STYLE") == 0) {
    ProcessStyleAttribute(value);
  }
}

void CHtml2CleanText::ProcessStyleAttribute(TSTRING&) {}

// The CONTENT of a META tag, read as a media type with parameters: its
// charset parameter goes to SetCharacterSet (unless the type itself is
// "charset").
void CHtml2CleanText::ProcessMetaContent(const TSTRING& value) {
  CRfc2045ContentMediaType type;
  // Always S_OK: what the parse cannot read is left out of the value.
  (void)type.Parse(reinterpret_cast<const unsigned char*>(value.c_str()), static_cast<ULONG>(value.GetLength()));
  if (lstrcmpiA(type.GetMediaType().c_str(), "charset") == 0) return;
  CRfc2045ParameterList& parameters = type.GetParameters();
  void* charset = FindAttribute("charset", parameters);
  if (charset != nullptr) SetCharacterSet(parameters.GetAt(charset).GetValue().c_str());
}

}  // namespace telsor
