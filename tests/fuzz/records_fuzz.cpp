// Every record loader of pattern search from untrusted bytes: a load either
// succeeds or fails with a code, never crashes, hangs or reads out of
// bounds; what it loaded can be searched, stores again, and reloads to a
// record that stores to the same bytes.
//
// Input: byte 0 selects the record (base pattern, exact string,
// dictionary, substring, wildcard, multi-word, regular expression, packed
// table, bit set), the rest is the record.
#include <stdint.h>
#include <string.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "common/teststream.h"
#include "search/dfatranstable.h"
#include "search/regexpr.h"
#include "search/seekdictionary.h"
#include "search/seekexactstr.h"
#include "search/seekmatches.h"
#include "search/seekmultiwords.h"
#include "search/seeksubstr.h"
#include "search/setbits.h"

using namespace telsor;

namespace {
void Check(bool ok) {
  if (!ok) abort();
}

std::unique_ptr<CSeekPattern> Make(uint8_t kind) {
  switch (kind) {
    case 0: return std::make_unique<CSeekPattern>();
    case 1: return std::make_unique<CSeekExactStr>();
    case 2: return std::make_unique<CSeekDictionary>();
    case 3: return std::make_unique<CSeekSubstr>();
    case 4: return std::make_unique<CSeekMatches>(SEEK_CAPS_BRACKETS | SEEK_CAPS_ESCAPE);
    case 5: return std::make_unique<CSeekMultiWords>();
    default: return std::make_unique<CRegExpr>();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t kind = data[0] % 9;
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  CTestStream in(bytes);
  std::string stored;

  if (kind == 7) {
    CSharedObjPtr<CDFATransTable> t = new CDFATransTable;
    if (t->Serialize(&in, 0) != S_OK) {
      Check(t->GetStateCount() == 0);
      return 0;
    }
    const DWORD n = t->GetStateCount();
    for (DWORD s = 0; s < n && s < 64; ++s)
      for (DWORD c = 0; c < 256; ++c) {
        const WORD next = t->Lookup(static_cast<WORD>(s), c);
        Check(next == CDFATransTable::NONE || next < n);
      }
    CTestStream out;
    Check(t->Serialize(&out, 1) == S_OK);
    stored = out.str();
    out.pos = 0;
    CSharedObjPtr<CDFATransTable> back = new CDFATransTable;
    Check(back->Serialize(&out, 0) == S_OK);
    CTestStream out2;
    Check(back->Serialize(&out2, 1) == S_OK);
    Check(out2.str() == stored);
    return 0;
  }
  if (kind == 8) {
    CSetBits b;
    if (b.Serialize(&in, 0) != S_OK) return 0;
    b.GetHash();
    CSetBits copy = b;
    Check(copy == b);
    b.SetBitAt(77, 1);
    return 0;
  }

  std::unique_ptr<CSeekPattern> m = Make(kind);
  if (m->Serialize(&in, 0) != S_OK) {
    // What is left of a failed load is safe to use.
    m->Search("xxabcabyy", 0, nullptr);
    return 0;
  }
  for (DWORD i = 0; i < m->GetCount() && i < 16; ++i) m->GetPattern(static_cast<LONG>(i));
  static const char* kTexts[] = {"", "a", "xxabcabyy alpha beta", "\n.\n From: 0123 [x]*?"};
  for (const char* text : kTexts) {
    DWORD len = 77;
    const DWORD at = m->Search(text, static_cast<DWORD>(strlen(text)), &len);
    if (strlen(text) != 0) Check(at == SEEK_NOT_FOUND ? len == 0 : len <= strlen(text) + 1);
    CTestStream body(std::string(text) + std::string(300, 'a'));
    m->Search(&body, 0x1000, &len);
  }
  CTestStream out;
  if (m->Serialize(&out, 1) != S_OK) return 0;  // a pattern too long to store again
  stored = out.str();
  out.pos = 0;
  std::unique_ptr<CSeekPattern> back = Make(kind);
  Check(back->Serialize(&out, 0) == S_OK);
  CTestStream out2;
  Check(back->Serialize(&out2, 1) == S_OK);
  Check(out2.str() == stored);
  return 0;
}
