// RFC 2047 word codecs, encoded words and header texts.
#include "mime/rfc2047text.h"

#include <limits.h>
#include <string.h>

#include <string>

#include "foundation/errorroad.h"
#include "mime/rfc2045tokenizer.h"

namespace telsor {

const char* const RFC2047_DEFAULT_CHARSET = "US-ASCII";

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Tab and the printable characters but "=".
bool IsQSafe(unsigned char c) { return c == '\t' || (c >= 0x20 && c <= 0x7E && c != '='); }

int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Base64 decoding classes: 0-63 alphabet values, B64_PAD "=", B64_SKIP the
// rest (white space and invalid bytes are both skipped).
enum : unsigned char { B64_PAD = 64, B64_SKIP = 65 };

struct Base64Table {
  unsigned char value[256];
};

constexpr Base64Table MakeBase64Table() {
  Base64Table t{};
  for (int i = 0; i < 256; ++i) t.value[i] = B64_SKIP;
  for (int i = 0; i < 64; ++i) t.value[static_cast<unsigned char>(kBase64[i])] = static_cast<unsigned char>(i);
  t.value[static_cast<unsigned char>('=')] = B64_PAD;
  return t;
}

constexpr Base64Table kBase64Values = MakeBase64Table();

// A writable buffer of count characters in a fresh string; null when it
// cannot be had (the codecs then answer E_OUTOFMEMORY).
char* Buffer(TSTRING& s, long long count) {
  if (count > INT_MAX - 1) return nullptr;
  return s.GetBuffer(static_cast<int>(count));
}

bool IsQLetter(char c) { return c == 'Q' || c == 'q'; }
bool IsBLetter(char c) { return c == 'B' || c == 'b'; }

}  // namespace

HRESULT QWordDecode(TSTRING& out, const TSTRING& in) {
  return ResultOfCall([&]() -> HRESULT {
    int n = in.GetLength();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(in.c_str());
    TSTRING result;
    char* o = Buffer(result, static_cast<long long>(n) + 2);
    if (o == nullptr) return E_OUTOFMEMORY;
    int k = 0;
    HRESULT hr = S_OK;
    for (int i = 0; i < n; ++i) {
      unsigned char c = p[i];
      if (c == '_') {
        o[k++] = ' ';
      } else if (c == '=') {
        int hi = i + 2 < n ? HexValue(p[i + 1]) : -1;
        int lo = hi >= 0 ? HexValue(p[i + 2]) : -1;
        if (lo < 0) {
          hr = ERROR_INVALID_DATA;
          break;
        }
        o[k++] = static_cast<char>(hi << 4 | lo);
        i += 2;
      } else if (c == '?' || !IsQSafe(c)) {
        hr = ERROR_INVALID_DATA;
        break;
      } else {
        o[k++] = static_cast<char>(c);
      }
    }
    result.ReleaseBuffer(k);
    out = result;
    return hr;
  });
}

HRESULT QWordEncode(char* out, ULONG* size, const TSTRING& in) {
  if (size == nullptr) return E_POINTER;
  ULONG capacity = out != nullptr ? *size : 0;
  int n = in.GetLength();
  const unsigned char* p = reinterpret_cast<const unsigned char*>(in.c_str());
  ULONG count = 0;
  for (int i = 0; i < n; ++i) {
    unsigned char c = p[i];
    if (c == ' ') {
      if (count < capacity) out[count] = '_';
      count += 1;
    } else if (c == '.' || c == '_' || c == '?' || c == '\\' || !IsQSafe(c)) {
      if (count + 3 <= capacity) {
        out[count] = '=';
        out[count + 1] = kHexDigits[c >> 4];
        out[count + 2] = kHexDigits[c & 15];
      }
      count += 3;
    } else {
      if (count < capacity) out[count] = static_cast<char>(c);
      count += 1;
    }
  }
  *size = count;
  return n != 0 && count > capacity ? ERROR_MORE_DATA : S_OK;
}

HRESULT QWordEncode(TSTRING& out, const TSTRING& in) {
  return ResultOfCall([&]() -> HRESULT {
    ULONG count = 0;
    (void)QWordEncode(nullptr, &count, in);  // sizing only: ERROR_MORE_DATA with the count
    TSTRING result;
    char* o = Buffer(result, static_cast<long long>(count) + 2);
    if (o == nullptr) return E_OUTOFMEMORY;
    ULONG size = count;
    HRESULT hr = QWordEncode(o, &size, in);
    if (hr != S_OK) return hr;
    result.ReleaseBuffer(static_cast<int>(size));
    out = result;
    return S_OK;
  });
}

HRESULT BWordDecode(TSTRING& out, const char* in, ULONG length) {
  return ResultOfCall([&]() -> HRESULT {
    TSTRING result;
    char* o = Buffer(result, (static_cast<long long>(length) + 3) / 4 * 3 + 2);
    if (o == nullptr) return E_OUTOFMEMORY;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(in);
    ULONG k = 0;
    unsigned int quad = 0;
    int have = 0;
    for (ULONG i = 0; i < length; ++i) {
      unsigned char v = kBase64Values.value[p[i]];
      if (v == B64_PAD) break;
      if (v == B64_SKIP) continue;
      quad = quad << 6 | v;
      if (++have == 4) {
        o[k++] = static_cast<char>(quad >> 16);
        o[k++] = static_cast<char>(quad >> 8);
        o[k++] = static_cast<char>(quad);
        quad = 0;
        have = 0;
      }
    }
    switch (have) {
      case 3:
        o[k++] = static_cast<char>(quad >> 10);
        o[k++] = static_cast<char>(quad >> 2);
        break;
      case 2:
        o[k++] = static_cast<char>(quad >> 4);
        break;
      case 1:
        o[k++] = static_cast<char>(quad << 2);
        break;
      default:
        break;
    }
    result.ReleaseBuffer(static_cast<int>(k));
    out = result;
    return S_OK;
  });
}

HRESULT BWordDecode(TSTRING& out, const TSTRING& in) {
  TSTRING source(in);  // out may be in itself
  return BWordDecode(out, source.c_str(), static_cast<ULONG>(source.GetLength()));
}

HRESULT BWordEncode(char* out, ULONG* size, const TSTRING& in) {
  if (size == nullptr) return E_POINTER;
  ULONGLONG n = static_cast<ULONGLONG>(in.GetLength());
  ULONGLONG needed = (n + 2) / 3 * 4;
  if (needed > 0xFFFFFFFFu) return E_OUTOFMEMORY;
  if (out == nullptr || *size < needed) {
    *size = static_cast<ULONG>(needed);
    return ERROR_MORE_DATA;
  }
  const unsigned char* p = reinterpret_cast<const unsigned char*>(in.c_str());
  ULONG k = 0;
  ULONGLONG i = 0;
  for (; i + 3 <= n; i += 3) {
    unsigned int v = static_cast<unsigned int>(p[i]) << 16 | p[i + 1] << 8 | p[i + 2];
    out[k++] = kBase64[v >> 18];
    out[k++] = kBase64[(v >> 12) & 63];
    out[k++] = kBase64[(v >> 6) & 63];
    out[k++] = kBase64[v & 63];
  }
  if (n - i == 1) {
    unsigned int v = static_cast<unsigned int>(p[i]) << 16;
    out[k++] = kBase64[v >> 18];
    out[k++] = kBase64[(v >> 12) & 63];
    out[k++] = '=';
    out[k++] = '=';
  } else if (n - i == 2) {
    unsigned int v = static_cast<unsigned int>(p[i]) << 16 | p[i + 1] << 8;
    out[k++] = kBase64[v >> 18];
    out[k++] = kBase64[(v >> 12) & 63];
    out[k++] = kBase64[(v >> 6) & 63];
    out[k++] = '=';
  }
  *size = k;
  return S_OK;
}

HRESULT BWordEncode(TSTRING& out, const TSTRING& in) {
  return ResultOfCall([&]() -> HRESULT {
    ULONG needed = 0;
    (void)BWordEncode(nullptr, &needed, in);  // sizing only: ERROR_MORE_DATA with the count
    TSTRING result;
    char* o = Buffer(result, static_cast<long long>(needed) + 2);
    if (o == nullptr) return E_OUTOFMEMORY;
    ULONG size = needed + 2;
    HRESULT hr = BWordEncode(o, &size, in);
    if (hr != S_OK) return hr;
    result.ReleaseBuffer(static_cast<int>(size));
    out = result;
    return S_OK;
  });
}

// ---------------------------------------------------------------------------

CRfc2047EncodedWord::CRfc2047EncodedWord() : m_strCharset(RFC2047_DEFAULT_CHARSET), m_chEncoding(0) {}

CRfc2047EncodedWord::CRfc2047EncodedWord(const TSTRING& encodedText)
    : m_strCharset(RFC2047_DEFAULT_CHARSET), m_chEncoding(0), m_strEncodedText(encodedText) {}

CRfc2047EncodedWord::CRfc2047EncodedWord(const CRfc2047EncodedWord& other)
    : m_strCharset(other.m_strCharset),
      m_chEncoding(other.m_chEncoding),
      m_strEncodedText(other.m_strEncodedText),
      m_strDecodedText(other.m_strDecodedText) {}

CRfc2047EncodedWord& CRfc2047EncodedWord::operator=(const CRfc2047EncodedWord& other) {
  m_strCharset = other.m_strCharset;
  m_chEncoding = other.m_chEncoding;
  m_strEncodedText = other.m_strEncodedText;
  m_strDecodedText = other.m_strDecodedText;
  return *this;
}

CRfc2047EncodedWord::~CRfc2047EncodedWord() {}

void CRfc2047EncodedWord::PutEncodingType(char letter) {
  m_chEncoding = IsQLetter(letter) || IsBLetter(letter) ? letter : 0;
}

void CRfc2047EncodedWord::Parse() {
  m_strCharset = RFC2047_DEFAULT_CHARSET;
  m_chEncoding = 0;
  m_strDecodedText.Release();
  const char* p = m_strEncodedText.c_str();
  int n = m_strEncodedText.GetLength();
  enum { W0, W1, W2, W3, W4, W5, W6 } state = W0;
  int charsetStart = 0, charsetEnd = 0, textStart = 0, textEnd = 0;
  bool ok = false;
  for (int i = 0; i < n && !ok; ++i) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    bool space = IsHeaderSpace(c);
    bool fail = false;
    switch (state) {
      case W0:
        if (c == '=') state = W1;
        else fail = true;
        break;
      case W1:
        if (c == '?') {
          state = W2;
          charsetStart = i + 1;
        } else if (space) {
          fail = true;
        }
        break;
      case W2:
        if (c == '?') {
          state = W3;
          charsetEnd = i;
        } else if (space) {
          fail = true;
        }
        break;
      case W3:
        if (c == '?') {
          state = W5;
          textStart = i + 1;
        } else {
          m_chEncoding = static_cast<char>(c);
          state = W4;
        }
        break;
      case W4:
        if (c == '?') {
          state = W5;
          textStart = i + 1;
        } else if (space) {
          fail = true;
        }
        break;
      case W5:
        if (c == '?') {
          state = W6;
          textEnd = i;
        } else if (c == '\n' || c == '\r') {
          fail = true;
        }
        break;
      case W6:
        if (c == '=') ok = true;
        else fail = true;
        break;
    }
    if (fail) break;
  }
  if (!ok) {
    m_strDecodedText = m_strEncodedText;
    return;
  }
  m_strCharset = m_strEncodedText.Mid(charsetStart, charsetEnd - charsetStart);
  TSTRING text = m_strEncodedText.Mid(textStart, textEnd - textStart);
  HRESULT hr = S_OK;
  if (IsQLetter(m_chEncoding)) {
    hr = QWordDecode(m_strDecodedText, text);
  } else if (IsBLetter(m_chEncoding)) {
    hr = BWordDecode(m_strDecodedText, text);
  } else {
    m_strDecodedText = text;
    return;
  }
  if (hr != S_OK) {
    m_strDecodedText = text;
    m_strCharset = RFC2047_DEFAULT_CHARSET;
    m_chEncoding = 0;
  }
}

void CRfc2047EncodedWord::Compose() {
  if (m_strDecodedText.IsEmpty() || !m_strEncodedText.IsEmpty()) return;
  bool q = IsQLetter(m_chEncoding);
  if (!q && !IsBLetter(m_chEncoding)) {
    m_strEncodedText = m_strDecodedText;
    return;
  }
  // Encoding fails only for want of memory; the word is then written with
  // an empty body, as a word that cannot be encoded always has been.
  TSTRING body;
  if (q) {
    (void)QWordEncode(body, m_strDecodedText);
  } else {
    (void)BWordEncode(body, m_strDecodedText);
  }
  TSTRING word;
  word.reserve(m_strCharset.GetLength() + body.GetLength() + 16);
  char letter[4] = {'?', m_chEncoding, '?', '\0'};
  word.ConcatInPlace(2, "=?");
  word.ConcatInPlace(m_strCharset.GetLength(), m_strCharset.c_str());
  word.ConcatInPlace(3, letter);
  word.ConcatInPlace(body.GetLength(), body.c_str());
  word.ConcatInPlace(2, "?=");
  m_strEncodedText = word;
}

// ---------------------------------------------------------------------------

CRfc2047Text::CRfc2047Text() : m_Words(10) {}

CRfc2047Text::CRfc2047Text(const TSTRING& text) : m_Words(10), m_strText(text) {}

CRfc2047Text::CRfc2047Text(const CRfc2047Text& other) : m_Words(10), m_strText(other.m_strText) {
  CopyWords(other);
}

void CRfc2047Text::CopyWords(const CRfc2047Text& other) {
  for (void* p = other.m_Words.GetHeadPosition(); p != nullptr;) {
    CRfc2047EncodedWord word(other.m_Words.GetNext(p));
    m_Words.AddTail(word);
  }
}

CRfc2047Text& CRfc2047Text::operator=(const TSTRING& text) {
  m_Words.RemoveAll();
  m_strText = text;
  return *this;
}

CRfc2047Text& CRfc2047Text::operator=(const CRfc2047Text& other) {
  if (this == &other) return *this;
  m_Words.RemoveAll();
  CopyWords(other);
  m_strText = other.m_strText;
  return *this;
}

CRfc2047Text::~CRfc2047Text() {}

void CRfc2047Text::Parse() { Parse(0); }

namespace {

// Reads one token of a header text from p[i]; i moves past it. Returns true
// for an encoded word ("=?charset?letter?text?="), false for plain text.
bool ReadToken(const char* p, int n, int& i) {
  enum { T0, T1, CHARSET, LETTER, TEXT, CLOSE, PLAIN } state = T0;
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    bool space = IsHeaderSpace(c);
    switch (state) {
      case T0:
        state = c == '=' ? T1 : PLAIN;
        break;
      case T1:
        state = c == '?' ? CHARSET : PLAIN;
        break;
      case CHARSET:
        if (c == '?') state = LETTER;
        else if (space) return ++i, false;
        break;
      case LETTER:
        if (c == '?') state = TEXT;
        else if (space) return ++i, false;
        break;
      case TEXT:
        if (c == '?') state = CLOSE;
        else if (c == '\n' || c == '\r') return ++i, false;
        break;
      case CLOSE:
        ++i;
        return c == '=';
      case PLAIN:
        if (c == '=' || space) return false;  // left for the next token
        break;
    }
    ++i;
  }
  return false;
}

}  // namespace

void CRfc2047Text::AddWord(const TSTRING& text, bool encoded, int depth) {
  CRfc2047EncodedWord word(text);
  word.Parse();
  if (encoded && depth < MAX_NESTING) {
    const char* decoded = word.GetDecodedText().c_str();
    if (strcmp(decoded, text.c_str()) != 0 && strstr(decoded, "=?") != nullptr) {
      CRfc2047Text nested(word.GetDecodedText());
      nested.Parse(depth + 1);
      word.PutDecodedText(nested.GetDecodedText());
    }
  }
  m_Words.AddTail(word);
}

void CRfc2047Text::Parse(int depth) {
  m_Words.RemoveAll();
  const char* p = m_strText.c_str();
  int n = m_strText.GetLength();
  std::string plain;
  int pendingStart = 0, pendingLength = 0;  // white space before the token
  int i = 0;
  while (i < n) {
    int blank = i;
    while (i < n && IsHeaderSpace(static_cast<unsigned char>(p[i]))) ++i;
    if (i > blank) {
      pendingStart = blank;
      pendingLength = i - blank;
    }
    if (i >= n) break;
    int start = i;
    bool encoded = ReadToken(p, n, i);
    if (!encoded) {
      plain.append(p + pendingStart, static_cast<size_t>(pendingLength));
      plain.append(p + start, static_cast<size_t>(i - start));
    } else {
      if (!plain.empty()) {
        plain.append(p + pendingStart, static_cast<size_t>(pendingLength));
        AddWord(TSTRING(plain), false, depth);
        plain.clear();
      }
      AddWord(TSTRING(p + start, i - start), true, depth);
    }
    pendingLength = 0;
  }
  if (!plain.empty()) {
    plain.append(p + pendingStart, static_cast<size_t>(pendingLength));
    AddWord(TSTRING(plain), false, depth);
  }
}

TSTRING CRfc2047Text::GetDecodedText() const {
  std::string result;
  char previous = 0;
  for (void* p = m_Words.GetHeadPosition(); p != nullptr;) {
    const CRfc2047EncodedWord& word = m_Words.GetNext(p);
    if (!result.empty() && (previous == 0 || word.GetEncodingType() == 0)) result += ' ';
    const TSTRING& decoded = word.GetDecodedText();
    result.append(decoded.c_str(), static_cast<size_t>(decoded.GetLength()));
    previous = word.GetEncodingType();
  }
  return TSTRING(result);
}

TSTRING DecodeHeaderText(const TSTRING& text) {
  CRfc2047Text words(text);
  words.Parse();
  return words.GetDecodedText();
}

void CRfc2047Text::Compose() {
  std::string text;
  for (void* p = m_Words.GetHeadPosition(); p != nullptr;) {
    CRfc2047EncodedWord& word = m_Words.GetNext(p);
    word.Compose();
    if (text.empty()) text += ' ';
    const TSTRING& encoded = word.GetEncodedText();
    text.append(encoded.c_str(), static_cast<size_t>(encoded.GetLength()));
  }
  m_strText = TSTRING(text);
}

}  // namespace telsor
