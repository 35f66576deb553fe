// Node records of the compiled form of a filter script.
//
//   CSieveScript script;
//   HRESULT hr = script.ParseString("keep;", nullptr);
//   IStream* stream = nullptr;
//   if (SUCCEEDED(hr)) hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
//   if (FAILED(hr)) return hr;
//   CSharedObjPtr<CExprTreeNode> root = script.GetRoot();
//   hr = root->Serialize(stream, 1);              // store
//   LARGE_INTEGER zero = {};
//   stream->Seek(zero, STREAM_SEEK_SET, nullptr);
//   BYTE code[2];
//   if (SUCCEEDED(hr)) hr = ReadField(stream, code, 2, E_FAIL);   // the caller reads the type code
//   CExprTreeNode* made = nullptr;
//   if (SUCCEEDED(hr))
//     hr = CExprTreeNode::CreateInstance(
//         static_cast<CExprTreeNode::TYPE_NODE>(code[0] | code[1] << 8), &made);
//   CSharedObjPtr<CExprTreeNode> node = made;     // made with count 0: node holds it
//   if (SUCCEEDED(hr)) hr = node->Serialize(stream, 0);   // load the rest
//   stream->Release();
//
// Every node stores itself as a record (little-endian, fixed widths):
//
//   u16 type code, u32 line, then the class's data
//
// and a node with children writes their complete records inside its own,
// so the root command list's record holds the whole tree. Building blocks:
//   child       the child's record; an optional one is preceded by a u8
//               flag (1 present, 0 absent)
//   string      u32 length, the bytes; from version 6 a length of 0 is
//               followed by a u8: 1 an empty text, 0 none (in version 5
//               both have length 0 and load as none)
//   str array   u16 count, u32 total (sum of length + 1), then per text a
//               u16 length and the bytes; a null array has count 0 and
//               loads as null again
//   patterns    u16 count, then per matcher a u8 kind (1 exact, 2 multi-word,
//               3 wildcard, 4 substring, 5 regex, 6 dictionary) and the
//               matcher's own record (search layer). From version 6 a
//               one-pattern matcher (1, 3, 4, 5) that holds the empty key
//               has 0x80 added to its kind (its own record cannot tell an
//               empty pattern from none); it loads holding the empty key.
// An if or an elsif/else link stores a u32 end position (the absolute
// stream position just after its block) before its test, block and next
// link; the links of a chain do not count as nesting. For example a keep
// at line 3 is 0E 00 03 00 00 00.
//
// Records are read as hostile input: nesting is capped at
// SIEVE_RECORD_MAX_NESTING records (0x80000008 beyond), every child must
// suit its place (a test where a test belongs, a command in a command list,
// a block that is a command list...), nothing is allocated by a length
// before the bytes it announces have arrived, and a matcher kind outside
// 1-6 gives 0x80000001. A failing load leaves the node with what it had
// read; the caller discards it.
//
// Failures inside the reader and the writer are thrown as bare codes
// (ThrowCode) or as the engine's memory exception; Serialize turns them into
// its result. One reader or writer per operation, on one thread.
#ifndef TELSOR_FILTER_SIEVERECORD_H
#define TELSOR_FILTER_SIEVERECORD_H

#include <stdint.h>

#include "filter/exprtree.h"
#include "foundation/istream.h"
#include "foundation/obj.h"
#include "foundation/throwcode.h"
#include "foundation/wintypes.h"
#include "search/seekpattern.h"

namespace telsor {

// Records nested deeper than this are refused.
const DWORD SIEVE_RECORD_MAX_NESTING = 1000;

// The record layout written (the container's version field); version 5
// records load as they always did.
const WORD SIEVE_RECORD_VERSION = 6;
const WORD SIEVE_RECORD_VERSION_5 = 5;

// Loads the node's line and data from a record of that version (its type
// code read already); the result as CExprTreeNode::Serialize gives it.
[[nodiscard]] HRESULT LoadNodeRecord(CExprTreeNode& node, IStream* stream, WORD version);


class CNodeRecordWriter {
 public:
  explicit CNodeRecordWriter(IStream* stream) : m_pStream(stream) {}

  void U8(BYTE value);
  void U16(WORD value);
  void U32(DWORD value);
  void I32(int32_t value);
  void U64(uint64_t value);
  void F64(double value);
  void Bytes(const void* data, size_t count);

  // Head and data of the node.
  void Node(const CExprTreeNode& node);
  // The presence flag, then the node's record when there is one.
  void OptionalNode(const CExprTreeNode* node);
  void StringValue(const char* text);
  // Refuses (E_FAIL) more than 65,535 texts or a text of 65,536 bytes or
  // more, which the form cannot hold.
  void StringArray(const char* const* texts);
  // Refuses (E_FAIL) more than 65,535 matchers or a matcher of a class that
  // has no kind.
  void PatternList(const CSeekPattern* const* patterns);

  // The absolute stream position.
  ULONGLONG Position();
  void SeekTo(ULONGLONG position);

 private:
  IStream* m_pStream;
};

class CNodeRecordReader {
 public:
  // Where a child record stands; decides which type codes and classes fit.
  enum PLACE {
    PLACE_IF_TEST,         // the test of an if or elsif link: any test
    PLACE_NOT_TEST,        // the test of a not: any test
    PLACE_BLOCK,           // 17
    PLACE_NEXT,            // 21 or 22
    PLACE_VACATION_TAGS,   // 7
    PLACE_STRING,          // 1 or 2 (reasons, subject)
    PLACE_TEST_LIST,       // a CListTest whatever the code says
    PLACE_IN_COMMANDS,     // commands and controls
    PLACE_IN_TESTS,        // any test
    PLACE_IN_STRINGS,      // 1 or 2
    PLACE_IN_TAGS,         // 4, 5, 6, 9, 10
  };

  explicit CNodeRecordReader(IStream* stream, WORD version = SIEVE_RECORD_VERSION)
      : m_pStream(stream), m_nNesting(0), m_nVersion(version) {}

  BYTE U8();
  WORD U16();
  DWORD U32();
  int32_t I32();
  uint64_t U64();
  double F64();

  // The line and the data of a node made by the factory (its type code has
  // been read already).
  void Body(CExprTreeNode& node);
  // Type code and record of a child for the place; the node comes back with
  // the pointer's reference only.
  CSharedObjPtr<CExprTreeNode> Child(PLACE place);
  // The type code only: the node made for the place, its record unread.
  CSharedObjPtr<CExprTreeNode> MakeChild(PLACE place);
  // Runs load one nesting level deeper (refused past the cap).
  template <class F>
  void Nested(F load) {
    if (m_nNesting >= SIEVE_RECORD_MAX_NESTING) ThrowCode(static_cast<DWORD>(E_FAIL));
    ++m_nNesting;
    load();
    --m_nNesting;
  }
  // The presence flag (0 or 1), then the child when present; null when absent.
  CSharedObjPtr<CExprTreeNode> OptionalChild(PLACE place);
  // A malloc'd copy of the text; null for none (and, in version 5 records,
  // for an empty one).
  char* StringValue();
  // A string array (CListStrings::FreeStrArray frees it); null when it
  // holds no text.
  const char** StringArray();
  // A null-terminated array of matchers (CKeyStr::FreePatterns frees it);
  // null for none.
  CSeekPattern** PatternList();

  ULONGLONG Position();

 private:
  void Read(void* buffer, ULONG count);

  IStream* m_pStream;
  DWORD m_nNesting;
  WORD m_nVersion;
};

}  // namespace telsor

#endif  // TELSOR_FILTER_SIEVERECORD_H
