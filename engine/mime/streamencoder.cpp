// The stream encoder of the transfer encodings.
#include "mime/streamencoder.h"

#include <string.h>

#include "mime/codecio.h"
#include "mime/mimehelpers.h"

namespace telsor {

namespace {

const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kHexDigits[] = "0123456789ABCDEF";

// Base64 reads 2,160 bytes at a time: 40 whole lines of 72 characters.
const ULONG kBase64Chunk = 2160;
const size_t kBase64LineBreak = 74;  // 72 characters and CR LF
// Quoted-printable reads 4,096 bytes at a time and keeps the last two for
// the next read, so a CR LF or a blank before one is always seen whole.
const ULONG kQpChunk = 4096;
const size_t kQpMaxLine = 72;
// Uuencode reads 80 lines of 45 bytes at a time.
const ULONG kUuLineBytes = 45;
const ULONG kUuChunk = 80 * kUuLineBytes;

// Bytes written as themselves in quoted-printable: tab, 0x20-0x3C, 0x3E-0x7E.
struct QpSafeTable {
  bool safe[256];
};

constexpr QpSafeTable MakeQpSafeTable() {
  QpSafeTable t{};
  for (int i = 0; i < 256; ++i) t.safe[i] = (i == '\t') || (i >= 0x20 && i <= 0x7E && i != '=');
  return t;
}

constexpr QpSafeTable kQpSafe = MakeQpSafeTable();

HRESULT WriteBytes(IStream* dst, const void* p, size_t count) {
  return dst->Write(p, static_cast<ULONG>(count), nullptr);
}

HRESULT EncodeBase64(IStream* dst, IStream* src, ULONGLONG cb) {
  BYTE in[kBase64Chunk];
  // 2,880 characters and 40 line breaks for a full chunk.
  char out[kBase64Chunk / 3 * 4 + kBase64Chunk / 54 * 2 + 4];
  HRESULT last = S_OK;
  bool endsWithBreak = true;
  ULONGLONG remaining = cb;
  for (;;) {
    ULONG got = 0;
    HRESULT hr = ReadChunk(src, in, kBase64Chunk, remaining, &got);
    if (FAILED(hr)) return hr;
    if (got == 0) break;
    size_t o = 0;
    for (ULONG i = 0; i < got; i += 3) {
      DWORD v = static_cast<DWORD>(in[i]) << 16;
      if (i + 1 < got) v |= static_cast<DWORD>(in[i + 1]) << 8;
      if (i + 2 < got) v |= in[i + 2];
      out[o++] = kBase64Alphabet[v >> 18];
      out[o++] = kBase64Alphabet[(v >> 12) & 63];
      out[o++] = i + 1 < got ? kBase64Alphabet[(v >> 6) & 63] : '=';
      out[o++] = i + 2 < got ? kBase64Alphabet[v & 63] : '=';
      if ((o + 2) % kBase64LineBreak == 0) {
        out[o++] = '\r';
        out[o++] = '\n';
      }
    }
    last = WriteBytes(dst, out, o);
    if (FAILED(last)) return last;
    endsWithBreak = out[o - 1] == '\n';
  }
  if (!endsWithBreak) WriteString(dst, "\r\n", 2);
  return last;
}

// Quoted-printable output: lines gathered in a buffer that is written when
// it cannot take another line and at the end.
class CQpOutput {
 public:
  explicit CQpOutput(IStream* dst) : m_pDst(dst), m_nLen(0), m_nLine(0), m_hrLast(S_OK) {}

  void Char(char c) {
    m_ach[m_nLen++] = c;
    ++m_nLine;
  }
  void Escape(BYTE b) {
    Char('=');
    Char(kHexDigits[b >> 4]);
    Char(kHexDigits[b & 15]);
  }
  size_t LineLength() const { return m_nLine; }
  // Ends the line with CR LF (hard) or "=" CR LF (soft).
  HRESULT EndLine(bool soft) {
    if (soft) m_ach[m_nLen++] = '=';
    m_ach[m_nLen++] = '\r';
    m_ach[m_nLen++] = '\n';
    m_nLine = 0;
    // A line is at most 75 characters and "=" CR LF.
    if (sizeof m_ach - m_nLen < 80) return Flush();
    return S_OK;
  }
  HRESULT Flush() {
    if (m_nLen == 0) return m_hrLast;
    m_hrLast = WriteBytes(m_pDst, m_ach, m_nLen);
    m_nLen = 0;
    return m_hrLast;
  }

 private:
  IStream* m_pDst;
  char m_ach[8192];
  size_t m_nLen;
  size_t m_nLine;  // characters on the current line
  HRESULT m_hrLast;
};

HRESULT EncodeQuotedPrintable(IStream* dst, IStream* src, ULONGLONG cb) {
  BYTE buf[kQpChunk];
  CQpOutput out(dst);
  ULONG carried = 0;
  ULONGLONG remaining = cb;
  for (;;) {
    ULONG got = 0;
    HRESULT hr = ReadChunk(src, buf + carried, kQpChunk - carried, remaining, &got);
    if (FAILED(hr)) return hr;
    const size_t n = carried + got;
    if (n == 0) break;
    const bool lastChunk = remaining == 0 || n < kQpChunk;
    const size_t stop = lastChunk ? n : n - 2;
    size_t i = 0;
    while (i < stop) {
      const BYTE b = buf[i];
      const bool breakNext = i + 2 < n && buf[i + 1] == '\r' && buf[i + 2] == '\n';
      if (b == '\r' && i + 1 < n && buf[i + 1] == '\n') {
        HRESULT hr = out.EndLine(false);
        if (FAILED(hr)) return hr;
        i += 2;
        continue;
      }
      if (b == '.' && out.LineLength() == 0) {
        out.Escape(b);
      } else if (b == ' ' || b == '\t') {
        if (breakNext || (lastChunk && i + 1 == n)) {
          out.Escape(b);
        } else {
          out.Char(static_cast<char>(b));
        }
      } else if (kQpSafe.safe[b]) {
        out.Char(static_cast<char>(b));
      } else {
        out.Escape(b);
      }
      ++i;
      if (out.LineLength() > kQpMaxLine && !breakNext) {
        HRESULT hr = out.EndLine(true);
        if (FAILED(hr)) return hr;
      }
    }
    if (lastChunk) break;
    carried = static_cast<ULONG>(n - i);
    memmove(buf, buf + i, carried);
  }
  return out.Flush();
}

inline char UuChar(DWORD v) { return v == 0 ? '`' : static_cast<char>(v + 0x20); }

HRESULT EncodeUuencode(IStream* dst, IStream* src, ULONGLONG cb) {
  BYTE in[kUuChunk];
  // 80 lines of the length character, 60 characters and CR LF.
  char out[kUuChunk / kUuLineBytes * (1 + kUuLineBytes / 3 * 4 + 2)];
  ULONGLONG remaining = src != nullptr ? cb : 0;
  for (;;) {
    ULONG got = 0;
    HRESULT hr = ReadChunk(src, in, kUuChunk, remaining, &got);
    if (FAILED(hr)) return hr;
    if (got == 0) break;
    size_t o = 0;
    for (ULONG start = 0; start < got; start += kUuLineBytes) {
      const ULONG len = got - start < kUuLineBytes ? got - start : kUuLineBytes;
      const BYTE* p = in + start;
      out[o++] = UuChar(len);
      ULONG j = 0;
      for (; j + 3 <= len; j += 3) {
        out[o++] = UuChar(p[j] >> 2);
        out[o++] = UuChar((p[j] & 3) << 4 | p[j + 1] >> 4);
        out[o++] = UuChar((p[j + 1] & 15) << 2 | p[j + 2] >> 6);
        out[o++] = UuChar(p[j + 2] & 63);
      }
      if (len - j == 1) {
        out[o++] = UuChar(p[j] >> 2);
        out[o++] = UuChar((p[j] & 3) << 4);
        out[o++] = '`';
        out[o++] = '`';
      } else if (len - j == 2) {
        out[o++] = UuChar(p[j] >> 2);
        out[o++] = UuChar((p[j] & 3) << 4 | p[j + 1] >> 4);
        out[o++] = UuChar((p[j + 1] & 15) << 2);
        out[o++] = '`';
      }
      out[o++] = '\r';
      out[o++] = '\n';
    }
    hr = WriteBytes(dst, out, o);
    if (FAILED(hr)) return hr;
  }
  return WriteBytes(dst, "`\r\n", 3);
}

}  // namespace

HRESULT EncodeStream(IStream* pDst, IStream* pSrc, tag_CONTENT_ENCODING encoding, ULONGLONG cb) {
  if (pDst == nullptr) return E_POINTER;
  switch (encoding) {
    case CONTENT_ENCODING_BASE64:
      if (cb == 0 || pSrc == nullptr) return S_OK;
      return EncodeBase64(pDst, pSrc, cb);
    case CONTENT_ENCODING_QUOTED_PRINTABLE:
      if (cb == 0 || pSrc == nullptr) return S_OK;
      return EncodeQuotedPrintable(pDst, pSrc, cb);
    case CONTENT_ENCODING_UUENCODE:
      return EncodeUuencode(pDst, pSrc, cb);
    default:
      return CopyUnchanged(pDst, pSrc, cb);
  }
}

}  // namespace telsor
