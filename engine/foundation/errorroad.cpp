#include "foundation/errorroad.h"

#include <new>

#include "foundation/exception.h"

namespace telsor {

HRESULT ResultOfCurrentException() noexcept {
  try {
    throw;
  } catch (DWORD code) {
    return code != 0 ? static_cast<HRESULT>(code) : E_FAIL;
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
