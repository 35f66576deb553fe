// The in-memory IStream of the tests: a byte vector with a position and
// knobs that make reads short or failing, writes short or failing and
// seeks fail, for the error paths of whatever sits on top of a stream.
//
//   CTestStream s("record bytes");           // on the stack: never deleted
//   s.maxChunk = 3;                           // every Read hands out <= 3 bytes
//   s.failReadAt = 8;                         // a Read reaching offset 8 fails
//   CTestStream* held = CTestStream::New("x");  // on the heap: the Release
//   CStreamReader reader(held, 10);             // that ends the last hold
//                                               // deletes it
//
// It is the engine's own stream base (QueryInterface, CopyTo through Read,
// E_NOTIMPL for the rest) with a reference count that deletes only what
// New made. One thread at a time.
#ifndef TELSOR_TESTS_COMMON_TESTSTREAM_H
#define TELSOR_TESTS_COMMON_TESTSTREAM_H

#include <string.h>

#include <string>
#include <vector>

#include "foundation/istreamimpl.h"

class CTestStream : public telsor::CIStreamImpl {
 public:
  static const size_t NEVER = static_cast<size_t>(-1);

  std::vector<BYTE> bytes;
  size_t pos = 0;
  ULONG maxChunk = 0xFFFFFFFFu;       // a Read hands out at most this many bytes
  ULONG maxWriteChunk = 0xFFFFFFFFu;  // a Write takes at most this many bytes
  size_t writeLimit = NEVER;          // bytes Write takes in all
  size_t failReadAt = NEVER;          // a Read reaching this offset fails
  int readsUntilFailure = -1;         // the Read after this many fails; -1: never
  int seeksUntilFailure = -1;         // the Seek after this many fails; -1: never
  HRESULT failure = E_FAIL;           // what a failing Read or Seek returns
  HRESULT failWrite = S_OK;           // when set, Write returns it and takes nothing
  HRESULT writeResult = S_OK;         // what a Write returns with what it took
  HRESULT shortReadResult = S_FALSE;  // what a Read giving fewer bytes returns

  CTestStream() {}
  explicit CTestStream(const std::string& s) : bytes(s.begin(), s.end()) {}
  // A heap stream, deleted by the Release that ends the last reference
  // (the count starts at 0, as the engine's streams do).
  static CTestStream* New(const std::string& s) {
    CTestStream* stream = new CTestStream(s);
    stream->m_bHeap = true;
    return stream;
  }
  std::string str() const { return std::string(bytes.begin(), bytes.end()); }

  ULONG AddRef() override { return ++m_nCount; }
  ULONG Release() override {
    const ULONG n = --m_nCount;
    if (n == 0 && m_bHeap) delete this;
    return n;
  }

  HRESULT Read(void* buffer, ULONG count, ULONG* done) override {
    if (done) *done = 0;
    if (readsUntilFailure == 0) return failure;
    if (readsUntilFailure > 0) --readsUntilFailure;
    size_t n = pos < bytes.size() ? bytes.size() - pos : 0;
    if (n > count) n = count;
    if (n > maxChunk) n = maxChunk;
    if (failReadAt != NEVER && pos + n > failReadAt) return failure;
    if (n) memcpy(buffer, bytes.data() + pos, n);
    pos += n;
    if (done) *done = static_cast<ULONG>(n);
    return n == count ? S_OK : shortReadResult;
  }
  HRESULT Write(const void* buffer, ULONG count, ULONG* done) override {
    if (done) *done = 0;
    if (failWrite != S_OK) return failWrite;
    size_t n = count;
    if (n > maxWriteChunk) n = maxWriteChunk;
    if (n > writeLimit) n = writeLimit;
    if (writeLimit != NEVER) writeLimit -= n;
    if (bytes.size() < pos + n) bytes.resize(pos + n);
    if (n) memcpy(bytes.data() + pos, buffer, n);
    pos += n;
    if (done) *done = static_cast<ULONG>(n);
    return writeResult;
  }
  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
    if (seeksUntilFailure == 0) return failure;
    if (seeksUntilFailure > 0) --seeksUntilFailure;
    long long base = origin == STREAM_SEEK_SET ? 0
                     : origin == STREAM_SEEK_CUR ? static_cast<long long>(pos)
                                                 : static_cast<long long>(bytes.size());
    long long at = base + move.QuadPart;
    if (at < 0) return E_FAIL;
    pos = static_cast<size_t>(at);
    if (newPosition) newPosition->QuadPart = pos;
    return S_OK;
  }

 private:
  ULONG m_nCount = 0;
  bool m_bHeap = false;
};

#endif  // TELSOR_TESTS_COMMON_TESTSTREAM_H
