// Address texts from untrusted bytes: one mailbox, the splitter's items and
// the address-list operation (groups included) all end, never read past the
// text, and keep their invariants: an address exists exactly when a local
// part does, and then its domain is lower case.
#include <stdint.h>
#include <string.h>

#include <cstdlib>

#include "mime/rfc822address.h"
#include "mime/rfc822parser.h"

using namespace telsor;

namespace {

void Check(const CRfc822Address& a) {
  if (a.GetAddress().IsEmpty() != a.GetLocalPart().IsEmpty()) abort();
  if (!a.GetAddress().IsEmpty()) {
    const TSTRING& d = a.GetDomain();
    for (int i = 0; i < d.GetLength(); ++i)
      if (d[i] >= 'A' && d[i] <= 'Z') abort();
  }
  if (a.GetFullName().Find('\r') >= 0 || a.GetFullName().Find('\n') >= 0) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFF) return 0;
  CRfc822Address one;
  one.Parse(reinterpret_cast<const char*>(data), static_cast<ULONG>(size));
  Check(one);

  CRfcMailboxListParser items(data, static_cast<ULONG>(size));
  size_t count = 0;
  while (items.NextMbox() != CRfcMailboxListParser::MBOX_END) {
    if (++count > size + 1) abort();  // every item takes at least one byte
  }

  CRfc822Addresses list;
  CRfc822Parser::ParseAddressList(TSTRING(reinterpret_cast<const char*>(data), static_cast<int>(size)), list,
                                  ADDRESS_TYPE_FIELD);
  for (void* p = list.GetHeadPosition(); p != nullptr;) Check(list.GetNext(p));
  list.Assemble();
  return 0;
}
