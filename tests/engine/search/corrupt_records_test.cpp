// Damaged records of every matcher: each truncation and each out-of-range
// value must fail with its code and leave an object that is safe to use.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/allocprobe.h"
#include "common/teststream.h"
#include "foundation/errorroad.h"
#include "search/dfatranstable.h"
#include "search/regexpr.h"
#include "search/searchresults.h"
#include "search/seekdictionary.h"
#include "search/seekexactstr.h"
#include "search/seekmatches.h"
#include "search/seekmultiwords.h"
#include "search/seeksubstr.h"
#include "search/setbits.h"

using namespace telsor;

namespace {
const HRESULT kFail = E_FAIL;
const HRESULT kBadRecord = ResultFromSystemError(ERROR_INVALID_DATA_RECORD);

enum Kind { BASE, EXACT, DICTIONARY, SUBSTR, MATCHES, TABLE, SETBITS, REGEXPR, MULTIWORDS };

// Loads bytes into a fresh object of the kind; returns the result and
// exercises the object afterwards.
HRESULT Load(Kind kind, const std::string& bytes) {
  CTestStream s(bytes);
  HRESULT hr;
  if (kind == TABLE) {
    CSharedObjPtr<CDFATransTable> t = new CDFATransTable;
    hr = t->Serialize(&s, 0);
    for (DWORD st = 0; st < t->GetStateCount(); ++st)
      for (DWORD c = 0; c < 256; ++c) t->Lookup(static_cast<WORD>(st), c);
    return hr;
  }
  if (kind == SETBITS) {
    CSetBits b;
    hr = b.Serialize(&s, 0);
    b.GetHash();
    b.SetBitAt(3, 1);
    return hr;
  }
  std::unique_ptr<CSeekPattern> m;
  switch (kind) {
    case BASE: m.reset(new CSeekPattern); break;
    case EXACT: m.reset(new CSeekExactStr); break;
    case DICTIONARY: m.reset(new CSeekDictionary); break;
    case SUBSTR: m.reset(new CSeekSubstr); break;
    case REGEXPR: m.reset(new CRegExpr); break;
    case MULTIWORDS: m.reset(new CSeekMultiWords); break;
    default: m.reset(new CSeekMatches(SEEK_CAPS_BRACKETS | SEEK_CAPS_ESCAPE)); break;
  }
  hr = m->Serialize(&s, 0);
  const char* text = "xxabcabyy alpha beta";
  DWORD len;
  m->Search(text, 0, &len);
  m->Search(text, 3, &len);
  CTestStream body(std::string(text) + std::string(0x3000, 'a'));
  m->Search(&body, 0x3000, &len);
  for (DWORD i = 0; i < m->GetCount(); ++i) m->GetPattern(static_cast<LONG>(i));
  return hr;
}

std::string Stored(const std::function<HRESULT(CTestStream&)>& store) {
  CTestStream s;
  EXPECT_EQ(0, store(s));
  return s.str();
}

std::string U16(unsigned v) { return std::string{static_cast<char>(v), static_cast<char>(v >> 8)}; }
std::string U32(unsigned v) { return U16(v & 0xFFFF) + U16(v >> 16); }

// A two-state table: state 0 (dense, base 0) moves to 1 on index 0; state
// 1 defaults to 0 and has no move on index 1.
std::string TableRecord(unsigned entries, unsigned states, unsigned dense, unsigned def1,
                        unsigned base1, unsigned next2, unsigned check2) {
  std::string r = "\x01" + U32(entries) + U32(states) + U32(0) + U16(dense);
  r += std::string(1, '\0') + U16(0xFFFF) + U32(0);
  r += std::string(1, '\x01') + U16(def1) + U32(base1);
  r += U16(1) + U16(0) + U16(0xFFFF) + U16(0) + U16(next2) + U16(check2);
  return r;
}
}  // namespace

TEST(CorruptRecordsTest, EveryTruncationFails) {
  struct Record {
    const char* name;
    Kind kind;
    std::string bytes;
    size_t baseEnd;  // substring matcher: kBadRecord from here on
  };
  std::vector<Record> records;
  CSeekPattern base;
  base.Compile("abc", 1, 0);
  records.push_back({"base", BASE, Stored([&](CTestStream& s) { return base.Serialize(&s, 1); }), 0});
  CSeekExactStr exact;
  exact.Compile("abc", 0, 0);
  records.push_back({"exact", EXACT, Stored([&](CTestStream& s) { return exact.Serialize(&s, 1); }), 0});
  CSeekDictionary dict;
  const char* words[] = {"beta", "alpha", nullptr};
  dict.Compile(words, 0);
  records.push_back({"dictionary", DICTIONARY, Stored([&](CTestStream& s) { return dict.Serialize(&s, 1); }), 0});
  CSeekSubstr sub;
  sub.Compile("abcab", 1, 0);
  records.push_back({"substr", SUBSTR, Stored([&](CTestStream& s) { return sub.Serialize(&s, 1); }), 10});
  CSeekMatches wild;
  wild.Compile("a*[bc]", 1, 0);
  records.push_back({"matches", MATCHES, Stored([&](CTestStream& s) { return wild.Serialize(&s, 1); }), 0});
  records.push_back({"table", TABLE, TableRecord(3, 2, 0, 0, 1, 0xFFFF, 1), 0});
  CRegExpr re;
  re.Compile("^a[bc]+$", 0, 0);
  records.push_back({"regexpr", REGEXPR, Stored([&](CTestStream& s) { return re.Serialize(&s, 1); }), 0});
  CSeekMultiWords multi;
  const char* keys[] = {"alpha", "beta", "\n.\n", nullptr};
  multi.Compile(keys, 0);
  records.push_back({"multiwords", MULTIWORDS, Stored([&](CTestStream& s) { return multi.Serialize(&s, 1); }), 0});
  CSetBits bits;
  bits.SetBitAt(70, 1);
  records.push_back({"setbits", SETBITS, Stored([&](CTestStream& s) { return bits.Serialize(&s, 1); }), 0});

  for (const Record& r : records) {
    ASSERT_EQ(0, Load(r.kind, r.bytes)) << r.name;
    for (size_t cut = 0; cut < r.bytes.size(); ++cut) {
      HRESULT want = r.kind == SUBSTR && cut >= r.baseEnd ? kBadRecord : kFail;
      EXPECT_EQ(want, Load(r.kind, r.bytes.substr(0, cut))) << r.name << " cut at " << cut;
    }
  }
}

TEST(CorruptRecordsTest, OutOfRangeValuesFail) {
  CSeekDictionary dict;
  const char* words[] = {"beta", "alpha", nullptr};
  dict.Compile(words, 1);
  const std::string d = Stored([&](CTestStream& s) { return dict.Serialize(&s, 1); });
  // Dictionary layout: base 5, count 4 at 5, size 4 at 9, block at 13:
  // entries (offset u32, length u16, pad u16) x 2, then "alpha\0beta\0".
  auto patch = [](std::string s, size_t at, const std::string& with) { return s.replace(at, with.size(), with); };
  const size_t block = 13;

  CSeekSubstr sub;
  sub.Compile("abcab", 1, 0);
  const std::string b = Stored([&](CTestStream& s) { return sub.Serialize(&s, 1); });
  // Substring layout: base 10, size 4 at 10, bad-character table at 14,
  // good-suffix shifts at 270.

  CRegExpr re;
  re.Compile("ab", 1, 0);
  const std::string r = Stored([&](CTestStream& s) { return re.Serialize(&s, 1); });
  // Regular-expression layout: version 0, base 1..7 ("ab"), flags 8,
  // has-table 9, the table record at 10 (entry count 11, state count 15,
  // minimum index 19, dense state 23, states at 25).
  const size_t table = 10;
  ASSERT_EQ(std::string("\x01\x01\x02\x00" "ab\x01\x20\x00\x01\x01", 11), r.substr(0, 11));
  ASSERT_EQ(U32(re.GetTable()->GetStateCount()), r.substr(table + 5, 4));

  CSeekMultiWords multi;
  const char* keys[] = {"ab", "cd", nullptr};
  multi.Compile(keys, 1);
  const std::string m = Stored([&](CTestStream& s) { return multi.Serialize(&s, 1); });
  // Multi-word layout: empty base 0..4, version 5, count 6, then per word
  // u16 length and bytes: "ab" at 10 (length) and 12, "cd" at 14 and 16.
  ASSERT_EQ(std::string("\x01\x00\x00\x01\x20\x01\x02\x00\x00\x00\x02\x00" "ab\x02\x00" "cd", 18), m);

  struct Case {
    const char* name;
    Kind kind;
    std::string bytes;
    HRESULT want;
  } cases[] = {
      {"base version 2", BASE, "\x02\x00\x00\x01\x20", kFail},
      {"base version 0", BASE, std::string("\x00\x00\x00\x01\x20", 5), kFail},
      {"matches pattern of 0xFFFF bytes", MATCHES, "\x01" + U16(0xFFFF) + std::string(0xFFFF, '*') + "\x01\x20", kFail},
      {"dictionary count beyond block", DICTIONARY, patch(d, 5, U32(0xFFFFFFFFu)), kFail},
      {"dictionary block smaller than entries", DICTIONARY, patch(d, 9, U32(8)), kFail},
      {"dictionary huge block, short record", DICTIONARY, patch(d, 9, U32(0xFFFFFFF0u)), kFail},
      {"dictionary offset into entries", DICTIONARY, patch(d, block, U32(4)), kFail},
      {"dictionary offset past block", DICTIONARY, patch(d, block, U32(1000)), kFail},
      {"dictionary length past block", DICTIONARY, patch(d, block + 4, U16(40)), kFail},
      {"dictionary word without NUL", DICTIONARY, patch(d, block + 16 + 5, "x"), kFail},
      {"dictionary NUL inside word", DICTIONARY, patch(d, block + 16 + 2, std::string(1, '\0')), kFail},
      {"substr tables missing", SUBSTR, b.substr(0, 10) + U32(0), kBadRecord},
      {"substr tables too small", SUBSTR, patch(b, 10, U32(256 + 9)).substr(0, 14 + 256 + 9), kBadRecord},
      {"substr huge tables, short record", SUBSTR, patch(b, 10, U32(0xFFFFFFF0u)), kBadRecord},
      {"substr zero good-suffix shift", SUBSTR, patch(b, 270 + 4, U16(0)), kBadRecord},
      {"table version 2", TABLE, patch(TableRecord(3, 2, 0, 0, 1, 0xFFFF, 1), 0, "\x02"), kFail},
      {"table too many states", TABLE, TableRecord(3, 0x10000, 0, 0, 1, 0xFFFF, 1), kFail},
      {"table dense state out of range", TABLE, TableRecord(3, 2, 2, 0, 1, 0xFFFF, 1), kFail},
      {"table default out of range", TABLE, TableRecord(3, 2, 0, 2, 1, 0xFFFF, 1), kFail},
      {"table default loops to itself", TABLE, TableRecord(3, 2, 0, 1, 1, 0xFFFF, 1), kFail},
      {"table default cycle", TABLE, patch(TableRecord(3, 2, 0, 0, 1, 0xFFFF, 1), 16, U16(1)), kFail},
      {"table base 0xFFFFFFFF", TABLE, TableRecord(3, 2, 0, 0, 0xFFFFFFFFu, 0xFFFF, 1), kFail},
      {"table next out of range", TABLE, TableRecord(3, 2, 0, 0, 1, 2, 1), kFail},
      {"table check out of range", TABLE, TableRecord(3, 2, 0, 0, 1, 0xFFFF, 7), kFail},
      {"table huge entry count, short record", TABLE, TableRecord(0xFFFFFFF0u, 2, 0, 0, 1, 0xFFFF, 1), kFail},
      {"regexpr version 2", REGEXPR, patch(r, 0, "\x02"), E_RECORD_VERSION},
      {"regexpr base version 2", REGEXPR, patch(r, 1, "\x02"), kFail},
      {"regexpr table version 2", REGEXPR, patch(r, table, "\x02"), kFail},
      {"regexpr table too many states", REGEXPR, patch(r, table + 5, U32(0x10000)), kFail},
      {"regexpr table dense state out of range", REGEXPR, patch(r, table + 13, U16(0xFFF0)), kFail},
      {"regexpr table default out of range", REGEXPR, patch(r, table + 15 + 1, U16(0xFFF0)), kFail},
      {"regexpr table default loops to itself", REGEXPR, patch(r, table + 15 + 1, U16(0)), kFail},
      {"regexpr table base 0xFFFFFFFF", REGEXPR, patch(r, table + 15 + 3, U32(0xFFFFFFFFu)), kFail},
      {"regexpr table huge entry count, short record", REGEXPR, patch(r, table + 1, U32(0xFFFFFFF0u)), kFail},
      {"regexpr table without a table", REGEXPR, r.substr(0, table), kFail},
      {"multiwords version 2", MULTIWORDS, patch(m, 5, "\x02"), E_RECORD_VERSION},
      {"multiwords base version 2", MULTIWORDS, patch(m, 0, "\x02"), kFail},
      {"multiwords word of length 0", MULTIWORDS, patch(m, 10, U16(0)), kFail},
      {"multiwords word of 0xFFFF bytes", MULTIWORDS, patch(m, 10, U16(0xFFFF)), kFail},
      {"multiwords word longer than the record", MULTIWORDS, patch(m, 14, U16(300)), kFail},
      {"multiwords NUL inside a word", MULTIWORDS, patch(m, 12, std::string(1, '\0')), kFail},
      {"multiwords huge word count, short record", MULTIWORDS, patch(m, 6, U32(0xFFFFFFF0u)), kFail},
  };
  for (const Case& c : cases) EXPECT_EQ(c.want, Load(c.kind, c.bytes)) << c.name;
  // The unpatched records load.
  EXPECT_EQ(0, Load(DICTIONARY, d));
  EXPECT_EQ(0, Load(SUBSTR, b));
  EXPECT_EQ(0, Load(TABLE, TableRecord(3, 2, 0, 0, 1, 0xFFFF, 1)));
  EXPECT_EQ(0, Load(REGEXPR, r));
  EXPECT_EQ(0, Load(MULTIWORDS, m));
}

// Length fields are untrusted: a record that claims far more than it holds
// fails with its code having allocated little (the loaders grow their
// buffers as the bytes arrive).
TEST(CorruptRecordsTest, HugeLengthsAllocateLittle) {
  const std::string tail = "abcd";
  const std::string emptyBase = std::string("\x01\x00\x00\x01\x20", 5);
  // After the version and entry count: two states, minimum index 0, dense
  // state 0, the two state records.
  const std::string twoStates = U32(2) + U32(0) + U16(0) + std::string(1, '\0') + U16(0xFFFF) + U32(0) +
                                std::string(1, '\x01') + U16(0) + U32(1);
  const struct {
    const char* name;
    Kind kind;
    std::string bytes;
    HRESULT want;
  } cases[] = {
      {"setbits", SETBITS, U32(0) + U32(0x7FFFFFFFu) + tail, kFail},
      {"dictionary", DICTIONARY, emptyBase + U32(2) + U32(0x7FFFFFF0u) + tail, kFail},
      {"substr", SUBSTR, std::string("\x01\x02\x00" "ab\x01\x20", 7) + U32(0xFFFFFFF0u) + tail, kBadRecord},
      {"table entries", TABLE, "\x01" + U32(0x3FFFFFFFu) + twoStates + tail, kFail},
      {"table states", TABLE, "\x01" + U32(0) + U32(0xFFFF) + U32(0) + U16(0) + tail, kFail},
      {"multiwords", MULTIWORDS, emptyBase + "\x01" + U32(0xFFFFFFFFu) + U16(2) + "ab" + tail, kFail},
      {"regexpr table", REGEXPR, std::string("\x01\x01\x00\x00\x01\x20\x00\x01\x01", 9) + U32(0x3FFFFFFFu) + twoStates + tail,
       kFail},
  };
  for (const auto& c : cases) {
    telsor_test::CAllocProbe probe;
    EXPECT_EQ(c.want, Load(c.kind, c.bytes)) << c.name;
    EXPECT_LT(probe.Peak(), 1u << 20) << c.name;
  }
}

TEST(CorruptRecordsTest, StreamFailuresArePassedOn) {
  CSeekSubstr sub;
  sub.Compile("abc", 1, 0);
  CTestStream good;
  ASSERT_EQ(0, sub.Serialize(&good, 1));
  const HRESULT error = static_cast<HRESULT>(0x8000ABCDu);
  for (size_t at = 0; at < good.bytes.size(); at += 7) {
    CTestStream s(good.str());
    s.failReadAt = at;
    s.failure = error;
    CSeekSubstr r;
    EXPECT_EQ(error, r.Serialize(&s, 0)) << at;
  }
  CSharedObjPtr<CDFATransTable> t = new CDFATransTable;
  CTestStream failing(TableRecord(3, 2, 0, 0, 1, 0xFFFF, 1));
  failing.failReadAt = 20;
  failing.failure = error;
  EXPECT_EQ(error, t->Serialize(&failing, 0));
  EXPECT_EQ(0u, t->GetStateCount());
  CTestStream writeFail;
  writeFail.failWrite = error;
  EXPECT_EQ(error, sub.Serialize(&writeFail, 1));
}
