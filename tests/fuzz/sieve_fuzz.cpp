// Filter-script text from untrusted bytes: compiling never crashes, leaks or
// hangs; a failed compile leaves no tree; a compiled script prints, and when
// its strings cannot hold quotes (no backslash, no multi-line string) the
// printed text compiles again and prints the same (printing is a fixed point).
#include <stdint.h>
#include <string.h>
#include <strings.h>

#include <cstdlib>
#include <string>

#include "filter/sievescript.h"

namespace {

std::string Printed(const telsor::CSieveScript& s) {
  telsor::TSTRING text;
  if (s.PrintToString(text) != S_OK) abort();
  return std::string(text.c_str(), static_cast<size_t>(text.GetLength()));
}

bool Contains(const std::string& text, const char* word) {
  return strcasestr(text.c_str(), word) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  telsor::CSieveScript script;
  HRESULT hr = script.ParseString(text.c_str(), nullptr);
  if (hr != S_OK) {
    if (!FAILED(hr) || script.GetRoot() != nullptr) abort();
    return 0;
  }
  if (script.GetErrorDescription() != nullptr) abort();
  std::string once = Printed(script);
  std::string source(text.c_str());   // what the compiler saw
  if (source.find('\\') != std::string::npos || Contains(source, "text:")) return 0;
  // An attachment test keeps no relational operator for :count / :value.
  if (Contains(source, "attachment") && (Contains(source, ":count") || Contains(source, ":value"))) return 0;
  telsor::CSieveScript again;
  if (again.ParseString(once.c_str(), nullptr) != S_OK) abort();
  if (Printed(again) != once) abort();
  return 0;
}
