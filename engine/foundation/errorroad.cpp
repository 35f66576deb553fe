#include "foundation/errorroad.h"

#include <errno.h>

#include <new>

#include "foundation/exception.h"

namespace telsor {

HRESULT ResultFromSystemError(DWORD error) noexcept {
  if (FAILED(static_cast<HRESULT>(error))) return static_cast<HRESULT>(error);
  if (error == 0 || error > 0xFFFFu) return E_FAIL;
  return static_cast<HRESULT>(static_cast<DWORD>(E_SYSTEM_ERROR_BASE) | error);
}

HRESULT ResultFromErrno() noexcept { return ResultFromSystemError(errno != 0 ? static_cast<DWORD>(errno) : EIO); }

HRESULT ResultOfCurrentException() noexcept {
  try {
    throw;
  } catch (DWORD code) {
    return ResultFromSystemError(code);
  } catch (CException* e) {
    HRESULT hr = e != nullptr ? e->GetResultCode() : E_FAIL;
    if (e != nullptr) e->Delete();
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNKNOWN_EXCEPTION;
  }
}

}  // namespace telsor
