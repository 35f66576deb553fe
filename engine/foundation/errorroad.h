// One road from a failure to a result code.
//
// Inside the engine failures are thrown (see the table in exception.h); at a
// boundary that returns a result code they are translated here, and nowhere
// by hand:
//
//   HRESULT CMyMatcher::Serialize(IStream* stream, int storing) {
//     return telsor::ResultOf([&] {
//       if (storing) Store(stream); else Load(stream);   // may throw
//     });
//   }
//
// or, where a handler has more to do than return the code:
//
//   try {
//     Parse();
//   } catch (...) {
//     HRESULT hr = telsor::ResultOfCurrentException();   // releases a CException
//     Cleanup();
//     return hr;
//   }
//
// Translation: DWORD thrown through ThrowCode -> the code; CException* ->
// its GetResultCode(), then Delete(); std::bad_alloc -> E_OUTOFMEMORY;
// anything else -> E_UNKNOWN_EXCEPTION. A DWORD of 0 (which nothing should
// throw) still reads as a failure: E_FAIL.
#ifndef TELSOR_FOUNDATION_ERRORROAD_H
#define TELSOR_FOUNDATION_ERRORROAD_H

#include <utility>

#include "foundation/results.h"
#include "foundation/wintypes.h"

namespace telsor {

// Call only inside a catch handler (catch (...) is the usual one): the result
// code of the exception being handled. An engine exception is released.
HRESULT ResultOfCurrentException() noexcept;

// Runs fn(); S_OK when it returns, the translated code when it throws.
template <class Fn>
HRESULT ResultOf(Fn&& fn) noexcept {
  try {
    std::forward<Fn>(fn)();
    return S_OK;
  } catch (...) {
    return ResultOfCurrentException();
  }
}

// Runs fn(), which returns a result code itself; a throw is translated.
template <class Fn>
HRESULT ResultOfCall(Fn&& fn) noexcept {
  try {
    return std::forward<Fn>(fn)();
  } catch (...) {
    return ResultOfCurrentException();
  }
}

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_ERRORROAD_H
