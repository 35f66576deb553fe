// qorhost: the host program of the main job. It loads libqorengine.so at run
// time, as the appliance's mail path does, and spam-tests every message it
// is given, one line per message:
//
//   qorhost [--data DIR] [--tmp DIR] [--threshold N] [PATH...]
//
// A PATH is a message file, a mailbox (a file whose first line starts with
// "From "; each message is tested from memory) or a folder (its files, not
// descending, in name order); without one, "samples". The data directory
// (default $QOR_MODEL, else ~/.cache/telsor-model) holds the spam model
// "Qor.bin", the category models beside it and the script catalogue
// "SieveCatalog.xml"; temporary files go to a private folder that is
// removed at the end. A line reads
//
//   samples/offer.eml  score 734  hoax - adult - money 512 goods - health -  1.92 ms
//
// ("-": no score; categories are scored only above the threshold, default
// 0), or the error code, its cause and its text. The exit status is 1 when
// any message failed.
#include <dirent.h>
#include <errno.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <string>
#include <vector>

#include "include/qorengine.h"

namespace {

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

std::string DefaultDataDir() {
  if (const char* model = getenv("QOR_MODEL")) return model;
  const char* home = getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.cache/telsor-model";
}

double Now() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The files of a folder in name order (hidden ones left out).
std::vector<std::string> FolderFiles(const std::string& folder) {
  std::vector<std::string> files;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* e = readdir(dir)) {
      if (e->d_name[0] == '.') continue;
      std::string path = folder + "/" + e->d_name;
      if (!IsDirectory(path)) files.push_back(path);
    }
    closedir(dir);
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The messages of a mailbox file one after another: each starts after a
// line beginning with "From ", which is not part of the message. The file
// is read a piece at a time into one buffer that is used again and again
// (it grows only for a message larger than itself), so a mailbox of any
// size costs the memory of its largest message, and the bytes of each
// message are read just before it is tested.
class MailboxReader {
 public:
  explicit MailboxReader(int fd) : fd_(fd), buf_(new char[kPiece]), size_(kPiece) {}
  // The next message (valid until the next call), or false after the last
  // one or when the file cannot be read further (Failed() then).
  bool Next(const char*& data, size_t& length) {
    msg_ = kNone;
    if (!begun_) {
      begun_ = true;
      // Up to and including the first "From " line nothing is a message.
      for (pos_ = 0;; NextLine()) {
        if (!HaveAtPos(5)) return false;
        if (memcmp(&buf_[pos_], "From ", 5) == 0) break;
      }
      more_ = true;
    }
    if (!more_) return false;
    NextLine();  // past the "From " line
    msg_ = pos_;
    for (;; NextLine()) {
      if (!HaveAtPos(5)) {
        // Fewer than five bytes before the end: no further "From " line.
        more_ = false;
        pos_ = end_;
        break;
      }
      if (memcmp(&buf_[pos_], "From ", 5) == 0) break;
    }
    data = buf_.get() + msg_;
    length = pos_ - msg_;
    return true;
  }
  bool Failed() const { return failed_; }

 private:
  static constexpr size_t kPiece = size_t(1) << 20;
  static constexpr size_t kNone = static_cast<size_t>(-1);

  // Whether count bytes from the line being looked at are in the buffer,
  // reading on as needed.
  bool HaveAtPos(size_t count) {
    while (end_ - pos_ < count)
      if (!Fill()) return false;
    return true;
  }
  // Moves to the start of the next line (or to the end of the file).
  void NextLine() {
    size_t from = pos_;
    for (;;) {
      if (const void* nl = memchr(buf_.get() + from, '\n', end_ - from)) {
        pos_ = static_cast<size_t>(static_cast<const char*>(nl) - buf_.get()) + 1;
        return;
      }
      const size_t searched = end_ - pos_;
      if (!Fill()) {
        pos_ = end_;
        return;
      }
      from = pos_ + searched;
    }
  }
  // Reads more of the file: the bytes from the message being found (or from
  // the line being looked at) move to the front, the positions with them.
  // False at the end of the file.
  bool Fill() {
    if (eof_) return false;
    const size_t first = msg_ != kNone && msg_ < pos_ ? msg_ : pos_;
    if (first > 0) {
      memmove(buf_.get(), buf_.get() + first, end_ - first);
      end_ -= first;
      pos_ -= first;
      if (msg_ != kNone) msg_ -= first;
    }
    if (end_ == size_) {
      // A message larger than the buffer: twice the room, bytes kept.
      std::unique_ptr<char[]> grown(new char[size_ * 2]);
      memcpy(grown.get(), buf_.get(), end_);
      buf_ = std::move(grown);
      size_ *= 2;
    }
    ssize_t n;
    do n = read(fd_, buf_.get() + end_, size_ - end_);
    while (n < 0 && errno == EINTR);
    if (n <= 0) {
      eof_ = true;
      failed_ = n < 0;
      return false;
    }
    end_ += static_cast<size_t>(n);
    return true;
  }

  int fd_;
  std::unique_ptr<char[]> buf_;  // not cleared: only what is read is looked at
  size_t size_;
  size_t end_ = 0;      // bytes in the buffer
  size_t pos_ = 0;      // the start of the line being looked at
  size_t msg_ = kNone;  // the start of the message being found
  bool begun_ = false;
  bool more_ = false;   // a "From " line at pos_ begins another message
  bool eof_ = false;
  bool failed_ = false;
};

struct Engine {
  PFN_QorEngineSpamTestMemory testMemory;
  PFN_QorEngineSpamTestFile testFile;
  PFN_QorEngineGetVersion version;
  PFN_QorEngineUninit uninit;
};

struct Run {
  Engine engine;
  std::string dataDir;
  std::string tempDir;
  int32_t threshold = 0;
  unsigned messages = 0;
  unsigned failures = 0;
  double seconds = 0;

  void Report(const std::string& name, uint32_t code, int32_t score, const SQorCategoryScore& c,
              const SQorError& error, double elapsed) {
    ++messages;
    seconds += elapsed;
    if (code != 0) {
      ++failures;
      printf("%s  error %u (%u) %s\n", name.c_str(), error.code, error.detail, error.message);
      return;
    }
    auto entry = [](int32_t v) { return v == QOR_NO_SCORE ? std::string("-") : std::to_string(v); };
    printf("%s  score %d  hoax %s adult %s money %s goods %s health %s  %.2f ms\n", name.c_str(), score,
           entry(c.hoax).c_str(), entry(c.adult).c_str(), entry(c.money).c_str(), entry(c.goods).c_str(),
           entry(c.health).c_str(), elapsed * 1000.0);
  }

  void TestFile(const std::string& path) {
    int32_t score = 0;
    SQorCategoryScore categories;
    SQorError error;
    double start = Now();
    uint32_t code = engine.testFile(0, 0, dataDir.c_str(), tempDir.c_str(), nullptr, path.c_str(), threshold, 0,
                                    &score, &categories, &error);
    Report(path, code, score, categories, error, Now() - start);
  }

  void TestMemory(const std::string& name, const char* bytes, size_t length) {
    int32_t score = 0;
    SQorCategoryScore categories;
    SQorError error;
    double start = Now();
    uint32_t code = engine.testMemory(0, 0, dataDir.c_str(), tempDir.c_str(), nullptr, bytes,
                                      static_cast<uint32_t>(length), threshold, 0, &score, &categories, &error);
    Report(name, code, score, categories, error, Now() - start);
  }

  void TestPath(const std::string& path) {
    if (IsDirectory(path)) {
      for (const std::string& f : FolderFiles(path)) TestPath(f);
      return;
    }
    FILE* f = fopen(path.c_str(), "rb");
    char head[5] = {0};
    const bool mailbox = f != nullptr && fread(head, 1, 5, f) == 5 && memcmp(head, "From ", 5) == 0;
    if (f != nullptr) fclose(f);
    if (mailbox) {
      int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd >= 0) {
        MailboxReader box(fd);
        size_t n = 0;
        const char* data;
        size_t length;
        while (box.Next(data, length)) TestMemory(path + "#" + std::to_string(++n), data, length);
        if (box.Failed()) {
          fprintf(stderr, "qorhost: %s: read failed after %zu message(s)\n", path.c_str(), n);
          ++failures;
        }
        close(fd);
        return;
      }
    }
    TestFile(path);  // also a file that cannot be read: the engine reports it
  }
};

}  // namespace

int main(int argc, char** argv) {
  // One message after another allocates and frees the same sizes: the heap
  // keeps what it grew to (and large blocks come from it too) instead of
  // giving the memory back and faulting it in again for the next message.
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  Run run;
  run.dataDir = DefaultDataDir();
  std::vector<std::string> paths;
  std::string tempDir;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if ((a == "--data" || a == "--tmp" || a == "--threshold") && i + 1 < argc) {
      std::string v = argv[++i];
      if (a == "--data") run.dataDir = v;
      else if (a == "--tmp") tempDir = v;
      else run.threshold = static_cast<int32_t>(strtol(v.c_str(), nullptr, 10));
    } else if (a.compare(0, 2, "--") == 0) {
      fprintf(stderr, "usage: qorhost [--data DIR] [--tmp DIR] [--threshold N] [PATH...]\n");
      return 2;
    } else {
      paths.push_back(a);
    }
  }
  if (paths.empty()) paths.push_back("samples");

  std::string path = LibraryPath();
  // Functions are bound as they are first called: the four exports and what
  // they use, not every symbol of the library and its dependencies.
  void* lib = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (lib == nullptr) {
    fprintf(stderr, "qorhost: cannot load %s: %s\n", path.c_str(), dlerror());
    return 1;
  }
  Engine& e = run.engine;
  e.testMemory = reinterpret_cast<PFN_QorEngineSpamTestMemory>(dlsym(lib, "QorEngineSpamTestMemory"));
  e.testFile = reinterpret_cast<PFN_QorEngineSpamTestFile>(dlsym(lib, "QorEngineSpamTestFile"));
  e.version = reinterpret_cast<PFN_QorEngineGetVersion>(dlsym(lib, "QorEngineGetVersion"));
  e.uninit = reinterpret_cast<PFN_QorEngineUninit>(dlsym(lib, "QorEngineUninit"));
  if (!e.testMemory || !e.testFile || !e.version || !e.uninit) {
    fprintf(stderr, "qorhost: %s lacks the engine's exported functions\n", path.c_str());
    dlclose(lib);
    return 1;
  }

  char pattern[] = "/tmp/qorhost.XXXXXX";
  bool ownTemp = tempDir.empty();
  if (ownTemp) {
    if (mkdtemp(pattern) == nullptr) {
      perror("qorhost: mkdtemp");
      dlclose(lib);
      return 1;
    }
    tempDir = pattern;
  }
  run.tempDir = tempDir;

  SQorVersionInfo v;
  SQorError error;
  if (e.version(0, 0, run.dataDir.c_str(), 0, 0, &v, &error) == 0) {
    struct stat st;
    const bool model = stat((run.dataDir + "/Qor.bin").c_str(), &st) == 0;
    printf("engine %u.%u.%u (%s); data %s: spam model %s", v.major, v.minor, v.build, path.c_str(),
           run.dataDir.c_str(), model ? "Qor.bin" : "none (feature metric only)");
    if (v.spamUpdate != 0xFFFFFFFFu) printf(", update %u", v.spamUpdate);
    printf("\n");
  }
  for (const std::string& p : paths) run.TestPath(p);
  e.uninit(0);
  if (run.messages != 0)
    printf("%u message(s), %u failed, %.1f messages/s\n", run.messages, run.failures,
           run.seconds > 0 ? run.messages / run.seconds : 0.0);
  dlclose(lib);
  if (ownTemp) rmdir(tempDir.c_str());
  return run.failures != 0 ? 1 : 0;
}
