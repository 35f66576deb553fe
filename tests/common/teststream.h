// An in-memory IStream for tests: a byte vector with a position,
// seeking, and knobs that make reads short or failing and writes fail.
#ifndef TELSOR_TESTS_COMMON_TESTSTREAM_H
#define TELSOR_TESTS_COMMON_TESTSTREAM_H

#include <string.h>

#include <string>
#include <vector>

#include "foundation/istream.h"

class CTestStream : public IStream {
 public:
  std::vector<BYTE> bytes;
  size_t pos = 0;
  ULONG maxChunk = 0xFFFFFFFFu;  // a Read hands out at most this many bytes
  size_t failReadAt = static_cast<size_t>(-1);  // reads reaching this offset fail
  HRESULT readError = static_cast<HRESULT>(0x80000008u);
  HRESULT failWrite = S_OK;  // returned by Write when set
  size_t writeLimit = static_cast<size_t>(-1);  // bytes Write accepts in total
  bool failSeek = false;

  CTestStream() {}
  explicit CTestStream(const std::string& s) : bytes(s.begin(), s.end()) {}
  std::string str() const { return std::string(bytes.begin(), bytes.end()); }

  HRESULT QueryInterface(const IID&, void** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  HRESULT Read(void* buffer, ULONG count, ULONG* done) override {
    if (done) *done = 0;
    size_t n = pos < bytes.size() ? bytes.size() - pos : 0;
    if (n > count) n = count;
    if (n > maxChunk) n = maxChunk;
    if (failReadAt != static_cast<size_t>(-1) && pos + n > failReadAt) return readError;
    if (n) memcpy(buffer, bytes.data() + pos, n);
    pos += n;
    if (done) *done = static_cast<ULONG>(n);
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Write(const void* buffer, ULONG count, ULONG* done) override {
    if (done) *done = 0;
    if (failWrite != S_OK) return failWrite;
    size_t n = count;
    if (n > writeLimit) n = writeLimit;
    writeLimit -= n;
    if (bytes.size() < pos + n) bytes.resize(pos + n);
    if (n) memcpy(bytes.data() + pos, buffer, n);
    pos += n;
    if (done) *done = static_cast<ULONG>(n);
    return S_OK;
  }
  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
    if (failSeek) return static_cast<HRESULT>(0x80000008u);
    long long base = origin == STREAM_SEEK_SET ? 0
                     : origin == STREAM_SEEK_CUR ? static_cast<long long>(pos)
                                                 : static_cast<long long>(bytes.size());
    long long at = base + move.QuadPart;
    if (at < 0) return static_cast<HRESULT>(0x80000008u);
    pos = static_cast<size_t>(at);
    if (newPosition) newPosition->QuadPart = pos;
    return S_OK;
  }
  HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT Commit(DWORD) override { return E_NOTIMPL; }
  HRESULT Revert() override { return E_NOTIMPL; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  HRESULT Clone(IStream**) override { return E_NOTIMPL; }
};

#endif  // TELSOR_TESTS_COMMON_TESTSTREAM_H
