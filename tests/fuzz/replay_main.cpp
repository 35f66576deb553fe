// Runs a fuzz target over saved inputs, as an ordinary test: every file in
// the folders (or files) named on the command line is handed to
// LLVMFuzzerTestOneInput once, in name order. A missing folder is skipped, so
// a target without saved crashes needs no empty folder. A crash, a sanitizer
// report or an abort fails the test; the exit code is 0 otherwise. At least
// one input must exist, so a misspelt corpus folder cannot pass silently.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {

void Collect(const std::string& path, std::vector<std::string>& files) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return;
  if (S_ISREG(st.st_mode)) {
    files.push_back(path);
    return;
  }
  if (!S_ISDIR(st.st_mode)) return;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == ".." || name[0] == '.') continue;
    names.push_back(path + "/" + name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) Collect(name, files);
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) Collect(argv[i], files);
  if (files.empty()) {
    std::fprintf(stderr, "replay: no inputs found\n");
    return 2;
  }
  for (const std::string& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // An empty vector has no data pointer; fuzzers are never handed null.
    static const uint8_t kNothing = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &kNothing : bytes.data(), bytes.size());
  }
  std::printf("replay: %zu inputs\n", files.size());
  return 0;
}
