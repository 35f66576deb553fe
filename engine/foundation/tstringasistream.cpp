// The string stream: an IStream over a TSTRING in memory.
#include "foundation/tstringasistream.h"

#include <limits.h>
#include <string.h>

#include <new>

#include "foundation/errorroad.h"

namespace telsor {

HRESULT CTstringAsIStream::CreateStreamOnTSTRING(const TSTRING& text, IStream** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  CTstringAsIStream* stream = new (std::nothrow) CTstringAsIStream;
  if (stream == nullptr) return E_OUTOFMEMORY;
  stream->AddRef();
  HRESULT hr = ResultOf([&] { stream->m_strData = text; });
  if (FAILED(hr)) {
    stream->Release();
    return hr;
  }
  return HandOut(stream, out);
}

CTstringAsIStream::~CTstringAsIStream() {}

char* CTstringAsIStream::Room(int count) {
  int ask = count;
  if (count > m_nCapacity) {
    // Doubling keeps a run of appending writes linear.
    int doubled = m_strData.GetLength() > INT_MAX / 2 ? INT_MAX : m_strData.GetLength() * 2;
    if (doubled > ask) ask = doubled;
  }
  char* p = m_strData.GetBuffer(ask);
  if (ask > m_nCapacity) m_nCapacity = ask;
  return p;
}

ULONG CTstringAsIStream::Available(ULONGLONG count) const {
  ULONGLONG length = static_cast<ULONGLONG>(m_strData.GetLength());
  if (m_nPos >= length) return 0;
  ULONGLONG n = length - m_nPos;
  return static_cast<ULONG>(n < count ? n : count);
}

HRESULT CTstringAsIStream::Read(void* buffer, ULONG count, ULONG* done) {
  ULONG n = buffer == nullptr ? 0 : Available(count);
  if (n > 0) memcpy(buffer, m_strData.c_str() + m_nPos, n);
  m_nPos += n;
  if (done != nullptr) *done = n;
  return n == count ? S_OK : S_FALSE;
}

HRESULT CTstringAsIStream::Write(const void* buffer, ULONG count, ULONG* done) {
  if (done != nullptr) *done = 0;
  if (buffer == nullptr && count != 0) return E_POINTER;
  if (m_nPos + count > static_cast<ULONGLONG>(INT_MAX)) return E_OUTOFMEMORY;
  int pos = static_cast<int>(m_nPos);
  int end = static_cast<int>(m_nPos + count);
  int length = m_strData.GetLength();
  // A source inside our own text must outlive a move of the buffer.
  TSTRING keep;
  const char* src = static_cast<const char*>(buffer);
  if (src >= m_strData.c_str() && src <= m_strData.c_str() + length) keep = m_strData;
  HRESULT hr = ResultOf([&] {
    char* p = Room(end);
    if (pos > length) memset(p + length, 0, static_cast<size_t>(pos - length));
    if (count != 0) memmove(p + pos, src, count);
    m_strData.ReleaseBuffer(end);
  });
  if (FAILED(hr)) return hr;
  m_nPos += count;
  if (done != nullptr) *done = count;
  return S_OK;
}

HRESULT CTstringAsIStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) {
  LONGLONG delta = move.QuadPart;
  if (origin == STREAM_SEEK_CUR || origin == STREAM_SEEK_END) {
    ULONGLONG base = origin == STREAM_SEEK_CUR ? m_nPos : static_cast<ULONGLONG>(m_strData.GetLength());
    if (delta < 0 && static_cast<ULONGLONG>(-(delta + 1)) + 1 > base) {
      m_nPos = 0;
    } else {
      m_nPos = base + static_cast<ULONGLONG>(delta);
    }
  } else {
    m_nPos = move.u.LowPart;
  }
  if (newPosition != nullptr) newPosition->QuadPart = m_nPos;
  return S_OK;
}

HRESULT CTstringAsIStream::SetSize(ULARGE_INTEGER size) {
  if (size.QuadPart > static_cast<ULONGLONG>(INT_MAX)) return E_OUTOFMEMORY;
  int n = static_cast<int>(size.QuadPart);
  int length = m_strData.GetLength();
  HRESULT hr = ResultOf([&] {
    char* p = m_strData.GetBuffer(n);
    if (n > length) memset(p + length, 0, static_cast<size_t>(n - length));
    m_strData.ReleaseBuffer(n);
    m_strData.FreeExtra();
  });
  if (SUCCEEDED(hr)) m_nCapacity = n;
  return hr;
}

HRESULT CTstringAsIStream::CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                  ULARGE_INTEGER* written) {
  if (target == nullptr) return E_POINTER;
  ULONG n = Available(count.QuadPart);
  ULONG w = 0;
  HRESULT hr = S_OK;
  if (target != static_cast<IStream*>(this)) {
    hr = target->Write(m_strData.c_str() + (n ? m_nPos : 0), n, &w);
    if (FAILED(hr)) {
      n = 0;
    } else {
      m_nPos += n;
    }
  } else if (m_nPos + 2 * static_cast<ULONGLONG>(n) > static_cast<ULONGLONG>(INT_MAX)) {
    hr = E_OUTOFMEMORY;
    n = 0;
  } else {
    int pos = static_cast<int>(m_nPos);
    int end = pos + 2 * static_cast<int>(n);
    hr = ResultOf([&] {
      char* p = Room(end);
      memmove(p + pos + n, p + pos, n);
      m_strData.ReleaseBuffer(end);
    });
    if (SUCCEEDED(hr)) {
      m_nPos += 2 * static_cast<ULONGLONG>(n);
      w = n;
    } else {
      n = 0;
    }
  }
  if (read != nullptr) read->QuadPart = n;
  if (written != nullptr) written->QuadPart = w;
  return hr;
}

}  // namespace telsor
