// Header fields and their collection: order rules (insertion, stable name
// order, insertion into a sorted collection), lookups, the known-header
// table, folded composing and the composing operations.
#include <gtest/gtest.h>
#include <strings.h>

#include <algorithm>
#include <exception>
#include <random>
#include <string>
#include <typeinfo>
#include <vector>

#include "common/cputime.h"
#include "common/teststream.h"
#include "mime/headerfields.h"
#include "mime/rfc822address.h"
#include "mimetestutil.h"

using namespace telsor;
using mime_test::Show;
using mime_test::Str;

namespace {

std::vector<std::string> Contents(const CRfc822Fields& fields) {
  std::vector<std::string> out;
  for (ULONG i = 0; i < fields.GetCount(); ++i) out.push_back(Str(fields[static_cast<LONG>(i)].GetContents()));
  return out;
}

std::string Compose(const char* name, const char* value, ULONG limit) {
  CTestStream out;
  CRfc822Field::ComposeHeader(name, value, &out, limit);
  return out.str();
}

TEST(HeaderFields, InsertionOrderFindsTheOldest) {
  CRfc822Fields fields;
  fields.Add("To", "first");
  fields.Add("Subject", "s");
  fields.Add("to", "second");
  EXPECT_EQ(fields.FindFirst("TO"), 0);
  EXPECT_EQ(fields.FindFirst("Cc"), -1);
  EXPECT_TRUE(fields.IsExist("subject"));
  EXPECT_FALSE(fields.IsExist("Subjec"));
  EXPECT_EQ(fields[2].GetIndex(), 2u);
}

TEST(HeaderFields, AddingToASortedCollectionGoesInFrontOfEqualNames) {
  CRfc822Fields fields;
  fields.Add("To", "first");
  fields.Add("Subject", "s");
  fields.Add("To", "second");
  fields.Sort(CRfc822Fields::ORDER_BY_NAME);
  EXPECT_EQ(Contents(fields), (std::vector<std::string>{"s", "first", "second"}));
  fields.Add("to", "newest");
  EXPECT_EQ(Contents(fields), (std::vector<std::string>{"s", "newest", "first", "second"}));
  EXPECT_EQ(fields.FindFirst("To"), 1);
  EXPECT_EQ(Str(fields[fields.FindFirst("To")].GetContents()), "newest");
  fields.Add("A", "a");
  fields.Add("Z", "z");
  EXPECT_EQ(Contents(fields), (std::vector<std::string>{"a", "s", "newest", "first", "second", "z"}));
  // Insertion order comes back from the indexes.
  fields.Sort(CRfc822Fields::ORDER_INSERTION);
  EXPECT_EQ(Contents(fields), (std::vector<std::string>{"first", "s", "second", "newest", "a", "z"}));
  EXPECT_EQ(fields.FindFirst("To"), 0);
}

TEST(HeaderFields, SortByNameIsStable) {
  // A random header: every name's fields must keep their insertion order,
  // as a stable sort of (name, index) gives it.
  std::mt19937 rng(3);
  const char* names[] = {"Subject", "subject", "To", "Received", "X-A", "x-a", "Date"};
  for (int trial = 0; trial < 50; ++trial) {
    CRfc822Fields fields;
    std::vector<std::pair<std::string, std::string>> added;
    int n = static_cast<int>(rng() % 100);
    for (int i = 0; i < n; ++i) {
      std::string name = names[rng() % 7];
      std::string contents = std::to_string(i);
      fields.Add(name.c_str(), contents.c_str());
      added.emplace_back(name, contents);
    }
    std::stable_sort(added.begin(), added.end(), [](const auto& a, const auto& b) {
      return strcasecmp(a.first.c_str(), b.first.c_str()) < 0;
    });
    fields.Sort(CRfc822Fields::ORDER_BY_NAME);
    std::vector<std::string> expected;
    for (const auto& field : added) expected.push_back(field.second);
    ASSERT_EQ(Contents(fields), expected);
    // The first of a name is the oldest one.
    for (const char* name : names) {
      LONG at = fields.FindFirst(name);
      auto it = std::find_if(added.begin(), added.end(),
                             [&](const auto& f) { return strcasecmp(f.first.c_str(), name) == 0; });
      if (it == added.end()) {
        EXPECT_EQ(at, -1);
      } else {
        EXPECT_EQ(at, it - added.begin());
      }
    }
  }
}

TEST(HeaderFields, OrderStateRules) {
  CRfc822Fields fields;
  fields.Sort(CRfc822Fields::ORDER_BY_NAME);  // empty: the order stays
  EXPECT_EQ(fields.GetOrder(), CRfc822Fields::ORDER_INSERTION);
  fields.Add("To", "t");
  fields.Add("Cc", "c");
  EXPECT_EQ(Contents(fields), (std::vector<std::string>{"t", "c"}));
  EXPECT_EQ(fields.FindFirst("Cc"), 1);
  fields.Sort(CRfc822Fields::ORDER_KEEP);
  EXPECT_EQ(fields.GetOrder(), CRfc822Fields::ORDER_INSERTION);
  fields.Sort(CRfc822Fields::ORDER_BY_NAME);
  EXPECT_EQ(fields.GetOrder(), CRfc822Fields::ORDER_BY_NAME);
  fields.RemoveAll();
  EXPECT_EQ(fields.GetOrder(), CRfc822Fields::ORDER_INSERTION);
  EXPECT_EQ(fields.GetCount(), 0u);
  EXPECT_EQ(fields.FindFirst("To"), -1);
}

TEST(HeaderFields, MisuseThrowsStandardExceptions) {
  CRfc822Fields fields;
  fields.Add("To", "t");
  EXPECT_THROW(fields[-1], std::bad_exception);
  EXPECT_THROW(fields[1], std::bad_exception);
  EXPECT_THROW(fields.Add(nullptr, "x"), std::bad_typeid);
  EXPECT_THROW(fields.RemoveAt(5), std::bad_exception);
  EXPECT_EQ(fields.GetCount(), 1u);
}

TEST(HeaderFields, CapacityGrowsFromSixteen) {
  CRfc822Fields fields;
  EXPECT_EQ(fields.GetCapacity(), 0u);
  fields.Add("A", "1");
  EXPECT_EQ(fields.GetCapacity(), 16u);
  for (int i = 0; i < 1000; ++i) fields.Add("B", "x");
  EXPECT_GE(fields.GetCapacity(), 1001u);
  fields.Allocate(5);  // never shrinks
  EXPECT_GE(fields.GetCapacity(), 1001u);
}

TEST(HeaderFields, AddedFieldPointersStayValid) {
  CRfc822Fields fields;
  CRfc822Field* first = fields.Add("Subject", "kept");
  for (int i = 0; i < 500; ++i) fields.Add(i % 2 ? "To" : "A", "x");
  fields.Sort(CRfc822Fields::ORDER_BY_NAME);
  EXPECT_EQ(Str(first->GetContents()), "kept");
  EXPECT_EQ(&fields[fields.FindFirst("Subject")], first);
}

TEST(HeaderFields, CopiesAndAppending) {
  CRfc822Fields a;
  a.Add("To", "t");
  a.Add("Cc", "c");
  a.Sort(CRfc822Fields::ORDER_BY_NAME);
  CRfc822Fields b(a);
  EXPECT_EQ(b.GetOrder(), CRfc822Fields::ORDER_BY_NAME);
  EXPECT_EQ(Contents(b), (std::vector<std::string>{"c", "t"}));
  EXPECT_EQ(b[0].GetIndex(), 1u);  // indexes kept
  b[0].PutContents("changed");
  EXPECT_EQ(Str(a[0].GetContents()), "c");
  a += a;  // itself: nothing
  EXPECT_EQ(a.GetCount(), 2u);
  CRfc822Fields c;
  c.Add("Z", "z");
  c += b;  // renumbered
  EXPECT_EQ(Contents(c), (std::vector<std::string>{"z", "changed", "t"}));
  EXPECT_EQ(c[2].GetIndex(), 2u);
}

// Fields added from strings hold what the C-string form holds: the texts up
// to their first NUL byte; a later change of either side leaves the other.
TEST(HeaderFields, AddingStringsKeepsTheTextsUpToANul) {
  CRfc822Fields fields;
  TSTRING name("Subject"), value("plain"), withNul("cut\0here", 8), nameWithNul("X-A\0B", 5);
  fields.Add(name, value);
  fields.Add(TSTRING("Cc"), withNul);
  fields.Add(nameWithNul, TSTRING("v"));
  ASSERT_EQ(fields.GetCount(), 3u);
  fields.Sort(CRfc822Fields::ORDER_BY_NAME);
  EXPECT_EQ(Contents(fields), (std::vector<std::string>{"cut", "plain", "v"}));  // sorted: Cc, Subject, X-A
  EXPECT_EQ(Str(fields[2].GetName()), "X-A");
  EXPECT_EQ(fields[2].GetIndex(), 2u);
  value.MakeUpper();
  fields[1].PutContents("changed");
  EXPECT_EQ(Str(value), "PLAIN");
  fields.Add(name, value);
  EXPECT_EQ(Str(fields[fields.FindFirst("Subject")].GetContents()), "PLAIN");  // in front of its name
}

TEST(HeaderFields, RemoveAtKeepsInsertionNumbersDense) {
  CRfc822Fields fields;
  for (const char* name : {"A", "B", "C", "D"}) fields.Add(name, name);
  fields.Sort(CRfc822Fields::ORDER_BY_NAME);
  fields.RemoveAt(1);  // B
  fields.Add("E", "E");
  fields.Sort(CRfc822Fields::ORDER_INSERTION);
  EXPECT_EQ(Contents(fields), (std::vector<std::string>{"A", "C", "D", "E"}));
  for (ULONG i = 0; i < fields.GetCount(); ++i) EXPECT_EQ(fields[static_cast<LONG>(i)].GetIndex(), i);
}

TEST(HeaderFields, KnownHeaderTable) {
  struct {
    const char* name;
    bool known;
  } rows[] = {
      {"Content-Type", true},  {"CONTENT-TYPE", true},   {"Content-type", true}, {"content-type", false},
      {"Resent-From", true},   {"Resent-Sender", false}, {"Resent-Bcc", false},  {"Return-Path", true},
      {"MIME-Version", true},  {"Mime-Version", true},   {"X-Mailer", false},    {"Subjec", false},
      {"Content-ID", true},    {"Priority", true},       {"", false},            {nullptr, false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(CRfc822Field::IsKnownHeader(row.name) != 0, row.known) << (row.name ? row.name : "(null)");
  }
}

TEST(HeaderFields, ComposeHeaderTable) {
  const std::string a76(76, 'a');
  struct {
    const char* name;
    std::string value;
    ULONG limit;
    std::string out;
  } rows[] = {
      {"Subject", "", 76, "Subject:\r\n"},
      {"Subject", "   ", 76, "Subject: \r\n"},
      {"Subject", "  hello   world\tagain ", 76, "Subject: hello world again\r\n"},
      {"To", "a@x,b@y", 76, "To: a@x,b@y\r\n"},
      {"To", "aaaaaaaaaa bbbbbbbbbb cccccccccc dddddddddd eeeeeeeeee ffffffffff gggggggggg hhhhhhhhhh", 76,
       "To: aaaaaaaaaa bbbbbbbbbb cccccccccc dddddddddd eeeeeeeeee ffffffffff\r\n  gggggggggg hhhhhhhhhh\r\n"},
      {"Name", std::string(200, 'a'), 76,
       "Name: \r\n " + a76 + "\r\n " + a76 + "\r\n " + std::string(48, 'a') + "\r\n"},
      {"X", "ab", 0, "X: \r\n a\r\n b\r\n"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Compose(row.name, row.value.c_str(), row.limit), row.out) << Show(row.value);
  }
  EXPECT_EQ(Compose("Subject", nullptr, 76), "Subject:\r\n");
}

// Folding changes only white space: unfolding the lines gives the value's
// words separated by single spaces, and no line runs more than two columns
// past the limit (the indent before a piece of limit characters).
TEST(HeaderFields, ComposeHeaderOfALongValueTakesLinearTime) {
  // Four megabytes of short words: every piece is looked at once, never the
  // rest of the value again.
  std::string value;
  for (int i = 0; i < 1400000; ++i) value += "ab ";
  CCpuTimer timer;
  std::string out = Compose("Subject", value.c_str(), 76);
  EXPECT_LT(timer.Seconds(), 3 * kSanitizerSlowdown);
  size_t words = 0;
  for (size_t at = out.find("ab"); at != std::string::npos; at = out.find("ab", at + 2)) ++words;
  EXPECT_EQ(words, 1400000u);
  EXPECT_EQ(out.substr(out.size() - 4), "ab\r\n");
}

TEST(HeaderFields, ComposeHeaderFoldsOnlyWhiteSpace) {
  std::mt19937 rng(9);
  for (int trial = 0; trial < 2000; ++trial) {
    std::string value;
    size_t n = rng() % 300;
    for (size_t i = 0; i < n; ++i) value += "aaaab,; \t"[rng() % 9];
    ULONG limit = trial % 3 == 0 ? 20 : 76;
    std::string out = Compose("Subject", value.c_str(), limit);
    if (value.empty()) {
      EXPECT_EQ(out, "Subject:\r\n");
      continue;
    }
    ASSERT_GE(out.size(), 10u);
    ASSERT_EQ(out.substr(out.size() - 2), "\r\n");
    std::string lines = out.substr(0, out.size() - 2);
    size_t start = 0;
    for (;;) {
      size_t end = lines.find("\r\n", start);
      size_t length = (end == std::string::npos ? lines.size() : end) - start;
      EXPECT_LE(length, limit + 2) << Show(out);
      if (end == std::string::npos) break;
      start = end + 2;
    }
    std::string unfolded = out.substr(0, out.size() - 2);
    const std::string prefix = "Subject: ";
    ASSERT_EQ(unfolded.compare(0, prefix.size(), prefix), 0) << Show(out);
    unfolded = unfolded.substr(prefix.size());
    std::string joined;
    for (size_t i = 0; i < unfolded.size();) {
      if (unfolded.compare(i, 4, "\r\n  ") == 0) {
        joined += ' ';
        i += 4;
      } else if (unfolded.compare(i, 3, "\r\n ") == 0) {
        i += 3;
      } else {
        joined += unfolded[i++];
      }
    }
    std::string words;
    bool space = false;
    for (char c : value) {
      if (c == ' ' || c == '\t') {
        space = !words.empty();
      } else {
        if (space) words += ' ';
        space = false;
        words += c;
      }
    }
    EXPECT_EQ(joined, words) << Show(value);
  }
}

TEST(HeaderFields, ComposeHeaderThrowsTheStreamsFailure) {
  CTestStream out;
  out.failWrite = static_cast<HRESULT>(0x80000009u);
  try {
    CRfc822Field::ComposeHeader("Subject", "x", &out, 76);
    ADD_FAILURE() << "no throw";
  } catch (DWORD code) {
    EXPECT_EQ(code, 0x80000009u);
  }
}

TEST(HeaderFields, FormatHeaderTable) {
  struct {
    const char* name;
    const char* value;
    const char* items;
    ULONG limit, indent;
    std::string out;
  } rows[] = {
      {"Content-Type:", "multipart/mixed", "a=1, b=2 c=3", 40, 4,
       "Content-Type: multipart/mixed; a=1, b=2\r\n    c=3\r\n"},
      {"X:", nullptr, "one, two,", 76, 2, "X: one, two\r\n"},
      {"X:", "", "", 76, 2, "X:\r\n"},
      {"Keywords:", nullptr, "alpha beta", 12, 1, "Keywords:\r\n alpha beta\r\n"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Str(CRfc822Field::FormatHeader(row.name, row.value, row.items, row.limit, row.indent)), row.out)
        << row.items;
  }
}

TEST(HeaderFields, ComposingOperationsUseInsertionOrder) {
  CRfc822Fields fields;
  fields.Add("X-B", "1");
  fields.Add("Subject", "s");
  fields.Add("Resent-Sender", "r");
  fields.Add("X-A", "2");
  fields.Add("Received", "one");
  fields.Add("Received", "two");
  fields.Sort(CRfc822Fields::ORDER_BY_NAME);
  CTestStream ext;
  fields.ComposeExtensionHeaders(&ext);
  EXPECT_EQ(ext.str(), "X-B: 1\r\nResent-Sender: r\r\nX-A: 2\r\n");
  CTestStream received;
  fields.ComposeHeadersByName("received", &received, 76);
  EXPECT_EQ(received.str(), "Received: one\r\nReceived: two\r\n");
  CTestStream none;
  fields.ComposeHeadersByName(nullptr, &none, 76);
  fields.ComposeHeadersByName("Cc", &none, 76);
  EXPECT_EQ(none.str(), "");
}

TEST(HeaderFields, AssembleField) {
  CRfc822Fields fields;
  EXPECT_EQ(Str(fields.AssembleField("Subject", ',')), "");
  fields.Add("Subject", "");
  fields.Add("Subject", "a");
  fields.Add("To", "t");
  fields.Add("Subject", "");
  fields.Add("subject", "b");
  fields.Sort(CRfc822Fields::ORDER_BY_NAME);
  EXPECT_EQ(Str(fields.AssembleField("SUBJECT", ',')), "a,,b");
  EXPECT_EQ(Str(fields.AssembleField("Cc", ',')), "");
  EXPECT_EQ(Str(fields.AssembleField(nullptr, ',')), "");
}

std::vector<std::string> Addresses(CRfc822Addresses* list) {
  std::vector<std::string> out;
  if (list == nullptr) return out;
  for (void* p = list->GetHeadPosition(); p != nullptr;) {
    CRfc822Address& a = list->GetNext(p);
    EXPECT_EQ(a.GetAddressType(), ADDRESS_TYPE_FIELD);
    out.push_back(Str(a.GetAddress()));
  }
  return out;
}

TEST(HeaderFields, AddressListsAreParsedOnDemandAndKept) {
  CRfc822Field empty("To", "", 0);
  EXPECT_EQ(empty.GetAddreses(), nullptr);
  EXPECT_EQ(empty.GetAddreses(), nullptr);

  CRfc822Field to("To", "Help Desk <js@host>, Friends: a@x, b@y;, c@z", 0);
  CRfc822Addresses* list = to.GetAddreses();
  EXPECT_EQ(Addresses(list), (std::vector<std::string>{"js@host", "a@x", "b@y", "c@z"}));
  EXPECT_EQ(to.GetAddreses(), list);  // kept

  // Copies carry their own copy of the parsed list.
  CRfc822Field copy(to);
  CRfc822Field assigned;
  assigned = to;
  to.PutContents("d@w");
  EXPECT_EQ(Addresses(to.GetAddreses()), (std::vector<std::string>{"d@w"}));
  EXPECT_EQ(Addresses(copy.GetAddreses()), (std::vector<std::string>{"js@host", "a@x", "b@y", "c@z"}));
  EXPECT_EQ(Addresses(assigned.GetAddreses()), (std::vector<std::string>{"js@host", "a@x", "b@y", "c@z"}));
  to.PutContents("");
  EXPECT_EQ(to.GetAddreses(), nullptr);

  // A text without addresses still gives a list, kept as it is.
  CRfc822Field odd("Cc", ",,", 0);
  ASSERT_NE(odd.GetAddreses(), nullptr);
  EXPECT_EQ(odd.GetAddreses()->GetCount(), 0);

  CRfc822Fields fields;
  fields.Add("To", "a@x, b@y")->GetAddreses();
  CRfc822Fields other(fields);
  EXPECT_EQ(Addresses(other[0].GetAddreses()), (std::vector<std::string>{"a@x", "b@y"}));
}

}  // namespace
