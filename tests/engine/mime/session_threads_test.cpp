// Eight threads, each with its own parser session on one shared folder:
// temporary files, contents moving between memory and file, header blocks
// scanned in both forms, one end-of-line analysis read by all, and files
// released on threads other than the one that made them. Every file made
// must be gone at the end. Runs under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/teststream.h"
#include "common/tempdir.h"
#include "mime/contentdata.h"
#include "mime/eolanalysis.h"
#include "mime/headerscanner.h"
#include "mime/rfc822parser.h"
#include "mimetestutil.h"
#include "sessiontestutil.h"

using namespace telsor;
using mime_test::FilesIn;
using mime_test::Str;

namespace {

const int THREADS = 8;
const int ROUNDS = 60;

// Files handed between threads; whoever takes one drops the last reference.
class CExchange {
 public:
  void Put(const CSharedObjPtr<CSharedTmpFile>& file) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files.push_back(file);
  }
  CSharedObjPtr<CSharedTmpFile> Take() {
    std::lock_guard<std::mutex> lock(m_mutex);
    CSharedObjPtr<CSharedTmpFile> file;
    if (!m_files.empty()) {
      file = m_files.back();
      m_files.pop_back();
    }
    return file;
  }

 private:
  std::mutex m_mutex;
  std::vector<CSharedObjPtr<CSharedTmpFile>> m_files;
};

std::string Header(int thread, int round) {
  return "From: t" + std::to_string(thread) + "@x\r\nSubject: round\r\n " + std::to_string(round) +
         "\r\nbad line\r\nTo: a\n\r\nbody\r\n";
}

int ScanFields(CRfc822HeadersParser& scanner, const CSetEOLSequence* eol, DWORD& flags) {
  scanner.SetEOLSequence(eol, 1);  // a private copy per scanner
  tag_HEADER_FIELD field;
  int n = 0;
  while (ReadHeaderField(scanner, field) == HEADER_FIELD_READ) ++n;
  flags = scanner.GetAnomalyFlags();
  return n;
}

TEST(SessionThreads, EightSessionsAtOnce) {
  telsor_test::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string sample = Header(0, 0);
  CSetEOLSequence shared;
  ASSERT_EQ(shared.Analyze(reinterpret_cast<const unsigned char*>(sample.data()), static_cast<ULONG>(sample.size())),
            S_OK);
  CExchange exchange;
  std::atomic<int> failures(0);

  auto work = [&](int t) {
    CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
    parser->PutMaxContentSizeInMemory(1024);
    if (parser->OpenSession(dir.path().c_str()) != S_OK) ++failures;
    for (int round = 0; round < ROUNDS; ++round) {
      try {
        // Temporary files of all three kinds; one goes to another thread.
        CSharedObjPtr<CSharedTmpFile> msg = parser->GetTmpFile("MSG");
        CSharedObjPtr<CSharedTmpFile> res = parser->GetTmpFile("RES");
        exchange.Put(parser->GetTmpFile("BDY"));
        CSharedObjPtr<CSharedTmpFile> other = exchange.Take();

        // A content through a file and back.
        std::string bytes = "content " + std::to_string(t) + "/" + std::to_string(round);
        CRfc822ContentData content;
        content.PutTempDir(parser->GetTempDir());
        if (content.PutAsString(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<ULONG>(bytes.size())) != S_OK)
          ++failures;
        CSharedObjPtr<CSharedTmpFile> file = content.GetAsFile();
        CRfc822ContentData copy;
        copy.PutAsFile(file);
        if (Str(copy.GetAsString()) != bytes) ++failures;
        content.PutAsFile(msg);
        if (!content.IsEmpty()) ++failures;

        // A header block in both forms, with the shared analysis.
        std::string text = Header(t, round);
        CRfc822HeadersParser memory(reinterpret_cast<const unsigned char*>(text.data()),
                                    static_cast<ULONG>(text.size()));
        CTestStream stream(text);
        stream.maxChunk = 7;
        CRfc822HeadersParser fromStream(&stream, CStreamReader::NO_LIMIT);
        DWORD f1 = 0, f2 = 0;
        int n1 = ScanFields(memory, &shared, f1);
        int n2 = ScanFields(fromStream, &shared, f2);
        if (n1 != 3 || n2 != 3 || f1 != f2) ++failures;
        if (shared.CountEquivalentEOL(TSTRING("\r\n")) != 1) ++failures;

        CRfc822Fields fields;
        if (CRfc822Parser::CreateFieldsCollection(text.c_str(), fields, 0) != S_OK) ++failures;
        fields.Sort(CRfc822Fields::ORDER_BY_NAME);
        if (fields.FindFirst("subject") < 0) ++failures;
      } catch (...) {
        ++failures;
      }
    }
  };

  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; ++t) threads.emplace_back(work, t);
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  while (CSharedObjPtr<CSharedTmpFile> left = exchange.Take()) {
  }
  EXPECT_EQ(FilesIn(dir.path()).size(), 0u);
}

}  // namespace
