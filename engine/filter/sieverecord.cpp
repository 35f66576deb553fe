// Node records: the record reader and writer, and each node class's data.
#include "filter/sieverecord.h"

#include <stdlib.h>
#include <string.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "foundation/errorroad.h"
#include "foundation/throwcode.h"
#include "search/regexpr.h"
#include "search/seekdictionary.h"
#include "search/seekexactstr.h"
#include "search/seekmatches.h"
#include "search/seekmultiwords.h"
#include "search/seeksubstr.h"
#include "search/seekrecord.h"

namespace telsor {

namespace {

// Matcher kinds of the pattern list, in the order a class is tested.
enum MATCHER_KIND : BYTE {
  KIND_EXACT = 1,
  KIND_MULTI_WORDS = 2,
  KIND_MATCHES = 3,
  KIND_SUBSTR = 4,
  KIND_REGEX = 5,
  KIND_DICTIONARY = 6,
};

BYTE KindOf(const CSeekPattern* matcher) {
  if (dynamic_cast<const CSeekExactStr*>(matcher) != nullptr) return KIND_EXACT;
  if (dynamic_cast<const CSeekMultiWords*>(matcher) != nullptr) return KIND_MULTI_WORDS;
  if (dynamic_cast<const CSeekMatches*>(matcher) != nullptr) return KIND_MATCHES;
  if (dynamic_cast<const CSeekSubstr*>(matcher) != nullptr) return KIND_SUBSTR;
  if (dynamic_cast<const CRegExpr*>(matcher) != nullptr) return KIND_REGEX;
  if (dynamic_cast<const CSeekDictionary*>(matcher) != nullptr) return KIND_DICTIONARY;
  return 0;
}

CSeekPattern* NewMatcher(BYTE kind) {
  CSeekPattern* matcher = nullptr;
  switch (kind) {
    case KIND_EXACT: matcher = new (std::nothrow) CSeekExactStr; break;
    case KIND_MULTI_WORDS: matcher = new (std::nothrow) CSeekMultiWords; break;
    case KIND_MATCHES: matcher = new (std::nothrow) CSeekMatches(SEEK_CAPS_NONE); break;
    case KIND_SUBSTR: matcher = new (std::nothrow) CSeekSubstr; break;
    case KIND_REGEX: matcher = new (std::nothrow) CRegExpr; break;
    case KIND_DICTIONARY: matcher = new (std::nothrow) CSeekDictionary; break;
    default: ThrowCode(static_cast<DWORD>(E_NOTIMPL));
  }
  if (matcher == nullptr) AfxThrowMemoryException();
  return matcher;
}

// Added to a one-pattern matcher's kind when it holds the empty key.
const BYTE kKindEmptyKey = 0x80;

bool IsOnePatternKind(BYTE kind) {
  return kind == KIND_EXACT || kind == KIND_MATCHES || kind == KIND_SUBSTR || kind == KIND_REGEX;
}

bool HoldsEmptyKey(BYTE kind, const CSeekPattern* matcher) {
  return IsOnePatternKind(kind) && matcher->GetLength() == 0 && matcher->GetPattern(0) != nullptr;
}

void Check(HRESULT hr) {
  if (hr != S_OK) ThrowCode(static_cast<DWORD>(hr));
}

// Bytes read per step while a text arrives: a length field sizes nothing
// before its bytes are there.
const ULONG kReadStep = 0x10000;

// Matchers read so far, destroyed unless handed over.
struct MatcherList {
  std::vector<CSeekPattern*> items;
  ~MatcherList() {
    for (CSeekPattern* m : items) delete m;
  }
};

bool IsTestCode(DWORD type) {
  switch (type) {
    case CExprTreeNode::NODE_MULTI_TEST:
    case CExprTreeNode::NODE_ENVELOPE:
    case CExprTreeNode::NODE_EXISTS:
    case CExprTreeNode::NODE_FALSE:
    case CExprTreeNode::NODE_HEADER:
    case CExprTreeNode::NODE_NOT:
    case CExprTreeNode::NODE_SIZE:
    case CExprTreeNode::NODE_TRUE:
    case CExprTreeNode::NODE_ADDRESS:
    case CExprTreeNode::NODE_BODY:
    case CExprTreeNode::NODE_ATTACHMENT:
    case CExprTreeNode::NODE_X_SPAMTEST:
      return true;
    default:
      return false;
  }
}

bool IsCommandCode(DWORD type) {
  switch (type) {
    case CExprTreeNode::NODE_REJECT:
    case CExprTreeNode::NODE_FILEINTO:
    case CExprTreeNode::NODE_REDIRECT:
    case CExprTreeNode::NODE_KEEP:
    case CExprTreeNode::NODE_DISCARD:
    case CExprTreeNode::NODE_VACATION:
    case CExprTreeNode::NODE_REQUIRE:
    case CExprTreeNode::NODE_STOP:
    case CExprTreeNode::NODE_IF:
      return true;
    default:
      return false;
  }
}

bool IsStringCode(DWORD type) {
  return type == CExprTreeNode::NODE_QUOTED_STRING || type == CExprTreeNode::NODE_MULTILINE;
}

bool IsTagCode(DWORD type) {
  switch (type) {
    case CExprTreeNode::NODE_TAG_COMPARATOR:
    case CExprTreeNode::NODE_MATCH_TYPE:
    case CExprTreeNode::NODE_ADDRESS_PART:
    case CExprTreeNode::NODE_TAG_TEXT:
    case CExprTreeNode::NODE_TAG_RAW:
      return true;
    default:
      return false;
  }
}

// Whether a child of that code may stand in the place. The places that the
// factory decides (tests, list elements) accept every code here and are
// checked once the node is made.
bool CodeFits(CNodeRecordReader::PLACE place, DWORD type) {
  switch (place) {
    case CNodeRecordReader::PLACE_BLOCK: return type == CExprTreeNode::NODE_LIST_COMMANDS;
    case CNodeRecordReader::PLACE_NEXT: return type == CExprTreeNode::NODE_ELSIF || type == CExprTreeNode::NODE_ELSE;
    case CNodeRecordReader::PLACE_VACATION_TAGS: return type == CExprTreeNode::NODE_VACATION_TAGS;
    case CNodeRecordReader::PLACE_STRING: return IsStringCode(type);
    default: return true;
  }
}

// Whether a node made by the factory suits the place.
bool NodeFits(CNodeRecordReader::PLACE place, DWORD type) {
  switch (place) {
    case CNodeRecordReader::PLACE_IF_TEST:
    case CNodeRecordReader::PLACE_NOT_TEST:
    case CNodeRecordReader::PLACE_IN_TESTS:
      return IsTestCode(type);
    case CNodeRecordReader::PLACE_IN_COMMANDS: return IsCommandCode(type);
    case CNodeRecordReader::PLACE_IN_STRINGS: return IsStringCode(type);
    case CNodeRecordReader::PLACE_IN_TAGS: return IsTagCode(type);
    default: return true;
  }
}

template <class T>
CSharedObjPtr<T> As(const CSharedObjPtr<CExprTreeNode>& node) {
  if (node == nullptr) return nullptr;
  T* typed = dynamic_cast<T*>(static_cast<CExprTreeNode*>(node));
  if (typed == nullptr) ThrowCode(static_cast<DWORD>(E_FAIL));
  return typed;
}

}  // namespace

// ---- writer

void CNodeRecordWriter::Bytes(const void* data, size_t count) {
  const BYTE* p = static_cast<const BYTE*>(data);
  while (count > 0) {
    ULONG n = count > 0x40000000u ? 0x40000000u : static_cast<ULONG>(count);
    Check(WriteField(m_pStream, p, n));
    p += n;
    count -= n;
  }
}

void CNodeRecordWriter::U8(BYTE value) { Bytes(&value, 1); }

void CNodeRecordWriter::U16(WORD value) {
  BYTE b[2];
  StoreU16(b, value);
  Bytes(b, 2);
}

void CNodeRecordWriter::U32(DWORD value) {
  BYTE b[4];
  StoreU32(b, value);
  Bytes(b, 4);
}

void CNodeRecordWriter::I32(int32_t value) { U32(static_cast<DWORD>(value)); }

void CNodeRecordWriter::U64(uint64_t value) {
  U32(static_cast<DWORD>(value));
  U32(static_cast<DWORD>(value >> 32));
}

void CNodeRecordWriter::F64(double value) {
  uint64_t bits;
  static_assert(sizeof bits == sizeof value, "an IEEE 754 double has 8 bytes");
  memcpy(&bits, &value, sizeof bits);
  U64(bits);
}

void CNodeRecordWriter::Node(const CExprTreeNode& node) {
  U16(static_cast<WORD>(node.m_nType));
  U32(node.m_nLine);
  node.StoreData(*this);
}

void CNodeRecordWriter::OptionalNode(const CExprTreeNode* node) {
  U8(node != nullptr ? 1 : 0);
  if (node != nullptr) Node(*node);
}

void CNodeRecordWriter::StringValue(const char* text) {
  size_t len = text != nullptr ? strlen(text) : 0;
  if (len > 0xFFFFFFFFu) ThrowCode(static_cast<DWORD>(E_FAIL));
  U32(static_cast<DWORD>(len));
  if (len == 0) {
    U8(text != nullptr ? 1 : 0);
    return;
  }
  Bytes(text, len);
}

void CNodeRecordWriter::StringArray(const char* const* texts) {
  size_t count = 0;
  uint64_t total = 0;
  for (; texts != nullptr && texts[count] != nullptr; ++count) {
    size_t len = strlen(texts[count]);
    if (len > 0xFFFF) ThrowCode(static_cast<DWORD>(E_FAIL));
    total += len + 1;
  }
  if (count > 0xFFFF) ThrowCode(static_cast<DWORD>(E_FAIL));
  U16(static_cast<WORD>(count));
  U32(static_cast<DWORD>(total));
  for (size_t i = 0; i < count; ++i) {
    size_t len = strlen(texts[i]);
    U16(static_cast<WORD>(len));
    Bytes(texts[i], len);
  }
}

void CNodeRecordWriter::PatternList(const CSeekPattern* const* patterns) {
  size_t count = 0;
  while (patterns != nullptr && patterns[count] != nullptr) ++count;
  if (count > 0xFFFF) ThrowCode(static_cast<DWORD>(E_FAIL));
  U16(static_cast<WORD>(count));
  for (size_t i = 0; i < count; ++i) {
    BYTE kind = KindOf(patterns[i]);
    if (kind == 0) ThrowCode(static_cast<DWORD>(E_FAIL));
    if (HoldsEmptyKey(kind, patterns[i])) kind |= kKindEmptyKey;
    U8(kind);
    // Storing does not change a matcher; Serialize takes both directions.
    Check(const_cast<CSeekPattern*>(patterns[i])->Serialize(m_pStream, 1));
  }
}

ULONGLONG CNodeRecordWriter::Position() {
  ULONGLONG at = 0;
  Check(StreamPosition(m_pStream, &at));
  return at;
}

void CNodeRecordWriter::SeekTo(ULONGLONG position) { Check(StreamSeekTo(m_pStream, position)); }

// ---- reader

void CNodeRecordReader::Read(void* buffer, ULONG count) { Check(ReadField(m_pStream, buffer, count, E_FAIL)); }

BYTE CNodeRecordReader::U8() {
  BYTE b;
  Read(&b, 1);
  return b;
}

WORD CNodeRecordReader::U16() {
  BYTE b[2];
  Read(b, 2);
  return LoadU16(b);
}

DWORD CNodeRecordReader::U32() {
  BYTE b[4];
  Read(b, 4);
  return LoadU32(b);
}

int32_t CNodeRecordReader::I32() { return static_cast<int32_t>(U32()); }

uint64_t CNodeRecordReader::U64() {
  uint64_t low = U32();
  uint64_t high = U32();
  return low | (high << 32);
}

double CNodeRecordReader::F64() {
  uint64_t bits = U64();
  double value;
  memcpy(&value, &bits, sizeof value);
  return value;
}

ULONGLONG CNodeRecordReader::Position() {
  ULONGLONG at = 0;
  Check(StreamPosition(m_pStream, &at));
  return at;
}

void CNodeRecordReader::Body(CExprTreeNode& node) {
  node.m_nLine = U32();
  node.LoadData(*this);
}

CSharedObjPtr<CExprTreeNode> CNodeRecordReader::MakeChild(PLACE place) {
  WORD code = U16();
  if (!CodeFits(place, code)) ThrowCode(static_cast<DWORD>(E_FAIL));
  CExprTreeNode::TYPE_NODE type = static_cast<CExprTreeNode::TYPE_NODE>(code);
  if (place == PLACE_TEST_LIST) type = CExprTreeNode::NODE_LIST_TEST;
  CExprTreeNode* made = nullptr;
  HRESULT hr = CExprTreeNode::CreateInstance(type, &made);
  if (hr != S_OK) ThrowCode(static_cast<DWORD>(place == PLACE_IF_TEST ? E_OUTOFMEMORY : hr));
  CSharedObjPtr<CExprTreeNode> node = made;
  if (!NodeFits(place, type)) ThrowCode(static_cast<DWORD>(E_FAIL));
  return node;
}

CSharedObjPtr<CExprTreeNode> CNodeRecordReader::Child(PLACE place) {
  CSharedObjPtr<CExprTreeNode> node = MakeChild(place);
  Nested([&] { Body(*node); });
  return node;
}

CSharedObjPtr<CExprTreeNode> CNodeRecordReader::OptionalChild(PLACE place) {
  BYTE flag = U8();
  if (flag > 1) ThrowCode(static_cast<DWORD>(E_FAIL));
  if (flag == 0) return nullptr;
  return Child(place);
}

char* CNodeRecordReader::StringValue() {
  DWORD len = U32();
  if (len == 0) {
    if (m_nVersion == SIEVE_RECORD_VERSION_5) return nullptr;
    BYTE given = U8();
    if (given > 1) ThrowCode(static_cast<DWORD>(E_FAIL));
    if (given == 0) return nullptr;
    char* empty = strdup("");
    if (empty == nullptr) AfxThrowMemoryException();
    return empty;
  }
  std::string text;
  while (text.size() < len) {
    size_t have = text.size();
    ULONG step = static_cast<ULONG>(len - have < kReadStep ? len - have : kReadStep);
    text.resize(have + step);
    Read(&text[have], step);
  }
  // The text ends at its first NUL; one that is empty so is none, as when
  // it was stored with length 0.
  if (text[0] == '\0') return nullptr;
  char* copy = strdup(text.c_str());
  if (copy == nullptr) AfxThrowMemoryException();
  return copy;
}

const char** CNodeRecordReader::StringArray() {
  WORD count = U16();
  DWORD left = U32();   // what is left of the announced total
  // No text is what a list that was never given stores (the grammar makes
  // no empty lists): it loads as none, so a host still sees "not given".
  if (count == 0) return nullptr;
  // The texts are gathered as they arrive; the array is made from them.
  std::string texts;
  std::vector<size_t> starts;
  for (WORD i = 0; i < count; ++i) {
    WORD len = U16();
    if (len >= left) ThrowCode(static_cast<DWORD>(E_FAIL));
    size_t at = texts.size();
    texts.resize(at + len + 1);
    Read(&texts[at], len);
    starts.push_back(at);
    left -= static_cast<DWORD>(len) + 1;
  }
  size_t table = (static_cast<size_t>(count) + 1) * sizeof(char*);
  char* block = static_cast<char*>(calloc(table + texts.size(), 1));
  if (block == nullptr) AfxThrowMemoryException();
  const char** array = reinterpret_cast<const char**>(block);
  if (!texts.empty()) memcpy(block + table, texts.data(), texts.size());
  for (size_t i = 0; i < starts.size(); ++i) array[i] = block + table + starts[i];
  return array;
}

CSeekPattern** CNodeRecordReader::PatternList() {
  WORD count = U16();
  if (count == 0) return nullptr;
  MatcherList read;
  for (WORD i = 0; i < count; ++i) {
    BYTE kind = U8();
    bool emptyKey = false;
    if (m_nVersion != SIEVE_RECORD_VERSION_5 && (kind & kKindEmptyKey) != 0) {
      kind = static_cast<BYTE>(kind & ~kKindEmptyKey);
      if (!IsOnePatternKind(kind)) ThrowCode(static_cast<DWORD>(E_NOTIMPL));
      emptyKey = true;
    }
    read.items.push_back(nullptr);
    CSeekPattern* matcher = read.items.back() = NewMatcher(kind);
    Check(matcher->Serialize(m_pStream, 0));
    if (emptyKey) {
      // Its record holds no pattern; it is made again from the empty key.
      if (matcher->GetCount() != 0) ThrowCode(static_cast<DWORD>(E_FAIL));
      Check(matcher->Compile("", matcher->IsCaseSensitive(), 0));
    }
  }
  CSeekPattern** array = static_cast<CSeekPattern**>(calloc(static_cast<size_t>(count) + 1, sizeof(CSeekPattern*)));
  if (array == nullptr) AfxThrowMemoryException();
  for (WORD i = 0; i < count; ++i) array[i] = read.items[i];
  read.items.clear();
  return array;
}

}  // namespace telsor

using telsor::CNodeRecordReader;
using telsor::CNodeRecordWriter;

// ---- Serialize and the data of each class

namespace telsor {

HRESULT LoadNodeRecord(CExprTreeNode& node, IStream* stream, WORD version) {
  if (stream == nullptr) return E_POINTER;
  return ResultOf([&] { CNodeRecordReader(stream, version).Body(node); });
}

}  // namespace telsor

HRESULT CExprTreeNode::Serialize(IStream* stream, int store) {
  if (stream == nullptr) return E_POINTER;
  return telsor::ResultOf([&] {
    if (store) {
      CNodeRecordWriter(stream).Node(*this);
    } else {
      CNodeRecordReader(stream).Body(*this);
    }
  });
}

void CExprTreeNode::StoreData(CNodeRecordWriter&) const {}
void CExprTreeNode::LoadData(CNodeRecordReader&) {}

void CNodeContainer::StoreData(CNodeRecordWriter& out) const {
  out.U32(static_cast<DWORD>(m_list.GetCount()));
  for (void* pos = m_list.GetHeadPosition(); pos != nullptr;) out.Node(*m_list.GetNext(pos));
}

void CNodeContainer::LoadData(CNodeRecordReader& in) {
  CNodeRecordReader::PLACE place = CNodeRecordReader::PLACE_IN_COMMANDS;
  switch (m_nType) {
    case NODE_LIST_STRINGS: place = CNodeRecordReader::PLACE_IN_STRINGS; break;
    case NODE_LIST_TAGS: place = CNodeRecordReader::PLACE_IN_TAGS; break;
    case NODE_LIST_TEST: place = CNodeRecordReader::PLACE_IN_TESTS; break;
    default: break;
  }
  DWORD count = in.U32();
  // Every child takes at least its head from the stream, so a false count
  // ends at the stream's end.
  for (DWORD i = 0; i < count; ++i) {
    telsor::CSharedObjPtr<CExprTreeNode> child = in.Child(place);
    AddTail(child);
  }
}

void CQuotedString::StoreData(CNodeRecordWriter& out) const { out.StringValue(m_pText); }

void CQuotedString::LoadData(CNodeRecordReader& in) {
  char* text = in.StringValue();
  free(m_pText);
  m_pText = text;
}

void CVacationTags::StoreData(CNodeRecordWriter& out) const {
  out.I32(m_nMime);
  out.U64(m_nDays);
  out.StringArray(m_ppAddresses);
  out.OptionalNode(m_pSubject);
}

void CVacationTags::LoadData(CNodeRecordReader& in) {
  m_nMime = in.I32();
  m_nDays = in.U64();
  CListStrings::FreeStrArray(m_ppAddresses);
  m_ppAddresses = nullptr;
  m_ppAddresses = in.StringArray();
  m_pSubject = nullptr;
  m_pSubject = telsor::As<CQuotedString>(in.OptionalChild(CNodeRecordReader::PLACE_STRING));
}

void CCmdREJECT::StoreData(CNodeRecordWriter& out) const {
  if (m_pReason != nullptr) {
    out.Node(*m_pReason);
    return;
  }
  // A reject without a reason stores a quoted string without text.
  out.U16(NODE_QUOTED_STRING);
  out.U32(0);
  out.StringValue(nullptr);
}

void CCmdREJECT::LoadData(CNodeRecordReader& in) {
  m_pReason = nullptr;
  m_pReason = telsor::As<CQuotedString>(in.Child(CNodeRecordReader::PLACE_STRING));
}

void CCmdFILEINTO::StoreData(CNodeRecordWriter& out) const { out.StringArray(m_ppFolders); }

void CCmdFILEINTO::LoadData(CNodeRecordReader& in) {
  CListStrings::FreeStrArray(m_ppFolders);
  m_ppFolders = nullptr;
  m_ppFolders = in.StringArray();
}

void CCmdREDIRECT::StoreData(CNodeRecordWriter& out) const { out.StringArray(m_ppAddresses); }

void CCmdREDIRECT::LoadData(CNodeRecordReader& in) {
  CListStrings::FreeStrArray(m_ppAddresses);
  m_ppAddresses = nullptr;
  m_ppAddresses = in.StringArray();
}

void CCmdVACATION::StoreData(CNodeRecordWriter& out) const {
  out.OptionalNode(m_pTags);
  out.OptionalNode(m_pReason);
}

void CCmdVACATION::LoadData(CNodeRecordReader& in) {
  m_pTags = nullptr;
  m_pTags = telsor::As<CVacationTags>(in.OptionalChild(CNodeRecordReader::PLACE_VACATION_TAGS));
  m_pReason = nullptr;
  m_pReason = telsor::As<CQuotedString>(in.OptionalChild(CNodeRecordReader::PLACE_STRING));
}

void CCtrlREQUIRE::StoreData(CNodeRecordWriter& out) const { out.StringArray(m_ppCapabilities); }

void CCtrlREQUIRE::LoadData(CNodeRecordReader& in) {
  CListStrings::FreeStrArray(m_ppCapabilities);
  m_ppCapabilities = nullptr;
  m_ppCapabilities = in.StringArray();
}

void CCtrlIF::StoreLink(CNodeRecordWriter& out) const {
  ULONGLONG endField = out.Position();
  out.SeekTo(endField + 4);
  out.OptionalNode(m_pTest);
  out.OptionalNode(m_pBlock);
  ULONGLONG end = out.Position();
  out.SeekTo(endField);
  out.U32(static_cast<DWORD>(end));
  out.SeekTo(end);
}

// Each link's record ends with the next link's (flag, head, link, ...):
// written and read here in one loop rather than link inside link.
void CCtrlIF::StoreData(CNodeRecordWriter& out) const {
  StoreLink(out);
  for (const CCtrlELSIF* link = m_pNext; link != nullptr; link = link->m_pNext) {
    out.U8(1);
    out.U16(static_cast<WORD>(link->m_nType));
    out.U32(link->m_nLine);
    link->StoreLink(out);
  }
  out.U8(0);
}

void CCtrlIF::LoadLink(CNodeRecordReader& in) {
  DWORD end = in.U32();
  m_pTest = nullptr;
  m_pTest = telsor::As<CTest>(in.OptionalChild(CNodeRecordReader::PLACE_IF_TEST));
  m_pBlock = nullptr;
  m_pBlock = telsor::As<CListCommands>(in.OptionalChild(CNodeRecordReader::PLACE_BLOCK));
  if (static_cast<DWORD>(in.Position()) != end) telsor::ThrowCode(static_cast<DWORD>(E_FAIL));
  // An if and an elsif link have a test, an else link has none.
  if ((m_pTest == nullptr) != (m_nType == NODE_ELSE)) telsor::ThrowCode(static_cast<DWORD>(E_FAIL));
}

void CCtrlIF::LoadData(CNodeRecordReader& in) {
  LoadLink(in);
  m_pNext = nullptr;
  CCtrlIF* tail = this;
  for (;;) {
    BYTE flag = in.U8();
    if (flag > 1) telsor::ThrowCode(static_cast<DWORD>(E_FAIL));
    if (flag == 0) return;
    telsor::CSharedObjPtr<CCtrlELSIF> link = telsor::As<CCtrlELSIF>(in.MakeChild(CNodeRecordReader::PLACE_NEXT));
    // Hooked on first: a link that fails to load goes with the chain.
    tail->m_pNext = link;
    tail = link;
    link->m_nLine = in.U32();
    in.Nested([&] { link->LoadLink(in); });
  }
}

void CTestBoolean::StoreData(CNodeRecordWriter& out) const { out.U8(m_bValue ? 1 : 0); }
void CTestBoolean::LoadData(CNodeRecordReader& in) { m_bValue = in.U8(); }

void CTestNOT::StoreData(CNodeRecordWriter& out) const { out.OptionalNode(m_pTest); }

void CTestNOT::LoadData(CNodeRecordReader& in) {
  m_pTest = nullptr;
  m_pTest = telsor::As<CTest>(in.OptionalChild(CNodeRecordReader::PLACE_NOT_TEST));
  if (m_pTest == nullptr) telsor::ThrowCode(static_cast<DWORD>(E_FAIL));
}

void CMultiTest::StoreData(CNodeRecordWriter& out) const {
  out.U8(static_cast<BYTE>(m_nOperator));
  out.OptionalNode(m_pTests);
}

void CMultiTest::LoadData(CNodeRecordReader& in) {
  m_nOperator = static_cast<LOGIC_OPERATOR>(in.U8());
  m_pTests = nullptr;
  m_pTests = telsor::As<CListTest>(in.OptionalChild(CNodeRecordReader::PLACE_TEST_LIST));
}

void CTestSIZE::StoreData(CNodeRecordWriter& out) const {
  out.U8(static_cast<BYTE>(m_nOperator));
  out.U64(m_nLimit);
}

void CTestSIZE::LoadData(CNodeRecordReader& in) {
  m_nOperator = static_cast<NUMBER_CMP_OPERATOR>(in.U8());
  m_nLimit = in.U64();
}

void CTestXSpamTest::StoreData(CNodeRecordWriter& out) const {
  out.U8(static_cast<BYTE>(m_nOperator));
  out.F64(m_dValue);
}

void CTestXSpamTest::LoadData(CNodeRecordReader& in) {
  m_nOperator = static_cast<RELATIONAL_MATCH_TYPE>(in.U8());
  m_dValue = in.F64();
}

void CTestEXISTS::StoreData(CNodeRecordWriter& out) const { out.StringArray(m_ppNames); }

void CTestEXISTS::LoadData(CNodeRecordReader& in) {
  CListStrings::FreeStrArray(m_ppNames);
  m_ppNames = nullptr;
  m_ppNames = in.StringArray();
}

void CKeyStr::StoreData(CNodeRecordWriter& out) const {
  out.U8(static_cast<BYTE>(m_nMatchType));
  out.U8(static_cast<BYTE>(m_nComparator));
  out.PatternList(m_ppPatterns);
}

void CKeyStr::LoadData(CNodeRecordReader& in) {
  m_nMatchType = static_cast<MATCH_TYPES>(in.U8());
  m_nComparator = static_cast<TYPE_COMPARATOR>(in.U8());
  FreePatterns();
  m_ppPatterns = in.PatternList();
}

void CTestTwoStrList::StoreData(CNodeRecordWriter& out) const {
  CKeyStr::StoreData(out);
  out.U8(static_cast<BYTE>(m_nRelational));
  out.StringArray(m_ppFirst);
}

void CTestTwoStrList::LoadData(CNodeRecordReader& in) {
  CKeyStr::LoadData(in);
  m_nRelational = static_cast<RELATIONAL_MATCH_TYPE>(in.U8());
  CListStrings::FreeStrArray(m_ppFirst);
  m_ppFirst = nullptr;
  m_ppFirst = in.StringArray();
}

void CTestADDRESS::StoreData(CNodeRecordWriter& out) const {
  CTestTwoStrList::StoreData(out);
  out.U8(static_cast<BYTE>(m_nAddressPart));
}

void CTestADDRESS::LoadData(CNodeRecordReader& in) {
  CTestTwoStrList::LoadData(in);
  m_nAddressPart = static_cast<ADDRESS_PART>(in.U8());
}

void CTestENVELOPE::StoreData(CNodeRecordWriter& out) const {
  CTestTwoStrList::StoreData(out);
  out.U8(static_cast<BYTE>(m_nAddressPart));
}

void CTestENVELOPE::LoadData(CNodeRecordReader& in) {
  CTestTwoStrList::LoadData(in);
  m_nAddressPart = static_cast<ADDRESS_PART>(in.U8());
}

void CTestBODY::StoreData(CNodeRecordWriter& out) const {
  CTestTwoStrList::StoreData(out);
  out.U8(static_cast<BYTE>(m_bTransform));
}

void CTestBODY::LoadData(CNodeRecordReader& in) {
  CTestTwoStrList::LoadData(in);
  m_bTransform = in.U8();
}

void CTestATTACHMENT::StoreData(CNodeRecordWriter& out) const {
  CKeyStr::StoreData(out);
  out.StringArray(m_ppKeys);
}

void CTestATTACHMENT::LoadData(CNodeRecordReader& in) {
  CKeyStr::LoadData(in);
  CListStrings::FreeStrArray(m_ppKeys);
  m_ppKeys = nullptr;
  m_ppKeys = in.StringArray();
}
