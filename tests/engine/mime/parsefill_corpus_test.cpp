// Whole parses over real mail that nobody here wrote: Python's email test
// messages (47), Go enmime's malformed set (79) and the training half of
// the SpamAssassin corpus (3,023 messages, never the held-out half),
// through the mimedump tool. Every message parses (the tool ends normally and prints one tree
// per file, result 0) and the file read into memory gives the same tree,
// contents and digests as the file scanned from disk with every body in a
// temporary file. Skipped when $QOR_CORPORA is not set (tools/test-all.sh
// sets it).
#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/runprogram.h"
#include "mimetestutil.h"

using mime_test::Corpora;
using mime_test::FilesUnder;

namespace {

// The tool's output over all files; status := its exit status.
std::string Run(const char* options, const std::vector<std::string>& files, int& status) {
  std::string command = std::string(QOR_MIMEDUMP) + " " + options;
  for (const std::string& f : files) command += " '" + f + "'";
  telsor_test::ProgramRun run = telsor_test::RunProgram(command);
  status = run.status;
  return run.output;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

void ParseAll(const std::vector<std::string>& all) {
  // In batches: the shell takes the command as one argument, which the
  // system caps at 128 KiB.
  const size_t kBatch = 400;
  for (size_t first = 0; first < all.size(); first += kBatch) {
    std::vector<std::string> files(all.begin() + static_cast<std::ptrdiff_t>(first),
                                   all.begin() + static_cast<std::ptrdiff_t>(std::min(all.size(), first + kBatch)));
    int memoryStatus = 0;
    int streamStatus = 0;
    std::string memory = Run("", files, memoryStatus);
    std::string stream = Run("--stream", files, streamStatus);
    EXPECT_EQ(0, memoryStatus);
    EXPECT_EQ(0, streamStatus);
    EXPECT_EQ(memory, stream);
    EXPECT_EQ(files.size(), Count(memory, "\n== ") + (memory.compare(0, 3, "== ") == 0 ? 1 : 0));
    EXPECT_EQ(files.size(), Count(memory, " result=0x00000000\n"));
    EXPECT_EQ(0u, Count(memory, "fnv=error"));
  }
}

TEST(ParseFillCorpus, PythonEmailMessages) {
  if (Corpora() == nullptr) GTEST_SKIP() << "QOR_CORPORA is not set";
  std::vector<std::string> files = FilesUnder(std::string(Corpora()) + "/python-email", ".txt");
  ASSERT_EQ(47u, files.size());
  ParseAll(files);
}

TEST(ParseFillCorpus, EnmimeMalformedMessages) {
  if (Corpora() == nullptr) GTEST_SKIP() << "QOR_CORPORA is not set";
  std::vector<std::string> files = FilesUnder(std::string(Corpora()) + "/enmime", ".raw");
  ASSERT_EQ(79u, files.size());
  ParseAll(files);
}

// The whole training half, even under the sanitizers: both runs together
// take about a second in a plain build, so there is no need to sample.
TEST(ParseFillCorpus, SpamAssassinTrainingHalf) {
  if (Corpora() == nullptr) GTEST_SKIP() << "QOR_CORPORA is not set";
  std::vector<std::string> files = FilesUnder(std::string(Corpora()) + "/spamassassin/train", ".txt");
  ASSERT_EQ(3023u, files.size());
  ParseAll(files);
}

}  // namespace
