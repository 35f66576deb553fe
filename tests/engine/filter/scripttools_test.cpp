// Script tools for hosts: compiled form in a string, enciphered scripts,
// memory blocks into strings.
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "foundation/errorroad.h"
#include "fakehost.h"
#include "filter/scripttools.h"
#include "foundation/globalmem.h"
#include "records.h"

using telsor::CSieveScript;
using telsor::TSTRING;

namespace {

std::string Bytes(const TSTRING& s) { return std::string(s.c_str(), static_cast<size_t>(s.GetLength())); }

std::string Hex(const TSTRING& s) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : Bytes(s)) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

TEST(SieveScriptTools, CompiledFormLoadsIntoTheSameScript) {
  const char* text = "if header :contains \"Subject\" [\"yes\", \"money\"] { fileinto \"Junk\"; stop; }\nkeep;";
  TSTRING compiled("old");
  ASSERT_EQ(telsor::CompileScriptContent(text, compiled), S_OK);
  CSieveScript direct;
  ASSERT_EQ(direct.ParseString(text, nullptr), S_OK);
  EXPECT_EQ(Bytes(compiled), rec::Stored(direct));
  EXPECT_EQ(Bytes(compiled).substr(0, 12), "TELSOR_SIEVE");

  CSieveScript loaded;
  ASSERT_EQ(rec::Load(Bytes(compiled), loaded), S_OK);
  CFakeHost a, b;
  EXPECT_EQ(a.Run(direct), S_OK);
  EXPECT_EQ(b.Run(loaded), S_OK);
  EXPECT_EQ(b.Calls(), "header([Subject],[yes,money],1,2,0) fileinto([Junk]) stop@1");
  EXPECT_EQ(a.Calls(), b.Calls());
}

TEST(SieveScriptTools, CompileEmptyAndBrokenTexts) {
  TSTRING compiled("old");
  EXPECT_EQ(telsor::CompileScriptContent(nullptr, compiled), S_OK);
  EXPECT_EQ(compiled.GetLength(), 0);
  compiled = "old";
  EXPECT_EQ(telsor::CompileScriptContent("", compiled), S_OK);
  EXPECT_EQ(compiled.GetLength(), 0);
  compiled = "old";
  EXPECT_EQ(telsor::CompileScriptContent("keep", compiled), E_SIEVE_SYNTAX);
  EXPECT_STREQ(compiled.c_str(), "old");
  EXPECT_EQ(telsor::CompileScriptContent("require \"relational\";", compiled), E_SIEVE_UNSUPPORTED_FEATURE);
  EXPECT_STREQ(compiled.c_str(), "old");
}

// A form longer than five times its text grows the memory block.
TEST(SieveScriptTools, CompiledFormLongerThanItsFirstBlock) {
  const char* text = "if header :regex \"X\" \"a+b*c?(d|e)\" {keep;}";
  TSTRING compiled;
  ASSERT_EQ(telsor::CompileScriptContent(text, compiled), S_OK);
  EXPECT_GT(compiled.GetLength(), static_cast<int>(5 * strlen(text)));
  CSieveScript loaded;
  EXPECT_EQ(rec::Load(Bytes(compiled), loaded), S_OK);
}

// Expected cipher texts from an independent RC5-32/12 CBC computation
// (checked against the published all-zero test vector 21A5DBEE154B8F6D).
TEST(SieveScriptTools, EncryptScript) {
  TSTRING cipher("old");
  EXPECT_EQ(telsor::EncryptScript("abcdefgh", cipher), S_OK);
  EXPECT_EQ(Hex(cipher), "54507cd33873d17d8940cabd8b130016");
  EXPECT_EQ(telsor::EncryptScript("1234567", cipher), S_OK);
  EXPECT_EQ(Hex(cipher), "45f62d69106b98ca");
  EXPECT_EQ(telsor::EncryptScript("keep;", cipher), S_OK);
  EXPECT_EQ(Hex(cipher), "27f0900a0b44349d");
  EXPECT_EQ(telsor::EncryptScript("", cipher), S_OK);
  EXPECT_EQ(cipher.GetLength(), 0);
  cipher = "old";
  EXPECT_EQ(telsor::EncryptScript(nullptr, cipher), S_OK);
  EXPECT_EQ(cipher.GetLength(), 0);
}

TEST(SieveScriptTools, StringFromMemoryBlock) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 6);
  ASSERT_NE(block, nullptr);
  memcpy(GlobalLock(block), "ab\0cde", 6);
  GlobalUnlock(block);
  TSTRING text("old");
  EXPECT_EQ(telsor::GetStringFromHGlobal(block, 6, text), S_OK);
  EXPECT_EQ(Bytes(text), std::string("ab\0cde", 6));
  EXPECT_EQ(telsor::GetStringFromHGlobal(block, 0, text), S_OK);
  EXPECT_EQ(text.GetLength(), 0);
  text = "old";
  EXPECT_EQ(telsor::GetStringFromHGlobal(nullptr, 6, text), S_OK);
  EXPECT_EQ(text.GetLength(), 0);
  GlobalFree(block);
  // Not a memory block (zeros where a block's header would be): the lock
  // fails with the bad-handle error.
  unsigned char zeros[256] = {};
  EXPECT_EQ(telsor::GetStringFromHGlobal(zeros + 128, 4, text), telsor::ResultFromSystemError(ERROR_INVALID_PARAMETER));
}

}  // namespace
