// The header-field scanner: one pass over a header block, field by field.
#include "mime/headerscanner.h"

#include <string.h>

#include <memory>
#include <new>
#include <utility>

#include "foundation/strhelpers.h"
#include "foundation/throwcode.h"
#include "mime/anomalyflags.h"
#include "mime/headerfields.h"
#include "mime/mimehelpers.h"
#include "mime/mimeresults.h"

namespace telsor {

namespace {

const WORD NO_FALLBACK = 0xFFFF;

// States of NextField.
enum {
  AT_LINE_START = 0,
  IN_NAME = 1,
  AFTER_NAME = 2,
  AFTER_VALUE_CR = 3,
  AFTER_VALUE_LF = 4,
  IN_VALUE_EOL_RUN = 5,
  AFTER_EOL_TAB = 6,
  AFTER_COLON = 7,
  IN_VALUE = 8,
  SKIPPING_LINE = 9,
  AFTER_SKIPPED_CR = 10,
  AFTER_SKIPPED_LF = 11,
  IN_SKIPPED_EOL_RUN = 12,
};

bool IsEol(int c) { return c == '\r' || c == '\n'; }

// Bytes that make a field name malformed.
bool BreaksName(int c) {
  switch (c) {
    case '\'': case ';': case ',': case '.': case '!': case '?': case '/':
    case '"': case '<': case '>': case '\0':
      return true;
    default:
      return false;
  }
}

// Bytes that cannot begin a field name.
bool BreaksLineStart(int c) { return c == '\\' || (c != '\'' && BreaksName(c)); }

// The bytes that a name only counts: none of line ends, colon, blanks,
// parentheses, backslash and the bytes that break a name.
struct tag_PLAIN_NAME_BYTES {
  bool plain[256];
  tag_PLAIN_NAME_BYTES() {
    for (int c = 0; c < 256; ++c) {
      plain[c] = !IsEol(c) && c != ':' && c != ' ' && c != '\t' && c != '(' && c != ')' && c != '\\' &&
                 !BreaksName(c);
    }
  }
};
const tag_PLAIN_NAME_BYTES g_PlainNameBytes;

}  // namespace

CRfc822HeadersParser::CRfc822HeadersParser()
    : CStreamReader(static_cast<const unsigned char*>(nullptr), 0), m_dwLastFed(GetPos()), m_dwRangeStart(GetPos()) {}

CRfc822HeadersParser::CRfc822HeadersParser(const unsigned char* data, ULONG length)
    : CStreamReader(data, length), m_dwLastFed(GetPos()), m_dwRangeStart(GetPos()) {}

CRfc822HeadersParser::CRfc822HeadersParser(IStream* stream, ULONG length)
    : CStreamReader(stream, length), m_dwLastFed(GetPos()), m_dwRangeStart(GetPos()) {}

CRfc822HeadersParser::~CRfc822HeadersParser() = default;

void CRfc822HeadersParser::SetEOLSequence(const CSetEOLSequence* analysis, int copy) {
  m_pEOL = nullptr;
  m_ownEOL.reset();
  if (copy != 0 && analysis != nullptr) {
    std::unique_ptr<CSetEOLSequence> own(new (std::nothrow) CSetEOLSequence);
    if (!own) ThrowCode(static_cast<DWORD>(E_OUTOFMEMORY));
    try {
      *own = *analysis;
    } catch (...) {
      ThrowCode(static_cast<DWORD>(E_OUTOFMEMORY));
    }
    m_ownEOL = std::move(own);
    m_pEOL = m_ownEOL.get();
  } else {
    m_pEOL = analysis;
  }
}

void CRfc822HeadersParser::SetBoundary(const TSTRING& boundary) {
  m_strBoundary = boundary;
  int length = boundary.GetLength();
  if (length > 65534) length = 32767;
  m_pFailure.reset();
  m_wBoundaryLength = 0;
  m_wMatched = 0;
  if (length == 0) return;
  WORD* table = new (std::nothrow) WORD[static_cast<size_t>(length) + 1];
  if (table == nullptr) ThrowCode(static_cast<DWORD>(E_OUTOFMEMORY));
  // table[i]: the longest proper prefix of the first i bytes that is also
  // their suffix, where matching goes on after a mismatch at i.
  const char* b = m_strBoundary.c_str();
  table[0] = NO_FALLBACK;
  if (length >= 1) table[1] = 0;
  WORD k = 0;
  for (int i = 1; i < length; ++i) {
    while (k > 0 && b[i] != b[k]) k = table[k];
    if (b[i] == b[k]) ++k;
    table[i + 1] = k;
  }
  m_pFailure.reset(table);
  m_wBoundaryLength = static_cast<WORD>(length);
  ResetBoundaryLookup();
}

void CRfc822HeadersParser::ResetBoundaryLookup() {
  m_wMatched = 0;
  m_dwLastFed = GetPos();
}

int CRfc822HeadersParser::SequentialCheckBoundary(unsigned char byte) {
  if (m_wBoundaryLength == 0) return 0;
  return FeedBoundaryAt(GetPos(), byte);
}

int CRfc822HeadersParser::FeedBoundaryAt(DWORD after, unsigned char byte) {
  if (after != m_dwLastFed + 1) return 0;
  m_dwLastFed = after;
  const char* b = m_strBoundary.c_str();
  WORD m = m_wMatched;
  if (m == m_wBoundaryLength) m = m_pFailure[m];
  while (m != NO_FALLBACK && static_cast<unsigned char>(b[m]) != byte) m = m_pFailure[m];
  m = static_cast<WORD>(m + 1);
  m_wMatched = m;
  return m == m_wBoundaryLength ? 1 : 0;
}

ULONG CRfc822HeadersParser::FeedBoundary(const BYTE* p, ULONG n) {
  if (m_wBoundaryLength == 0) return 0;
  const DWORD at = GetPos();
  for (ULONG i = 0; i < n; ++i) {
    if (FeedBoundaryAt(at + i + 1, p[i])) return i + 1;
  }
  return 0;
}

DWORD CRfc822HeadersParser::CountEquivalentEOL(const TSTRING& run) {
  return CountEquivalentEOL(std::string_view(run.c_str(), static_cast<size_t>(run.GetLength())));
}

DWORD CRfc822HeadersParser::CountEquivalentEOL(std::string_view run) {
  if (run.size() == 2 && run[0] == '\r' && run[1] == '\n') return 1;
  bool pairs = run.size() % 2 == 0;
  for (size_t i = 0; pairs && i < run.size(); i += 2) pairs = run[i] == '\r' && run[i + 1] == '\n';
  if (!pairs) m_dwAnomalyFlags |= ANOMALY_BAD_EOL;
  if (m_pEOL != nullptr) return m_pEOL->CountEquivalentEOL(run);
  // Without an analysis: CR LF pairs count one each; a run that begins with
  // LF LF holds an empty line of an LF message.
  DWORD half = static_cast<DWORD>(run.size() / 2);
  enum { START, AFTER_CR, AFTER_CRLF, AFTER_LF } state = START;
  for (char c : run) {
    switch (state) {
      case START:
        if (c == '\r') state = AFTER_CR;
        else if (c == '\n') state = AFTER_LF;
        else return 0;
        break;
      case AFTER_CR:
        if (c != '\n') return half;
        state = AFTER_CRLF;
        break;
      case AFTER_CRLF:
        if (c != '\r') return half;
        state = AFTER_CR;
        break;
      case AFTER_LF:
        return c == '\n' ? 2 : half;
    }
  }
  return half;
}

void CRfc822HeadersParser::ReadEndOfHeaders() {
  enum { A, B, C, D } state = A;
  for (;;) {
    int c = GetChar();
    if (c == -1) return;
    switch (state) {
      case A:
        if (c == '\r') state = B;
        else if (c == '\n') state = D;
        else { PutBackChar(); return; }
        break;
      case B:
        if (c == '\n') state = C;
        else if (c == '\r') state = D;
        else { PutBackChar(); return; }
        break;
      case C:
        if (c == '\r') state = D;
        else if (c == '\n') return;
        else { PutBackChar(); return; }
        break;
      case D:
        if (c == '\n') return;
        if (c != '\r') { PutBackChar(); return; }
        break;
    }
  }
}

// ---- NextField in stages ----
//
// One call reads bytes one at a time through a small state machine: the
// name (ReadNameByte, AcceptColon), the value with its folded lines
// (ReadValueByte, AfterValueLineEnd), or a malformed line being skipped
// (SkipLineByte). Runs of bytes that only count are passed a window at a
// time (PassPlainBytes); a boundary met inside the block ends it there
// (EndAtBoundary). The stages share the scan's record below.

// Where one NextField call stands and what it has found.
struct CRfc822HeadersParser::tag_FIELD_SCAN {
  ULONG nameStart = 0;
  ULONG nameLength = 0;
  ULONG valueStart = 0;
  ULONG valueLength = 0;
  int state = AT_LINE_START;
  int depth = 0;          // open parentheses in the name
  bool escape = false;    // the name's last byte was an unescaped backslash
  bool found = false;     // a field's colon was accepted
  bool done = false;      // the field (or the block) ends here
  DWORD runStart = 0;     // position of the run of line ends in m_run
  DWORD result = 0;       // the block's end when no field is found
};

DWORD CRfc822HeadersParser::NextField(ULONG& nameStart, ULONG& nameLength, ULONG& valueStart,
                                      ULONG& valueLength) {
  nameStart = nameLength = valueStart = valueLength = 0;
  tag_FIELD_SCAN s;
  s.result = GetPos();
  int c = CheckChar();
  if (c == -1 || (m_wBoundaryLength != 0 && m_wMatched == m_wBoundaryLength)) return s.result;
  if (IsEol(c)) {
    ReadEndOfHeaders();
    return GetPos();
  }
  m_run.clear();

  while (!s.done) {
    if (PassPlainBytes(s)) break;
    c = GetChar();
    if (c == -1) break;
    if (IsEol(c)) {
      ResetBoundaryLookup();
    } else if (m_wBoundaryLength != 0 && SequentialCheckBoundary(static_cast<unsigned char>(c))) {
      EndAtBoundary(s);
      break;
    }
    switch (s.state) {
      case AT_LINE_START:
      case IN_NAME:
      case AFTER_NAME:
        ReadNameByte(s, c);
        break;
      case SKIPPING_LINE:
      case AFTER_SKIPPED_CR:
      case AFTER_SKIPPED_LF:
      case IN_SKIPPED_EOL_RUN:
        SkipLineByte(s, c);
        break;
      default:
        ReadValueByte(s, c);
        break;
    }
  }

  if (!s.found) return s.result;
  nameStart = s.nameStart;
  nameLength = s.nameLength;
  valueStart = s.valueStart;
  valueLength = s.valueLength;
  return GetPos();
}

bool CRfc822HeadersParser::PassPlainBytes(tag_FIELD_SCAN& s) {
  if (s.state != IN_VALUE && s.state != SKIPPING_LINE && s.state != IN_NAME) return false;
  // Inside a value or a skipped line every byte up to the line end only
  // counts, inside a name every plain byte: those of the window are passed
  // in one step.
  ULONG n = 0;
  const BYTE* p = Window(&n);
  ULONG k = 0;
  if (s.state != IN_NAME) {
    k = static_cast<ULONG>(SpanExcept(p, n, '\r', '\n', '\n'));
  } else {
    while (k < n && g_PlainNameBytes.plain[p[k]]) ++k;
  }
  ULONG& counted = s.state == IN_VALUE ? s.valueLength : s.nameLength;
  const ULONG hit = FeedBoundary(p, k);
  if (hit != 0) {
    if (s.state != SKIPPING_LINE) counted += hit - 1;
    Skip(hit);
    EndAtBoundary(s);
    return true;
  }
  if (s.state != SKIPPING_LINE) counted += k;
  if (s.state == IN_NAME && k != 0) s.escape = false;
  Skip(k);
  return false;
}

void CRfc822HeadersParser::EndAtBoundary(tag_FIELD_SCAN& s) {
  // The boundary was completed by the byte just read: the block ends two
  // bytes before the boundary text.
  m_dwAnomalyFlags |= ANOMALY_BOUNDARY_IN_HEADER;
  DWORD p = GetPos() - m_wBoundaryLength;
  s.result = p > 1 ? p - 2 : 0;
  if (s.result < m_dwRangeStart) s.result = m_dwRangeStart;
  if (s.found && s.nameStart + s.nameLength > s.result) {
    s.found = false;
  } else if (s.found && s.valueStart + s.valueLength > s.result) {
    if (s.valueLength >= m_wBoundaryLength) {
      s.valueLength -= m_wBoundaryLength;
    } else {
      s.valueStart = s.valueStart + s.valueLength - m_wBoundaryLength;
      s.valueLength = 0;
    }
  }
  SetPos(s.result);
}

void CRfc822HeadersParser::AcceptColon(tag_FIELD_SCAN& s) {
  // Once a line was malformed, only known names are fields.
  if (m_dwAnomalyFlags & ANOMALY_HEADER_STRICT) {
    CFieldName name(*this, s.nameStart, s.nameLength);
    if (!CRfc822Field::IsKnownHeader(name.c_str())) {
      s.state = SKIPPING_LINE;
      return;
    }
  }
  s.found = true;
  s.valueStart = GetPos();
  s.state = AFTER_COLON;
}

void CRfc822HeadersParser::ReadNameByte(tag_FIELD_SCAN& s, int c) {
  switch (s.state) {
    case AT_LINE_START:
      if (c == ' ' || c == '\t' || BreaksLineStart(c)) {
        m_dwAnomalyFlags |= ANOMALY_MALFORMED_LINE;
        s.state = SKIPPING_LINE;
      } else {
        s.nameStart = GetPos() - 1;
        s.nameLength = 1;
        s.depth = 0;
        if (c == '(') {
          s.depth = 1;
          m_dwAnomalyFlags |= ANOMALY_NAME_COMMENT;
        }
        s.escape = false;
        s.state = IN_NAME;
      }
      break;

    case IN_NAME:
      if (c == '\r') {
        m_dwAnomalyFlags |= ANOMALY_MALFORMED_LINE;
        s.state = AFTER_SKIPPED_CR;
      } else if (c == '\n') {
        m_dwAnomalyFlags |= ANOMALY_MALFORMED_LINE;
        s.state = AFTER_SKIPPED_LF;
      } else if (c == ':' && !s.escape && s.depth == 0) {
        AcceptColon(s);
      } else if (c == ' ' || c == '\t') {
        s.state = AFTER_NAME;
      } else {
        ++s.nameLength;
        bool escaped = s.escape;
        s.escape = false;
        if (c == '(') {
          m_dwAnomalyFlags |= ANOMALY_NAME_PARENTHESIS;
          if (!escaped) ++s.depth;
        } else if (c == ')') {
          m_dwAnomalyFlags |= ANOMALY_MALFORMED_LINE;
          if (!escaped) --s.depth;
        } else if (c == '\\') {
          m_dwAnomalyFlags |= ANOMALY_MALFORMED_LINE;
          s.escape = !escaped;
        } else if (BreaksName(c)) {
          m_dwAnomalyFlags |= ANOMALY_MALFORMED_LINE;
          if (!escaped && s.depth == 0) s.state = SKIPPING_LINE;
        }
      }
      break;

    case AFTER_NAME:
      if (c == ':') {
        AcceptColon(s);
      } else if (c == '\r') {
        m_dwAnomalyFlags |= ANOMALY_MALFORMED_LINE;
        s.state = AFTER_SKIPPED_CR;
      } else if (c == '\n') {
        m_dwAnomalyFlags |= ANOMALY_MALFORMED_LINE;
        s.state = AFTER_SKIPPED_LF;
      } else if (c != ' ' && c != '\t') {
        m_dwAnomalyFlags |= ANOMALY_MALFORMED_LINE;
        s.state = SKIPPING_LINE;
      }
      break;
  }
}

void CRfc822HeadersParser::AfterValueLineEnd(tag_FIELD_SCAN& s, int c) {
  // The first byte after the line end of a value: a blank folds the value
  // onto the next line, anything else starts the next field.
  if (c == ' ') {
    s.state = IN_VALUE;
  } else if (c == '\t') {
    s.state = AFTER_EOL_TAB;
  } else {
    --s.valueLength;
    PutBackChar();
    s.done = true;
  }
}

void CRfc822HeadersParser::ReadValueByte(tag_FIELD_SCAN& s, int c) {
  switch (s.state) {
    case AFTER_COLON:
      if (c == ' ' || c == '\t') {
        ++s.valueStart;
      } else {
        ++s.valueLength;
        s.state = c == '\r' ? AFTER_VALUE_CR : c == '\n' ? AFTER_VALUE_LF : IN_VALUE;
      }
      break;

    case IN_VALUE:
      ++s.valueLength;
      if (c == '\r') s.state = AFTER_VALUE_CR;
      else if (c == '\n') s.state = AFTER_VALUE_LF;
      break;

    case AFTER_VALUE_CR:
    case AFTER_VALUE_LF:
      ++s.valueLength;
      s.runStart = GetPos() - 2;
      m_run.clear();
      m_run.push_back(s.state == AFTER_VALUE_CR ? '\r' : '\n');
      if (IsEol(c)) {
        m_run.push_back(static_cast<char>(c));
        if (!(s.state == AFTER_VALUE_CR && c == '\n')) m_dwAnomalyFlags |= ANOMALY_MALFORMED_LINE;
        s.state = IN_VALUE_EOL_RUN;
      } else {
        m_dwAnomalyFlags |= ANOMALY_BAD_EOL;
        AfterValueLineEnd(s, c);
      }
      break;

    case IN_VALUE_EOL_RUN:
      ++s.valueLength;
      if (IsEol(c)) {
        m_run.push_back(static_cast<char>(c));
      } else if (CountEquivalentEOL(std::string_view(m_run)) >= 2) {
        // The run holds an empty line: the next call meets it.
        SetPos(s.runStart);
        if (m_run.size() <= s.valueLength) s.valueLength -= static_cast<ULONG>(m_run.size());
        s.done = true;
      } else {
        AfterValueLineEnd(s, c);
      }
      break;

    case AFTER_EOL_TAB:
      if (IsEol(c)) {
        PutBackChar();
        s.done = true;
      } else {
        ++s.valueLength;
        s.state = IN_VALUE;
      }
      break;
  }
}

void CRfc822HeadersParser::SkipLineByte(tag_FIELD_SCAN& s, int c) {
  switch (s.state) {
    case SKIPPING_LINE:
      if (c == '\r') s.state = AFTER_SKIPPED_CR;
      else if (c == '\n') s.state = AFTER_SKIPPED_LF;
      break;

    case AFTER_SKIPPED_CR:
    case AFTER_SKIPPED_LF:
      s.runStart = GetPos() - 2;
      m_run.clear();
      m_run.push_back(s.state == AFTER_SKIPPED_CR ? '\r' : '\n');
      if (IsEol(c)) {
        m_run.push_back(static_cast<char>(c));
        s.state = IN_SKIPPED_EOL_RUN;
      } else {
        PutBackChar();
        s.state = AT_LINE_START;
      }
      break;

    case IN_SKIPPED_EOL_RUN:
      if (IsEol(c)) {
        m_run.push_back(static_cast<char>(c));
      } else if (CountEquivalentEOL(std::string_view(m_run)) < 2) {
        // Malformed lines and a line end: the next line may be a field.
        PutBackChar();
        s.state = AT_LINE_START;
      } else {
        // An empty line after malformed lines: they belong to the body.
        s.done = true;
      }
      break;
  }
}

CFieldName::CFieldName(CRfc822HeadersParser& scanner, ULONG start, ULONG length) : m_bHadComment(false) {
  const BYTE* p = scanner.InWindow(start, start + length);
  if (p != nullptr && length < sizeof m_szShort && memchr(p, '(', length) == nullptr) {
    memcpy(m_szShort, p, length);
    m_szShort[length] = '\0';
    m_pText = m_szShort;
    m_nLength = static_cast<int>(length);
    return;
  }
  HRESULT hr = scanner.ReadData(start, start + length, m_strLong);
  if (FAILED(hr)) ThrowCode(static_cast<DWORD>(hr));
  m_bHadComment = RemoveComments(m_strLong, 1) != 0;
  m_pText = m_strLong.c_str();
  m_nLength = m_strLong.GetLength();
}

int ReadHeaderField(CRfc822HeadersParser& scanner, tag_HEADER_FIELD& field) {
  ULONG nameStart, nameLength, valueStart, valueLength;
  field.end = scanner.NextField(nameStart, nameLength, valueStart, valueLength);
  field.nameHadComment = 0;
  if (nameLength == 0) return HEADER_BLOCK_END;
  if (nameLength > CRfc822HeadersParser::MAX_NAME_LENGTH) return HEADER_NAME_TOO_LONG;
  HRESULT hr = scanner.ReadData(nameStart, nameStart + nameLength, field.name);
  if (SUCCEEDED(hr)) hr = scanner.ReadData(valueStart, valueStart + valueLength, field.value);
  if (FAILED(hr)) ThrowCode(static_cast<DWORD>(hr));
  if (RemoveComments(field.name, 1)) field.nameHadComment = 1;
  UnfoldLine(field.value);
  field.value.TrimRight();
  return HEADER_FIELD_READ;
}

}  // namespace telsor
