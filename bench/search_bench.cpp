// Pattern search against its peers on the same buffers: CRegExpr against
// RE2 and PCRE2-JIT, CSeekSubstr against memmem and the standard
// Boyer-Moore-Horspool searcher, CSeekMultiWords against a memmem-per-word
// loop and an RE2 alternation; compile times and the bytes a compiled
// matcher holds.
//
// Texts are mail-like (headers, words, lines) from a fixed seed at 4 KiB,
// 256 KiB and 4 MiB, plus adversarial near-misses; every needle sits at the
// very end or nowhere, so each search reads the whole buffer. Before any
// timing a gate checks that all matchers agree on match or no match.
//
// Per-message calls: every message of the training half of the
// SpamAssassin corpus ($QOR_CORPORA, tools/fetch-corpora.sh; left out when
// unset) searched one call each, as the MIME parser and the filter
// scripts do, for the expressions, the substring and the word list (again
// gated: ours and the peer agree on every message).
//
// Compile: the expressions above, a 42-byte boundary literal, a 20-word
// case-insensitive alternation, an anchored line start, the multi-word
// matcher of the 20 words, and the state-explosion family
// (a|b)*a(a|b){n}, n = 8 .. 15 (15 fails cleanly: too many states).
//
//   bash bench/setup.sh && bash tools/build.sh normal -DQOR_BENCH=ON
//   build/normal/bin/search_bench --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true
#define PCRE2_CODE_UNIT_WIDTH 8
#include <benchmark/benchmark.h>
#include <pcre2.h>
#include <re2/re2.h>
#include <string.h>

#include <dirent.h>
#include <malloc.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "search/regexpr.h"
#include "search/seekmultiwords.h"
#include "search/seeksubstr.h"

using namespace telsor;

namespace {
const size_t kSizes[] = {4 << 10, 256 << 10, 4 << 20};

std::string MailText(size_t size, unsigned seed) {
  static const char* words[] = {"the", "meeting", "invoice", "please", "find", "attached", "regards",
                                "offer", "price", "shipping", "account", "update", "document", "write",
                                "http://www.example.com/x", "Re:", "thanks", "order", "12.50", "USD"};
  static const char* headers[] = {"Received: from mx.example.com by relay", "From: Joe <joe@example.com>",
                                  "To: ann@example.org", "Subject: your order", "Date: Mon, 3 Jun 2024"};
  std::mt19937 rng(seed);
  std::string t;
  for (const char* h : headers) t += std::string(h) + "\r\n";
  t += "\r\n";
  while (t.size() < size) {
    size_t line = 0;
    while (line < 70 && t.size() < size) {
      std::string w = words[rng() % 20];
      t += w + " ";
      line += w.size() + 1;
    }
    t += "\r\n";
  }
  t.resize(size);
  return t;
}

// Near misses: the prefixes of the needles over and over.
std::string NearMisses(size_t size) {
  const std::string unit = "document.writ document . wri x.writel boundary=--=_Next Content-Typ Subjec ";
  std::string t;
  while (t.size() < size) t += unit;
  t.resize(size);
  return t;
}

struct tag_TEXT {
  std::string name;
  std::string data;
};

std::vector<tag_TEXT>& Texts() {
  static std::vector<tag_TEXT> texts = [] {
    std::vector<tag_TEXT> v;
    for (size_t s : kSizes) v.push_back({"mail" + std::to_string(s >> 10) + "K", MailText(s, 1234)});
    v.push_back({"nearmiss256K", NearMisses(256 << 10)});
    return v;
  }();
  return texts;
}

// The engine's own expressions, written so that RE2 and PCRE2 read them alike.
struct tag_REGEX {
  const char* name;
  const char* pattern;
};
const tag_REGEX kRegexes[] = {
    {"script", "\\w\\s*\\.\\s*((write)|(writeln))\\s*\\("},
    {"boundary", "--=_NextPart_[0-9A-F]{4}\\.[0-9A-F]{8}"},
    {"spamkey", "(viagra|cialis|casino|lottery) (offer|winner)"},
    {"price", "[0-9]+% off"},
};

struct tag_PCRE {
  pcre2_code* code = nullptr;
  pcre2_match_data* data = nullptr;
  explicit tag_PCRE(const char* p) {
    int err;
    PCRE2_SIZE off;
    code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(p), PCRE2_ZERO_TERMINATED, 0, &err, &off, nullptr);
    pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    data = pcre2_match_data_create_from_pattern(code, nullptr);
  }
  ~tag_PCRE() {
    pcre2_match_data_free(data);
    pcre2_code_free(code);
  }
  bool Match(const std::string& t) const {
    return pcre2_jit_match(code, reinterpret_cast<PCRE2_SPTR>(t.data()), t.size(), 0, 0, data, nullptr) >= 0;
  }
};

bool Re2Match(const RE2& re, const std::string& t) {
  return re.Match(t, 0, t.size(), RE2::UNANCHORED, nullptr, 0);
}

// Every text with the needle's text appended (a hit at the very end).
std::string WithHit(const std::string& text, const std::string& hit) {
  return text.substr(0, text.size() - hit.size()) + hit;
}

const char* kHits[] = {"document.write(", "--=_NextPart_00A1.01D2C3E4", "casino winner", "50% off"};

const char* kWords[] = {"Received:", "From:", "To:", "Cc:", "Bcc:", "Subject:", "Message-ID",
                        "MIME-Version", "Content-Type", "Content-Transfer-Encoding", "Return-Path",
                        "\n.\r", "\r.\r", "\n.\n", "\r.\n", nullptr};

std::string Re2Alternation() {
  std::string alt;
  for (const char** w = kWords; *w; ++w) {
    if (!alt.empty()) alt += "|";
    alt += RE2::QuoteMeta(*w);
  }
  return alt;
}

DWORD MemmemWords(const std::string& t) {
  DWORD best = SEEK_NOT_FOUND;
  size_t limit = t.size();
  for (const char** w = kWords; *w; ++w) {
    const void* hit = memmem(t.data(), limit, *w, strlen(*w));
    if (hit) {
      best = static_cast<DWORD>(static_cast<const char*>(hit) - t.data());
      limit = best + strlen(*w);  // a later word must start before it
    }
  }
  return best;
}

// Word-list texts: header-free bodies so the only hit is the final one.
std::string BodyOnly(const std::string& t) {
  std::string b = t;
  for (const char** w = kWords; *w; ++w) {
    for (size_t at = b.find(*w); at != std::string::npos; at = b.find(*w, at)) b[at] = '#';
  }
  return b;
}

void Gate() {
  for (const tag_TEXT& t : Texts()) {
    for (size_t i = 0; i < sizeof kRegexes / sizeof kRegexes[0]; ++i) {
      CRegExpr ours;
      if (ours.Compile(kRegexes[i].pattern, 1, 0) != 0) abort();
      RE2 re2(kRegexes[i].pattern);
      tag_PCRE pcre(kRegexes[i].pattern);
      for (const std::string& text : {t.data, WithHit(t.data, kHits[i])}) {
        const bool a = ours.Search(text.data(), static_cast<DWORD>(text.size()), nullptr) != SEEK_NOT_FOUND;
        const bool b = Re2Match(re2, text);
        const bool c = pcre.Match(text);
        if (a != b || a != c) {
          fprintf(stderr, "gate: %s disagrees on %s (%d %d %d)\n", kRegexes[i].name, t.name.c_str(), a, b, c);
          abort();
        }
      }
    }
  }
  fprintf(stderr, "gate: all matchers agree\n");
}

// ---- compile cost, memory held, state explosion ----

// Heap bytes in use (chunks in the arenas and mapped blocks). The benchmark
// runs on one thread, so the growth while a compiled matcher is made and
// kept is what that matcher holds, for ours and the peers alike
// ("heap_bytes"; ours also reports what it counts itself, "bytes_held").
size_t HeapInUse() {
  const struct mallinfo2 mi = mallinfo2();
  return mi.uordblks + mi.hblkhd;
}

template <class MAKE>
double HeapHeld(MAKE make) {
  const size_t before = HeapInUse();
  auto held = make();
  const size_t after = HeapInUse();
  benchmark::DoNotOptimize(held.get());
  return after > before ? static_cast<double>(after - before) : 0;
}

double RegExprHeld(const std::string& pattern, bool caseSensitive) {
  return HeapHeld([&] {
    auto re = std::make_unique<CRegExpr>();
    re->Compile(pattern.c_str(), caseSensitive, 0);
    return re;
  });
}

double Re2Held(const std::string& pattern, const RE2::Options& options) {
  return HeapHeld([&] {
    auto re = std::make_unique<RE2>(pattern, options);
    // RE2 builds its DFA on the first search: one search counts it in.
    Re2Match(*re, "Subject: nothing to see here\r\n");
    return re;
  });
}

// The 20 header names of a MIME parser's word list.
const char* kHeaderWords[] = {"Received", "From", "To", "Cc", "Bcc", "Subject", "Message-ID", "MIME-Version",
                              "Content-Type", "Content-Transfer-Encoding", "Return-Path", "Date", "Reply-To",
                              "Sender", "Organization", "X-Mailer", "User-Agent", "In-Reply-To", "References",
                              "Delivered-To", nullptr};

std::string Alternation(const char** words, bool quote) {
  std::string alt;
  for (const char** w = words; *w; ++w) {
    if (!alt.empty()) alt += "|";
    alt += quote ? RE2::QuoteMeta(*w) : std::string(*w);
  }
  return "(" + alt + ")";
}

struct tag_MORE {
  std::string name;
  std::string pattern;  // RE2 reads it alike
  bool caseSensitive;
};

const std::vector<tag_MORE>& More() {
  static const std::vector<tag_MORE> more = {
      {"literal42", "-----=_NextPart_000_0012_01D2C3E4\\.5F6A7B80", true},
      {"words20", Alternation(kHeaderWords, false), false},
      {"begin", "^begin [0-7]{3} ", true},
  };
  return more;
}

RE2::Options Re2Case(bool caseSensitive) {
  RE2::Options o;
  o.set_case_sensitive(caseSensitive);
  return o;
}

void RegisterCompiles() {
  for (const tag_MORE& m : More()) {
    benchmark::RegisterBenchmark(("compile/ours/" + m.name).c_str(), [m](benchmark::State& st) {
      CRegExpr re;
      for (auto _ : st) benchmark::DoNotOptimize(re.Compile(m.pattern.c_str(), m.caseSensitive, 0));
      st.counters["states"] = re.GetTable()->GetStateCount();
      st.counters["bytes_held"] = static_cast<double>(re.GetBytesHeld());
      st.counters["heap_bytes"] = RegExprHeld(m.pattern, m.caseSensitive);
    });
    benchmark::RegisterBenchmark(("compile/re2/" + m.name).c_str(), [m](benchmark::State& st) {
      for (auto _ : st) {
        RE2 re(m.pattern, Re2Case(m.caseSensitive));
        benchmark::DoNotOptimize(re.ok());
        st.counters["program_size"] = re.ProgramSize();
      }
      st.counters["heap_bytes"] = Re2Held(m.pattern, Re2Case(m.caseSensitive));
    });
  }
  benchmark::RegisterBenchmark("compile/ours/multiwords20", [](benchmark::State& st) {
    CSeekMultiWords m;
    for (auto _ : st) benchmark::DoNotOptimize(m.Compile(kHeaderWords, 0));
    st.counters["states"] = m.GetTable()->GetStateCount();
    st.counters["bytes_held"] = static_cast<double>(m.GetBytesHeld());
    st.counters["heap_bytes"] = HeapHeld([] {
      auto words = std::make_unique<CSeekMultiWords>();
      words->Compile(kHeaderWords, 0);
      return words;
    });
  });
  benchmark::RegisterBenchmark("compile/re2/multiwords20", [](benchmark::State& st) {
    const std::string p = Alternation(kHeaderWords, true);
    for (auto _ : st) {
      RE2 re(p, Re2Case(false));
      benchmark::DoNotOptimize(re.ok());
    }
    st.counters["heap_bytes"] = Re2Held(p, Re2Case(false));
  });
  for (int n = 8; n <= 15; ++n) {
    const std::string p = "(a|b)*a(a|b){" + std::to_string(n) + "}";
    benchmark::RegisterBenchmark(("compile/ours/explode" + std::to_string(n)).c_str(), [p](benchmark::State& st) {
      CRegExpr re;
      HRESULT hr = S_OK;
      for (auto _ : st) benchmark::DoNotOptimize(hr = re.Compile(p.c_str(), 1, 0));
      st.counters["states"] = re.GetTable() != nullptr ? re.GetTable()->GetStateCount() : 0;
      st.counters["too_many_states"] = hr == E_SEEK_TOO_MANY_STATES ? 1 : 0;
    })->Unit(benchmark::kMillisecond)->Iterations(n >= 13 ? 3 : 20);
    benchmark::RegisterBenchmark(("compile/re2/explode" + std::to_string(n)).c_str(), [p](benchmark::State& st) {
      for (auto _ : st) {
        RE2 re(p);
        benchmark::DoNotOptimize(re.ok());
      }
    })->Unit(benchmark::kMillisecond);
  }
}

// ---- per-message calls over a real mailbox ----

// The messages of the training half of the SpamAssassin corpus, without
// those holding NUL bytes (the matchers read NUL as a space, RE2 does not).
const std::vector<std::string>& Mailbox() {
  static const std::vector<std::string> messages = [] {
    std::vector<std::string> v;
    const char* corpora = getenv("QOR_CORPORA");
    if (corpora == nullptr) return v;
    const std::string train = std::string(corpora) + "/spamassassin/train";
    DIR* groups = opendir(train.c_str());
    if (groups == nullptr) return v;
    std::vector<std::string> files;
    while (dirent* g = readdir(groups)) {
      if (g->d_name[0] == '.') continue;
      const std::string dir = train + "/" + g->d_name;
      DIR* d = opendir(dir.c_str());
      if (d == nullptr) continue;
      while (dirent* f = readdir(d))
        if (f->d_name[0] != '.') files.push_back(dir + "/" + f->d_name);
      closedir(d);
    }
    closedir(groups);
    std::sort(files.begin(), files.end());
    for (const std::string& f : files) {
      std::ifstream in(f, std::ios::binary);
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (!text.empty() && text.find('\0') == std::string::npos) v.push_back(std::move(text));
    }
    return v;
  }();
  return messages;
}

void RegisterPerMessage() {
  const std::vector<std::string>& mail = Mailbox();
  if (mail.empty()) {
    fprintf(stderr, "per-message: QOR_CORPORA not set or empty, left out\n");
    return;
  }
  size_t bytes = 0;
  for (const std::string& m : mail) bytes += m.size();
  fprintf(stderr, "per-message: %zu messages, %zu bytes\n", mail.size(), bytes);
  auto counters = [bytes, &mail](benchmark::State& st) {
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * bytes));
    st.counters["messages"] = static_cast<double>(mail.size());
  };
  std::vector<tag_MORE> all;
  for (const tag_REGEX& r : kRegexes) all.push_back({r.name, r.pattern, true});
  for (const tag_MORE& m : More()) all.push_back(m);
  for (const tag_MORE& m : all) {
    auto ours = std::make_shared<CRegExpr>();
    if (ours->Compile(m.pattern.c_str(), m.caseSensitive, 0) != 0) abort();
    auto re2 = std::make_shared<RE2>(m.pattern, Re2Case(m.caseSensitive));
    size_t hits = 0;
    for (const std::string& text : mail) {
      const bool a = ours->Search(text.data(), static_cast<DWORD>(text.size()), nullptr) != SEEK_NOT_FOUND;
      if (a != Re2Match(*re2, text)) {
        fprintf(stderr, "gate: %s disagrees with RE2 on a message\n", m.name.c_str());
        abort();
      }
      hits += a;
    }
    benchmark::RegisterBenchmark(("permsg/ours/" + m.name).c_str(), [=, &mail](benchmark::State& st) {
      for (auto _ : st)
        for (const std::string& text : mail)
          benchmark::DoNotOptimize(ours->Search(text.data(), static_cast<DWORD>(text.size()), nullptr));
      counters(st);
      st.counters["hits"] = static_cast<double>(hits);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("permsg/re2/" + m.name).c_str(), [=, &mail](benchmark::State& st) {
      for (auto _ : st)
        for (const std::string& text : mail) benchmark::DoNotOptimize(Re2Match(*re2, text));
      counters(st);
    })->Unit(benchmark::kMillisecond);
  }
  const std::string needle = "------=_NextPart_";
  auto substr = std::make_shared<CSeekSubstr>();
  substr->Compile(needle.c_str(), 1, 0);
  for (const std::string& text : mail) {
    const bool a = substr->Search(text.data(), static_cast<DWORD>(text.size()), nullptr) != SEEK_NOT_FOUND;
    if (a != (memmem(text.data(), text.size(), needle.data(), needle.size()) != nullptr)) abort();
  }
  benchmark::RegisterBenchmark("permsg/ours/substr", [=, &mail](benchmark::State& st) {
    for (auto _ : st)
      for (const std::string& text : mail)
        benchmark::DoNotOptimize(substr->Search(text.data(), static_cast<DWORD>(text.size()), nullptr));
    counters(st);
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("permsg/memmem/substr", [=, &mail](benchmark::State& st) {
    for (auto _ : st)
      for (const std::string& text : mail)
        benchmark::DoNotOptimize(memmem(text.data(), text.size(), needle.data(), needle.size()));
    counters(st);
  })->Unit(benchmark::kMillisecond);
  auto words = std::make_shared<CSeekMultiWords>();
  words->Compile(kHeaderWords, 0);
  auto alt = std::make_shared<RE2>(Alternation(kHeaderWords, true), Re2Case(false));
  for (const std::string& text : mail) {
    const bool a = words->Search(text.data(), static_cast<DWORD>(text.size()), nullptr) != SEEK_NOT_FOUND;
    if (a != Re2Match(*alt, text)) abort();
  }
  benchmark::RegisterBenchmark("permsg/ours/multiwords20", [=, &mail](benchmark::State& st) {
    for (auto _ : st)
      for (const std::string& text : mail)
        benchmark::DoNotOptimize(words->Search(text.data(), static_cast<DWORD>(text.size()), nullptr));
    counters(st);
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("permsg/re2/multiwords20", [=, &mail](benchmark::State& st) {
    for (auto _ : st)
      for (const std::string& text : mail) benchmark::DoNotOptimize(Re2Match(*alt, text));
    counters(st);
  })->Unit(benchmark::kMillisecond);
}

void RegisterAll() {
  Gate();
  for (size_t i = 0; i < sizeof kRegexes / sizeof kRegexes[0]; ++i) {
    const tag_REGEX& r = kRegexes[i];
    auto ours = std::make_shared<CRegExpr>();
    ours->Compile(r.pattern, 1, 0);
    auto re2 = std::make_shared<RE2>(r.pattern);
    auto pcre = std::make_shared<tag_PCRE>(r.pattern);
    for (const tag_TEXT& t : Texts()) {
      auto text = std::make_shared<std::string>(WithHit(t.data, kHits[i]));
      std::string suffix = std::string(r.name) + "/" + t.name;
      auto bytes = [text](benchmark::State& st) { st.SetBytesProcessed(st.iterations() * text->size()); };
      benchmark::RegisterBenchmark(("regex/ours/" + suffix).c_str(), [=](benchmark::State& st) {
        for (auto _ : st) benchmark::DoNotOptimize(ours->Search(text->data(), static_cast<DWORD>(text->size()), nullptr));
        bytes(st);
      });
      benchmark::RegisterBenchmark(("regex/re2/" + suffix).c_str(), [=](benchmark::State& st) {
        for (auto _ : st) benchmark::DoNotOptimize(Re2Match(*re2, *text));
        bytes(st);
      });
      benchmark::RegisterBenchmark(("regex/pcre2jit/" + suffix).c_str(), [=](benchmark::State& st) {
        for (auto _ : st) benchmark::DoNotOptimize(pcre->Match(*text));
        bytes(st);
      });
    }
    benchmark::RegisterBenchmark((std::string("compile/ours/") + r.name).c_str(), [=](benchmark::State& st) {
      CRegExpr re;
      for (auto _ : st) benchmark::DoNotOptimize(re.Compile(r.pattern, 1, 0));
      st.counters["states"] = re.GetTable()->GetStateCount();
      st.counters["table_bytes"] = 15 + 7.0 * re.GetTable()->GetStateCount() + 4.0 * re.GetTable()->GetEntryCount();
      st.counters["bytes_held"] = static_cast<double>(re.GetBytesHeld());
      st.counters["heap_bytes"] = RegExprHeld(r.pattern, true);
    });
    benchmark::RegisterBenchmark((std::string("compile/re2/") + r.name).c_str(), [=](benchmark::State& st) {
      for (auto _ : st) {
        RE2 re(r.pattern);
        benchmark::DoNotOptimize(re.ok());
        st.counters["program_size"] = re.ProgramSize();
      }
      st.counters["heap_bytes"] = Re2Held(r.pattern, RE2::Options());
    });
    benchmark::RegisterBenchmark((std::string("compile/pcre2jit/") + r.name).c_str(), [=](benchmark::State& st) {
      for (auto _ : st) {
        tag_PCRE re(r.pattern);
        benchmark::DoNotOptimize(re.code);
      }
    });
  }

  // Substring search: a MIME boundary delimiter at the very end.
  const std::string needle = "--=_NextPart_000_0012_01D2C3E4.5F6A7B80";
  auto substr = std::make_shared<CSeekSubstr>();
  substr->Compile(needle.c_str(), 1, 0);
  auto bmh = std::make_shared<std::boyer_moore_horspool_searcher<std::string::const_iterator>>(needle.begin(),
                                                                                                needle.end());
  for (const tag_TEXT& t : Texts()) {
    auto text = std::make_shared<std::string>(WithHit(t.data, needle));
    const DWORD want = static_cast<DWORD>(text->size() - needle.size());
    if (substr->Search(text->data(), static_cast<DWORD>(text->size()), nullptr) != want) abort();
    auto bytes = [text](benchmark::State& st) { st.SetBytesProcessed(st.iterations() * text->size()); };
    benchmark::RegisterBenchmark(("substr/ours/" + t.name).c_str(), [=](benchmark::State& st) {
      for (auto _ : st) benchmark::DoNotOptimize(substr->Search(text->data(), static_cast<DWORD>(text->size()), nullptr));
      bytes(st);
    });
    benchmark::RegisterBenchmark(("substr/memmem/" + t.name).c_str(), [=](benchmark::State& st) {
      for (auto _ : st) benchmark::DoNotOptimize(memmem(text->data(), text->size(), needle.data(), needle.size()));
      bytes(st);
    });
    benchmark::RegisterBenchmark(("substr/bmh/" + t.name).c_str(), [=](benchmark::State& st) {
      for (auto _ : st) benchmark::DoNotOptimize(std::search(text->cbegin(), text->cend(), *bmh));
      bytes(st);
    });
  }

  // Word lists: the message-end list, one hit at the very end.
  auto words = std::make_shared<CSeekMultiWords>();
  words->Compile(kWords, 1);
  auto alt = std::make_shared<RE2>(Re2Alternation());
  for (const tag_TEXT& t : Texts()) {
    auto text = std::make_shared<std::string>(WithHit(BodyOnly(t.data), "Return-Path"));
    const DWORD want = static_cast<DWORD>(text->size() - 11);
    if (words->Search(text->data(), static_cast<DWORD>(text->size()), nullptr) != want ||
        MemmemWords(*text) != want || !Re2Match(*alt, *text))
      abort();
    auto bytes = [text](benchmark::State& st) { st.SetBytesProcessed(st.iterations() * text->size()); };
    benchmark::RegisterBenchmark(("words/ours/" + t.name).c_str(), [=](benchmark::State& st) {
      for (auto _ : st) benchmark::DoNotOptimize(words->Search(text->data(), static_cast<DWORD>(text->size()), nullptr));
      bytes(st);
    });
    benchmark::RegisterBenchmark(("words/memmem/" + t.name).c_str(), [=](benchmark::State& st) {
      for (auto _ : st) benchmark::DoNotOptimize(MemmemWords(*text));
      bytes(st);
    });
    benchmark::RegisterBenchmark(("words/re2/" + t.name).c_str(), [=](benchmark::State& st) {
      for (auto _ : st) benchmark::DoNotOptimize(Re2Match(*alt, *text));
      bytes(st);
    });
  }
  benchmark::RegisterBenchmark("compile/ours/words", [](benchmark::State& st) {
    CSeekMultiWords m;
    for (auto _ : st) benchmark::DoNotOptimize(m.Compile(kWords, 1));
    st.counters["states"] = m.GetTable()->GetStateCount();
    st.counters["table_bytes"] = 15 + 7.0 * m.GetTable()->GetStateCount() + 4.0 * m.GetTable()->GetEntryCount();
    st.counters["bytes_held"] = static_cast<double>(m.GetBytesHeld());
    st.counters["heap_bytes"] = HeapHeld([] {
      auto words = std::make_unique<CSeekMultiWords>();
      words->Compile(kWords, 1);
      return words;
    });
  });
  benchmark::RegisterBenchmark("compile/re2/words", [](benchmark::State& st) {
    const std::string p = Re2Alternation();
    for (auto _ : st) {
      RE2 re(p);
      benchmark::DoNotOptimize(re.ok());
    }
    st.counters["heap_bytes"] = Re2Held(p, RE2::Options());
  });
  RegisterCompiles();
  RegisterPerMessage();
}
}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RegisterAll();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
