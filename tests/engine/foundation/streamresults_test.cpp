// One table of the result codes of every stream operation: stream kind x
// operation x edge -> result, count and position afterwards.
#include <gtest/gtest.h>

#include <zlib.h>

#include <functional>
#include <string>
#include <vector>

#include "common/teststream.h"
#include "foundation/fileasistream.h"
#include "foundation/globalmem.h"
#include "foundation/gzfileasistream.h"
#include "foundation/hglobalstream.h"
#include "foundation/simplecipher.h"
#include "foundation/tstringasistream.h"
#include "streamtestutil.h"

using namespace telsor;
using namespace telsor_test;

namespace {

const ULONGLONG ANY = ~0ull - 1;  // position or count not checked

struct Outcome {
  HRESULT hr;
  ULONGLONG count;
  ULONGLONG pos;
};

struct Row {
  const char* kind;
  const char* op;
  const char* edge;
  std::function<Outcome()> run;
  HRESULT hr;
  ULONGLONG count;
  ULONGLONG pos;
};

class StreamResults : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileBytes(m_dir / "ten", "0123456789");
    gzFile gz = gzopen((m_dir / "hundred.gz").c_str(), "wb");
    ASSERT_NE(gz, nullptr);
    std::string hundred(100, 'h');
    ASSERT_EQ(gzwrite(gz, hundred.data(), 100), 100);
    gzclose(gz);
  }

  // A fresh file of the ten digits, opened with access.
  IStream* File(const char*, DWORD access = GENERIC_READ | GENERIC_WRITE) {
    std::string path = m_dir / ("f" + std::to_string(++m_files));
    WriteFileBytes(path, "0123456789");
    IStream* s = nullptr;
    EXPECT_EQ(CFileAsIStream::CreateStreamOnFile(path.c_str(), access, 0, OPEN_EXISTING, &s), S_OK);
    return s;
  }
  IStream* Text(const char* text) {
    IStream* s = nullptr;
    EXPECT_EQ(CTstringAsIStream::CreateStreamOnTSTRING(text, &s), S_OK);
    return s;
  }
  IStream* Memory(const char* text) {
    IStream* s = nullptr;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &s), S_OK);
    s->Write(text, static_cast<ULONG>(strlen(text)), nullptr);
    s->Seek(Move(0), STREAM_SEEK_SET, nullptr);
    return s;
  }
  IStream* Gz() {
    IStream* s = nullptr;
    EXPECT_EQ(CGZFileAsIStream::CreateStreamOnFile((m_dir / "hundred.gz").c_str(), GENERIC_READ,
                                                   FILE_SHARE_READ, OPEN_EXISTING, &s),
              S_OK);
    return s;
  }

  static IStream* Held(CIStreamImpl* s) {
    s->AddRef();
    return s;
  }

  // Runs op on s, then reports the result, a count and the position; s is released.
  static Outcome Do(IStream* s, const std::function<HRESULT(IStream*, ULONGLONG*)>& op) {
    ULONGLONG count = ANY;
    HRESULT hr = op(s, &count);
    ULONGLONG pos = PosOf(s);
    s->Release();
    return {hr, count, pos};
  }
  static std::function<HRESULT(IStream*, ULONGLONG*)> ReadN(ULONG n) {
    return [n](IStream* s, ULONGLONG* count) {
      std::vector<char> buf(n + 1);
      ULONG got = 12345;
      HRESULT hr = s->Read(buf.data(), n, &got);
      *count = got;
      return hr;
    };
  }
  static std::function<HRESULT(IStream*, ULONGLONG*)> WriteText(const char* text) {
    return [text](IStream* s, ULONGLONG* count) {
      ULONG put = 12345;
      HRESULT hr = s->Write(text, static_cast<ULONG>(strlen(text)), &put);
      *count = put;
      return hr;
    };
  }
  static std::function<HRESULT(IStream*, ULONGLONG*)> SeekTo(LONGLONG move, DWORD origin) {
    return [move, origin](IStream* s, ULONGLONG* count) {
      ULARGE_INTEGER at;
      at.QuadPart = 777;
      HRESULT hr = s->Seek(Move(move), origin, &at);
      *count = at.QuadPart;
      return hr;
    };
  }
  static std::function<HRESULT(IStream*, ULONGLONG*)> Then(
      std::function<HRESULT(IStream*, ULONGLONG*)> first,
      std::function<HRESULT(IStream*, ULONGLONG*)> second) {
    return [first, second](IStream* s, ULONGLONG* count) {
      ULONGLONG ignored;
      first(s, &ignored);
      return second(s, count);
    };
  }
  static HRESULT QueryOther(IStream* s, ULONGLONG* count) {
    const IID other = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    void* out = &out;
    HRESULT hr = s->QueryInterface(other, &out);
    *count = out == nullptr ? 0 : 1;
    return hr;
  }
  static HRESULT QuerySequential(IStream* s, ULONGLONG* count) {
    void* out = nullptr;
    HRESULT hr = s->QueryInterface(IID_ISequentialStream, &out);
    *count = s->AddRef() - 1;  // the count after the query
    s->Release();
    if (out == static_cast<void*>(s)) s->Release();
    return hr;
  }
  static HRESULT StatNoName(IStream* s, ULONGLONG* count) {
    STATSTG st;
    memset(&st, 0, sizeof st);
    HRESULT hr = s->Stat(&st, STATFLAG_NONAME);
    *count = st.cbSize.QuadPart;
    return hr;
  }
  static HRESULT StatDefault(IStream* s, ULONGLONG* count) {
    STATSTG st;
    memset(&st, 0x5A, sizeof st);
    HRESULT hr = s->Stat(&st, STATFLAG_DEFAULT);
    *count = st.cbSize.QuadPart;
    return hr;
  }
  static HRESULT CopyToNull(IStream* s, ULONGLONG* count) {
    *count = 0;
    return s->CopyTo(nullptr, Size(10), nullptr, nullptr);
  }
  static HRESULT CopyToFailing(IStream* s, ULONGLONG* count) {
    CTestStream* target = CTestStream::New("");
    target->AddRef();
    target->writeResult = E_ACCESSDENIED;
    target->maxWriteChunk = 0;
    ULARGE_INTEGER read, written;
    HRESULT hr = s->CopyTo(target, Size(4), &read, &written);
    *count = written.QuadPart;
    target->Release();
    return hr;
  }
  static HRESULT Unsupported(IStream* s, ULONGLONG* count) {
    // Every one of these must answer E_NOTIMPL; report the first other answer.
    IStream* clone = s;
    HRESULT answers[] = {s->Commit(0), s->Revert(), s->LockRegion(Size(0), Size(1), 0),
                         s->UnlockRegion(Size(0), Size(1), 0), s->Clone(&clone)};
    *count = clone == nullptr ? 0 : 1;
    for (HRESULT hr : answers) {
      if (hr != E_NOTIMPL) return hr;
    }
    return E_NOTIMPL;
  }

  TempDir m_dir;
  int m_files = 0;
};

TEST_F(StreamResults, EveryOperationOfEveryStream) {
  const ULONGLONG FIVE_GIB = 5ull << 30;
  std::vector<Row> rows = {
      // file stream
      {"file", "factory", "null out", [&] {
         return Outcome{CFileAsIStream::CreateStreamOnFile("x", GENERIC_READ, 0, 3, nullptr), 0, 0}; },
       E_POINTER, 0, 0},
      {"file", "factory", "missing file, disposition 3", [&] {
         IStream* s = reinterpret_cast<IStream*>(&s);  // must come back null
         HRESULT hr = CFileAsIStream::CreateStreamOnFile((m_dir / "none").c_str(), GENERIC_READ, 0, 3, &s);
         return Outcome{hr, s == nullptr ? 0u : 1u, 0}; },
       E_FAIL, 0, 0},
      {"file", "factory", "a directory for writing", [&] {
         IStream* s = nullptr;
         HRESULT hr = CFileAsIStream::CreateStreamOnFile(m_dir.path().c_str(), GENERIC_WRITE, 0, 3, &s);
         return Outcome{hr, s == nullptr ? 0u : 1u, 0}; },
       E_FAIL, 0, 0},
      {"file", "Read", "all 10 of 10", [&] { return Do(File("ten"), ReadN(10)); }, S_OK, 10, 10},
      {"file", "Read", "20 of 10", [&] { return Do(File("ten"), ReadN(20)); }, S_FALSE, 10, 10},
      {"file", "Read", "at the end", [&] { return Do(File("ten"), Then(ReadN(10), ReadN(5))); }, S_FALSE, 0, 10},
      {"file", "Read", "null buffer", [&] {
         return Do(File("ten"), [](IStream* s, ULONGLONG* c) { *c = 0; return s->Read(nullptr, 4, nullptr); }); },
       E_POINTER, 0, 0},
      {"file", "Read", "write-only file", [&] { return Do(File("ten", GENERIC_WRITE), ReadN(4)); }, E_FAIL, 12345, 0},
      {"file", "Write", "3 bytes", [&] { return Do(File("ten"), WriteText("abc")); }, S_OK, 3, 3},
      {"file", "Write", "read-only file", [&] { return Do(File("ten", GENERIC_READ), WriteText("abc")); }, E_FAIL, 0, 0},
      {"file", "Seek", "past 4 GiB", [&] { return Do(File("ten"), SeekTo(FIVE_GIB, 0)); }, S_OK, FIVE_GIB, FIVE_GIB},
      {"file", "Seek", "-4 from the end", [&] { return Do(File("ten"), SeekTo(-4, 2)); }, S_OK, 6, 6},
      {"file", "Seek", "before the start", [&] { return Do(File("ten"), Then(ReadN(3), SeekTo(-1, 0))); },
       E_FAIL, 777, 3},
      {"file", "SetSize", "grow past 4 GiB", [&] {
         return Do(File("ten"), [&](IStream* s, ULONGLONG* c) {
           HRESULT hr = s->SetSize(Size(FIVE_GIB + 1));
           STATSTG st;
           s->Stat(&st, STATFLAG_NONAME);
           *c = st.cbSize.QuadPart;
           return hr; }); },
       S_OK, FIVE_GIB + 1, 0},
      {"file", "SetSize", "read-only file", [&] {
         return Do(File("ten", GENERIC_READ), [](IStream* s, ULONGLONG* c) { *c = 0; return s->SetSize(Size(2)); }); },
       E_FAIL, 0, 0},
      {"file", "Stat", "no name", [&] { return Do(File("ten"), StatNoName); }, S_OK, 10, 0},
      {"file", "Stat", "name wanted", [&] { return Do(File("ten"), StatDefault); }, E_FAIL, 0, 0},
      {"file", "QueryInterface", "other interface", [&] { return Do(File("ten"), QueryOther); }, E_NOTIMPL, 0, 0},
      {"file", "QueryInterface", "ISequentialStream", [&] { return Do(File("ten"), QuerySequential); }, S_OK, 2, 0},
      {"file", "Commit..Clone", "unsupported", [&] { return Do(File("ten"), Unsupported); }, E_NOTIMPL, 0, 0},
      {"file", "CopyTo", "null target", [&] { return Do(File("ten"), CopyToNull); }, E_POINTER, 0, 0},
      {"file", "CopyTo", "failing target", [&] { return Do(File("ten"), CopyToFailing); }, E_ACCESSDENIED, 0, 4},

      // string stream
      {"string", "factory", "null out", [&] {
         return Outcome{CTstringAsIStream::CreateStreamOnTSTRING("x", nullptr), 0, 0}; }, E_POINTER, 0, 0},
      {"string", "Read", "all 6 of 6", [&] { return Do(Text("abcdef"), ReadN(6)); }, S_OK, 6, 6},
      {"string", "Read", "10 of 6", [&] { return Do(Text("abcdef"), ReadN(10)); }, S_FALSE, 6, 6},
      {"string", "Read", "past the end", [&] { return Do(Text("abcdef"), Then(SeekTo(9, 0), ReadN(2))); },
       S_FALSE, 0, 9},
      {"string", "Read", "null buffer", [&] {
         return Do(Text("abc"), [](IStream* s, ULONGLONG* c) {
           ULONG got = 9;
           HRESULT hr = s->Read(nullptr, 2, &got);
           *c = got;
           return hr; }); },
       S_FALSE, 0, 0},
      {"string", "Write", "at 4", [&] { return Do(Text("abcdef"), Then(SeekTo(4, 0), WriteText("XY"))); }, S_OK, 2, 6},
      {"string", "Write", "at 4294967295", [&] { return Do(Text("abcdef"), Then(SeekTo(-1, 0), WriteText("XY"))); },
       E_OUTOFMEMORY, 0, 4294967295ull},
      {"string", "Write", "ending at INT_MAX + 1", [&] {
         return Do(Text("abcdef"), Then(SeekTo(0x7FFFFFFF, 0), WriteText("X"))); },
       E_OUTOFMEMORY, 0, 0x7FFFFFFFull},
      {"string", "Write", "null buffer", [&] {
         return Do(Text("abc"), [](IStream* s, ULONGLONG* c) {
           ULONG put = 9;
           HRESULT hr = s->Write(nullptr, 2, &put);
           *c = put;
           return hr; }); },
       E_POINTER, 0, 0},
      {"string", "Seek", "-10 from 3", [&] { return Do(Text("abcdef"), Then(SeekTo(3, 0), SeekTo(-10, 1))); },
       S_OK, 0, 0},
      {"string", "Seek", "-3 from the end of 5", [&] { return Do(Text("abcde"), SeekTo(-3, 2)); }, S_OK, 2, 2},
      {"string", "Seek", "-1 from the start", [&] { return Do(Text("abcde"), SeekTo(-1, 0)); },
       S_OK, 4294967295ull, 4294967295ull},
      {"string", "SetSize", "3", [&] {
         return Do(Text("abcdef"), [](IStream* s, ULONGLONG* c) { *c = 0; return s->SetSize(Size(3)); }); },
       S_OK, 0, 0},
      {"string", "SetSize", "past INT_MAX", [&] {
         return Do(Text("abcdef"), [](IStream* s, ULONGLONG* c) {
           HRESULT hr = s->SetSize(Size(0x80000000ull));
           ULONG got = 0;
           char buf[8];
           s->Read(buf, 8, &got);
           *c = got;
           return hr; }); },
       E_OUTOFMEMORY, 6, 6},
      {"string", "Stat", "no name", [&] { return Do(Text("abc"), StatNoName); }, E_NOTIMPL, ANY, 0},
      {"string", "QueryInterface", "other interface", [&] { return Do(Text("abc"), QueryOther); }, E_NOTIMPL, 0, 0},
      {"string", "Commit..Clone", "unsupported", [&] { return Do(Text("abc"), Unsupported); }, E_NOTIMPL, 0, 0},
      {"string", "CopyTo", "null target", [&] { return Do(Text("abc"), CopyToNull); }, E_POINTER, 0, 0},
      {"string", "CopyTo", "failing target", [&] { return Do(Text("abcdef"), CopyToFailing); }, E_ACCESSDENIED, 0, 0},

      // memory-handle stream
      {"hglobal", "factory", "null out", [&] { return Outcome{CreateStreamOnHGlobal(nullptr, TRUE, nullptr), 0, 0}; },
       E_POINTER, 0, 0},
      {"hglobal", "Read", "10 of 6: not signalled", [&] { return Do(Memory("abcdef"), ReadN(10)); }, S_OK, 6, 6},
      {"hglobal", "Write", "past the end", [&] { return Do(Memory("abc"), Then(SeekTo(10, 0), WriteText("XY"))); },
       S_OK, 2, 12},
      {"hglobal", "Write", "past 4 GiB", [&] {
         return Do(Memory("abc"), Then(SeekTo(0xFFFFFFFFll, 0), WriteText("XY"))); },
       E_OUTOFMEMORY, 0, 0xFFFFFFFFull},
      {"hglobal", "Seek", "0 from the current position", [&] {
         return Do(Memory("abcdef"), Then(ReadN(4), SeekTo(0, 1))); }, S_OK, 4, 4},
      {"hglobal", "Seek", "before the start", [&] { return Do(Memory("abcdef"), SeekTo(-1, 1)); }, E_FAIL, 777, 0},
      {"hglobal", "Seek", "unknown origin", [&] { return Do(Memory("abcdef"), SeekTo(1, 7)); }, E_FAIL, 777, 0},
      {"hglobal", "SetSize", "past 4 GiB", [&] {
         return Do(Memory("abc"), [](IStream* s, ULONGLONG* c) { *c = 0; return s->SetSize(Size(1ull << 32)); }); },
       E_OUTOFMEMORY, 0, 0},
      {"hglobal", "Stat", "no name", [&] { return Do(Memory("abcdef"), StatNoName); }, S_OK, 6, 0},
      {"hglobal", "QueryInterface", "other interface", [&] { return Do(Memory("abc"), QueryOther); }, E_NOTIMPL, 0, 0},
      {"hglobal", "CopyTo", "failing target", [&] { return Do(Memory("abcdef"), CopyToFailing); }, E_ACCESSDENIED, 0, 4},
      {"hglobal", "GetHGlobalFromStream", "a file stream", [&] {
         return Do(File("ten"), [](IStream* s, ULONGLONG* c) {
           HGLOBAL h = &h;
           HRESULT hr = GetHGlobalFromStream(s, &h);
           *c = h == nullptr ? 0 : 1;
           return hr; }); },
       E_INVALIDARG, 0, 0},

      // gzip stream (zlib reached through gzlib.so beside this program)
      {"gzip", "factory", "null path", [&] {
         IStream* s = nullptr;
         return Outcome{CGZFileAsIStream::CreateStreamOnFile(nullptr, GENERIC_READ, 1, 3, &s), 0, 0}; },
       E_POINTER, 0, 0},
      {"gzip", "factory", "missing file", [&] {
         IStream* s = nullptr;
         HRESULT hr = CGZFileAsIStream::CreateStreamOnFile((m_dir / "none.gz").c_str(), GENERIC_READ, 1, 3, &s);
         return Outcome{hr, s == nullptr ? 0u : 1u, 0}; },
       E_FAIL, 0, 0},
      {"gzip", "factory", "write access (zlib refuses '+')", [&] {
         IStream* s = nullptr;
         HRESULT hr = CGZFileAsIStream::CreateStreamOnFile((m_dir / "new.gz").c_str(), GENERIC_WRITE, 0, 2, &s);
         return Outcome{hr, s == nullptr ? 0u : 1u, 0}; },
       E_FAIL, 0, 0},
      {"gzip", "Read", "all 100", [&] { return Do(Gz(), ReadN(100)); }, S_OK, 100, 100},
      {"gzip", "Read", "100 of the last 10: not signalled", [&] { return Do(Gz(), Then(SeekTo(90, 0), ReadN(100))); },
       S_OK, 10, 100},
      {"gzip", "Read", "0 bytes", [&] { return Do(Gz(), ReadN(0)); }, S_OK, 0, 0},
      {"gzip", "Write", "to a read stream", [&] { return Do(Gz(), WriteText("abc")); }, E_FAIL, 0, 0},
      {"gzip", "Seek", "move 0x80000000", [&] { return Do(Gz(), SeekTo(0x80000000ll, 0)); },
       TYPE_E_CANTLOADLIBRARY, 777, 0},
      {"gzip", "Seek", "back to 5", [&] { return Do(Gz(), Then(ReadN(50), SeekTo(5, 0))); }, S_OK, 5, 5},
      {"gzip", "Seek", "before the start", [&] { return Do(Gz(), SeekTo(-5, 1)); }, E_FAIL, 777, 0},
      {"gzip", "SetSize", "unsupported", [&] {
         return Do(Gz(), [](IStream* s, ULONGLONG* c) { *c = 0; return s->SetSize(Size(1)); }); },
       E_NOTIMPL, 0, 0},
      {"gzip", "Stat", "unsupported", [&] { return Do(Gz(), StatNoName); }, E_NOTIMPL, ANY, 0},
      {"gzip", "QueryInterface", "other interface", [&] { return Do(Gz(), QueryOther); }, E_NOTIMPL, 0, 0},
      {"gzip", "CopyTo", "failing target", [&] { return Do(Gz(), CopyToFailing); }, E_ACCESSDENIED, 0, 4},
      {"gzip", "CopyTo", "null target", [&] { return Do(Gz(), CopyToNull); }, E_POINTER, 0, 0},

      // cipher stream over a fake stream
      {"cipher", "Read", "inner read fails", [&] {
         CTestStream* inner = CTestStream::New("abcdef");
         inner->readsUntilFailure = 0;
         inner->failure = E_ACCESSDENIED;
         return Do(Held(new CSimpleCipher(inner)), ReadN(3)); },
       E_ACCESSDENIED, 0, 0},
      {"cipher", "Seek", "inner seek fails", [&] {
         CTestStream* inner = CTestStream::New("abcdef");
         inner->seeksUntilFailure = 0;
         CSimpleCipher* c = new CSimpleCipher(inner);
         c->AddRef();
         ULARGE_INTEGER at;
         at.QuadPart = 777;
         HRESULT hr = c->Seek(Move(2), 0, &at);
         c->Release();
         return Outcome{hr, at.QuadPart, 0}; },
       E_FAIL, 777, 0},
      {"cipher", "Read", "no inner stream", [&] { return Do(Held(new CSimpleCipher(nullptr)), ReadN(3)); }, E_POINTER, 0, ~0ull},
      {"cipher", "Write", "inner takes 2 of 3", [&] {
         CTestStream* inner = CTestStream::New("");
         inner->maxWriteChunk = 2;
         return Do(Held(new CSimpleCipher(inner)), WriteText("abc")); },
       S_OK, 2, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.kind) + " " + row.op + ": " + row.edge);
    Outcome got = row.run();
    EXPECT_EQ(static_cast<DWORD>(got.hr), static_cast<DWORD>(row.hr));
    if (row.count != ANY) {
      EXPECT_EQ(got.count, row.count);
    }
    if (row.pos != ANY) {
      EXPECT_EQ(got.pos, row.pos);
    }
  }
}

}  // namespace
