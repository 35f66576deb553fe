// The codecs on several threads at once: every thread encodes and decodes
// its own data with every transfer codec, BinHex (whose preamble matcher is
// built on first use and shared) and the parameter token, and gets its own
// data back.
#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "codectestutil.h"
#include "mime/paramtoken.h"

using namespace telsor;

namespace {

TEST(CodecThreads, EveryThreadGetsItsOwnDataBack) {
  const int kThreads = 8;
  std::atomic<int> failures(0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures]() {
      std::mt19937 rng(static_cast<unsigned>(t) * 7919u + 1);
      for (int round = 0; round < 20; ++round) {
        const std::string data = codec_test::RandomBytes(rng, 1 + rng() % 6000, round % 2 == 0);
        for (auto e : {CONTENT_ENCODING_BASE64, CONTENT_ENCODING_QUOTED_PRINTABLE, CONTENT_ENCODING_UUENCODE}) {
          const codec_test::Run enc = codec_test::Encode(data, e);
          if (enc.hr != S_OK || codec_test::Decode(enc.out, e).out != data) ++failures;
        }
        codec_test::MacFile f;
        f.name = "thread " + std::to_string(t);
        f.type = "TEXT";
        f.data = data;
        f.rsrc = data.substr(0, data.size() / 3);
        const codec_test::DecodedFile back = codec_test::DecodeBinHexText("x\r\n" + codec_test::EncodeBinHexFile(f));
        if (back.hr != S_OK || back.file.name != f.name || back.file.data != f.data || back.file.rsrc != f.rsrc) {
          ++failures;
        }
        CRfc2045ParameterList params(10);
        CRfc2045Parameter p("thread", std::to_string(t).c_str());
        params.AddTail(p);
        TSTRING token = EncryptParameters(params, TSTRING("key"));
        CRfc2045ParameterList out(10);
        if (DecryptParameters(token, TSTRING("key"), out) != 0 || out.GetCount() != 1) {
          ++failures;
          continue;
        }
        void* pos = out.GetHeadPosition();
        if (strcmp(out.GetNext(pos).GetValue().c_str(), std::to_string(t).c_str()) != 0) ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
