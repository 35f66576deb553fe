// The compiled filter script: parse entry points, assignment and printing.
#include "filter/sievescript.h"

#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "filter/sievegrammar.h"
#include "filter/sievelex.h"
#include "foundation/errorroad.h"

namespace telsor {

CSieveScript::CSieveScript() : m_pszErrorDescription(nullptr), m_nErrorColumn(0), m_nErrorLine(0) {}

CSieveScript::CSieveScript(const CSieveScript& other) : CSieveScript() { *this = other; }

CSieveScript::~CSieveScript() { Empty(); }

CSieveScript& CSieveScript::operator=(const CSieveScript& other) {
  if (this == &other) return *this;
  Empty();
  SetErrorDescription(other.m_pszErrorDescription);
  m_nErrorColumn = other.m_nErrorColumn;
  m_nErrorLine = other.m_nErrorLine;
  m_pRoot = other.m_pRoot;
  return *this;
}

void CSieveScript::Empty() {
  m_pRoot = nullptr;
  free(m_pszErrorDescription);
  m_pszErrorDescription = nullptr;
  m_nErrorColumn = 0;
  m_nErrorLine = 0;
}

void CSieveScript::SetErrorDescription(const char* text) {
  char* copy = nullptr;
  if (text != nullptr) {
    copy = strdup(text);
    if (copy == nullptr) AfxThrowMemoryException();
  }
  free(m_pszErrorDescription);
  m_pszErrorDescription = copy;
}

void CSieveScript::MakeQuorMailWebCompatible() { g_bQuorMailWebCompatible = 1; }

HRESULT CSieveScript::Parse(const char* path, const char* logPath) {
  if (path == nullptr) return E_SIEVE_OPEN_FAILED;
  std::ifstream in(path, std::ios::in | std::ios::binary);
  if (!in.is_open()) return E_SIEVE_OPEN_FAILED;
  return Compile(in, logPath);
}

HRESULT CSieveScript::ParseString(const char* text, const char* logPath) {
  return ResultOfCall([&] {
    std::istringstream in(std::string(text != nullptr ? text : ""));
    return Compile(in, logPath);
  });
}

HRESULT CSieveScript::Compile(std::istream& in, const char* logPath) {
  std::unique_ptr<std::ofstream> log;
  if (logPath != nullptr && *logPath != '\0') {
    log.reset(new std::ofstream(logPath, std::ios::out | std::ios::trunc | std::ios::binary));
    if (!log->is_open()) return E_SIEVE_OPEN_FAILED;
  }
  // From here on the previous tree is gone, whatever the outcome.
  Empty();
  return ResultOfCall([&] {
    CSieveLex lexer;
    CSieveGrammar grammar;
    lexer.switch_streams(&in, log.get());
    int rc = grammar.yyparse(&lexer);
    if (rc == 0) {
      m_pRoot = grammar.GetExpressionTree();
      return S_OK;
    }
    SetErrorDescription(grammar.GetErrorDescription());
    m_nErrorColumn = static_cast<DWORD>(lexer.GetColumn());
    m_nErrorLine = static_cast<DWORD>(lexer.GetLine());
    return (rc == 1 || rc == 2) ? E_SIEVE_SYNTAX : static_cast<HRESULT>(rc);
  });
}

HRESULT CSieveScript::PrintContext(tag_PRINT_CTXT& ctx) const {
  if (m_pRoot == nullptr) return S_OK;
  HRESULT hr = ResultOf([&] { m_pRoot->Print(&ctx); });
  return FAILED(hr) ? E_SIEVE_EXCEPTION : S_OK;
}

HRESULT CSieveScript::Print(const char* path) const {
  (void)path;
  return PrintTo(stdout);
}

HRESULT CSieveScript::PrintTo(FILE* stream) const {
  tag_PRINT_CTXT ctx = {stream, 0, 0, nullptr};
  return PrintContext(ctx);
}

HRESULT CSieveScript::PrintToString(TSTRING& text) const {
  text.Release();
  return ResultOfCall([&] {
    CBufferedWriter out(4096);
    tag_PRINT_CTXT ctx = {nullptr, 0, 0, &out};
    HRESULT hr = PrintContext(ctx);
    text = out.ToString();
    return hr;
  });
}

}  // namespace telsor
