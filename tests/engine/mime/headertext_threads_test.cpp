// The header text layer from 8 threads at once: every thread parses the same
// values with every parser and composes dates, and must get exactly what one
// thread alone gets (and ThreadSanitizer must see no race).
#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include <string>
#include <thread>
#include <vector>

#include "mime/disposition.h"
#include "mime/mediatype.h"
#include "mime/rfc2047text.h"
#include "mime/rfc822date.h"
#include "mime/rfc822parser.h"

using namespace telsor;

namespace {

const char* const kValues[] = {
    "multipart/mixed; boundary=\"=_x\"; name=\"=?utf-8?B?w6k=?= \"",
    "attachment; filename=\" =?ISO-8859-1?Q?Caf=E9?=. \"",
    "Help Desk <js@host>, Friends: a@x, b@y;, \"=?utf-8?Q?J=C3=B6rg?=\" <j@z>",
    "Re: =?utf-8?B?w6k=?= =?utf-8?Q?=C3=A9?= end",
    "Tue, 1 Jul 2003 10:52:37 +0200",
    "Wed, 9 Dec 2026 08:45:10 EST",
};

// Everything the parsers make of one value, as one text.
std::string Digest(const char* value) {
  std::string out;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(value);
  ULONG n = static_cast<ULONG>(strlen(value));
  CRfc2045ContentMediaType ct;
  out += ct.Parse(bytes, n) == S_OK ? "ok|" : "failed|";
  out += ct.GetMediaType().c_str();
  out += "|";
  out += ct.GetName().c_str();
  CRfc2045DispType disp;
  out += disp.Parse(bytes, n) == S_OK ? "|ok" : "|failed";
  out += "|";
  out += disp.GetFilename().c_str();
  CRfc822Addresses list;
  CRfc822Parser::ParseAddressList(value, list, ADDRESS_TYPE_FIELD);
  out += "|";
  out += list.Assemble().c_str();
  for (void* p = list.GetHeadPosition(); p != nullptr;) {
    out += "|";
    out += list.GetNext(p).GetDecodedFullName().c_str();
  }
  out += "|";
  out += DecodeHeaderText(value).c_str();
  CRfc822Date date;
  out += date.SetDate(value) ? "|ok|" : "|bad|";
  char text[80];
  date.Compose(text, sizeof text);
  out += text;
  return out;
}

TEST(HeaderTextThreads, EightThreadsGetWhatOneGets) {
  setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
  tzset();
  std::vector<std::string> expected;
  for (const char* v : kValues) expected.push_back(Digest(v));
  EXPECT_NE(expected[4].find("|ok|Tue, 1 Jul 2003 04:52:37 -0400"), std::string::npos) << expected[4];

  std::vector<std::vector<std::string>> got(8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&got, t] {
      for (int round = 0; round < 200; ++round)
        for (const char* v : kValues) got[t].push_back(Digest(v));
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < 8; ++t) {
    ASSERT_EQ(got[t].size(), 200 * expected.size());
    for (size_t i = 0; i < got[t].size(); ++i) ASSERT_EQ(got[t][i], expected[i % expected.size()]) << t;
  }
}

}  // namespace
