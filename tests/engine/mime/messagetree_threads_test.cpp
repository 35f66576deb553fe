// Eight threads: boundaries made at once all differ in their counter, and
// clones of one shared tree (read by every thread, its temporary file
// shared by every clone) are composed and dropped on their threads; the
// file goes with the last clone. Runs under ThreadSanitizer.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/tempdir.h"
#include "common/teststream.h"
#include "mime/bodypart.h"
#include "mime/message.h"
#include "mimetestutil.h"
#include "sessiontestutil.h"

using namespace telsor;
using mime_test::FilesIn;
using mime_test::Str;
using telsor_test::TempDir;
using telsor_test::WriteFileBytes;

namespace {

const int THREADS = 8;
const int ROUNDS = 200;

TEST(MessageTreeThreads, BoundariesAndClones) {
  TempDir dir;
  std::string composed[THREADS];
  std::vector<std::string> boundaries[THREADS];
  {
    CRfc822Message source;
    source.Subject() = "shared";
    source.GetFields(CRfc822Fields::ORDER_KEEP).Add("Date", "Tue, 1 Jul 2003 10:52:37 +0200");
    source.PutBoundary("S");
    CRfc822BodyPart* text = source.AddBodyPart(-1);
    text->PutContentMediaType("text/plain");
    if (text->PutContentAsString("text\r\n") != S_OK) ADD_FAILURE() << "content not stored";
    CSharedObjPtr<CSharedTmpFile> file = CSharedTmpFile::Create(dir.path().c_str(), "BDY");
    WriteFileBytes(file->GetFileName(), "file bytes");
    CRfc822BodyPart* attached = source.AddAttachment(file);
    attached->PutContentMediaType("application/octet-stream");
    attached->PutContentTransferEncoding("base64");
    text->PutContentTransferEncoding("quoted-printable");
    file = nullptr;

    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < ROUNDS; ++i) boundaries[t].push_back(Str(CRfc822Part::CreateBoundary()));
        CRfc822Message clone;
        source.Clone(clone);
        CTestStream out;
        clone.Compose(&out);
        composed[t] = out.str();
      });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(FilesIn(dir.path()).size(), 1u);  // the source still holds it
  }
  EXPECT_EQ(FilesIn(dir.path()).size(), 0u);
  std::set<std::string> counters;
  for (const auto& list : boundaries) {
    for (const std::string& b : list) counters.insert(b.substr(b.rfind('_') + 1));
  }
  EXPECT_EQ(counters.size(), static_cast<size_t>(THREADS * ROUNDS));
  for (int t = 1; t < THREADS; ++t) EXPECT_EQ(composed[t], composed[0]);
  EXPECT_NE(composed[0].find("\r\n--S\r\nContent-Type: application/octet-stream\r\n"
                             "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment\r\n\r\n"
                             "ZmlsZSBieXRlcw==\r\n\r\n--S--\r\n"),
            std::string::npos)
      << composed[0];
}

}  // namespace
