// Message filters on several threads: one compiled script shared by copies,
// each thread with its own filters over its own bindings, lazily parsed
// message files and messages parsed in memory.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/tempdir.h"
#include "filter/msgfilter.h"
#include "filter/sievescript.h"
#include "mime/message.h"
#include "mime/rfc822parser.h"

using telsor::CMsgFilter;
using telsor::CSieveScript;

namespace {

class CCountingFilter : public CMsgFilter {
 public:
  std::string actions;
  HRESULT ActionFileinto(SIEVE_STRINGS targets) override {
    actions += std::string(actions.empty() ? "" : " ") + "fileinto:" + targets[0];
    return S_OK;
  }
  HRESULT ActionKeep() override {
    actions += actions.empty() ? "keep" : " keep";
    return S_OK;
  }
};

std::string Message(int i) {
  std::string m = "From: user" + std::to_string(i) + "@example.org\nTo: a@example.org, b@example.org\n";
  m += "Subject: =?UTF-8?B?" + std::string(i % 2 ? "b2ZmZXI=" : "aGVsbG8=") + "?=\n";   // "offer" / "hello"
  m += "MIME-Version: 1.0\nContent-Type: text/html\n\n<p>line " + std::to_string(i) + "</p><p>cheap\tpills</p>\n";
  return m;
}

TEST(MsgFilterThreads, FiltersOnManyThreadsShareOneCompiledScript) {
  telsor_test::TempDir dir;
  const int kMessages = 8;
  for (int i = 0; i < kMessages; ++i) telsor_test::WriteFileBytes(dir / ("m" + std::to_string(i)), Message(i));
  CSieveScript shared;
  ASSERT_EQ(shared.ParseString("if header :is \"Subject\" \"offer\" { fileinto \"Offers\"; }\n"
                               "if allof (body :text :contains \"cheap pills\", address :count \"eq\" "
                               ":comparator \"i;ascii-numeric\" \"To\" \"2\") { keep; }",
                               nullptr),
            S_OK);

  std::atomic<int> wrong(0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      CSieveScript script = shared;   // shares the tree
      for (int round = 0; round < 10; ++round) {
        int i = (t + round) % kMessages;
        const std::string expected = i % 2 ? "fileinto:Offers keep" : "keep";
        CCountingFilter byFile;
        if (byFile.Initialize(dir.path().c_str()) != S_OK) ++wrong;
        if (byFile.Execute(script, (dir / ("m" + std::to_string(i))).c_str(), nullptr) != S_OK ||
            byFile.actions != expected)
          ++wrong;

        const std::string bytes = Message(i);
        telsor::CSharedObjPtr<telsor::CRfc822Parser> parser = new telsor::CRfc822Parser;
        if (parser->OpenSession(dir.path().c_str()) != S_OK) ++wrong;
        telsor::CRfc822Message message;
        if (message.PutContentAsString(reinterpret_cast<const unsigned char*>(bytes.data()),
                                       static_cast<ULONG>(bytes.size())) != S_OK)
          ++wrong;
        CCountingFilter inMemory;
        if (parser->ParseMessage(telsor::PARSE_SCOPE_FULL, message) != S_OK ||
            inMemory.Execute(script, &message, nullptr) != S_OK || inMemory.actions != expected)
          ++wrong;
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
