// The structure scan over real mail that nobody here wrote: Python's email
// test messages (47), Go enmime's malformed set (79) and the training half
// of the SpamAssassin corpus. Every message scans from memory and from a
// stream read in odd pieces to the same tree; every tree keeps its
// invariants (offsets inside the message, children inside their parents,
// consistent depths and counts, the limits). Skipped when $QOR_CORPORA is
// not set (tools/test-all.sh sets it).
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/mime/structscanutil.h"

using namespace structscan_test;

namespace {

void Collect(const std::string& dir, const std::string& suffix, std::vector<std::string>& out) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = dir + "/" + name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      Collect(path, suffix, out);
    } else if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      out.push_back(path);
    }
  }
  closedir(d);
  std::sort(out.begin(), out.end());
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Scans every file; returns how many there were.
size_t ScanAll(const std::vector<std::string>& files) {
  size_t withChildren = 0;
  for (const std::string& path : files) {
    const std::string msg = Read(path);
    Scans s = ScanBoth(msg, 997);
    EXPECT_EQ(DumpTree(*s.memory, false), DumpTree(*s.stream, false)) << path;
    EXPECT_EQ("", Invariants(*s.memory, static_cast<unsigned long>(msg.size()))) << path;
    EXPECT_EQ("", Invariants(*s.stream, static_cast<unsigned long>(msg.size()))) << path;
    EXPECT_EQ(static_cast<DWORD>(msg.size()), s.memory->m_dwPartEnd) << path;
    if (!s.memory->m_Children.IsEmpty()) ++withChildren;
  }
  return withChildren;
}

const char* Corpora() {
  const char* corpora = getenv("QOR_CORPORA");
  return corpora != nullptr && *corpora != '\0' ? corpora : nullptr;
}

TEST(StructScanCorpus, PythonEmailMessages) {
  if (Corpora() == nullptr) GTEST_SKIP() << "QOR_CORPORA is not set";
  std::vector<std::string> files;
  Collect(std::string(Corpora()) + "/python-email", ".txt", files);
  ASSERT_EQ(47u, files.size());
  EXPECT_GT(ScanAll(files), 10u);  // multiparts among them
}

TEST(StructScanCorpus, EnmimeMalformedMessages) {
  if (Corpora() == nullptr) GTEST_SKIP() << "QOR_CORPORA is not set";
  std::vector<std::string> files;
  Collect(std::string(Corpora()) + "/enmime", ".raw", files);
  ASSERT_EQ(79u, files.size());
  EXPECT_GT(ScanAll(files), 10u);
}

TEST(StructScanCorpus, SpamAssassinTrainingHalf) {
  if (Corpora() == nullptr) GTEST_SKIP() << "QOR_CORPORA is not set";
  std::vector<std::string> files;
  Collect(std::string(Corpora()) + "/spamassassin/train", ".txt", files);
  ASSERT_GT(files.size(), 1000u);
  EXPECT_GT(ScanAll(files), 100u);
}

}  // namespace
