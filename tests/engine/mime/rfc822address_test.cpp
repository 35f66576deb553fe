// RFC 822 addresses: a table of mailbox texts and the record each gives, a
// table of address-list values and the items the splitter cuts, the
// address-list operation with groups, and assembling a header value.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "common/teststream.h"
#include "mime/rfc822address.h"
#include "mime/rfc822parser.h"
#include "mimetestutil.h"

using namespace telsor;
using mime_test::ExactBytes;
using mime_test::Show;
using mime_test::Str;
using mime_test::T;

namespace {

struct AddressRow {
  std::string text;
  std::string address, local, domain, fullName, decodedFullName, route, charset;
};

TEST(Rfc822Address, ParseTable) {
  const AddressRow rows[] = {
      {"Help Desk <js@host>", "js@host", "js", "host", "Help Desk", "Help Desk", "", ""},
      {"js@host (Help Desk)", "js@host", "js", "host", "Help Desk", "Help Desk", "", ""},
      {"\"Doe, John\" <j@x>", "j@x", "j", "x", "\"Doe, John\"", "\"Doe, John\"", "", ""},
      {"<@r1,@r2:js@host>", "js@host", "js", "host", "", "", "@r1,@r2", ""},
      {"js@HOST", "js@host", "js", "host", "", "", "", ""},
      {"JS@Host", "JS@host", "JS", "host", "", "", "", ""},
      {"postmaster", "postmaster", "postmaster", "", "", "", "", ""},
      {"<>", "", "", "", "", "", "", ""},
      {"@HOST", "", "", "HOST", "", "", "", ""},
      {"a <b@C>", "b@c", "b", "c", "a", "a", "", ""},
      {"Help Desk", "HelpDesk", "HelpDesk", "", "", "", "", ""},
      {"a@b@c", "a@bc", "a", "bc", "", "", "", ""},
      {"<@r1:b@c> (note)", "b@c", "b", "c", "note", "note", "@r1", ""},
      {"Desk (work) <a@x>", "a@x", "a", "x", "Desk", "Desk", "", ""},
      {" B <b@y>", "b@y", "b", "y", " B", " B", "", ""},
      {"=?ISO-8859-1?Q?Caf=E9?= <c@x>", "c@x", "c", "x", "=?ISO-8859-1?Q?Caf=E9?=", "Caf\xE9", "", "ISO-8859-1"},
      {"=?us-ascii?Q?Plain?= =?utf-8?B?w6k=?= <p@x>", "p@x", "p", "x", "=?us-ascii?Q?Plain?= =?utf-8?B?w6k=?=",
       "Plain\xC3\xA9", "", "utf-8"},
      {"=?US-ASCII?Q?Plain?= <p@x>", "p@x", "p", "x", "=?US-ASCII?Q?Plain?=", "Plain", "", ""},
      {"\"Help\r\n Desk\" <h@x>", "h@x", "h", "x", "\"Help Desk\"", "\"Help\r\n Desk\"", "", ""},
      {"\"a\r\nb\"@X", "\"ab\"@x", "\"ab\"", "x", "", "", "", ""},
      {"Name <a@x", "a@x", "a", "x", "Name", "Name", "", ""},
      {"Name \"unterminated", "Name", "Name", "", "", "", "", ""},
      {"a@[1.2.3.4]", "a@[1.2.3.4]", "a", "[1.2.3.4]", "", "", "", ""},
      {"(only comment)", "", "", "", "only comment", "only comment", "", ""},
      {"Joe Q. Public <jqp@x>", "jqp@x", "jqp", "x", "Joe Q. Public", "Joe Q. Public", "", ""},
      {"a.b:c@d", "a.b:c@d", "a.b:c", "d", "", "", "", ""},
      {"<a@x> trailing words (c)", "a@x", "a", "x", "c", "c", "", ""},
      {"a@x (unterminated", "a@x", "a", "x", "", "", "", ""},
      // An escaped NUL inside the domain: lower-casing goes past it.
      {std::string("a@X\\\0Y", 6), std::string("a@x\\\0y", 6), "a", std::string("x\\\0y", 4), "", "", "", ""},
      {"", "", "", "", "", "", "", ""},
  };
  for (const AddressRow& row : rows) {
    SCOPED_TRACE(Show(row.text));
    ExactBytes in(row.text);
    CRfc822Address a;
    a.Parse(in.chars(), in.size());
    EXPECT_EQ(Str(a.GetAddress()), row.address);
    EXPECT_EQ(Str(a.GetLocalPart()), row.local);
    EXPECT_EQ(Str(a.GetDomain()), row.domain);
    EXPECT_EQ(Str(a.GetFullName()), row.fullName);
    EXPECT_EQ(Str(a.GetDecodedFullName()), row.decodedFullName);
    EXPECT_EQ(Str(a.GetRoute()), row.route);
    EXPECT_EQ(Str(a.GetCharset()), row.charset);
    EXPECT_EQ(a.GetAddressType(), ADDRESS_TYPE_FIELD);
    // The string form agrees, and so does the NUL-terminated one where the
    // text holds no NUL.
    CRfc822Address b(row.text.c_str()), c(T(row.text));
    if (row.text.find('\0') == std::string::npos) {
      EXPECT_EQ(Str(b.GetAddress()), row.address);
    }
    EXPECT_EQ(Str(c.GetAddress()), row.address);
    EXPECT_EQ(Str(c.GetFullName()), row.fullName);
  }
}

TEST(Rfc822Address, RecordOperations) {
  CRfc822Address a("Help Desk <js@old>");
  a.PutAddressType(static_cast<tag_ADDRESS_TYPE>(2));
  CRfc822Address copy(a);
  EXPECT_EQ(copy.GetAddressType(), 2);
  copy = copy;
  EXPECT_EQ(Str(copy.GetFullName()), "Help Desk");
  std::unique_ptr<CRfc822Address> clone(a.Clone());
  EXPECT_EQ(Str(clone->GetAddress()), "js@old");
  EXPECT_EQ(Str(clone->GetFullName()), "Help Desk");

  a.SetDomain("new");
  EXPECT_EQ(Str(a.GetAddress()), "js@new");
  EXPECT_EQ(Str(a.GetFullName()), "");
  EXPECT_EQ(a.GetAddressType(), ADDRESS_TYPE_FIELD);
  a.SetDomain(nullptr);
  EXPECT_EQ(Str(a.GetAddress()), "js");
  a.SetDomain("x");  // no "@" now: nothing changes
  EXPECT_EQ(Str(a.GetAddress()), "js");
  CRfc822Address noLocal("@HOST");
  noLocal.SetDomain("x");
  EXPECT_EQ(Str(noLocal.GetDomain()), "HOST");  // lower-cased only with a local part
  EXPECT_EQ(Str(noLocal.GetAddress()), "");

  a = "Other <o@x>";
  EXPECT_EQ(Str(a.GetAddress()), "o@x");
  a = static_cast<const char*>(nullptr);
  EXPECT_EQ(Str(a.GetAddress()), "");
  a = T("T <t@x>");
  EXPECT_EQ(Str(a.GetFullName()), "T");
  a.SetAddress("s@x");
  EXPECT_EQ(Str(a.GetFullName()), "");
  a.Clear();
  EXPECT_EQ(Str(a.GetAddress()), "");
}

typedef std::vector<std::pair<int, std::string>> Items;

Items Split(CRfcMailboxListParser& p) {
  Items out;
  for (int guard = 0; guard < 100; ++guard) {
    int kind = p.NextMbox();
    EXPECT_EQ(kind, p.MboxType());
    out.emplace_back(kind, Str(p.MboxString()));
    if (kind == CRfcMailboxListParser::MBOX_END) break;
  }
  return out;
}

TEST(MailboxListParser, SplitTable) {
  const int G = CRfcMailboxListParser::MBOX_GROUP, M = CRfcMailboxListParser::MBOX_MAILBOX,
            E = CRfcMailboxListParser::MBOX_EMPTY, END = CRfcMailboxListParser::MBOX_END;
  const std::pair<std::string, Items> rows[] = {
      {"", {{END, ""}}},
      {"  \t ", {{END, ""}}},
      {", ,", {{E, ""}, {E, ""}, {END, ""}}},
      {"A <a@x>, B <b@y>", {{M, "A <a@x>"}, {M, " B <b@y>"}, {END, ""}}},
      {"\"Doe, J\" <j@x>, k@y", {{M, "\"Doe, J\" <j@x>"}, {M, " k@y"}, {END, ""}}},
      {"<a@x, b@y>", {{M, "<a@x, b@y>"}, {END, ""}}},
      {"Friends: a@x, b@y;, c@z", {{G, "Friends: a@x, b@y;"}, {M, " c@z"}, {END, ""}}},
      {"\"Help Desk <j@x>", {{M, "\"Help\" Desk <j@x>"}, {END, ""}}},
      {" \"Help Desk <j@x>", {{M, " \"Help\" Desk <j@x>"}, {END, ""}}},
      {"a,,b", {{M, "a"}, {E, ""}, {M, "b"}, {END, ""}}},
      {"a,", {{M, "a"}, {END, ""}}},
      {"(c, d) x, [e,f]", {{M, "(c, d) x"}, {M, " [e,f]"}, {END, ""}}},
      // Inside a group angle brackets are not tracked: the ";" ends the group.
      {"G: <a;b@x>, c@y; d, e", {{G, "G: <a;b@x>"}, {M, " c@y; d"}, {M, " e"}, {END, ""}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(Show(row.first));
    ExactBytes in(row.first);
    CRfcMailboxListParser p(in.data(), in.size());
    EXPECT_EQ(p.MboxType(), CRfcMailboxListParser::MBOX_EMPTY);
    EXPECT_EQ(Split(p), row.second);
    EXPECT_EQ(p.NextMbox(), CRfcMailboxListParser::MBOX_END);
    // The stream form cuts the same items.
    CTestStream stream(row.first);
    stream.maxChunk = 3;
    CRfcMailboxListParser s(&stream, static_cast<ULONG>(row.first.size()));
    EXPECT_EQ(Split(s), row.second);
  }
}

std::vector<std::string> Addresses(const CRfc822Addresses& list) {
  std::vector<std::string> out;
  for (void* p = list.GetHeadPosition(); p != nullptr;) out.push_back(Str(list.GetNext(p).GetAddress()));
  return out;
}

TEST(AddressList, ParseAddressListTable) {
  const std::pair<std::string, std::vector<std::string>> rows[] = {
      {"", {}},
      {"   ", {}},
      {"a@x, B <b@y>", {"a@x", "b@y"}},
      {",,a@x,", {"a@x"}},
      {"\"Doe, J\" <j@x>", {"j@x"}},
      {"Friends: a@x, b@y;, c@z", {"a@x", "b@y", "c@z"}},
      {"Undisclosed recipients:;", {}},
      {"x:", {}},
      {":;", {}},
      {"A: B: b@y;;, c@z", {"b@y", "c@z"}},
      {"<@r:a@x>, G: <@s:b@y>;", {"a@x", "b@y"}},
      {"G: <a;b@x>, c@y; d", {"ab@x", "c@yd"}},
      {"not an address", {"notanaddress"}},
      {"<>, a@x", {"", "a@x"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(Show(row.first));
    CRfc822Addresses list;
    CRfc822Parser::ParseAddressList(T(row.first), list, static_cast<tag_ADDRESS_TYPE>(3));
    EXPECT_EQ(Addresses(list), row.second);
    for (void* p = list.GetHeadPosition(); p != nullptr;) EXPECT_EQ(list.GetNext(p).GetAddressType(), 3);
  }
}

TEST(AddressList, RepeatedCallsAccumulate) {
  CRfc822Addresses list;
  CRfc822Parser::ParseAddressList(T("a@x, b@y"), list, ADDRESS_TYPE_FIELD);
  CRfc822Parser::ParseAddressList(T("a@x, b@y"), list, ADDRESS_TYPE_FIELD);
  EXPECT_EQ(Addresses(list), (std::vector<std::string>{"a@x", "b@y", "a@x", "b@y"}));
}

TEST(AddressList, GroupEntryEndsForAnyInput) {
  const char* rows[] = {"", "no colon", ":;", ":", ";", "<a:b>", "G: a@x"};
  const std::vector<std::string> expected[] = {{}, {}, {}, {}, {}, {}, {"a@x"}};
  for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
    CRfc822Addresses list;
    CRfc822Parser::ParseAddressGroupList(T(rows[i]), list, ADDRESS_TYPE_FIELD);
    EXPECT_EQ(Addresses(list), expected[i]) << rows[i];
  }
}

TEST(AddressList, DeeplyNestedGroupsStayLinear) {
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "g:";
  text += "a@x";
  auto start = std::chrono::steady_clock::now();
  CRfc822Addresses list;
  CRfc822Parser::ParseAddressList(T(text), list, ADDRESS_TYPE_FIELD);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, mime_test::kLinearTimeBound);
  // Beyond the nesting bound the rest is one mailbox.
  ASSERT_EQ(list.GetCount(), 1);
  EXPECT_EQ(Str(list.GetAt(list.GetHeadPosition()).GetDomain()), "x");
}

TEST(AddressList, Assemble) {
  CRfc822Addresses list;
  EXPECT_EQ(Str(list.Assemble()), "");
  CRfc822Parser::ParseAddressList(T("Help Desk <js@host>, desk@host, <>, <@r1:b@c>"), list, ADDRESS_TYPE_FIELD);
  EXPECT_EQ(list.GetCount(), 4);
  EXPECT_EQ(Str(list.Assemble()), "Help Desk <js@host>, <desk@host>, <@r1:b@c>");
  CRfc822Addresses empties;
  CRfc822Parser::ParseAddressList(T("<>, @x"), empties, ADDRESS_TYPE_FIELD);
  EXPECT_EQ(empties.GetCount(), 2);
  EXPECT_EQ(Str(empties.Assemble()), "");
}

TEST(AddressList, AssignmentKeepsExactlyOneRecord) {
  CRfc822Addresses list;
  list = "a@x, b@y";  // one address, not split
  EXPECT_EQ(list.GetCount(), 1);
  list = T("");
  ASSERT_EQ(list.GetCount(), 1);
  EXPECT_EQ(Str(list.GetAt(list.GetHeadPosition()).GetAddress()), "");
  list = "Z <z@q>";
  EXPECT_EQ(Str(list.Assemble()), "Z <z@q>");
}

}  // namespace
