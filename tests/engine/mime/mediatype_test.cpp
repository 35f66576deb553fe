// Content-Type values: one table of values and the media type, parameter
// list, boundary and name they give; the stored name and boundary; hostile
// values in linear time.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "common/cputime.h"
#include "mime/mediatype.h"
#include "mimetestutil.h"

using namespace telsor;
using mime_test::ExactBytes;
using mime_test::ListOf;
using mime_test::Params;
using mime_test::Show;
using mime_test::Str;

namespace {

struct Row {
  const char* what;
  std::string value;
  std::string mediaType;
  Params params;
  std::string boundary;
  std::string name;
};

TEST(ContentMediaType, ParseTable) {
  const Row rows[] = {
      {"double-quoted boundary", "multipart/mixed; boundary=\"----=_Part_1\"", "multipart/mixed",
       {{"boundary", "----=_Part_1"}}, "----=_Part_1", ""},
      {"single-quoted boundary", "multipart/mixed; boundary='b=1'", "multipart/mixed", {{"boundary", "b=1"}}, "b=1", ""},
      {"a lone single quote stays", "multipart/mixed; boundary='", "multipart/mixed", {{"boundary", "'"}}, "'", ""},
      {"two boundaries: the first one counts", "multipart/mixed; BOUNDARY=a; boundary=b", "multipart/mixed",
       {{"BOUNDARY", "a"}, {"boundary", "b"}}, "a", ""},
      {"NUL bytes in a boundary become spaces", std::string("multipart/x; boundary=\"a\0b\"", 27), "multipart/x",
       {{"boundary", "a b"}}, "a b", ""},
      {"two names merge at the first's place", "text/plain; Name=a; charset=x; name=b", "text/plain",
       {{"Name", "b"}, {"charset", "x"}}, "", "b"},
      {"encoded name decoded and trimmed", "a/b; name=\"  report =?ISO-8859-1?Q?Caf=E9?=  \"", "a/b",
       {{"name", "report  Caf\xE9"}}, "", "report  Caf\xE9"},
      {"plain name keeps its blanks", "a/b; name=\" x \"", "a/b", {{"name", " x "}}, "", " x "},
      {"NUL bytes leave a name", std::string("a/b; name=\"a\0b\"", 15), "a/b", {{"name", "ab"}}, "", "ab"},
      {"comment after a value is dropped", "text/plain; charset=us-ascii (Plain text)", "text/plain",
       {{"charset", "us-ascii"}}, "", ""},
      {"backslash in a comment is ordinary", "text/plain; charset=x (a \\) y", "text/plain", {{"charset", "xy"}}, "", ""},
      {"two semicolons add an empty parameter", "text/plain;; charset=x", "text/plain", {{"", ""}, {"charset", "x"}}, "", ""},
      {"a final lone word has an empty value", "text/plain; charset=x; flowed", "text/plain",
       {{"charset", "x"}, {"flowed", ""}}, "", ""},
      {"unterminated quote with one word", "text/plain; name=\"word", "text/plain", {{"name", "word"}}, "", "word"},
      {"unterminated quote with two words", "text/plain; charset=\"two words", "text/plain", {{"charset", "twowords"}}, "", ""},
      {"white space is dropped between pieces", "text / plain ; charset = \"a b\" ; format = fl owed", "text/plain",
       {{"charset", "a b"}, {"format", "flowed"}}, "", ""},
      {"case is kept", "TEXT/HTML; CHARSET=UTF-8", "TEXT/HTML", {{"CHARSET", "UTF-8"}}, "", ""},
      {"tspecials join a value", "x/y; url=http://a/b?c=d", "x/y", {{"url", "http://a/b?c=d"}}, "", ""},
      {"tspecials join an attribute", "a/b; x/y=1", "a/b", {{"x/y", "1"}}, "", ""},
      {"tokens misplaced in the type are dropped", "\"q\"text/(c)plain/extra<x>", "text/plainextrax", {}, "", ""},
      {"a domain literal vanishes from a value", "a/b; c=[lit]d", "a/b", {{"c", "d"}}, "", ""},
      {"no type", "; charset=x", "", {{"charset", "x"}}, "", ""},
      {"quoted string in an attribute is dropped", "a/b; \"q\"at=1", "a/b", {{"at", "1"}}, "", ""},
      {"empty", "", "", {}, "", ""},
      {"white space only", " \t\r\n", "", {}, "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ExactBytes in(row.value);
    CRfc2045ContentMediaType ct;
    EXPECT_EQ(ct.Parse(in.data(), in.size()), S_OK);
    EXPECT_EQ(Str(ct.GetMediaType()), row.mediaType);
    EXPECT_EQ(ListOf(ct.GetParameters()), row.params);
    EXPECT_EQ(Str(ct.GetBoundary()), row.boundary);
    EXPECT_EQ(Str(ct.GetName()), row.name);
  }
}

TEST(ContentMediaType, ParseStartsAfresh) {
  CRfc2045ContentMediaType ct;
  std::string first = "multipart/mixed; boundary=x; name=n";
  EXPECT_EQ(ct.Parse(reinterpret_cast<const unsigned char*>(first.data()), static_cast<ULONG>(first.size())), S_OK);
  ct.PutName("stored");
  ct.PutBoundary("kept");
  EXPECT_EQ(Str(ct.GetName()), "stored");
  EXPECT_EQ(ListOf(ct.GetParameters()), (Params{{"boundary", "kept"}, {"name", "stored"}}));
  // With the parameter gone the stored text answers.
  CRfc2045ParameterList& list = ct.GetParameters();
  list.RemoveAt(FindAttribute("NAME", list));
  EXPECT_EQ(Str(ct.GetName()), "stored");
  std::string second = "text/plain";
  EXPECT_EQ(ct.Parse(reinterpret_cast<const unsigned char*>(second.data()), static_cast<ULONG>(second.size())), S_OK);
  EXPECT_EQ(Str(ct.GetMediaType()), "text/plain");
  EXPECT_EQ(Str(ct.GetName()), "");
  EXPECT_EQ(Str(ct.GetBoundary()), "");
  EXPECT_TRUE(ct.GetParameters().IsEmpty());
  ct.PutBoundary("new");
  ct.PutName("n2");
  EXPECT_EQ(ListOf(ct.GetParameters()), (Params{{"boundary", "new"}, {"name", "n2"}}));
  ct.PutMediaType("image/gif");
  EXPECT_EQ(Str(ct.GetMediaType()), "image/gif");
}

TEST(ContentMediaType, AddParameterCleansTheCallersValue) {
  CRfc2045ContentMediaType ct;
  TSTRING a("boundary"), v("'q'");
  ct.AddParameter(a, v);
  EXPECT_EQ(Str(v), "q");
  TSTRING n("name"), nv(" =?a?B?QUJD?= ");
  ct.AddParameter(n, nv);
  EXPECT_EQ(Str(nv), "ABC");
  TSTRING n2("NAME"), nv2("second");
  ct.AddParameter(n2, nv2);
  EXPECT_EQ(ListOf(ct.GetParameters()), (Params{{"boundary", "q"}, {"name", "second"}}));
}

TEST(ContentMediaType, FindAttribute) {
  CRfc2045ParameterList list(10);
  CRfc2045Parameter a("Charset", "x"), b("charset", "y");
  list.AddTail(a);
  void* second = list.AddTail(b);
  EXPECT_EQ(FindAttribute(nullptr, list), nullptr);
  EXPECT_EQ(FindAttribute("boundary", list), nullptr);
  void* first = FindAttribute("CHARSET", list);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Str(list.GetAt(first).GetValue()), "x");
  // The list's own search compares attributes without regard to case too.
  CRfc2045Parameter probe("CHARSET", "");
  EXPECT_EQ(list.Find(probe), first);
  EXPECT_EQ(list.Find(probe, first), second);
}

TEST(ContentMediaType, ManyParametersParseInLinearTime) {
  std::string value = "text/plain";
  for (int i = 0; i < 50000; ++i) value += "; x=1";
  for (int i = 0; i < 50000; ++i) value += "; name=n";
  for (int i = 0; i < 100000; ++i) value += "/a";
  const CCpuTimer timer;
  ExactBytes in(value);
  CRfc2045ContentMediaType ct;
  EXPECT_EQ(ct.Parse(in.data(), in.size()), S_OK);
  EXPECT_LT(timer.Seconds(), 5.0 * kSanitizerSlowdown);
  EXPECT_EQ(ct.GetParameters().GetCount(), 50001);
  EXPECT_EQ(Str(ct.GetName()).size(), 1u + 200000u);
}

}  // namespace
