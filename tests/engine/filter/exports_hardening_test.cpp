// The exported functions around hostile or damaged files and messages: a
// refused classifier file scores as a missing one, is logged and has no
// update number; the memory and file forms give one answer for the same
// bytes, also past the parser's limits; nothing that is no regular file
// (FIFOs holding bytes for a reader that must never come) makes a call
// wait; the error record of a success is whole; the data folder's name is
// trimmed once for every file in it; a filter that cannot be set up is
// reported as what it is.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "common/heldfifo.h"
#include "common/logcapture.h"
#include "common/tempdir.h"
#include "engine/classify/classifierfiles.h"
#include "engine/filter/enginehost.h"
#include "filter/filterresults.h"
#include "filter/scamodule.h"

using namespace telsor;
using namespace enginehost;
using telsor_test::CHeldFifo;
using telsor_test::CLogCapture;
using telsor_test::TempDir;
using telsor_test::WriteFileBytes;

// strdup as the engine calls it, with one way to fail: while armed, a copy
// of exactly the armed text runs out of memory (the temporary directory
// that the spam test's filter keeps).
namespace {
std::atomic<const char*> g_failStrdupOf{nullptr};
}  // namespace

extern "C" char* strdup(const char* s) {
  const char* armed = g_failStrdupOf.load();
  if (armed != nullptr && strcmp(s, armed) == 0) return nullptr;
  const size_t n = strlen(s) + 1;
  char* copy = static_cast<char*>(malloc(n));
  if (copy != nullptr) memcpy(copy, s, n);
  return copy;
}

namespace {

const int32_t NS = QOR_NO_SCORE;
const char kSpamText[] = "buy cheap pills now the best offer of the year click here to order today";

std::string SpamMessage() {
  return std::string("From: Shop <shop@example.com>\r\nTo: bob@example.org\r\nSubject: offer\r\n\r\n") + kSpamText +
         "\r\n";
}

// Messages built past the parser's limits: nesting, and the number of parts.
std::string Nested(int levels) {
  std::string m;
  for (int i = 0; i < levels; ++i)
    m += "From: a@example.org\r\nSubject: level " + std::to_string(i) + "\r\nContent-Type: message/rfc822\r\n\r\n";
  return m + "From: a@example.org\r\nSubject: inner\r\n\r\n" + kSpamText + "\r\n";
}

std::string ManyParts(int parts) {
  std::string m = "From: a@example.org\r\nSubject: many\r\nMIME-Version: 1.0\r\n"
                  "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n\r\n" +
                  std::string(kSpamText) + "\r\n";
  for (int i = 1; i < parts; ++i) m += "--b\r\n\r\nx\r\n";
  return m + "--b--\r\n";
}

class ExportsHardeningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lib.Ready()) << lib.path;
    ASSERT_EQ(mkdir(Tmp().c_str(), 0755), 0);
  }
  void TearDown() override { lib.uninit(0); }

  std::string Tmp() const { return dir / "tmp"; }
  // A data folder with an empty catalogue.
  std::string Folder(const std::string& name) {
    const std::string path = dir / name;
    EXPECT_EQ(mkdir(path.c_str(), 0755), 0);
    WriteFileBytes(path + "/SieveCatalog.xml", Catalogue({}));
    return path;
  }
  std::string Model(double b = 0.1, ULONG update = 7) {
    CNGramsTextClassifier c = classify_test::ClassifierOf(kSpamText, b, update);
    return classify_test::PlainRecord(c, false);
  }
  uint32_t SpamUpdate(const std::string& data) {
    SQorVersionInfo v;
    memset(&v, 0x5A, sizeof v);
    EXPECT_EQ(lib.version(0, 0, data.c_str(), 0, 0, &v, nullptr), 0u);
    return v.spamUpdate;
  }

  CEngineLibrary lib;
  TempDir dir;
};

TEST_F(ExportsHardeningTest, ARefusedModelScoresAsAMissingOne) {
  const std::string missing = Folder("missing");
  const Outcome none = TestMemory(lib, missing, Tmp(), SpamMessage(), 1000);
  lib.uninit(0);
  ASSERT_EQ(none.result, 0u);
  const std::string good = Folder("good");
  classify_test::WriteBytes(good + "/Qor.bin", Model());
  const Outcome scored = TestMemory(lib, good, Tmp(), SpamMessage(), 1000);
  lib.uninit(0);
  ASSERT_EQ(scored.result, 0u);
  ASSERT_NE(scored.score, none.score);  // the model counts
  EXPECT_EQ(SpamUpdate(good), 7u);
  EXPECT_EQ(SpamUpdate(missing), 0xFFFFFFFFu);

  const std::string record = Model();
  struct Case {
    const char* what;
    std::string bytes;  // empty: a directory
  } cases[] = {
      {"truncated", record.substr(0, record.size() - 3)},
      {"a byte too many", record + "!"},
      {"NaN bias", Model(NAN)},
      {"infinite bias", Model(INFINITY)},
      {"a directory", ""},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string data = Folder("damaged" + std::to_string(++n));
    if (c.bytes.empty()) {
      ASSERT_EQ(mkdir((data + "/Qor.bin").c_str(), 0755), 0);
    } else {
      classify_test::WriteBytes(data + "/Qor.bin", c.bytes);
    }
    CLogCapture log(1);
    const Outcome o = TestMemory(lib, data, Tmp(), SpamMessage(), 1000);
    lib.uninit(0);
    EXPECT_EQ(o.result, 0u);
    EXPECT_EQ(o.score, none.score);
    EXPECT_GE(o.score, -1000);
    EXPECT_LE(o.score, 1000);
    ASSERT_EQ(log.Messages().size(), 1u);
    EXPECT_EQ(log.Messages()[0].rfind("Classifier file '" + data + "/Qor.bin' refused: ", 0), 0u)
        << log.Messages()[0];
    EXPECT_EQ(SpamUpdate(data), 0xFFFFFFFFu);
  }
}

TEST_F(ExportsHardeningTest, TheSameBytesGiveTheSameAnswer) {
  const std::string data = Folder("model");
  classify_test::WriteBytes(data + "/Qor.bin", Model());
  classify_test::WriteBytes(data + "/Qor_36.bin", Model(-0.2, 9));
  struct Case {
    const char* what;
    std::string message;
  } cases[] = {
      {"plain", SpamMessage()},
      {"257 levels of message/rfc822", Nested(257)},
      {"2,049 parts", ManyParts(2049)},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir / ("m" + std::to_string(++n) + ".eml");
    WriteFileBytes(path, c.message);
    const Outcome memory = TestMemory(lib, data, Tmp(), c.message, -1001);
    const Outcome file = TestFile(lib, data, Tmp(), path.c_str(), -1001);
    EXPECT_EQ(memory.result, 0u);
    EXPECT_EQ(file.result, memory.result);
    EXPECT_EQ(file.score, memory.score);
    EXPECT_EQ(file.Categories(), memory.Categories());
    EXPECT_NE(memory.categories.money, NS);  // scored, not refused
  }
}

TEST_F(ExportsHardeningTest, NothingThatIsNoFileIsWaitedOn) {
  // The model, a category file and the script database's number file.
  const std::string models = Folder("models");
  CHeldFifo spam(models + "/Qor.bin", Model());
  CHeldFifo category(models + "/Qor_33.bin", Model());
  CHeldFifo number(models + "/QorDat.bin", "[Information]\nUpdateNumber=5\n");
  ASSERT_TRUE(spam.Ready() && category.Ready() && number.Ready());
  const Outcome o = TestMemory(lib, models, Tmp(), kPlainMessage, 1000);  // the first call: it makes the instance
  EXPECT_EQ(o.result, 0u);
  EXPECT_EQ(o.score, -124);  // the metric alone
  SQorVersionInfo v;
  EXPECT_EQ(lib.version(0, 0, models.c_str(), 0, 0, &v, nullptr), 0u);
  EXPECT_EQ(v.spamUpdate, 0xFFFFFFFFu);
  EXPECT_EQ(v.hoaxUpdate, 0xFFFFFFFFu);
  EXPECT_EQ(v.scriptUpdate, 0xFFFFFFFFu);

  // The message file.
  CHeldFifo message(dir / "message.eml", kPlainMessage);
  ASSERT_TRUE(message.Ready());
  const Outcome m = TestFile(lib, models, Tmp(), (dir / "message.eml").c_str(), 1000);
  EXPECT_EQ(m.result, 8u);
  EXPECT_EQ(m.error.detail, 22u);
  EXPECT_STREQ(m.error.message, "Unable to parse message.");
  EXPECT_TRUE(spam.Untouched() && category.Untouched() && number.Untouched() && message.Untouched());
  lib.uninit(0);

  // The catalogue.
  const std::string noCatalogue = dir / "nocatalogue";
  ASSERT_EQ(mkdir(noCatalogue.c_str(), 0755), 0);
  CHeldFifo catalogue(noCatalogue + "/SieveCatalog.xml", Catalogue({}));
  ASSERT_TRUE(catalogue.Ready());
  const Outcome c = TestMemory(lib, noCatalogue, Tmp(), kPlainMessage, 1000);
  EXPECT_EQ(c.result, 9u);
  EXPECT_EQ(c.error.detail, static_cast<uint32_t>(E_SIEVE_OPEN_FAILED));
  EXPECT_TRUE(catalogue.Untouched());
  lib.uninit(0);

  // Script files: a FIFO and a directory (whose mode looks like the
  // writer's mark) for two enabled scripts; both are passed over at once.
  const std::string scripts = dir / "scripts";
  ASSERT_EQ(mkdir(scripts.c_str(), 0755), 0);
  WriteFileBytes(scripts + "/SieveCatalog.xml",
                 "<SieveScripts><Script ID=\"f1\"><CATEGORY>36</CATEGORY></Script>"
                 "<Script ID=\"d1\"><CATEGORY>36</CATEGORY></Script></SieveScripts>");
  CHeldFifo script(scripts + "/TF1.dat", "ZGlzY2FyZDs=");
  ASSERT_TRUE(script.Ready());
  ASSERT_EQ(mkdir((scripts + "/TD1.dat").c_str(), 0755), 0);
  {
    CScaModule module(scripts.c_str(), Tmp().c_str(), nullptr);
    CListSieveScriptInfo list;
    ASSERT_EQ(module.GetSieveDataSource()->GetListScriptInfo(list, nullptr, nullptr), S_OK);
    ASSERT_EQ(list.GetCount(), 2);
    for (void* pos = list.GetHeadPosition(); pos != nullptr;) list.GetNext(pos)->m_bEnabled = 1;
  }
  const auto start = std::chrono::steady_clock::now();
  const Outcome s = TestMemory(lib, scripts, Tmp(), kPlainMessage, 1000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(s.result, 0u);
  EXPECT_EQ(s.score, -124);  // no script ran: the classifier decided
  EXPECT_TRUE(script.Untouched());
}

TEST_F(ExportsHardeningTest, TheErrorRecordOfASuccessIsWhole) {
  const std::string data = Folder("plain");
  WriteFileBytes(dir / "plain.eml", kPlainMessage);
  auto check = [](const SQorError& e) {
    EXPECT_EQ(e.code, 0u);
    EXPECT_EQ(e.detail, 0u);
    EXPECT_EQ(std::string(e.message, sizeof e.message), std::string(sizeof e.message, '\0'));
  };
  SQorError e;
  int32_t score = 0;
  memset(&e, 'Z', sizeof e);
  EXPECT_EQ(lib.testMemory(0, 0, data.c_str(), Tmp().c_str(), nullptr, kPlainMessage, sizeof kPlainMessage - 1, 0, 0,
                           &score, nullptr, &e),
            0u);
  check(e);
  memset(&e, 'Z', sizeof e);
  EXPECT_EQ(lib.testFile(0, 0, data.c_str(), Tmp().c_str(), nullptr, (dir / "plain.eml").c_str(), 0, 0, &score,
                         nullptr, &e),
            0u);
  check(e);
  memset(&e, 'Z', sizeof e);
  SQorVersionInfo v;
  EXPECT_EQ(lib.version(0, 0, data.c_str(), 0, 0, &v, &e), 0u);
  check(e);
  lib.uninit(0);

  // No message is no message, whatever the data folder would say.
  const std::string bad = dir / "no such folder";
  EXPECT_EQ(lib.testMemory(0, 0, bad.c_str(), Tmp().c_str(), nullptr, nullptr, 10, 0, 0, &score, nullptr, &e), 8u);
  EXPECT_EQ(e.detail, static_cast<uint32_t>(E_POINTER));
  EXPECT_STREQ(e.message, "Unable assign message content.");
  EXPECT_EQ(lib.testFile(0, 0, bad.c_str(), Tmp().c_str(), nullptr, nullptr, 0, 0, &score, nullptr, &e), 8u);
  EXPECT_STREQ(e.message, "Unable to parse message.");
  // With a message, the folder is what fails.
  EXPECT_EQ(lib.testMemory(0, 0, bad.c_str(), Tmp().c_str(), nullptr, kPlainMessage, sizeof kPlainMessage - 1, 0, 0,
                           &score, nullptr, &e),
            11u);
}

TEST_F(ExportsHardeningTest, OneTrimmedFolderForEveryFile) {
  const std::string data = Folder("model");
  classify_test::WriteBytes(data + "/Qor.bin", Model());
  const Outcome plain = TestMemory(lib, data, Tmp(), SpamMessage(), 1000);
  lib.uninit(0);
  for (const std::string& padded : {data + " ", " \t" + data + "\t ", data + "/ "}) {
    SCOPED_TRACE("'" + padded + "'");
    const Outcome o = TestMemory(lib, padded, Tmp(), SpamMessage(), 1000);
    lib.uninit(0);
    EXPECT_EQ(o.result, 0u);
    EXPECT_EQ(o.score, plain.score);  // the model is found, as the catalogue is
    EXPECT_EQ(SpamUpdate(padded), 7u);
  }
}

TEST_F(ExportsHardeningTest, AFilterThatCannotBeSetUpIsNoClassifierFailure) {
  const std::string data = Folder("plain");
  const std::string tmp = dir / "tmp-of-this-test";
  ASSERT_EQ(mkdir(tmp.c_str(), 0755), 0);
  // The instance is made first; then the filter's copy of its temporary
  // directory runs out of memory.
  ASSERT_EQ(TestMemory(lib, data, tmp, kPlainMessage, 0).result, 0u);
  g_failStrdupOf = tmp.c_str();
  const Outcome o = TestMemory(lib, data, tmp, kPlainMessage, 0);
  g_failStrdupOf = nullptr;
  EXPECT_EQ(o.result, 5u);
  EXPECT_STREQ(o.error.message, "Not enough memory");
  EXPECT_EQ(o.score, 0x5A5A5A5A);  // not written
}

}  // namespace
