// The structure scan over real mail that nobody here wrote: Python's email
// test messages (47), Go enmime's malformed set (79) and the training half
// of the SpamAssassin corpus. Every message scans from memory and from a
// stream read in odd pieces to the same tree; every tree keeps its
// invariants (offsets inside the message, children inside their parents,
// consistent depths and counts, the limits). Skipped when $QOR_CORPORA is
// not set (tools/test-all.sh sets it).
#include <gtest/gtest.h>


#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/mime/structscanutil.h"
#include "mimetestutil.h"

using namespace structscan_test;
using mime_test::Corpora;
using mime_test::FilesUnder;

namespace {

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

TEST(StructScanCorpus, PythonEmailMessages) {
  if (Corpora() == nullptr) GTEST_SKIP() << "QOR_CORPORA is not set";
  std::vector<std::string> files = FilesUnder(std::string(Corpora()) + "/python-email", ".txt");
  ASSERT_EQ(47u, files.size());
  EXPECT_GT(ScanAll(files), 10u);  // multiparts among them
}

TEST(StructScanCorpus, EnmimeMalformedMessages) {
  if (Corpora() == nullptr) GTEST_SKIP() << "QOR_CORPORA is not set";
  std::vector<std::string> files = FilesUnder(std::string(Corpora()) + "/enmime", ".raw");
  ASSERT_EQ(79u, files.size());
  EXPECT_GT(ScanAll(files), 10u);
}

TEST(StructScanCorpus, SpamAssassinTrainingHalf) {
  if (Corpora() == nullptr) GTEST_SKIP() << "QOR_CORPORA is not set";
  std::vector<std::string> files = FilesUnder(std::string(Corpora()) + "/spamassassin/train", ".txt");
  ASSERT_GT(files.size(), 1000u);
  EXPECT_GT(ScanAll(files), 100u);
}

}  // namespace
