// TSTRING: reference-counted copy-on-write byte string.
#include "foundation/tstring.h"

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <string.h>

#include <new>

#include "foundation/errorroad.h"
#include "foundation/exception.h"
#include "foundation/istream.h"
#include "foundation/strhelpers.h"

namespace telsor {

namespace {

// The shared empty buffer: never counted, never freed, never written.
struct TSTRINGNil {
  TSTRINGData header;
  char chars[4];
};
const TSTRINGNil rgInitData = {{-1, 0, 0}, {0, 0, 0, 0}};

// A fresh buffer: count 1, length = capacity = count, NUL at count. Count 0
// gives the shared empty buffer. Throws the engine's memory exception.
char* NewBuffer(int64_t count) {
  if (count == 0) return const_cast<char*>(_tmpPchNil);
  if (count < 0 || count > INT_MAX) AfxThrowMemoryException();
  size_t bytes = sizeof(TSTRINGData) + static_cast<size_t>(count) + 1;
  char* block = new (std::nothrow) char[bytes];
  if (block == nullptr) AfxThrowMemoryException();
  TSTRINGData* d = new (block) TSTRINGData;
  d->nRefs = 1;
  d->nDataLength = static_cast<int>(count);
  d->nAllocLength = static_cast<int>(count);
  d->data()[count] = '\0';
  return d->data();
}

TSTRINGData* DataOf(char* chars) { return reinterpret_cast<TSTRINGData*>(chars) - 1; }

// The reference count as other holders of the buffer may be changing it
// (with the interlocked operations) on other threads.
LONG Refs(const TSTRINGData* d) { return __atomic_load_n(&d->nRefs, __ATOMIC_ACQUIRE); }

// Drops one hold on a buffer; the last one (or a locked buffer's) frees it.
// A buffer held by this string alone (count 1, or locked) cannot be reached
// by another thread, so it goes without the locked decrement.
void ReleaseChars(char* chars) {
  if (chars == _tmpPchNil) return;
  TSTRINGData* d = DataOf(chars);
  if (Refs(d) <= 1 || InterlockedDecrement(&d->nRefs) < 1) {
    d->~TSTRINGData();
    delete[] reinterpret_cast<char*>(d);
  }
}

int SafeLength(const char* s) { return s == nullptr ? 0 : lstrlenA(s); }

// A NUL byte is not white space.
bool IsSpace(char b) { return isspace(static_cast<unsigned char>(b)) != 0; }

// Compacts the bytes that do not match to the front; returns their count.
template <class Match>
int KeepUnmatched(char* data, int length, Match match) {
  char* dst = data;
  for (const char* src = data; src < data + length; ++src)
    if (!match(*src)) *dst++ = *src;
  return static_cast<int>(dst - data);
}

// The length without the trailing run of matching bytes.
template <class Match>
int WithoutTrailing(const char* data, int length, Match match) {
  while (length > 0 && match(data[length - 1])) --length;
  return length;
}

// The number of leading matching bytes within the length.
template <class Match>
int LeadingMatched(const char* data, int length, Match match) {
  int k = 0;
  while (k < length && match(data[k])) ++k;
  return k;
}

}  // namespace

TSTRINGData* const _tmpDataNil = const_cast<TSTRINGData*>(&rgInitData.header);
const char* const _tmpPchNil = rgInitData.chars;

// ---- construction, assignment ----

TSTRING::TSTRING(const TSTRING& other) : m_pchData(const_cast<char*>(_tmpPchNil)) {
  TSTRINGData* d = other.GetData();
  if (Refs(d) >= 0) {
    m_pchData = other.m_pchData;
    InterlockedIncrement(&d->nRefs);
  } else if (!other.IsNil()) {
    // A locked buffer is copied, by its stored length (NUL bytes included).
    m_pchData = NewBuffer(d->nDataLength);
    memcpy(m_pchData, other.m_pchData, static_cast<size_t>(d->nDataLength));
  }
}

TSTRING::TSTRING(const char* s) : m_pchData(const_cast<char*>(_tmpPchNil)) {
  // Values below 0x10000 are resource identifiers, not text.
  if (reinterpret_cast<uintptr_t>(s) < 0x10000) return;
  int n = lstrlenA(s);
  if (n == 0) return;
  m_pchData = NewBuffer(n);
  memcpy(m_pchData, s, static_cast<size_t>(n));
}

TSTRING::TSTRING(char c, int count) : m_pchData(const_cast<char*>(_tmpPchNil)) {
  if (count <= 0) return;
  m_pchData = NewBuffer(count);
  memset(m_pchData, c, static_cast<size_t>(count));
}

TSTRING::TSTRING(const char* p, int count) : m_pchData(const_cast<char*>(_tmpPchNil)) {
  if (count <= 0) return;
  m_pchData = NewBuffer(count);
  if (p != nullptr) memcpy(m_pchData, p, static_cast<size_t>(count));
}

TSTRING::TSTRING(const std::string& s) : m_pchData(const_cast<char*>(_tmpPchNil)) {
  if (s.empty()) return;
  m_pchData = NewBuffer(static_cast<int64_t>(s.size()));
  memcpy(m_pchData, s.data(), s.size());
}

TSTRING::TSTRING(const unsigned short*) : m_pchData(const_cast<char*>(_tmpPchNil)) {}

TSTRING::~TSTRING() { ReleaseChars(m_pchData); }

TSTRING& TSTRING::operator=(const TSTRING& other) {
  if (m_pchData == other.m_pchData) return *this;
  TSTRINGData* mine = GetData();
  TSTRINGData* theirs = other.GetData();
  if ((Refs(mine) < 0 && !IsNil()) || Refs(theirs) < 0) {
    AssignCopy(theirs->nDataLength, other.m_pchData);
  } else {
    InterlockedIncrement(&theirs->nRefs);
    ReleaseChars(m_pchData);
    m_pchData = other.m_pchData;
  }
  return *this;
}

TSTRING& TSTRING::operator=(const char* s) {
  AssignCopy(SafeLength(s), s);
  return *this;
}

TSTRING& TSTRING::operator=(char c) {
  AssignCopy(1, &c);
  return *this;
}

TSTRING& TSTRING::operator=(const unsigned short*) { return *this; }

void TSTRING::AssignCopy(int count, const char* p) {
  if (count < 0) count = 0;
  TSTRINGData* d = GetData();
  if (Refs(d) < 2 && count <= d->nAllocLength) {
    if (IsNil()) return;  // count is 0: already empty
    if (p != nullptr) memmove(m_pchData, p, static_cast<size_t>(count));
  } else {
    ReleaseData();
    m_pchData = NewBuffer(count);
    if (p != nullptr) memcpy(m_pchData, p, static_cast<size_t>(count));
    if (IsNil()) return;
  }
  GetData()->nDataLength = count;
  m_pchData[count] = '\0';
}

// ---- buffer management ----

void TSTRING::ReleaseData() {
  ReleaseChars(m_pchData);
  m_pchData = const_cast<char*>(_tmpPchNil);
}

void TSTRING::CopyBeforeWrite() {
  TSTRINGData* d = GetData();
  if (Refs(d) < 2) return;
  char* old = m_pchData;
  m_pchData = NewBuffer(d->nDataLength);
  // A shared empty buffer becomes the static empty one, which is never written.
  if (!IsNil()) memcpy(m_pchData, old, static_cast<size_t>(d->nDataLength) + 1);
  ReleaseChars(old);
}

// Unshared with room for count characters; grows to exactly count.
void TSTRING::GrowTo(int count) {
  CopyBeforeWrite();
  TSTRINGData* d = GetData();
  if (count <= d->nAllocLength) return;
  char* old = m_pchData;
  int length = d->nDataLength;
  m_pchData = NewBuffer(count);
  memcpy(m_pchData, old, static_cast<size_t>(length) + 1);
  GetData()->nDataLength = length;
  ReleaseChars(old);
}

void TSTRING::ConcatCopy(int count1, const char* p1, int count2, const char* p2) {
  int64_t total = static_cast<int64_t>(count1) + count2;
  char* fresh = NewBuffer(total);
  if (count1 > 0) memcpy(fresh, p1, static_cast<size_t>(count1));
  if (count2 > 0) memcpy(fresh + count1, p2, static_cast<size_t>(count2));
  ReleaseChars(m_pchData);
  m_pchData = fresh;
}

void TSTRING::ConcatInPlace(int count, const char* p) {
  if (count <= 0) return;
  TSTRINGData* d = GetData();
  int length = d->nDataLength;
  if (Refs(d) < 2 && static_cast<int64_t>(length) + count <= d->nAllocLength) {
    memmove(m_pchData + length, p, static_cast<size_t>(count));
    d->nDataLength = length + count;
    m_pchData[length + count] = '\0';
    return;
  }
  // The new buffer is filled before the old one goes, so p may point into it.
  char* old = m_pchData;
  char* fresh = NewBuffer(static_cast<int64_t>(length) + count);
  memcpy(fresh, old, static_cast<size_t>(length));
  memcpy(fresh + length, p, static_cast<size_t>(count));
  m_pchData = fresh;
  ReleaseChars(old);
}

TSTRING operator+(const TSTRING& a, const TSTRING& b) {
  TSTRING s;
  s.ConcatCopy(a.GetLength(), a.c_str(), b.GetLength(), b.c_str());
  return s;
}

TSTRING operator+(const TSTRING& a, const char* b) {
  TSTRING s;
  s.ConcatCopy(a.GetLength(), a.c_str(), SafeLength(b), b);
  return s;
}

TSTRING operator+(const char* a, const TSTRING& b) {
  TSTRING s;
  s.ConcatCopy(SafeLength(a), a, b.GetLength(), b.c_str());
  return s;
}

TSTRING operator+(const TSTRING& a, char c) {
  TSTRING s;
  s.ConcatCopy(a.GetLength(), a.c_str(), 1, &c);
  return s;
}

TSTRING operator+(char c, const TSTRING& b) {
  TSTRING s;
  s.ConcatCopy(1, &c, b.GetLength(), b.c_str());
  return s;
}

// ---- searching ----

int TSTRING::Find(char c) const {
  const char* hit = strchr(m_pchData, c);
  return hit == nullptr ? -1 : static_cast<int>(hit - m_pchData);
}

int TSTRING::Find(char c, int start) const {
  if (start > GetLength()) return -1;
  if (start < 0) start = 0;
  const char* hit = strchr(m_pchData + start, c);
  return hit == nullptr ? -1 : static_cast<int>(hit - m_pchData);
}

int TSTRING::Find(const char* sub) const { return Find(sub, 0); }

int TSTRING::Find(const char* sub, int start) const {
  if (start > GetLength()) return -1;
  if (start < 0) start = 0;
  const char* hit = strstr(m_pchData + start, sub == nullptr ? "" : sub);
  return hit == nullptr ? -1 : static_cast<int>(hit - m_pchData);
}

int TSTRING::ReverseFind(char c) const {
  if (c == '\0') return -1;
  const char* hit = strrchr(m_pchData, c);
  return hit == nullptr ? -1 : static_cast<int>(hit - m_pchData);
}

int TSTRING::FindOneOf(const char* set) const {
  if (set == nullptr || *set == '\0') return -1;
  const char* hit = strpbrk(m_pchData, set);
  return hit == nullptr ? -1 : static_cast<int>(hit - m_pchData);
}

// ---- sub-strings ----

TSTRING TSTRING::Mid(int start, int count) const {
  int length = GetLength();
  if (start < 0) start = 0;
  if (count < 0) count = length;
  if (static_cast<int64_t>(start) + count > length) count = length - start;
  if (start > length) count = 0;
  if (count <= 0) return TSTRING();
  return TSTRING(m_pchData + start, count);
}

TSTRING TSTRING::Mid(int start) const {
  int64_t count = static_cast<int64_t>(GetLength()) - start;
  return Mid(start, count > INT_MAX ? INT_MAX : static_cast<int>(count));
}

TSTRING TSTRING::substr(int start, int count) const {
  return Mid(start, count == npos ? GetLength() : count);
}

TSTRING TSTRING::Left(int count) const {
  if (count < 0) return TSTRING();
  if (count > GetLength()) count = GetLength();
  return TSTRING(m_pchData, count);
}

TSTRING TSTRING::Right(int count) const {
  if (count < 0) return TSTRING();
  int length = GetLength();
  if (count > length) count = length;
  return TSTRING(m_pchData + length - count, count);
}

TSTRING TSTRING::SpanIncluding(const char* set) const {
  return Left(static_cast<int>(strspn(m_pchData, set == nullptr ? "" : set)));
}

TSTRING TSTRING::SpanExcluding(const char* set) const {
  return Left(static_cast<int>(strcspn(m_pchData, set == nullptr ? "" : set)));
}

// ---- in-place changes ----

int TSTRING::Insert(int index, char c) {
  CopyBeforeWrite();
  int length = GetLength();
  if (index < 0) index = 0;
  if (index > length) index = length;
  if (length == INT_MAX) AfxThrowMemoryException();
  GrowTo(length + 1);
  memmove(m_pchData + index + 1, m_pchData + index, static_cast<size_t>(length - index) + 1);
  m_pchData[index] = c;
  GetData()->nDataLength = length + 1;
  return length + 1;
}

int TSTRING::Insert(int index, const char* s) {
  int n = SafeLength(s);
  if (n < 1) return GetLength();
  // Text taken from this string's own buffer is copied out first: growing
  // may free the buffer and moving the tail may overwrite it.
  if (s >= m_pchData && s <= m_pchData + GetData()->nAllocLength) {
    TSTRING copy(s, n);
    return Insert(index, copy.c_str());
  }
  CopyBeforeWrite();
  int length = GetLength();
  if (index < 0) index = 0;
  if (index > length) index = length;
  if (static_cast<int64_t>(length) + n > INT_MAX) AfxThrowMemoryException();
  GrowTo(length + n);
  memmove(m_pchData + index + n, m_pchData + index, static_cast<size_t>(length - index) + 1);
  memcpy(m_pchData + index, s, static_cast<size_t>(n));
  GetData()->nDataLength = length + n;
  return length + n;
}

TSTRING& TSTRING::append(const char* p, int count) {
  if (count < 0) count = SafeLength(p);
  if (count < 1 || p == nullptr) return *this;
  if (p >= m_pchData && p <= m_pchData + GetData()->nAllocLength) {
    TSTRING copy(p, count);
    return append(copy.c_str(), count);
  }
  int length = GetLength();
  if (static_cast<int64_t>(length) + count > INT_MAX) AfxThrowMemoryException();
  GrowTo(length + count);
  memcpy(m_pchData + length, p, static_cast<size_t>(count));
  GetData()->nDataLength = length + count;
  m_pchData[length + count] = '\0';
  return *this;
}

TSTRING& TSTRING::append(int count, char c) {
  if (count < 1) return *this;
  int length = GetLength();
  if (static_cast<int64_t>(length) + count > INT_MAX) AfxThrowMemoryException();
  GrowTo(length + count);
  memset(m_pchData + length, c, static_cast<size_t>(count));
  GetData()->nDataLength = length + count;
  m_pchData[length + count] = '\0';
  return *this;
}

int TSTRING::Delete(int index, int count) {
  int length = GetLength();
  if (index < 0) index = 0;
  if (count < 1 || index >= length) return length;
  CopyBeforeWrite();
  if (static_cast<int64_t>(index) + count < length) {
    memmove(m_pchData + index, m_pchData + index + count,
            static_cast<size_t>(length - index - count) + 1);
    length -= count;
  } else {
    m_pchData[index] = '\0';
    length = index;
  }
  GetData()->nDataLength = length;
  return length;
}

void TSTRING::erase(int index, int count) {
  int length = GetLength();
  if (index < 0 || index >= length) return;
  if (count < 0) count = length - index;
  Delete(index, count);
}

void TSTRING::Remove(char c) {
  CopyBeforeWrite();
  CutTo(KeepUnmatched(m_pchData, GetLength(), [c](char b) { return b == c; }));
}

void TSTRING::RemoveAny(const char* set) {
  if (set == nullptr) set = "";
  CopyBeforeWrite();
  // strchr finds the set's own terminator, so a NUL byte always matches.
  CutTo(KeepUnmatched(m_pchData, GetLength(), [set](char b) { return strchr(set, b) != nullptr; }));
}

int TSTRING::Replace(char oldChar, char newChar) {
  if (oldChar == newChar) return 0;
  CopyBeforeWrite();
  int count = 0;
  char* end = m_pchData + GetLength();
  for (char* p = m_pchData; p < end; ++p)
    if (*p == oldChar) {
      *p = newChar;
      ++count;
    }
  return count;
}

int TSTRING::Replace(const char* oldText, const char* newText) {
  int a = SafeLength(oldText);
  if (a == 0) return 0;
  if (newText == nullptr) newText = "";
  int b = lstrlenA(newText);
  // Texts taken from this string's own buffer are copied out first.
  char* lo = m_pchData;
  char* hi = m_pchData + GetData()->nAllocLength;
  if ((oldText >= lo && oldText <= hi) || (newText >= lo && newText <= hi)) {
    TSTRING o(oldText), n(newText);
    return Replace(o.c_str(), n.c_str());
  }

  // Counting pass. A failed search jumps past the next NUL, so text after
  // embedded NUL bytes is searched too; hits do not overlap.
  int count = 0;
  {
    const char* p = m_pchData;
    const char* end = m_pchData + GetLength();
    while (p < end) {
      const char* hit;
      while ((hit = strstr(p, oldText)) != nullptr) {
        ++count;
        p = hit + a;
      }
      p += strlen(p) + 1;
    }
  }
  if (count == 0) return 0;

  CopyBeforeWrite();
  int length = GetLength();
  int64_t newLength = static_cast<int64_t>(length) + static_cast<int64_t>(b - a) * count;
  if (newLength > INT_MAX) AfxThrowMemoryException();
  GrowTo(static_cast<int>(newLength > length ? newLength : length));

  // Replacing pass, in the same order; the inserted text is never searched.
  char* p = m_pchData;
  char* end = m_pchData + length;
  while (p < end) {
    char* hit;
    while ((hit = strstr(p, oldText)) != nullptr) {
      memmove(hit + b, hit + a, static_cast<size_t>(end - (hit + a)) + 1);
      memcpy(hit, newText, static_cast<size_t>(b));
      end += b - a;
      p = hit + b;
    }
    p += strlen(p) + 1;
  }
  GetData()->nDataLength = static_cast<int>(newLength);
  m_pchData[newLength] = '\0';
  return count;
}

void TSTRING::TrimRight() {
  CopyBeforeWrite();
  CutTo(WithoutTrailing(m_pchData, GetLength(), IsSpace));
}

void TSTRING::TrimRight(const char* set) {
  if (set == nullptr) set = "";
  CopyBeforeWrite();
  CutTo(WithoutTrailing(m_pchData, GetLength(),
                        [set](char b) { return strchr(set, b) != nullptr; }));  // NUL is in set
}

void TSTRING::TrimLeft() {
  CopyBeforeWrite();
  DropFront(LeadingMatched(m_pchData, GetLength(), IsSpace));
}

void TSTRING::TrimLeft(const char* set) {
  if (set == nullptr) set = "";
  CopyBeforeWrite();
  DropFront(LeadingMatched(m_pchData, GetLength(),
                           [set](char b) { return strchr(set, b) != nullptr; }));
}

// Ends the string at length when that shortens it.
void TSTRING::CutTo(int length) {
  if (length == GetLength()) return;
  m_pchData[length] = '\0';
  GetData()->nDataLength = length;
}

// Moves the text after the first count bytes (with its NUL) to the front.
void TSTRING::DropFront(int count) {
  if (count == 0) return;
  int length = GetLength();
  memmove(m_pchData, m_pchData + count, static_cast<size_t>(length - count) + 1);
  GetData()->nDataLength = length - count;
}

void TSTRING::MakeUpper() {
  CopyBeforeWrite();
  if (!IsNil()) CharUpperA(m_pchData);
}

void TSTRING::MakeLower() {
  CopyBeforeWrite();
  if (!IsNil()) CharLowerA(m_pchData);
}

void TSTRING::MakeReverse() {
  CopyBeforeWrite();
  if (!IsNil()) _strrev(m_pchData);
}

void TSTRING::SetAt(int index, char c) {
  CopyBeforeWrite();
  if (index >= 0 && index < GetLength()) m_pchData[index] = c;
}

void TSTRING::Release() { ReleaseData(); }

// ---- formatting ----

void TSTRING::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatV(format, args);
  va_end(args);
}

void TSTRING::FormatV(const char* format, va_list args) {
  if (format == nullptr || *format == '\0') {
    AssignCopy(0, nullptr);
    return;
  }
  TSTRING translated;
  char* t = translated.GetBuffer(lstrlenA(format));
  TranslateFormat(format, t);
  translated.ReleaseBuffer(-1);

  va_list probe;
  va_copy(probe, args);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int n = vsnprintf(nullptr, 0, translated.c_str(), probe);
  va_end(probe);
  if (n <= 0) {
    AssignCopy(0, nullptr);
    return;
  }
  // Expanded into a fresh buffer: the arguments may point into this string.
  TSTRING out;
  char* buffer = out.GetBuffer(n);
  va_list again;
  va_copy(again, args);
  vsnprintf(buffer, static_cast<size_t>(n) + 1, translated.c_str(), again);
  va_end(again);
#pragma GCC diagnostic pop
  out.ReleaseBuffer(n);
  *this = out;
}

// ---- direct buffer access ----

char* TSTRING::GetBuffer(int count) {
  TSTRINGData* d = GetData();
  if (Refs(d) < 2 && count <= d->nAllocLength) return m_pchData;
  int length = d->nDataLength;
  if (count < length) count = length;
  char* old = m_pchData;
  m_pchData = NewBuffer(count);
  if (!IsNil()) {  // the static empty buffer is never written
    memcpy(m_pchData, old, static_cast<size_t>(length) + 1);
    GetData()->nDataLength = length;
  }
  ReleaseChars(old);
  return m_pchData;
}

void TSTRING::ReleaseBuffer(int count) {
  CopyBeforeWrite();
  if (IsNil()) return;
  TSTRINGData* d = GetData();
  if (count < 0) count = static_cast<int>(strnlen(m_pchData, static_cast<size_t>(d->nAllocLength)));
  if (count > d->nAllocLength) count = d->nAllocLength;
  d->nDataLength = count;
  m_pchData[count] = '\0';
}

char* TSTRING::GetBufferSetLength(int count) {
  if (count < 0) count = 0;
  GetBuffer(count);
  if (!IsNil()) {
    GetData()->nDataLength = count;
    m_pchData[count] = '\0';
  }
  return m_pchData;
}

void TSTRING::reserve(int count) {
  int length = GetLength();
  GetBuffer(count > length ? count : length);
  ReleaseBuffer(length);
}

char* TSTRING::LockBuffer() {
  char* p = GetBuffer(0);
  if (!IsNil()) __atomic_store_n(&GetData()->nRefs, -1, __ATOMIC_RELEASE);
  return p;
}

void TSTRING::UnlockBuffer() {
  // Only a locked buffer: a shared one must keep its count.
  if (!IsNil() && Refs(GetData()) == -1) __atomic_store_n(&GetData()->nRefs, 1, __ATOMIC_RELEASE);
}

void TSTRING::FreeExtra() {
  TSTRINGData* d = GetData();
  if (d->nDataLength == d->nAllocLength) return;
  char* old = m_pchData;
  m_pchData = NewBuffer(d->nDataLength);
  memcpy(m_pchData, old, static_cast<size_t>(d->nDataLength));
  ReleaseChars(old);
}

// ---- storage ----

HRESULT TSTRING::Serialize(IStream* stream, int storing) {
  if (stream == nullptr) return E_POINTER;
  ULONG done = 0;
  BYTE head[4];
  if (storing) {
    DWORD n = static_cast<DWORD>(GetLength());
    for (int i = 0; i < 4; ++i) head[i] = static_cast<BYTE>(n >> (8 * i));
    HRESULT hr = stream->Write(head, 4, &done);
    if (FAILED(hr)) return hr;
    if (done != 4) return E_FAIL;
    done = 0;
    hr = stream->Write(m_pchData, n, &done);
    if (FAILED(hr)) return hr;
    return done == n ? S_OK : E_FAIL;
  }

  HRESULT hr = stream->Read(head, 4, &done);
  if (FAILED(hr)) return hr;
  if (done != 4) return E_FAIL;
  DWORD n = 0;
  for (int i = 0; i < 4; ++i) n |= static_cast<DWORD>(head[i]) << (8 * i);
  // A length the string cannot hold is a bad record, not a short allocation.
  if (n > static_cast<DWORD>(INT_MAX)) return E_FAIL;
  const int want = static_cast<int>(n);
  // The characters go into the buffer as it is when it has room; otherwise
  // the buffer grows as they arrive (the length field is untrusted), to
  // exactly the length in the end.
  const int kFirstRoom = 1 << 16;
  int have = 0;
  hr = ResultOfCall([&]() -> HRESULT {
    CopyBeforeWrite();
    do {
      int room = GetData()->nAllocLength;
      if (room < want && room <= have) {
        int64_t grown = have >= kFirstRoom ? 2 * static_cast<int64_t>(have) : kFirstRoom;
        char* old = m_pchData;
        m_pchData = NewBuffer(grown < want ? grown : want);
        memcpy(m_pchData, old, static_cast<size_t>(have));
        ReleaseChars(old);
        room = GetData()->nAllocLength;
      }
      const ULONG chunk = static_cast<ULONG>((room < want ? room : want) - have);
      ULONG got = 0;
      HRESULT read = stream->Read(m_pchData + have, chunk, &got);
      if (FAILED(read)) return read;
      if (got != chunk) return E_FAIL;
      have += static_cast<int>(chunk);
    } while (have < want);
    return S_OK;
  });
  if (FAILED(hr)) {
    // Keep the string well formed; the caller discards it. Running out of
    // memory is a record that cannot be held.
    if (!IsNil()) {
      GetData()->nDataLength = 0;
      m_pchData[0] = '\0';
    }
    return hr == E_OUTOFMEMORY ? E_FAIL : hr;
  }
  if (!IsNil()) {
    GetData()->nDataLength = want;
    m_pchData[want] = '\0';
  }
  return S_OK;
}

DWORD TSTRING::ReadFile(FILE* f) {
  if (f == nullptr) return static_cast<DWORD>(E_POINTER);
  if (!IsEmpty()) {
    if (Refs(GetData()) == -1)
      AssignCopy(0, nullptr);
    else
      Release();
  }
  long position = ftell(f);
  if (position < 0) return GetLastError();
  if (fseek(f, 0, SEEK_END) != 0) return GetLastError();
  long size = ftell(f);
  if (size < 0) {
    DWORD error = GetLastError();
    fseek(f, position, SEEK_SET);
    return error;
  }
  // The length is an int, and one more byte is asked for the NUL.
  if (size >= INT_MAX) {
    fseek(f, position, SEEK_SET);
    return static_cast<DWORD>(E_OUTOFMEMORY);
  }
  rewind(f);
  char* buffer = nullptr;
  HRESULT hr = ResultOf([&] { buffer = GetBuffer(static_cast<int>(size) + 1); });
  if (FAILED(hr)) {
    fseek(f, position, SEEK_SET);
    return static_cast<DWORD>(hr);
  }
  memset(buffer, 0, static_cast<size_t>(size));
  size_t n = fread(buffer, 1, static_cast<size_t>(size), f);
  if (n != static_cast<size_t>(size)) {
    int error = ferror(f);
    if (error != 0) {
      ReleaseBuffer(0);
      fseek(f, position, SEEK_SET);
      return static_cast<DWORD>(error);
    }
  }
  fseek(f, position, SEEK_SET);
  ReleaseBuffer(static_cast<int>(n));
  return 0;
}

DWORD TSTRING::ReadFile(const char* path) {
  if (path == nullptr) return static_cast<DWORD>(E_POINTER);
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return GetLastError();
  DWORD result = ReadFile(f);
  fclose(f);
  return result;
}

int TSTRING::ReadLine(FILE*) { return 0; }

void AllTrim(TSTRING& text, const char* set) {
  text.TrimLeft(set);
  text.TrimRight(set);
}

}  // namespace telsor
