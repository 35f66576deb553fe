// Uuencoded files: framing and block check.
#include "mime/uuencode.h"

#include <string>

#include "foundation/errorroad.h"
#include "mime/codecio.h"
#include "mime/mimehelpers.h"
#include "mime/streamdecoder.h"
#include "mime/streamencoder.h"

namespace telsor {

namespace {

inline bool IsBlank(int c) { return c == ' ' || c == '\t'; }
inline bool IsBreak(int c) { return c == '\r' || c == '\n'; }
inline bool IsOctal(int c) { return c >= '0' && c <= '7'; }

}  // namespace

CUUencodedFile::CUUencodedFile() : m_wMode(0777) {}

CUUencodedFile::~CUUencodedFile() {}

HRESULT CUUencodedFile::Encode(IStream* out, IStream* in, ULONGLONG count) {
  if (out == nullptr) return E_POINTER;
  m_strName.RemoveAny(" \t\r\n");
  WriteString(out, "begin 777 ", 0);
  WriteString(out, m_strName.c_str(), static_cast<ULONG>(m_strName.GetLength()));
  WriteString(out, "\r\n", 2);
  HRESULT hr = EncodeStream(out, in, CONTENT_ENCODING_UUENCODE, count);
  if (FAILED(hr)) return hr;
  WriteString(out, "end\r\n", 5);
  return hr;
}

HRESULT CUUencodedFile::Decode(IStream* out, IStream* in, ULONGLONG count) {
  m_strName.Release();
  m_wMode = 0;
  if (out == nullptr || in == nullptr) return E_POINTER;
  ULONGLONG noted = 0;
  HRESULT hr = StreamPosition(in, &noted);
  if (FAILED(hr)) return hr;

  ULONGLONG remaining = count;
  ULONGLONG dataStart = noted;
  hr = ResultOfCall([&]() -> HRESULT {
    CStreamReader reader(in, static_cast<ULONG>(count));
    enum { BEFORE, KEYWORD, AFTER_BEGIN, MODE, BLANKS, NAME } state = BEFORE;
    const char kKeyword[] = "begin";
    int matched = 0;
    DWORD mode = 0;
    std::string name;
    bool done = false;
    while (!done) {
      int c = reader.GetChar();
      if (c < 0) break;
      if (c == 0) c = ' ';
      switch (state) {
        case BEFORE:
          if (IsBlank(c) || IsBreak(c)) break;
          if (c == 'b') {
            matched = 1;
            state = KEYWORD;
          } else {
            done = true;  // no "begin" line
          }
          break;
        case KEYWORD:
          if (c != kKeyword[matched]) return ERROR_INVALID_DATA;
          if (++matched == 5) state = AFTER_BEGIN;
          break;
        case AFTER_BEGIN:
        case BLANKS:
          if (IsBlank(c)) break;
          if (IsBreak(c)) {
            done = true;
          } else if (state == AFTER_BEGIN && IsOctal(c)) {
            mode = static_cast<DWORD>(c - '0');
            state = MODE;
          } else {
            name += static_cast<char>(c);
            state = NAME;
          }
          break;
        case MODE:
          if (IsOctal(c)) {
            mode = mode * 8 + static_cast<DWORD>(c - '0');
            break;
          }
          m_wMode = static_cast<WORD>(mode);
          if (IsBlank(c)) {
            state = BLANKS;
          } else if (IsBreak(c)) {
            done = true;
          } else {
            name += static_cast<char>(c);
            state = NAME;
          }
          break;
        case NAME:
          if (IsBreak(c)) {
            done = true;
          } else {
            name += static_cast<char>(c);
          }
          break;
      }
    }
    if (!done) return S_OK;  // the data ended inside the header: decode it all
    reader.PutBackChar();
    m_strName = TSTRING(name);
    m_strName.TrimRight(" \t\r\n.");
    dataStart = reader.GetPos();
    remaining = count - (dataStart - noted);
    return S_OK;
  });
  if (hr != S_OK) {
    m_strName.Release();
    return hr;
  }
  hr = StreamSeekTo(in, dataStart);
  if (FAILED(hr)) return hr;
  return DecodeStream(out, in, CONTENT_ENCODING_UUENCODE, remaining);
}

BOOL VerifyUUencode(CStreamReader& reader, ULONG& length) { return VerifyUUencode(reader, length, nullptr); }

BOOL VerifyUUencode(CStreamReader& reader, ULONG& length, tag_UU_SCAN* scan) {
  const DWORD start = reader.GetPos();
  if (scan != nullptr) {
    const BOOL headerOnly = scan->headerOnly;
    *scan = tag_UU_SCAN();
    scan->headerOnly = headerOnly;
  }
  auto next = [&reader]() {
    int c = reader.GetChar();
    return c == 0 ? ' ' : c;
  };

  // The "begin" keyword, after any line breaks.
  int c = next();
  while (IsBreak(c)) c = next();
  for (const char* k = "begin"; *k != '\0'; ++k, c = next()) {
    if (c != *k) return FALSE;
  }
  DWORD blockEnd = reader.GetPos() - (c < 0 ? 0 : 1);

  // The rest of the header line: blanks, an octal mode, blanks, a name.
  bool modeRead = false;
  while (IsBlank(c)) c = next();
  if (IsOctal(c)) {
    while (IsOctal(c)) c = next();
    if (IsBlank(c)) {
      while (IsBlank(c)) c = next();
      if (c < 0 || c <= 31) return FALSE;  // a mode but no name
      modeRead = true;
    } else if (c < 0 || c <= 31) {
      return FALSE;
    }
    // Any other character cancels the mode and starts the name.
  } else if (c < 0 || c <= 31) {
    return FALSE;
  }
  while (c > 31 || c == '\t') c = next();
  if (!IsBreak(c)) return FALSE;  // a control character or the end of the data
  if (scan != nullptr) {
    scan->header = TRUE;
    scan->modeRead = modeRead;
    if (scan->headerOnly) return FALSE;
  }

  // The lines of the block. extend: line breaks here move the block end
  // (they follow the header line or a good data line).
  ULONG goodLines = 0;
  bool endSeen = false;
  bool extend = true;
  for (;;) {
    while (IsBreak(c)) {
      if (extend) blockEnd = reader.GetPos();
      c = next();
    }
    if (c < 0) break;
    if (c == 'e') {
      // "end", blanks, a line break; anything else is a line to skip.
      bool isEnd = false;
      c = next();
      if (c == 'n') {
        c = next();
        if (c == 'd') {
          c = next();
          while (IsBlank(c)) c = next();
          isEnd = IsBreak(c);
        }
      }
      if (isEnd) {
        while (IsBreak(c)) c = next();
        endSeen = true;
        break;
      }
      while (c >= 0 && !IsBreak(c)) c = next();
      extend = false;
      continue;
    }
    // A data line.
    const DWORD lineStart = reader.GetPos() - 1;
    bool good = false;
    if (c == '`') {
      good = true;
      c = next();
    } else if (c >= 33) {
      const DWORD n = static_cast<DWORD>(c) - 32;
      DWORD expected = 4 * (n / 3) + (n % 3 == 1 ? 2 : n % 3 == 2 ? 3 : 0);
      DWORD i = 0;
      c = next();
      for (; i < expected; ++i, c = next()) {
        if (c < 0 || IsBreak(c)) break;
        if (i % 4 == 0 && (c < 33 || c > 96)) break;
      }
      good = i == expected;
    }
    if (good) {
      ++goodLines;
      if (scan != nullptr) scan->lastGoodLine = lineStart;
      extend = true;
      // The rest of the line belongs to the block.
      while (c >= 0 && !IsBreak(c)) c = next();
      blockEnd = reader.GetPos() - (c < 0 ? 0 : 1);
    } else {
      extend = false;
      while (c >= 0 && !IsBreak(c)) c = next();
    }
  }

  if (scan != nullptr) {
    scan->endSeen = endSeen;
    scan->goodLines = goodLines;
    scan->stop = reader.GetPos() - (c < 0 || !endSeen ? 0 : 1);
  }
  if (goodLines == 0 || !(modeRead || endSeen)) return FALSE;
  if (endSeen) {
    // The scan stopped before the first character after the line breaks.
    length = reader.GetPos() - (c < 0 ? 0 : 1) - start;
  } else {
    length = blockEnd - start;
  }
  return TRUE;
}

}  // namespace telsor
