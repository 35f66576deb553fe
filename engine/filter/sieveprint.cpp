// The tree written back as Sieve text that compiles to the same tree.
// Quoted texts are escaped (OutQuoted), multi-line texts dot-stuffed, and
// neither goes through a printf format; stream errors are ignored (a failing
// stream gives truncated text).
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include "filter/exprtree.h"

namespace {

void Out(tag_PRINT_CTXT* ctx, const char* text, size_t len) {
  if (len == 0) return;
  if (ctx->text != nullptr) {
    if (text[len] == '\0') {
      *ctx->text += text;
    } else {
      for (size_t i = 0; i < len; ++i) *ctx->text += text[i];
    }
  } else if (ctx->stream != nullptr)
    fwrite(text, 1, len, ctx->stream);
}

void Out(tag_PRINT_CTXT* ctx, const char* text) { Out(ctx, text, strlen(text)); }

void OutSpaces(tag_PRINT_CTXT* ctx, long count) {
  static const char kSpaces[] = "                                ";
  while (count > 0) {
    long n = count < 32 ? count : 32;
    Out(ctx, kSpaces, static_cast<size_t>(n));
    count -= n;
  }
}

void OutIndent(tag_PRINT_CTXT* ctx) { OutSpaces(ctx, 2L * ctx->level); }

void OutNumber(tag_PRINT_CTXT* ctx, uint64_t value) {
  char digits[24];
  int n = snprintf(digits, sizeof digits, "%" PRIu64, value);
  Out(ctx, digits, static_cast<size_t>(n));
}

// "text:", the lines (one that begins with a dot gets another), ".".
void OutMultiline(tag_PRINT_CTXT* ctx, const char* text) {
  Out(ctx, "text:\n");
  const char* p = text != nullptr ? text : "";
  while (*p != '\0') {
    const char* end = strchr(p, '\n');
    size_t len = end != nullptr ? static_cast<size_t>(end - p) : strlen(p);
    if (*p == '.') Out(ctx, ".");
    Out(ctx, p, len);
    Out(ctx, "\n");
    p += len;
    if (*p == '\n') ++p;
  }
  Out(ctx, ".\n");
}

// Between double quotes, a double quote, a backslash and a carriage return
// each behind a backslash, so the scanner reads back the same text. A text
// with a line feed (a key or list entry that was a multi-line string) can
// only be written as a multi-line string.
void OutQuoted(tag_PRINT_CTXT* ctx, const char* text) {
  if (text != nullptr && strchr(text, '\n') != nullptr) {
    OutMultiline(ctx, text);
    return;
  }
  Out(ctx, "\"");
  for (const char* p = text != nullptr ? text : ""; *p != '\0';) {
    size_t plain = strcspn(p, "\"\\\r");
    if (plain > 0) Out(ctx, p, plain);
    p += plain;
    if (*p == '\0') break;
    Out(ctx, "\\");
    Out(ctx, p, 1);
    ++p;
  }
  Out(ctx, "\"");
}

const char* MatchWord(MATCH_TYPES type) {
  static const char* const kWords[] = {":is", ":contains", ":matches", ":regex", ":count", ":value"};
  return (type >= MATCH_IS && type <= MATCH_VALUE) ? kWords[type - 1] : "";
}

const char* RelationalWord(RELATIONAL_MATCH_TYPE op) {
  static const char* const kWords[] = {"lt", "gt", "eq", "ge", "le", "ne"};
  return (op >= RELATIONAL_LT && op <= RELATIONAL_NE) ? kWords[op - 1] : "";
}

const char* AddressPartWord(ADDRESS_PART part) {
  static const char* const kWords[] = {":all", ":localpart", ":domain"};
  return (part >= ADDRESS_ALL && part <= ADDRESS_DOMAIN) ? kWords[part - 1] : "";
}

// The relational word and its space, with :count and :value only.
void OutRelational(tag_PRINT_CTXT* ctx, MATCH_TYPES type, RELATIONAL_MATCH_TYPE op) {
  if (type != MATCH_COUNT && type != MATCH_VALUE) return;
  OutQuoted(ctx, RelationalWord(op));
  Out(ctx, " ");
}

// "word", a space and the array when there is one, ";".
void OutArrayCommand(tag_PRINT_CTXT* ctx, const char* word, const char* const* array) {
  Out(ctx, word);
  if (array != nullptr) {
    Out(ctx, " ");
    CListStrings::PrintStrArray(ctx, array);
  }
  Out(ctx, ";");
}

}  // namespace

void CExprTreeNode::Print(tag_PRINT_CTXT* ctx) const { Out(ctx, "?"); }

// ---- lists and strings

void CListCommands::Print(tag_PRINT_CTXT* ctx) const {
  for (void* pos = m_list.GetHeadPosition(); pos != nullptr;) {
    const CExprTreeNode* cmd = m_list.GetNext(pos);
    OutIndent(ctx);
    cmd->Print(ctx);
    Out(ctx, "\n");
  }
}

void CListTest::Print(tag_PRINT_CTXT* ctx) const {
  bool first = true;
  for (void* pos = m_list.GetHeadPosition(); pos != nullptr;) {
    const CExprTreeNode* test = m_list.GetNext(pos);
    if (!first) {
      Out(ctx, ",\n");
      OutSpaces(ctx, ctx->level > 0 ? 2L * ctx->level : 1);
    }
    first = false;
    test->Print(ctx);
  }
}

void CListStrings::Print(tag_PRINT_CTXT* ctx) const {
  bool several = m_list.GetCount() > 1;
  if (several) Out(ctx, "[");
  bool first = true;
  for (void* pos = m_list.GetHeadPosition(); pos != nullptr;) {
    const CExprTreeNode* str = m_list.GetNext(pos);
    if (!first) Out(ctx, ", ");
    first = false;
    str->Print(ctx);
  }
  if (several) Out(ctx, "]");
}

void CListTags::Print(tag_PRINT_CTXT* ctx) const {
  bool first = true;
  for (void* pos = m_list.GetHeadPosition(); pos != nullptr;) {
    const CExprTreeNode* tag = m_list.GetNext(pos);
    if (!first) Out(ctx, " ");
    first = false;
    tag->Print(ctx);
  }
}

void CQuotedString::Print(tag_PRINT_CTXT* ctx) const { OutQuoted(ctx, m_pText); }

void CMultiline::Print(tag_PRINT_CTXT* ctx) const { OutMultiline(ctx, m_pText); }

void CListStrings::PrintStrArray(tag_PRINT_CTXT* ctx, const char* const* texts) {
  size_t count = 0;
  if (texts != nullptr)
    while (texts[count] != nullptr) ++count;
  if (count > 1) Out(ctx, "[");
  size_t sum = 0;
  for (size_t i = 0; i < count; ++i) {
    if (i != 0) Out(ctx, ", ");
    OutQuoted(ctx, texts[i]);
    sum += strlen(texts[i]);
    if (sum >= 128 && i + 1 < count) {
      Out(ctx, "\n");
      sum = 0;
    }
  }
  if (count > 1) Out(ctx, "]");
}

void CKeyStr::PrintKeyList(tag_PRINT_CTXT* ctx) const {
  if (m_ppPatterns == nullptr) return;
  size_t total = 0;
  for (telsor::CSeekPattern* const* m = m_ppPatterns; *m != nullptr; ++m) total += (*m)->GetCount();
  if (total > 1) Out(ctx, "[");
  size_t sum = 0;
  size_t written = 0;
  for (size_t i = 0; m_ppPatterns[i] != nullptr; ++i) {
    const telsor::CSeekPattern* matcher = m_ppPatterns[i];
    DWORD count = matcher->GetCount();
    for (DWORD j = 0; j < count; ++j) {
      const char* key = matcher->GetPattern(static_cast<LONG>(j));
      sum += key != nullptr ? strlen(key) : 0;
      if (i != 0 || j != 0) Out(ctx, ", ");
      ++written;
      if (sum > 128 && written < total) {
        Out(ctx, "\n");
        sum = 0;
      }
      OutQuoted(ctx, key);
    }
  }
  if (total > 1) Out(ctx, "]");
}

void CKeyStr::PrintComparator(tag_PRINT_CTXT* ctx) const {
  if (m_nComparator == COMPARATOR_ASCII_CASEMAP) return;
  const char* name = Comparator2String(m_nComparator);
  if (name != nullptr) {
    Out(ctx, ":comparator ");
    OutQuoted(ctx, name);
  }
  Out(ctx, " ");
}

// ---- tags

void CVacationTags::Print(tag_PRINT_CTXT* ctx) const {
  bool any = false;
  auto separate = [&] {
    if (any) Out(ctx, " ");
    any = true;
  };
  if (m_pSubject != nullptr) {
    separate();
    Out(ctx, ":subject");
    if (m_pSubject->m_pText != nullptr) {
      Out(ctx, " ");
      m_pSubject->Print(ctx);
    }
  }
  if (m_nMime > 0) {
    separate();
    Out(ctx, ":mime");
  }
  if (m_ppAddresses != nullptr) {
    separate();
    Out(ctx, ":addresses ");
    CListStrings::PrintStrArray(ctx, m_ppAddresses);
  }
  // Tags with nothing else to show print ":days 0", so that the command
  // keeps its tags (a vacation with tags passes "" as the subject).
  if (m_nDays != 0 || !any) {
    separate();
    Out(ctx, ":days ");
    OutNumber(ctx, m_nDays);
    Out(ctx, " ");
  }
}

// ---- commands and controls

void CCmdKEEP::Print(tag_PRINT_CTXT* ctx) const { Out(ctx, "keep;"); }
void CCmdDISCARD::Print(tag_PRINT_CTXT* ctx) const { Out(ctx, "discard;"); }
void CCmdSTOP::Print(tag_PRINT_CTXT* ctx) const { Out(ctx, "stop;"); }

void CCmdREJECT::Print(tag_PRINT_CTXT* ctx) const {
  Out(ctx, "reject");
  if (m_pReason != nullptr) {
    Out(ctx, " ");
    m_pReason->Print(ctx);
  }
  Out(ctx, ";");
}

void CCmdFILEINTO::Print(tag_PRINT_CTXT* ctx) const { OutArrayCommand(ctx, "fileinto", m_ppFolders); }

void CCmdREDIRECT::Print(tag_PRINT_CTXT* ctx) const { OutArrayCommand(ctx, "redirect", m_ppAddresses); }

void CCtrlREQUIRE::Print(tag_PRINT_CTXT* ctx) const {
  Out(ctx, "require ");
  if (m_ppCapabilities != nullptr) CListStrings::PrintStrArray(ctx, m_ppCapabilities);
  Out(ctx, ";");
}

void CCmdVACATION::Print(tag_PRINT_CTXT* ctx) const {
  Out(ctx, "vacation ");
  if (m_pTags != nullptr) m_pTags->Print(ctx);
  if (m_pReason != nullptr) m_pReason->Print(ctx);
  Out(ctx, ";");
}

void CCtrlIF::PrintBlock(tag_PRINT_CTXT* ctx, bool emptyLineWithoutBlock) const {
  Out(ctx, "\n");
  OutIndent(ctx);
  Out(ctx, "{\n");
  if (m_pBlock != nullptr) {
    ++ctx->level;
    m_pBlock->Print(ctx);
    --ctx->level;
  } else if (emptyLineWithoutBlock) {
    Out(ctx, "\n");
  }
  OutIndent(ctx);
  Out(ctx, "}");
}

void CCtrlIF::PrintLink(tag_PRINT_CTXT* ctx) const {
  if (m_nType == NODE_IF) {
    Out(ctx, "if ");
    if (m_pTest != nullptr) m_pTest->Print(ctx);
    PrintBlock(ctx, false);
    return;
  }
  Out(ctx, "\n");
  OutIndent(ctx);
  if (m_nType == NODE_ELSIF) {
    Out(ctx, "elsif ");
    if (m_pTest != nullptr) m_pTest->Print(ctx);
  } else {
    Out(ctx, "else ");
  }
  PrintBlock(ctx, true);
}

void CCtrlIF::Print(tag_PRINT_CTXT* ctx) const {
  for (const CCtrlIF* link = this; link != nullptr; link = link->m_pNext) link->PrintLink(ctx);
}

void CCtrlELSIF::Print(tag_PRINT_CTXT* ctx) const { CCtrlIF::Print(ctx); }

// ---- tests

void CTestBoolean::Print(tag_PRINT_CTXT* ctx) const { Out(ctx, m_bValue ? "true" : "false"); }

void CTestNOT::Print(tag_PRINT_CTXT* ctx) const {
  Out(ctx, "not");
  if (m_pTest != nullptr) {
    Out(ctx, " ");
    m_pTest->Print(ctx);
  }
}

void CMultiTest::Print(tag_PRINT_CTXT* ctx) const {
  Out(ctx, m_nOperator == LOGIC_ALLOF ? "allof" : m_nOperator == LOGIC_ANYOF ? "anyof" : "?");
  Out(ctx, "( ");
  if (m_pTests != nullptr) m_pTests->Print(ctx);
  Out(ctx, " )");
}

void CTestEXISTS::Print(tag_PRINT_CTXT* ctx) const {
  Out(ctx, "exists ");
  CListStrings::PrintStrArray(ctx, m_ppNames);
}

void CTestSIZE::Print(tag_PRINT_CTXT* ctx) const {
  Out(ctx, "size ");
  if (m_nOperator == NUMBER_UNDER) Out(ctx, ":under ");
  if (m_nOperator == NUMBER_OVER) Out(ctx, ":over ");
  // The largest unit that divides the limit, chosen by its magnitude.
  const uint64_t kK = 1024, kM = kK * 1024, kG = kM * 1024;
  uint64_t limit = m_nLimit;
  const char* unit = nullptr;
  uint64_t div = 1;
  if (limit >= kG)
    unit = "G", div = kG;
  else if (limit < kM)
    unit = "K", div = kK;
  else
    unit = "M", div = kM;
  if (limit % div == 0) {
    OutNumber(ctx, limit / div);
    Out(ctx, unit);
  } else {
    OutNumber(ctx, limit);
  }
}

void CTestXSpamTest::Print(tag_PRINT_CTXT* ctx) const {
  Out(ctx, "x_spamtest :value ");
  OutQuoted(ctx, RelationalWord(m_nOperator));
  Out(ctx, " ");
  if (m_dValue == NIL) {
    OutQuoted(ctx, "NIL");
  } else {
    char number[64];
    snprintf(number, sizeof number, "%.8G", m_dValue);
    OutQuoted(ctx, number);
  }
}

void CTestTwoStrList::PrintMatchPart(tag_PRINT_CTXT* ctx) const {
  Out(ctx, MatchWord(m_nMatchType));
  Out(ctx, " ");
  OutRelational(ctx, m_nMatchType, m_nRelational);
  PrintComparator(ctx);
}

void CTestTwoStrList::PrintAddressTest(tag_PRINT_CTXT* ctx, const char* word, ADDRESS_PART part) const {
  Out(ctx, word);
  Out(ctx, " ");
  Out(ctx, AddressPartWord(part));
  Out(ctx, " ");
  PrintMatchPart(ctx);
  CListStrings::PrintStrArray(ctx, m_ppFirst);
  Out(ctx, " ");
  PrintKeyList(ctx);
}

void CTestHEADER::Print(tag_PRINT_CTXT* ctx) const {
  Out(ctx, "header ");
  PrintMatchPart(ctx);
  CListStrings::PrintStrArray(ctx, m_ppFirst);
  Out(ctx, " ");
  PrintKeyList(ctx);
}

void CTestADDRESS::Print(tag_PRINT_CTXT* ctx) const { PrintAddressTest(ctx, "address", m_nAddressPart); }

void CTestENVELOPE::Print(tag_PRINT_CTXT* ctx) const { PrintAddressTest(ctx, "envelope", m_nAddressPart); }

void CTestBODY::Print(tag_PRINT_CTXT* ctx) const {
  Out(ctx, "body ");
  if (m_nMatchType != MATCH_MATCHES) {
    Out(ctx, MatchWord(m_nMatchType));
    Out(ctx, " ");
    // The relational word keeps a :count or :value body test readable back.
    OutRelational(ctx, m_nMatchType, m_nRelational);
  }
  if (m_bTransform) Out(ctx, ":text ");
  PrintComparator(ctx);
  CListStrings::PrintStrArray(ctx, m_ppFirst);
  Out(ctx, " ");
  PrintKeyList(ctx);
}

void CTestATTACHMENT::Print(tag_PRINT_CTXT* ctx) const {
  Out(ctx, "attachment ");
  PrintComparator(ctx);
  if (m_nMatchType != MATCH_MATCHES) {
    Out(ctx, MatchWord(m_nMatchType));
    Out(ctx, " ");
  }
  CListStrings::PrintStrArray(ctx, m_ppKeys);
}
