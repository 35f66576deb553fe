// Sender white lists and black lists as filter scripts, and their
// addresses read back from a compiled script.
#include <string.h>

#include "filter/sievescript.h"
#include "foundation/bufferedwriter.h"

namespace telsor {

namespace {

// A new line inside the brackets once the addresses on it pass this many bytes.
const int kLineBytes = 256;

bool IsWildcard(const TSTRING& address) { return strpbrk(address.c_str(), "*?") != nullptr; }

// The address between double quotes, with '\\' and '"' escaped: the
// scanner takes the next character after a backslash as it is.
void AppendQuoted(CBufferedWriter& out, const TSTRING& address) {
  out += '"';
  const char* text = address.c_str();
  for (int i = 0; i < address.GetLength(); ++i) {
    if (text[i] == '\\' || text[i] == '"') out += '\\';
    out += text[i];
  }
  out += '"';
}

// The addresses of one kind (wildcards or not) separated by commas; empty
// when there are none.
TSTRING AddressList(const std::vector<TSTRING>& addresses, bool wildcards) {
  CBufferedWriter out(4096);
  int lineBytes = 0;
  bool first = true;
  for (const TSTRING& address : addresses) {
    if (IsWildcard(address) != wildcards) continue;
    lineBytes += address.GetLength();
    if (lineBytes > kLineBytes) {
      out += '\n';
      lineBytes = address.GetLength();
    }
    if (!first) out += ',';
    first = false;
    AppendQuoted(out, address);
  }
  return out.ToString();
}

}  // namespace

TSTRING CSieveScript::writeAddressListScript(const std::vector<TSTRING>& addresses, int whiteList) {
  const char* trailer = whiteList ? "]{stop;}\n" : "]{discard;stop;}\n";
  TSTRING script;
  for (bool wildcards : {false, true}) {
    TSTRING list = AddressList(addresses, wildcards);
    if (list.IsEmpty()) continue;
    script.append(wildcards ? "if address :all :matches \"From\" [\n" : "if address :all :is \"From\" [\n", -1);
    script.append(list.c_str(), list.GetLength());
    script.append(trailer, -1);
  }
  return script;
}

TSTRING CSieveScript::WriteWhitelistFromAddresses(const std::vector<TSTRING>& addresses) {
  return writeAddressListScript(addresses, 1);
}

TSTRING CSieveScript::WriteBlacklistFromAddresses(const std::vector<TSTRING>& addresses) {
  return writeAddressListScript(addresses, 0);
}

void CSieveScript::TestFromAddresses(std::vector<TSTRING>& addresses) const {
  const CListCommands* root = dynamic_cast<const CListCommands*>(static_cast<CExprTreeNode*>(m_pRoot));
  if (root == nullptr) return;
  const struct {
    CExprTreeNode::TYPE_NODE type;
    const char* name;
  } kTests[] = {{CExprTreeNode::NODE_ENVELOPE, "Return-path"}, {CExprTreeNode::NODE_ADDRESS, "From"}};
  for (const auto& kind : kTests) {
    CListSharedNodes tests(10);
    root->ExtractTestTwoStr(kind.type, kind.name, tests);
    addresses.reserve(addresses.size() + static_cast<size_t>(tests.GetCount()));
    for (void* pos = tests.GetHeadPosition(); pos != nullptr;) {
      const CKeyStr* test = dynamic_cast<const CKeyStr*>(static_cast<CExprTreeNode*>(tests.GetNext(pos)));
      if (test == nullptr || test->m_ppPatterns == nullptr) continue;
      for (CSeekPattern** p = test->m_ppPatterns; *p != nullptr; ++p)
        for (DWORD i = 0; i < (*p)->GetCount(); ++i) addresses.push_back(TSTRING((*p)->GetPattern(static_cast<LONG>(i))));
    }
  }
}

}  // namespace telsor
