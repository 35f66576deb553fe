// CFA: the front half of the regular-expression compiler: lexer, parser
// and position sets. CDFA (dfa.h) derives from it and turns the sets into an
// automaton; CRegExpr (regexpr.h) is the matcher that users see.
//
//   CDFA dfa;                                   // CFA is used through CDFA
//   try {
//     dfa.BuildFromRegExpr("^a[0-9]+(x|yz)*$");
//   } catch (CFAException* e) {
//     HRESULT code = e->GetResultCode();        // E_SEEK_SYNTAX ...
//     TSTRING text = e->GetMessage();           // "Unexpected EOS"
//     e->Delete();
//   }
//
// Syntax (bytes, no Unicode):
//   c          a literal byte; ^ only as the very first byte is an anchor,
//              $ only as the very last; elsewhere both are literals
//   "text"     a literal string; backslash escapes inside
//   .          any byte but newline
//   [set]      bytes, ranges a-z, [^...] negation, [:class:] (alnum alpha
//              blank cntrl digit graph lower print punct space upper
//              xdigit; names in any case), [=e=] Latin-1 equivalence
//              groups; ] or - first is a member; [. is refused
//   \d \s \w   digit, space, word byte (alnum and _); \D \S \W complements
//   \n \t \x41 \101 ...  escapes as CSeekPattern::DecodeESC decodes them
//   ? * + {m} {m,} {m,n} {,n}   quantifiers, counts clamped to
//              [0, 0x7FFFFFFF]; {m,n} with n < m means {m}
//   |  ( )     alternation (loosest), grouping; () is the empty string
//
// Construction (the classic direct construction): the tokens are parsed
// with an explicit stack into a syntax tree held in one node array; bounded
// repetitions are expanded into copies, so every leaf owns one position.
// The tree is CAT(pattern, END). For every node nullable, firstpos and
// lastpos are computed, and for every position its followpos: the positions
// that may follow it. A DFA state is a set of positions (see dfa.h).
//
// Position sets are sorted runs of one pool array, numbered in the order
// they are made; followpos(p) is a list of pool sets rather than a merged
// copy, since most followpos sets are the same few firstpos sets shared by
// many positions. The lists too lie in one array, a run per position. The tree is walked
// without recursion, so deeply nested or long patterns cannot exhaust the
// stack.
//
// Limits: at most 131071 nodes (E_SEEK_TOO_MANY_NODES, empty message); the position
// sets of one pattern may hold at most 2^23 entries in all (E_SEEK_TOO_MANY_NODES
// too, for patterns such as x{0,20000} whose sets grow quadratically).
//
// Errors are thrown as CFAException* (released with Delete()) or the
// engine's CMemoryException*. After an error the compiler must be Clear()ed
// (BuildSyntaxTree does so itself). A CFA is used by one thread.
#ifndef TELSOR_SEARCH_FA_H
#define TELSOR_SEARCH_FA_H

#include <memory>
#include <vector>

#include "foundation/exception.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "search/regexbudget.h"
#include "search/searchresults.h"
#include "search/setbits.h"

namespace telsor {

// A syntax error (code E_SEEK_SYNTAX and its message), too many nodes
// (E_SEEK_TOO_MANY_NODES), too many states (E_SEEK_TOO_MANY_STATES) or a missing pattern
// (E_POINTER); the last three carry no message. Heap object, thrown by
// pointer, released with Delete().
class CFAException : public CException {
 public:
  // message may be null (empty message).
  CFAException(DWORD code, const char* message);
  ~CFAException() override;
  // The message; returns 0 (and an empty buffer) when there is none.
  BOOL GetErrorMessage(char* buffer, UINT size, UINT* helpContext) override;
  DWORD GetCode() const { return m_dwCode; }
  HRESULT GetResultCode() const override { return static_cast<HRESULT>(m_dwCode); }
  const TSTRING& GetMessage() const { return m_strMessage; }

 private:
  DWORD m_dwCode;
  TSTRING m_strMessage;
};

// Token kinds.
enum : DWORD {
  TOK_END = 0,
  TOK_CHAR = 1,
  TOK_STRING = 3,
  TOK_BOL = 4,
  TOK_EOL = 5,
  TOK_OPT = 6,
  TOK_STAR = 7,
  TOK_PLUS = 8,
  TOK_REPEAT = 9,
  TOK_OR = 10,
  TOK_OPEN = 11,
  TOK_CLOSE = 12,
  TOK_ANY = 14,
  TOK_SET = 15,
  TOK_TREE = 16,  // parser stack only: a finished subtree (ch = node index)
};

const DWORD REPEAT_UNBOUNDED = 0xFFFFFFFFu;

struct tag_TOKEN_REGEXPR {
  DWORD kind = TOK_END;
  DWORD position = 0;  // GetPos() before the token's first byte
  DWORD ch = 0;        // TOK_CHAR: the byte; TOK_REPEAT: lower bound; TOK_TREE: node
  DWORD maximum = 0;   // TOK_REPEAT: upper bound or REPEAT_UNBOUNDED
  CSetBits set;        // TOK_SET: member bytes
  TSTRING text;        // TOK_STRING: the bytes
};

enum NODE_TYPE : DWORD {
  NODE_EMPTY = 0,
  NODE_CHAR = 1,
  NODE_CAT = 2,
  NODE_OR = 3,
  NODE_STAR = 4,
  NODE_PLUS = 5,
  NODE_OPT = 6,
  NODE_ANY = 7,  // any byte but newline
  NODE_SET = 8,
  NODE_END = 9,
};

const DWORD NO_NODE = 0xFFFFFFFFu;

// A run of DWORDs in one of the compiler's pools (positions or set ids),
// valid until the pool changes.
struct tag_DWORD_RUN {
  const DWORD* first = nullptr;
  const DWORD* last = nullptr;
  const DWORD* begin() const { return first; }
  const DWORD* end() const { return last; }
  size_t size() const { return static_cast<size_t>(last - first); }
  bool empty() const { return first == last; }
};

struct tag_TREE_NODE {
  NODE_TYPE kind = NODE_EMPTY;
  BYTE ch = 0;            // NODE_CHAR: the byte; inner nodes: '|', '.', '*' ...
  BYTE nullable = 0;
  DWORD left = NO_NODE;
  DWORD right = NO_NODE;
  CSetBits set;           // NODE_SET: member bytes
};

class CFA {
 public:
  static const DWORD MAX_NODES = 0x1FFFF;           // 131071
  static const size_t MAX_SET_ENTRIES = 1u << 23;  // all position sets together

  CFA();
  virtual ~CFA();
  CFA(const CFA&) = delete;
  CFA& operator=(const CFA&) = delete;

  // Frees the pattern, the tree and the sets; the unanchored flag stays.
  virtual void Clear();

  // Case folding after lexing: literals are lower-cased and every set gains
  // the lower-case forms of its upper-case members (ASCII). Escapes and
  // classes keep their meaning. Off at construction; Clear keeps it.
  void SetFoldCase(BOOL fold) { m_bFoldCase = fold != 0; }

  // Clears, copies the NUL-terminated pattern, parses it into
  // CAT(tree, END) and computes every position set. Throws (see above).
  void BuildSyntaxTree(const char* pattern);

  // The limits the next compile runs under (by default the class's own:
  // MAX_SET_ENTRIES here, the rest unbounded until CDFA sets them) and what
  // the last one used; a limit reached throws as above.
  void SetLimits(const tag_REGEX_COSTS& limits) { m_limits = limits; }
  const tag_REGEX_COSTS& GetLimits() const { return m_limits; }
  const tag_REGEX_COSTS& GetUsed() const { return m_used; }

  // Lexer (the pattern must have been set by BuildSyntaxTree; without one
  // E_POINTER is thrown).
  tag_TOKEN_REGEXPR GetLexToken();
  DWORD GetPos() const;

  // Leaf test: NODE_CHAR compares, NODE_ANY takes all but 0x0A, the other
  // kinds test the node's set.
  static bool MatchCharNode(const tag_TREE_NODE& node, BYTE c);

  // Read access for the DFA construction and for tests.
  DWORD GetRoot() const { return m_nRoot; }
  BOOL IsUnanchored() const { return m_bUnanchored; }
  DWORD GetNodeCount() const { return static_cast<DWORD>(m_nodes.size()); }
  const tag_TREE_NODE& GetNode(DWORD index) const { return m_nodes[index]; }
  // Positions are numbered in tree order; the last one is END.
  DWORD GetPositionCount() const { return static_cast<DWORD>(m_positions.size()); }
  DWORD GetPositionNode(DWORD position) const { return m_positions[position]; }
  tag_DWORD_RUN GetFirstPos() const { return GetSet(m_nRootFirst); }
  // followpos(p) as the union of these pool sets.
  tag_DWORD_RUN GetFollowSets(DWORD position) const {
    return tag_DWORD_RUN{m_followIds.data() + m_followStart[position],
                         m_followIds.data() + m_followStart[position + 1]};
  }
  tag_DWORD_RUN GetSet(DWORD id) const {
    return tag_DWORD_RUN{m_pool.data() + m_setStart[id], m_pool.data() + m_setStart[id + 1]};
  }
  DWORD GetRootFirstSet() const { return m_nRootFirst; }
  DWORD GetSetCount() const { return static_cast<DWORD>(m_setStart.size() - 1); }

 protected:
  // Lexer pieces; the read position is just after '[' / '{', or on the ':'
  // / '=' of a class or group.
  tag_TOKEN_REGEXPR ProcessBracketExpression();
  tag_TOKEN_REGEXPR ProcessQuantifier();
  void ProcessCharacterClass(CSetBits& set, int value);
  void ProcessEquivalenceClass(CSetBits& set, int value);

  // Parser pieces.
  DWORD CreateNewNode(NODE_TYPE kind, BYTE ch, DWORD left, DWORD right);
  DWORD CreateNewNode(const tag_TREE_NODE& node);
  DWORD CloneNode(DWORD index);
  DWORD BuildTreeFromArray(const std::vector<tag_TOKEN_REGEXPR>& tokens, size_t first,
                           size_t last, NODE_TYPE kind);
  void ShiftToken(std::vector<tag_TOKEN_REGEXPR>& stack, const tag_TOKEN_REGEXPR& token);
  void CatNodes(std::vector<tag_TOKEN_REGEXPR>& stack);
  void ReduceStack(std::vector<tag_TOKEN_REGEXPR>& stack, DWORD position);
  void ReduceParentesis(std::vector<tag_TOKEN_REGEXPR>& stack, DWORD position);
  void ProcessQuantifier(std::vector<tag_TOKEN_REGEXPR>& stack, const tag_TOKEN_REGEXPR& token,
                         DWORD lower, DWORD upper);
  void CalculatePositions(DWORD root);

  [[noreturn]] void ThrowSyntax(const char* format, ...) const;

  std::unique_ptr<char[]> m_pPattern;  // null when none
  const char* m_pRead;  // lexer position in m_pPattern
  std::vector<tag_TREE_NODE> m_nodes;
  DWORD m_nRoot;
  std::vector<DWORD> m_positions;  // position -> leaf node
  BOOL m_bUnanchored;
  bool m_bFoldCase;

  // Position sets: set id runs m_pool[m_setStart[id] .. m_setStart[id + 1]);
  // position p's followpos set ids m_followIds[m_followStart[p] ..
  // m_followStart[p + 1]).
  std::vector<DWORD> m_pool;
  std::vector<DWORD> m_setStart;
  std::vector<DWORD> m_followIds;
  std::vector<DWORD> m_followStart;
  DWORD m_nRootFirst;
  size_t m_nSetEntries;
  tag_REGEX_COSTS m_limits;
  tag_REGEX_COSTS m_used;

 private:
  DWORD AddPosition(DWORD position);
  DWORD UnionSets(DWORD a, DWORD b);
  void CountEntries(size_t more);
  void FoldToken(tag_TOKEN_REGEXPR& token) const;
};

}  // namespace telsor

#endif  // TELSOR_SEARCH_FA_H
