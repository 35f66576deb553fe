// The compiled form: exact bytes of node records and of the container,
// store/load round trips over every node type and matcher kind, and every
// way a damaged form is refused.
#include <float.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fakehost.h"
#include "filter/sieverecord.h"
#include "records.h"
#include "search/seekdictionary.h"
#include "treebuild.h"

using telsor::CSieveScript;
using namespace rec;

namespace {

std::string StoredNode(const CExprTreeNode& node) {
  CTestStream s;
  EXPECT_EQ(const_cast<CExprTreeNode&>(node).Serialize(&s, 1), S_OK);
  return s.str();
}

template <class T>
T* WithLine(T* node, ULONG line) {
  node->m_nLine = line;
  return node;
}

TEST(SieveRecords, ExactBytesOfNodeRecords) {
  CSharedObjPtr<CExprTreeNode> keep = WithLine(new CCmdKEEP, 3);
  EXPECT_EQ(StoredNode(*keep), std::string("\x0E\x00\x03\x00\x00\x00", 6));

  CSharedObjPtr<CExprTreeNode> abc = WithLine(new CQuotedString("abc"), 1);
  EXPECT_EQ(StoredNode(*abc), std::string("\x01\x00\x01\x00\x00\x00\x03\x00\x00\x00"
                                          "abc",
                                          13));

  CSharedObjPtr<CExprTreeNode> fileinto = WithLine(new CCmdFILEINTO(Strings({"INBX"})), 2);
  EXPECT_EQ(StoredNode(*fileinto), Head(12, 2) + U16(1) + U32(5) + U16(4) + "INBX");

  // A reject without a reason stores a quoted string without text (length
  // 0, then 0: none), one with an empty reason length 0, then 1.
  CSharedObjPtr<CExprTreeNode> reject = new CCmdREJECT(nullptr);
  EXPECT_EQ(StoredNode(*reject), Head(11) + Head(1) + U32(0) + U8(0));
  CSharedObjPtr<CExprTreeNode> rejectEmpty = new CCmdREJECT(new CQuotedString(""));
  EXPECT_EQ(StoredNode(*rejectEmpty), Head(11) + Head(1) + U32(0) + U8(1));

  CSharedObjPtr<CExprTreeNode> size = new CTestSIZE(NUMBER_OVER, 1024);
  EXPECT_EQ(StoredNode(*size), Head(29) + U8(2) + U64(1024));

  CSharedObjPtr<CExprTreeNode> spam = new CTestXSpamTest(RELATIONAL_GE, DBL_MAX);
  EXPECT_EQ(StoredNode(*spam), Head(35) + U8(4) + U64(0x7FEFFFFFFFFFFFFFull));

  // An if: end position (just after its block), flagged test and block, no next link.
  CSharedObjPtr<CListCommands> block = new CListCommands;
  block->AddTail(WithLine(new CCmdKEEP, 2));
  CSharedObjPtr<CExprTreeNode> ctrl = WithLine(new CCtrlIF(WithLine(new CTestBoolean(1), 1), block, nullptr), 1);
  std::string blockRecord = Head(17) + U32(1) + Head(14, 2);
  std::string afterEnd = U8(1) + Head(30, 1) + U8(1) + U8(1) + blockRecord;
  EXPECT_EQ(StoredNode(*ctrl), Head(20, 1) + U32(static_cast<uint32_t>(10 + afterEnd.size())) + afterEnd + U8(0));

  // Two :is keys share one dictionary, stored as kind 6 with its own record.
  CSharedObjPtr<CTestHEADER> header = new CTestHEADER(nullptr, Strings({"Subject"}), Strings({"b", "a"}));
  ASSERT_NE(dynamic_cast<telsor::CSeekDictionary*>(header->m_ppPatterns[0]), nullptr);
  CTestStream dictionary;
  ASSERT_EQ(header->m_ppPatterns[0]->Serialize(&dictionary, 1), S_OK);
  EXPECT_EQ(StoredNode(*header),
            Head(27) + U8(1) + U8(1) + U16(1) + U8(6) + dictionary.str() + U8(0) + Array({"Subject"}));
}

TEST(SieveRecords, EmptyScriptIsThirtyBytes) {
  CSieveScript empty;
  const unsigned char expected[] = {0x54, 0x45, 0x4C, 0x53, 0x4F, 0x52, 0x5F, 0x53, 0x49, 0x45,
                                    0x56, 0x45, 0x5D, 0x0B, 0x06, 0x00, 0x12, 0x00, 0x00, 0x00,
                                    0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(Stored(empty), std::string(reinterpret_cast<const char*>(expected), sizeof expected));
  EXPECT_EQ(Stored(empty), Container(Commands({})));

  CSieveScript loaded;
  ASSERT_EQ(Load(Stored(empty), loaded), S_OK);
  ASSERT_NE(loaded.GetRoot(), nullptr);
  EXPECT_EQ(loaded.GetRoot()->m_nType, CExprTreeNode::NODE_LIST_COMMANDS);
  CFakeHost host;
  EXPECT_EQ(host.Run(loaded), S_OK);
  EXPECT_EQ(host.Calls(), "");
}

// Scripts that between them hold every node type that scripts store and
// every matcher kind (1 exact, 2 multi-word, 3 wildcard, 4 substring, 5
// regex, 6 dictionary).
const char* const kRoundTrip[] = {
    "require [\"fileinto\", \"reject\", \"envelope\", \"vacation\", \"body\"];\n"
    "if header :is \"A\" \"yes\" { keep; }\n"
    "elsif header :contains \"B\" [\"yes\", \"no\"] { fileinto [\"x\", \"y\"]; }\n"
    "elsif header :matches \"C\" \"y*s\" { redirect \"a@b\"; }\n"
    "else { discard; stop; }\n"
    "if anyof(header :contains \"D\" \"no\", header :regex \"E\" \"^ye+s$\", not exists [\"yes\", \"F\"]) { keep; }\n"
    "if allof(address :domain :is [\"From\"] [\"yes\", \"b@c\"], envelope :count \"ge\" :comparator "
    "\"i;ascii-numeric\" \"from\" \"3\", true, not false) { discard; }\n"
    "if body :text :contains \"yes\" { vacation :days 7 :subject \"Away\" :addresses [\"me@x\"] :mime text:\n"
    "gone\n.\n; }\n"
    "if attachment :matches [\"yes\", \"*.exe\"] { stop; }\n"
    "if size :over 2M { keep; } if x_spamtest :value \"gt\" \"NIL\" { keep; } if x_spamtest :value \"le\" \"0.25\" { keep; }\n",
    "if header :is \"X\" \"no\" { reject text:\nline one\n..dot\n.\n; } else { reject \"plain\"; }\n",
    // Lists never given stay "not given": no :addresses, no content types.
    "vacation \"only a reason\"; vacation :days 3 \"r\"; keep; if body \"yes\" { discard; }",
};

TEST(SieveRecords, RoundTripPrintsAndRunsTheSame) {
  for (const char* text : kRoundTrip) {
    SCOPED_TRACE(text);
    CSieveScript script;
    ASSERT_EQ(script.ParseString(text, nullptr), S_OK) << script.GetErrorDescription();
    std::string bytes = Stored(script);
    CSieveScript loaded;
    ASSERT_EQ(Load(bytes, loaded), S_OK);
    telsor::TSTRING a, b;
    ASSERT_EQ(script.PrintToString(a), S_OK);
    ASSERT_EQ(loaded.PrintToString(b), S_OK);
    EXPECT_STREQ(a.c_str(), b.c_str());
    CFakeHost first, second;
    EXPECT_EQ(first.Run(script), second.Run(loaded));
    EXPECT_EQ(first.Calls(), second.Calls());
    EXPECT_NE(first.Calls(), "");
    EXPECT_EQ(Stored(loaded), bytes);
  }
}

// Every type code the factory knows stores and loads back into a node
// that stores the same bytes; codes 20, 21, 22 and 26 stay what they were.
TEST(SieveRecords, EveryNodeTypeComesBack) {
  for (DWORD code = 0; code <= CExprTreeNode::NODE_LAST; ++code) {
    SCOPED_TRACE(code);
    CExprTreeNode* made = nullptr;
    ASSERT_EQ(CExprTreeNode::CreateInstance(static_cast<CExprTreeNode::TYPE_NODE>(code), &made), S_OK);
    CSharedObjPtr<CExprTreeNode> node = made;
    node->m_nLine = 40 + code;
    CCtrlIF* ctrl = dynamic_cast<CCtrlIF*>(made);
    if (ctrl != nullptr && code != CExprTreeNode::NODE_ELSE) ctrl->m_pTest = new CTestBoolean(0);
    if (code == CExprTreeNode::NODE_NOT) static_cast<CTestNOT*>(made)->m_pTest = new CTestBoolean(1);
    std::string bytes = StoredNode(*node);
    ASSERT_GE(bytes.size(), 6u);
    EXPECT_EQ(bytes.substr(0, 6), Head(code, 40 + code));
    CTestStream in(bytes);   // positions inside are absolute: load in place
    in.pos = 2;
    CExprTreeNode* again = nullptr;
    ASSERT_EQ(CExprTreeNode::CreateInstance(static_cast<CExprTreeNode::TYPE_NODE>(code), &again), S_OK);
    CSharedObjPtr<CExprTreeNode> reloaded = again;
    ASSERT_EQ(reloaded->Serialize(&in, 0), S_OK);
    EXPECT_EQ(in.pos, in.bytes.size());
    EXPECT_EQ(reloaded->m_nType, code);
    EXPECT_EQ(StoredNode(*reloaded), bytes);
  }
}

TEST(SieveRecords, ContainerAtAnOffsetAndVersionFour) {
  CSieveScript script;
  ASSERT_EQ(script.ParseString("if header :is \"S\" \"yes\" {\n  keep;\n}\nelsif true {\n  discard;\n}", nullptr),
            S_OK);
  CTestStream s(std::string(37, 'p'));
  s.pos = 37;
  ASSERT_EQ(script.Serialize(&s, 1), S_OK);
  EXPECT_EQ(s.pos, s.bytes.size());
  std::string container = s.str().substr(37);
  EXPECT_EQ(container, Container(RootOf(container)));

  // The end positions inside are absolute, so the form loads where it was stored.
  s.pos = 37;
  CSieveScript loaded;
  EXPECT_EQ(loaded.Serialize(&s, 0), S_OK);
  CSieveScript moved;
  EXPECT_EQ(Load(container, moved), E_FAIL);
  EXPECT_EQ(moved.GetRoot(), nullptr);

  CSieveScript old;
  CSieveScript stored;
  ASSERT_EQ(stored.ParseString("keep; stop;", nullptr), S_OK);
  ASSERT_EQ(Load(Container(RootOf(Stored(stored)), 4), old), S_OK);
  CFakeHost host;
  EXPECT_EQ(host.Run(old), S_OK);
  EXPECT_EQ(host.Calls(), "keep stop@1");
}

// ---- damaged forms

// A valid form with one of every part that can be damaged.
std::string SampleRoot() {
  CSieveScript script;
  EXPECT_EQ(script.ParseString("if header :contains [\"Subject\"] [\"ab\", \"cd\"] { fileinto \"x\"; }\n"
                               "elsif not size :over 1K { reject \"r\"; } else { keep; }\n"
                               "vacation :days 1 :subject \"s\" \"r\";\n"
                               "if allof(exists \"a\", attachment \"*.exe\", address :regex \"From\" \"a+\") { stop; }",
                               nullptr),
            S_OK);
  return RootOf(Stored(script));
}

struct Damage {
  const char* what;
  std::function<std::string()> bytes;
  HRESULT result;
};

const std::string kKeep = Head(14);
const std::string kTrue = Head(30) + U8(1);

// An if record at stream offset `at`, with the test and block given (each
// already flagged) and the flagged next link; the end position is computed
// unless `end` is given.
std::string IfRecord(size_t at, int code, const std::string& test, const std::string& block, int64_t end = -1,
                     const std::string& next = U8(0)) {
  uint32_t stop = end >= 0 ? static_cast<uint32_t>(end) : static_cast<uint32_t>(at + 10 + test.size() + block.size());
  return Head(code) + U32(stop) + test + block + next;
}
// An if as the only command of the root: the root's record starts at 20.
std::string OnlyIf(const std::string& test, const std::string& block, int64_t end = -1) {
  return Container(Head(17) + U32(1) + IfRecord(30, 20, test, block, end));
}
std::string KeepBlock() { return U8(1) + Commands({kKeep}); }
// "if true" followed by one link of the code, with the (flagged) test given.
std::string IfThenLink(unsigned code, const std::string& linkTest) {
  std::string test = U8(1) + kTrue;
  size_t linkAt = 30 + 10 + test.size() + KeepBlock().size() + 1;
  std::string link = IfRecord(linkAt, static_cast<int>(code), linkTest, KeepBlock());
  return Container(Head(17) + U32(1) + IfRecord(30, 20, test, KeepBlock(), -1, U8(1) + link));
}
std::string HeaderTest(const std::string& kindAndRecord) {
  return Head(27) + U8(1) + U8(1) + U16(1) + kindAndRecord + U8(0) + Array({"Subject"});
}

const Damage kDamage[] = {
    {"magic differs", [] { std::string c = Container(Commands({})); c[3] = 'x'; return c; }, E_SIEVE_BAD_MAGIC},
    {"ends inside the magic", [] { return std::string("TELSOR_SI"); }, E_SIEVE_BAD_MAGIC},
    {"ends inside the checksum", [] { return Container(Commands({})).substr(0, 13); }, E_FAIL},
    {"ends inside the version", [] { return Container(Commands({})).substr(0, 15); }, E_RECORD_VERSION},
    {"version 7", [] { return Container(Commands({}), 7); }, E_RECORD_VERSION},
    {"version 3", [] { return Container(Commands({}), 3); }, E_RECORD_VERSION},
    {"ends inside the length", [] { return Container(Commands({})).substr(0, 18); }, E_FAIL},
    {"checksum field changed", [] { std::string c = Container(Commands({kKeep})); c[12] ^= 1; return c; },
     E_SIEVE_BAD_CHECKSUM},
    {"a record byte changed", [] { std::string c = Container(SampleRoot()); c[40] ^= 0x20; return c; },
     E_SIEVE_BAD_CHECKSUM},
    {"cut short without a new checksum", [] { std::string c = Container(SampleRoot()); return c.substr(0, c.size() - 1); },
     E_SIEVE_BAD_CHECKSUM},
    {"block of an if is a string list", [] { return OnlyIf(U8(1) + kTrue, U8(1) + Head(3) + U32(0)); }, E_FAIL},
    {"end position of an if moved", [] { return OnlyIf(U8(1) + kTrue, KeepBlock(), 99); }, E_FAIL},
    {"if without a test", [] { return OnlyIf(U8(0), KeepBlock()); }, E_FAIL},
    {"test of an if is a command", [] { return OnlyIf(U8(1) + kKeep, KeepBlock()); }, E_FAIL},
    {"test code of an if above 35", [] { return OnlyIf(U8(1) + Head(36), KeepBlock()); }, E_OUTOFMEMORY},
    {"command code above 35", [] { return Container(Commands({Head(40)})); }, E_SIEVE_BAD_NODE_TYPE},
    {"a test among the commands", [] { return Container(Commands({kTrue})); }, E_FAIL},
    {"an elsif link among the commands", [] { return Container(Commands({Head(21)})); }, E_FAIL},
    {"presence flag 2", [] { return OnlyIf(U8(2) + kTrue, KeepBlock()); }, E_FAIL},
    {"not without a test", [] { return OnlyIf(U8(1) + Head(28) + U8(0), KeepBlock()); }, E_FAIL},
    {"not of a command", [] { return OnlyIf(U8(1) + Head(28) + U8(1) + kKeep, KeepBlock()); }, E_FAIL},
    {"test code of a not above 35", [] { return OnlyIf(U8(1) + Head(28) + U8(1) + Head(99), KeepBlock()); },
     E_SIEVE_BAD_NODE_TYPE},
    {"a command inside allof",
     [] { return OnlyIf(U8(1) + Head(23) + U8(0) + U8(1) + Head(32) + U32(2) + kTrue + kKeep, KeepBlock()); },
     E_FAIL},
    {"matcher kind 7", [] { return OnlyIf(U8(1) + HeaderTest(U8(7)), KeepBlock()); }, E_NOTIMPL},
    {"matcher kind 0", [] { return OnlyIf(U8(1) + HeaderTest(U8(0)), KeepBlock()); }, E_NOTIMPL},
    {"text longer than what is left of the total",
     [] { return Container(Commands({Head(12) + U16(1) + U32(4) + U16(4) + "abcd"})); }, E_FAIL},
    {"many texts announced, few there",
     [] { return Container(Commands({Head(12) + U16(0xFFFF) + U32(0xFFFFFFFFu) + U16(1) + "a"})); }, E_FAIL},
    {"a 4 GiB text announced", [] { return Container(Commands({Head(11) + Head(1) + U32(0xFFFFFFFFu) + "abc"})); },
     E_FAIL},
    {"four billion commands announced", [] { return Container(Head(17) + U32(0xFFFFFFFFu) + kKeep + kKeep); }, E_FAIL},
    {"reason of a reject is a keep", [] { return Container(Commands({Head(11) + kKeep})); }, E_FAIL},
    {"vacation tags of the wrong code", [] { return Container(Commands({Head(16) + U8(1) + Head(1) + U32(0) + U8(0)})); },
     E_FAIL},
    {"elsif link without a test", [] { return IfThenLink(CExprTreeNode::NODE_ELSIF, U8(0)); }, E_FAIL},
    {"else link with a test", [] { return IfThenLink(CExprTreeNode::NODE_ELSE, U8(1) + kTrue); }, E_FAIL},
    {"a well-formed if and else", [] { return IfThenLink(CExprTreeNode::NODE_ELSE, U8(0)); }, S_OK},
};

TEST(SieveRecords, DamagedFormsAreRefused) {
  for (const Damage& d : kDamage) {
    SCOPED_TRACE(d.what);
    CSieveScript script;
    ASSERT_EQ(script.ParseString("discard;", nullptr), S_OK);
    EXPECT_EQ(Load(d.bytes(), script), d.result);
    // A header failure keeps the script; a record failure leaves it empty.
    CFakeHost host;
    host.Run(script);
    bool header = d.result == E_SIEVE_BAD_MAGIC || d.result == E_RECORD_VERSION || d.result == E_SIEVE_BAD_CHECKSUM ||
                  std::string(d.what).find("inside the") != std::string::npos;
    EXPECT_EQ(host.Calls(), d.result == S_OK ? "keep" : header ? "discard" : "");
  }
}

// A failing pattern list leaves the test without matchers, whatever it
// held before and however many matchers had been read.
TEST(SieveRecords, BadMatcherKindLeavesNoMatchers) {
  CSharedObjPtr<CTestHEADER> header = new CTestHEADER(nullptr, Strings({"Subject"}), Strings({"x"}));
  ASSERT_NE(header->m_ppPatterns, nullptr);
  CTestStream exact;
  ASSERT_EQ(header->m_ppPatterns[0]->Serialize(&exact, 1), S_OK);
  CTestStream in(U32(5) + U8(1) + U8(1) + U16(2) + U8(1) + exact.str() + U8(7));
  EXPECT_EQ(header->Serialize(&in, 0), E_NOTIMPL);
  EXPECT_EQ(header->m_ppPatterns, nullptr);
  EXPECT_EQ(header->m_nLine, 5u);
}

// A sealed form cut anywhere inside its records (header fixed up to match)
// is a short record.
TEST(SieveRecords, EveryTruncationIsAShortRecord) {
  std::string root = SampleRoot();
  for (size_t n = 2; n < root.size(); ++n) {
    SCOPED_TRACE(n);
    CSieveScript script;
    EXPECT_EQ(Load(Container(root.substr(0, n)), script), E_FAIL);
    EXPECT_EQ(script.GetRoot(), nullptr);
  }
  CSieveScript whole;
  EXPECT_EQ(Load(Container(root), whole), S_OK);
}

// A length field below 2 makes the checksum run to the end of the stream.
TEST(SieveRecords, ShortLengthChecksTheRestOfTheStream) {
  std::string root = Commands({kKeep});
  std::string rest = U16(5) + U32(1) + root;
  CSieveScript script;
  EXPECT_EQ(Load("TELSOR_SIEVE" + U16(Crc16(rest)) + rest, script), S_OK);
  EXPECT_EQ(Load("TELSOR_SIEVE" + U16(Crc16(rest) ^ 1) + rest, script), E_SIEVE_BAD_CHECKSUM);
}

CSharedObjPtr<CListCommands> NotChain(int depth) {
  CSharedObjPtr<CTest> test = new CTestBoolean(1);
  for (int i = 0; i < depth; ++i) test = new CTestNOT(test);
  CSharedObjPtr<CListCommands> root = new CListCommands;
  root->AddTail(new CCtrlIF(test, nullptr, nullptr));
  return root;
}

TEST(SieveRecords, NestingIsCapped) {
  for (int depth : {900, 1200}) {
    SCOPED_TRACE(depth);
    // Stored where a container's root record stands, for its end positions.
    CTestStream s(std::string(20, '\0'));
    s.pos = 20;
    ASSERT_EQ(NotChain(depth)->Serialize(&s, 1), S_OK);
    CSieveScript script;
    EXPECT_EQ(Load(Container(s.str().substr(20)), script), depth == 900 ? S_OK : E_FAIL);
  }
}

TEST(SieveRecords, StreamFailuresComeBackUnchanged) {
  CSieveScript script;
  ASSERT_EQ(script.ParseString("keep; discard;", nullptr), S_OK);
  const HRESULT kDenied = E_ACCESSDENIED;
  std::string bytes = Stored(script);
  for (size_t at : {size_t(5), size_t(14), size_t(25), bytes.size() - 1}) {
    SCOPED_TRACE(at);
    CTestStream in(bytes);
    in.failReadAt = at;
    in.failure = kDenied;
    CSieveScript loaded;
    EXPECT_EQ(loaded.Serialize(&in, 0), kDenied);
  }
  CTestStream out;
  out.failWrite = kDenied;
  EXPECT_EQ(script.Serialize(&out, 1), kDenied);
  CTestStream full;
  full.writeLimit = 24;
  EXPECT_EQ(script.Serialize(&full, 1), E_FAIL);
  CTestStream noSeek;
  noSeek.seeksUntilFailure = 0;
  EXPECT_EQ(script.Serialize(&noSeek, 1), E_FAIL);
  CTestStream noReadBack;
  noReadBack.failReadAt = 0;
  noReadBack.failure = kDenied;
  EXPECT_EQ(script.Serialize(&noReadBack, 1), kDenied);
  EXPECT_EQ(script.Serialize(nullptr, 1), E_POINTER);
}

// A tree the form cannot hold is refused when stored, never cut.
TEST(SieveRecords, TooLongTextIsNotStored) {
  std::string folder(65536, 'f');
  CSharedObjPtr<CCmdFILEINTO> fileinto = new CCmdFILEINTO(Strings({folder.c_str()}));
  CTestStream s;
  EXPECT_EQ(fileinto->Serialize(&s, 1), E_FAIL);
  folder.pop_back();
  CSharedObjPtr<CCmdFILEINTO> fits = new CCmdFILEINTO(Strings({folder.c_str()}));
  CTestStream t;
  EXPECT_EQ(fits->Serialize(&t, 1), S_OK);
}

}  // namespace

namespace {

std::string PrintedTree(const CSieveScript& s) {
  telsor::TSTRING text;
  EXPECT_EQ(s.PrintToString(text), S_OK);
  return text.c_str();
}

// Version 6 tells an empty text or key from none; version 5 forms, written
// before, load as they always did (an empty text as none, a matcher holding
// the empty key as one holding nothing).
TEST(SieveRecords, EmptyTextsAndKeysByVersion) {
  // reject "" as version 5 stores it: length 0 and nothing after.
  const std::string reject5 = Head(11, 1) + Head(1, 1) + U32(0);
  CSieveScript script;
  ASSERT_EQ(Load(Container(Commands({reject5}), 5), script), S_OK);
  CFakeHost v5;
  EXPECT_EQ(v5.Run(script), S_OK);
  EXPECT_EQ(v5.Calls(), "reject(null)");
  // Version 6 adds the byte that tells: 1 an empty text, 0 none.
  EXPECT_EQ(Load(Container(Commands({reject5}), 6), script), E_FAIL);
  ASSERT_EQ(Load(Container(Commands({reject5 + U8(1)}), 6), script), S_OK);
  CFakeHost v6;
  EXPECT_EQ(v6.Run(script), S_OK);
  EXPECT_EQ(v6.Calls(), "reject()");
  EXPECT_EQ(Load(Container(Commands({reject5 + U8(2)}), 6), script), E_FAIL);

  // A header test whose one exact matcher holds the empty key: its own
  // record has pattern length 0, as one holding nothing has.
  CSharedObjPtr<CTestHEADER> header = new CTestHEADER(nullptr, Strings({"Subject"}), Strings({""}));
  ASSERT_NE(header->m_ppPatterns, nullptr);
  CTestStream exact;
  ASSERT_EQ(header->m_ppPatterns[0]->Serialize(&exact, 1), S_OK);
  auto form = [&](unsigned kind, unsigned version) {
    return Container(Head(17) + U32(1) + IfRecord(30, 20, U8(1) + HeaderTest(U8(kind) + exact.str()), KeepBlock()),
                     version);
  };
  // What version 6 writes for it is the kind with 0x80 added.
  CSieveScript parsed;
  ASSERT_EQ(parsed.ParseString("if header :is \"Subject\" \"\" { keep; }", nullptr), S_OK);
  EXPECT_NE(Stored(parsed).find(U16(1) + U8(0x81) + exact.str()), std::string::npos);

  ASSERT_EQ(Load(form(0x81, 6), script), S_OK);
  EXPECT_EQ(PrintedTree(script), PrintedTree(parsed));
  ASSERT_EQ(Load(form(1, 5), script), S_OK);
  EXPECT_EQ(PrintedTree(script), "if header :is \"Subject\" \n{\n  keep;\n}\n");
  ASSERT_EQ(Load(form(1, 6), script), S_OK);
  EXPECT_EQ(PrintedTree(script), "if header :is \"Subject\" \n{\n  keep;\n}\n");
  // The mark is unknown to version 5, fits only one-pattern kinds, and
  // only a matcher whose record holds nothing.
  EXPECT_EQ(Load(form(0x81, 5), script), E_NOTIMPL);
  EXPECT_EQ(Load(form(0x82, 6), script), E_NOTIMPL);
  EXPECT_EQ(Load(form(0x86, 6), script), E_NOTIMPL);
  CSharedObjPtr<CTestHEADER> full = new CTestHEADER(nullptr, Strings({"Subject"}), Strings({"x"}));
  CTestStream holding;
  ASSERT_EQ(full->m_ppPatterns[0]->Serialize(&holding, 1), S_OK);
  EXPECT_EQ(Load(Container(Head(17) + U32(1) +
                               IfRecord(30, 20, U8(1) + HeaderTest(U8(0x81) + holding.str()), KeepBlock())),
                 script),
            E_FAIL);
}

}  // namespace
