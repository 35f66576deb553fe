// The message filter: bindings, the lazy parse, the interpreter context and
// the action trampolines.
#include "filter/msgfilter.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <memory>
#include <new>
#include <vector>

#include "filter/filtertests.h"
#include "foundation/errorroad.h"
#include "foundation/win32.h"
#include "mime/rfc822parser.h"
#include "mime/sharedtmpfile.h"

namespace telsor {

namespace {

// Contents up to this size stay in memory when the filter parses a message.
const ULONG kMaxContentInMemory = 4 * 1024 * 1024;

CMsgFilter* FilterOf(void* user) { return static_cast<CMsgFilter*>(user); }

HRESULT OnReject(const char* text, void* user) { return FilterOf(user)->ActionReject(text); }
HRESULT OnRedirect(SIEVE_STRINGS targets, void* user) { return FilterOf(user)->ActionRedirect(targets); }
HRESULT OnFileinto(SIEVE_STRINGS targets, void* user) { return FilterOf(user)->ActionFileinto(targets); }
HRESULT OnDiscard(void* user) { return FilterOf(user)->ActionDiscard(); }
HRESULT OnKeep(void* user) { return FilterOf(user)->ActionKeep(); }
HRESULT OnStop(void* user) {
  FilterOf(user)->ActionStop();
  return S_OK;
}
HRESULT OnVacation(SIEVE_STRINGS addresses, uint64_t days, int mime, const char* subject, const char* reason,
                   void* user) {
  return FilterOf(user)->ActionVacation(addresses, days, mime, subject, reason);
}

// The file to parse the message from: its own content file when that is
// the bound path (so that a file the message made lives through a Clear),
// else the path wrapped without the delete flag.
CSharedObjPtr<CSharedTmpFile> FileToParse(CRfc822Message& message, const char* path) {
  CSharedObjPtr<CSharedTmpFile> file = message.GetContent().IsInFile() ? message.GetContentAsFile() : nullptr;
  if (file == nullptr || strcmp(file->GetFileName(), path) != 0) file = new CSharedTmpFile(path, FALSE);
  return file;
}

// Out of memory while binding reads as the system error ERROR_NOT_ENOUGH_MEMORY, however it was thrown.
HRESULT BindingResult(HRESULT hr) { return hr == E_OUTOFMEMORY ? ResultFromSystemError(ERROR_NOT_ENOUGH_MEMORY) : hr; }

// The text of an envelope file (NUL-terminated, in a zeroed buffer one
// byte longer than the file), or the binding's failure code.
HRESULT ReadEnvelopeText(const char* path, std::vector<char>& text) {
  struct stat st;
  if (stat(path, &st) != 0) return ResultFromSystemError(ERROR_FILE_NOT_FOUND);
  FILE* in = fopen(path, "rt");
  if (in == nullptr) return ResultFromSystemError(GetLastError());
  size_t size = st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0;
  HRESULT hr = BindingResult(ResultOf([&] { text.assign(size + 1, 0); }));
  if (hr != S_OK) {
    fclose(in);
    return hr;
  }
  // A short read keeps what arrived (the buffer stays NUL-terminated); a
  // file that opens but cannot be read (a directory) is no envelope text.
  (void)fread(text.data(), 1, size, in);
  const HRESULT readError = ferror(in) ? ResultFromSystemError(GetLastError()) : S_OK;
  fclose(in);
  return readError;
}

}  // namespace

CMsgFilter::CMsgFilter() { memset(&m_InterpCtxt, 0, sizeof m_InterpCtxt); }

CMsgFilter::~CMsgFilter() = default;

HRESULT CMsgFilter::Initialize(const char* tempDir) {
  char* copy = nullptr;
  if (tempDir != nullptr && (copy = strdup(tempDir)) == nullptr) return ResultFromSystemError(ERROR_NOT_ENOUGH_MEMORY);
  m_pszTempDir.reset(copy);
  return S_OK;
}

CRfc822Message* CMsgFilter::GetMessage() const { return m_pContext != nullptr ? m_pContext->GetMessage() : nullptr; }
CRfc822Fields* CMsgFilter::GetEnvelope() const { return m_pContext != nullptr ? m_pContext->GetEnvelope() : nullptr; }

void CMsgFilter::FreeFilterContext() {
  memset(&m_InterpCtxt, 0, sizeof m_InterpCtxt);
  m_pContext.reset();
}

void CMsgFilter::FillInterpContext() {
  memset(&m_InterpCtxt, 0, sizeof m_InterpCtxt);
  m_InterpCtxt.testUserData = m_pContext.get();
  m_InterpCtxt.size = SieveTestSize;
  m_InterpCtxt.address = SieveTestAddress;
  m_InterpCtxt.envelope = SieveTestEnvelope;
  m_InterpCtxt.header = SieveTestHeader;
  m_InterpCtxt.exists = SieveTestExists;
  m_InterpCtxt.body = SieveTestBody;
  m_InterpCtxt.attachment = SieveTestAttachment;
  m_InterpCtxt.xSpamTest = SieveTestXSpamTest;
  m_InterpCtxt.actionUserData = this;
  m_InterpCtxt.reject = OnReject;
  m_InterpCtxt.redirect = OnRedirect;
  m_InterpCtxt.fileinto = OnFileinto;
  m_InterpCtxt.discard = OnDiscard;
  m_InterpCtxt.keep = OnKeep;
  m_InterpCtxt.stop = OnStop;
  m_InterpCtxt.vacation = OnVacation;
}

HRESULT CMsgFilter::SetMessage(CRfc822Message* message, CRfc822Fields* envelope) {
  FreeFilterContext();
  if (message == nullptr) return E_POINTER;
  HRESULT hr = BindingResult(ResultOf([&] { m_pContext = std::make_unique<tag_FILTER_CTXT>(this, message); }));
  if (hr != S_OK) return hr;
  // The path is needed only to parse the message further; one parsed whole
  // already never is, so its content is not written out for nothing.
  if (message->GetParseScope() != PARSE_SCOPE_FULL) {
    if (message->GetContent().GetTempDir().IsEmpty() && m_pszTempDir != nullptr)
      message->GetContent().PutTempDir(m_pszTempDir.get());
    hr = BindingResult(ResultOf([&] {
      CSharedObjPtr<CSharedTmpFile> file = message->GetContentAsFile();
      if (file != nullptr && file->GetFileName() != nullptr) m_pContext->PutMessageFile(file->GetFileName());
    }));
    if (hr != S_OK) {
      FreeFilterContext();
      return hr;
    }
  }
  m_pContext->PutEnvelope(envelope);
  if (envelope != nullptr) envelope->Sort(CRfc822Fields::ORDER_BY_NAME);
  FillInterpContext();
  OnSetMessage();
  return S_OK;
}

HRESULT CMsgFilter::SetMessage(const char* messageFile, const char* envelopeFile) {
  FreeFilterContext();
  if (messageFile == nullptr) return S_OK;
  CSharedObjPtr<CSharedTmpFile> file;
  if (ResultOf([&] { file = new CSharedTmpFile(messageFile, FALSE); }) != S_OK || file->GetFileName() == nullptr)
    return ResultFromSystemError(ERROR_NOT_ENOUGH_MEMORY);
  HRESULT hr = BindingResult(ResultOf([&] {
    m_pContext = std::make_unique<tag_FILTER_CTXT>(this, std::make_unique<CRfc822Message>());
    m_pContext->PutMessageFile(messageFile);
    m_pContext->GetMessage()->PutContentAsFile(file);
  }));
  if (hr != S_OK) {
    FreeFilterContext();
    return hr;
  }

  if (envelopeFile != nullptr) {
    std::vector<char> text;
    hr = ReadEnvelopeText(envelopeFile, text);
    if (hr != S_OK) {
      FreeFilterContext();
      return hr;
    }
    // An envelope the field parser refuses (or no memory for one) is no
    // envelope, not an error.
    std::unique_ptr<CRfc822Fields> fields(new (std::nothrow) CRfc822Fields);
    if (fields != nullptr && CRfc822Parser::CreateFieldsCollection(text.data(), *fields, 1) == S_OK) {
      fields->Sort(CRfc822Fields::ORDER_BY_NAME);
      m_pContext->PutEnvelope(std::move(fields));
    }
  }
  FillInterpContext();
  OnSetMessage();
  return S_OK;
}

HRESULT CMsgFilter::Execute(const CSieveScript& script) { return script.Execute(&m_InterpCtxt); }

HRESULT CMsgFilter::Execute(const CSieveScript& script, CRfc822Message* message, CRfc822Fields* envelope) {
  HRESULT hr = SetMessage(message, envelope);
  return hr != S_OK ? hr : Execute(script);
}

HRESULT CMsgFilter::Execute(const CSieveScript& script, const char* messageFile, const char* envelopeFile) {
  HRESULT hr = SetMessage(messageFile, envelopeFile);
  return hr != S_OK ? hr : Execute(script);
}

void CMsgFilter::OnSetMessage() {}
HRESULT CMsgFilter::ActionRedirect(SIEVE_STRINGS) { return S_OK; }
HRESULT CMsgFilter::ActionVacation(SIEVE_STRINGS, uint64_t, int, const char*, const char*) { return S_OK; }
HRESULT CMsgFilter::ActionReject(const char*) { return S_OK; }
HRESULT CMsgFilter::ActionFileinto(SIEVE_STRINGS) { return S_OK; }
HRESULT CMsgFilter::ActionDiscard() { return S_OK; }
HRESULT CMsgFilter::ActionKeep() { return S_OK; }
void CMsgFilter::ActionStop() {}
double CMsgFilter::XSpamTest() { return DBL_MAX; }

HRESULT LoadMessageScope(tag_FILTER_CTXT* context, tag_PARSE_SCOPE wanted) {
  if (context == nullptr || context->GetMessage() == nullptr) return E_POINTER;
  CRfc822Message& message = *context->GetMessage();
  // A message parsed whole needs nothing, not even a session.
  if (message.GetParseScope() == PARSE_SCOPE_FULL) return S_OK;
  return ResultOfCall([&]() -> HRESULT {
    if (message.GetParser() == nullptr) {
      CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
      HRESULT hr = parser->OpenSession(context->GetFilter() != nullptr ? context->GetFilter()->GetTempDirectory() : nullptr);
      if (hr != S_OK) return hr;
      parser->PutMaxContentSizeInMemory(kMaxContentInMemory);
      message.SetParser(parser);
    }
    CRfc822Parser* parser = message.GetParser();
    const char* path = context->GetMessageFile();
    switch (message.GetParseScope()) {
      case PARSE_SCOPE_STRUCTURE:
        if (wanted == PARSE_SCOPE_STRUCTURE) return S_OK;
        // Without a file the message has no content to parse.
        if (path == nullptr) return S_OK;
        if (wanted == PARSE_SCOPE_HEADER_ONLY) return parser->ParseHeader(path, message);
        {
          CSharedObjPtr<CSharedTmpFile> file = FileToParse(message, path);
          return parser->ParseMessage(file, wanted, message);
        }
      case PARSE_SCOPE_HEADER_ONLY:
        if (wanted != PARSE_SCOPE_CONTENTS && wanted != PARSE_SCOPE_FULL) return S_OK;
        if (path == nullptr) return S_OK;
        {
          CSharedObjPtr<CSharedTmpFile> file = FileToParse(message, path);
          CSharedObjPtr<CRfc822Parser> keep = parser;
          message.Clear();
          message.SetParser(keep);
          return parser->ParseMessage(file, PARSE_SCOPE_FULL, message);
        }
      default:
        return S_OK;
    }
  });
}

}  // namespace telsor
