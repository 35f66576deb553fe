// The gzip stream against zlib's own gzread, "TLGZ" files, and the library
// loading: beside the executable, through the loader's search, and missing.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "foundation/gzfileasistream.h"
#include "foundation/tstringasistream.h"
#include "streamtestutil.h"

extern char** environ;

using namespace telsor;
using namespace telsor_test;

namespace {

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  std::mt19937 rng(7);
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i % 97 < 60 ? 'a' + i % 26 : rng() % 256);
  return s;
}

void WriteGz(const std::string& path, const std::string& data, const std::string& prefix = "") {
  WriteFileBytes(path, prefix);
  gzFile gz = gzopen(path.c_str(), prefix.empty() ? "wb" : "ab");
  ASSERT_NE(gz, nullptr);
  ASSERT_EQ(gzwrite(gz, data.data(), static_cast<unsigned>(data.size())), static_cast<int>(data.size()));
  ASSERT_EQ(gzclose(gz), Z_OK);
}

IStream* OpenGz(const std::string& path) {
  IStream* s = nullptr;
  EXPECT_EQ(CGZFileAsIStream::CreateStreamOnFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, &s),
            S_OK);
  return s;
}

// The same random reads and seeks through the stream and through zlib's own
// gzread/gzseek must give the same bytes and counts.
TEST(GzStream, AgreesWithZlibsOwnGzread) {
  TempDir dir;
  std::string data = Pattern(300000);
  WriteGz(dir / "d.gz", data);
  IStream* s = OpenGz(dir / "d.gz");
  ASSERT_NE(s, nullptr);
  gzFile oracle = gzopen((dir / "d.gz").c_str(), "rb");
  ASSERT_NE(oracle, nullptr);
  std::mt19937 rng(42);
  for (int step = 0; step < 300; ++step) {
    if (rng() % 4 == 0) {
      z_off_t to = static_cast<z_off_t>(rng() % (data.size() + 100));
      ULARGE_INTEGER at;
      ASSERT_EQ(s->Seek(Move(to), STREAM_SEEK_SET, &at), S_OK);
      EXPECT_EQ(static_cast<z_off_t>(at.QuadPart), gzseek(oracle, to, SEEK_SET));
    } else {
      unsigned n = rng() % 20000;
      std::vector<char> mine(n + 1), theirs(n + 1);
      ULONG got = 0;
      ASSERT_EQ(s->Read(mine.data(), n, &got), S_OK);
      int want = gzread(oracle, theirs.data(), n);
      ASSERT_EQ(static_cast<int>(got), want);
      ASSERT_EQ(memcmp(mine.data(), theirs.data(), got), 0);
    }
  }
  gzclose(oracle);

  // CopyTo the whole member into a string stream.
  s->Seek(Move(0), STREAM_SEEK_SET, nullptr);
  IStream* target = nullptr;
  ASSERT_EQ(CTstringAsIStream::CreateStreamOnTSTRING("", &target), S_OK);
  ULARGE_INTEGER read, written;
  ASSERT_EQ(s->CopyTo(target, Size(~0ull), &read, &written), S_OK);
  EXPECT_EQ(read.QuadPart, data.size());
  EXPECT_EQ(written.QuadPart, data.size());
  std::string back(data.size(), '\0');
  target->Seek(Move(0), STREAM_SEEK_SET, nullptr);
  ULONG got = 0;
  target->Read(&back[0], static_cast<ULONG>(back.size()), &got);
  EXPECT_TRUE(back == data);
  target->Release();
  EXPECT_EQ(s->Release(), 0u);
}

TEST(GzStream, ReadsTheMemberAfterTheTlgzMagic) {
  TempDir dir;
  std::string record = std::string("SCA\0", 4) + Pattern(10000);
  WriteGz(dir / "c.bin", record, "TLGZ");
  ASSERT_EQ(ReadFileBytes(dir / "c.bin").substr(0, 4), "TLGZ");
  IStream* s = OpenGz(dir / "c.bin");
  ASSERT_NE(s, nullptr);
  std::string back(record.size() + 10, '\0');
  ULONG got = 0;
  ASSERT_EQ(s->Read(&back[0], static_cast<ULONG>(back.size()), &got), S_OK);
  EXPECT_EQ(got, record.size());
  EXPECT_TRUE(back.substr(0, got) == record);
  // Positions count in the plain record: back by 4 and read the magic again.
  ULARGE_INTEGER at;
  ASSERT_EQ(s->Seek(Move(0), STREAM_SEEK_SET, &at), S_OK);
  EXPECT_EQ(at.QuadPart, 0u);
  char head[4];
  ASSERT_EQ(s->Read(head, 4, &got), S_OK);
  EXPECT_EQ(std::string(head, 4), std::string("SCA\0", 4));
  s->Release();

  // A plain gzip file and a file too short for the magic still open by path.
  WriteGz(dir / "plain.gz", "plain");
  s = OpenGz(dir / "plain.gz");
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->Read(head, 4, &got), S_OK);
  EXPECT_EQ(std::string(head, got), "plai");
  s->Release();
  WriteFileBytes(dir / "tl", "TL");
  s = OpenGz(dir / "tl");  // zlib reads a non-gzip file as it is
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->Read(head, 4, &got), S_OK);
  EXPECT_EQ(std::string(head, got), "TL");
  s->Release();
}

// A member cut off in its trailer (the check of its data lost) or in its
// data reads as a failure where its end should be; the whole one does not.
TEST(GzStream, ACutOffMemberFailsAtItsEnd) {
  TempDir dir;
  const std::string record = Pattern(5000);
  WriteGz(dir / "whole", record, "TLGZ");
  const std::string whole = ReadFileBytes(dir / "whole");
  struct Case {
    const char* what;
    size_t cut;  // bytes taken off the end
    HRESULT atEnd;
  } cases[] = {{"whole", 0, S_OK}, {"trailer cut", 3, E_FAIL}, {"data cut", 40, E_FAIL}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(dir / "cut", whole.substr(0, whole.size() - c.cut));
    IStream* s = OpenGz(dir / "cut");
    ASSERT_NE(s, nullptr);
    std::string back(record.size() + 1, '\0');
    ULONG got = 0;
    EXPECT_EQ(s->Read(&back[0], static_cast<ULONG>(back.size()), &got), c.atEnd);
    if (c.atEnd == S_OK) {
      EXPECT_EQ(got, record.size());
    }
    s->Release();
  }
}

// Runs the probe program (built into a directory without gzlib.so) with a
// clean environment plus extra; returns its output line.
std::string RunProbe(const std::string& file, const std::vector<std::string>& extra) {
  std::vector<std::string> env = extra;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string v = *e;
    if (v.rfind("ASAN_OPTIONS=", 0) == 0 || v.rfind("UBSAN_OPTIONS=", 0) == 0) env.push_back(v);
  }
  std::vector<char*> envp;
  for (std::string& v : env) envp.push_back(&v[0]);
  envp.push_back(nullptr);
  std::string program = QOR_GZPROBE;
  std::string arg = file;
  char* argv[] = {&program[0], &arg[0], nullptr};
  int fds[2];
  if (pipe(fds) != 0) return "";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string out;
  char buf[256];
  ssize_t n;
  while (rc == 0 && (n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  if (rc == 0) waitpid(pid, &status, 0);
  return out;
}

TEST(GzStream, MissingLibraryGivesCantLoadLibrary) {
  TempDir dir;
  WriteGz(dir / "p.gz", "probe data");
  std::string probeDir = QOR_GZPROBE;
  probeDir.erase(probeDir.rfind('/'));
  ASSERT_NE(access((probeDir + "/gzlib.so").c_str(), F_OK), 0) << "the probe's directory must lack gzlib.so";
  ASSERT_EQ(access(QOR_BIN_DIR "/gzlib.so", F_OK), 0) << "the build places gzlib.so beside the tests";

  // Neither beside the probe nor through the loader's search: the loader
  // itself cannot find it either, and the engine does not link zlib.
  EXPECT_EQ(RunProbe(dir / "p.gz", {}),
            "engine-needs-zlib=0 dlopen-gzlib=0 result=8002802F out=null data=\n");
  // Through the loader's search (the second place the stream looks).
  EXPECT_EQ(RunProbe(dir / "p.gz", {"LD_LIBRARY_PATH=" QOR_BIN_DIR}),
            "engine-needs-zlib=0 dlopen-gzlib=1 result=00000000 out=stream data=probe data\n");
}

// A gzlib.so that lacks a function the open needs is as good as none: the
// stream reports the library as missing rather than failing the file.
TEST(GzStream, MissingFunctionGivesCantLoadLibrary) {
  TempDir dir;
  WriteGz(dir / "p.gz", "probe data");
  WriteGz(dir / "t.bin", "probe data", "TLGZ");
  const std::string noDOpen = "LD_LIBRARY_PATH=" QOR_PARTIALGZ_DIR "/no_dopen";
  const std::string noOpen = "LD_LIBRARY_PATH=" QOR_PARTIALGZ_DIR "/no_open";
  // Without gzdopen a "TLGZ" file cannot be opened past its magic.
  EXPECT_EQ(RunProbe(dir / "t.bin", {noDOpen}),
            "engine-needs-zlib=0 dlopen-gzlib=1 result=8002802F out=null data=\n");
  // The same library opens plain files through its gzopen, which fails here.
  EXPECT_EQ(RunProbe(dir / "p.gz", {noDOpen}),
            "engine-needs-zlib=0 dlopen-gzlib=1 result=80000008 out=null data=\n");
  // Without gzopen nothing can be opened.
  EXPECT_EQ(RunProbe(dir / "p.gz", {noOpen}),
            "engine-needs-zlib=0 dlopen-gzlib=1 result=8002802F out=null data=\n");
}

}  // namespace
