// sievetool check|print FILE
//
// check: compiles the filter script; prints "OK" and exits 0, or prints the
//        parser's error lines and the result code and exits 1.
// print: compiles it and writes it back as Sieve text (exit 0), or fails
//        like check.
// A file that cannot be read exits 2.
#include <stdio.h>
#include <string.h>

#include "filter/sievescript.h"

namespace {

int Usage() {
  fputs("usage: sievetool check|print FILE\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Usage();
  bool print = strcmp(argv[1], "print") == 0;
  if (!print && strcmp(argv[1], "check") != 0) return Usage();
  telsor::CSieveScript script;
  HRESULT hr = script.Parse(argv[2], nullptr);
  if (hr == E_SIEVE_OPEN_FAILED) {
    fprintf(stderr, "sievetool: cannot open %s\n", argv[2]);
    return 2;
  }
  if (FAILED(hr)) {
    const char* errors = script.GetErrorDescription();
    if (errors != nullptr) fputs(errors, stdout);
    printf("error 0x%08X at line %u, column %u\n", static_cast<unsigned>(hr), script.GetErrorLine(),
           script.GetErrorColumn());
    return 1;
  }
  if (!print) {
    puts("OK");
    return 0;
  }
  return FAILED(script.Print(nullptr)) ? 1 : 0;
}
