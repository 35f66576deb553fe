// TSTRING: the engine's byte string, reference counted with copy-on-write.
//
// A TSTRING holds one pointer, to its characters. In the same heap block the
// characters are preceded by a header of three int32 fields: reference count
// (1 owned, >= 2 shared read-only, -1 locked or the shared empty buffer),
// length (NUL bytes inside count) and capacity. The character at the length
// is always NUL. All empty strings share one static empty buffer.
//
//   TSTRING a("abc");
//   TSTRING b = a;              // shares a's buffer: count 2
//   b.MakeUpper();              // b unshares first; a is still "abc"
//   int n = b.GetLength();      // 3, read without a call
//
//   char* p = s.GetBuffer(100); // writable room for 100 characters + NUL
//   int got = fill(p, 100);
//   s.ReleaseBuffer(got);       // fixes the length (NUL bytes inside kept)
//
// Out of memory throws the engine's CMemoryException* (AfxThrowMemoryException).
// Reference counts change atomically, so strings sharing a buffer may be
// copied and destroyed on different threads; one TSTRING object is not safe
// against concurrent modification.
#ifndef TELSOR_FOUNDATION_TSTRING_H
#define TELSOR_FOUNDATION_TSTRING_H

#include <stdarg.h>
#include <stdio.h>

#include <functional>
#include <string>

#include "foundation/win32.h"
#include "foundation/wintypes.h"

class IStream;

namespace telsor {

// Header in front of the characters of every buffer.
struct TSTRINGData {
  LONG nRefs;        // 1 owned, >= 2 shared, -1 locked or the empty buffer
  int nDataLength;   // characters in use
  int nAllocLength;  // characters the buffer holds, NUL not counted
  char* data() { return reinterpret_cast<char*>(this + 1); }
};

// The shared empty buffer: header {-1, 0, 0} and one NUL.
extern TSTRINGData* const _tmpDataNil;
extern const char* const _tmpPchNil;

class TSTRING {
 public:
  static const int npos = -1;

  TSTRING() : m_pchData(const_cast<char*>(_tmpPchNil)) {}
  TSTRING(const TSTRING& other);
  TSTRING(const char* s);  // NOLINT: converts like a C string
  TSTRING(char c, int count);
  TSTRING(const char* p, int count);  // count bytes, NUL bytes included
  TSTRING(const std::string& s);      // NOLINT
  TSTRING(const unsigned short* wide);  // converts nothing: empty
  ~TSTRING();

  TSTRING& operator=(const TSTRING& other);
  TSTRING& operator=(const char* s);
  TSTRING& operator=(char c);  // length 1, also for NUL
  TSTRING& operator=(const unsigned short* wide);  // leaves the string unchanged
  void AssignCopy(int count, const char* p);

  // Read access, constant time.
  int GetLength() const { return GetData()->nDataLength; }
  bool IsEmpty() const { return GetData()->nDataLength == 0; }
  const char* c_str() const { return m_pchData; }
  operator const char*() const { return m_pchData; }
  char GetAt(int index) const { return m_pchData[index]; }
  char operator[](int index) const { return m_pchData[index]; }

  // Appending in place: exactly count bytes (NUL bytes included).
  void ConcatInPlace(int count, const char* p);
  friend TSTRING operator+(const TSTRING& a, const TSTRING& b);
  friend TSTRING operator+(const TSTRING& a, const char* b);
  friend TSTRING operator+(const char* a, const TSTRING& b);
  friend TSTRING operator+(const TSTRING& a, char c);
  friend TSTRING operator+(char c, const TSTRING& b);

  // Searching: positions are 0-based, -1 when not found. The character and
  // substring searches stop at the first NUL byte.
  int Find(char c) const;
  int Find(char c, int start) const;
  int Find(const char* sub) const;
  int Find(const char* sub, int start) const;
  int find(char c) const { return Find(c); }
  int ReverseFind(char c) const;
  int rfind(char c) const { return ReverseFind(c); }
  int FindOneOf(const char* set) const;

  // Sub-strings, clamped to the string.
  TSTRING Mid(int start, int count) const;
  TSTRING Mid(int start) const;
  TSTRING substr(int start, int count = npos) const;
  TSTRING Left(int count) const;
  TSTRING Right(int count) const;
  TSTRING SpanIncluding(const char* set) const;
  TSTRING SpanExcluding(const char* set) const;

  // In-place changes; each unshares first.
  int Insert(int index, char c);          // returns the new length
  int Insert(int index, const char* s);   // returns the new length
  TSTRING& append(const char* p, int count);  // count < 0: up to the NUL
  TSTRING& append(int count, char c);
  int Delete(int index, int count = 1);   // returns the new length
  void erase(int index, int count = npos);
  void Remove(char c);
  void RemoveAny(const char* set);
  int Replace(char oldChar, char newChar);              // returns the count
  int Replace(const char* oldText, const char* newText);  // returns the count
  void TrimRight();
  void TrimRight(const char* set);
  void TrimLeft();
  void TrimLeft(const char* set);
  void MakeUpper();
  void MakeLower();
  void MakeReverse();
  void SetAt(int index, char c);
  void Release();  // becomes the shared empty string

  // Replaces the contents by the printf-style expansion; "%I64d", "%I64u"
  // and "%I64x" take 64-bit integers (so no compiler printf checking here).
  void Format(const char* format, ...);
  void FormatV(const char* format, va_list args);

  // Direct buffer access. GetBuffer returns room for at least count
  // characters and a NUL, unshared, contents kept; ReleaseBuffer(n) fixes
  // the length (-1: up to the first NUL). A locked buffer (LockBuffer) is
  // owned by this string alone: copies get their own buffer until
  // UnlockBuffer.
  char* GetBuffer(int count);
  void ReleaseBuffer(int count = -1);
  char* GetBufferSetLength(int count);
  void reserve(int count);
  char* LockBuffer();
  void UnlockBuffer();
  void FreeExtra();

  // Record: u32 little-endian length, then the characters without NUL.
  // Returns 0, the stream's failure code, or E_FAIL for a short transfer or
  // a length that cannot be held. Loading grows the buffer as the characters
  // arrive: a record that claims 2 GiB but ends early fails having
  // allocated little.
  HRESULT Serialize(IStream* stream, int storing);
  // Reads a whole file (its position is restored). Returns 0, the ferror
  // value on a read error, E_OUTOFMEMORY when the file is too large or memory
  // runs out, or the last error when it cannot be opened or positioned.
  DWORD ReadFile(FILE* f);
  DWORD ReadFile(const char* path);
  int ReadLine(FILE* f);  // reads nothing; returns 0

 private:
  TSTRINGData* GetData() const { return reinterpret_cast<TSTRINGData*>(m_pchData) - 1; }
  bool IsNil() const { return m_pchData == _tmpPchNil; }
  void ReleaseData();
  void CopyBeforeWrite();
  void GrowTo(int count);
  void ConcatCopy(int count1, const char* p1, int count2, const char* p2);
  void CutTo(int length);
  void DropFront(int count);

  char* m_pchData;
};

// Removes the characters of set from both ends of text.
void AllTrim(TSTRING& text, const char* set);

}  // namespace telsor

namespace std {
// Ordering of TSTRING keys by lstrcmpA (byte order up to the first NUL).
template <>
struct less<telsor::TSTRING> {
  bool operator()(const telsor::TSTRING& a, const telsor::TSTRING& b) const {
    return lstrcmpA(a.c_str(), b.c_str()) < 0;
  }
};
}  // namespace std

#endif  // TELSOR_FOUNDATION_TSTRING_H
