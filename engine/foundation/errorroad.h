// One road from a failure to a result code.
//
// Inside the engine failures are thrown (see the table in exception.h); at a
// boundary that returns a result code they are translated here, and nowhere
// by hand:
//
//   TSTRING copy;
//   HRESULT hr = telsor::ResultOf([&] {
//     copy = TSTRING('x', 4096);          // may throw CMemoryException*
//   });                                   // S_OK, or E_OUTOFMEMORY
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
// A system error (errno, a Win32 error number, the last error) becomes a
// failing result in one place:
//
//   if (read(fd, buf, n) < 0) return telsor::ResultFromSystemError(errno);  // EIO -> 0x80070005
//
// Translation: DWORD thrown through ThrowCode -> the code (a system error
// number thrown bare -> ResultFromSystemError of it); CException* ->
// its GetResultCode(), then Delete(); std::bad_alloc -> E_OUTOFMEMORY;
// anything else -> E_UNKNOWN_EXCEPTION. A DWORD of 0 (which nothing should
// throw) still reads as a failure: E_FAIL.
//
// Inside the engine, out of memory has one kind, CMemoryException*. Code
// that fills standard containers and throws engine exceptions itself wraps
// them, so that their std::bad_alloc leaves as that kind too:
//
//   std::vector<WORD> rows;
//   telsor::WithMemoryException([&] { rows.assign(100, 0); });
#ifndef TELSOR_FOUNDATION_ERRORROAD_H
#define TELSOR_FOUNDATION_ERRORROAD_H

#include <new>
#include <utility>

#include "foundation/exception.h"
#include "foundation/results.h"
#include "foundation/wintypes.h"

namespace telsor {

// The failing result of a system error number: E_SYSTEM_ERROR_BASE plus the
// number for 1 to 0xFFFF (FAILED() holds); a value that already is a
// failing result is kept; 0 (no error recorded) and larger numbers give
// E_FAIL.
HRESULT ResultFromSystemError(DWORD error) noexcept;
// ResultFromSystemError(errno), with EIO when errno holds none (a short read).
HRESULT ResultFromErrno() noexcept;

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

// Runs fn() and returns what it returns; a std::bad_alloc leaves as the
// engine's CMemoryException*. Every other exception passes unchanged.
template <class Fn>
decltype(auto) WithMemoryException(Fn&& fn) {
  try {
    return std::forward<Fn>(fn)();
  } catch (const std::bad_alloc&) {
    AfxThrowMemoryException();
  }
}

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_ERRORROAD_H
