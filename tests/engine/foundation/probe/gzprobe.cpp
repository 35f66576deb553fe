// Opens a gzip stream and prints what happened, for the tests of the gzip
// stream's library loading. Usage: gzprobe <file>
// Prints "zlib-before=<0|1> dlopen-gzlib=<0|1> result=<hex>" where zlib-before
// tells whether zlib was already loaded before the stream was made (it must
// not be: the engine library does not link it) and dlopen-gzlib whether the
// loader's own search finds "gzlib.so" in this environment.
#include <dlfcn.h>
#include <stdio.h>

#include "foundation/gzfileasistream.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  void* zlib = dlopen("libz.so.1", RTLD_NOW | RTLD_NOLOAD);
  void* found = dlopen("gzlib.so", RTLD_NOW);
  if (zlib != nullptr) dlclose(zlib);
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
  printf("zlib-before=%d dlopen-gzlib=%d result=%08X out=%s data=%s\n", zlib != nullptr ? 1 : 0,
         found != nullptr ? 1 : 0, static_cast<unsigned>(hr),
         hr == S_OK ? "stream" : (s == nullptr ? "null" : "untouched"), buf);
  return 0;
}
