// The string stream and the memory-handle stream, against a std::string
// model of the same operations.
#include <gtest/gtest.h>

#include <stdio.h>

#include <random>
#include <string>

#include "foundation/globalmem.h"
#include "foundation/hglobalstream.h"
#include "foundation/tstringasistream.h"
#include "streamtestutil.h"

using namespace telsor;
using namespace telsor_test;

namespace {

std::string Contents(IStream* s) {
  ULONGLONG pos = PosOf(s);
  s->Seek(Move(0), STREAM_SEEK_SET, nullptr);
  std::string out;
  char buf[256];
  ULONG got = 0;
  do {
    got = 0;
    if (FAILED(s->Read(buf, sizeof buf, &got))) break;
    out.append(buf, got);
  } while (got > 0);
  s->Seek(Move(static_cast<LONGLONG>(pos)), STREAM_SEEK_SET, nullptr);
  return out;
}

IStream* OverText(const TSTRING& text) {
  IStream* s = nullptr;
  EXPECT_EQ(CTstringAsIStream::CreateStreamOnTSTRING(text, &s), S_OK);
  return s;
}

TEST(StringStream, WriteEndsTheTextAndCopyOntoItselfAppends) {
  TSTRING original("abcdef");
  IStream* s = OverText(original);
  ASSERT_EQ(s->Seek(Move(4), STREAM_SEEK_SET, nullptr), S_OK);
  ASSERT_EQ(s->Write("XY", 2, nullptr), S_OK);
  EXPECT_EQ(Contents(s), "abcdXY");
  ASSERT_EQ(s->Seek(Move(2), STREAM_SEEK_SET, nullptr), S_OK);
  ASSERT_EQ(s->Write("Z", 1, nullptr), S_OK);
  EXPECT_EQ(Contents(s), "abZ");
  EXPECT_STREQ(original.c_str(), "abcdef");  // the caller's string never changes
  s->Release();

  // CopyTo onto itself: "ab", count 2 gives "abab", position 4, read and written 2.
  s = OverText("ab");
  ULARGE_INTEGER read, written;
  ASSERT_EQ(s->CopyTo(s, Size(2), &read, &written), S_OK);
  EXPECT_EQ(read.QuadPart, 2u);
  EXPECT_EQ(written.QuadPart, 2u);
  EXPECT_EQ(PosOf(s), 4u);
  EXPECT_EQ(Contents(s), "abab");
  // From the middle, asking for more than there is: the 3 bytes "bab" at 1
  // are doubled there.
  s->Seek(Move(1), STREAM_SEEK_SET, nullptr);
  ASSERT_EQ(s->CopyTo(s, Size(100), &read, &written), S_OK);
  EXPECT_EQ(read.QuadPart, 3u);
  EXPECT_EQ(written.QuadPart, 3u);
  EXPECT_EQ(Contents(s), "ababbab");
  EXPECT_EQ(PosOf(s), 7u);
  s->Release();
}

// Random reads, writes, seeks and size changes on the stream and on a
// std::string model must agree byte for byte.
TEST(StringStream, AgreesWithAStringModel) {
  std::mt19937 rng(1234);
  IStream* s = OverText("seed text");
  std::string model = "seed text";
  ULONGLONG pos = 0;
  for (int step = 0; step < 4000; ++step) {
    int op = static_cast<int>(rng() % 4);
    if (op == 0) {
      ULONG n = rng() % 40;
      std::string buf(n, '?');
      ULONG got = 999;
      HRESULT hr = s->Read(&buf[0], n, &got);
      ULONG want = pos >= model.size() ? 0 : static_cast<ULONG>(std::min<ULONGLONG>(n, model.size() - pos));
      ASSERT_EQ(got, want);
      ASSERT_EQ(hr, want == n ? S_OK : S_FALSE);
      ASSERT_EQ(buf.substr(0, got), model.substr(pos < model.size() ? pos : model.size(), got));
      pos += got;
    } else if (op == 1) {
      ULONG n = rng() % 30;
      std::string data(n, '\0');
      for (char& c : data) c = static_cast<char>('a' + rng() % 26);
      ULONG put = 999;
      ASSERT_EQ(s->Write(data.data(), n, &put), S_OK);
      ASSERT_EQ(put, n);
      if (model.size() < pos) model.resize(pos, '\0');  // the gap reads as zeros
      model = model.substr(0, pos) + data;
      pos += n;
    } else if (op == 2) {
      LONGLONG move = static_cast<LONGLONG>(rng() % 200) - 100;
      DWORD origin = rng() % 3;
      ULARGE_INTEGER at;
      ASSERT_EQ(s->Seek(Move(move), origin, &at), S_OK);
      LONGLONG base = origin == 1 ? static_cast<LONGLONG>(pos) : origin == 2 ? static_cast<LONGLONG>(model.size()) : 0;
      if (origin == 0) {
        pos = static_cast<ULONGLONG>(static_cast<uint32_t>(move));
      } else {
        pos = base + move < 0 ? 0 : static_cast<ULONGLONG>(base + move);
      }
      if (pos > 100000) pos = 0, s->Seek(Move(0), STREAM_SEEK_SET, nullptr);
      else ASSERT_EQ(at.QuadPart, pos);
    } else {
      ULONG size = rng() % 300;
      ASSERT_EQ(s->SetSize(Size(size)), S_OK);
      model.resize(size, '\0');
    }
    ASSERT_EQ(PosOf(s), pos);
  }
  EXPECT_EQ(Contents(s), model);
  s->Release();
}

TEST(StringStream, RefusesToGrowPastTheLargestString) {
  IStream* s = OverText("abcdef");
  struct Case {
    LONGLONG at;
    ULONG count;
    HRESULT hr;
  } cases[] = {
      {4294967295ll, 2, E_OUTOFMEMORY},  // a seek to -1 read as 32 bits, then a write
      {0x7FFFFFFFll, 1, E_OUTOFMEMORY},
      {0x7FFFFFFEll, 2, E_OUTOFMEMORY},
      {0, 0xFFFFFFFFu, E_OUTOFMEMORY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.at);
    s->Seek(Move(c.at), STREAM_SEEK_SET, nullptr);
    ULONG done = 5;
    std::string data(8, 'x');
    EXPECT_EQ(static_cast<DWORD>(s->Write(data.data(), c.count, &done)), static_cast<DWORD>(c.hr));
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(PosOf(s), static_cast<ULONGLONG>(c.at));
    EXPECT_EQ(Contents(s), "abcdef");
  }
  EXPECT_EQ(s->SetSize(Size(0x80000000ull)), E_OUTOFMEMORY);
  EXPECT_EQ(s->SetSize(Size(1ull << 32)), E_OUTOFMEMORY);
  EXPECT_EQ(Contents(s), "abcdef");
  s->Release();
}

TEST(HGlobalStream, SeekPastEndWriteSeekBackOverwrite) {
  IStream* s = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, FALSE, &s), S_OK);
  // The compiled-script writer: leave room for a length, write the body,
  // go back and fill the length in.
  ASSERT_EQ(s->Seek(Move(4), STREAM_SEEK_SET, nullptr), S_OK);
  ASSERT_EQ(s->Write("body of the script", 18, nullptr), S_OK);
  ULARGE_INTEGER end;
  ASSERT_EQ(s->Seek(Move(0), STREAM_SEEK_CUR, &end), S_OK);
  EXPECT_EQ(end.QuadPart, 22u);
  ASSERT_EQ(s->Seek(Move(0), STREAM_SEEK_SET, nullptr), S_OK);
  ASSERT_EQ(s->Write("\x12\0\0\0", 4, nullptr), S_OK);
  EXPECT_EQ(Contents(s), std::string("\x12\0\0\0body of the script", 22));
  HGLOBAL h = nullptr;
  ASSERT_EQ(GetHGlobalFromStream(s, &h), S_OK);
  ASSERT_GE(GlobalSize(h), 22u);
  const char* p = static_cast<const char*>(GlobalLock(h));
  EXPECT_EQ(std::string(p, 22), std::string("\x12\0\0\0body of the script", 22));
  GlobalUnlock(h);
  EXPECT_EQ(s->Release(), 0u);
  EXPECT_EQ(GlobalSize(h), GlobalSize(h));  // still ours: not freed with the stream
  EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(HGlobalStream, OverAnExistingBlockAndAgainstAModel) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 5);
  memcpy(GlobalLock(h), "hello", 5);
  GlobalUnlock(h);
  IStream* s = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(h, TRUE, &s), S_OK);
  EXPECT_EQ(Contents(s), "hello");
  std::string model = "hello";
  std::mt19937 rng(99);
  ULONGLONG pos = 0;
  for (int step = 0; step < 3000; ++step) {
    int op = static_cast<int>(rng() % 3);
    if (op == 0) {
      ULONG n = rng() % 50;
      std::string data(n, static_cast<char>('A' + step % 26));
      ASSERT_EQ(s->Write(data.data(), n, nullptr), S_OK);
      if (n > 0) {
        if (model.size() < pos + n) model.resize(pos + n, '\0');
        model.replace(pos, n, data);
        pos += n;
      }
    } else if (op == 1) {
      LONGLONG to = static_cast<LONGLONG>(rng() % (model.size() + 20));
      ASSERT_EQ(s->Seek(Move(to), STREAM_SEEK_SET, nullptr), S_OK);
      pos = static_cast<ULONGLONG>(to);
    } else {
      ULONG size = rng() % (model.size() + 10);
      ASSERT_EQ(s->SetSize(Size(size)), S_OK);
      model.resize(size, '\0');
    }
  }
  EXPECT_EQ(Contents(s), model);
  STATSTG st;
  ASSERT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(st.cbSize.QuadPart, model.size());
  s->Release();  // frees the block
}

}  // namespace
