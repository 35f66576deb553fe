// The exported spam test from many threads: sixteen threads of fifty tests
// on one instance (scripts and classifiers shared) give what one thread
// gives; and first calls that race in a fresh process (each test here runs
// in a process of its own) create exactly one instance, from one caller's
// directories, which every racer then uses.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/tempdir.h"
#include "engine/classify/classifierfiles.h"
#include "engine/filter/enginehost.h"
#include "filter/scamodule.h"

using namespace telsor;
using namespace enginehost;
using telsor_test::TempDir;
using telsor_test::WriteFileBytes;

namespace {

const char kSpamText[] = "Cheap pills and watches, order now: the best offer on the whole web, click here today.";

std::vector<std::string> Messages() {
  return {kPlainMessage,
          std::string("From: x@example.com\r\nSubject: offer\r\n\r\n") + kSpamText + "\r\n",
          "From: y@example.com\r\nSubject: hello\r\nContent-Type: text/html\r\n\r\n<html><body><p>Hi <b>there</b>, "
          "long time no see. <a href=\"http://1.2.3.4/x\">here</a></p></body></html>\r\n",
          "Subject: watch out\r\n\r\ndrop this\r\n"};
}

// A data directory with a model, one category and an enabled script that
// discards what says "drop this".
std::string ModelDir(const TempDir& dir, const char* name) {
  const std::string data = dir / name;
  EXPECT_EQ(mkdir(data.c_str(), 0755), 0);
  WriteFileBytes(data + "/SieveCatalog.xml",
                 Catalogue({{"k1", "", 38, "if body :text :contains \"drop this\" { discard; }"}}));
  CNGramsTextClassifier spam = classify_test::ClassifierOf(kSpamText, 0.3, 1);
  classify_test::WriteBytes(data + "/Qor.bin", classify_test::PlainRecord(spam, false));
  CNGramsTextClassifier hoax = classify_test::ClassifierOf(kSpamText, 0.6, 2);
  classify_test::WriteBytes(data + "/Qor_33.bin", classify_test::PlainRecord(hoax, false));
  return data;
}

void EnableScripts(const std::string& data, const std::string& tmp) {
  CScaModule module(data.c_str(), tmp.c_str(), nullptr);
  CListSieveScriptInfo scripts;
  ASSERT_EQ(module.GetSieveDataSource()->GetListScriptInfo(scripts, nullptr, nullptr), S_OK);
  for (void* pos = scripts.GetHeadPosition(); pos != nullptr;) scripts.GetNext(pos)->m_bEnabled = 1;
}

}  // namespace

TEST(ExportsThreads, SixteenThreadsOnOneInstance) {
  CEngineLibrary lib;
  ASSERT_TRUE(lib.Ready());
  TempDir dir;
  const std::string data = ModelDir(dir, "data");
  const std::string tmp = dir / "tmp";
  ASSERT_EQ(mkdir(tmp.c_str(), 0755), 0);
  EnableScripts(data, tmp);
  const std::vector<std::string> messages = Messages();
  std::vector<Outcome> expected;
  for (const std::string& m : messages) {
    expected.push_back(TestMemory(lib, data, tmp, m, -1000));
    ASSERT_EQ(expected.back().result, 0u) << expected.back().error.message;
  }
  EXPECT_EQ(expected[3].score, 1000);  // the script's road
  EXPECT_NE(expected[1].score, expected[0].score);

  std::atomic<int> mismatches(0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 16; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        const size_t m = static_cast<size_t>(t + i) % messages.size();
        Outcome o = TestMemory(lib, data, tmp, messages[m], -1000);
        if (o.result != 0 || o.score != expected[m].score || o.Categories() != expected[m].Categories())
          ++mismatches;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
  lib.uninit(0);
}

// Racers give directories of two kinds; whichever call creates the
// instance decides for all of them.
class FirstCallRace : public ::testing::TestWithParam<int> {};

TEST_P(FirstCallRace, OneInstanceFromOneCaller) {
  CEngineLibrary lib;
  ASSERT_TRUE(lib.Ready());
  TempDir dir;
  const int racers = 8;
  std::vector<std::string> data(racers), tmp(racers);
  for (int i = 0; i < racers; ++i) {
    data[i] = dir / ("data" + std::to_string(i));
    tmp[i] = dir / ("tmp" + std::to_string(i));
    ASSERT_EQ(mkdir(data[i].c_str(), 0755), 0);
    ASSERT_EQ(mkdir(tmp[i].c_str(), 0755), 0);
    // Even racers bring a catalogue, odd ones none (code 9 for all if one of
    // those creates the instance).
    if (i % 2 == 0) WriteFileBytes(data[i] + "/SieveCatalog.xml", Catalogue({}));
  }
  std::atomic<int> ready(0);
  std::vector<Outcome> outcomes(racers);
  std::vector<std::thread> threads;
  for (int i = 0; i < racers; ++i) {
    threads.emplace_back([&, i] {
      ++ready;
      while (ready.load() < racers) std::this_thread::yield();
      outcomes[i] = TestMemory(lib, data[i], tmp[i], kPlainMessage, 0);
    });
  }
  for (std::thread& t : threads) t.join();
  CScaModule module("unused", "unused", nullptr);
  const std::string created = module.GetImpl()->GetDataDirectory();
  int winner = -1;
  for (int i = 0; i < racers; ++i)
    if (created == data[i]) winner = i;
  ASSERT_GE(winner, 0) << created;
  EXPECT_EQ(std::string(module.GetTempDirectory()), tmp[winner]);
  const uint32_t code = winner % 2 == 0 ? 0u : 9u;
  for (int i = 0; i < racers; ++i) {
    EXPECT_EQ(outcomes[i].result, code) << i;
    if (code == 0) {
      EXPECT_EQ(outcomes[i].score, -124) << i;
    }
  }
  lib.uninit(0);
}

INSTANTIATE_TEST_SUITE_P(Rounds, FirstCallRace, ::testing::Range(0, 4));

// Racers that all bring a missing directory all fail and leave no
// instance; the next call with a good directory creates it.
TEST(ExportsThreads, FailedCreationsRaceAndLeaveNothing) {
  CEngineLibrary lib;
  ASSERT_TRUE(lib.Ready());
  TempDir dir;
  const std::string good = dir / "good";
  ASSERT_EQ(mkdir(good.c_str(), 0755), 0);
  WriteFileBytes(good + "/SieveCatalog.xml", Catalogue({}));
  std::atomic<int> failures(0);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      const std::string missing = dir / ("missing" + std::to_string(i));
      Outcome o = TestMemory(lib, missing, dir.path(), kPlainMessage, 0);
      if (o.result == 11 && o.error.detail == 3) ++failures;
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 8);
  Outcome o = TestMemory(lib, good, dir.path(), kPlainMessage, 0);
  EXPECT_EQ(o.result, 0u) << o.error.message;
  EXPECT_EQ(o.score, -124);
  lib.uninit(0);
}
