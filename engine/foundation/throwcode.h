// Bare result codes thrown across the engine.
//
// Inside the engine some failures travel as a bare 32-bit code rather than a
// CException pointer. They are always thrown as DWORD through ThrowCode, and
// every handler catches DWORD:
//
//   try {
//     ThrowCode(static_cast<DWORD>(E_ACCESSDENIED));   // a stream's failing result
//   } catch (DWORD code) {
//     return static_cast<HRESULT>(code);
//   }
#ifndef TELSOR_FOUNDATION_THROWCODE_H
#define TELSOR_FOUNDATION_THROWCODE_H

#include "foundation/results.h"
#include "foundation/wintypes.h"

namespace telsor {

[[noreturn]] inline void ThrowCode(DWORD code) { throw code; }

// A failing result (bit 31 set) thrown as its code; success codes, S_FALSE
// (a short read) among them, pass.
//
//   ThrowIfFailed(stream->Write(text, length, nullptr));
inline void ThrowIfFailed(HRESULT hr) {
  if (FAILED(hr)) ThrowCode(static_cast<DWORD>(hr));
}

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_THROWCODE_H
