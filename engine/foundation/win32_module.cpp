// Dynamic loading and the path of the running executable.
#include <dlfcn.h>
#include <unistd.h>

#include "foundation/win32.h"

extern "C" {

HMODULE LoadLibrary(LPCSTR path) { return dlopen(path, RTLD_LAZY); }

void* GetProcAddress(HMODULE module, LPCSTR name) {
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return dlsym(module, name);
}

BOOL FreeLibrary(HMODULE module) {
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return dlclose(module) == 0 ? 1 : 0;
}

DWORD GetModuleFileName(HMODULE, LPSTR buffer, DWORD size) {
  if (buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  ssize_t n = readlink("/proc/self/exe", buffer, size);
  return n < 0 ? 0 : static_cast<DWORD>(n);
}

}  // extern "C"
