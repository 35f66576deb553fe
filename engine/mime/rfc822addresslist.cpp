// Address lists of header fields: mailboxes and groups into a list.
#include "mime/rfc822parser.h"

namespace telsor {

void CRfc822Parser::ParseAddressList(const TSTRING& text, CRfc822Addresses& list, tag_ADDRESS_TYPE type) {
  ParseAddressList(text, list, type, 0);
}

void CRfc822Parser::ParseAddressGroupList(const TSTRING& text, CRfc822Addresses& list, tag_ADDRESS_TYPE type) {
  ParseAddressGroupList(text, list, type, 0);
}

void CRfc822Parser::ParseAddressList(const TSTRING& text, CRfc822Addresses& list, tag_ADDRESS_TYPE type,
                                     int depth) {
  CRfcMailboxListParser items(reinterpret_cast<const unsigned char*>(text.c_str()),
                              static_cast<ULONG>(text.GetLength()));
  CRfc822Address work;
  for (;;) {
    int kind = items.NextMbox();
    if (kind == CRfcMailboxListParser::MBOX_END) break;
    if (kind == CRfcMailboxListParser::MBOX_GROUP && depth < MAX_GROUP_NESTING) {
      ParseAddressGroupList(items.MboxString(), list, type, depth);
    } else if (kind != CRfcMailboxListParser::MBOX_EMPTY) {
      work = items.MboxString();
      work.PutAddressType(type);
      list.AddTail(work);
    }
  }
}

void CRfc822Parser::ParseAddressGroupList(const TSTRING& text, CRfc822Addresses& list, tag_ADDRESS_TYPE type,
                                          int depth) {
  // The members: from after the first ":" outside angle brackets to the
  // next ";" outside them (or to the end).
  CRfc2045Tokenizer tokens(reinterpret_cast<const unsigned char*>(text.c_str()),
                           static_cast<ULONG>(text.GetLength()));
  bool inAngle = false, inMembers = false;
  DWORD from = 0, to = static_cast<DWORD>(text.GetLength());
  for (;;) {
    int kind = tokens.NextToken();
    if (kind == CRfc2045Tokenizer::TOKEN_END) break;
    if (kind != CRfc2045Tokenizer::TOKEN_SPECIAL) continue;
    char c = tokens.Token()[0];
    if (inAngle) {
      if (c == '>') inAngle = false;
    } else if (c == '<') {
      inAngle = true;
    } else if (!inMembers && c == ':') {
      inMembers = true;
      from = tokens.GetPos();
    } else if (inMembers && c == ';') {
      to = tokens.GetPos() - 1;
      break;
    }
  }
  if (!inMembers) return;
  ParseAddressList(text.Mid(static_cast<int>(from), static_cast<int>(to - from)), list, type, depth + 1);
}

}  // namespace telsor
