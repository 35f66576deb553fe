// Compiled filter scripts from untrusted bytes: loading never crashes,
// leaks or hangs; a script that loads prints, runs against a recording host
// (which checks that it is always handed its own user data), and stores
// bytes that load again into a script storing the same bytes and printing
// the same text.
//
// First byte odd: the rest is a whole container. Even: the rest is a root
// record, sealed here with a valid header so that the records themselves
// get fuzzed rather than the checksum.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "engine/filter/fakehost.h"
#include "engine/filter/records.h"

namespace {

std::string Printed(const telsor::CSieveScript& s) {
  telsor::TSTRING text;
  if (s.PrintToString(text) != S_OK) abort();
  return std::string(text.c_str(), static_cast<size_t>(text.GetLength()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 16384) return 0;
  std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string bytes = (data[0] & 1) ? rest : rec::Container(rest);
  telsor::CSieveScript script;
  HRESULT hr = rec::Load(bytes, script);
  if (hr != S_OK) {
    // Any other result is a failure (a matcher may answer a plain error
    // number), and a failed load keeps no tree.
    if (script.GetRoot() != nullptr) abort();
    return 0;
  }
  std::string printed = Printed(script);
  CFakeHost host;
  HRESULT ran = host.Run(script);
  (void)ran;

  std::string stored = rec::Stored(script);
  telsor::CSieveScript again;
  if (rec::Load(stored, again) != S_OK) abort();
  if (rec::Stored(again) != stored) abort();
  if (Printed(again) != printed) abort();
  CFakeHost second;
  if (second.Run(again) != ran || second.Calls() != host.Calls()) abort();
  return 0;
}
