// The body parser: delimiter lines and the blocks hidden in text.
#include "mime/bodyparser.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <memory>
#include <new>
#include <string>

#include "foundation/errorroad.h"
#include "foundation/strhelpers.h"
#include "foundation/throwcode.h"
#include "foundation/win32.h"
#include "mime/anomalyflags.h"
#include "mime/binhex.h"
#include "mime/mediatype.h"
#include "mime/mimehelpers.h"
#include "mime/mimeresults.h"
#include "mime/rfc2045parameter.h"
#include "mime/uuencode.h"
#include "search/searchresults.h"
#include "search/seekmultiwords.h"

namespace telsor {

namespace {

bool IsEol(int c) { return c == '\r' || c == '\n'; }
bool IsBlankOrNul(int c) { return c == ' ' || c == '\t' || c == 0; }

// The words that start a header line of a pasted message.
const char* const kHeaderNames[] = {
    "Received:", "From:", "To:", "Cc:", "Bcc:", "Subject:", "Message-ID", "MIME-Version", "Content-Type",
    "Content-Transfer-Encoding", "Return-Path", nullptr};

// The same names (in another order) and the lines holding a single dot,
// which end a pasted message.
const char* const kMessageEnds[] = {
    "Received:",    "From:",        "To:",        "Cc:",      "Bcc:",     "Message-ID",
    "Subject:",     "MIME-Version", "Content-Type", "Content-Transfer-Encoding", "Return-Path",
    "\n.\r",        "\r.\r",        "\n.\n",      "\r.\n",    nullptr};

class CWordsMatcher : public CSeekMultiWords {
 public:
  explicit CWordsMatcher(const char* const* words) { Compile(const_cast<const char**>(words), 0); }
};

class CBeginMatcher : public CSeekSubstr {
 public:
  CBeginMatcher() { Compile("begin", 1, 0); }
};

const CWordsMatcher& HeaderNames() {
  static const CWordsMatcher matcher(kHeaderNames);
  return matcher;
}

static_assert(sizeof kHeaderNames / sizeof kHeaderNames[0] <= 17, "a row per name");

// What a line must have to start with a header name: the first two bytes
// of one (either case; every name has two or more), and the longest name.
struct tag_HEADER_NAME_STARTS {
  BYTE slot[256] = {};                    // 1 + the first byte's row, or 0
  unsigned long long second[16][4] = {};  // per row (one per name at most): the second bytes
  DWORD longest = 0;
  tag_HEADER_NAME_STARTS() {
    BYTE rows = 0;
    for (const char* const* w = kHeaderNames; *w != nullptr; ++w) {
      const BYTE c = static_cast<BYTE>(tolower(static_cast<BYTE>((*w)[0])));
      if (slot[c] == 0) slot[c] = slot[toupper(c)] = ++rows;
      for (int d : {tolower(static_cast<BYTE>((*w)[1])), toupper(static_cast<BYTE>((*w)[1]))})
        second[slot[c] - 1][d >> 6] |= 1ull << (d & 63);
      const DWORD length = static_cast<DWORD>(strlen(*w));
      if (length > longest) longest = length;
    }
  }
  // Whether a name may start at p, which has two bytes or more.
  bool MayStart(const BYTE* p) const {
    const BYTE row = slot[p[0]];
    return row != 0 && (second[row - 1][p[1] >> 6] >> (p[1] & 63) & 1) != 0;
  }
};

const tag_HEADER_NAME_STARTS& HeaderNameStarts() {
  static const tag_HEADER_NAME_STARTS starts;
  return starts;
}

const CWordsMatcher& MessageEnds() {
  static const CWordsMatcher matcher(kMessageEnds);
  return matcher;
}

const CBeginMatcher& BeginWord() {
  static const CBeginMatcher matcher;
  return matcher;
}

// Compiles a delimiter matcher; failures are thrown (a pattern too long as
// the MIME code).
void CompileDelimiter(CSeekSubstr& matcher, const TSTRING& text) {
  HRESULT hr = matcher.Compile(text.c_str(), 1, static_cast<DWORD>(text.GetLength()));
  if (hr == E_SEEK_PATTERN_TOO_LONG) ThrowCode(static_cast<DWORD>(E_MIME_DELIMITER_TOO_LONG));
  if (hr != S_OK) ThrowCode(static_cast<DWORD>(hr));
}

// Bytes that the closing-delimiter searches of pasted messages may read in
// all: this many times the part, and some more.
const DWORD CLOSE_SEARCH_FACTOR = 4;
const DWORD CLOSE_SEARCH_SLACK = 1u << 20;

const tag_PART_RECOGNIZER kHtmlRows[] = {
    {&CRfcBodyParser::FindUUencode, 0, 0, 0, CONTENT_ENCODING_UUENCODE},
    {&CRfcBodyParser::FindBinHex40, 0, 0, 0, CONTENT_ENCODING_BINHEX},
};
const tag_PART_RECOGNIZER kTextRows[] = {
    {&CRfcBodyParser::FindUUencode, 0, 0, 0, CONTENT_ENCODING_UUENCODE},
    {&CRfcBodyParser::FindBinHex40, 0, 0, 0, CONTENT_ENCODING_BINHEX},
    {&CRfcBodyParser::FindMailMsg, 0, 0, 0, CONTENT_ENCODING_BINARY},
};

}  // namespace

void InitMailMsgSeekers() {
  HeaderNames();
  HeaderNameStarts();
  MessageEnds();
  BeginWord();
}

namespace {

// The matchers are built when the library is loaded.
const struct CSeekersAtLoad {
  CSeekersAtLoad() { InitMailMsgSeekers(); }
} g_SeekersAtLoad;

}  // namespace

// The part's bytes as the searches see them: matcher searches over a range,
// bytes read at a position, readers over a range. Positions are absolute
// (base plus offset); nothing is read outside [base, data end).
class CRfcBodyParser::CData {
 public:
  CData(DWORD base, DWORD end) : m_dwBase(base), m_dwEnd(end) {}
  virtual ~CData() {}
  // The first match of matcher in [from, to), or SEEK_NOT_FOUND; an empty
  // range finds nothing.
  DWORD Find(const CSeekPattern& matcher, DWORD from, DWORD to, DWORD* matchLength) const {
    *matchLength = 0;
    if (to > m_dwEnd) to = m_dwEnd;
    if (from < m_dwBase || from >= to) return SEEK_NOT_FOUND;
    DWORD at = Search(matcher, from, to - from, matchLength);
    if (at == SEEK_NOT_FOUND || at < from || at >= to || *matchLength > to - at) {
      *matchLength = 0;
      return SEEK_NOT_FOUND;
    }
    return at;
  }
  // Up to count bytes from pos, cut at the data end; the number read.
  ULONG Read(DWORD pos, BYTE* to, ULONG count) const {
    if (pos < m_dwBase || pos >= m_dwEnd) return 0;
    if (count > m_dwEnd - pos) count = m_dwEnd - pos;
    return count == 0 ? 0 : ReadAt(pos, to, count);
  }
  int At(DWORD pos) const {
    BYTE b;
    return Read(pos, &b, 1) == 1 ? b : -1;
  }
  // A reader over [from, to) and the position that its offset 0 stands for
  // (absolute = origin + reader position).
  virtual std::unique_ptr<CStreamReader> Reader(DWORD from, DWORD to, DWORD& origin) const = 0;
  // The position of the first BinHex 4.0 preamble in [from, to), or
  // SEEK_NOT_FOUND.
  DWORD FindBinHexPreamble(DWORD from, DWORD to) const {
    if (to > m_dwEnd) to = m_dwEnd;
    if (from < m_dwBase || from >= to) return SEEK_NOT_FOUND;
    DWORD at = FindPreamble(from, to - from);
    return at == SEEK_NOT_FOUND || at < from || at >= to ? SEEK_NOT_FOUND : at;
  }
  DWORD Base() const { return m_dwBase; }
  DWORD End() const { return m_dwEnd; }
  // The first header line of a pasted message in [from, to): where a
  // header name (HeaderNames) starts a line that IsHeaderLine accepts, the
  // name's length in *matchLength; or SEEK_NOT_FOUND.
  virtual DWORD FindHeaderLine(DWORD from, DWORD to, DWORD* matchLength) const;

 protected:
  virtual DWORD Search(const CSeekPattern& matcher, DWORD from, DWORD length, DWORD* matchLength) const = 0;
  virtual ULONG ReadAt(DWORD pos, BYTE* to, ULONG count) const = 0;
  virtual DWORD FindPreamble(DWORD from, DWORD length) const = 0;

 private:
  DWORD m_dwBase;
  DWORD m_dwEnd;
};

class CRfcBodyParser::CMemoryData : public CRfcBodyParser::CData {
 public:
  CMemoryData(const unsigned char* data, DWORD length) : CData(0, length), m_pData(data) {}
  std::unique_ptr<CStreamReader> Reader(DWORD from, DWORD to, DWORD& origin) const override {
    if (to > End()) to = End();
    if (from > to) from = to;
    origin = from;
    return WithMemoryException([&] { return std::make_unique<CStreamReader>(m_pData + from, to - from); });
  }

 protected:
  DWORD Search(const CSeekPattern& matcher, DWORD from, DWORD length, DWORD* matchLength) const override {
    DWORD at = matcher.Search(reinterpret_cast<const char*>(m_pData) + from, length, matchLength);
    return at == SEEK_NOT_FOUND ? at : at + from;
  }
  ULONG ReadAt(DWORD pos, BYTE* to, ULONG count) const override {
    memcpy(to, m_pData + pos, count);
    return count;
  }
  DWORD FindPreamble(DWORD from, DWORD length) const override {
    DWORD at = FindBinHex40Preambule(m_pData + from, length, nullptr);
    return at == SEEK_NOT_FOUND ? at : at + from;
  }

 public:
  DWORD FindHeaderLine(DWORD from, DWORD to, DWORD* matchLength) const override;

 private:
  const unsigned char* m_pData;
};

class CRfcBodyParser::CStreamData : public CRfcBodyParser::CData {
 public:
  CStreamData(IStream* stream, DWORD base, DWORD end) : CData(base, end), m_pStream(stream) {}
  std::unique_ptr<CStreamReader> Reader(DWORD from, DWORD to, DWORD& origin) const override {
    if (to > End()) to = End();
    if (from > to) from = to;
    origin = 0;
    SeekTo(from);
    return WithMemoryException([&] { return std::make_unique<CStreamReader>(m_pStream, to - from); });
  }

 protected:
  DWORD Search(const CSeekPattern& matcher, DWORD from, DWORD length, DWORD* matchLength) const override {
    SeekTo(from);
    return matcher.Search(m_pStream, length, matchLength);
  }
  // Reads until count bytes came or a read gives none (short reads go on).
  ULONG ReadAt(DWORD pos, BYTE* to, ULONG count) const override {
    SeekTo(pos);
    ULONG done = 0;
    while (done < count) {
      ULONG got = 0;
      HRESULT hr = m_pStream->Read(to + done, count - done, &got);
      if (FAILED(hr)) ThrowCode(static_cast<DWORD>(hr));
      if (got == 0) break;
      done += got > count - done ? count - done : got;
    }
    return done;
  }
  DWORD FindPreamble(DWORD from, DWORD length) const override {
    SeekTo(from);
    return FindBinHex40Preambule(m_pStream, length, nullptr);
  }

 private:
  void SeekTo(DWORD pos) const {
    HRESULT hr = StreamSeekTo(m_pStream, pos);
    if (FAILED(hr)) ThrowCode(static_cast<DWORD>(hr));
  }
  IStream* m_pStream;
};

namespace {

// Reads forward from a position in blocks of up to 32 bytes.
class CForward {
 public:
  CForward(const CRfcBodyParser::CData& data, DWORD pos, DWORD limit) : m_data(data), m_dwPos(pos), m_dwLimit(limit) {}
  // The next byte, or -1 at the limit (the position stays there).
  int Next() {
    if (m_nAt == m_nHeld) {
      if (m_dwPos >= m_dwLimit) return -1;
      ULONG want = m_dwLimit - m_dwPos < sizeof m_ab ? m_dwLimit - m_dwPos : static_cast<ULONG>(sizeof m_ab);
      m_nHeld = m_data.Read(m_dwPos, m_ab, want);
      m_nAt = 0;
      if (m_nHeld == 0) {
        m_dwLimit = m_dwPos;
        return -1;
      }
    }
    ++m_dwPos;
    return m_ab[m_nAt++];
  }
  // The position of the next byte.
  DWORD Pos() const { return m_dwPos; }

 private:
  const CRfcBodyParser::CData& m_data;
  DWORD m_dwPos;
  DWORD m_dwLimit;
  BYTE m_ab[32];
  ULONG m_nHeld = 0;
  ULONG m_nAt = 0;
};

// The position of the first CR or LF at or after pos, or limit.
DWORD LineEnd(const CRfcBodyParser::CData& data, DWORD pos, DWORD limit) {
  CForward f(data, pos, limit);
  for (;;) {
    DWORD at = f.Pos();
    int c = f.Next();
    if (c < 0 || IsEol(c)) return c < 0 ? limit : at;
  }
}

// Whether position pos starts a line of the data.
bool StartsLine(const CRfcBodyParser::CData& data, DWORD pos) {
  return pos == data.Base() || IsEol(data.At(pos - 1));
}

// Whether a header name matched at [pos, pos + length) is a header line:
// at a line start, and either ending in a colon or followed by blanks or
// NUL bytes and a colon before the limit.
bool IsHeaderLine(const CRfcBodyParser::CData& data, DWORD pos, DWORD length, DWORD limit) {
  if (length == 0 || !StartsLine(data, pos)) return false;
  if (data.At(pos + length - 1) == ':') return true;
  CForward f(data, pos + length, limit);
  for (;;) {
    int c = f.Next();
    if (c == ':') return true;
    if (c < 0 || !IsBlankOrNul(c)) return false;
  }
}

}  // namespace

// Searches the whole range for the names and looks at each hit.
DWORD CRfcBodyParser::CData::FindHeaderLine(DWORD from, DWORD to, DWORD* matchLength) const {
  for (;;) {
    *matchLength = 0;
    if (from >= to) return SEEK_NOT_FOUND;
    const DWORD m = Find(HeaderNames(), from, to, matchLength);
    if (m == SEEK_NOT_FOUND || *matchLength == 0) return SEEK_NOT_FOUND;
    if (IsHeaderLine(*this, m, *matchLength, to)) return m;
    from = LineEnd(*this, m, to);
  }
}

// In memory the same answer comes from the line starts alone: a header
// line starts a line, names hold no line ends, and the names found in the
// middle of a line only ever sent the search on to the line's end. Each
// line start that may begin a name (by its first two bytes) is searched
// over the longest name's length (a name found further on is in the middle
// of the line).
DWORD CRfcBodyParser::CMemoryData::FindHeaderLine(DWORD from, DWORD to, DWORD* matchLength) const {
  *matchLength = 0;
  if (to > End()) to = End();
  const tag_HEADER_NAME_STARTS& starts = HeaderNameStarts();
  DWORD at = from < Base() ? Base() : from;
  while (at < to) {
    if ((at == Base() || IsEol(m_pData[at - 1])) && to - at >= 2 && starts.MayStart(m_pData + at)) {
      const DWORD window = to - at < starts.longest ? to - at : starts.longest;
      DWORD length = 0;
      if (Find(HeaderNames(), at, at + window, &length) == at && length != 0 &&
          IsHeaderLine(*this, at, length, to)) {
        *matchLength = length;
        return at;
      }
    }
    at += static_cast<DWORD>(SpanExcept(m_pData + at, to - at, '\r', '\n', '\n'));
    if (at < to) ++at;
  }
  return SEEK_NOT_FOUND;
}

CRfcBodyParser::CRfcBodyParser(const unsigned char* data, ULONG length, ULONG bodyStart, TSTRING& boundary,
                               int split, TSTRING& mediaType)
    : m_dwBase(0), m_nDataKind(0), m_pData(data), m_pStream(nullptr) {
  Init(length, bodyStart, boundary, split, mediaType);
}

CRfcBodyParser::CRfcBodyParser(IStream* stream, ULONG length, ULONG bodyStart, TSTRING& boundary, int split,
                               TSTRING& mediaType)
    : m_dwBase(0), m_nDataKind(1), m_pData(nullptr), m_pStream(stream) {
  if (m_pStream != nullptr) {
    ULONGLONG at = 0;
    ThrowIfFailed(StreamPosition(m_pStream, &at));
    m_dwBase = static_cast<DWORD>(at);
  }
  Init(length, bodyStart, boundary, split, mediaType);
}

void CRfcBodyParser::Init(ULONG length, ULONG bodyStart, TSTRING& boundary, int split, TSTRING& mediaType) {
  m_pEOL = nullptr;
  // Positions are 32-bit: the part ends at the last position there is.
  m_dwDataLength = length > 0xFFFFFFFFu - m_dwBase ? 0xFFFFFFFFu - m_dwBase : length;
  m_dwBodyStart = bodyStart > m_dwDataLength ? m_dwDataLength : bodyStart;
  m_bSplit = split;
  m_dwCloseSearchBudget = m_dwDataLength > (0xFFFFFFFFu - CLOSE_SEARCH_SLACK) / CLOSE_SEARCH_FACTOR
                              ? 0xFFFFFFFFu
                              : m_dwDataLength * CLOSE_SEARCH_FACTOR + CLOSE_SEARCH_SLACK;
  m_strDelimiter = boundary;
  m_strMediaType = mediaType;
  if (m_bSplit != 0) {
    m_strDelimiter = TSTRING("--") + boundary;
    CompileDelimiter(m_Delimiter, m_strDelimiter);
  }
}

CRfcBodyParser::~CRfcBodyParser() = default;

void CRfcBodyParser::SetEOLSequence(const CSetEOLSequence* analysis, int copy) {
  m_pEOL = nullptr;
  m_pOwnedEOL.reset();
  if (analysis == nullptr || copy == 0) {
    m_pEOL = analysis;
    return;
  }
  m_pOwnedEOL = WithMemoryException([&] { return std::make_unique<const CSetEOLSequence>(*analysis); });
  m_pEOL = m_pOwnedEOL.get();
}

BOOL CRfcBodyParser::IsDataNull() const {
  if (m_nDataKind == 0) return m_pData == nullptr;
  if (m_nDataKind == 1) return m_pStream == nullptr;
  return TRUE;
}

DWORD CRfcBodyParser::CountEquivalentEOL(const TSTRING& run) const {
  if (m_pEOL != nullptr) return m_pEOL->CountEquivalentEOL(run);
  const int n = run.GetLength();
  if (n == 0) return 0;
  if (run[0] == '\r') return static_cast<DWORD>(n / 2);
  if (run[0] != '\n') return 0;
  if (n >= 2 && run[1] == '\n') return 1;
  return static_cast<DWORD>(n / 2);
}

void CRfcBodyParser::Append(DWORD begin, DWORD end, DWORD type, DWORD kind, DWORD status, DWORD flags) {
  tag_PART_LAYOUT r = {begin, end, type, kind, status, flags};
  WithMemoryException([&] { m_records.push_back(r); });
}

void CRfcBodyParser::Parse() {
  m_records.clear();
  if (IsDataNull()) return;
  const DWORD end = DataEnd();
  tag_PART_LAYOUT whole = {m_dwBase, end, SEGMENT_PART, 0, 0, 0};
  if (m_bSplit == 0) {
    CheckHiddenParts(whole);
    return;
  }
  unsigned int b = 0, e = 0;
  int closing = 0;
  if (!FindBoundary(m_dwBase + m_dwBodyStart, b, e, closing)) {
    Append(m_dwBase, end, SEGMENT_TEXT, 0, static_cast<DWORD>(E_MIME_NO_DELIMITER), ANOMALY_NO_CLOSING_DELIMITER);
    tag_PART_LAYOUT searched = m_records.back();
    CheckHiddenParts(searched);
    return;
  }
  if (m_dwBase + m_dwBodyStart < b) Append(m_dwBase + m_dwBodyStart, b, SEGMENT_PREAMBLE, 0, 0, 0);
  DWORD p = e;
  while (!closing) {
    if (!FindBoundary(p, b, e, closing)) {
      Append(p, end, SEGMENT_PART, 0, static_cast<DWORD>(E_MIME_NO_CLOSING_DELIMITER),
             ANOMALY_NO_CLOSING_DELIMITER);
      return;
    }
    if (p < b) Append(p, b, SEGMENT_PART, 0, 0, 0);
    p = e;
  }
  if (e < end) Append(e, end, SEGMENT_EPILOGUE, 0, 0, 0);
}

int CRfcBodyParser::FindBoundary(unsigned int start, unsigned int& begin, unsigned int& end, int& closing) const {
  if (m_nDataKind == 0) return FindBoundaryInMemory(start, begin, end, closing);
  if (m_nDataKind == 1) return FindBoundaryInStream(start, begin, end, closing);
  return 0;
}

int CRfcBodyParser::FindUUencode(unsigned int start, unsigned int length, unsigned int& begin,
                                 unsigned int& end) const {
  if (m_nDataKind == 0) return FindUUencodeInMemory(start, length, begin, end);
  if (m_nDataKind == 1) return FindUUencodeInStream(start, length, begin, end);
  return 0;
}

int CRfcBodyParser::FindBinHex40(unsigned int start, unsigned int length, unsigned int& begin,
                                 unsigned int& end) const {
  if (m_nDataKind == 0) return FindBinHex40InMemory(start, length, begin, end);
  if (m_nDataKind == 1) return FindBinHex40InStream(start, length, begin, end);
  return 0;
}

int CRfcBodyParser::FindMailMsg(unsigned int start, unsigned int length, unsigned int& begin,
                                unsigned int& end) const {
  if (m_nDataKind == 0) return FindMailMsgInMemory(start, length, begin, end);
  if (m_nDataKind == 1) return FindMailMsgInStream(start, length, begin, end);
  return 0;
}

int CRfcBodyParser::FindBoundaryInMemory(unsigned int start, unsigned int& begin, unsigned int& end,
                                         int& closing) const {
  return FindBoundaryIn(CMemoryData(m_pData, m_dwDataLength), start, begin, end, closing);
}

int CRfcBodyParser::FindBoundaryInStream(unsigned int start, unsigned int& begin, unsigned int& end,
                                         int& closing) const {
  return FindBoundaryIn(CStreamData(m_pStream, m_dwBase, DataEnd()), start, begin, end, closing);
}

int CRfcBodyParser::FindUUencodeInMemory(unsigned int start, unsigned int length, unsigned int& begin,
                                         unsigned int& end) const {
  return FindUUencodeIn(CMemoryData(m_pData, m_dwDataLength), start, length, begin, end);
}

int CRfcBodyParser::FindUUencodeInStream(unsigned int start, unsigned int length, unsigned int& begin,
                                         unsigned int& end) const {
  return FindUUencodeIn(CStreamData(m_pStream, m_dwBase, DataEnd()), start, length, begin, end);
}

int CRfcBodyParser::FindBinHex40InMemory(unsigned int start, unsigned int length, unsigned int& begin,
                                         unsigned int& end) const {
  return FindBinHex40In(CMemoryData(m_pData, m_dwDataLength), start, length, begin, end);
}

int CRfcBodyParser::FindBinHex40InStream(unsigned int start, unsigned int length, unsigned int& begin,
                                         unsigned int& end) const {
  return FindBinHex40In(CStreamData(m_pStream, m_dwBase, DataEnd()), start, length, begin, end);
}

int CRfcBodyParser::FindMailMsgInMemory(unsigned int start, unsigned int length, unsigned int& begin,
                                        unsigned int& end) const {
  return FindMailMsgIn(CMemoryData(m_pData, m_dwDataLength), start, length, begin, end);
}

int CRfcBodyParser::FindMailMsgInStream(unsigned int start, unsigned int length, unsigned int& begin,
                                        unsigned int& end) const {
  return FindMailMsgIn(CStreamData(m_pStream, m_dwBase, DataEnd()), start, length, begin, end);
}

int CRfcBodyParser::FindBoundaryIn(const CData& data, unsigned int start, unsigned int& begin,
                                   unsigned int& end, int& closing) const {
  const DWORD dataEnd = data.End();
  begin = end = dataEnd;
  closing = 0;
  if (m_bSplit == 0) return 0;
  while (start < dataEnd) {
    DWORD length = 0;
    const DWORD m = data.Find(m_Delimiter, start, dataEnd, &length);
    if (m == SEEK_NOT_FOUND) return 0;
    start = m + 1;
    // The line break before the delimiter belongs to it.
    DWORD b = m;
    if (m != data.Base()) {
      BYTE before[2] = {0, 0};
      const DWORD from = m - data.Base() >= 2 ? m - 2 : m - 1;
      const ULONG got = data.Read(from, before, m - from);
      const int c = got == m - from ? before[got - 1] : -1;
      if (IsEol(c)) {
        b = m - 1;
        if (got == 2 && IsEol(before[0])) b = m - 2;
      } else if (!(c == '-' || (c >= 0 && isspace(c)))) {
        continue;
      }
    }
    // The rest of the delimiter line.
    enum { AFTER_TEXT, AFTER_DASH, BLANKS, AFTER_CR } state = AFTER_TEXT;
    CForward f(data, m + length, dataEnd);
    int isClosing = 0;
    bool accepted = false;
    bool rejected = false;
    DWORD e = dataEnd;
    while (!accepted && !rejected) {
      const DWORD at = f.Pos();
      const int c = f.Next();
      if (c < 0) {
        accepted = true;
        e = dataEnd;
        break;
      }
      switch (state) {
        case AFTER_TEXT:
        case BLANKS:
          if (c == '\r') {
            state = AFTER_CR;
          } else if (c == '\n') {
            accepted = true;
            e = at + 1;
          } else if (state == AFTER_TEXT && c == '-') {
            state = AFTER_DASH;
          } else if (!isspace(c)) {
            rejected = true;
          } else {
            state = BLANKS;
          }
          break;
        case AFTER_DASH:
          if (c == '-') {
            isClosing = 1;
            state = BLANKS;
          } else {
            rejected = true;
          }
          break;
        case AFTER_CR:
          accepted = true;
          e = c == '\n' ? at + 1 : at;
          break;
      }
    }
    if (rejected) continue;
    begin = b;
    end = e;
    closing = isClosing;
    return 1;
  }
  return 0;
}

int CRfcBodyParser::FindUUencodeIn(const CData& data, unsigned int start, unsigned int length, unsigned int& begin,
                                   unsigned int& end) const {
  if (start >= data.End()) return 0;
  const DWORD limit = length > data.End() - start ? data.End() : start + length;
  // What the last full verification saw (positions absolute). Every "begin"
  // line above its stop has the same lines below it, up to the same "end"
  // line or the limit, so most later candidates are decided without
  // reading those lines again: the search stays linear in the text.
  bool known = false;
  tag_UU_SCAN seen;
  DWORD seenStop = 0, seenLastGood = 0;
  auto verify = [&](DWORD at, tag_UU_SCAN& scan, ULONG& blockLength) {
    DWORD origin = 0;
    std::unique_ptr<CStreamReader> reader = data.Reader(at, limit, origin);
    BOOL ok = VerifyUUencode(*reader, blockLength, &scan);
    scan.stop += origin;
    scan.lastGoodLine += origin;
    return ok && blockLength <= limit - at;
  };
  DWORD from = start;
  while (from < limit) {
    DWORD matchLength = 0;
    const DWORD m = data.Find(BeginWord(), from, limit, &matchLength);
    if (m == SEEK_NOT_FOUND) return 0;
    from = m + 5;
    if (!StartsLine(data, m)) continue;
    ULONG blockLength = 0;
    if (known && m < seenStop) {
      // No good data line below: no candidate above the stop can hold one.
      if (seen.goodLines == 0) {
        from = seenStop;
        continue;
      }
      // Good lines but no "end" line up to the limit: a candidate needs a
      // mode and a good line below its own "begin" line.
      if (seenLastGood <= m) return 0;
      tag_UU_SCAN header;
      header.headerOnly = TRUE;
      verify(m, header, blockLength);
      if (!header.header || !header.modeRead) continue;
    }
    tag_UU_SCAN scan;
    if (verify(m, scan, blockLength)) {
      begin = m;
      end = m + blockLength;
      return 1;
    }
    if (scan.header) {
      known = true;
      seen = scan;
      seenStop = scan.stop;
      seenLastGood = scan.lastGoodLine;
    }
  }
  return 0;
}

int CRfcBodyParser::FindBinHex40In(const CData& data, unsigned int start, unsigned int length, unsigned int& begin,
                                   unsigned int& end) const {
  if (start >= data.End()) return 0;
  const DWORD limit = length > data.End() - start ? data.End() : start + length;
  const DWORD at = data.FindBinHexPreamble(start, limit);
  if (at == SEEK_NOT_FOUND) return 0;
  DWORD origin = 0;
  std::unique_ptr<CStreamReader> reader = data.Reader(at, limit, origin);
  ULONG blockLength = 0;
  if (!VerifyBinHex40(*reader, blockLength) || blockLength > limit - at) return 0;
  begin = at;
  end = at + blockLength;
  return 1;
}

int CRfcBodyParser::FindMailMsgIn(const CData& data, unsigned int start, unsigned int length, unsigned int& begin,
                                  unsigned int& end) const {
  if (start >= data.End()) return 0;
  const DWORD limit = length > data.End() - start ? data.End() : start + length;
  // The part's own header block is never a pasted message.
  DWORD from = start;
  if (from < m_dwBase + m_dwBodyStart) from = m_dwBase + m_dwBodyStart;
  DWORD nameLength = 0;
  const DWORD m = data.FindHeaderLine(from, limit, &nameLength);
  if (m == SEEK_NOT_FOUND) return 0;
  TSTRING boundary;
  int hasBoundary = 0;
  DWORD h;
  {
    DWORD origin = 0;
    std::unique_ptr<CStreamReader> reader = data.Reader(m, limit, origin);
    h = origin + GetEmbeddedBoundary(*reader, boundary, hasBoundary);
  }
  if (h < m) h = m;
  if (h > limit) h = limit;
  begin = m;
  // The closing delimiter is searched up to the limit; all these searches
  // of one parser together read at most a few times the part, so a text
  // of many pasted headers with boundaries costs linear time (beyond the
  // budget a block ends as one without a boundary).
  if (hasBoundary && limit - h <= m_dwCloseSearchBudget) {
    m_dwCloseSearchBudget -= limit - h;
    CSeekSubstr closing;
    CompileDelimiter(closing, TSTRING("--") + boundary + "--");
    DWORD matchLength = 0;
    const DWORD at = data.Find(closing, h, limit, &matchLength);
    if (at != SEEK_NOT_FOUND) {
      end = at + matchLength;
      return 1;
    }
  }
  end = limit;
  DWORD p = h;
  while (p < limit) {
    DWORD matchLength = 0;
    const DWORD x = data.Find(MessageEnds(), p, limit, &matchLength);
    if (x == SEEK_NOT_FOUND) break;
    if (IsEol(data.At(x))) {
      // A line holding a single dot: the message ends after the run of
      // line breaks and dots that follows.
      CForward f(data, x + 1, limit);
      for (;;) {
        const DWORD at = f.Pos();
        const int c = f.Next();
        if (c < 0 || !(IsEol(c) || c == '.')) {
          end = c < 0 ? limit : at;
          break;
        }
      }
      break;
    }
    if (IsHeaderLine(data, x, matchLength, limit)) {
      end = x;  // the next pasted message starts here
      break;
    }
    p = LineEnd(data, x, limit);
  }
  return 1;
}

int CRfcBodyParser::CmpHiddendPart(const void* a, const void* b) {
  const tag_PART_RECOGNIZER* x = static_cast<const tag_PART_RECOGNIZER*>(a);
  const tag_PART_RECOGNIZER* y = static_cast<const tag_PART_RECOGNIZER*>(b);
  if ((x->found != 0) != (y->found != 0)) return x->found != 0 ? -1 : 1;
  if (x->begin != y->begin) return x->begin < y->begin ? -1 : 1;
  return 0;
}

int CRfcBodyParser::CheckHiddenParts(tag_PART_LAYOUT& record) {
  if (lstrcmpiA(m_strMediaType.c_str(), "text/html") == 0) {
    return CheckHiddenParts(record, const_cast<tag_PART_RECOGNIZER*>(kHtmlRows),
                            static_cast<int>(sizeof kHtmlRows / sizeof kHtmlRows[0]));
  }
  return CheckHiddenParts(record, const_cast<tag_PART_RECOGNIZER*>(kTextRows),
                          static_cast<int>(sizeof kTextRows / sizeof kTextRows[0]));
}

int CRfcBodyParser::CheckHiddenParts(tag_PART_LAYOUT& record, tag_PART_RECOGNIZER* rows, int count) {
  if (rows == nullptr || count <= 0) return 0;
  std::vector<tag_PART_RECOGNIZER> scratch;
  WithMemoryException([&] { scratch.assign(rows, rows + count); });
  DWORD start = record.begin;
  const DWORD stop = record.end;
  const DWORD flags = record.flags;
  auto ask = [&](tag_PART_RECOGNIZER& row) {
    row.begin = row.end = start;
    unsigned int b = start, e = start;
    row.found = start < stop ? (this->*row.recognizer)(start, stop - start, b, e) : 0;
    // A block must lie in the range and hold at least one byte.
    if (row.found && (b < start || e <= b || e > stop)) row.found = 0;
    row.begin = b;
    row.end = e;
  };
  bool any = false;
  for (tag_PART_RECOGNIZER& row : scratch) {
    ask(row);
    any = any || row.found != 0;
  }
  if (!any) return 0;
  for (;;) {
    qsort(scratch.data(), scratch.size(), sizeof(tag_PART_RECOGNIZER), CmpHiddendPart);
    tag_PART_RECOGNIZER& first = scratch[0];
    if (!first.found) break;
    if (first.begin > start) Append(start, first.begin, SEGMENT_TEXT, 0, 0, flags);
    Append(first.begin, first.end, SEGMENT_TEXT, static_cast<DWORD>(first.kind), 0, ANOMALY_HIDDEN_PART);
    start = first.end;
    // A block that begins inside the one taken is dropped, and its
    // recognizer is not asked again.
    for (size_t i = 1; i < scratch.size(); ++i) {
      if (scratch[i].found && scratch[i].begin < start) scratch[i].found = 0;
    }
    ask(first);
  }
  if (DataEnd() > start) Append(start, DataEnd(), SEGMENT_TEXT, 0, 0, flags);
  return 1;
}

DWORD CRfcBodyParser::GetEmbeddedBoundary(CStreamReader& reader, TSTRING& boundary, int& hasBoundary) {
  boundary = "";
  hasBoundary = 0;
  enum { LINE_START, NAME, AFTER_NAME, VALUE_START, VALUE, LINE_BREAK } state = LINE_START;
  static const char kContentType[] = "Content-Type";
  const size_t kNameKept = sizeof kContentType;  // enough to tell that name apart
  char name[sizeof kContentType + 1];
  size_t nameLength = 0;
  bool contentType = false;
  std::string value;
  DWORD end = reader.GetPos();
  auto colon = [&]() {
    end = reader.GetPos();
    contentType = nameLength == kNameKept - 1 && strncasecmp(name, kContentType, kNameKept - 1) == 0;
    state = VALUE_START;
  };
  auto take = [&](int c) {
    end = reader.GetPos();
    if (contentType) WithMemoryException([&] { value.push_back(static_cast<char>(c)); });
  };
  bool done = false;
  while (!done) {
    int c = reader.GetChar();
    if (c < 0) break;
    if (c == 0) c = ' ';
    switch (state) {
      case LINE_START:
        if (c == ' ' || c == '\t' || IsEol(c)) break;
        nameLength = 0;
        name[nameLength++] = static_cast<char>(c);
        end = reader.GetPos();
        state = NAME;
        break;
      case NAME:
        if (IsEol(c)) {
          done = true;
        } else if (c == ':') {
          colon();
        } else if (c == ' ' || c == '\t') {
          state = AFTER_NAME;
        } else if (nameLength < kNameKept) {
          name[nameLength++] = static_cast<char>(c);
        }
        break;
      case AFTER_NAME:
        if (c == ':') colon();
        else if (!(c == ' ' || c == '\t' || IsEol(c))) done = true;
        break;
      case VALUE_START:
        if (c == ' ' || c == '\t') break;
        if (IsEol(c)) {
          state = LINE_BREAK;
          break;
        }
        take(c);
        state = VALUE;
        break;
      case VALUE:
        if (IsEol(c)) state = LINE_BREAK;
        else take(c);
        break;
      case LINE_BREAK:
        if (c == ' ' || c == '\t') {
          take(c);
          state = VALUE;
        } else if (c == '.') {
          done = true;
        } else if (!IsEol(c)) {
          reader.PutBackChar();
          end = reader.GetPos();
          state = LINE_START;
        }
        break;
    }
  }
  if (!value.empty()) {
    CRfc2045ContentMediaType mediaType;
    // Always S_OK: what the parse cannot read is left out of the value.
    (void)mediaType.Parse(reinterpret_cast<const unsigned char*>(value.data()), static_cast<ULONG>(value.size()));
    void* pos = FindAttribute("boundary", mediaType.GetParameters());
    if (pos != nullptr) {
      boundary = mediaType.GetParameters().GetAt(pos).GetValue();
      hasBoundary = 1;
    }
  }
  return end;
}

}  // namespace telsor
