// CRfc822Parser: the message parser. Its address-list operations are static
// and need no parser session:
//
//   CRfc822Addresses to;
//   CRfc822Parser::ParseAddressList("A <a@x>, Friends: b@y, c@z;, d@w", to, ADDRESS_TYPE_FIELD);
//   // to: a@x, b@y, c@z, d@w (a group gives its members)
//
// The list is appended to, never emptied, in text order; every entry is
// stamped with the given kind. An entry that is no valid address still gives
// one record (what the address parser made of it); empty entries are
// skipped. A group's members are the text between its ":" and ";" and are
// parsed like a list of their own; groups nested inside groups are expanded
// up to MAX_GROUP_NESTING levels, deeper ones are parsed as one mailbox, so
// every input ends in time linear in its length. Memory exhaustion passes
// the engine's memory exception on; the list keeps what was appended.
#ifndef TELSOR_MIME_RFC822PARSER_H
#define TELSOR_MIME_RFC822PARSER_H

#include "foundation/tstring.h"
#include "mime/rfc822address.h"

namespace telsor {

class CRfc822Parser {
 public:
  static const int MAX_GROUP_NESTING = 8;

  static void ParseAddressList(const TSTRING& text, CRfc822Addresses& list, tag_ADDRESS_TYPE type);
  // One group entry ("display name: members;"): its members go to list.
  static void ParseAddressGroupList(const TSTRING& text, CRfc822Addresses& list, tag_ADDRESS_TYPE type);

 private:
  static void ParseAddressList(const TSTRING& text, CRfc822Addresses& list, tag_ADDRESS_TYPE type, int depth);
  static void ParseAddressGroupList(const TSTRING& text, CRfc822Addresses& list, tag_ADDRESS_TYPE type,
                                    int depth);
};

}  // namespace telsor

#endif  // TELSOR_MIME_RFC822PARSER_H
