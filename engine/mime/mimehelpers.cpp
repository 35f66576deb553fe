// Stream and text helpers of the MIME layer.
#include "mime/mimehelpers.h"

#include <string.h>

#include "foundation/errorroad.h"
#include "foundation/strhelpers.h"
#include "foundation/throwcode.h"

namespace telsor {

namespace {

// Room for count characters in text, as a thrown code when memory runs out.
char* Room(TSTRING& text, int count) {
  char* p = nullptr;
  try {
    p = text.GetBuffer(count);
  } catch (...) {
    ThrowCode(static_cast<DWORD>(ResultOfCurrentException()));
  }
  if (p == nullptr) ThrowCode(static_cast<DWORD>(E_OUTOFMEMORY));
  return p;
}

}  // namespace

void WriteString(IStream* stream, const char* text, ULONG length) {
  if (text == nullptr) return;
  if (length == 0) length = static_cast<ULONG>(strlen(text));
  if (length == 0) return;
  ThrowIfFailed(stream->Write(text, length, nullptr));
}

void ReadString(IStream* stream, ULONG offset, ULONG count, TSTRING& text) {
  if (count == 0) {
    text.Release();
    return;
  }
  ULONGLONG saved = 0;
  ThrowIfFailed(StreamPosition(stream, &saved));
  ThrowIfFailed(StreamSeekTo(stream, offset));
  // The text grows as bytes arrive, so a count beyond the stream's end costs
  // no more memory than the bytes that are there.
  const ULONG kStep = 65536;
  const ULONG kMost = 0x7FFFFFFEu;  // the longest TSTRING
  TSTRING got;
  ULONG have = 0;
  ULONG capacity = 0;
  while (have < count) {
    ULONG want = count - have < kStep ? count - have : kStep;
    ULONG room = have + want;
    if (room > kMost) ThrowCode(static_cast<DWORD>(E_OUTOFMEMORY));
    // Doubling keeps the copies linear in the length read.
    if (room > capacity) capacity = capacity > kMost / 2 ? kMost : (2 * capacity > room ? 2 * capacity : room);
    char* p = Room(got, static_cast<int>(capacity));
    ULONG done = 0;
    HRESULT hr = stream->Read(p + have, want, &done);
    if (done > want) done = want;
    got.ReleaseBuffer(static_cast<int>(have + done));
    ThrowIfFailed(hr);
    have += done;
    if (done < want) break;
  }
  text = got;
  ThrowIfFailed(StreamSeekTo(stream, saved));
}

void GetStreamLenghWithoutEndDot(IStream* stream, ULONGLONG& length) {
  length = 0;
  if (stream == nullptr) return;
  ULONGLONG saved = 0;
  ThrowIfFailed(StreamPosition(stream, &saved));
  ULONGLONG size = 0;
  ThrowIfFailed(StreamSeekToEnd(stream, &size));
  length = size;
  if (size > 2) {
    ULONG tail = size >= 5 ? 5 : 3;
    char last[5] = {0, 0, 0, 0, 0};
    ThrowIfFailed(StreamSeekTo(stream, size - tail));
    ULONG done = 0;
    ThrowIfFailed(stream->Read(last, tail, &done));
    if (done == tail) {
      if (tail == 5 && memcmp(last, "\r\n.\r\n", 5) == 0) {
        length = size - 5;
      } else if (memcmp(last + tail - 3, "\r\n.", 3) == 0) {
        length = size - 3;
      }
    }
  }
  ThrowIfFailed(StreamSeekTo(stream, saved));
}

void UnfoldLine(TSTRING& text) {
  int n = text.GetLength();
  if (n == 0) return;
  // Up to the first line end or backslash nothing changes.
  const int first = static_cast<int>(
      SpanExcept(reinterpret_cast<const unsigned char*>(text.c_str()), static_cast<size_t>(n), '\r', '\n', '\\'));
  if (first == n) return;
  // The output is never longer than what has been read, so the text is
  // rewritten in place.
  char* p = text.GetBuffer(n);
  enum { NORMAL, AFTER_CR, AFTER_LF, AFTER_BACKSLASH, AFTER_BACKSLASH_CR } state = NORMAL;
  int out = first;
  for (int i = first; i < n; ++i) {
    if (state == NORMAL) {
      // The plain bytes up to the next line end or backslash move at once.
      const int plain = static_cast<int>(SpanExcept(reinterpret_cast<const unsigned char*>(p + i),
                                                    static_cast<size_t>(n - i), '\r', '\n', '\\'));
      memmove(p + out, p + i, static_cast<size_t>(plain));
      out += plain;
      i += plain;
      if (i == n) break;
    }
    char c = p[i];
    switch (state) {
      case NORMAL:
        if (c == '\r') state = AFTER_CR;
        else if (c == '\n') state = AFTER_LF;
        else if (c == '\\') state = AFTER_BACKSLASH;
        else p[out++] = c;
        break;
      case AFTER_CR:
      case AFTER_LF:
        if (c == '\r') state = AFTER_CR;
        else if (c == '\n') state = AFTER_LF;
        else if (c == '\\') state = AFTER_BACKSLASH;
        else state = NORMAL;  // the blank that starts the folded line
        break;
      case AFTER_BACKSLASH:
        if (c == '\r') {
          state = AFTER_BACKSLASH_CR;
        } else if (c == '\n') {
          state = NORMAL;
        } else {
          p[out++] = '\\';
          p[out++] = c;
          state = NORMAL;
        }
        break;
      case AFTER_BACKSLASH_CR:
        if (c == '\n') p[out++] = '\r';
        p[out++] = c;
        state = NORMAL;
        break;
    }
  }
  text.ReleaseBuffer(out);
}

int RemoveComments(TSTRING& text, int quotedPairs) {
  int n = text.GetLength();
  if (n == 0 || memchr(text.c_str(), '(', static_cast<size_t>(n)) == nullptr) return 0;
  char* p = text.GetBuffer(n);
  int out = 0;
  int depth = 0;
  for (int i = 0; i < n; ++i) {
    char c = p[i];
    if (depth == 0) {
      if (c == '(') {
        depth = 1;
      } else if (c == '\\') {
        if (i + 1 < n) p[out++] = p[++i];
      } else {
        p[out++] = c;
      }
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      --depth;
    } else if (c == '\\' && quotedPairs != 0) {
      ++i;
    }
  }
  text.ReleaseBuffer(out);
  return 1;
}

bool IsValidEOL(const TSTRING& text) {
  int n = text.GetLength();
  if (n % 2 != 0) return false;
  const char* p = text.c_str();
  for (int i = 0; i < n; i += 2)
    if (p[i] != '\r' || p[i + 1] != '\n') return false;
  return true;
}

namespace {

bool IsWordSeparator(unsigned char c) {
  static const char kPunctuation[] = "\\:;,.!?%&^@#$*-+=_/\"'|~<>()[]";
  switch (c) {
    case ' ':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
    case '\0':
      return true;
    default:
      return memchr(kPunctuation, c, sizeof kPunctuation - 1) != nullptr;
  }
}

}  // namespace

bool IsWordsCountLess(const TSTRING& text, ULONG limit) {
  if (limit == 0) return false;
  int n = text.GetLength();
  if (n == 0) return true;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.c_str());
  bool inWord = !IsWordSeparator(p[0]);
  ULONG count = 0;
  for (int i = 1; i < n; ++i) {
    bool separator = IsWordSeparator(p[i]);
    if (inWord) {
      if (separator || i == n - 1) {
        if (++count == limit) return false;
        inWord = false;
      }
    } else if (!separator) {
      inWord = true;
    }
  }
  return true;
}

}  // namespace telsor
