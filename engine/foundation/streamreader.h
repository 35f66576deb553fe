// CStreamReader: a byte reader with put-back and absolute positions, over a
// memory block or over a stream read through a 4,096-byte window.
//
//   IStream* stream = nullptr;
//   CTstringAsIStream::CreateStreamOnTSTRING("From joe\nTo: ann\n", &stream);
//   CStreamReader r(stream, 0xFFFFFFFF);   // from the stream's current position
//   stream->Release();                     // the reader holds its own reference
//   DWORD start = r.GetPos();
//   int c;
//   while ((c = r.GetChar()) != -1 && c != '\n') {}
//   TSTRING line;
//   r.ReadData(start, r.GetPos(), line);   // "From joe\n", position unchanged
//   r.SetPos(start);                       // back, also into an earlier window
//   bool from = r.Match("From ");          // consumed only when all of it matches
//
// Both forms give the same answers for the same bytes. Positions are
// absolute: a stream reader counts from the stream's origin, a memory reader
// from the block's start. The stream form throws a failing stream call's
// result code as DWORD (ThrowCode); so does the constructor (E_POINTER for
// a null stream, the failing Seek's result). A window that cannot be had is
// the engine's CMemoryException*.
// Ownership: the memory form does not copy the block (the caller keeps it
// alive); the stream form holds a reference to the stream and moves it as it
// reads. One thread at a time.
#ifndef TELSOR_FOUNDATION_STREAMREADER_H
#define TELSOR_FOUNDATION_STREAMREADER_H

#include <memory>

#include "foundation/istream.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"

namespace telsor {

class CStreamReader {
 public:
  static const ULONG WINDOW_SIZE = 4096;
  static const ULONG NO_LIMIT = 0xFFFFFFFFu;

  // Over length bytes at data (a null block counts as empty); position 0.
  CStreamReader(const unsigned char* data, ULONG length);
  // Over at most length bytes of stream from its current position
  // (NO_LIMIT: up to the stream's end).
  CStreamReader(IStream* stream, ULONG length);
  virtual ~CStreamReader();

  // The next byte (0-255), advancing; -1 at the end, where the position stays.
  // Inside the current window a byte costs no call.
  int GetChar() {
    const ULONGLONG offset = m_nPos - m_nWinStart;
    if (offset < m_nWinLen) {
      ++m_nPos;
      return m_pData[offset];
    }
    return GetCharLoading();
  }
  // The next byte without advancing; -1 at the end.
  int CheckChar() {
    const ULONGLONG offset = m_nPos - m_nWinStart;
    return offset < m_nWinLen ? m_pData[offset] : ByteAt(m_nPos);
  }
  // The bytes from the position to the end of the current window, for
  // scanning in bulk: *count of them (0 when the next byte is not in the
  // window; GetChar then loads the next one). Skip(n) moves past n <= *count
  // of them.
  //   ULONG n;
  //   const BYTE* p = r.Window(&n);
  //   const void* eol = memchr(p, '\n', n);
  //   r.Skip(eol != nullptr ? static_cast<ULONG>(static_cast<const BYTE*>(eol) - p) : n);
  const BYTE* Window(ULONG* count) const {
    const ULONGLONG offset = m_nPos - m_nWinStart;
    *count = offset < m_nWinLen ? static_cast<ULONG>(m_nWinLen - offset) : 0;
    return m_pData + (offset < m_nWinLen ? offset : 0);
  }
  void Skip(ULONG n) { m_nPos += n; }
  // The bytes of positions from up to, not including, to when all of them
  // are in the current window (from < to), else null; nothing is loaded.
  const BYTE* InWindow(DWORD from, DWORD to) const {
    if (from >= to || from < m_nWinStart || to - m_nWinStart > m_nWinLen) return nullptr;
    return m_pData + (from - m_nWinStart);
  }
  // One byte back; nothing at the start of the range.
  void PutBackChar();
  // The position of the next byte.
  DWORD GetPos() const { return static_cast<DWORD>(m_nPos); }
  // Moves to pos when it lies within the range (the end included); otherwise
  // the position stays. Returns the resulting position.
  DWORD SetPos(DWORD pos);
  // out := the bytes of positions from up to, not including, to (cut at the
  // end; empty when to <= from); the position is unchanged. Returns 0, or the
  // failing stream call's result (out then empty). Does not throw for
  // stream failures.
  HRESULT ReadData(DWORD from, DWORD to, TSTRING& out);
  // When the next bytes equal literal, consumes them and returns nonzero;
  // otherwise 0 with the position unchanged. An empty literal matches.
  BOOL Match(const char* literal);

  CStreamReader(const CStreamReader&) = delete;
  CStreamReader& operator=(const CStreamReader&) = delete;

 private:
  // Makes the window hold the bytes around pos (stream form); false when pos
  // is at or past the end of the data.
  bool Load(ULONGLONG pos);
  // The byte at pos, or -1 past the end; loads windows as needed.
  int ByteAt(ULONGLONG pos);
  // GetChar when the next byte lies outside the window.
  int GetCharLoading();

  IStream* m_pStream;        // null for the memory form
  const BYTE* m_pData;       // the block, or the window
  std::unique_ptr<BYTE[]> m_pWindow;  // stream form
  ULONGLONG m_nStart;        // first position of the range
  ULONGLONG m_nEnd;          // position after the range's last byte (limit)
  ULONGLONG m_nWinStart;     // position of m_pData[0]
  ULONG m_nWinLen;           // bytes valid in m_pData
  ULONGLONG m_nStreamPos;    // where the stream stands; ~0 when unknown
  ULONGLONG m_nPos;          // position of the next byte
};

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_STREAMREADER_H
