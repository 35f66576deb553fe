// Differential test of the regular-expression matcher: random patterns
// from a small grammar against a backtracking matcher written here.
#include <gtest/gtest.h>

#include <bitset>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "search/regexpr.h"
#include "common/teststream.h"

using namespace telsor;

namespace {
#ifdef __SANITIZE_ADDRESS__
const int kRounds = 80;  // the oracle is slow under the sanitizers
#else
const int kRounds = 600;
#endif

// Oracle tree: a byte test, a sequence, alternatives or a repetition.
struct tag_ONODE {
  enum Kind { LEAF, SEQ, ALT, REP } kind = LEAF;
  std::bitset<256> members;
  bool negated = false;
  std::vector<std::shared_ptr<tag_ONODE>> kids;
  int lo = 0, hi = -1;  // REP: hi -1 = unbounded
};
typedef std::shared_ptr<tag_ONODE> Node;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool LeafMatches(const tag_ONODE& n, char c, bool fold) {
  auto in = [&](char x) { return n.members.test(static_cast<unsigned char>(x)); };
  bool hit = in(c) || (fold && (in(Lower(c)) || in(Upper(c))));
  return n.negated ? !hit : hit;
}

// Every end position reachable by matching n from position i.
std::vector<bool> Ends(const tag_ONODE& n, const std::string& t, size_t i, bool fold) {
  std::vector<bool> out(t.size() + 1, false);
  switch (n.kind) {
    case tag_ONODE::LEAF:
      if (i < t.size() && LeafMatches(n, t[i], fold)) out[i + 1] = true;
      break;
    case tag_ONODE::SEQ: {
      std::vector<bool> cur(t.size() + 1, false);
      cur[i] = true;
      for (const Node& k : n.kids) {
        std::vector<bool> next(t.size() + 1, false);
        for (size_t p = 0; p <= t.size(); ++p) {
          if (!cur[p]) continue;
          std::vector<bool> e = Ends(*k, t, p, fold);
          for (size_t q = 0; q <= t.size(); ++q) next[q] = next[q] || e[q];
        }
        cur = next;
      }
      out = cur;
      break;
    }
    case tag_ONODE::ALT:
      for (const Node& k : n.kids) {
        std::vector<bool> e = Ends(*k, t, i, fold);
        for (size_t q = 0; q <= t.size(); ++q) out[q] = out[q] || e[q];
      }
      break;
    case tag_ONODE::REP: {
      std::vector<bool> cur(t.size() + 1, false);
      cur[i] = true;
      const int limit = n.hi < 0 ? n.lo + static_cast<int>(t.size()) + 1 : n.hi;
      for (int count = 0;; ++count) {
        if (count >= n.lo)
          for (size_t q = 0; q <= t.size(); ++q) out[q] = out[q] || cur[q];
        if (count == limit) break;
        std::vector<bool> next(t.size() + 1, false);
        bool any = false;
        for (size_t p = 0; p <= t.size(); ++p) {
          if (!cur[p]) continue;
          std::vector<bool> e = Ends(*n.kids[0], t, p, fold);
          for (size_t q = 0; q <= t.size(); ++q)
            if (e[q]) next[q] = any = true;
        }
        if (!any) break;
        cur = next;
      }
      break;
    }
  }
  return out;
}

struct tag_GEN {
  std::mt19937 rng;
  explicit tag_GEN(unsigned seed) : rng(seed) {}
  int Pick(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }

  Node Leaf(std::string& text) {
    Node n = std::make_shared<tag_ONODE>();
    switch (Pick(6)) {
      case 0:
        text += "[ab]";
        n->members.set('a');
        n->members.set('b');
        break;
      case 1:
        text += "[^a]";
        n->members.set('a');
        n->negated = true;
        break;
      case 2:
        text += ".";
        n->members.set('\n');
        n->negated = true;
        break;
      default: {
        const char c = "abcA"[Pick(4)];
        text += c;
        n->members.set(static_cast<unsigned char>(c));
        break;
      }
    }
    return n;
  }

  Node Atom(std::string& text, int depth) {
    Node n;
    if (depth > 0 && Pick(4) == 0) {
      text += "(";
      n = Expr(text, depth - 1);
      text += ")";
    } else {
      n = Leaf(text);
    }
    int q = Pick(9);
    if (q < 4) return n;
    Node r = std::make_shared<tag_ONODE>();
    r->kind = tag_ONODE::REP;
    r->kids.push_back(n);
    switch (q) {
      case 4: text += "*"; r->lo = 0; r->hi = -1; break;
      case 5: text += "+"; r->lo = 1; r->hi = -1; break;
      case 6: text += "?"; r->lo = 0; r->hi = 1; break;
      case 7: r->lo = Pick(3); r->hi = r->lo + Pick(3);
        text += "{" + std::to_string(r->lo) + "," + std::to_string(r->hi) + "}"; break;
      default: r->lo = Pick(3); r->hi = -1; text += "{" + std::to_string(r->lo) + ",}"; break;
    }
    return r;
  }

  Node Seq(std::string& text, int depth) {
    Node s = std::make_shared<tag_ONODE>();
    s->kind = tag_ONODE::SEQ;
    int n = 1 + Pick(3);
    for (int i = 0; i < n; ++i) s->kids.push_back(Atom(text, depth));
    return s;
  }

  Node Expr(std::string& text, int depth) {
    Node a = std::make_shared<tag_ONODE>();
    a->kind = tag_ONODE::ALT;
    a->kids.push_back(Seq(text, depth));
    while (Pick(4) == 0) {
      text += "|";
      a->kids.push_back(Seq(text, depth));
    }
    return a;
  }
};
}  // namespace

TEST(RegExprOracleTest, RandomPatternsAgreeWithBacktracking) {
  tag_GEN gen(20240607);
  int checked = 0;
  for (int round = 0; round < kRounds; ++round) {
    std::string pattern;
    const bool bol = gen.Pick(4) == 0;
    const bool eol = gen.Pick(4) == 0;
    const bool fold = gen.Pick(3) == 0;
    if (bol) pattern += "^";
    Node tree = gen.Expr(pattern, 2);
    if (eol) pattern += "$";
    CRegExpr re;
    ASSERT_EQ(0, re.Compile(pattern.c_str(), fold ? 0 : 1, 0)) << pattern;
    for (int k = 0; k < 12; ++k) {
      std::string text;
      const int len = 1 + gen.Pick(14);
      for (int i = 0; i < len; ++i) text += "abcAB\nx"[gen.Pick(7)];
      // Does a match exist? With ^ the automaton reports only non-empty
      // matches from the start; unanchored, every byte also restarts it.
      bool exists = false;
      size_t firstEnd = text.size() + 1;
      for (size_t s = 0; s <= (bol ? 0 : text.size()); ++s) {
        std::vector<bool> ends = Ends(*tree, text, s, fold);
        for (size_t e = 0; e <= text.size(); ++e) {
          if (!ends[e]) continue;
          if (bol && e == 0) continue;
          if (eol && e != text.size()) continue;
          exists = true;
          size_t end = e == 0 ? 1 : e;  // an empty match shows after a byte
          if (end < firstEnd) firstEnd = end;
        }
      }
      DWORD len2 = 0;
      DWORD at = re.Search(text.data(), static_cast<DWORD>(text.size()), &len2);
      EXPECT_EQ(exists, at != SEEK_NOT_FOUND) << pattern << " on [" << text << "]";
      if (exists && !bol && !eol && at != SEEK_NOT_FOUND) {
        EXPECT_EQ(firstEnd, static_cast<size_t>(at) + len2) << pattern << " on [" << text << "]";
      }
      CTestStream stream(text);
      DWORD streamLen = 0;
      EXPECT_EQ(at, re.Search(&stream, static_cast<DWORD>(text.size()), &streamLen)) << pattern;
      EXPECT_EQ(len2, streamLen);
      ++checked;
    }
  }
  EXPECT_EQ(kRounds * 12, checked);
}
