// qorhost: a host program for the engine library.
//
// It loads libqorengine.so at run time, as the appliance's mail path does, and
// runs what the library offers on every message file in a folder:
//
//   qorhost samples
//
// Until the library exports its spam test, the host checks the library's
// system layer instead and lists the messages it would test.
#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct FileTime {
  uint32_t low;
  uint32_t high;
};

std::string LibraryPath() {
  // The library sits in ../lib relative to this program, or where the build put it.
  char self[4096] = {0};
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string dir(self, static_cast<size_t>(n));
    dir.erase(dir.rfind('/'));
    std::string candidate = dir + "/../lib/libqorengine.so";
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0) return candidate;
  }
  return std::string(QOR_LIBRARY_DIR) + "/libqorengine.so";
}

std::vector<std::string> MessageFiles(const char* folder) {
  std::vector<std::string> files;
  DIR* dir = opendir(folder);
  if (dir == nullptr) return files;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".eml") == 0)
      files.push_back(std::string(folder) + "/" + name);
  }
  closedir(dir);
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  const char* folder = argc > 1 ? argv[1] : "samples";
  std::string path = LibraryPath();
  void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    fprintf(stderr, "qorhost: cannot load %s: %s\n", path.c_str(), dlerror());
    return 1;
  }
  printf("loaded %s\n", path.c_str());

  using TimetToFileTimeFn = void (*)(time_t, FileTime*);
  auto toFileTime = reinterpret_cast<TimetToFileTimeFn>(dlsym(lib, "TimetToFileTime"));
  if (toFileTime == nullptr) {
    fprintf(stderr, "qorhost: the library does not export TimetToFileTime\n");
    dlclose(lib);
    return 1;
  }
  FileTime ft{};
  toFileTime(0, &ft);
  unsigned long long epoch = (static_cast<unsigned long long>(ft.high) << 32) | ft.low;
  printf("system layer: 1970-01-01 is file time %llu\n", epoch);

  int status = 0;
  if (epoch != 116444736000000000ULL) {
    fprintf(stderr, "qorhost: unexpected file time for the Unix epoch\n");
    status = 1;
  }
  std::vector<std::string> files = MessageFiles(folder);
  if (dlsym(lib, "QorEngineSpamTestFile") == nullptr) {
    printf("spam test: not in this library yet; %zu sample message(s) in %s\n", files.size(),
           folder);
    for (const std::string& f : files) printf("  %s\n", f.c_str());
  }
  dlclose(lib);
  return status;
}
