// The stream decoder of the transfer encodings.
#include "mime/streamdecoder.h"

#include <string.h>

#include <memory>
#include <new>
#include <string>

#include "foundation/errorroad.h"
#include "foundation/throwcode.h"

namespace telsor {

namespace {

const ULONG kMinChunk = 1024;
const ULONG kMaxChunk = 32768;

// Decoded bytes on their way to the destination, collected in a buffer and
// written with one Write when it is full and after each input chunk.
// A failing Write is thrown as its code.
class COutput {
 public:
  COutput(IStream* dst, BYTE* buffer, size_t capacity)
      : m_pDst(dst), m_pBuf(buffer), m_nCap(capacity), m_nLen(0) {}

  // A pointer to room for count more bytes (count <= capacity), flushing
  // first when they would not fit; Commit says where the bytes ended.
  BYTE* Reserve(size_t count) {
    if (m_nCap - m_nLen < count) Flush();
    return m_pBuf + m_nLen;
  }
  void Commit(const BYTE* end) { m_nLen = static_cast<size_t>(end - m_pBuf); }

  void Put(BYTE b) {
    if (m_nLen == m_nCap) Flush();
    m_pBuf[m_nLen++] = b;
  }
  void Put(const BYTE* p, size_t count) {
    while (count > 0) {
      if (m_nLen == m_nCap) Flush();
      size_t n = m_nCap - m_nLen < count ? m_nCap - m_nLen : count;
      memcpy(m_pBuf + m_nLen, p, n);
      m_nLen += n;
      p += n;
      count -= n;
    }
  }
  void Flush() {
    if (m_nLen == 0) return;
    HRESULT hr = m_pDst->Write(m_pBuf, static_cast<ULONG>(m_nLen), nullptr);
    m_nLen = 0;
    if (FAILED(hr)) ThrowCode(static_cast<DWORD>(hr));
  }

 private:
  IStream* m_pDst;
  BYTE* m_pBuf;
  size_t m_nCap;
  size_t m_nLen;
};

// ---------------------------------------------------------------- base64

enum : BYTE { B64_INVALID = 0x41, B64_PAD = 0x42, B64_SKIP = 0x43 };

struct Base64Table {
  BYTE value[256];
};

constexpr Base64Table MakeBase64Table() {
  Base64Table t{};
  const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int i = 0; i < 256; ++i) t.value[i] = B64_INVALID;
  for (int i = 0; i < 64; ++i) t.value[static_cast<BYTE>(alphabet[i])] = static_cast<BYTE>(i);
  t.value[static_cast<BYTE>('\t')] = B64_SKIP;
  t.value[static_cast<BYTE>('\n')] = B64_SKIP;
  t.value[0x0C] = B64_SKIP;
  t.value[static_cast<BYTE>('\r')] = B64_SKIP;
  t.value[static_cast<BYTE>(' ')] = B64_SKIP;
  t.value[static_cast<BYTE>('=')] = B64_PAD;
  return t;
}

constexpr Base64Table kBase64 = MakeBase64Table();

class CBase64Decoder {
 public:
  // Decodes count bytes; true when an "=" ended the data.
  bool Feed(const BYTE* p, size_t count, COutput& out) {
    const BYTE* const end = p + count;
    // Every four characters give at most three bytes, plus what a group
    // begun in the previous chunk completes.
    BYTE* o = out.Reserve(count / 4 * 3 + 3);
    const BYTE* const T = kBase64.value;
    DWORD acc = m_acc;
    int held = m_held;
    bool stopped = false;
    while (p < end) {
      if (held == 0) {
        // Whole groups of four alphabet characters at a time.
        while (end - p >= 4) {
          DWORD a = T[p[0]], b = T[p[1]], c = T[p[2]], d = T[p[3]];
          if ((a | b | c | d) & 0x40) break;
          DWORD v = a << 18 | b << 12 | c << 6 | d;
          o[0] = static_cast<BYTE>(v >> 16);
          o[1] = static_cast<BYTE>(v >> 8);
          o[2] = static_cast<BYTE>(v);
          o += 3;
          p += 4;
          m_bStarted = true;
        }
        if (p == end) break;
      }
      DWORD v = T[*p++];
      if (v < 64) {
        acc = acc << 6 | v;
        m_bStarted = true;
        if (++held == 4) {
          o[0] = static_cast<BYTE>(acc >> 16);
          o[1] = static_cast<BYTE>(acc >> 8);
          o[2] = static_cast<BYTE>(acc);
          o += 3;
          held = 0;
          acc = 0;
        }
      } else if (v == B64_PAD && m_bStarted) {
        stopped = true;
        break;
      }
    }
    out.Commit(o);
    m_acc = acc;
    m_held = held;
    return stopped;
  }

  // A group of two or three characters still gives its whole bytes.
  void Finish(COutput& out) {
    if (m_held == 2) {
      out.Put(static_cast<BYTE>(m_acc >> 4));
    } else if (m_held == 3) {
      out.Put(static_cast<BYTE>(m_acc >> 10));
      out.Put(static_cast<BYTE>(m_acc >> 2));
    }
    m_held = 0;
  }

 private:
  DWORD m_acc = 0;
  int m_held = 0;           // sextets of the current group
  bool m_bStarted = false;  // an alphabet character was seen
};

// ------------------------------------------------------ quoted-printable

enum QpClass : BYTE { QP_OTHER, QP_WS, QP_BREAK, QP_DOT, QP_EQ };

struct QpTable {
  BYTE cls[256];
  signed char hex[256];
};

constexpr QpTable MakeQpTable() {
  QpTable t{};
  for (int i = 0; i < 256; ++i) {
    t.cls[i] = QP_OTHER;
    t.hex[i] = -1;
  }
  t.cls[static_cast<BYTE>(' ')] = QP_WS;
  t.cls[static_cast<BYTE>('\t')] = QP_WS;
  t.cls[static_cast<BYTE>('\r')] = QP_BREAK;
  t.cls[static_cast<BYTE>('\n')] = QP_BREAK;
  t.cls[static_cast<BYTE>('.')] = QP_DOT;
  t.cls[static_cast<BYTE>('=')] = QP_EQ;
  for (int i = 0; i < 10; ++i) t.hex['0' + i] = static_cast<signed char>(i);
  for (int i = 0; i < 6; ++i) {
    t.hex['A' + i] = static_cast<signed char>(10 + i);
    t.hex['a' + i] = static_cast<signed char>(10 + i);
  }
  return t;
}

constexpr QpTable kQp = MakeQpTable();

class CQuotedPrintableDecoder {
 public:
  enum State { LINESTART, DOT, MID, HOLD, EQ, EQWS, SOFTCR, HEX1 };

  void Feed(const BYTE* p, size_t count, COutput& out) {
    const BYTE* const end = p + count;
    while (p < end) {
      if (m_state == MID) {
        // A run of bytes that stand for themselves in mid-line.
        const BYTE* run = p;
        while (p < end && (kQp.cls[*p] == QP_OTHER || kQp.cls[*p] == QP_DOT)) ++p;
        if (p != run) out.Put(run, static_cast<size_t>(p - run));
        if (p == end) break;
      }
      Step(*p++, out);
    }
  }

  // Held white space, a pending "." and a lone "=" are dropped; "=" and one
  // hex digit stay text.
  void Finish(COutput& out) {
    if (m_state == HEX1) {
      out.Put('=');
      out.Put(m_digit);
    }
    m_hold.clear();
    m_state = LINESTART;
  }

 private:
  void Hold(BYTE b) { m_hold.push_back(static_cast<char>(b)); }
  void WriteHeld(COutput& out) {
    if (!m_hold.empty()) out.Put(reinterpret_cast<const BYTE*>(m_hold.data()), m_hold.size());
    m_hold.clear();
  }

  void Step(BYTE b, COutput& out) {
    const BYTE cls = kQp.cls[b];
    switch (m_state) {
      case LINESTART:
      case MID:
        switch (cls) {
          case QP_WS: Hold(b); m_state = HOLD; break;
          case QP_BREAK: out.Put(b); m_state = LINESTART; break;
          case QP_DOT:
            if (m_state == LINESTART) {
              m_state = DOT;
            } else {
              out.Put(b);
            }
            break;
          case QP_EQ: m_state = EQ; break;
          default: out.Put(b); m_state = MID; break;
        }
        break;
      case DOT:
        // A "." began the line; a second one is the stuffed one.
        switch (cls) {
          case QP_WS: out.Put('.'); Hold(b); m_state = HOLD; break;
          case QP_BREAK: out.Put('.'); out.Put(b); m_state = LINESTART; break;
          case QP_DOT: out.Put('.'); m_state = MID; break;
          case QP_EQ: out.Put('.'); m_state = EQ; break;
          default: out.Put('.'); out.Put(b); m_state = MID; break;
        }
        break;
      case HOLD:
        switch (cls) {
          case QP_WS: Hold(b); break;
          case QP_BREAK: m_hold.clear(); out.Put(b); m_state = LINESTART; break;
          case QP_EQ: WriteHeld(out); m_state = EQ; break;
          default: WriteHeld(out); out.Put(b); m_state = MID; break;
        }
        break;
      case EQ:
        if (cls == QP_WS) {
          Hold('=');
          Hold(b);
          m_state = EQWS;
        } else if (cls == QP_BREAK) {
          m_state = b == '\r' ? SOFTCR : LINESTART;
        } else if (kQp.hex[b] >= 0) {
          m_digit = b;
          m_state = HEX1;
        } else {
          out.Put('=');
          out.Put(b);
          m_state = MID;
        }
        break;
      case EQWS:
        switch (cls) {
          case QP_WS: Hold(b); break;
          case QP_BREAK: m_hold.clear(); m_state = b == '\r' ? SOFTCR : LINESTART; break;
          case QP_EQ: WriteHeld(out); m_state = EQ; break;
          default: WriteHeld(out); out.Put(b); m_state = MID; break;
        }
        break;
      case SOFTCR:
        // "=" CR: a soft break, with or without its LF. The next line is
        // read like any other.
        m_state = LINESTART;
        if (b != '\n') Step(b, out);
        break;
      case HEX1:
        if (kQp.hex[b] >= 0) {
          out.Put(static_cast<BYTE>(kQp.hex[m_digit] << 4 | kQp.hex[b]));
          m_state = MID;
        } else if (cls == QP_WS) {
          out.Put('=');
          out.Put(m_digit);
          Hold(b);
          m_state = HOLD;
        } else {
          out.Put('=');
          out.Put(m_digit);
          out.Put(b);
          m_state = cls == QP_BREAK ? LINESTART : MID;
        }
        break;
    }
  }

  State m_state = LINESTART;
  BYTE m_digit = 0;    // the first hex digit after "=" (HEX1)
  std::string m_hold;  // white space (after "=" for EQWS) not written yet
};

// -------------------------------------------------------------- uuencode

// The value of a data character.
inline BYTE UuValue(BYTE c) { return static_cast<BYTE>((c - 0x20) & 0x3F); }

inline BYTE AsciiLower(BYTE c) { return c >= 'A' && c <= 'Z' ? static_cast<BYTE>(c + 32) : c; }

class CUudecoder {
 public:
  enum State {
    LINESTART,
    G0,
    G1,
    G2,
    G3,
    SKIPLINE,
    SKIPBAD,
    AFTERLINE,
    AFTERBAD,
    END_E,    // "e" after a line break
    END_EN,   // "en"
    END_END,  // "end" and blanks
    PGP,      // a 13-byte line that may be a signature line
    STOPPED,
  };

  // Decodes count bytes; true when an "end" line stopped the data.
  bool Feed(const BYTE* p, size_t count, COutput& out) {
    for (const BYTE* end = p + count; p < end; ++p) {
      if (Step(*p == 0 ? 0x20 : *p, out)) return true;
    }
    return false;
  }

  // A group of two or three characters adds its bytes; the bytes held for
  // the current line are written.
  void Finish(COutput& out) {
    CompleteGroup();
    WriteLine(out);
  }

 private:
  static const size_t kSignatureChars = 18;   // "----BEGIN PGP SIGN" makes the line suspect
  static const size_t kSignatureLength = 22;  // "----BEGIN PGP SIGNED M" drops it

  bool Step(BYTE b, COutput& out) {
    for (;;) {
      switch (m_state) {
        case LINESTART:
          if (b <= 0x20) {
            m_state = SKIPBAD;
            continue;
          }
          if (b == 0x60) {
            m_state = SKIPLINE;
            return false;
          }
          StartLine(b - 0x20u);
          return false;
        case G0:
          if (b < 0x21 || b > 0x60) {
            m_state = SKIPBAD;
            continue;
          }
          m_a = UuValue(b);
          m_nGroup = 1;
          m_state = G1;
          Count(b, out);
          return false;
        case G1:
        case G2:
        case G3:
          if (b == '\r' || b == '\n') {
            m_state = SKIPBAD;
            continue;
          }
          if (m_state == G1) {
            m_b = UuValue(b);
            m_nGroup = 2;
            m_state = G2;
          } else if (m_state == G2) {
            m_c = UuValue(b);
            m_nGroup = 3;
            m_state = G3;
          } else {
            BYTE d = UuValue(b);
            m_abLine[m_nLine++] = static_cast<BYTE>(m_a << 2 | m_b >> 4);
            m_abLine[m_nLine++] = static_cast<BYTE>((m_b & 15) << 4 | m_c >> 2);
            m_abLine[m_nLine++] = static_cast<BYTE>((m_c & 3) << 6 | d);
            m_nGroup = 0;
            m_state = G0;
          }
          Count(b, out);
          return false;
        case SKIPLINE:
        case SKIPBAD:
          if (b == '\r' || b == '\n') m_state = m_state == SKIPLINE ? AFTERLINE : AFTERBAD;
          return false;
        case AFTERLINE:
        case AFTERBAD:
          if (b == '\r' || b == '\n') return false;
          if (b == 'e') {
            m_state = END_E;
            return false;
          }
          if (m_state == AFTERBAD) DropLine();
          m_state = LINESTART;
          continue;
        case END_E:
        case END_EN:
          if (b == (m_state == END_E ? 'n' : 'd')) {
            m_state = m_state == END_E ? END_EN : END_END;
            return false;
          }
          m_state = SKIPBAD;
          continue;
        case END_END:
          if (b == ' ' || b == '\t') return false;
          if (b == '\r' || b == '\n') {
            Finish(out);
            m_state = STOPPED;
            return true;
          }
          m_state = SKIPBAD;
          continue;
        case PGP:
          if (AsciiLower(b) == AsciiLower(static_cast<BYTE>(kSignature[m_nPgp]))) {
            if (++m_nPgp == kSignatureLength) {
              DropLine();
              m_state = SKIPLINE;
            }
            return false;
          }
          WriteLine(out);
          m_state = SKIPLINE;
          continue;
        case STOPPED:
          return true;
      }
    }
  }

  void StartLine(DWORD n) {
    m_nExpected = 4 * (n / 3) + (n % 3 == 1 ? 2 : n % 3 == 2 ? 3 : 0);
    m_nAnnounced = n;
    m_nLine = 0;
    m_nGroup = 0;
    m_nChars = 0;
    m_state = G0;
  }

  // One more data character of the line; completes the line when it was
  // the last one announced.
  void Count(BYTE c, COutput& out) {
    if (m_nChars < kSignatureChars) m_abChars[m_nChars] = c;
    ++m_nChars;
    if (--m_nExpected != 0) return;
    CompleteGroup();
    if (m_nAnnounced == 13 && IsSignatureStart()) {
      m_nPgp = kSignatureChars;
      m_state = PGP;
      return;
    }
    WriteLine(out);
    m_state = SKIPLINE;
  }

  bool IsSignatureStart() const {
    for (size_t i = 0; i < kSignatureChars; ++i) {
      if (AsciiLower(m_abChars[i]) != AsciiLower(static_cast<BYTE>(kSignature[i]))) return false;
    }
    return true;
  }

  // The bytes of a group of two or three characters.
  void CompleteGroup() {
    if (m_nGroup >= 2) m_abLine[m_nLine++] = static_cast<BYTE>(m_a << 2 | m_b >> 4);
    if (m_nGroup == 3) m_abLine[m_nLine++] = static_cast<BYTE>((m_b & 15) << 4 | m_c >> 2);
    m_nGroup = 0;
  }

  void WriteLine(COutput& out) {
    if (m_nLine != 0) out.Put(m_abLine, m_nLine);
    DropLine();
  }
  void DropLine() {
    m_nLine = 0;
    m_nGroup = 0;
  }

  static const char kSignature[];

  State m_state = LINESTART;
  DWORD m_nExpected = 0;   // data characters still announced
  DWORD m_nAnnounced = 0;  // bytes the length character announced
  DWORD m_nChars = 0;      // data characters read on the line
  int m_nGroup = 0;        // characters of the current group (0-3)
  BYTE m_a = 0, m_b = 0, m_c = 0;
  size_t m_nPgp = 0;       // characters of kSignature matched
  // A length character announces at most 0xFF - 0x20 bytes.
  BYTE m_abLine[256];
  size_t m_nLine = 0;
  BYTE m_abChars[kSignatureChars];
};

const char CUudecoder::kSignature[] = "----BEGIN PGP SIGNED M";

// ----------------------------------------------------------- read loop

// Reads up to cb bytes in chunks and feeds them to the decoder until the
// data or the count ends or the decoder stops.
template <class Decoder>
HRESULT RunDecoder(IStream* dst, IStream* src, ULONGLONG cb, Decoder& decoder) {
  const ULONG chunk = cb > kMaxChunk ? kMaxChunk : cb < kMinChunk ? kMinChunk : static_cast<ULONG>(cb);
  std::unique_ptr<BYTE[]> in(new (std::nothrow) BYTE[chunk]);
  std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[chunk]);
  if (!in || !buffer) return E_OUTOFMEMORY;
  return ResultOfCall([&]() -> HRESULT {
    COutput out(dst, buffer.get(), chunk);
    ULONGLONG remaining = src != nullptr ? cb : 0;
    bool stopped = false;
    while (remaining > 0 && !stopped) {
      ULONG ask = remaining < chunk ? static_cast<ULONG>(remaining) : chunk;
      ULONG got = 0;
      HRESULT hr = src->Read(in.get(), ask, &got);
      if (FAILED(hr)) return hr;
      if (got == 0) break;
      if (got > ask) got = ask;
      remaining -= got;
      stopped = Feed(decoder, in.get(), got, out);
      out.Flush();
    }
    decoder.Finish(out);
    out.Flush();
    return S_OK;
  });
}

bool Feed(CBase64Decoder& d, const BYTE* p, size_t n, COutput& out) { return d.Feed(p, n, out); }
bool Feed(CQuotedPrintableDecoder& d, const BYTE* p, size_t n, COutput& out) {
  d.Feed(p, n, out);
  return false;
}
bool Feed(CUudecoder& d, const BYTE* p, size_t n, COutput& out) { return d.Feed(p, n, out); }

}  // namespace

HRESULT DecodeStream(IStream* pDst, IStream* pSrc, tag_CONTENT_ENCODING encoding, ULONGLONG cb) {
  if (pDst == nullptr) return E_POINTER;
  switch (encoding) {
    case CONTENT_ENCODING_BASE64: {
      CBase64Decoder d;
      return RunDecoder(pDst, pSrc, cb, d);
    }
    case CONTENT_ENCODING_QUOTED_PRINTABLE: {
      CQuotedPrintableDecoder d;
      return RunDecoder(pDst, pSrc, cb, d);
    }
    case CONTENT_ENCODING_UUENCODE: {
      CUudecoder d;
      return RunDecoder(pDst, pSrc, cb, d);
    }
    default: {
      if (cb == 0 || pSrc == nullptr) return S_OK;
      ULARGE_INTEGER count;
      count.QuadPart = cb;
      return pSrc->CopyTo(pDst, count, nullptr, nullptr);
    }
  }
}

}  // namespace telsor
