// The parser of the regular-expression compiler and its position sets.
//
// Tokens are shifted onto a stack; a finished subtree is a TOK_TREE token.
// Concatenation happens when an operator needs it ('|', '(' and at the
// end), alternation when a group closes or the pattern ends, quantifiers
// apply at once to the subtree on top. Bounded repetitions are expanded
// into clones, so that each leaf owns exactly one position:
//   X{2,4}  ->  X X (X|()) (X|())        X{2,}  ->  X X X*
//
// Positions are numbered by a left-to-right post-order walk, so the
// positions of a left subtree are all below those of the right one and the
// set unions of concatenation and alternation are plain merges.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "foundation/errorroad.h"
#include "search/fa.h"

namespace telsor {

CFA::CFA()
    : m_pPattern(),
      m_pRead(nullptr),
      m_nRoot(NO_NODE),
      m_bUnanchored(1),
      m_bFoldCase(false),
      m_nRootFirst(0),
      m_nSetEntries(0),
      m_limits{SIZE_MAX, SIZE_MAX, MAX_SET_ENTRIES, SIZE_MAX, SIZE_MAX},
      m_used{0, 0, 0, 0, 0} {}

CFA::~CFA() {}

void CFA::Clear() {
  m_pPattern.reset();
  m_pRead = nullptr;
  std::vector<tag_TREE_NODE>().swap(m_nodes);
  std::vector<DWORD>().swap(m_positions);
  std::vector<DWORD>().swap(m_pool);
  std::vector<DWORD>().swap(m_setStart);
  std::vector<DWORD>().swap(m_followIds);
  std::vector<DWORD>().swap(m_followStart);
  m_nRoot = NO_NODE;
  m_nRootFirst = 0;
  m_nSetEntries = 0;
}

bool CFA::MatchCharNode(const tag_TREE_NODE& node, BYTE c) {
  switch (node.kind) {
    case NODE_CHAR: return node.ch == c;
    case NODE_ANY: return c != 0x0A;
    default: return node.set.GetBitAt(c) != 0;
  }
}

DWORD CFA::CreateNewNode(NODE_TYPE kind, BYTE ch, DWORD left, DWORD right) {
  if (m_nodes.size() >= MAX_NODES) throw new CFAException(static_cast<DWORD>(E_SEEK_TOO_MANY_NODES), nullptr);
  m_nodes.emplace_back();
  tag_TREE_NODE& node = m_nodes.back();
  node.kind = kind;
  node.ch = ch;
  node.left = left;
  node.right = right;
  return static_cast<DWORD>(m_nodes.size() - 1);
}

DWORD CFA::CreateNewNode(const tag_TREE_NODE& node) {
  if (m_nodes.size() >= MAX_NODES) throw new CFAException(static_cast<DWORD>(E_SEEK_TOO_MANY_NODES), nullptr);
  m_nodes.push_back(node);
  m_nodes.back().nullable = 0;
  return static_cast<DWORD>(m_nodes.size() - 1);
}

DWORD CFA::CloneNode(DWORD index) {
  // Post-order without recursion: children are cloned before their parent
  // (left first), and a parent takes its children's copies off the stack.
  std::vector<std::pair<DWORD, bool>> work;  // node, children done
  std::vector<DWORD> made;
  work.emplace_back(index, false);
  while (!work.empty()) {
    auto [n, done] = work.back();
    work.pop_back();
    const DWORD l = m_nodes[n].left;
    const DWORD r = m_nodes[n].right;
    if (!done) {
      work.emplace_back(n, true);
      if (r != NO_NODE) work.emplace_back(r, false);
      if (l != NO_NODE) work.emplace_back(l, false);
      continue;
    }
    tag_TREE_NODE copy = m_nodes[n];
    if (r != NO_NODE) {
      copy.right = made.back();
      made.pop_back();
    }
    if (l != NO_NODE) {
      copy.left = made.back();
      made.pop_back();
    }
    made.push_back(CreateNewNode(copy));
  }
  return made.back();
}

DWORD CFA::BuildTreeFromArray(const std::vector<tag_TOKEN_REGEXPR>& tokens, size_t first,
                              size_t last, NODE_TYPE kind) {
  if (first == last) return tokens[first].ch;
  const BYTE ch = kind == NODE_OR ? '|' : '.';
  if (last == first + 1) return CreateNewNode(kind, ch, tokens[first].ch, tokens[last].ch);
  const size_t mid = first + (last - first) / 2;
  const DWORD left = BuildTreeFromArray(tokens, first, mid, kind);
  const DWORD right = BuildTreeFromArray(tokens, mid + 1, last, kind);
  return CreateNewNode(kind, ch, left, right);
}

namespace {
tag_TOKEN_REGEXPR TreeToken(DWORD node) {
  tag_TOKEN_REGEXPR t;
  t.kind = TOK_TREE;
  t.ch = node;
  return t;
}

// Pushes a finished subtree, made in place on the stack.
void PushTree(std::vector<tag_TOKEN_REGEXPR>& stack, DWORD node) {
  stack.emplace_back();
  stack.back().kind = TOK_TREE;
  stack.back().ch = node;
}
}  // namespace

void CFA::ShiftToken(std::vector<tag_TOKEN_REGEXPR>& stack, const tag_TOKEN_REGEXPR& token) {
  switch (token.kind) {
    case TOK_CHAR:
      PushTree(stack, CreateNewNode(NODE_CHAR, static_cast<BYTE>(token.ch), NO_NODE, NO_NODE));
      break;
    case TOK_ANY:
      PushTree(stack, CreateNewNode(NODE_ANY, '.', NO_NODE, NO_NODE));
      break;
    case TOK_SET: {
      tag_TREE_NODE node;
      node.kind = NODE_SET;
      node.set = token.set;
      PushTree(stack, CreateNewNode(node));
      break;
    }
    case TOK_STRING:
      for (int i = 0; i < token.text.GetLength(); ++i)
        PushTree(stack, CreateNewNode(NODE_CHAR, static_cast<BYTE>(token.text[i]), NO_NODE, NO_NODE));
      break;
    case TOK_OR:
      CatNodes(stack);
      if (stack.empty() || stack.back().kind != TOK_TREE)
        ThrowSyntax("Unexpected character '|' at position %d", static_cast<int>(GetPos()));
      stack.push_back(token);
      break;
    case TOK_OPEN:
      CatNodes(stack);
      stack.push_back(token);
      break;
    default:
      break;
  }
}

void CFA::CatNodes(std::vector<tag_TOKEN_REGEXPR>& stack) {
  size_t from = stack.size();
  while (from > 0 && stack[from - 1].kind == TOK_TREE) --from;
  if (stack.size() - from < 2) return;
  const DWORD joined = BuildTreeFromArray(stack, from, stack.size() - 1, NODE_CAT);
  stack.resize(from);
  PushTree(stack, joined);
}

void CFA::ReduceStack(std::vector<tag_TOKEN_REGEXPR>& stack, DWORD position) {
  CatNodes(stack);
  if (stack.empty()) return;
  if (stack.back().kind == TOK_OR)
    ThrowSyntax("Unexpected character '|' at position %d", static_cast<int>(position));
  if (stack.back().kind != TOK_TREE) return;
  std::vector<tag_TOKEN_REGEXPR> alternatives;
  alternatives.push_back(stack.back());
  stack.pop_back();
  // Below every '|' stands one subtree: ShiftToken made sure of it.
  while (stack.size() >= 2 && stack.back().kind == TOK_OR) {
    stack.pop_back();
    alternatives.push_back(stack.back());
    stack.pop_back();
  }
  std::reverse(alternatives.begin(), alternatives.end());
  PushTree(stack, BuildTreeFromArray(alternatives, 0, alternatives.size() - 1, NODE_OR));
}

void CFA::ReduceParentesis(std::vector<tag_TOKEN_REGEXPR>& stack, DWORD position) {
  ReduceStack(stack, position);
  if (!stack.empty() && stack.back().kind == TOK_OPEN) {
    // "()" is the empty string.
    stack.back() = TreeToken(CreateNewNode(NODE_EMPTY, 0, NO_NODE, NO_NODE));
    return;
  }
  if (stack.size() < 2 || stack.back().kind != TOK_TREE || stack[stack.size() - 2].kind != TOK_OPEN)
    ThrowSyntax("Unexpected ')' at position %d", static_cast<int>(position));
  stack.erase(stack.end() - 2);
}

void CFA::ProcessQuantifier(std::vector<tag_TOKEN_REGEXPR>& stack, const tag_TOKEN_REGEXPR& token,
                            DWORD lower, DWORD upper) {
  if (stack.empty() || stack.back().kind != TOK_TREE) {
    if (token.kind == TOK_STAR) ThrowSyntax("Unexpected '*' at position %d", static_cast<int>(GetPos()));
    const char shown = token.kind == TOK_PLUS ? '+' : token.kind == TOK_OPT ? '?' : '{';
    ThrowSyntax("Unexpected quantifier '%c' at position %d", shown, static_cast<int>(GetPos()));
  }
  const DWORD x = stack.back().ch;
  DWORD result = NO_NODE;
  if (token.kind == TOK_STAR) {
    result = CreateNewNode(NODE_STAR, '*', x, NO_NODE);
  } else if (token.kind == TOK_PLUS) {
    result = CreateNewNode(NODE_PLUS, '+', x, NO_NODE);
  } else if (token.kind == TOK_OPT) {
    result = CreateNewNode(NODE_OPT, '?', x, NO_NODE);
  } else {
    bool used = false;  // the given subtree serves as the first copy
    auto copy = [&]() {
      if (used) return CloneNode(x);
      used = true;
      return x;
    };
    auto append = [&](DWORD piece) {
      result = result == NO_NODE ? piece : CreateNewNode(NODE_CAT, '.', result, piece);
    };
    for (DWORD i = 0; i < lower; ++i) append(copy());
    if (upper == REPEAT_UNBOUNDED) {
      append(CreateNewNode(NODE_STAR, '*', copy(), NO_NODE));
    } else {
      for (DWORD i = lower; i < upper; ++i) {
        const DWORD piece = copy();
        append(CreateNewNode(NODE_OR, '|', piece, CreateNewNode(NODE_EMPTY, 0, NO_NODE, NO_NODE)));
      }
    }
    if (result == NO_NODE) result = CreateNewNode(NODE_EMPTY, 0, NO_NODE, NO_NODE);
  }
  stack.back().ch = result;
}

void CFA::BuildSyntaxTree(const char* pattern) {
  // The standard containers' bad_alloc leaves as the engine's memory exception.
  WithMemoryException([&] {
    Clear();
    if (pattern != nullptr) {
      const size_t n = strlen(pattern) + 1;
      m_pPattern.reset(new (std::nothrow) char[n]);
      if (m_pPattern == nullptr) AfxThrowMemoryException();
      memcpy(m_pPattern.get(), pattern, n);
      m_pRead = m_pPattern.get();
    }
    m_bUnanchored = 1;
    std::vector<tag_TOKEN_REGEXPR> stack;
    stack.reserve(64);
    m_nodes.reserve(std::min<size_t>(m_pPattern ? 2 * strlen(m_pPattern.get()) + 8 : 8, MAX_NODES));
    for (;;) {
      tag_TOKEN_REGEXPR token = GetLexToken();
      if (token.kind == TOK_END) break;
      switch (token.kind) {
        case TOK_BOL: m_bUnanchored = 0; break;
        case TOK_EOL: break;  // applied while matching
        case TOK_CLOSE: ReduceParentesis(stack, GetPos()); break;
        case TOK_OPT: ProcessQuantifier(stack, token, 0, 1); break;
        case TOK_STAR: ProcessQuantifier(stack, token, 0, REPEAT_UNBOUNDED); break;
        case TOK_PLUS: ProcessQuantifier(stack, token, 1, REPEAT_UNBOUNDED); break;
        case TOK_REPEAT: ProcessQuantifier(stack, token, token.ch, token.maximum); break;
        default: ShiftToken(stack, token); break;
      }
    }
    ReduceStack(stack, GetPos());
    for (const tag_TOKEN_REGEXPR& t : stack)
      if (t.kind == TOK_OPEN) ThrowSyntax("Unclosed '(' at position %d", static_cast<int>(GetPos()));
    const DWORD tree = stack.empty() ? CreateNewNode(NODE_EMPTY, 0, NO_NODE, NO_NODE) : stack.back().ch;
    const DWORD end = CreateNewNode(NODE_END, 0, NO_NODE, NO_NODE);
    m_nRoot = CreateNewNode(NODE_CAT, '.', tree, end);
    CalculatePositions(m_nRoot);
  });
}

// ---- position sets ----

void CFA::CountEntries(size_t more) {
  m_nSetEntries += more;
  if (m_nSetEntries > m_used.treeEntries) m_used.treeEntries = m_nSetEntries;
  if (m_nSetEntries > m_limits.treeEntries)
    throw new CFAException(static_cast<DWORD>(E_SEEK_TOO_MANY_NODES), nullptr);
}

DWORD CFA::AddPosition(DWORD position) {
  CountEntries(1);
  m_pool.push_back(position);
  m_setStart.push_back(static_cast<DWORD>(m_pool.size()));
  return static_cast<DWORD>(m_setStart.size() - 2);
}

DWORD CFA::UnionSets(DWORD a, DWORD b) {
  const size_t sa = m_setStart[a + 1] - m_setStart[a];
  const size_t sb = m_setStart[b + 1] - m_setStart[b];
  if (sa == 0) return b;
  if (sb == 0) return a;
  CountEntries(sa + sb);
  const size_t at = m_pool.size();
  m_pool.resize(at + sa + sb);
  const DWORD* pa = m_pool.data() + m_setStart[a];
  const DWORD* pb = m_pool.data() + m_setStart[b];
  DWORD* out = std::set_union(pa, pa + sa, pb, pb + sb, m_pool.data() + at);
  m_pool.resize(static_cast<size_t>(out - m_pool.data()));
  m_setStart.push_back(static_cast<DWORD>(m_pool.size()));
  return static_cast<DWORD>(m_setStart.size() - 2);
}

void CFA::CalculatePositions(DWORD root) {
  m_positions.clear();
  m_positions.reserve(m_nodes.size());
  m_pool.clear();
  m_setStart.clear();
  m_followIds.clear();
  m_followStart.clear();
  m_nSetEntries = 0;
  m_pool.reserve(2 * m_nodes.size() + 16);
  m_setStart.reserve(2 * m_nodes.size() + 2);
  m_setStart.push_back(0);
  m_setStart.push_back(0);  // set 0: the empty set
  std::vector<DWORD> first(m_nodes.size(), 0);
  std::vector<DWORD> last(m_nodes.size(), 0);
  // followpos pairs (position, set id) in the order they come; gathered
  // into one run per position at the end.
  std::vector<std::pair<DWORD, DWORD>> pairs;
  pairs.reserve(m_nodes.size());
  auto follow = [&](DWORD lastSet, DWORD firstSet) {
    if (m_setStart[firstSet] == m_setStart[firstSet + 1]) return;
    CountEntries(m_setStart[lastSet + 1] - m_setStart[lastSet]);
    for (DWORD i = m_setStart[lastSet]; i < m_setStart[lastSet + 1]; ++i) pairs.emplace_back(m_pool[i], firstSet);
  };

  // The walk's stack: every node goes on it twice at most, once to be
  // opened and once to be done (the low bit).
  std::vector<DWORD> work(2 * m_nodes.size() + 2);
  size_t top = 0;
  work[top++] = root << 1;
  while (top > 0) {
    const DWORD n = work[--top] >> 1;
    const bool done = work[top] & 1;
    tag_TREE_NODE& node = m_nodes[n];
    if (!done) {
      work[top++] = n << 1 | 1;
      if (node.right != NO_NODE) work[top++] = node.right << 1;
      if (node.left != NO_NODE) work[top++] = node.left << 1;
      continue;
    }
    const DWORD l = node.left;
    const DWORD r = node.right;
    switch (node.kind) {
      case NODE_EMPTY:
        node.nullable = 1;
        break;
      case NODE_CHAR:
      case NODE_ANY:
      case NODE_SET:
      case NODE_END: {
        const DWORD p = static_cast<DWORD>(m_positions.size());
        m_positions.push_back(n);
        node.nullable = 0;
        first[n] = last[n] = AddPosition(p);
        break;
      }
      case NODE_CAT:
        node.nullable = m_nodes[l].nullable && m_nodes[r].nullable;
        first[n] = m_nodes[l].nullable ? UnionSets(first[l], first[r]) : first[l];
        last[n] = m_nodes[r].nullable ? UnionSets(last[l], last[r]) : last[r];
        follow(last[l], first[r]);
        break;
      case NODE_OR:
        node.nullable = m_nodes[l].nullable || m_nodes[r].nullable;
        first[n] = UnionSets(first[l], first[r]);
        last[n] = UnionSets(last[l], last[r]);
        break;
      case NODE_STAR:
      case NODE_OPT:
      case NODE_PLUS:
        node.nullable = node.kind == NODE_PLUS ? m_nodes[l].nullable : 1;
        first[n] = first[l];
        last[n] = last[l];
        if (node.kind != NODE_OPT) follow(last[n], first[n]);
        break;
    }
  }
  m_nRootFirst = first[root];
  // Counting sort of the pairs by position, keeping their order.
  const size_t positions = m_positions.size();
  m_followStart.assign(positions + 1, 0);
  for (const auto& e : pairs) ++m_followStart[e.first + 1];
  for (size_t p = 0; p < positions; ++p) m_followStart[p + 1] += m_followStart[p];
  m_followIds.resize(pairs.size());
  std::vector<DWORD> at(m_followStart.begin(), m_followStart.end() - 1);
  for (const auto& e : pairs) m_followIds[at[e.first]++] = e.second;
}

}  // namespace telsor
