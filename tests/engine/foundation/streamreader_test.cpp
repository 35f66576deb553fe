// The buffered reader: the memory form and the stream form (4,096-byte
// window) give identical answers for the same bytes, also across window
// seams and when going back into earlier windows; stream failures are thrown.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "common/teststream.h"
#include "foundation/streamreader.h"
#include "foundation/tstringasistream.h"
#include "streamtestutil.h"

using namespace telsor;
using namespace telsor_test;

namespace {

std::string Data(size_t n) {
  std::string s(n, '\0');
  std::mt19937 rng(21);
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i % 50 == 0 ? 'F' : rng() % 256);
  return s;
}

// One random walk of operations on both readers; every answer must match.
// offset: where the stream reader's range starts inside the stream.
void CompareForms(const std::string& data, CStreamReader& mem, CStreamReader& str, DWORD offset, int steps,
                  unsigned seed) {
  std::mt19937 rng(seed);
  for (int step = 0; step < steps; ++step) {
    int op = static_cast<int>(rng() % 8);
    DWORD pos = mem.GetPos();
    ASSERT_EQ(str.GetPos(), pos + offset) << "step " << step;
    switch (op) {
      case 0:
      case 1: {
        int n = static_cast<int>(rng() % 300);
        for (int i = 0; i < n; ++i) ASSERT_EQ(mem.GetChar(), str.GetChar());
        break;
      }
      case 2:
        ASSERT_EQ(mem.CheckChar(), str.CheckChar());
        break;
      case 3: {
        int n = static_cast<int>(rng() % 5);
        for (int i = 0; i < n; ++i) {
          mem.PutBackChar();
          str.PutBackChar();
        }
        break;
      }
      case 4: {  // anywhere, often near a seam, sometimes past the end
        DWORD to = rng() % 2 ? static_cast<DWORD>(rng() % (data.size() + 50))
                             : static_cast<DWORD>((rng() % (data.size() / 4096 + 1)) * 4096 + rng() % 5) - 2;
        DWORD a = mem.SetPos(to);
        DWORD b = str.SetPos(to + offset);
        ASSERT_EQ(a + offset, b) << "SetPos " << to;
        ASSERT_EQ(a, to <= data.size() ? to : pos);
        break;
      }
      case 5: {
        DWORD from = static_cast<DWORD>(rng() % (data.size() + 10));
        DWORD to = from + static_cast<DWORD>(rng() % 9000) - 100;
        TSTRING a, b;
        ASSERT_EQ(mem.ReadData(from, to, a), S_OK);
        ASSERT_EQ(str.ReadData(from + offset, to + offset, b), S_OK);
        ASSERT_EQ(a.GetLength(), b.GetLength());
        ASSERT_EQ(memcmp(a.c_str(), b.c_str(), a.GetLength()), 0);
        std::string expected = from < data.size() && to > from ? data.substr(from, to - from) : "";
        ASSERT_EQ(std::string(a.c_str(), a.GetLength()), expected);
        break;
      }
      case 6: {
        std::string lit = data.substr(pos < data.size() ? pos : data.size(), rng() % 6);
        if (rng() % 2 && !lit.empty()) lit.back() = static_cast<char>(lit.back() ^ 1);
        if (lit.find('\0') != std::string::npos) break;
        ASSERT_EQ(mem.Match(lit.c_str()) != 0, str.Match(lit.c_str()) != 0);
        break;
      }
      default: {  // read on to the end and check it stays there
        if (rng() % 8 != 0) break;
        int c;
        while ((c = mem.GetChar()) != -1) ASSERT_EQ(str.GetChar(), c);
        ASSERT_EQ(str.GetChar(), -1);
        ASSERT_EQ(str.GetChar(), -1);
        ASSERT_EQ(mem.GetPos(), data.size());
        break;
      }
    }
  }
}

TEST(StreamReader, BothFormsAgreeAcrossWindowSeams) {
  struct Case {
    size_t size;
    ULONG maxRead;  // the stream hands out at most this much per Read
  } cases[] = {{0, 0xFFFFFFFFu}, {1, 0xFFFFFFFFu}, {4095, 0xFFFFFFFFu}, {4096, 0xFFFFFFFFu},
               {4097, 0xFFFFFFFFu}, {8192, 1000}, {20000, 0xFFFFFFFFu}, {20000, 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.size << " bytes, reads of " << c.maxRead);
    std::string data = Data(c.size);
    CStreamReader mem(reinterpret_cast<const unsigned char*>(data.data()), static_cast<ULONG>(data.size()));
    CTestStream* fake = CTestStream::New(data);
    fake->maxChunk = c.maxRead;
    CStreamReader str(fake, CStreamReader::NO_LIMIT);
    CompareForms(data, mem, str, 0, 3000, static_cast<unsigned>(c.size + c.maxRead));
  }
}

// Reading a whole text window by window (Window, Skip and GetChar where a
// window ends) gives its bytes in both forms; InWindow answers only for
// ranges inside the current window.
TEST(StreamReader, WindowsGiveTheBytesInBulk) {
  const std::string data = Data(10000);
  CStreamReader mem(reinterpret_cast<const unsigned char*>(data.data()), static_cast<ULONG>(data.size()));
  CTestStream* fake = CTestStream::New(data);
  fake->maxChunk = 1000;
  CStreamReader str(fake, CStreamReader::NO_LIMIT);
  for (CStreamReader* r : {&mem, &str}) {
    std::string got;
    for (;;) {
      ULONG n = 0;
      const BYTE* p = r->Window(&n);
      got.append(reinterpret_cast<const char*>(p), n / 2);  // half of it in bulk
      r->Skip(n / 2);
      int c = r->GetChar();
      if (c < 0) break;
      got += static_cast<char>(c);
    }
    EXPECT_EQ(got, data);
    EXPECT_EQ(r->GetPos(), 10000u);
  }
  // The stream form holds positions 8192 to 9999 now.
  EXPECT_EQ(str.InWindow(8000, 8200), nullptr);
  EXPECT_EQ(str.InWindow(9990, 10001), nullptr);
  EXPECT_EQ(str.InWindow(9000, 9000), nullptr);
  const BYTE* in = str.InWindow(9000, 10000);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(in), 1000), data.substr(9000));
  ASSERT_NE(mem.InWindow(0, 10000), nullptr);
  ULONG left = 7;
  mem.Window(&left);
  EXPECT_EQ(left, 0u);  // at the end: nothing
}

TEST(StreamReader, StreamFormStartsAtTheStreamsPositionAndKeepsItsLimit) {
  std::string data = Data(10000);
  std::string prefix(123, 'P');
  IStream* s = nullptr;
  ASSERT_EQ(CTstringAsIStream::CreateStreamOnTSTRING(TSTRING((prefix + data + "TRAILER").c_str(),
                                                             static_cast<int>(prefix.size() + data.size() + 7)),
                                                     &s),
            S_OK);
  s->Seek(Move(123), STREAM_SEEK_SET, nullptr);
  CStreamReader mem(reinterpret_cast<const unsigned char*>(data.data()), static_cast<ULONG>(data.size()));
  CStreamReader str(s, static_cast<ULONG>(data.size()));  // the trailer lies outside the range
  s->Release();  // the reader keeps its own reference
  EXPECT_EQ(str.GetPos(), 123u);
  EXPECT_EQ(str.SetPos(0), 123u);  // before the range: ignored
  CompareForms(data, mem, str, 123, 3000, 77);
  TSTRING tail;
  ASSERT_EQ(str.ReadData(123 + 9990, 123 + 10007, tail), S_OK);
  EXPECT_EQ(std::string(tail.c_str(), tail.GetLength()), data.substr(9990));
}

TEST(StreamReader, MatchAndPutBackAtTheEdges) {
  const char* text = "From: a\r\n";
  for (int form = 0; form < 2; ++form) {
    SCOPED_TRACE(form);
    CTestStream* fake = CTestStream::New(text);
    CStreamReader mem(reinterpret_cast<const unsigned char*>(text), 9);
    CStreamReader str(fake, CStreamReader::NO_LIMIT);
    CStreamReader& r = form ? str : mem;
    r.PutBackChar();  // nothing at the start
    EXPECT_EQ(r.GetPos(), 0u);
    EXPECT_TRUE(r.Match(""));
    EXPECT_FALSE(r.Match("Fromm"));
    EXPECT_EQ(r.GetPos(), 0u);
    EXPECT_TRUE(r.Match("From:"));
    EXPECT_EQ(r.GetPos(), 5u);
    EXPECT_EQ(r.CheckChar(), ' ');
    EXPECT_EQ(r.GetPos(), 5u);
    EXPECT_FALSE(r.Match(" a\r\n\r\n"));  // runs past the end: nothing consumed
    EXPECT_EQ(r.GetPos(), 5u);
    EXPECT_TRUE(r.Match(" a\r\n"));
    EXPECT_EQ(r.GetChar(), -1);
    EXPECT_EQ(r.GetPos(), 9u);
    r.PutBackChar();
    EXPECT_EQ(r.GetChar(), '\n');
    EXPECT_EQ(r.SetPos(100), 9u);  // past the end: ignored
    EXPECT_EQ(r.SetPos(9), 9u);   // the end itself is a position
  }
  CStreamReader empty(static_cast<const unsigned char*>(nullptr), 5);  // a null block is empty
  EXPECT_EQ(empty.GetChar(), -1);
}

TEST(StreamReader, StreamFailuresAreThrownAsCodes) {
  try {
    CStreamReader r(static_cast<IStream*>(nullptr), 10);
    ADD_FAILURE() << "no throw";
  } catch (DWORD code) {
    EXPECT_EQ(code, static_cast<DWORD>(E_POINTER));
  }
  CTestStream* seekless = CTestStream::New("x");
  seekless->AddRef();
  seekless->seeksUntilFailure = 0;
  seekless->failure = E_ACCESSDENIED;
  try {
    CStreamReader r(seekless, 10);
    ADD_FAILURE() << "no throw";
  } catch (DWORD code) {
    EXPECT_EQ(code, static_cast<DWORD>(E_ACCESSDENIED));
  }
  seekless->Release();

  std::string data = Data(10000);
  CTestStream* fake = CTestStream::New(data);
  CStreamReader r(fake, CStreamReader::NO_LIMIT);
  for (int i = 0; i < 5000; ++i) r.GetChar();  // into the second window
  fake->readsUntilFailure = 0;
  fake->failure = E_FAIL;
  try {
    r.SetPos(10);  // back into the first window: needs a read
    ADD_FAILURE() << "no throw";
  } catch (DWORD code) {
    EXPECT_EQ(code, static_cast<DWORD>(E_FAIL));
  }
  TSTRING out("stale");
  EXPECT_EQ(r.ReadData(0, 100, out), E_FAIL);  // reported, not thrown
  EXPECT_TRUE(out.IsEmpty());
  fake->readsUntilFailure = -1;
  EXPECT_EQ(r.SetPos(10), 10u);  // recovers once the stream does
  EXPECT_EQ(r.GetChar(), static_cast<BYTE>(data[10]));
}

}  // namespace
