// CSieveScript: one filter script in compiled form, the tree that the Sieve
// parser built, plus the description and position of the last parse error.
//
//   telsor::CSieveScript script;
//   HRESULT hr = script.ParseString("if header :contains \"Subject\" \"x\" { discard; }", nullptr);
//   if (FAILED(hr)) {
//     const char* why = script.GetErrorDescription();   // "Line: 1, Column: 9 : ...\n"; may be null
//     fprintf(stderr, "%s", why ? why : "");
//     return hr;
//   }
//   telsor::TSTRING text;
//   hr = script.PrintToString(text);  // the script as Sieve text again
//   PFN_SIEVE_HEADER myHeaderTest = [](SIEVE_STRINGS, SIEVE_KEYS, TYPE_COMPARATOR, MATCH_TYPES,
//                                      RELATIONAL_MATCH_TYPE, void*) -> HRESULT { return S_SIEVE_TRUE; };
//   PFN_SIEVE_ACTION myDiscard = [](void*) -> HRESULT { return S_OK; };
//   tag_SIEVE_INTERP_CTXT ctx = {};   // the host's callbacks (sieveinterp.h)
//   ctx.header = myHeaderTest;
//   ctx.discard = myDiscard;
//   hr = script.Execute(&ctx);        // tests in pass 1, actions in pass 2
//   IStream* stream = nullptr;
//   if (SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) {
//     hr = script.Serialize(stream, 1);   // the compiled form; 0 loads it back
//     stream->Release();
//   }
//
// A text is refused, with an error line, for a NUL byte anywhere, an unclosed
// "/*" comment, or blocks and tests nested past the parser's 200-entry stack
// (E_SIEVE_TOO_DEEP, "nesting too deep"); an elsif chain of any
// length takes no stack. The :regex keys of one parse share one budget
// (search/regexbudget.h); a script that outgrows it fails with
// E_SIEVE_REGEX_BUDGET.
//
// Assignment shares the tree (it is never changed after it is built), so
// copies are cheap and may run on different threads at once; one
// CSieveScript object itself is used by one thread at a time. Parsing keeps
// all its state in a scanner and a parser of its own: any number of threads
// may compile scripts at once.
#ifndef TELSOR_FILTER_SIEVESCRIPT_H
#define TELSOR_FILTER_SIEVESCRIPT_H

#include <stdio.h>

#include <istream>
#include <vector>

#include "filter/exprtree.h"
#include "filter/filterresults.h"
#include "filter/sieveinterp.h"
#include "foundation/istream.h"
#include "foundation/obj.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"

namespace telsor {

class CSieveScript {
 public:
  CSieveScript();
  CSieveScript(const CSieveScript& other);
  ~CSieveScript();
  // Shares the other's tree and copies its error fields.
  CSieveScript& operator=(const CSieveScript& other);

  // Releases the tree and the error fields.
  void Empty();
  void SetErrorDescription(const char* text);

  // The highest script version this engine runs.
  static DWORD GetEngineVersion() { return 10; }
  // From now on ":matches" keys compile in anchored-expression style (see
  // CKeyStr); nothing switches it off again.
  static void MakeQuorMailWebCompatible();

  // Compiles a script file; logPath (null or "" for none) is created for the
  // scanner's output. Returns 0; E_SIEVE_OPEN_FAILED when the script or the
  // log cannot be opened (the script is then unchanged); the parser's code,
  // or E_SIEVE_SYNTAX, with the error fields set and no tree; E_OUTOFMEMORY
  // and the like when the parse throws.
  [[nodiscard]] HRESULT Parse(const char* path, const char* logPath);
  // The same over script text (null is the empty text).
  [[nodiscard]] HRESULT ParseString(const char* text, const char* logPath);

  // Writes the script as Sieve text to the standard output (path unused);
  // nothing for an empty script. 0, or E_SIEVE_EXCEPTION when printing threw.
  [[nodiscard]] HRESULT Print(const char* path) const;
  [[nodiscard]] HRESULT PrintTo(FILE* stream) const;
  [[nodiscard]] HRESULT PrintToString(TSTRING& text) const;

  // Runs the script against the host's callbacks in two passes (see
  // sieveinterp.h). Returns 0 (also for an empty script, which calls
  // nothing); the first failure of pass 1 (a callback's code, a missing
  // callback, E_SIEVE_TOO_DEEP, a conflict E_SIEVE_*_CONFLICT, or
  // E_SIEVE_EXCEPTION when a callback threw), after which no action is
  // performed; or the first failure of an action in pass 2. The context
  // holds the caller's values again on return, but for node and line.
  [[nodiscard]] HRESULT Execute(tag_SIEVE_INTERP_CTXT* ctx) const;

  // store non-zero writes the compiled form at the stream's position:
  //   "TELSOR_SIEVE" (12 bytes), u16 CRC-16/XMODEM of the bytes from the
  //   version field to the end, u16 version 6, u32 length (the container's
  //   size less 12), then the root command list's record (sieverecord.h)
  // and leaves the stream just after it; an empty script stores an empty
  // command list. 0 loads one (versions 4, 5 and 6; 4 and 5 without the
  // empty texts and keys that 6 keeps, sieverecord.h) from the position:
  // E_SIEVE_BAD_MAGIC, E_RECORD_VERSION, E_SIEVE_BAD_CHECKSUM, E_FAIL for a
  // cut-short header field, the records' codes; the script is unchanged
  // when the header fails and empty when the records fail. The stream must
  // read, write and seek (storing reads its bytes back for the checksum);
  // its failures come back unchanged.
  [[nodiscard]] HRESULT Serialize(IStream* stream, int store);

  // A sender white list (a matching From stops the run with no action) or
  // black list (a matching From is discarded) as script text: one
  // `address :all :is "From"` test for the plain addresses and one
  // `:matches` test for those holding '*' or '?'. A '\' or '"' inside an
  // address is escaped, so every list compiles.
  static TSTRING WriteWhitelistFromAddresses(const std::vector<TSTRING>& addresses);
  static TSTRING WriteBlacklistFromAddresses(const std::vector<TSTRING>& addresses);
  // Appends the keys of the top-level `if envelope "Return-path"` tests,
  // then of the top-level `if address "From"` tests (one header name each),
  // as their matchers give them back.
  void TestFromAddresses(std::vector<TSTRING>& addresses) const;

  CExprTreeNode* GetRoot() const { return m_pRoot; }
  const char* GetErrorDescription() const { return m_pszErrorDescription; }   // may be null
  DWORD GetErrorColumn() const { return m_nErrorColumn; }
  DWORD GetErrorLine() const { return m_nErrorLine; }

 private:
  [[nodiscard]] HRESULT Compile(std::istream& in, const char* logPath);
  [[nodiscard]] HRESULT PrintContext(tag_PRINT_CTXT& ctx) const;
  static TSTRING writeAddressListScript(const std::vector<TSTRING>& addresses, int whiteList);

  CSharedObjPtr<CExprTreeNode> m_pRoot;   // null for an empty script
  char* m_pszErrorDescription;            // owned (malloc), may be null
  DWORD m_nErrorColumn;
  DWORD m_nErrorLine;
};

}  // namespace telsor

#endif  // TELSOR_FILTER_SIEVESCRIPT_H
