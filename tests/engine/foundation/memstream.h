// A small in-memory IStream for tests: a byte vector with a position, and
// knobs that make reads or writes fail or stop short.
#ifndef TELSOR_TESTS_FOUNDATION_MEMSTREAM_H
#define TELSOR_TESTS_FOUNDATION_MEMSTREAM_H

#include <string.h>

#include <vector>

#include "foundation/istream.h"

class CTestMemStream : public IStream {
 public:
  std::vector<BYTE> bytes;
  size_t pos = 0;
  HRESULT failRead = S_OK;   // returned by Read when set
  HRESULT failWrite = S_OK;  // returned by Write when set
  size_t writeLimit = static_cast<size_t>(-1);  // bytes Write accepts in total

  HRESULT QueryInterface(const IID&, void** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  HRESULT Read(void* buffer, ULONG count, ULONG* done) override {
    if (failRead != S_OK) return failRead;
    size_t n = pos < bytes.size() ? bytes.size() - pos : 0;
    if (n > count) n = count;
    if (n) memcpy(buffer, bytes.data() + pos, n);
    pos += n;
    if (done) *done = static_cast<ULONG>(n);
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Write(const void* buffer, ULONG count, ULONG* done) override {
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
  HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
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

#endif  // TELSOR_TESTS_FOUNDATION_MEMSTREAM_H
