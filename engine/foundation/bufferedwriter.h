// CBufferedWriter: a growable text builder. Appends go to a staging buffer
// that is flushed into an accumulated TSTRING when full or when the text is
// asked for.
//
//   TSTRING subject("offer");
//   CBufferedWriter w(4096);
//   w += "Subject: ";
//   w += subject;                      // a TSTRING, NUL bytes inside kept
//   w += '\n';
//   TSTRING text = w.ToString();       // "Subject: offer\n"
//
// Out of memory throws the engine's CMemoryException* (as TSTRING does).
// One thread at a time.
#ifndef TELSOR_FOUNDATION_BUFFEREDWRITER_H
#define TELSOR_FOUNDATION_BUFFEREDWRITER_H

#include <memory>

#include "foundation/tstring.h"
#include "foundation/wintypes.h"

namespace telsor {

class CBufferedWriter {
 public:
  // capacity: the staging buffer's size (0: appends go straight to the text).
  explicit CBufferedWriter(ULONG capacity);
  ~CBufferedWriter();

  CBufferedWriter& operator+=(char c);
  CBufferedWriter& operator+=(const char* text);  // null or "" appends nothing
  CBufferedWriter& operator+=(const TSTRING& text);
  // Replaces the whole contents.
  CBufferedWriter& operator=(const TSTRING& text);

  // The contents as a new string (flushes first).
  TSTRING ToString();
  // The number of bytes held.
  ULONG GetLength() const;
  // The contents, NUL-terminated (flushes first); valid until the next change.
  const char* c_data();
  // Discards everything.
  void Empty();

  CBufferedWriter(const CBufferedWriter&) = delete;
  CBufferedWriter& operator=(const CBufferedWriter&) = delete;

 private:
  void Append(const char* p, ULONG count);
  void Flush();

  std::unique_ptr<char[]> m_pBuffer;  // staging bytes
  ULONG m_nCapacity;   // size of m_pBuffer
  ULONG m_nStaged;     // bytes in m_pBuffer
  TSTRING m_strText;   // flushed text
  int m_nReserved;     // room known to be held by m_strText
};

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_BUFFEREDWRITER_H
