// The parameter token: its plain form opened with the cipher directly, round
// trips, the results for damaged tokens, the list-text reader's table, and
// that the host's C library generator is left alone.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "foundation/rc5cbc64.h"
#include "mime/paramtoken.h"
#include "mime/rfc2047text.h"
#include "mimetestutil.h"

using namespace telsor;
using mime_test::Show;
using mime_test::Str;

namespace {

typedef std::vector<std::pair<std::string, std::string>> Pairs;

CRfc2045ParameterList* MakeList(const Pairs& pairs) {
  auto* list = new CRfc2045ParameterList(10);
  for (const auto& p : pairs) {
    TSTRING a(p.first), v(p.second);
    CRfc2045Parameter param(a, v);
    list->AddTail(param);
  }
  return list;
}

Pairs ToPairs(const CRfc2045ParameterList& list) {
  Pairs out;
  for (void* pos = list.GetHeadPosition(); pos != nullptr;) {
    const CRfc2045Parameter& p = list.GetNext(pos);
    out.emplace_back(Str(p.GetAttribute()), Str(p.GetValue()));
  }
  return out;
}

TSTRING Encrypt(const Pairs& pairs, const std::string& key) {
  std::unique_ptr<CRfc2045ParameterList> list(MakeList(pairs));
  return EncryptParameters(*list, TSTRING(key));
}

DWORD Decrypt(const std::string& token, const std::string& key, Pairs* out) {
  CRfc2045ParameterList list(10);
  DWORD r = DecryptParameters(TSTRING(token), TSTRING(key), list);
  *out = ToPairs(list);
  return r;
}

// The plain token, opened with the cipher and Base64 directly.
std::string Open(const TSTRING& token, const std::string& key) {
  TSTRING sealed;
  EXPECT_EQ(BWordDecode(sealed, token), S_OK);
  CRC5_CBC64 cipher(20, 9, reinterpret_cast<const unsigned char*>("K47PZ318M"));
  cipher.SetKey(static_cast<ULONG>(key.size()), reinterpret_cast<const unsigned char*>(key.data()));
  std::string plain(static_cast<size_t>(sealed.GetLength()), '\0');
  ULONG n = 0;
  EXPECT_EQ(cipher.Decrypt(reinterpret_cast<const unsigned char*>(sealed.c_str()), static_cast<ULONG>(sealed.GetLength()),
                           reinterpret_cast<unsigned char*>(&plain[0]), static_cast<ULONG>(plain.size()), &n, 1),
            0u);
  plain.resize(n);
  return plain;
}

// CRC-16/XMODEM, bit by bit.
WORD Xmodem(const std::string& s) {
  WORD crc = 0;
  for (unsigned char c : s) {
    crc ^= static_cast<WORD>(c << 8);
    for (int i = 0; i < 8; ++i) crc = static_cast<WORD>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

unsigned Le(const std::string& s, size_t at, size_t n) {
  unsigned v = 0;
  for (size_t i = 0; i < n; ++i) v |= static_cast<unsigned>(static_cast<unsigned char>(s[at + i])) << (8 * i);
  return v;
}

TEST(ParamToken, PlainForm) {
  const std::string key = "secret key";
  TSTRING token = Encrypt({{"a", "x\"y\\z"}, {"name", "value"}}, key);
  std::string plain = Open(token, key);
  const std::string text = "a=\"x\\\"y\\\\z\";name=\"value\";";
  ASSERT_EQ(plain.size(), 10 + text.size());
  EXPECT_EQ(plain.substr(10), text);
  EXPECT_EQ(Le(plain, 6, 4), plain.size());
  EXPECT_EQ(Le(plain, 0, 2), Xmodem(plain.substr(2)));
  // Base64 on one line, "=" padded, of a whole number of 8-byte blocks.
  EXPECT_EQ(Str(token).find_first_of("\r\n "), std::string::npos);
  EXPECT_EQ(token.GetLength() % 4, 0);
}

TEST(ParamToken, EmptyList) {
  TSTRING token = Encrypt({}, "k");
  EXPECT_EQ(token.GetLength(), 24);  // 10 plain bytes, one 16-byte ciphertext
  EXPECT_EQ(Open(token, "k").size(), 10u);
  Pairs out;
  EXPECT_EQ(Decrypt(Str(token), "k", &out), 0u);
  EXPECT_TRUE(out.empty());
}

// The random words are the first two of the C library's generator seeded
// with the time in seconds, drawn from a private state: the host's own
// sequence goes on undisturbed.
TEST(ParamToken, RandomWordsLeaveTheHostsGeneratorAlone) {
  srand(4242);
  const int expected[3] = {rand(), rand(), rand()};
  srand(4242);
  std::string plain;
  time_t before, after;
  do {
    before = time(nullptr);
    EXPECT_EQ(rand(), expected[0]);
    plain = Open(Encrypt({{"a", "b"}}, "key"), "key");
    after = time(nullptr);
  } while (before != after);
  EXPECT_EQ(rand(), expected[1]);
  EXPECT_EQ(rand(), expected[2]);
  // The same words as rand() gives after srand(time).
  srand(static_cast<unsigned>(before));
  const unsigned first = static_cast<unsigned>(rand()) & 0xFFFF;
  const unsigned second = static_cast<unsigned>(rand()) & 0xFFFF;
  EXPECT_EQ(Le(plain, 2, 2), first);
  EXPECT_EQ(Le(plain, 4, 2), second);
}

TEST(ParamToken, SameSecondSameToken) {
  for (;;) {
    time_t before = time(nullptr);
    TSTRING a = Encrypt({{"user", "jane"}}, "k");
    TSTRING b = Encrypt({{"user", "jane"}}, "k");
    if (time(nullptr) != before) continue;
    EXPECT_EQ(Str(a), Str(b));
    break;
  }
}

TEST(ParamToken, RoundTrips) {
  std::mt19937 rng(21);
  static const char kValueChars[] = "ab\"\\;= \t\r\nZ\x01\x80\xff";
  for (int round = 0; round < 200; ++round) {
    Pairs pairs;
    const int count = static_cast<int>(rng() % 6);
    for (int i = 0; i < count; ++i) {
      std::string attribute(1 + rng() % 8, 'a');
      for (auto& c : attribute) c = static_cast<char>('a' + rng() % 26);
      std::string value(rng() % 40, 'v');
      for (auto& c : value) c = kValueChars[rng() % (sizeof kValueChars - 1)];
      if (rng() % 5 == 0) value += std::string(1, '\0') + "after NUL";
      pairs.emplace_back(attribute, value);
    }
    std::string key(rng() % 300, 'k');
    for (auto& c : key) c = static_cast<char>(rng());
    std::string token = Str(Encrypt(pairs, key));
    Pairs out;
    ASSERT_EQ(Decrypt(token, key, &out), 0u);
    ASSERT_EQ(out, pairs) << round;
  }
}

TEST(ParamToken, AppendsAfterWhatIsThere) {
  std::string token = Str(Encrypt({{"b", "2"}}, "k"));
  CRfc2045ParameterList list(10);
  CRfc2045Parameter first("a", "1");
  list.AddTail(first);
  EXPECT_EQ(DecryptParameters(TSTRING(token), TSTRING("k"), list), 0u);
  EXPECT_EQ(ToPairs(list), (Pairs{{"a", "1"}, {"b", "2"}}));
}

TEST(ParamToken, WhiteSpaceInTheToken) {
  const Pairs pairs = {{"user", "jane"}, {"domain", "example.org"}};
  const std::string token = Str(Encrypt(pairs, "k"));
  std::string spaced;
  for (size_t i = 0; i < token.size(); ++i) {
    spaced += token[i];
    if (i % 5 == 0) spaced += " \r\n\t"[i % 4];
  }
  Pairs out;
  EXPECT_EQ(Decrypt("\r\n " + spaced + "\r\n", "k", &out), 0u);
  EXPECT_EQ(out, pairs);
  CRfc2045ParameterList list(10);
  CRfc2045Parameter kept("kept", "1");
  list.AddTail(kept);
  EXPECT_EQ(DecryptParameters(TSTRING(" \t\r\n "), TSTRING("k"), list), 0u);
  EXPECT_EQ(ToPairs(list), (Pairs{{"kept", "1"}}));
}

TEST(ParamToken, DamagedTokens) {
  const Pairs pairs = {{"user", "jane"}};
  const std::string token = Str(Encrypt(pairs, "right key"));
  Pairs out;
  EXPECT_EQ(Decrypt(token, "wrong key", &out), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_TRUE(out.empty());
  // Base64 of 12 bytes: not whole blocks.
  EXPECT_EQ(Decrypt("QUJDREVGR0hJSktM", "k", &out), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // Base64 of nothing.
  EXPECT_EQ(Decrypt("====", "k", &out), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_EQ(Decrypt("!!!!", "k", &out), static_cast<DWORD>(ERROR_INVALID_DATA));
  // Every ciphertext byte changed in turn.
  TSTRING sealed;
  EXPECT_EQ(BWordDecode(sealed, TSTRING(token)), S_OK);
  for (int i = 0; i < sealed.GetLength(); ++i) {
    for (int bit : {0, 7}) {
      std::string bytes = Str(sealed);
      bytes[static_cast<size_t>(i)] = static_cast<char>(bytes[static_cast<size_t>(i)] ^ (1 << bit));
      TSTRING bad;
      EXPECT_EQ(BWordEncode(bad, TSTRING(bytes)), S_OK);
      EXPECT_EQ(Decrypt(Str(bad), "right key", &out), static_cast<DWORD>(ERROR_INVALID_DATA)) << i;
      EXPECT_TRUE(out.empty());
    }
  }
  // A plain token whose length field or CRC is wrong, sealed properly.
  for (int damage = 0; damage < 2; ++damage) {
    std::string plain = Open(TSTRING(token), "right key");
    plain[damage == 0 ? 6 : 0] = static_cast<char>(plain[damage == 0 ? 6 : 0] + 1);
    CRC5_CBC64 cipher(20, 9, reinterpret_cast<const unsigned char*>("K47PZ318M"));
    cipher.SetKey(9, reinterpret_cast<const unsigned char*>("right key"));
    std::string out2(plain.size() + 8, '\0');
    ULONG n = 0;
    cipher.Encrypt(reinterpret_cast<const unsigned char*>(plain.data()), static_cast<ULONG>(plain.size()),
                   reinterpret_cast<unsigned char*>(&out2[0]), static_cast<ULONG>(out2.size()), &n, 1);
    out2.resize(n);
    TSTRING resealed;
    EXPECT_EQ(BWordEncode(resealed, TSTRING(out2)), S_OK);
    EXPECT_EQ(Decrypt(Str(resealed), "right key", &out), static_cast<DWORD>(ERROR_INVALID_DATA)) << damage;
  }
}

// Keys: every byte counts (NUL bytes too), up to the cipher's 255.
TEST(ParamToken, Keys) {
  const std::string token = Str(Encrypt({{"a", "b"}}, std::string("k\0y", 3)));
  Pairs out;
  EXPECT_EQ(Decrypt(token, "k", &out), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_EQ(Decrypt(token, std::string("k\0y", 3), &out), 0u);
  const std::string longKey(255, 'L');
  const std::string longToken = Str(Encrypt({{"a", "b"}}, longKey + "tail"));
  EXPECT_EQ(Decrypt(longToken, longKey, &out), 0u);
}

TEST(ParamToken, ListTextTable) {
  struct {
    std::string text;
    Pairs params;
  } rows[] = {
      {"a=b;c=\"d\"", {{"a", "b"}, {"c", "d"}}},
      {"a=b", {{"a", "b"}}},
      {"a=\"b", {{"a", "b"}}},
      {"a b=c", {{"a", "c"}}},
      {" a=b;", {{"", "b"}}},
      {"a=\"x\"junk;d=e", {{"a", "x"}, {"d", "e"}}},
      {"a=b\\;c;", {{"a", "b;c"}}},
      {"a=\"x\\\"y\\\\z\";", {{"a", "x\"y\\z"}}},
      {"a=  b c ;", {{"a", "b c "}}},
      {"a=\\\"b;", {{"a", "\"b"}}},
      {"a=\\", {{"a", ""}}},   // a final backslash before the value is skipped
      {"a=b\\", {{"a", "b\\"}}},
      {"a", {}},
      {"a ", {{"a", ""}}},
      {"a=", {{"a", ""}}},
      {"=b;", {{"", "b"}}},
      {"a=b;  c = \"d\" ; e=f", {{"a", "b"}, {"c", "d"}, {"e", "f"}}},
      {"", {}},
  };
  for (const auto& row : rows) {
    CRfc2045ParameterList list(10);
    ParseListParameters(TSTRING(row.text), list);
    EXPECT_EQ(ToPairs(list), row.params) << Show(row.text);
  }
}

}  // namespace
