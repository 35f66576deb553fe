// Header fields of one header block: CRfc822Field (name, contents, insertion
// number) and the collection CRfc822Fields, kept in insertion order or
// sorted by name.
//
//   CRfc822Fields fields;
//   fields.Add("To", "a@x");
//   fields.Add("Subject", "Hi");
//   fields.Add("to", "b@y");
//   fields.FindFirst("TO");                      // 0: the oldest "To" field
//   fields.Sort(CRfc822Fields::ORDER_BY_NAME);   // Subject, To, to (stable)
//   fields.FindFirst("To");                      // 1, by binary search
//   fields.Add("To", "c@z");                     // goes in front of the other
//                                                // "To" fields: FindFirst finds it
//   fields.Sort(CRfc822Fields::ORDER_INSERTION); // To a@x, Subject, to, To c@z
//
//   CRfc822Field::ComposeHeader("Subject", text, stream, 76);  // one folded line
//
// Names are compared without regard to ASCII case everywhere. Sorting is
// stable, so fields of one name keep their insertion order; a field added
// to a name-sorted collection goes in front of the fields of its name.
// A field parses its contents as an address list on first demand
// (GetAddreses) and keeps the list until its contents change.
// Fields are held by pointer: the pointer that Add returns stays valid until
// the field is removed. Misuse is reported with standard exceptions:
// std::bad_exception for a position out of range, std::bad_typeid for a null
// name, std::bad_alloc when memory runs out. Composing throws the stream's
// failure code as DWORD. One thread at a time.
#ifndef TELSOR_MIME_HEADERFIELDS_H
#define TELSOR_MIME_HEADERFIELDS_H

#include <memory>
#include <vector>

#include "foundation/istream.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"

// An insertion number and a position, ordered by the first word.
struct tag_DWORD_PAIR {
  DWORD first;
  DWORD second;
  bool operator<(const tag_DWORD_PAIR& other) const { return first < other.first; }
};

namespace telsor {

class CRfc822Addresses;

class CRfc822Field {
 public:
  CRfc822Field();
  // Copies both texts (null: empty).
  CRfc822Field(const char* name, const char* contents, ULONG index);
  // The same for the texts up to their first NUL byte; a text without one
  // is shared, not copied.
  CRfc822Field(const TSTRING& name, const TSTRING& contents, ULONG index);
  // Copies name, contents, index and a parsed address list.
  CRfc822Field(const CRfc822Field& other);
  // Copies name, contents and a parsed address list; keeps its own index.
  CRfc822Field& operator=(const CRfc822Field& other);
  ~CRfc822Field();

  const TSTRING& GetName() const { return m_strName; }
  const TSTRING& GetContents() const { return m_strContents; }
  ULONG GetIndex() const { return m_nIndex; }
  void PutIndex(ULONG index) { m_nIndex = index; }
  // New contents; a parsed address list is dropped.
  void PutContents(const char* contents);
  // The contents as an address list (every address of kind
  // ADDRESS_TYPE_FIELD), parsed on the first call and kept; null while the
  // contents are empty and nothing was parsed. std::bad_alloc when the list
  // cannot be made.
  CRfc822Addresses* GetAddreses();

  // ComposeHeader(name, contents, stream, limit).
  void Compose(IStream* stream, ULONG limit) const;

  // True when name is one of the 24 standard header names. The first
  // character must match exactly, the rest without regard to case, so
  // "CONTENT-TYPE" is known and "content-type" is not.
  static BOOL IsKnownHeader(const char* name);
  // The header-line unfolding of the MIME helpers, in place.
  static void UnfoldLine(TSTRING& text);
  // Writes "name: value" CR LF, the value's words folded onto continuation
  // lines (CR LF and two spaces where white space stood, one space where a
  // word is cut) so that lines stay below limit columns; a word longer than
  // limit is cut into pieces of limit characters, and where no white space
  // follows within limit characters "," and ";" split it. A null or empty
  // value gives "name:" CR LF.
  static void ComposeHeader(const char* name, const char* value, IStream* stream, ULONG limit);
  // "name value;" and the items of a comma- or space-separated list, placed
  // on lines of at most limit columns; continuation lines are indented by
  // indent spaces. Ends in CR LF. items is required.
  static TSTRING FormatHeader(const char* name, const char* value, const char* items, ULONG limit,
                              ULONG indent);

 private:
  void CopyAddresses(const CRfc822Field& other);

  TSTRING m_strName;
  TSTRING m_strContents;
  ULONG m_nIndex;
  std::unique_ptr<CRfc822Addresses> m_pAddresses;
};

class CRfc822Fields {
 public:
  enum FIELDS_ORDER {
    ORDER_INSERTION = 0,
    ORDER_BY_NAME = 1,
    ORDER_KEEP = 3,  // Sort leaves the present order
  };

  CRfc822Fields();
  CRfc822Fields(const CRfc822Fields& other);
  CRfc822Fields& operator=(const CRfc822Fields& other);
  ~CRfc822Fields();

  ULONG GetCount() const { return static_cast<ULONG>(m_aFields.size()); }
  ULONG GetCapacity() const { return static_cast<ULONG>(m_aFields.capacity()); }
  FIELDS_ORDER GetOrder() const { return m_nOrder; }

  // The field at position i; std::bad_exception when i is not below the
  // count (a negative i included).
  CRfc822Field& operator[](LONG i) const;

  // Room for n fields; never shrinks.
  void Allocate(ULONG n);
  void Reserve(ULONG n);

  // Adds a field whose index is the count before the addition: at the end,
  // or, in name order, in front of the first field whose name is not below
  // name. std::bad_typeid for a null name.
  CRfc822Field* Add(const char* name, const char* contents);
  // Add(name.c_str(), contents.c_str()), sharing the texts that hold no NUL.
  CRfc822Field* Add(const TSTRING& name, const TSTRING& contents);
  // Adds each field of other (position 0 first) by name and contents;
  // adding a collection to itself does nothing.
  CRfc822Fields& operator+=(const CRfc822Fields& other);
  // Removes the field at position i; the fields added after it move down
  // one insertion number. std::bad_exception when i is out of range.
  void RemoveAt(LONG i);
  // Empties the collection; back to insertion order.
  void RemoveAll();

  // Puts the fields in that order (stable); ORDER_KEEP and unknown values
  // change nothing, and so does sorting an empty collection.
  void Sort(FIELDS_ORDER order);

  // The position of the first field named name, or -1.
  LONG FindFirst(const char* name) const;
  BOOL IsExist(const char* name) const;

  // Writes every field named name, in insertion order, folded at limit.
  void ComposeHeadersByName(const char* name, IStream* stream, ULONG limit) const;
  // Writes every field whose name is not a known header, in insertion
  // order, folded at 76.
  void ComposeExtensionHeaders(IStream* stream) const;
  // The same, leaving out also the fields whose names are among the count
  // names of written (compared without regard to case): fields that the
  // caller writes itself.
  void ComposeExtensionHeaders(IStream* stream, const char* const* written, ULONG count) const;
  // The contents of the fields named name in insertion order, joined by
  // separator (an empty contents after the first non-empty one still adds a
  // separator). Empty when none matches.
  TSTRING AssembleField(const char* name, char separator) const;

 private:
  // Positions of the fields matching keep, in insertion order.
  template <class Keep>
  std::vector<tag_DWORD_PAIR> Select(Keep keep) const;
  // Adds the field made by make(index) as Add does.
  template <class Make>
  CRfc822Field* AddMade(const char* name, Make make);

  std::vector<std::unique_ptr<CRfc822Field>> m_aFields;
  FIELDS_ORDER m_nOrder;
};

}  // namespace telsor

#endif  // TELSOR_MIME_HEADERFIELDS_H
