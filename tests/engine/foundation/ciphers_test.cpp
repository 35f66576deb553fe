// RC5-CBC against the published vectors, PKCS#5 lengths and result codes;
// the position-byte cipher stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "common/teststream.h"
#include "foundation/fileasistream.h"
#include "foundation/rc5cbc64.h"
#include "foundation/simplecipher.h"
#include "foundation/tstringasistream.h"
#include "streamtestutil.h"

using namespace telsor;
using namespace telsor_test;

namespace {

std::vector<BYTE> Hex(const char* hex) {
  std::vector<BYTE> out;
  for (const char* p = hex; p[0] && p[1]; p += 2) out.push_back(static_cast<BYTE>(std::stoi(std::string(p, 2), nullptr, 16)));
  return out;
}

// The vectors of the RC5 paper (RC5-32/12/16), each block's cipher text the
// next one's plain text.
TEST(RC5, PublishedVectors) {
  struct Case {
    const char* key;
    const char* plain;
    const char* cipher;
  } cases[] = {
      {"00000000000000000000000000000000", "0000000000000000", "21a5dbee154b8f6d"},
      {"915f4619be41b2516355a50110a9ce91", "21a5dbee154b8f6d", "f7c013ac5b2b8952"},
      {"783348e75aeb0f2fd7b169bb8dc16787", "f7c013ac5b2b8952", "2f42b3b70369fc92"},
      {"dc49db1375a5584f6485b413b5f12baf", "2f42b3b70369fc92", "65c178b284d197cc"},
      {"5269f149d41ba0152497574d7f153125", "65c178b284d197cc", "eb44e415da319824"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    std::vector<BYTE> key = Hex(c.key), plain = Hex(c.plain), expected = Hex(c.cipher);
    CRC5_CBC64 rc5(12, 0, nullptr);  // zero vector: the first CBC block is plain RC5
    EXPECT_EQ(rc5.SetKey(static_cast<ULONG>(key.size()), key.data()), 1);
    BYTE out[8];
    ULONG n = 0;
    ASSERT_EQ(rc5.Encrypt(plain.data(), 8, out, sizeof out, &n, 0), 0u);
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(std::vector<BYTE>(out, out + 8), expected);
    BYTE back[8];
    ASSERT_EQ(rc5.Decrypt(out, 8, back, sizeof back, &n, 0), 0u);
    EXPECT_EQ(std::vector<BYTE>(back, back + 8), plain);
  }
  // The vector enters the first block: with IV = P the first block enciphers 0.
  std::vector<BYTE> iv = Hex("21a5dbee154b8f6d"), zeroKey(16, 0);
  CRC5_CBC64 chained(12, 8, iv.data());
  chained.SetKey(16, zeroKey.data());
  BYTE out[16];
  ULONG n = 0;
  ASSERT_EQ(chained.Encrypt(iv.data(), 8, out, sizeof out, &n, 0), 0u);
  EXPECT_EQ(std::vector<BYTE>(out, out + 8), Hex("21a5dbee154b8f6d"));
}

TEST(RC5, PaddingLengthsAndResultCodes) {
  std::vector<BYTE> key = Hex("0123456789abcdef0123456789abcdef");
  CRC5_CBC64 rc5(12, 8, key.data());
  rc5.SetKey(16, key.data());
  std::vector<BYTE> in(64, 0x3C);
  struct Case {
    ULONG length;
    int padding;
    ULONG capacity;
    bool nullOut;
    DWORD result;
    ULONG reported;
  } cases[] = {
      {7, 1, 64, false, 0, 8},   {8, 1, 64, false, 0, 16},  {0, 1, 64, false, 0, 8},
      {15, 1, 64, false, 0, 16}, {16, 1, 64, false, 0, 24}, {7, 1, 7, false, 122, 8},
      {8, 1, 8, false, 122, 16}, {8, 1, 64, true, 122, 16}, {7, 0, 64, false, 87, 999},
      {16, 0, 64, false, 0, 16}, {16, 0, 8, false, 122, 16}, {0, 0, 64, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.length << " pad " << c.padding << " cap " << c.capacity);
    std::vector<BYTE> out(64, 0);
    ULONG n = 999;
    EXPECT_EQ(rc5.Encrypt(in.data(), c.length, c.nullOut ? nullptr : out.data(), c.capacity, &n, c.padding),
              c.result);
    EXPECT_EQ(n, c.reported);
    if (c.result != 0) continue;
    std::vector<BYTE> back(64, 0);
    ULONG m = 0;
    ASSERT_EQ(rc5.Decrypt(out.data(), n, back.data(), 64, &m, c.padding), 0u);
    EXPECT_EQ(m, c.length);
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + m, in.begin()));
    if (c.padding) {
      EXPECT_EQ(back[n - 1], n - c.length);  // PKCS#5: p bytes of value p
    }
  }
  // Decryption's own codes.
  std::vector<BYTE> out(64);
  ULONG n = 0;
  ASSERT_EQ(rc5.Encrypt(in.data(), 13, out.data(), 64, &n, 1), 0u);
  ULONG m = 0;
  std::vector<BYTE> back(64);
  EXPECT_EQ(rc5.Decrypt(out.data(), 16, back.data(), 8, &m, 1), 122u);
  EXPECT_EQ(m, 16u);
  EXPECT_EQ(rc5.Decrypt(out.data(), 12, back.data(), 64, &m, 1), 87u);
  EXPECT_EQ(rc5.Decrypt(out.data(), 0, back.data(), 64, &m, 1), 0u);
  EXPECT_EQ(m, 0u);
  // A tampered last block: the padding no longer checks out.
  int bad = 0;
  for (int i = 0; i < 256; ++i) {
    std::vector<BYTE> t = out;
    t[15] = static_cast<BYTE>(i);
    if (rc5.Decrypt(t.data(), 16, back.data(), 64, &m, 1) == 13) ++bad;
  }
  EXPECT_GT(bad, 200);
  // Without padding the same bytes decrypt whole.
  EXPECT_EQ(rc5.Decrypt(out.data(), 16, back.data(), 64, &m, 0), 0u);
  EXPECT_EQ(m, 16u);
  EXPECT_EQ(back[15], 3);
}

TEST(RC5, RoundTripsAnyLengthInPlace) {
  std::mt19937 rng(5);
  for (ULONG rounds : {0u, 1u, 12u, 255u, 1000u}) {
    std::vector<BYTE> key(rng() % 40), iv(rng() % 12);
    for (BYTE& b : key) b = static_cast<BYTE>(rng());
    for (BYTE& b : iv) b = static_cast<BYTE>(rng());
    CRC5_CBC64 rc5(rounds, static_cast<ULONG>(iv.size()), iv.data());
    rc5.SetKey(static_cast<ULONG>(key.size()), key.data());
    for (ULONG len = 0; len < 70; ++len) {
      std::vector<BYTE> data(len);
      for (BYTE& b : data) b = static_cast<BYTE>(rng());
      std::vector<BYTE> buf = data;
      buf.resize(len + 8);
      ULONG n = 0;
      ASSERT_EQ(rc5.Encrypt(buf.data(), len, buf.data(), static_cast<ULONG>(buf.size()), &n, 1), 0u);
      if (len >= 8) {
        EXPECT_FALSE(std::equal(data.begin(), data.begin() + 8, buf.begin()));
      }
      ULONG m = 0;
      ASSERT_EQ(rc5.Decrypt(buf.data(), n, buf.data(), n, &m, 1), 0u);
      ASSERT_EQ(m, len);
      EXPECT_TRUE(std::equal(data.begin(), data.end(), buf.begin()));
    }
  }
}

TEST(SimpleCipher, MagicWordsNeverLookPlainOrCompressed) {
  const char* magics[] = {"SCA", "SVM"};
  for (const char* m : magics) {
    std::string stored;
    for (int i = 0; i < 4; ++i) stored += static_cast<char>(CSimpleCipher::Encipher(static_cast<BYTE>(m[i]), i));
    EXPECT_NE(stored, std::string("SCA\0", 4));
    EXPECT_NE(stored, std::string("SVM\0", 4));
    EXPECT_NE(stored, "TLGZ");
  }
  // A bijection at every position.
  for (ULONGLONG pos : {0ull, 1ull, 4095ull, 4096ull, 123456789ull, ~0ull}) {
    std::vector<bool> hit(256, false);
    for (int b = 0; b < 256; ++b) {
      BYTE e = CSimpleCipher::Encipher(static_cast<BYTE>(b), pos);
      EXPECT_FALSE(hit[e]);
      hit[e] = true;
      EXPECT_EQ(CSimpleCipher::Decipher(e, pos), b);
    }
  }
}

// Writes through the cipher at random positions of a file and of a string
// stream, then reads back at other random positions: the plain bytes come
// back, and the stored bytes are the transform of the plain ones.
TEST(SimpleCipher, RoundTripsAtArbitraryPositions) {
  TempDir dir;
  IStream* file = nullptr;
  ASSERT_EQ(CFileAsIStream::CreateStreamOnFile((dir / "enc").c_str(), GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW,
                                               &file),
            S_OK);
  IStream* text = nullptr;
  ASSERT_EQ(CTstringAsIStream::CreateStreamOnTSTRING("", &text), S_OK);
  for (IStream* inner : {file, text}) {
    CSimpleCipher* cipher = new CSimpleCipher(inner);
    IStream* s = nullptr;
    ASSERT_EQ(cipher->QueryInterface(IID_IStream, reinterpret_cast<void**>(&s)), S_OK);
    std::string model;
    std::mt19937 rng(11);
    for (int step = 0; step < 400; ++step) {
      ULONGLONG at = rng() % (model.size() + 1);
      ASSERT_EQ(s->Seek(Move(static_cast<LONGLONG>(at)), STREAM_SEEK_SET, nullptr), S_OK);
      if (rng() % 2) {
        std::string data(rng() % 9000, '\0');
        for (char& c : data) c = static_cast<char>(rng());
        ULONG put = 0;
        ASSERT_EQ(s->Write(data.data(), static_cast<ULONG>(data.size()), &put), S_OK);
        ASSERT_EQ(put, data.size());
        if (model.size() < at + data.size()) model.resize(at + data.size());
        if (inner == text) model.resize(at + data.size());  // a string stream cuts after a write
        model.replace(at, data.size(), data);
      } else {
        std::string back(rng() % 9000, '\0');
        ULONG got = 0;
        ASSERT_TRUE(SUCCEEDED(s->Read(&back[0], static_cast<ULONG>(back.size()), &got)));
        ASSERT_EQ(got, std::min<ULONGLONG>(back.size(), model.size() - at));
        ASSERT_TRUE(back.substr(0, got) == model.substr(at, got)) << "at " << at;
      }
    }
    // Read back by 4 after reading 4: the readers' own seek back.
    s->Seek(Move(0), STREAM_SEEK_SET, nullptr);
    char head[4];
    ULONG got = 0;
    s->Read(head, 4, &got);
    s->Seek(Move(-4), STREAM_SEEK_CUR, nullptr);
    char again[4];
    s->Read(again, 4, &got);
    EXPECT_EQ(std::string(head, 4), std::string(again, 4));
    // The inner stream holds the transformed bytes.
    inner->Seek(Move(0), STREAM_SEEK_SET, nullptr);
    std::string stored(model.size(), '\0');
    inner->Read(&stored[0], static_cast<ULONG>(stored.size()), &got);
    ASSERT_EQ(got, model.size());
    for (size_t i = 0; i < model.size(); ++i) {
      ASSERT_EQ(static_cast<BYTE>(stored[i]), CSimpleCipher::Encipher(static_cast<BYTE>(model[i]), i)) << i;
    }
    s->Release();
  }
  EXPECT_EQ(file->Release(), 0u);
  EXPECT_EQ(text->Release(), 0u);
}

TEST(SimpleCipher, ShortInnerReadsAndFailuresPassThrough) {
  std::string plain = "the plain record bytes";
  std::string stored;
  for (size_t i = 0; i < plain.size(); ++i) stored += static_cast<char>(CSimpleCipher::Encipher(static_cast<BYTE>(plain[i]), i));
  CTestStream* inner = CTestStream::New(stored);
  inner->maxChunk = 5;
  inner->shortReadResult = S_OK;  // short reads not signalled, as the gzip stream's
  CSimpleCipher* cipher = new CSimpleCipher(inner);
  cipher->AddRef();
  std::string back;
  char buf[64];
  ULONG got = 0;
  do {
    ASSERT_EQ(cipher->Read(buf, sizeof buf, &got), S_OK);
    back.append(buf, got);
  } while (got > 0);
  EXPECT_EQ(back, plain);
  inner->readsUntilFailure = 0;
  inner->failure = E_OUTOFMEMORY;
  cipher->Seek(Move(0), STREAM_SEEK_SET, nullptr);
  EXPECT_EQ(cipher->Read(buf, 4, &got), E_OUTOFMEMORY);
  EXPECT_EQ(got, 0u);
  inner->readsUntilFailure = -1;
  ASSERT_EQ(cipher->Read(buf, 4, &got), S_OK);  // the position is asked for again
  EXPECT_EQ(std::string(buf, got), "the ");
  EXPECT_EQ(cipher->Release(), 0u);
}

}  // namespace
