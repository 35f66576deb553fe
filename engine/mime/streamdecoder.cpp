// The stream decoder of the transfer encodings.
#include "mime/streamdecoder.h"

#include <string.h>

#include <memory>
#include <new>
#include <string>

#include "foundation/errorroad.h"
#include "foundation/throwcode.h"
#include "mime/codecio.h"

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

// The sextet of an alphabet character already in its place in a group of
// four (shift 18, 12, 6, 0); bit 31 for every other byte.
struct Base64Shifted {
  DWORD value[4][256];
};

constexpr Base64Shifted MakeBase64Shifted() {
  Base64Shifted t{};
  for (int k = 0; k < 4; ++k) {
    for (int i = 0; i < 256; ++i) {
      const BYTE v = kBase64.value[i];
      t.value[k][i] = v < 64 ? static_cast<DWORD>(v) << (18 - 6 * k) : 0x80000000u;
    }
  }
  return t;
}

constexpr Base64Shifted kBase64Shifted = MakeBase64Shifted();

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
        const DWORD(&S)[4][256] = kBase64Shifted.value;
        while (end - p >= 4) {
          const DWORD v = S[0][p[0]] | S[1][p[1]] | S[2][p[2]] | S[3][p[3]];
          if (v & 0x80000000u) break;
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

// Byte classes; in mid-line the first three are copied as they come (white
// space provisionally).
enum QpClass : BYTE { QP_OTHER, QP_DOT, QP_WS, QP_BREAK, QP_EQ };

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

// The machine of the quoted-printable rules. White space is held until what
// follows it shows whether it ends a line (dropped) or not (written); in
// mid-line a run of blanks followed by anything but a line break within the
// same input chunk is written at once, which is the same.
class CQuotedPrintableDecoder {
 public:
  enum State {
    LINESTART,  // at the start of a line
    DOT,        // a "." began the line
    MID,        // inside a line
    HOLD,       // white space held
    EQ,         // "=" seen
    EQWS,       // "=" and white space held
    SOFTCR,     // "=" CR
    HEX1,       // "=" and one hex digit
  };

  void Feed(const BYTE* p, size_t count, COutput& out) {
    const BYTE* const end = p + count;
    // Every byte read gives at most one byte out, plus the "=", digit or
    // "." of the chunk before; held white space goes out separately.
    BYTE* o = out.Reserve(count + kSlack);
    State s = m_state;
    while (p < end) {
      switch (s) {
        case LINESTART:
          if (*p == '.') {
            ++p;
            s = DOT;
            break;
          }
          s = MID;
          [[fallthrough]];
        case MID:
          s = Mid(p, end, o);
          break;
        case DOT:
          // A second "." is the stuffed one; anything else goes on in
          // mid-line after the first.
          *o++ = '.';
          if (*p == '.') ++p;
          s = MID;
          break;
        case HOLD:
        case EQWS:
          // Held text stands before anything but a line break; before one
          // it is dropped, and after "=" the break is a soft one.
          switch (kQp.cls[*p]) {
            case QP_WS:
              m_hold.push_back(static_cast<char>(*p++));
              break;
            case QP_BREAK:
              m_hold.clear();
              if (s == HOLD) {
                *o++ = *p++;
                s = LINESTART;
              } else {
                s = *p++ == '\r' ? SOFTCR : LINESTART;
              }
              break;
            case QP_EQ:
              ++p;
              o = WriteHeld(o, out, end - p);
              s = EQ;
              break;
            default:
              o = WriteHeld(o, out, end - p);
              s = MID;
              break;
          }
          break;
        case EQ: {
          const BYTE c = *p++;
          if (kQp.cls[c] == QP_WS) {
            m_hold = "=";
            m_hold.push_back(static_cast<char>(c));
            s = EQWS;
          } else if (kQp.cls[c] == QP_BREAK) {
            s = c == '\r' ? SOFTCR : LINESTART;
          } else if (kQp.hex[c] >= 0) {
            m_digit = c;
            s = HEX1;
          } else {
            *o++ = '=';
            *o++ = c;
            s = MID;
          }
          break;
        }
        case SOFTCR:
          // "=" CR: a soft break, with or without its LF. The next line is
          // read like any other.
          if (*p == '\n') ++p;
          s = LINESTART;
          break;
        case HEX1: {
          const BYTE c = *p++;
          if (kQp.hex[c] >= 0) {
            *o++ = static_cast<BYTE>(kQp.hex[m_digit] << 4 | kQp.hex[c]);
            s = MID;
          } else if (kQp.cls[c] == QP_WS) {
            *o++ = '=';
            *o++ = m_digit;
            m_hold.assign(1, static_cast<char>(c));
            s = HOLD;
          } else {
            *o++ = '=';
            *o++ = m_digit;
            *o++ = c;
            s = kQp.cls[c] == QP_BREAK ? LINESTART : MID;
          }
          break;
        }
      }
    }
    out.Commit(o);
    m_state = s;
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
  static const size_t kSlack = 8;

  // Of 8 bytes (little-endian), a mask whose lowest set bit lies in the
  // first byte that is CR, LF or "="; 0 when there is none. (Bits above the
  // lowest may be set spuriously.)
  static uint64_t SpecialMask(uint64_t v) {
    const uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    const uint64_t cr = v ^ (ones * '\r'), lf = v ^ (ones * '\n'), eq = v ^ (ones * '=');
    return (((cr - ones) & ~cr) | ((lf - ones) & ~lf) | ((eq - ones) & ~eq)) & highs;
  }

  static bool IsBlank(BYTE b) { return b == ' ' || b == '\t'; }

  // Mid-line runs, copied 8 bytes at a time where they hold no CR, LF or
  // "=", with the common events inline: "=XX" escapes, soft breaks, and line
  // breaks, before which the blanks just copied are taken back. Blanks
  // copied at the end of the chunk are held. Returns the state in which a
  // rarer event, or the end of the chunk, left it.
  State Mid(const BYTE*& pp, const BYTE* end, BYTE*& oo) {
    const BYTE* p = pp;
    BYTE* o = oo;
    BYTE* floor = o;  // blanks below this were decoded or stand already
    State s = MID;
    for (;;) {
      // 8 bytes stored at a time, kept up to the first special one (the
      // output never runs ahead of the input, so the room is there).
      while (end - p >= 8) {
        uint64_t v;
        memcpy(&v, p, 8);
        memcpy(o, &v, 8);
        const uint64_t special = SpecialMask(v);
        if (special == 0) {
          o += 8;
          p += 8;
          continue;
        }
        const size_t plain = static_cast<size_t>(__builtin_ctzll(special)) >> 3;
        o += plain;
        p += plain;
        break;
      }
      while (p < end && kQp.cls[*p] <= QP_WS) *o++ = *p++;
      if (p == end) {
        BYTE* blanks = o;
        while (blanks > floor && IsBlank(blanks[-1])) --blanks;
        if (blanks < o) {
          m_hold.assign(reinterpret_cast<const char*>(blanks), static_cast<size_t>(o - blanks));
          o = blanks;
          s = HOLD;
        }
        break;
      }
      const BYTE c = *p;
      if (c == '=') {
        if (end - p >= 3) {
          const int hi = kQp.hex[p[1]], lo = kQp.hex[p[2]];
          if ((hi | lo) >= 0) {
            *o++ = static_cast<BYTE>(hi << 4 | lo);
            p += 3;
            floor = o;
            continue;
          }
          if (p[1] == '\r' && p[2] == '\n') {  // a soft break
            p += 3;
            floor = o;
            if (p == end || *p == '.') {
              s = LINESTART;
              break;
            }
            continue;
          }
        }
        ++p;
        s = EQ;
        break;
      }
      // A line break: the blanks before it are dropped; the next line starts.
      while (o > floor && IsBlank(o[-1])) --o;
      *o++ = c;
      ++p;
      floor = o;
      if (p == end || *p == '.') {
        s = LINESTART;
        break;
      }
    }
    pp = p;
    oo = o;
    return s;
  }

  // Writes the held text at o and returns where the output goes on, with
  // room again for the rest of the chunk.
  BYTE* WriteHeld(BYTE* o, COutput& out, ptrdiff_t rest) {
    out.Commit(o);
    out.Put(reinterpret_cast<const BYTE*>(m_hold.data()), m_hold.size());
    m_hold.clear();
    return out.Reserve(static_cast<size_t>(rest) + kSlack);
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
  // The input chunk, then room for a chunk's bytes and the few a decoder
  // holds over from the chunk before.
  const ULONG capacity = chunk + 64;
  // Small bodies (most parts of most messages) decode through the stack.
  BYTE small[2 * 4096 + 64];
  std::unique_ptr<BYTE[]> buffers;
  BYTE* in = small;
  if (chunk + capacity > sizeof small) {
    buffers.reset(new (std::nothrow) BYTE[chunk + capacity]);
    if (!buffers) return E_OUTOFMEMORY;
    in = buffers.get();
  }
  return ResultOfCall([&]() -> HRESULT {
    COutput out(dst, in + chunk, capacity);
    ULONGLONG remaining = src != nullptr ? cb : 0;
    bool stopped = false;
    while (remaining > 0 && !stopped) {
      ULONG ask = remaining < chunk ? static_cast<ULONG>(remaining) : chunk;
      ULONG got = 0;
      HRESULT hr = src->Read(in, ask, &got);
      if (FAILED(hr)) return hr;
      if (got == 0) break;
      if (got > ask) got = ask;
      remaining -= got;
      stopped = Feed(decoder, in, got, out);
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
    default:
      return CopyUnchanged(pDst, pSrc, cb);
  }
}

}  // namespace telsor
