// TSTRING: construction, sharing, clamps, searching, buffers, storage, files.
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "foundation/exception.h"
#include "foundation/tstring.h"
#include "common/allocprobe.h"
#include "common/teststream.h"

using telsor::TSTRING;

namespace {

// The buffer header in front of the characters: count, length, capacity.
const int32_t* Header(const TSTRING& s) { return reinterpret_cast<const int32_t*>(s.c_str()) - 3; }
int Refs(const TSTRING& s) { return Header(s)[0]; }
int Capacity(const TSTRING& s) { return Header(s)[2]; }
bool IsNil(const TSTRING& s) { return s.c_str() == telsor::_tmpPchNil; }

std::string Bytes(const TSTRING& s) { return std::string(s.c_str(), static_cast<size_t>(s.GetLength())); }

// Every string keeps a NUL at its length and a length within its capacity.
void ExpectWellFormed(const TSTRING& s) {
  EXPECT_LE(s.GetLength(), Capacity(s));
  EXPECT_EQ(s.c_str()[s.GetLength()], '\0');
  EXPECT_EQ(Header(s)[1], s.GetLength());
}

// ---- construction and assignment ----

TEST(TstringConstruct, Table) {
  const std::string withNul("a\0b", 3);
  struct Case {
    const char* name;
    std::function<TSTRING()> make;
    std::string bytes;
    bool nil;
  } cases[] = {
      {"default", [] { return TSTRING(); }, "", true},
      {"empty text", [] { return TSTRING(""); }, "", true},
      {"null text", [] { return TSTRING(static_cast<const char*>(nullptr)); }, "", true},
      {"resource id", [] { return TSTRING(reinterpret_cast<const char*>(0x1234)); }, "", true},
      {"text", [] { return TSTRING("abc"); }, "abc", false},
      {"char repeated", [] { return TSTRING('x', 3); }, "xxx", false},
      {"char zero times", [] { return TSTRING('x', 0); }, "", true},
      {"char negative times", [] { return TSTRING('x', -2); }, "", true},
      {"counted with NUL", [] { return TSTRING("a\0b", 3); }, withNul, false},
      {"counted zero", [] { return TSTRING("abc", 0); }, "", true},
      {"std::string with NUL", [&] { return TSTRING(withNul); }, withNul, false},
      {"empty std::string", [] { return TSTRING(std::string()); }, "", true},
      {"wide", [] {
         static const unsigned short w[] = {'h', 'i', 0};
         return TSTRING(w);
       }, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSTRING s = c.make();
    EXPECT_EQ(Bytes(s), c.bytes);
    EXPECT_EQ(IsNil(s), c.nil);
    EXPECT_EQ(s.IsEmpty(), c.bytes.empty());
    if (!c.nil) {
      EXPECT_EQ(Refs(s), 1);
      EXPECT_EQ(Capacity(s), static_cast<int>(c.bytes.size()));  // exactly the size
    }
    ExpectWellFormed(s);
  }
}

TEST(TstringConstruct, CopySharesAndModifyingUnshares) {
  TSTRING a("abc");
  TSTRING b(a);
  EXPECT_EQ(a.c_str(), b.c_str());
  EXPECT_EQ(Refs(a), 2);
  b.MakeUpper();
  EXPECT_STREQ(a.c_str(), "abc");
  EXPECT_STREQ(b.c_str(), "ABC");
  EXPECT_EQ(Refs(a), 1);
  EXPECT_EQ(Refs(b), 1);
}

TEST(TstringConstruct, CopyOfLockedStringCopiesStoredLength) {
  TSTRING a("ab\0cd", 5);
  a.LockBuffer();
  EXPECT_EQ(Refs(a), -1);
  TSTRING b(a);
  EXPECT_NE(a.c_str(), b.c_str());
  EXPECT_EQ(Bytes(b), std::string("ab\0cd", 5));  // not cut at the NUL
  EXPECT_EQ(Refs(b), 1);
  EXPECT_EQ(Refs(a), -1);
}

TEST(TstringAssign, Table) {
  struct Case {
    const char* name;
    std::function<void(TSTRING&)> act;
    std::string bytes;
  } cases[] = {
      {"text", [](TSTRING& s) { s = "xyz"; }, "xyz"},
      {"null text", [](TSTRING& s) { s = static_cast<const char*>(nullptr); }, ""},
      {"NUL char has length 1", [](TSTRING& s) { s = '\0'; }, std::string(1, '\0')},
      {"char", [](TSTRING& s) { s = 'q'; }, "q"},
      {"wide leaves unchanged",
       [](TSTRING& s) {
         static const unsigned short w[] = {'h', 0};
         s = w;
       },
       "start"},
      {"string", [](TSTRING& s) { s = TSTRING("other"); }, "other"},
      {"empty string", [](TSTRING& s) { s = TSTRING(); }, ""},
      {"own substring", [](TSTRING& s) { s = s.c_str() + 2; }, "art"},
      {"AssignCopy with NUL", [](TSTRING& s) { s.AssignCopy(3, "a\0b"); }, std::string("a\0b", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSTRING s("start");
    c.act(s);
    EXPECT_EQ(Bytes(s), c.bytes);
    ExpectWellFormed(s);
  }
}

TEST(TstringAssign, SharingAndCopyingRules) {
  TSTRING a("abc");
  TSTRING b;
  b = a;  // shares
  EXPECT_EQ(a.c_str(), b.c_str());
  EXPECT_EQ(Refs(a), 2);
  b = b;  // self: nothing
  EXPECT_EQ(Refs(a), 2);

  // Into a locked buffer: copied in place, the lock kept.
  TSTRING locked("0123456789");
  const char* p = locked.LockBuffer();
  locked = a;
  EXPECT_EQ(locked.c_str(), p);
  EXPECT_STREQ(locked.c_str(), "abc");
  EXPECT_EQ(Refs(locked), -1);
  EXPECT_EQ(Refs(a), 2);

  // From a locked buffer: copied.
  TSTRING c;
  c = locked;
  EXPECT_NE(c.c_str(), locked.c_str());
  EXPECT_EQ(Refs(c), 1);

  // AssignCopy: in place when owned and large enough, new buffer when shared.
  TSTRING owned("longer text");
  const char* before = owned.c_str();
  owned = "short";
  EXPECT_EQ(owned.c_str(), before);
  EXPECT_EQ(Capacity(owned), 11);
  TSTRING shared(owned);
  shared = "x";
  EXPECT_NE(shared.c_str(), owned.c_str());
  EXPECT_STREQ(owned.c_str(), "short");
}

TEST(TstringAssign, EmptyBufferIsNeverCountedOrFreed) {
  for (int i = 0; i < 3; ++i) {
    TSTRING a(""), b(static_cast<const char*>(nullptr)), c(reinterpret_cast<const char*>(0x10));
    TSTRING d(a);
    d = b;
    c.Release();
    EXPECT_TRUE(IsNil(a) && IsNil(b) && IsNil(c) && IsNil(d));
    EXPECT_EQ(Refs(a), -1);
  }
  EXPECT_EQ(telsor::_tmpDataNil->nRefs, -1);
  EXPECT_EQ(telsor::_tmpPchNil[0], '\0');
}

// ---- concatenation ----

TEST(TstringConcat, OperatorsAgainstStdString) {
  const TSTRING ab("ab"), nul("x\0y", 3), empty;
  struct Case {
    const char* name;
    TSTRING result;
    std::string expected;
  } cases[] = {
      {"str+str", ab + nul, std::string("abx\0y", 5)},
      {"str+empty", ab + empty, "ab"},
      {"empty+empty", empty + empty, ""},
      {"str+text", ab + "cd", "abcd"},
      {"str+null text", ab + static_cast<const char*>(nullptr), "ab"},
      {"text+str", "cd" + ab, "cdab"},
      {"str+char", ab + 'c', "abc"},
      {"str+NUL char", ab + '\0', std::string("ab\0", 3)},
      {"char+str", 'z' + ab, "zab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Bytes(c.result), c.expected);
    EXPECT_EQ(IsNil(c.result), c.expected.empty());
    if (!c.expected.empty()) {
      EXPECT_EQ(Capacity(c.result), static_cast<int>(c.expected.size()));
    }
  }
}

TEST(TstringConcat, ConcatInPlaceGrowsExactlyAndUnshares) {
  TSTRING s("ab");
  s.ConcatInPlace(3, "c\0d");
  EXPECT_EQ(Bytes(s), std::string("abc\0d", 5));
  EXPECT_EQ(Capacity(s), 5);  // no slack

  s.reserve(20);
  const char* p = s.c_str();
  s.ConcatInPlace(2, "ef");
  EXPECT_EQ(s.c_str(), p);  // fitted in place
  EXPECT_EQ(s.GetLength(), 7);

  TSTRING copy(s);
  copy.ConcatInPlace(1, "g");
  EXPECT_EQ(s.GetLength(), 7);
  EXPECT_EQ(copy.GetLength(), 8);

  // Appending the string to itself, growing on the way.
  TSTRING self("xyz");
  self.ConcatInPlace(self.GetLength(), self.c_str());
  EXPECT_STREQ(self.c_str(), "xyzxyz");
  self.append(self.c_str(), -1);
  EXPECT_STREQ(self.c_str(), "xyzxyzxyzxyz");
  self.append(2, '!');
  EXPECT_STREQ(self.c_str(), "xyzxyzxyzxyz!!");
  self.append("abc", 0);
  self.append(0, 'q');
  EXPECT_EQ(self.GetLength(), 14);
}

// ---- searching ----

TEST(TstringFind, Table) {
  const TSTRING t("abcabc");
  const TSTRING nul("ab\0cab", 6);
  struct Case {
    const char* name;
    int got, want;
  } cases[] = {
      {"char", t.Find('c'), 2},
      {"char absent", t.Find('z'), -1},
      {"NUL char is the length", t.Find('\0'), 6},
      {"char from start", t.Find('a', 1), 3},
      {"char start at length", t.Find('a', 6), -1},
      {"char start past length", t.Find('a', 7), -1},
      {"find alias", t.find('b'), 1},
      {"sub", t.Find("ca"), 2},
      {"empty sub", t.Find(""), 0},
      {"sub absent", t.Find("cb"), -1},
      {"sub from start", t.Find("abc", 1), 3},
      {"sub start past length", t.Find("a", 7), -1},
      {"reverse", t.ReverseFind('b'), 4},
      {"reverse NUL", t.ReverseFind('\0'), -1},
      {"reverse empty", TSTRING().ReverseFind('a'), -1},
      {"rfind alias", t.rfind('a'), 3},
      {"one of", t.FindOneOf("xc"), 2},
      {"one of empty set", t.FindOneOf(""), -1},
      {"one of none", t.FindOneOf("xyz"), -1},
      // Searches stop at the first embedded NUL...
      {"NUL: char after NUL", nul.Find('c'), -1},
      {"NUL: first NUL", nul.Find('\0'), 2},
      {"NUL: sub after NUL", nul.Find("ca"), -1},
      {"NUL: reverse", nul.ReverseFind('a'), 0},
      {"NUL: one of", nul.FindOneOf("c"), -1},
      // ...unless started past it.
      {"NUL: char from after NUL", nul.Find('a', 3), 4},
      {"NUL: sub from after NUL", nul.Find("ab", 3), 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.got, c.want);
  }
}

// ---- sub-strings ----

TEST(TstringSubstring, ClampTable) {
  const TSTRING s("abcd");
  struct Case {
    const char* name;
    TSTRING got;
    const char* want;
  } cases[] = {
      {"Mid(1,2)", s.Mid(1, 2), "bc"},
      {"Mid(-3,2)", s.Mid(-3, 2), "ab"},
      {"Mid(1,-1)", s.Mid(1, -1), "bcd"},
      {"Mid(2,99)", s.Mid(2, 99), "cd"},
      {"Mid(4,1)", s.Mid(4, 1), ""},
      {"Mid(10)", s.Mid(10), ""},
      {"Mid(1)", s.Mid(1), "bcd"},
      {"Mid(INT_MIN)", s.Mid(INT_MIN), "abcd"},
      {"Mid(1,INT_MAX)", s.Mid(1, INT_MAX), "bcd"},
      {"Mid(0,0)", s.Mid(0, 0), ""},
      {"substr(1)", s.substr(1), "bcd"},
      {"substr(1,2)", s.substr(1, 2), "bc"},
      {"Left(2)", s.Left(2), "ab"},
      {"Left(-1)", s.Left(-1), ""},
      {"Left(99)", s.Left(99), "abcd"},
      {"Right(3)", s.Right(3), "bcd"},
      {"Right(-1)", s.Right(-1), ""},
      {"Right(99)", s.Right(99), "abcd"},
      {"SpanIncluding", s.SpanIncluding("ba"), "ab"},
      {"SpanIncluding empty set", s.SpanIncluding(""), ""},
      {"SpanExcluding", s.SpanExcluding("dc"), "ab"},
      {"SpanExcluding empty set", s.SpanExcluding(""), "abcd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_STREQ(c.got.c_str(), c.want);
    EXPECT_EQ(IsNil(c.got), *c.want == '\0');
  }
  EXPECT_STREQ(s.c_str(), "abcd");
}

// ---- in-place changes ----

TEST(TstringModify, DeleteInsertEraseClampTable) {
  struct Case {
    const char* name;
    std::function<int(TSTRING&)> act;
    int result;
    const char* want;
  } cases[] = {
      {"Delete(1,2)", [](TSTRING& s) { return s.Delete(1, 2); }, 3, "aev"},
      {"Delete(-2,3)", [](TSTRING& s) { return s.Delete(-2, 3); }, 2, "ev"},
      {"Delete(5,1)", [](TSTRING& s) { return s.Delete(5, 1); }, 5, "abcev"},
      {"Delete(1,0)", [](TSTRING& s) { return s.Delete(1, 0); }, 5, "abcev"},
      {"Delete(3,99)", [](TSTRING& s) { return s.Delete(3, 99); }, 3, "abc"},
      {"Delete(2,INT_MAX)", [](TSTRING& s) { return s.Delete(2, INT_MAX); }, 2, "ab"},
      {"Insert(0,c)", [](TSTRING& s) { return s.Insert(0, 'X'); }, 6, "Xabcev"},
      {"Insert(-5,c)", [](TSTRING& s) { return s.Insert(-5, 'X'); }, 6, "Xabcev"},
      {"Insert(99,c)", [](TSTRING& s) { return s.Insert(99, 'X'); }, 6, "abcevX"},
      {"Insert(2,s)", [](TSTRING& s) { return s.Insert(2, "XY"); }, 7, "abXYcev"},
      {"Insert(9,s)", [](TSTRING& s) { return s.Insert(9, "XY"); }, 7, "abcevXY"},
      {"Insert empty", [](TSTRING& s) { return s.Insert(1, ""); }, 5, "abcev"},
      {"Insert null", [](TSTRING& s) { return s.Insert(1, static_cast<const char*>(nullptr)); }, 5,
       "abcev"},
      {"Insert own text", [](TSTRING& s) { return s.Insert(1, s.c_str() + 3); }, 7, "aevbcev"},
      {"erase(2)", [](TSTRING& s) { s.erase(2); return s.GetLength(); }, 2, "ab"},
      {"erase(0,npos)", [](TSTRING& s) { s.erase(0, TSTRING::npos); return s.GetLength(); }, 0, ""},
      {"erase(1,2)", [](TSTRING& s) { s.erase(1, 2); return s.GetLength(); }, 3, "aev"},
      {"erase(-1)", [](TSTRING& s) { s.erase(-1); return s.GetLength(); }, 5, "abcev"},
      {"erase(5)", [](TSTRING& s) { s.erase(5); return s.GetLength(); }, 5, "abcev"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSTRING original("abcev");
    TSTRING s(original);  // shared: the original must not change
    EXPECT_EQ(c.act(s), c.result);
    EXPECT_STREQ(s.c_str(), c.want);
    EXPECT_STREQ(original.c_str(), "abcev");
    ExpectWellFormed(s);
  }
}

TEST(TstringModify, InsertGrowsToExactlyTheNewLength) {
  TSTRING s("abc");
  s.Insert(1, "xy");
  EXPECT_EQ(Capacity(s), 5);
  s.Insert(0, 'q');
  EXPECT_EQ(Capacity(s), 6);
}

TEST(TstringReplace, Examples) {
  TSTRING s("xabyab");
  EXPECT_EQ(s.Replace("ab", ""), 2);
  EXPECT_STREQ(s.c_str(), "xy");

  TSTRING a("aaa");
  EXPECT_EQ(a.Replace("a", "aa"), 3);  // new text is not searched again
  EXPECT_STREQ(a.c_str(), "aaaaaa");
  EXPECT_EQ(Capacity(a), 6);

  TSTRING n("abc");
  EXPECT_EQ(n.Replace(static_cast<const char*>(nullptr), "x"), 0);
  EXPECT_EQ(n.Replace("", "x"), 0);
  EXPECT_EQ(n.Replace("zz", "x"), 0);
  EXPECT_EQ(n.Replace("b", static_cast<const char*>(nullptr)), 1);
  EXPECT_STREQ(n.c_str(), "ac");

  TSTRING overlap("aaaa");
  EXPECT_EQ(overlap.Replace("aa", "b"), 2);
  EXPECT_STREQ(overlap.c_str(), "bb");
}

TEST(TstringReplace, ActsAfterEmbeddedNulAndKeepsSharingWhenNothingChanges) {
  TSTRING s("ab\0ab", 5);
  EXPECT_EQ(s.Replace("ab", "XYZ"), 2);
  EXPECT_EQ(Bytes(s), std::string("XYZ\0XYZ", 7));

  TSTRING c("a\0a", 3);
  EXPECT_EQ(c.Replace('a', 'b'), 2);
  EXPECT_EQ(Bytes(c), std::string("b\0b", 3));
  EXPECT_EQ(c.Replace('\0', '-'), 1);
  EXPECT_STREQ(c.c_str(), "b-b");

  TSTRING base("xyz");
  TSTRING copy(base);
  EXPECT_EQ(copy.Replace('x', 'x'), 0);
  EXPECT_EQ(copy.Replace("q", "r"), 0);
  EXPECT_EQ(copy.c_str(), base.c_str());  // still shared
  EXPECT_EQ(Refs(base), 2);
}

TEST(TstringModify, RemoveTrimCaseTable) {
  const std::string nul("aB\0cD", 5);
  struct Case {
    const char* name;
    std::string input;
    std::function<void(TSTRING&)> act;
    std::string want;
  } cases[] = {
      {"Remove", "banana", [](TSTRING& s) { s.Remove('a'); }, "bnn"},
      {"Remove NUL", nul, [](TSTRING& s) { s.Remove('\0'); }, "aBcD"},
      {"Remove after NUL", nul, [](TSTRING& s) { s.Remove('c'); }, std::string("aB\0D", 4)},
      {"RemoveAny", "a-b_c-", [](TSTRING& s) { s.RemoveAny("-_"); }, "abc"},
      {"RemoveAny drops NUL", nul, [](TSTRING& s) { s.RemoveAny("B"); }, "acD"},
      {"TrimRight", "  ab \t\n", [](TSTRING& s) { s.TrimRight(); }, "  ab"},
      {"TrimRight keeps NUL", std::string("ab\0 ", 4), [](TSTRING& s) { s.TrimRight(); },
       std::string("ab\0", 3)},
      {"TrimRight set", "abxyx", [](TSTRING& s) { s.TrimRight("xy"); }, "ab"},
      {"TrimRight set takes NUL", std::string("ab\0x", 4), [](TSTRING& s) { s.TrimRight("x"); },
       "ab"},
      {"TrimLeft", " \t ab ", [](TSTRING& s) { s.TrimLeft(); }, "ab "},
      {"TrimLeft all", "   ", [](TSTRING& s) { s.TrimLeft(); }, ""},
      {"TrimLeft set", "xyxab", [](TSTRING& s) { s.TrimLeft("xy"); }, "ab"},
      {"AllTrim", " \tab c\t ", [](TSTRING& s) { telsor::AllTrim(s, " \t"); }, "ab c"},
      {"AllTrim nothing", "abc", [](TSTRING& s) { telsor::AllTrim(s, " "); }, "abc"},
      {"MakeUpper stops at NUL", nul, [](TSTRING& s) { s.MakeUpper(); }, std::string("AB\0cD", 5)},
      {"MakeLower", "AbC", [](TSTRING& s) { s.MakeLower(); }, "abc"},
      {"MakeReverse", "abc", [](TSTRING& s) { s.MakeReverse(); }, "cba"},
      {"MakeReverse before NUL", nul, [](TSTRING& s) { s.MakeReverse(); },
       std::string("Ba\0cD", 5)},
      {"SetAt", "abc", [](TSTRING& s) { s.SetAt(1, 'X'); }, "aXc"},
      {"SetAt NUL keeps length", "abc", [](TSTRING& s) { s.SetAt(1, '\0'); },
       std::string("a\0c", 3)},
      {"SetAt out of range ignored", "abc", [](TSTRING& s) { s.SetAt(3, 'X'); }, "abc"},
      {"Release", "abc", [](TSTRING& s) { s.Release(); }, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSTRING original(c.input);
    TSTRING s(original);
    c.act(s);
    EXPECT_EQ(Bytes(s), c.want);
    EXPECT_EQ(Bytes(original), c.input);  // other holders never see a change
    ExpectWellFormed(s);
  }
  TSTRING empty;
  empty.TrimLeft();
  empty.TrimRight();
  empty.MakeUpper();
  empty.Remove('a');
  EXPECT_TRUE(IsNil(empty));
}

// ---- direct buffer access ----

TEST(TstringBuffer, LockingStates) {
  TSTRING s("abc");
  TSTRING shared(s);

  // GetBuffer unshares and keeps the contents; ReleaseBuffer fixes the length.
  char* p = s.GetBuffer(10);
  EXPECT_NE(p, shared.c_str());
  EXPECT_EQ(Capacity(s), 10);
  EXPECT_EQ(s.GetLength(), 3);
  memcpy(p, "hello\0world", 11);
  s.ReleaseBuffer(-1);
  EXPECT_STREQ(s.c_str(), "hello");
  p = s.GetBuffer(0);
  memcpy(p, "x\0y", 3);
  s.ReleaseBuffer(3);
  EXPECT_EQ(Bytes(s), std::string("x\0y", 3));
  EXPECT_STREQ(shared.c_str(), "abc");

  // GetBufferSetLength sets the length at once.
  TSTRING g;
  memset(g.GetBufferSetLength(4), 'z', 4);
  EXPECT_EQ(g.GetLength(), 4);
  EXPECT_STREQ(g.c_str(), "zzzz");

  // reserve keeps contents and length.
  TSTRING r("ab");
  r.reserve(50);
  EXPECT_EQ(Capacity(r), 50);
  EXPECT_STREQ(r.c_str(), "ab");
  r.FreeExtra();
  EXPECT_EQ(Capacity(r), 2);
  EXPECT_STREQ(r.c_str(), "ab");

  // Locked: count -1, copies get their own buffer, unlock gives count 1.
  TSTRING l("locked");
  TSTRING other(l);
  char* lp = l.LockBuffer();
  EXPECT_NE(lp, other.c_str());  // unshared first
  EXPECT_EQ(Refs(l), -1);
  EXPECT_EQ(Refs(other), 1);
  TSTRING copy(l);
  EXPECT_NE(copy.c_str(), l.c_str());
  l.UnlockBuffer();
  EXPECT_EQ(Refs(l), 1);
  TSTRING copy2(l);
  EXPECT_EQ(copy2.c_str(), l.c_str());  // shared again

  // UnlockBuffer on a shared buffer must not break the sharing.
  EXPECT_EQ(Refs(l), 2);
  l.UnlockBuffer();
  EXPECT_EQ(Refs(l), 2);

  // Releasing a locked buffer frees it (the sanitizer build checks for leaks).
  TSTRING freed("temp");
  freed.LockBuffer();
  freed.Release();
  EXPECT_TRUE(IsNil(freed));
  TSTRING emptyLocked;
  emptyLocked.LockBuffer();
  EXPECT_EQ(telsor::_tmpDataNil->nRefs, -1);
}

// ---- Format ----

template <class... A>
void ExpectFormat(const char* engineFormat, const char* cFormat, A... args) {
  SCOPED_TRACE(engineFormat);
  TSTRING s("old contents");
  s.Format(engineFormat, args...);
  char expected[512];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
  int n = snprintf(expected, sizeof expected, cFormat, args...);
#pragma GCC diagnostic pop
  EXPECT_EQ(s.GetLength(), n);
  EXPECT_STREQ(s.c_str(), expected);
}

TEST(TstringFormat, AgainstSnprintf) {
  ExpectFormat("plain", "plain");
  ExpectFormat("%d|%5d|%-5d|%05d", "%d|%5d|%-5d|%05d", -12, 34, 56, -7);
  ExpectFormat("%X %x %08X", "%X %x %08X", 0xDEADBEEFu, 255u, 0xABu);
  ExpectFormat("%I64d", "%lld", static_cast<long long>(INT64_MIN));
  ExpectFormat("%I64u", "%llu", static_cast<unsigned long long>(UINT64_MAX));
  ExpectFormat("%I64x|%20I64d", "%llx|%20lld", 0x123456789ABCDEFull, 42ll);
  ExpectFormat("%s/%.2s/%10s", "%s/%.2s/%10s", "abc", "xyz", "r");
  ExpectFormat("%c%c%%", "%c%c%%", 'o', 'k');
  ExpectFormat("%.3f %e %g", "%.3f %e %g", 3.14159, 12345.678, 0.0001);
  ExpectFormat("%*d|%.*s", "%*d|%.*s", 6, 42, 2, "abcdef");
  ExpectFormat("%lu %zu", "%lu %zu", 123456789012ul, static_cast<size_t>(77));
  ExpectFormat("I64 outside %d", "I64 outside %d", 5);
}

TEST(TstringFormat, ReplacesContentsAndAcceptsOwnText) {
  TSTRING s("abc");
  s.Format("[%s|%s]", s.c_str(), s.c_str());
  EXPECT_STREQ(s.c_str(), "[abc|abc]");
  s.Format("%s", "");
  EXPECT_TRUE(s.IsEmpty());
  TSTRING big;
  big.Format("%0300d", 1);
  EXPECT_EQ(big.GetLength(), 300);
}

// ---- ordering ----

TEST(TstringOrder, LessUsesByteOrder) {
  std::less<TSTRING> less;
  EXPECT_TRUE(less(TSTRING("B"), TSTRING("a")));  // case-sensitive byte order
  EXPECT_FALSE(less(TSTRING("a"), TSTRING("a")));
  EXPECT_TRUE(less(TSTRING(), TSTRING("a")));
  std::map<TSTRING, int> m;
  m[TSTRING("b")] = 2;
  m[TSTRING("a")] = 1;
  m[TSTRING("B")] = 0;
  int expected = 0;
  for (const auto& kv : m) EXPECT_EQ(kv.second, expected++);
}

// ---- storage ----

TEST(TstringSerialize, RecordsAndRoundTrips) {
  {
    CTestStream st;
    TSTRING empty;
    EXPECT_EQ(empty.Serialize(&st, 1), S_OK);
    EXPECT_EQ(st.bytes, std::vector<BYTE>(4, 0));
  }
  const std::string values[] = {"", "abc", std::string("a\0b\0", 4), std::string(300, 'x')};
  for (const std::string& v : values) {
    CTestStream st;
    TSTRING s(v);
    ASSERT_EQ(s.Serialize(&st, 1), S_OK);
    ASSERT_EQ(st.bytes.size(), 4 + v.size());
    DWORD n = st.bytes[0] | st.bytes[1] << 8 | st.bytes[2] << 16 | static_cast<DWORD>(st.bytes[3]) << 24;
    EXPECT_EQ(n, v.size());  // little-endian length
    EXPECT_EQ(std::string(st.bytes.begin() + 4, st.bytes.end()), v);
    st.pos = 0;
    TSTRING back("previous contents here");
    TSTRING holder(back);
    ASSERT_EQ(back.Serialize(&st, 0), S_OK);
    EXPECT_EQ(Bytes(back), v);
    ExpectWellFormed(back);
    EXPECT_STREQ(holder.c_str(), "previous contents here");
  }
}

TEST(TstringSerialize, FailuresTable) {
  struct Case {
    const char* name;
    std::vector<BYTE> bytes;
    HRESULT failRead;
    HRESULT want;
  } cases[] = {
      {"two bytes of length", {1, 0}, S_OK, E_FAIL},
      {"no bytes", {}, S_OK, E_FAIL},
      {"characters short", {5, 0, 0, 0, 'a', 'b'}, S_OK, E_FAIL},
      {"length 2^31", {0, 0, 0, 0x80}, S_OK, E_FAIL},
      {"length 2^32-1", {0xFF, 0xFF, 0xFF, 0xFF}, S_OK, E_FAIL},
      {"stream failure passes", {1, 0, 0, 0, 'a'}, E_ACCESSDENIED,
       E_ACCESSDENIED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTestStream st;
    st.bytes = c.bytes;
    if (c.failRead != S_OK) {
      st.failReadAt = 0;
      st.failure = c.failRead;
    }
    TSTRING s("keep");
    EXPECT_EQ(s.Serialize(&st, 0), c.want);
    ExpectWellFormed(s);
  }
  TSTRING s("abc");
  EXPECT_EQ(s.Serialize(nullptr, 1), E_POINTER);
  CTestStream failing;
  failing.failWrite = E_FAIL;
  EXPECT_EQ(s.Serialize(&failing, 1), E_FAIL);
  CTestStream shortWrite;
  shortWrite.writeLimit = 5;
  EXPECT_EQ(s.Serialize(&shortWrite, 1), E_FAIL);
}

// A length field is untrusted: a record that claims much and holds little
// fails having allocated little; a long record loads in full, into a
// buffer of exactly its length.
TEST(TstringSerialize, HugeLengthsGrowAsTheBytesArrive) {
  for (DWORD n : {0x7FFFFFFFu, 0x10000000u, 0x12345u}) {
    SCOPED_TRACE(n);
    CTestStream st(std::string{static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                               static_cast<char>(n >> 24)} +
                   "abcd");
    TSTRING s("keep");
    telsor_test::CAllocProbe probe;
    EXPECT_EQ(s.Serialize(&st, 0), E_FAIL);
    EXPECT_LT(probe.Peak(), 1u << 20);
    ExpectWellFormed(s);
  }
  const std::string big(300000, 'q');
  CTestStream st(std::string("\xE0\x93\x04\x00", 4) + big);
  st.maxChunk = 70000;  // the stream hands out less than each step asks for
  TSTRING s("previous");
  EXPECT_EQ(s.Serialize(&st, 0), E_FAIL);  // every step needs all its bytes
  st.maxChunk = 0xFFFFFFFFu;
  st.pos = 0;
  ASSERT_EQ(s.Serialize(&st, 0), S_OK);
  EXPECT_EQ(Bytes(s), big);
  EXPECT_EQ(Capacity(s), 300000);
  ExpectWellFormed(s);
}

// ---- files ----

class TstringFile : public ::testing::Test {
 protected:
  void SetUp() override {
    snprintf(path_, sizeof path_, "/tmp/tstring_test_%d_XXXXXX", static_cast<int>(getpid()));
    int fd = mkstemp(path_);
    ASSERT_GE(fd, 0);
    close(fd);
  }
  void TearDown() override { unlink(path_); }
  void Write(const std::string& content) {
    FILE* f = fopen(path_, "wb");
    ASSERT_NE(f, nullptr);
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
  }
  char path_[64];
};

TEST_F(TstringFile, ReadsWholeFileAndRestoresPosition) {
  const std::string content("line1\nbin\0ary\n", 14);
  Write(content);
  TSTRING s("old");
  s.LockBuffer();
  EXPECT_EQ(s.ReadFile(path_), 0u);
  EXPECT_EQ(Bytes(s), content);

  FILE* f = fopen(path_, "rb");
  ASSERT_NE(f, nullptr);
  fseek(f, 3, SEEK_SET);
  TSTRING t;
  EXPECT_EQ(t.ReadFile(f), 0u);
  EXPECT_EQ(Bytes(t), content);  // from the start of the file
  EXPECT_EQ(ftell(f), 3);
  fclose(f);

  Write("");
  EXPECT_EQ(t.ReadFile(path_), 0u);
  EXPECT_TRUE(t.IsEmpty());
}

TEST_F(TstringFile, ErrorsAreCodes) {
  TSTRING s("x");
  EXPECT_EQ(s.ReadFile("/nonexistent-dir/none"), 2u);  // ENOENT
  EXPECT_EQ(s.ReadFile(static_cast<const char*>(nullptr)), static_cast<DWORD>(E_POINTER));
  // A file of INT_MAX bytes or more cannot be held: out of memory, no read.
  ASSERT_EQ(truncate(path_, static_cast<off_t>(INT_MAX)), 0);
  EXPECT_EQ(s.ReadFile(path_), static_cast<DWORD>(E_OUTOFMEMORY));
  EXPECT_TRUE(s.IsEmpty());
  ASSERT_EQ(truncate(path_, static_cast<off_t>(INT_MAX) + 10), 0);
  EXPECT_EQ(s.ReadFile(path_), static_cast<DWORD>(E_OUTOFMEMORY));
}

#if defined(__SANITIZE_ADDRESS__)
#define TELSOR_ASAN 1
#else
#define TELSOR_ASAN 0
#endif

// Out of memory inside a child whose address space is capped: string
// growth throws the engine's memory exception and ReadFile answers E_OUTOFMEMORY.
TEST_F(TstringFile, OutOfMemoryInCappedChild) {
  if (TELSOR_ASAN) GTEST_SKIP() << "the sanitizer runtime needs an uncapped address space";
  ASSERT_EQ(truncate(path_, static_cast<off_t>(1) << 30), 0);  // 1 GiB, sparse
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    struct rlimit lim = {static_cast<rlim_t>(512) << 20, static_cast<rlim_t>(512) << 20};
    long pages = 0;
    if (FILE* statm = fopen("/proc/self/statm", "r")) {
      if (fscanf(statm, "%ld", &pages) != 1) pages = 0;
      fclose(statm);
    }
    lim.rlim_cur = lim.rlim_max = static_cast<rlim_t>(pages) * 4096 + (static_cast<rlim_t>(256) << 20);
    if (setrlimit(RLIMIT_AS, &lim) != 0) _exit(10);
    int code = 0;
    try {
      TSTRING s;
      s.GetBuffer(900 << 20);
      code = 11;
    } catch (telsor::CMemoryException* e) {
      if (e != &telsor::_simpleMemoryException) code = 12;
      e->Delete();
    }
    if (code == 0) {
      TSTRING f;
      DWORD r = f.ReadFile(path_);
      if (r != static_cast<DWORD>(E_OUTOFMEMORY)) code = 13;
    }
    _exit(code);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
