// RFC 822 addresses: one mailbox (CRfc822Address), the splitter of an
// address-list value into items (CRfcMailboxListParser) and an ordered list
// of addresses (CRfc822Addresses).
//
//   CRfc822Address a("Help Desk <JS@Host>");
//   a.GetFullName();      // "Help Desk"
//   a.GetLocalPart();     // "JS"
//   a.GetDomain();        // "host" (lower-cased once a local part exists)
//   a.GetAddress();       // "JS@host"
//
//   CRfcMailboxListParser items(value, valueLength);
//   int kind;
//   while ((kind = items.NextMbox()) != CRfcMailboxListParser::MBOX_END) {
//     if (kind == CRfcMailboxListParser::MBOX_MAILBOX) use(items.MboxString());
//   }
//
// Nothing here reports an error: any text yields records, as complete as the
// text allows (an unterminated quoted string, comment or domain literal ends
// the parse with what was collected). A display name holding RFC 2047 words
// is decoded into GetDecodedFullName, and GetCharset names the first charset
// other than US-ASCII among them. Parsers take explicit lengths and never
// read past them. Records are plain values; one thread at a time.
#ifndef TELSOR_MIME_RFC822ADDRESS_H
#define TELSOR_MIME_RFC822ADDRESS_H

#include <stdint.h>

#include "foundation/plist.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "mime/rfc2045tokenizer.h"

namespace telsor {

// The kind stamped on each address of a list; stored, never read by the
// engine. Addresses parsed from header fields carry ADDRESS_TYPE_FIELD.
enum tag_ADDRESS_TYPE : int32_t {
  ADDRESS_TYPE_FIELD = 6,
};

class CRfc822Address {
 public:
  CRfc822Address();
  explicit CRfc822Address(const char* text);  // null: an empty record
  explicit CRfc822Address(const TSTRING& text);
  CRfc822Address(const CRfc822Address& other);
  CRfc822Address& operator=(const CRfc822Address& other);
  ~CRfc822Address();

  // Empties every text; kind ADDRESS_TYPE_FIELD.
  void Clear();
  // Replaces the record by the mailbox in text (NUL-terminated; null counts
  // as empty) or in length bytes at text.
  void Parse(const char* text);
  void Parse(const char* text, ULONG length);
  CRfc822Address& operator=(const char* text);
  CRfc822Address& operator=(const TSTRING& text);
  void SetAddress(const char* text);
  // When the address has an "@" after its first character, rebuilds the
  // record from the address with everything after the first "@" replaced by
  // domain (full name and route are lost); otherwise changes nothing.
  void SetDomain(const char* domain);
  // Full name and decoded full name := name, charset from its encoded words.
  void SetFullName(const TSTRING& name);
  // A heap copy; the caller deletes it.
  CRfc822Address* Clone() const;

  // Local part, "@", lower-cased domain; empty without a local part.
  const TSTRING& GetAddress() const { return m_strAddress; }
  const TSTRING& GetLocalPart() const { return m_strLocalPart; }
  const TSTRING& GetDomain() const { return m_strDomain; }
  // The display name as written (quotes and encoded words included).
  const TSTRING& GetFullName() const { return m_strFullName; }
  const TSTRING& GetDecodedFullName() const { return m_strDecodedFullName; }
  // The source route of an angle address ("@r1,@r2"), without its colon.
  const TSTRING& GetRoute() const { return m_strRoute; }
  const TSTRING& GetCharset() const { return m_strCharset; }
  tag_ADDRESS_TYPE GetAddressType() const { return m_nType; }
  void PutAddressType(tag_ADDRESS_TYPE type) { m_nType = type; }

 private:
  TSTRING m_strAddress;
  TSTRING m_strLocalPart;
  TSTRING m_strDomain;
  TSTRING m_strFullName;
  TSTRING m_strDecodedFullName;
  TSTRING m_strRoute;
  TSTRING m_strCharset;
  tag_ADDRESS_TYPE m_nType;
};

// Splits an address-list value into items: a mailbox (up to the next comma
// outside angle brackets), a group (a ":" outside angle brackets; the item
// runs past the next ";" to the next comma), an empty item (two commas in a
// row), or the end. Item texts keep the white space before their tokens and
// lose the ending comma; an unterminated quoted string is closed with a
// double quote.
class CRfcMailboxListParser : public CRfc2045Tokenizer {
 public:
  enum { MBOX_GROUP = 1, MBOX_MAILBOX = 2, MBOX_EMPTY = 3, MBOX_END = 4 };

  CRfcMailboxListParser(const unsigned char* data, ULONG length);
  CRfcMailboxListParser(IStream* stream, ULONG length);

  int NextMbox();
  TSTRING& MboxString() { return m_strMbox; }
  int MboxType() const { return m_nMboxType; }

 private:
  TSTRING m_strMbox;
  int m_nMboxType;
};

// Addresses in header order, copied in by value.
class CRfc822Addresses : public CPList<CRfc822Address, CRfc822Address&> {
 public:
  explicit CRfc822Addresses(int blockSize = 10) : CPList<CRfc822Address, CRfc822Address&>(blockSize) {}

  // "Full Name <address>, <address>": records without an address are
  // skipped; full names are written as stored. Empty for no addresses.
  TSTRING Assemble() const;
  // Exactly one record afterwards: text parsed as one address (no splitting
  // at commas), even when it is empty.
  CRfc822Addresses& operator=(const char* text);
  CRfc822Addresses& operator=(const TSTRING& text);
};

}  // namespace telsor

#endif  // TELSOR_MIME_RFC822ADDRESS_H
