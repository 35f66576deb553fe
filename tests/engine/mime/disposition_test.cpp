// Content-Disposition values: one table of values and the type, parameters
// and file name each gives; the stored file name; linear time on many
// parameters.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "common/cputime.h"
#include "mime/disposition.h"
#include "mimetestutil.h"

using namespace telsor;
using mime_test::ExactBytes;
using mime_test::ListOf;
using mime_test::Params;
using mime_test::Str;

namespace {

struct Row {
  const char* what;
  std::string value;
  std::string type;
  Params params;
  std::string filename;
};

TEST(ContentDisposition, ParseTable) {
  const Row rows[] = {
      {"quoted file name", "attachment; filename=\"report.pdf\"", "attachment", {{"filename", "report.pdf"}}, "report.pdf"},
      {"type only", "inline", "inline", {}, ""},
      {"case kept", "Attachment; FileName=A.TXT", "Attachment", {{"FileName", "A.TXT"}}, "A.TXT"},
      {"encoded file name decoded", "attachment; filename=\"=?ISO-8859-1?Q?Caf=E9.txt?=\"", "attachment",
       {{"filename", "Caf\xE9.txt"}}, "Caf\xE9.txt"},
      {"blanks and a trailing full stop trimmed", "attachment; filename=\" \treport.pdf. . \"", "attachment",
       {{"filename", "report.pdf"}}, "report.pdf"},
      {"leading full stop kept", "attachment; filename=\".profile\"", "attachment", {{"filename", ".profile"}}, ".profile"},
      {"second filename replaces the first's value", "attachment; filename=a; FILENAME=b", "attachment",
       {{"filename", "b"}}, "b"},
      {"other duplicates kept", "attachment; x=1; X=2", "attachment", {{"x", "1"}, {"X", "2"}}, ""},
      {"two semicolons", "attachment;; filename=x", "attachment", {{"", ""}, {"filename", "x"}}, "x"},
      {"unterminated quote, one word", "attachment; filename=\"open", "attachment", {{"filename", "open"}}, "open"},
      {"unterminated quote, two words", "attachment; filename=\"two words", "attachment", {{"filename", "twowords"}},
       "twowords"},
      {"attribute without =", "attachment; filename", "attachment", {{"filename", ""}}, ""},
      {"unquoted words join", "attachment; filename=my file.txt", "attachment", {{"filename", "myfile.txt"}},
       "myfile.txt"},
      {"comments vanish", "attachment (c); filename=(x)a.txt (y)", "attachment", {{"filename", "a.txt"}}, "a.txt"},
      {"escaped parenthesis keeps the comment open", "attachment; filename=x (a \\) y", "attachment",
       {{"filename", "x"}}, "x"},
      {"specials join a value", "attachment; size=a/b=c", "attachment", {{"size", "a/b=c"}}, ""},
      {"specials join an attribute", "attachment; a/b=c", "attachment", {{"a/b", "c"}}, ""},
      {"quoted string before the type ignored", "\"q\"attachment", "attachment", {}, ""},
      {"quoted string in an attribute ignored", "attachment; \"q\"x=1", "attachment", {{"x", "1"}}, ""},
      {"escapes stay inside a quoted value", "attachment; filename=\"a\\\"b\"", "attachment", {{"filename", "a\\\"b"}},
       "a\\\"b"},
      {"NUL bytes leave a file name", std::string("attachment; filename=\"a\0b\"", 26), "attachment",
       {{"filename", "ab"}}, "ab"},
      {"empty", "", "", {}, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ExactBytes in(row.value);
    CRfc2045DispType disp;
    EXPECT_EQ(disp.Parse(in.data(), in.size()), S_OK);
    EXPECT_EQ(Str(disp.GetDispositionType()), row.type);
    EXPECT_EQ(ListOf(disp.GetParameters()), row.params);
    EXPECT_EQ(Str(disp.GetFilename()), row.filename);
  }
}

TEST(ContentDisposition, StoredFileNameAndParseAgain) {
  CRfc2045DispType disp;
  std::string first = "attachment; filename=a.txt";
  EXPECT_EQ(disp.Parse(reinterpret_cast<const unsigned char*>(first.data()), static_cast<ULONG>(first.size())), S_OK);
  disp.PutFilename("b.txt");
  EXPECT_EQ(ListOf(disp.GetParameters()), (Params{{"filename", "b.txt"}}));
  disp.GetParameters().RemoveAll();
  EXPECT_EQ(Str(disp.GetFilename()), "b.txt");  // the stored name answers
  std::string second = "inline";
  EXPECT_EQ(disp.Parse(reinterpret_cast<const unsigned char*>(second.data()), static_cast<ULONG>(second.size())), S_OK);
  EXPECT_EQ(Str(disp.GetDispositionType()), "inline");
  EXPECT_EQ(Str(disp.GetFilename()), "");
  disp.PutFilename("c");
  EXPECT_EQ(ListOf(disp.GetParameters()), (Params{{"filename", "c"}}));
  disp.PutDispositionType("attachment");
  EXPECT_EQ(Str(disp.GetDispositionType()), "attachment");
  TSTRING a("FILENAME"), v(" d. ");
  disp.AddParameter(a, v);
  EXPECT_EQ(Str(v), "d");
  EXPECT_EQ(ListOf(disp.GetParameters()), (Params{{"filename", "d"}}));
}

TEST(ContentDisposition, ManyParametersParseInLinearTime) {
  std::string value = "attachment";
  for (int i = 0; i < 50000; ++i) value += "; x=1";
  for (int i = 0; i < 50000; ++i) value += "; filename=f";
  const CCpuTimer timer;
  ExactBytes in(value);
  CRfc2045DispType disp;
  EXPECT_EQ(disp.Parse(in.data(), in.size()), S_OK);
  EXPECT_LT(timer.Seconds(), mime_test::kLinearTimeBound);
  EXPECT_EQ(disp.GetParameters().GetCount(), 50001);
  EXPECT_EQ(Str(disp.GetFilename()), "f");
}

}  // namespace
