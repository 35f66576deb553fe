// The front end's helpers: the integer score of a classifier value, path
// joining, the category record, and every kind of failure as it lands in the
// error record.
#include <float.h>
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <stdexcept>
#include <string>

#include "filter/scaerror.h"
#include "filter/scamisc.h"
#include "foundation/throwcode.h"

using namespace telsor;

namespace {

std::string Str(const TSTRING& s) { return std::string(s.c_str(), s.GetLength()); }

// The record as a failure of the kind thrown by throwIt leaves it.
template <class Fn>
SQorError Converted(Fn throwIt, DWORD* code) {
  SQorError record;
  memset(&record, 0x5A, sizeof record);
  try {
    throwIt();
    *code = 0xDEAD;
  } catch (...) {
    *code = ConvertCurrentException(&record);
  }
  return record;
}

}  // namespace

TEST(Misc, ConvertScoreNoThrow) {
  const struct {
    double value;
    int32_t score;
  } cases[] = {
      {DBL_MAX, 2147483647}, {1.5, 1000},   {-3, -1000},     {0.0015, 1},  {-0.0019, -1},
      {0.9999, 999},         {-0.5005, -500}, {7.5, 1000},   {0.0, 0},     {1.0, 1000},
      {-1.0, -1000},         {-DBL_MAX, -1000}, {0.4567, 456}, {NAN, 2147483647},
  };
  for (const auto& c : cases) EXPECT_EQ(Misc::ConvertScoreNoThrow(c.value), c.score) << c.value;
}

TEST(Misc, ConvertScoreThrowsForNoScore) {
  EXPECT_EQ(Misc::ConvertScore(-0.25), -250);
  DWORD code = 0;
  SQorError record = Converted([] { Misc::ConvertScore(DBL_MAX); }, &code);
  EXPECT_EQ(code, 10u);
  EXPECT_EQ(record.code, 10u);
  EXPECT_EQ(record.detail, 0u);
  EXPECT_STREQ(record.message, "Score is invalid.");
}

TEST(Misc, CombinePathName) {
  const struct {
    const char* dir;
    const char* name;
    const char* path;
  } cases[] = {
      {"/data/", "Qor.bin", "/data/Qor.bin"},
      {"/data", "Qor.bin", "/data/Qor.bin"},
      {"", "Qor.bin", "/Qor.bin"},
      {"/", "QorDat.bin", "/QorDat.bin"},
      {"rel//", "x", "rel//x"},
  };
  for (const auto& c : cases) {
    TSTRING out("old");
    Misc::CombinePathName(TSTRING(c.dir), TSTRING(c.name), out);
    EXPECT_EQ(Str(out), c.path) << c.dir;
  }
}

TEST(Misc, CategoryRecords) {
  SQorCategoryScore r;
  Misc::InitCategoryScore(QOR_NO_SCORE, &r);
  EXPECT_EQ(r.hoax, QOR_NO_SCORE);
  EXPECT_EQ(r.health, QOR_NO_SCORE);
  const struct {
    DWORD category;
    int32_t hoax, adult, money, goods, health;
  } cases[] = {
      {33, 1000, -1000, -1000, -1000, -1000}, {34, -1000, 1000, -1000, -1000, -1000},
      {35, -1000, -1000, -1000, -1000, -1000}, {36, -1000, -1000, 1000, -1000, -1000},
      {37, -1000, -1000, -1000, 1000, -1000}, {38, -1000, -1000, -1000, -1000, 1000},
      {0, -1000, -1000, -1000, -1000, -1000},
  };
  for (const auto& c : cases) {
    Misc::InitCategoryScore(7, &r);
    Misc::SetCategorySelectedBySieve(&r, c.category);
    EXPECT_EQ(r.hoax, c.hoax) << c.category;
    EXPECT_EQ(r.adult, c.adult) << c.category;
    EXPECT_EQ(r.money, c.money) << c.category;
    EXPECT_EQ(r.goods, c.goods) << c.category;
    EXPECT_EQ(r.health, c.health) << c.category;
  }
}

TEST(ErrorRecord, CreateError) {
  EXPECT_EQ(CreateError(9, 2, "text", nullptr), 9u);
  SQorError r;
  memset(&r, 0x5A, sizeof r);
  EXPECT_EQ(CreateError(8, 3, "", &r), 8u);
  EXPECT_EQ(r.code, 8u);
  EXPECT_EQ(r.detail, 3u);
  EXPECT_STREQ(r.message, "No details for this error.");
  CreateError(8, 0, nullptr, &r);
  EXPECT_STREQ(r.message, "No details for this error.");
  // A text of 256 bytes or more keeps its first 255 and a NUL.
  for (size_t length : {254u, 255u, 256u, 300u}) {
    std::string text(length, 'x');
    memset(&r, 0x5A, sizeof r);
    CreateError(4, 0, text.c_str(), &r);
    EXPECT_EQ(strnlen(r.message, sizeof r.message), std::min<size_t>(length, 255)) << length;
    EXPECT_EQ(r.message[255], '\0');
  }
}

TEST(ErrorRecord, EveryKindOfFailure) {
  const struct {
    const char* what;
    void (*throwIt)();
    DWORD code;
    DWORD detail;
    const char* message;
  } cases[] = {
      {"ThrowError with a cause", [] { ThrowError(11, 3, "Failed to initialize database."); }, 11, 3,
       "Failed to initialize database."},
      {"ThrowError without text", [] { ThrowError(10, 0, nullptr); }, 10, 0, "No details for this error."},
      {"nested plain exception",
       [] {
         CDException* e = CreateDException(9, 0, "outer");
         e->PutNestedException(new CFileException(CFileException::fileNotFound, 2, "/x"));
         throw e;
       },
       9, 0, "outer"},
      {"engine exception", [] { CFileException::ThrowErrno(2, "/no/such"); }, 5, 0, "/no/such was not found."},
      {"exception without a message", [] { throw new CException(1); }, 5, 0, "A CException error occured"},
      {"bare code", [] { ThrowCode(0xE00A0003u); }, 4, 0, "An unexpected error occured."},
      {"bare zero", [] { ThrowCode(0); }, 4, 0, "An unexpected error occured."},
      {"standard exception", [] { throw std::runtime_error("x"); }, 4, 0, "An unexpected error occured."},
  };
  for (const auto& c : cases) {
    DWORD code = 0;
    SQorError r = Converted(c.throwIt, &code);
    EXPECT_EQ(code, c.code) << c.what;
    EXPECT_EQ(r.code, c.code) << c.what;
    EXPECT_EQ(r.detail, c.detail) << c.what;
    EXPECT_STREQ(r.message, c.message) << c.what;
  }
  // The out-of-memory exception is static: converting it leaves it usable.
  for (int i = 0; i < 2; ++i) {
    DWORD code = 0;
    SQorError r = Converted([] { AfxThrowMemoryException(); }, &code);
    EXPECT_EQ(code, 5u);
    char expected[256];
    ASSERT_TRUE(_simpleMemoryException.GetErrorMessage(expected, sizeof expected, nullptr));
    EXPECT_STREQ(r.message, expected);
  }
}

TEST(ErrorRecord, BackToAnException) {
  SQorError r;
  CreateError(9, 2, "Failed to get script list.", &r);
  CDException* e = ConvertErrorToCDException(&r);
  EXPECT_EQ(e->GetCode(), 9u);
  EXPECT_EQ(Str(e->GetDetails()), "Failed to get script list.");
  CDException* nested = dynamic_cast<CDException*>(e->GetNestedException());
  ASSERT_NE(nested, nullptr);
  EXPECT_EQ(nested->GetCode(), 2u);
  SQorError again;
  EXPECT_EQ(ConvertCDException(e, &again), 9u);
  EXPECT_EQ(again.detail, 2u);
  e->Delete();
  CreateError(8, 0, "x", &r);
  e = ConvertErrorToCDException(&r);
  EXPECT_EQ(e->GetNestedException(), nullptr);
  e->Delete();
}
