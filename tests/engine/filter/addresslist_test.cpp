// Sender white and black lists written as scripts and read back.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fakehost.h"

using telsor::CSieveScript;
using telsor::TSTRING;

namespace {

std::vector<TSTRING> List(std::initializer_list<const char*> texts) {
  std::vector<TSTRING> out;
  for (const char* t : texts) out.push_back(TSTRING(t));
  return out;
}

std::vector<std::string> Texts(const std::vector<TSTRING>& list) {
  std::vector<std::string> out;
  for (const TSTRING& t : list) out.push_back(std::string(t.c_str(), static_cast<size_t>(t.GetLength())));
  return out;
}

std::string Str(const TSTRING& t) { return std::string(t.c_str(), static_cast<size_t>(t.GetLength())); }

TEST(SieveAddressLists, WhiteAndBlackListTexts) {
  std::vector<TSTRING> addresses = List({"alpha", "be*ta", "gamma"});
  EXPECT_EQ(Str(CSieveScript::WriteWhitelistFromAddresses(addresses)),
            "if address :all :is \"From\" [\n\"alpha\",\"gamma\"]{stop;}\n"
            "if address :all :matches \"From\" [\n\"be*ta\"]{stop;}\n");
  EXPECT_EQ(Str(CSieveScript::WriteBlacklistFromAddresses(addresses)),
            "if address :all :is \"From\" [\n\"alpha\",\"gamma\"]{discard;stop;}\n"
            "if address :all :matches \"From\" [\n\"be*ta\"]{discard;stop;}\n");
  EXPECT_EQ(Str(CSieveScript::WriteWhitelistFromAddresses({})), "");
  EXPECT_EQ(Str(CSieveScript::WriteBlacklistFromAddresses(List({"a?c", "*@x"}))),
            "if address :all :matches \"From\" [\n\"a?c\",\"*@x\"]{discard;stop;}\n");
  EXPECT_EQ(Str(CSieveScript::WriteWhitelistFromAddresses(List({"one@x"}))),
            "if address :all :is \"From\" [\n\"one@x\"]{stop;}\n");
}

TEST(SieveAddressLists, LongListsBreakBeforeTheComma) {
  std::string a(100, 'a'), b(100, 'b'), c(100, 'c'), x(300, 'x');
  EXPECT_EQ(Str(CSieveScript::WriteWhitelistFromAddresses(List({a.c_str(), b.c_str(), c.c_str()}))),
            "if address :all :is \"From\" [\n\"" + a + "\",\"" + b + "\"\n,\"" + c + "\"]{stop;}\n");
  EXPECT_EQ(Str(CSieveScript::WriteWhitelistFromAddresses(List({x.c_str()}))),
            "if address :all :is \"From\" [\n\n\"" + x + "\"]{stop;}\n");
}

TEST(SieveAddressLists, ListsCompileRunAndReadBack) {
  std::vector<TSTRING> addresses = List({"gamma@x", "alpha@x", "be*ta@x", "x?y@z"});
  for (bool white : {true, false}) {
    SCOPED_TRACE(white);
    TSTRING text = white ? CSieveScript::WriteWhitelistFromAddresses(addresses)
                         : CSieveScript::WriteBlacklistFromAddresses(addresses);
    CSieveScript script;
    ASSERT_EQ(script.ParseString(text.c_str(), nullptr), S_OK) << script.GetErrorDescription();
    std::vector<TSTRING> back = List({"kept"});
    script.TestFromAddresses(back);
    // Exact addresses first, as the dictionary sorts them; then the wildcards.
    EXPECT_EQ(Texts(back), (std::vector<std::string>{"kept", "alpha@x", "gamma@x", "be*ta@x", "x?y@z"}));
  }
}

// Quotes and backslashes inside an address are escaped: the list keeps its
// meaning and its addresses.
TEST(SieveAddressLists, AddressesCannotBreakOutOfTheList) {
  const char* hostile = "a\"]{stop;} if true {discard;} if false {[\"";
  std::vector<TSTRING> addresses = List({hostile, "back\\slash@x", "quo\"te*"});
  TSTRING text = CSieveScript::WriteWhitelistFromAddresses(addresses);
  CSieveScript script;
  ASSERT_EQ(script.ParseString(text.c_str(), nullptr), S_OK) << script.GetErrorDescription();
  EXPECT_EQ(static_cast<CListCommands*>(script.GetRoot())->GetCount(), 2);
  CFakeHost host;
  EXPECT_EQ(host.Run(script), S_OK);
  // Two address tests asked, no action taken.
  ASSERT_EQ(host.calls.size(), 2u);
  EXPECT_EQ(host.calls[0].compare(0, 8, "address("), 0);
  EXPECT_EQ(host.calls[1].compare(0, 8, "address("), 0);
  std::vector<TSTRING> back;
  script.TestFromAddresses(back);
  EXPECT_EQ(Texts(back), (std::vector<std::string>{hostile, "back\\slash@x", "quo\"te*"}));
}

TEST(SieveAddressLists, OnlyTopLevelSingleNameTestsAreRead) {
  CSieveScript script;
  ASSERT_EQ(script.ParseString("if address :is \"From\" [\"f1@x\", \"f2@x\"] {stop;}\n"
                               "if address :is [\"From\", \"Sender\"] \"two-names@x\" {stop;}\n"
                               "if anyof(address \"From\" \"under-anyof@x\") {stop;}\n"
                               "if false {stop;} elsif address \"From\" \"elsif@x\" {stop;}\n"
                               "if true { if address \"From\" \"nested@x\" {stop;} }\n"
                               "if envelope :is \"from\" \"r@x\" {stop;}\n"
                               "if address :is \"from\" \"lower@x\" {stop;}\n",
                               nullptr),
            S_OK);
  std::vector<TSTRING> back;
  script.TestFromAddresses(back);
  EXPECT_EQ(Texts(back), (std::vector<std::string>{"r@x", "f1@x", "f2@x", "lower@x"}));
  CSieveScript empty;
  empty.TestFromAddresses(back);
  EXPECT_EQ(back.size(), 4u);
}

}  // namespace
