// Content-Disposition values from untrusted bytes: parsing never reads past
// the value, at most one "filename" parameter results, and the file name
// has no blanks at its ends and no full stop at its end.
#include <stdint.h>
#include <string.h>

#include <cstdlib>

#include "mime/disposition.h"

using namespace telsor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFF) return 0;
  CRfc2045DispType disp;
  if (disp.Parse(data, static_cast<ULONG>(size)) != S_OK) abort();
  int filenames = 0;
  for (void* p = disp.GetParameters().GetHeadPosition(); p != nullptr;) {
    if (lstrcmpiA(disp.GetParameters().GetNext(p).GetAttribute(), "filename") == 0) ++filenames;
  }
  if (filenames > 1) abort();
  const TSTRING& name = disp.GetFilename();
  int n = name.GetLength();
  if (filenames == 1 && n > 0) {
    if (name[0] != '\0' && strchr(" \t\r\n", name[0]) != nullptr) abort();
    if (name[n - 1] != '\0' && strchr(" \t\r\n.", name[n - 1]) != nullptr) abort();
  }
  return 0;
}
