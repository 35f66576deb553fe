// URL normalisation and the URL output of the HTML-to-clean-text converter.
#include "mime/htmlurl.h"

#include <string.h>
#include <strings.h>

#include "mime/html2cleantext.h"

namespace telsor {

namespace {

struct tag_URL_SCHEME {
  const char* pszPrefix;
  int nLength;
};
const tag_URL_SCHEME kSchemes[] = {{"http://", 7}, {"https://", 8}};

const int kMaxUrl = 1024;
const char kChangedMarker[] = "|pspam|URL:||||";
const char kCidMarker[] = "<CID:>";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Lower-cases ASCII capitals and decodes percent escapes before the first
// "?", into out (which has room for length bytes); returns the bytes written.
int Decode(const char* in, int length, char* out) {
  enum { PLAIN, PERCENT, PERCENT_DIGIT, QUERY } state = PLAIN;
  int n = 0;
  char digit = 0;  // the digit after a "%", lowered
  for (int i = 0; i < length; ++i) {
    char c = in[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    switch (state) {
      case PLAIN:
        if (c == '%') {
          state = PERCENT;
        } else {
          out[n++] = c;
          if (c == '?') state = QUERY;
        }
        break;
      case PERCENT:
        if (c == '%') {
          out[n++] = '%';
          state = PLAIN;
        } else if (HexValue(c) >= 0) {
          digit = c;
          state = PERCENT_DIGIT;
        } else {
          out[n++] = '%';
          out[n++] = c;
          state = c == '?' ? QUERY : PLAIN;
        }
        break;
      case PERCENT_DIGIT:
        if (HexValue(c) >= 0) {
          out[n++] = static_cast<char>(HexValue(digit) * 16 + HexValue(c));
          state = PLAIN;
        } else {
          // "%", the digit and this character: three bytes for the two read
          // since the "%" (which wrote nothing), so out never passes in.
          out[n++] = '%';
          out[n++] = digit;
          out[n++] = c;
          state = c == '?' ? QUERY : PLAIN;
        }
        break;
      case QUERY:
        out[n++] = c;
        break;
    }
  }
  return n;
}

// Reads a host that starts with a digit as an address; false when it is not
// a number (or reads as 0) and must stay as written.
bool ReadNumericHost(const char* p, int length, TSTRING& written) {
  enum { PART_START, LEADING_ZERO, HEXADECIMAL, OCTAL, DECIMAL, PORT_START, PORT } state = PART_START;
  ULONG a = 0;
  ULONG part = 0;
  ULONG dots = 0;
  ULONG port = 0;
  for (int i = 0; i < length; ++i) {
    const char c = p[i];
    const bool number = state == LEADING_ZERO || state == HEXADECIMAL || state == OCTAL || state == DECIMAL;
    if (number && (c == '.' || c == ':')) {
      a = a << 8 | (part & 255);
      if (c == '.') {
        ++dots;
        part = 0;
        state = PART_START;
      } else {
        state = PORT_START;
      }
      continue;
    }
    const bool digit = c >= '0' && c <= '9';
    switch (state) {
      case PART_START:
        if (c == '0') {
          part = 0;
          state = LEADING_ZERO;
        } else if (digit) {
          part = static_cast<ULONG>(c - '0');
          state = DECIMAL;
        } else {
          return false;
        }
        break;
      case LEADING_ZERO:
        if (c >= '0' && c <= '7') {
          part = static_cast<ULONG>(c - '0');
          state = OCTAL;
        } else if (c == 'x') {
          state = HEXADECIMAL;
        }
        break;  // anything else is skipped
      case HEXADECIMAL:
        if (HexValue(c) < 0) return false;
        part = part * 16 + static_cast<ULONG>(HexValue(c));
        break;
      case OCTAL:
        if (c < '0' || c > '7') return false;
        part = part * 8 + static_cast<ULONG>(c - '0');
        break;
      case DECIMAL:
        if (digit) part = part * 10 + static_cast<ULONG>(c - '0');
        break;  // anything else is skipped
      case PORT_START:
        if (digit) {
          port = static_cast<ULONG>(c - '0');
          state = PORT;
        }
        break;
      case PORT:
        if (digit) port = port * 10 + static_cast<ULONG>(c - '0');
        break;
    }
  }
  if (state == LEADING_ZERO || state == HEXADECIMAL || state == OCTAL || state == DECIMAL) {
    a = a << 8 | (dots != 0 ? part & 255 : part);
  }
  if (a == 0) return false;
  if (port != 0) {
    written.Format("%d.%d.%d.%d:%d", static_cast<int>(a >> 24), static_cast<int>(a >> 16 & 255),
                   static_cast<int>(a >> 8 & 255), static_cast<int>(a & 255), static_cast<int>(port));
  } else {
    written.Format("%d.%d.%d.%d", static_cast<int>(a >> 24), static_cast<int>(a >> 16 & 255),
                   static_cast<int>(a >> 8 & 255), static_cast<int>(a & 255));
  }
  return true;
}

}  // namespace

TSTRING NormalizeHtmlUrl(const TSTRING& url) {
  TSTRING u;
  const int length = url.GetLength();
  if (length == 0) return u;
  char* out = u.GetBuffer(length);
  u.ReleaseBuffer(Decode(url.c_str(), length, out));

  // The scheme, anywhere in the text; the first occurrence counts.
  int host = -1;
  for (const tag_URL_SCHEME& scheme : kSchemes) {
    const void* at = memmem(u.c_str(), static_cast<size_t>(u.GetLength()), scheme.pszPrefix,
                            static_cast<size_t>(scheme.nLength));
    if (at != nullptr) {
      host = static_cast<int>(static_cast<const char*>(at) - u.c_str()) + scheme.nLength;
      break;
    }
  }
  if (host < 0) return u;

  // User information: up to the last "@" before the first "/" after the host start.
  {
    const char* s = u.c_str();
    const int n = u.GetLength();
    const void* slash = memchr(s + host, '/', static_cast<size_t>(n - host));
    const int limit = slash != nullptr ? static_cast<int>(static_cast<const char*>(slash) - s) : n;
    const void* at = memrchr(s + host, '@', static_cast<size_t>(limit - host));
    if (at != nullptr) u.Delete(host, static_cast<int>(static_cast<const char*>(at) - s) - host + 1);
  }

  // A numeric host, up to the first "/" or the end (a port and a query included).
  if (host < u.GetLength() && u[host] >= '0' && u[host] <= '9') {
    const char* s = u.c_str();
    const int n = u.GetLength();
    const void* slash = memchr(s + host, '/', static_cast<size_t>(n - host));
    const int end = slash != nullptr ? static_cast<int>(static_cast<const char*>(slash) - s) : n;
    TSTRING address;
    if (ReadNumericHost(s + host, end - host, address)) {
      TSTRING rebuilt = u.Left(host);
      rebuilt.ConcatInPlace(address.GetLength(), address.c_str());
      rebuilt.ConcatInPlace(n - end, s + end);
      u = rebuilt;
    }
  }

  if (u.GetLength() > kMaxUrl) u = u.Left(kMaxUrl);
  return u;
}

void CHtml2CleanText::SaveUrl(const TSTRING& url, bool inBrackets) {
  TSTRING u = NormalizeHtmlUrl(url);
  m_dwUrlLength += static_cast<DWORD>(u.GetLength());
  if (inBrackets) SaveUtf8Text("<", 1, 1);
  if (lstrcmpiA(u.c_str(), url.c_str()) != 0) {
    SaveUtf8Text(kChangedMarker, sizeof kChangedMarker - 1, 1);
    SaveUtf8Text(u.c_str(), static_cast<ULONG>(u.GetLength()), 1);
  } else if (u.GetLength() >= 3 && strncasecmp(u.c_str(), "cid", 3) == 0) {
    m_bEmbeddedContent = 1;
    SaveUtf8Text(kCidMarker, sizeof kCidMarker - 1, 1);
  } else {
    SaveUtf8Text(u.c_str(), static_cast<ULONG>(u.GetLength()), 1);
  }
  if (inBrackets) SaveUtf8Text(">", 1, 1);
}

void CHtml2CleanText::SaveUrls() {
  if (m_lstUrls.IsEmpty()) return;
  const DWORD saved = m_dwFlags;
  m_dwFlags = HTF_TEXT_VISIBLE;
  for (void* p = m_lstUrls.GetHeadPosition(); p != nullptr;) {
    const TSTRING& url = m_lstUrls.GetNext(p);
    SaveUtf8Text("\r\n", 2, 0);
    SaveUrl(url, false);
  }
  m_dwFlags = saved;
}

}  // namespace telsor
