// Opens a gzip stream and prints what happened, for the tests of the gzip
// stream's library loading. Usage: gzprobe <file>
// Prints "engine-needs-zlib=<0|1> dlopen-gzlib=<0|1> result=<hex>" where
// engine-needs-zlib tells whether the engine library names zlib among the
// libraries it needs (it must not: the gzip stream binds zlib through
// "gzlib.so"; other libraries, such as the XML library's transfer library,
// may bring zlib into the process for themselves) and dlopen-gzlib whether
// the loader's own search finds "gzlib.so" in this environment.
#include <dlfcn.h>
#include <link.h>
#include <string.h>
#include <stdio.h>

#include "foundation/gzfileasistream.h"

namespace {

// Whether the engine library's dynamic section lists zlib as needed.
bool EngineNeedsZlib() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&telsor::CGZFileAsIStream::CreateStreamOnFile), &info) == 0) return true;
  void* handle = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return true;
  struct link_map* map = nullptr;
  const bool known = dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr;
  bool needs = !known;
  if (known) {
    const char* strings = nullptr;
    for (const ElfW(Dyn)* d = map->l_ld; d->d_tag != DT_NULL; ++d)
      if (d->d_tag == DT_STRTAB) strings = reinterpret_cast<const char*>(d->d_un.d_ptr);
    for (const ElfW(Dyn)* d = map->l_ld; strings != nullptr && d->d_tag != DT_NULL; ++d)
      if (d->d_tag == DT_NEEDED && strncmp(strings + d->d_un.d_val, "libz.so", 7) == 0) needs = true;
  }
  dlclose(handle);
  return needs;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const bool zlib = EngineNeedsZlib();
  void* found = dlopen("gzlib.so", RTLD_NOW);
  if (found != nullptr) dlclose(found);
  IStream* s = reinterpret_cast<IStream*>(&s);
  HRESULT hr = telsor::CGZFileAsIStream::CreateStreamOnFile(argv[1], GENERIC_READ, FILE_SHARE_READ,
                                                            OPEN_EXISTING, &s);
  char buf[16] = {0};
  ULONG got = 0;
  if (hr == S_OK) {
    s->Read(buf, sizeof buf - 1, &got);
    s->Release();
  }
  printf("engine-needs-zlib=%d dlopen-gzlib=%d result=%08X out=%s data=%s\n", zlib ? 1 : 0,
         found != nullptr ? 1 : 0, static_cast<unsigned>(hr),
         hr == S_OK ? "stream" : (s == nullptr ? "null" : "untouched"), buf);
  return 0;
}
