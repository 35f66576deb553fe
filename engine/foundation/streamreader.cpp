// The buffered byte reader over memory or a stream.
#include "foundation/streamreader.h"

#include <string.h>

#include <new>

#include "foundation/errorroad.h"
#include "foundation/exception.h"
#include "foundation/throwcode.h"

namespace telsor {

namespace {
const ULONGLONG UNKNOWN = ~0ull;
}

CStreamReader::CStreamReader(const unsigned char* data, ULONG length)
    : m_pStream(nullptr),
      m_pData(data),
      m_nStart(0),
      m_nEnd(data == nullptr ? 0 : length),
      m_nWinStart(0),
      m_nWinLen(data == nullptr ? 0 : length),
      m_nStreamPos(UNKNOWN),
      m_nPos(0) {}

CStreamReader::CStreamReader(IStream* stream, ULONG length)
    : m_pStream(nullptr),
      m_pData(nullptr),
      m_nStart(0),
      m_nEnd(0),
      m_nWinStart(0),
      m_nWinLen(0),
      m_nStreamPos(UNKNOWN),
      m_nPos(0) {
  if (stream == nullptr) ThrowCode(static_cast<DWORD>(E_POINTER));
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  ULARGE_INTEGER at;
  at.QuadPart = 0;
  HRESULT hr = stream->Seek(zero, STREAM_SEEK_CUR, &at);
  if (FAILED(hr)) ThrowCode(static_cast<DWORD>(hr));
  m_pWindow.reset(new (std::nothrow) BYTE[WINDOW_SIZE]);
  if (m_pWindow == nullptr) AfxThrowMemoryException();
  m_pStream = stream;
  m_pStream->AddRef();
  m_pData = m_pWindow.get();
  m_nStart = at.QuadPart;
  m_nEnd = length == NO_LIMIT ? UNKNOWN : m_nStart + length;
  m_nWinStart = m_nStart;
  m_nStreamPos = m_nStart;
  m_nPos = m_nStart;
}

CStreamReader::~CStreamReader() {
  if (m_pStream != nullptr) m_pStream->Release();
}

bool CStreamReader::Load(ULONGLONG pos) {
  if (pos >= m_nWinStart && pos - m_nWinStart < m_nWinLen) return true;
  if (m_pStream == nullptr || pos < m_nStart || pos >= m_nEnd) return false;
  // Windows are aligned on the range's start, so going back and forth over
  // a seam reads the same two windows.
  ULONGLONG winStart = m_nStart + (pos - m_nStart) / WINDOW_SIZE * WINDOW_SIZE;
  ULONGLONG want = m_nEnd - winStart < WINDOW_SIZE ? m_nEnd - winStart : WINDOW_SIZE;
  m_nWinLen = 0;
  m_nWinStart = winStart;
  if (m_nStreamPos != winStart) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(winStart);
    m_nStreamPos = UNKNOWN;
    HRESULT hr = m_pStream->Seek(to, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) ThrowCode(static_cast<DWORD>(hr));
    m_nStreamPos = winStart;
  }
  ULONG filled = 0;
  while (filled < want) {
    ULONG got = 0;
    HRESULT hr = m_pStream->Read(m_pWindow.get() + filled, static_cast<ULONG>(want) - filled, &got);
    if (FAILED(hr)) {
      m_nStreamPos = UNKNOWN;
      m_nWinLen = 0;
      ThrowCode(static_cast<DWORD>(hr));
    }
    if (got > want - filled) got = static_cast<ULONG>(want) - filled;
    if (got == 0) break;
    filled += got;
  }
  m_nWinLen = filled;
  m_nStreamPos = winStart + filled;
  // A short window is the end of the data.
  if (filled < want) m_nEnd = winStart + filled;
  return pos - winStart < filled;
}

int CStreamReader::ByteAt(ULONGLONG pos) {
  if (!Load(pos)) return -1;
  return m_pData[pos - m_nWinStart];
}

int CStreamReader::GetCharLoading() {
  int c = ByteAt(m_nPos);
  if (c != -1) ++m_nPos;
  return c;
}

void CStreamReader::PutBackChar() {
  if (m_nPos > m_nStart) --m_nPos;
}

DWORD CStreamReader::SetPos(DWORD pos) {
  ULONGLONG target = pos;
  if (target >= m_nStart && (target == m_nPos || Load(target) ||
                             (target > m_nStart && Load(target - 1)))) {
    m_nPos = target;
  }
  return GetPos();
}

HRESULT CStreamReader::ReadData(DWORD from, DWORD to, TSTRING& out) {
  out.Release();
  ULONGLONG p = from < m_nStart ? m_nStart : from;
  if (const BYTE* bytes = InWindow(static_cast<DWORD>(p), to)) {
    // All of it in the window: copied straight into out.
    return ResultOf([&] { out.AssignCopy(static_cast<int>(to - p), reinterpret_cast<const char*>(bytes)); });
  }
  return ResultOf([&] {
    // The room grows by doubling, up to the bytes asked for (the end of the
    // data may be unknown yet), so a long range costs time linear in it.
    TSTRING text;
    ULONGLONG room = 0;
    ULONGLONG filled = 0;
    char* buffer = nullptr;
    while (p < to && Load(p)) {
      ULONGLONG offset = p - m_nWinStart;
      ULONGLONG n = m_nWinLen - offset;
      if (n > to - p) n = to - p;
      if (filled + n > room) {
        room = room * 2 > filled + n ? room * 2 : filled + n;
        if (room > filled + (to - p)) room = filled + (to - p);
        if (room > 0x7FFFFFFFull) AfxThrowMemoryException();
        if (buffer != nullptr) text.ReleaseBuffer(static_cast<int>(filled));  // the bytes so far are kept
        buffer = text.GetBuffer(static_cast<int>(room));
      }
      memcpy(buffer + filled, m_pData + offset, static_cast<size_t>(n));
      filled += n;
      p += n;
    }
    text.ReleaseBuffer(static_cast<int>(filled));
    out = text;
  });
}

BOOL CStreamReader::Match(const char* literal) {
  if (literal == nullptr) return 1;
  ULONGLONG saved = m_nPos;
  for (const char* p = literal; *p != '\0'; ++p) {
    if (GetChar() != static_cast<unsigned char>(*p)) {
      m_nPos = saved;
      return 0;
    }
  }
  return 1;
}

}  // namespace telsor
