// Conversions from 8 threads at once: the shared tables (state map, the
// script-method matcher, the closing names of the colour scopes built on
// first use) are only read, so every thread gets the result that a lone
// conversion gives.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "mime/html2cleantext.h"

using namespace telsor;

namespace {

std::string Convert(const std::string& html, ULONG options, DWORD* writes) {
  CHtml2CleanText conv(options);
  TSTRING text(html.data(), static_cast<int>(html.size()));
  EXPECT_EQ(S_OK, conv.Execute(text, 0, nullptr));
  *writes = conv.m_bScriptWrites + conv.m_bInvisibleText * 2 + conv.m_bEmbeddedContent * 4;
  return std::string(text.c_str(), static_cast<size_t>(text.GetLength()));
}

TEST(Html2CleanTextThreads, EightThreadsConvertAtOnce) {
  std::vector<std::string> inputs;
  for (int i = 0; i < 16; ++i) {
    std::string h = "<html><body bgcolor=white><font color=" + std::string(i % 2 ? "white" : "red") + ">";
    for (int k = 0; k < 200; ++k) {
      h += "w" + std::to_string(i * k) + " &amp; <!-- c --> <td><a href=http://0x7f.0.0." +
           std::to_string(k) + "/>x</a></td><br>";
    }
    h += "</font><script>document.write('" + std::to_string(i) + "')</script><img src=cid:p" +
         std::to_string(i) + "></body>tail";
    inputs.push_back(h);
  }
  // What one thread alone gives.
  std::vector<std::string> want(inputs.size());
  std::vector<DWORD> wantFlags(inputs.size());
  for (size_t i = 0; i < inputs.size(); ++i) want[i] = Convert(inputs[i], i % 3 == 0 ? 1 : 0, &wantFlags[i]);

  std::atomic<int> go{0};
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      while (go.load() == 0) {
      }
      for (int round = 0; round < 20; ++round) {
        size_t i = static_cast<size_t>(t * 7 + round) % inputs.size();
        DWORD flags = 0;
        if (Convert(inputs[i], i % 3 == 0 ? 1 : 0, &flags) != want[i] || flags != wantFlags[i]) ++mismatches;
      }
    });
  }
  go = 1;
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(0, mismatches.load());
  EXPECT_EQ(5u, wantFlags[0]);  // script writes, a cid URL
  EXPECT_EQ(7u, wantFlags[1]);  // and invisible text
}

}  // namespace
