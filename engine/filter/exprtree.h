// The expression tree of a compiled Sieve filter script.
//
// The grammar builds the tree bottom-up from these nodes; the printer writes
// it back as Sieve text; the interpreter walks it. Every node is a
// reference-counted engine object (count 0 when made: the creator takes the
// first reference) and holds one counted reference to each child:
//
//   telsor::CSharedObjPtr<CListCommands> root = new CListCommands;
//   CSharedObjPtr<CTest> test = new CTestBoolean(1);
//   CSharedObjPtr<CListCommands> block = new CListCommands;
//   block->AddTail(new CCmdDISCARD);
//   root->AddTail(new CCtrlIF(test, block, nullptr));   // shares test and block
//   // releasing root (and the two local pointers) frees the whole tree
//
// String lists and tag lists handed to a constructor are only read: the node
// keeps string arrays (CListStrings::AllocateStrArray), compiled matchers or
// plain values of its own, and the caller stays their owner. Key-list tests
// (header, address, envelope, body, attachment) compile their keys into
// matchers of the search layer once, when they are built (CKeyStr).
//
// Running a tree (Execute, sieveexec.cpp) and storing it (Serialize,
// sieverecord.h) only read it.
//
// A string array is one malloc block: n + 1 text pointers (the last null)
// followed by the n NUL-terminated texts; free it with
// CListStrings::FreeStrArray. Node fields are public for the printer, the
// interpreter and the record code; they are written only while the tree is
// built, by one thread. A built tree is read-only and may be run, printed
// or stored by several threads at once.
//
// Failures while building key-list tests travel as telsor::CExprTreeException*
// (code and message) or as the engine's CMemoryException*; the other
// constructors fail only for want of memory.
#ifndef TELSOR_FILTER_EXPRTREE_H
#define TELSOR_FILTER_EXPRTREE_H

#include <stdint.h>
#include <stdio.h>

#include "filter/filterresults.h"
#include "foundation/bufferedwriter.h"
#include "foundation/exception.h"
#include "foundation/istream.h"
#include "foundation/obj.h"
#include "foundation/plist.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "search/regexbudget.h"
#include "search/seekpattern.h"

namespace telsor {

// A key that does not compile, or tags that do not fit together. Thrown by
// pointer; the catcher reads the code and the message and calls Delete().
class CExprTreeException : public CException {
 public:
  CExprTreeException(DWORD code, const TSTRING& message) : m_dwCode(code), m_strMessage(message) {}
  ~CExprTreeException() override;

  DWORD GetCode() const { return m_dwCode; }
  const TSTRING& GetMessage() const { return m_strMessage; }
  // The code (E_FAIL when it is 0) for the error road.
  [[nodiscard]] HRESULT GetResultCode() const override;

  [[noreturn]] static void Throw(DWORD code, const char* message);

 private:
  DWORD m_dwCode;
  TSTRING m_strMessage;
};

// Process-wide switch read whenever a ":matches" key is compiled: on, keys
// written in anchored style ("^abc$") become wildcards (see CKeyStr).
// 0 at load; set by CSieveScript::MakeQuorMailWebCompatible.
extern int32_t g_bQuorMailWebCompatible;

}  // namespace telsor

// Values stored in nodes and passed to the callbacks.
enum MATCH_TYPES : int32_t {
  MATCH_IS = 1,
  MATCH_CONTAINS = 2,
  MATCH_MATCHES = 3,
  MATCH_REGEX = 4,
  MATCH_COUNT = 5,
  MATCH_VALUE = 6,
};
enum TYPE_COMPARATOR : int32_t {
  COMPARATOR_NONE = 0,            // no comparator of that name
  COMPARATOR_ASCII_CASEMAP = 1,   // "i;ascii-casemap": keys compiled without case
  COMPARATOR_OCTET = 2,           // "i;octet"
  COMPARATOR_ASCII_NUMERIC = 3,   // "i;ascii-numeric"
};
enum RELATIONAL_MATCH_TYPE : int32_t {
  RELATIONAL_NONE = 0,
  RELATIONAL_LT = 1,
  RELATIONAL_GT = 2,
  RELATIONAL_EQ = 3,
  RELATIONAL_GE = 4,
  RELATIONAL_LE = 5,
  RELATIONAL_NE = 6,
};
enum ADDRESS_PART : int32_t {
  ADDRESS_ALL = 1,
  ADDRESS_LOCALPART = 2,
  ADDRESS_DOMAIN = 3,
};
enum NUMBER_CMP_OPERATOR : int32_t {
  NUMBER_UNDER = 1,
  NUMBER_OVER = 2,
};
enum LOGIC_OPERATOR : int32_t {
  LOGIC_ALLOF = 0,   // every operand must be true
  LOGIC_ANYOF = 1,   // one true operand suffices
};

// The name of a comparator, ignoring case ("I;OCTET" is 2); 0 when unknown.
TYPE_COMPARATOR String2Comparator(const char* name);
// The comparator's name, or null for a value that has none.
const char* Comparator2String(TYPE_COMPARATOR value);

class CNodeContainer;
struct tag_SIEVE_INTERP_CTXT;
namespace telsor {
class CNodeRecordReader;
class CNodeRecordWriter;
}  // namespace telsor

// Print state handed down the tree. The text goes to `text` when it is set,
// else to `stream`. `level` is the block depth (2 spaces each).
struct tag_PRINT_CTXT {
  FILE* stream;
  LONG level;
  DWORD reserved;           // 0; not read
  telsor::CBufferedWriter* text;   // null: write to stream
};

class CExprTreeNode : public telsor::CSharedObj {
 public:
  enum TYPE_NODE : DWORD {
    NODE_PLAIN = 0,
    NODE_QUOTED_STRING = 1,
    NODE_MULTILINE = 2,
    NODE_LIST_STRINGS = 3,
    NODE_TAG_COMPARATOR = 4,
    NODE_MATCH_TYPE = 5,
    NODE_ADDRESS_PART = 6,
    NODE_VACATION_TAGS = 7,
    NODE_LIST_TAGS = 8,
    NODE_TAG_TEXT = 9,
    NODE_TAG_RAW = 10,
    NODE_REJECT = 11,
    NODE_FILEINTO = 12,
    NODE_REDIRECT = 13,
    NODE_KEEP = 14,
    NODE_DISCARD = 15,
    NODE_VACATION = 16,
    NODE_LIST_COMMANDS = 17,
    NODE_REQUIRE = 18,
    NODE_STOP = 19,
    NODE_IF = 20,
    NODE_ELSIF = 21,
    NODE_ELSE = 22,
    NODE_MULTI_TEST = 23,
    NODE_ENVELOPE = 24,
    NODE_EXISTS = 25,
    NODE_FALSE = 26,
    NODE_HEADER = 27,
    NODE_NOT = 28,
    NODE_SIZE = 29,
    NODE_TRUE = 30,
    NODE_ADDRESS = 31,
    NODE_LIST_TEST = 32,
    NODE_BODY = 33,
    NODE_ATTACHMENT = 34,
    NODE_X_SPAMTEST = 35,
    NODE_LAST = 35,
  };

  CExprTreeNode() : m_nLine(0), m_nType(NODE_PLAIN), m_pContainer(nullptr) {}
  CExprTreeNode(TYPE_NODE type, ULONG line) : m_nLine(line), m_nType(type), m_pContainer(nullptr) {}
  ~CExprTreeNode() override;

  // Writes the node as Sieve text; the plain node writes "?".
  virtual void Print(tag_PRINT_CTXT* ctx) const;

  // Runs the node against the context's callbacks (sieveinterp.h): 0 to go
  // on, S_SIEVE_TRUE / S_SIEVE_FALSE from tests, S_SIEVE_STOP from stop, or
  // a failure code. Nodes without behaviour return 0. Never changes the
  // tree; the context's depth is back at its entry value on return.
  [[nodiscard]] virtual HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const;

  // store non-zero writes the node's record (sieverecord.h); 0 reads the
  // line and data of a node whose type code the caller has read and made
  // with CreateInstance. Returns 0, a failing stream result unchanged,
  // E_FAIL for a short or malformed record, E_NOTIMPL for an unknown
  // matcher kind, E_OUTOFMEMORY, or the factory's and matchers' codes.
  using telsor::CObj::Serialize;
  [[nodiscard]] HRESULT Serialize(IStream* stream, int store);
  // The class's data after the record head; the base has none.
  virtual void StoreData(telsor::CNodeRecordWriter& out) const;
  virtual void LoadData(telsor::CNodeRecordReader& in);

  // A new empty node of the class that the type code names, count 0, line 0,
  // defaults as the argument-less constructors give them. Returns 0,
  // E_INVALIDARG for a null out-pointer, E_SIEVE_BAD_NODE_TYPE for a code
  // above 35, E_OUTOFMEMORY when no node could be made.
  [[nodiscard]] static HRESULT CreateInstance(TYPE_NODE type, CExprTreeNode** node);

  ULONG m_nLine;                  // script line of the construct
  TYPE_NODE m_nType;              // set by the constructor, never changed
  CNodeContainer* m_pContainer;   // the container holding the node (not counted)
};

using CNodePtr = telsor::CSharedObjPtr<CExprTreeNode>;
typedef telsor::CPList<telsor::CSharedObjPtr<CExprTreeNode>, telsor::CSharedObjPtr<CExprTreeNode>&>
    CListSharedNodes;

// Base of the four list nodes: each element holds one counted reference.
class CNodeContainer : public CExprTreeNode {
 public:
  explicit CNodeContainer(TYPE_NODE type) : CExprTreeNode(type, 0), m_list(10) {}
  ~CNodeContainer() override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;

  // The node must not be null. Returns the new position.
  void* AddTail(CExprTreeNode* node);
  void* AddHead(CExprTreeNode* node);
  void SetAt(void* position, CExprTreeNode* node);
  void RemoveAt(void* position);
  void RemoveAll();

  int GetCount() const { return m_list.GetCount(); }
  void* GetHeadPosition() const { return m_list.GetHeadPosition(); }
  CExprTreeNode* GetNext(void*& position) const { return m_list.GetNext(position); }
  void* GetTailPosition() const { return m_list.GetTailPosition(); }
  CExprTreeNode* GetPrev(void*& position) const { return m_list.GetPrev(position); }

 protected:
  telsor::CPList<CExprTreeNode*, CExprTreeNode*> m_list;
};

class CQuotedString : public CExprTreeNode {
 public:
  explicit CQuotedString(const char* text);
  ~CQuotedString() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;

  void SetValue(const char* text);
  const char* GetValue() const { return m_pText; }   // may be null

  char* m_pText;   // owned (malloc), may be null
};

// A "text:" string; printed with dot-stuffing.
class CMultiline : public CQuotedString {
 public:
  explicit CMultiline(const char* text);
  ~CMultiline() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
};

class CListStrings : public CNodeContainer {
 public:
  CListStrings() : CNodeContainer(NODE_LIST_STRINGS) {}
  ~CListStrings() override;
  void Print(tag_PRINT_CTXT* ctx) const override;

  // The string array of the list's texts in list order (an entry without
  // text becomes ""); null for a null list. Out of memory throws.
  static const char** AllocateStrArray(const CListStrings* list);
  // Frees an array of AllocateStrArray; null is allowed.
  static void FreeStrArray(const char** array);
  // Writes a string array as a Sieve string list, breaking the line after
  // every 128 or more characters of text.
  static void PrintStrArray(tag_PRINT_CTXT* ctx, const char* const* texts);
};

class CTagComparator : public CExprTreeNode {
 public:
  explicit CTagComparator(TYPE_COMPARATOR comparator)
      : CExprTreeNode(NODE_TAG_COMPARATOR, 0), m_nComparator(comparator) {}
  ~CTagComparator() override;
  TYPE_COMPARATOR m_nComparator;
};

class CMatchType : public CExprTreeNode {
 public:
  CMatchType(MATCH_TYPES matchType, RELATIONAL_MATCH_TYPE relational)
      : CExprTreeNode(NODE_MATCH_TYPE, 0), m_nMatchType(matchType), m_nRelational(relational) {}
  ~CMatchType() override;
  MATCH_TYPES m_nMatchType;
  RELATIONAL_MATCH_TYPE m_nRelational;   // with :count and :value
};

class CAddressPart : public CExprTreeNode {
 public:
  explicit CAddressPart(ADDRESS_PART part) : CExprTreeNode(NODE_ADDRESS_PART, 0), m_nPart(part) {}
  ~CAddressPart() override;
  ADDRESS_PART m_nPart;
};

class CListTags : public CNodeContainer {
 public:
  CListTags() : CNodeContainer(NODE_LIST_TAGS) {}
  ~CListTags() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  // The first tag of that type code, or null; no reference is added.
  CExprTreeNode* GetNodeByType(TYPE_NODE type) const;
};

// Tagged arguments of vacation.
class CVacationTags : public CExprTreeNode {
 public:
  CVacationTags();
  ~CVacationTags() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;

  // Shares the new subject (null clears it).
  void SetSubject(CQuotedString* subject);
  // Replaces the address array by the list's; returns the new array.
  const char** SetAddresses(const CListStrings* addresses);
  // The subject's text, "" when none.
  const char* GetSubject() const;

  uint64_t m_nDays;                                  // 0: not given
  int32_t m_nMime;                                   // -1: not given; > 0: :mime
  telsor::CSharedObjPtr<CQuotedString> m_pSubject;   // may be null
  const char** m_ppAddresses;                        // string array, may be null
};

class CCmdREJECT : public CExprTreeNode {
 public:
  explicit CCmdREJECT(CQuotedString* reason);
  ~CCmdREJECT() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;
  // Replaces the reason by a new string node of the text.
  void SetReason(const char* text);
  // The reason's text, "" when none.
  const char* GetReason() const;
  telsor::CSharedObjPtr<CQuotedString> m_pReason;
};

class CCmdFILEINTO : public CExprTreeNode {
 public:
  explicit CCmdFILEINTO(const CListStrings* folders);
  ~CCmdFILEINTO() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;
  const char** m_ppFolders;   // string array, may be null
};

class CCmdREDIRECT : public CExprTreeNode {
 public:
  explicit CCmdREDIRECT(const CListStrings* addresses);
  ~CCmdREDIRECT() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;
  const char** m_ppAddresses;   // string array, may be null
};

class CCmdKEEP : public CExprTreeNode {
 public:
  CCmdKEEP() : CExprTreeNode(NODE_KEEP, 0) {}
  ~CCmdKEEP() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const override;
};

class CCmdDISCARD : public CExprTreeNode {
 public:
  CCmdDISCARD() : CExprTreeNode(NODE_DISCARD, 0) {}
  ~CCmdDISCARD() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const override;
};

class CCmdSTOP : public CExprTreeNode {
 public:
  CCmdSTOP() : CExprTreeNode(NODE_STOP, 0) {}
  ~CCmdSTOP() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const override;
};

class CCmdVACATION : public CExprTreeNode {
 public:
  CCmdVACATION(CQuotedString* reason, CVacationTags* tags);
  ~CCmdVACATION() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;
  telsor::CSharedObjPtr<CVacationTags> m_pTags;      // may be null
  telsor::CSharedObjPtr<CQuotedString> m_pReason;    // may be null
};

class CCtrlREQUIRE : public CExprTreeNode {
 public:
  explicit CCtrlREQUIRE(const CListStrings* capabilities);
  ~CCtrlREQUIRE() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;
  const char** m_ppCapabilities;   // string array, may be null
};

class CTest : public CExprTreeNode {
 public:
  explicit CTest(TYPE_NODE type) : CExprTreeNode(type, 0) {}
  ~CTest() override;
};

class CListCommands;
class CCtrlELSIF;

class CCtrlIF : public CExprTreeNode {
 public:
  CCtrlIF(CTest* test, CListCommands* block, CCtrlELSIF* next);
  ~CCtrlIF() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;

  telsor::CSharedObjPtr<CTest> m_pTest;            // may be null
  telsor::CSharedObjPtr<CListCommands> m_pBlock;   // may be null
  telsor::CSharedObjPtr<CCtrlELSIF> m_pNext;       // first link of the chain

 protected:
  CCtrlIF(TYPE_NODE type, CTest* test, CListCommands* block, CCtrlELSIF* next);
  // The block between braces, at level + 1.
  void PrintBlock(tag_PRINT_CTXT* ctx, bool emptyLineWithoutBlock) const;
  // This link alone: its keyword and test, then its block.
  void PrintLink(tag_PRINT_CTXT* ctx) const;
  // This link's record but for the next link: end field, test, block.
  void StoreLink(telsor::CNodeRecordWriter& out) const;
  void LoadLink(telsor::CNodeRecordReader& in);
  // Printing, storing, loading and releasing walk a chain link by link, so
  // that a chain of any length takes no more stack than one link.
};

// An elsif link (with a test, code 21) or an else link (without, code 22).
class CCtrlELSIF : public CCtrlIF {
 public:
  CCtrlELSIF(CTest* test, CListCommands* block, CCtrlELSIF* next);
  ~CCtrlELSIF() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  // Appends link (shared) after the last link of this chain; null is ignored.
  void AddELSIF(CCtrlELSIF* link);
};

class CListCommands : public CNodeContainer {
 public:
  CListCommands() : CNodeContainer(NODE_LIST_COMMANDS) {}
  ~CListCommands() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const override;

  // Appends to found every top-level if whose test has the type code and is
  // a two-list test naming exactly one header, equal to name without regard
  // to case. Blocks are not searched.
  void ExtractTestTwoStr(TYPE_NODE type, const char* name, CListSharedNodes& found) const;
};

class CListTest : public CNodeContainer {
 public:
  CListTest() : CNodeContainer(NODE_LIST_TEST) {}
  ~CListTest() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
};

class CTestBoolean : public CTest {
 public:
  explicit CTestBoolean(int value) : CTest(value ? NODE_TRUE : NODE_FALSE), m_bValue(value ? 1 : 0) {}
  ~CTestBoolean() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;
  int32_t m_bValue;
};

class CTestNOT : public CTest {
 public:
  explicit CTestNOT(CTest* test) : CTest(NODE_NOT), m_pTest(test) {}
  ~CTestNOT() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;
  telsor::CSharedObjPtr<CTest> m_pTest;
};

class CMultiTest : public CTest {
 public:
  CMultiTest(LOGIC_OPERATOR op, CListTest* tests) : CTest(NODE_MULTI_TEST), m_nOperator(op), m_pTests(tests) {}
  ~CMultiTest() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;
  LOGIC_OPERATOR m_nOperator;
  telsor::CSharedObjPtr<CListTest> m_pTests;
};

class CTestSIZE : public CTest {
 public:
  CTestSIZE(NUMBER_CMP_OPERATOR op, uint64_t limit) : CTest(NODE_SIZE), m_nOperator(op), m_nLimit(limit) {}
  ~CTestSIZE() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;
  NUMBER_CMP_OPERATOR m_nOperator;
  uint64_t m_nLimit;   // bytes
};

class CTestXSpamTest : public CTest {
 public:
  // The largest finite double stands for "NIL".
  static const double NIL;
  CTestXSpamTest(RELATIONAL_MATCH_TYPE op, double value) : CTest(NODE_X_SPAMTEST), m_nOperator(op), m_dValue(value) {}
  ~CTestXSpamTest() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;
  RELATIONAL_MATCH_TYPE m_nOperator;
  double m_dValue;
};

class CTestEXISTS : public CTest {
 public:
  explicit CTestEXISTS(const CListStrings* names);
  ~CTestEXISTS() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;
  const char** m_ppNames;   // string array, may be null
};

// Base of the key-list tests: match type, comparator and the keys compiled
// into matchers. Grouping: with :is or :contains and more than one key, keys
// share one matcher (CSeekDictionary / CSeekMultiWords) per group of less
// than 65,536 bytes of key text; otherwise each key has a matcher of its own
// (:is and :count/:value CSeekExactStr, :contains CSeekSubstr, :matches
// CSeekMatches, :regex CRegExpr). The comparator "i;ascii-casemap" compiles
// the keys without case, the others with case.
class CKeyStr : public CTest {
 public:
  // Defaults replaced by the :is/:contains/.../:value and :comparator tags
  // of tags (may be null); then the keys (may be null) are compiled.
  CKeyStr(TYPE_NODE type, const CListTags* tags, const CListStrings* keys, MATCH_TYPES matchType,
          TYPE_COMPARATOR comparator);
  // Match type 1, comparator 1, no patterns (for the record reader).
  explicit CKeyStr(TYPE_NODE type);
  ~CKeyStr() override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;

  void CreatePatterns(const CListStrings* keys);
  // A new matcher compiled for one key under the node's match type and
  // comparator; :regex keys under the budget of the thread's current
  // RegexBudgetScope, if any (a key refused because that budget is spent
  // throws E_SIEVE_REGEX_BUDGET with the compiler's text).
  telsor::CSeekPattern* PatternFactory(const char* key) const;

  // While one lives, the :regex keys compiled on its thread share budget
  // (one parse of a script); scopes nest, the innermost counts.
  class RegexBudgetScope {
   public:
    explicit RegexBudgetScope(telsor::CRegExprBudget* budget);
    ~RegexBudgetScope();
    RegexBudgetScope(const RegexBudgetScope&) = delete;
    RegexBudgetScope& operator=(const RegexBudgetScope&) = delete;

   private:
    telsor::CRegExprBudget* m_pSaved;
  };
  static void FreePatterns(telsor::CSeekPattern** patterns);
  void FreePatterns();
  // Keys printed back from the matchers (GetCount / GetPattern).
  void PrintKeyList(tag_PRINT_CTXT* ctx) const;
  // " :comparator "name"" part of the printers, with its trailing space.
  void PrintComparator(tag_PRINT_CTXT* ctx) const;

  MATCH_TYPES m_nMatchType;
  TYPE_COMPARATOR m_nComparator;
  telsor::CSeekPattern** m_ppPatterns;   // owned, null-terminated; null without keys
};

// A new matcher compiled for a null-terminated key list: :contains gives a
// CSeekMultiWords, every other match type a CSeekDictionary.
telsor::CSeekPattern* CreateMultiWordsPattern(const char** words, MATCH_TYPES matchType, int caseSensitive);

class CTestTwoStrList : public CKeyStr {
 public:
  // Fails with 0xE00A0034 for :count without "i;ascii-numeric".
  CTestTwoStrList(TYPE_NODE type, const CListTags* tags, const CListStrings* first, const CListStrings* keys,
                  MATCH_TYPES matchType, TYPE_COMPARATOR comparator);
  explicit CTestTwoStrList(TYPE_NODE type);
  ~CTestTwoStrList() override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;
  // Match type, relational operator and comparator parts of the printers.
  void PrintMatchPart(tag_PRINT_CTXT* ctx) const;
  // "word", the address part, the match part, the names and the keys.
  void PrintAddressTest(tag_PRINT_CTXT* ctx, const char* word, ADDRESS_PART part) const;
  // The address part of a tag list (type 6), :all when there is none.
  static ADDRESS_PART AddressPartOf(const CListTags* tags);

  const char** m_ppFirst;                  // string array, may be null
  RELATIONAL_MATCH_TYPE m_nRelational;     // with :count and :value, else 0
};

class CTestHEADER : public CTestTwoStrList {
 public:
  CTestHEADER(const CListTags* tags, const CListStrings* names, const CListStrings* keys);
  CTestHEADER();
  ~CTestHEADER() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const override;
};

class CTestADDRESS : public CTestTwoStrList {
 public:
  CTestADDRESS(const CListTags* tags, const CListStrings* names, const CListStrings* keys);
  CTestADDRESS();
  ~CTestADDRESS() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;
  ADDRESS_PART m_nAddressPart;   // the tag's value, :all by default
};

// Envelope parts "from" and "to" are renamed by the grammar, not here.
class CTestENVELOPE : public CTestTwoStrList {
 public:
  CTestENVELOPE(const CListTags* tags, const CListStrings* parts, const CListStrings* keys);
  CTestENVELOPE();
  ~CTestENVELOPE() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;
  ADDRESS_PART m_nAddressPart;
};

class CTestBODY : public CTestTwoStrList {
 public:
  CTestBODY(const CListTags* tags, const CListStrings* contentTypes, const CListStrings* keys);
  CTestBODY();
  ~CTestBODY() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;
  int32_t m_bTransform;   // 1 with :text
};

class CTestATTACHMENT : public CKeyStr {
 public:
  CTestATTACHMENT(const CListTags* tags, const CListStrings* keys);
  CTestATTACHMENT();
  ~CTestATTACHMENT() override;
  void Print(tag_PRINT_CTXT* ctx) const override;
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const override;
  void StoreData(telsor::CNodeRecordWriter& out) const override;
  void LoadData(telsor::CNodeRecordReader& in) override;
  const char** m_ppKeys;   // string array of the key texts, may be null
};

#endif  // TELSOR_FILTER_EXPRTREE_H
