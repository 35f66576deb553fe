// Semantic actions of the filter-script grammar (sievegrammar.y): list
// building, checks of tags, capabilities and relational names, and the
// construction of tests, commands and controls.
#include "filter/sievegrammar.h"

#include "search/regexbudget.h"

#include <errno.h>
#include <float.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

namespace {

struct RelationalRow {
  const char* name;
  RELATIONAL_MATCH_TYPE code;
};

const RelationalRow kRelationals[] = {
    {"gt", RELATIONAL_GT}, {"ge", RELATIONAL_GE}, {"lt", RELATIONAL_LT},
    {"le", RELATIONAL_LE}, {"eq", RELATIONAL_EQ}, {"ne", RELATIONAL_NE},
};

const char kRelationalMessage[] =
    "Expected one of the following relational-match specifications: \"gt\", \"ge\", \"lt\",\"le\",\"eq\",\"ne\".";

const char kTooDeep[] = "Parser stack full: nesting too deep.";

// Capabilities a script may require beyond the keywords and tags.
const char* const kRequireList[] = {
    "reject", "fileinto", "redirect", "keep",  "discard", "vacation", "stop",    "allof", "anyof",
    "envelope", "exists",  "false",   "header", "not",    "size",     "address", "body",  "attachment",
};

// The relational code of a name (case-sensitive), 0 when it is none.
RELATIONAL_MATCH_TYPE RelationalOf(const char* name) {
  if (name == nullptr) return RELATIONAL_NONE;
  for (const RelationalRow& row : kRelationals)
    if (strcmp(row.name, name) == 0) return row.code;
  return RELATIONAL_NONE;
}

const char* TextOf(const CExprTreeNode* node) {
  const CQuotedString* str = dynamic_cast<const CQuotedString*>(node);
  return str != nullptr ? str->m_pText : nullptr;
}

}  // namespace

CSieveGrammar::CSieveGrammar() : m_pLexer(nullptr), m_pTree(nullptr), m_nResult(0) {}

CSieveGrammar::~CSieveGrammar() { ClearExpressionTree(); }

int CSieveGrammar::yyparse(CSieveLex* lexer) {
  m_pLexer = lexer;
  m_nResult = 0;
  CSieveParseParam param = {this, lexer};
  // The :regex keys of one script share one budget.
  telsor::CRegExprBudget budget(telsor::CRegExprBudget::kScriptTotal);
  CKeyStr::RegexBudgetScope scope(&budget);
  int rc = sieveparse(&param);
  // A byte the scanner refused fails the parse whatever the grammar made of
  // the shortened input.
  if (lexer->GetFailure() != 0) {
    ClearExpressionTree();
    return lexer->GetFailure();
  }
  if (rc != 0 && budget.IsSpent()) return E_SIEVE_REGEX_BUDGET;
  if (rc == 2) {
    // The parser's stack is full: blocks or tests nest deeper than it holds.
    PrintError("%s", kTooDeep);
    return E_SIEVE_TOO_DEEP;
  }
  if (rc != 0 && m_nResult != 0) return m_nResult;
  return rc;
}

void CSieveGrammar::SetExpressionTree(CExprTreeNode* tree) {
  ClearExpressionTree();
  m_pTree = tree;
  if (tree != nullptr) tree->AddRef();
}

void CSieveGrammar::ClearExpressionTree() {
  if (m_pTree != nullptr) m_pTree->Release();
  m_pTree = nullptr;
}

const char* CSieveGrammar::GetErrorDescription() const {
  return m_pLexer != nullptr ? m_pLexer->GetErrorText() : "";
}

void CSieveGrammar::PrintError(const char* format, ...) {
  if (m_pLexer == nullptr) return;
  va_list args;
  va_start(args, format);
  m_pLexer->VPrintError(format, args);
  va_end(args);
}

// ---- lists

int CSieveGrammar::AddTag(CExprTreeNode*& list, CExprTreeNode* tag) {
  if (tag == nullptr) return 0;
  if (list == nullptr) list = Made(new CListTags, tag->m_nLine);
  static_cast<CListTags*>(list)->AddTail(tag);
  UnRegister(tag);
  return 1;
}

int CSieveGrammar::AddBodyTransform(CExprTreeNode*& list, CExprTreeNode::TYPE_NODE type, ULONG line) {
  if (list == nullptr) {
    list = Made(new CListTags, line);
  } else {
    CListTags* tags = static_cast<CListTags*>(list);
    if (tags->GetNodeByType(type) != nullptr) return 1;
    CExprTreeNode::TYPE_NODE other =
        type == CExprTreeNode::NODE_TAG_TEXT ? CExprTreeNode::NODE_TAG_RAW : CExprTreeNode::NODE_TAG_TEXT;
    if (tags->GetNodeByType(other) != nullptr) return 0;
  }
  static_cast<CListTags*>(list)->AddTail(new CExprTreeNode(type, line));
  return 1;
}

int CSieveGrammar::AddString(CExprTreeNode*& list, CExprTreeNode* str) {
  if (str == nullptr) return 0;
  if (list == nullptr) list = Made(new CListStrings, str->m_nLine);
  static_cast<CListStrings*>(list)->AddTail(str);
  UnRegister(str);
  return 1;
}

int CSieveGrammar::AddComparator(CExprTreeNode*& list, CExprTreeNode* name) {
  const char* text = TextOf(name);
  TYPE_COMPARATOR comparator = String2Comparator(text);
  if (comparator == COMPARATOR_NONE) {
    PrintError("The comparator \"%s\" does not supported", text != nullptr ? text : "");
    return 0;
  }
  CTagComparator* tag = Made(new CTagComparator(comparator), name->m_nLine);
  int ok = AddTag(list, tag);
  UnRegister(name);
  return ok;
}

int CSieveGrammar::AddCommand(CExprTreeNode*& list, CExprTreeNode* cmd) {
  if (cmd == nullptr) return 0;
  if (list == nullptr) list = Made(new CListCommands, cmd->m_nLine);
  static_cast<CListCommands*>(list)->AddTail(cmd);
  UnRegister(cmd);
  return 1;
}

int CSieveGrammar::AddCtrlRequire(CExprTreeNode*& list, CExprTreeNode* req) {
  if (req == nullptr) return 0;
  if (list == nullptr) list = Made(new CListCommands, req->m_nLine);
  static_cast<CListCommands*>(list)->AddHead(req);
  UnRegister(req);
  return 1;
}

CExprTreeNode* CSieveGrammar::MoveReqStmtsToCmdList(CExprTreeNode* requires, CExprTreeNode* commands) {
  if (commands == nullptr) return requires;
  if (requires == nullptr) return commands;
  CListCommands* reqs = static_cast<CListCommands*>(requires);
  CListCommands* cmds = static_cast<CListCommands*>(commands);
  // From the last require to the first, each to the head of the commands.
  for (void* pos = reqs->GetTailPosition(); pos != nullptr;) cmds->AddHead(reqs->GetPrev(pos));
  reqs->RemoveAll();
  return cmds;
}

// ---- require

int CSieveGrammar::IsSupported(const char* name) {
  if (name == nullptr) return 0;
  static const char kPrefix[] = "comparator-";
  if (strncasecmp(name, kPrefix, sizeof kPrefix - 1) == 0)
    return String2Comparator(name + sizeof kPrefix - 1) != COMPARATOR_NONE;
  for (const char* known : kRequireList)
    if (strcasecmp(known, name) == 0) return 1;
  return CSieveLex::KeywordLookUp(name, static_cast<long>(strlen(name))) != nullptr;
}

CExprTreeNode* CSieveGrammar::CheckREQUIRE(CExprTreeNode* names) {
  CListStrings* list = static_cast<CListStrings*>(names);
  for (void* pos = list != nullptr ? list->GetHeadPosition() : nullptr; pos != nullptr;) {
    const char* name = TextOf(list->GetNext(pos));
    if (!IsSupported(name)) {
      PrintError("Unsupported feature \"%s\".", name != nullptr ? name : "");
      UnRegister(names);
      return nullptr;
    }
  }
  CCtrlREQUIRE* req = Made(new CCtrlREQUIRE(list), names != nullptr ? names->m_nLine : 0);
  UnRegister(names);
  return req;
}

// ---- tags and tests

int CSieveGrammar::NewMatchTypeNode(CExprTreeNode*& out, MATCH_TYPES type, CExprTreeNode* relational) {
  if (relational == nullptr) {
    out = Made(new CMatchType(type, RELATIONAL_NONE), 0);
    return 1;
  }
  RELATIONAL_MATCH_TYPE code = RelationalOf(TextOf(relational));
  UnRegister(relational);
  if (code == RELATIONAL_NONE) {
    PrintError("%s", kRelationalMessage);
    return 0;
  }
  out = Made(new CMatchType(type, code), 0);
  return 1;
}

CExprTreeNode* CSieveGrammar::NewTestXSpamTest(CExprTreeNode* relational, CExprTreeNode* value) {
  RELATIONAL_MATCH_TYPE code = RelationalOf(TextOf(relational));
  const char* text = TextOf(value);
  CExprTreeNode* made = nullptr;
  if (code == RELATIONAL_NONE) {
    PrintError("%s", kRelationalMessage);
  } else {
    double threshold = 0.0;
    bool ok = true;
    if (text != nullptr && strcasecmp(text, "NIL") == 0) {
      threshold = CTestXSpamTest::NIL;
    } else if (text != nullptr && *text != '\0') {
      char* end = nullptr;
      threshold = strtod(text, &end);
      ok = end != nullptr && *end == '\0' && threshold != CTestXSpamTest::NIL;
    }
    if (ok)
      made = Made(new CTestXSpamTest(code, threshold), 0);
    else
      PrintError("%s", "Expected a decimal number as quoted string or \"NIL\".");
  }
  UnRegister(relational);
  UnRegister(value);
  return made;
}

template <class Make>
CExprTreeNode* CSieveGrammar::BuildTest(Make make) {
  try {
    return Made(make(), 0);
  } catch (telsor::CExprTreeException* e) {
    PrintError("[0x%08X] %s", e->GetCode(), e->GetMessage().c_str());
    e->Delete();
  } catch (telsor::CException* e) {
    e->Delete();
  } catch (...) {
  }
  return nullptr;
}

CExprTreeNode* CSieveGrammar::NewTestENVELOPE(CExprTreeNode* tags, CExprTreeNode* parts, CExprTreeNode* keys) {
  // The envelope's "from" is its Return-path field and its "to" its Recipient.
  CListStrings* list = static_cast<CListStrings*>(parts);
  for (void* pos = list != nullptr ? list->GetHeadPosition() : nullptr; pos != nullptr;) {
    CQuotedString* part = dynamic_cast<CQuotedString*>(list->GetNext(pos));
    if (part == nullptr || part->m_pText == nullptr) continue;
    if (strcasecmp(part->m_pText, "from") == 0)
      part->SetValue("Return-path");
    else if (strcasecmp(part->m_pText, "to") == 0)
      part->SetValue("Recipient");
  }
  return BuildTwoListTest<CTestENVELOPE>(tags, parts, keys);
}

template <class T>
CExprTreeNode* CSieveGrammar::BuildTwoListTest(CExprTreeNode* tags, CExprTreeNode* first, CExprTreeNode* keys) {
  CExprTreeNode* made = BuildTest([&] {
    return new T(static_cast<CListTags*>(tags), static_cast<CListStrings*>(first), static_cast<CListStrings*>(keys));
  });
  UnRegister(tags);
  UnRegister(first);
  UnRegister(keys);
  return made;
}

CExprTreeNode* CSieveGrammar::NewTestADDRESS(CExprTreeNode* tags, CExprTreeNode* names, CExprTreeNode* keys) {
  return BuildTwoListTest<CTestADDRESS>(tags, names, keys);
}

CExprTreeNode* CSieveGrammar::NewTestHEADER(CExprTreeNode* tags, CExprTreeNode* names, CExprTreeNode* keys) {
  return BuildTwoListTest<CTestHEADER>(tags, names, keys);
}

CExprTreeNode* CSieveGrammar::NewTestBODY(CExprTreeNode* tags, CExprTreeNode* contentTypes, CExprTreeNode* keys) {
  return BuildTwoListTest<CTestBODY>(tags, contentTypes, keys);
}

CExprTreeNode* CSieveGrammar::NewTestATTACHMENT(CExprTreeNode* tags, CExprTreeNode* keys) {
  CExprTreeNode* made = BuildTest([&] {
    return new CTestATTACHMENT(static_cast<CListTags*>(tags), static_cast<CListStrings*>(keys));
  });
  UnRegister(tags);
  UnRegister(keys);
  return made;
}

// ---- commands and controls

CExprTreeNode* CSieveGrammar::NewCmdREJECT(CExprTreeNode* reason) {
  CExprTreeNode* made = Made(new CCmdREJECT(static_cast<CQuotedString*>(reason)), 0);
  UnRegister(reason);
  return made;
}

CExprTreeNode* CSieveGrammar::NewCmdFILEINTO(CExprTreeNode* list) {
  CExprTreeNode* made = Made(new CCmdFILEINTO(static_cast<CListStrings*>(list)), 0);
  UnRegister(list);
  return made;
}

CExprTreeNode* CSieveGrammar::NewCmdREDIRECT(CExprTreeNode* list) {
  CExprTreeNode* made = Made(new CCmdREDIRECT(static_cast<CListStrings*>(list)), 0);
  UnRegister(list);
  return made;
}

CExprTreeNode* CSieveGrammar::NewCmdKEEP() { return Made(new CCmdKEEP, 0); }
CExprTreeNode* CSieveGrammar::NewCmdDISCARD() { return Made(new CCmdDISCARD, 0); }
CExprTreeNode* CSieveGrammar::NewCmdSTOP() { return Made(new CCmdSTOP, 0); }

CExprTreeNode* CSieveGrammar::NewCtrlELSIF(CExprTreeNode* test, CExprTreeNode* block, CExprTreeNode* next) {
  CExprTreeNode* made = Made(new CCtrlELSIF(static_cast<CTest*>(test), static_cast<CListCommands*>(block),
                                            static_cast<CCtrlELSIF*>(next)),
                             0);
  UnRegister(test);
  UnRegister(block);
  UnRegister(next);
  return made;
}

int CSieveGrammar::AppendELSIF(CExprTreeNode*& chain, CExprTreeNode* link) {
  if (link == nullptr) return 0;
  if (chain == nullptr) {
    chain = link;  // stays registered as the chain's head
    return 1;
  }
  static_cast<CCtrlELSIF*>(chain)->AddELSIF(static_cast<CCtrlELSIF*>(link));
  UnRegister(link);
  return 1;
}

CExprTreeNode* CSieveGrammar::NewCtrlIF(CExprTreeNode* test, CExprTreeNode* block, CExprTreeNode* chain,
                                        CExprTreeNode* elseBlock) {
  CCtrlELSIF* links = static_cast<CCtrlELSIF*>(chain);
  CCtrlELSIF* elseLink = nullptr;
  if (elseBlock != nullptr) {
    elseLink = Made(new CCtrlELSIF(nullptr, static_cast<CListCommands*>(elseBlock), nullptr), elseBlock->m_nLine);
    if (links == nullptr)
      links = elseLink;
    else
      links->AddELSIF(elseLink);
  }
  CExprTreeNode* made =
      Made(new CCtrlIF(static_cast<CTest*>(test), static_cast<CListCommands*>(block), links), 0);
  UnRegister(test);
  UnRegister(block);
  UnRegister(elseBlock);
  UnRegister(elseLink);
  UnRegister(chain);
  return made;
}
