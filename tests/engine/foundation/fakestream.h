// A stream over a std::string whose operations fail or read short on demand,
// for the error paths of the classes that sit on top of streams.
#ifndef TELSOR_TESTS_FAKESTREAM_H
#define TELSOR_TESTS_FAKESTREAM_H

#include <string.h>

#include <algorithm>
#include <string>

#include "foundation/istreamimpl.h"

namespace telsor_test {

class CFakeStream : public telsor::CIStreamImpl {
 public:
  explicit CFakeStream(std::string data) : m_data(std::move(data)) {}

  std::string m_data;
  ULONGLONG m_pos = 0;
  ULONG m_maxRead = 0xFFFFFFFFu;   // at most this many bytes per Read
  ULONG m_maxWrite = 0xFFFFFFFFu;  // at most this many bytes per Write
  int m_readsUntilFailure = -1;    // the Read after this many succeeds fails; -1 never
  int m_seeksUntilFailure = -1;
  HRESULT m_failure = E_FAIL;
  HRESULT m_writeResult = S_OK;    // returned by every Write (with what it took)
  int m_reads = 0;
  int m_seeks = 0;

  HRESULT Read(void* buffer, ULONG count, ULONG* done) override {
    ++m_reads;
    if (m_readsUntilFailure == 0) return m_failure;
    if (m_readsUntilFailure > 0) --m_readsUntilFailure;
    ULONG n = 0;
    if (m_pos < m_data.size()) {
      n = static_cast<ULONG>(std::min<ULONGLONG>({count, m_maxRead, m_data.size() - m_pos}));
      memcpy(buffer, m_data.data() + m_pos, n);
      m_pos += n;
    }
    if (done) *done = n;
    return S_OK;
  }
  HRESULT Write(const void* buffer, ULONG count, ULONG* done) override {
    ULONG n = std::min(count, m_maxWrite);
    if (m_data.size() < m_pos + n) m_data.resize(m_pos + n, '\0');
    memcpy(&m_data[m_pos], buffer, n);
    m_pos += n;
    if (done) *done = n;
    return m_writeResult;
  }
  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
    ++m_seeks;
    if (m_seeksUntilFailure == 0) return m_failure;
    if (m_seeksUntilFailure > 0) --m_seeksUntilFailure;
    LONGLONG base = origin == STREAM_SEEK_CUR   ? static_cast<LONGLONG>(m_pos)
                    : origin == STREAM_SEEK_END ? static_cast<LONGLONG>(m_data.size())
                                                : 0;
    if (base + move.QuadPart < 0) return E_FAIL;
    m_pos = static_cast<ULONGLONG>(base + move.QuadPart);
    if (newPosition) newPosition->QuadPart = m_pos;
    return S_OK;
  }
};

}  // namespace telsor_test

#endif  // TELSOR_TESTS_FAKESTREAM_H
