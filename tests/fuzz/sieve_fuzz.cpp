// Filter-script text from untrusted bytes: compiling never crashes, leaks or
// hangs, and a failed compile leaves no tree. Every accepted script goes the
// whole way round:
//   - its printed text compiles, and to the same tree: printed again it
//     gives the same text, and it runs to the same actions;
//   - its compiled form loads to the same tree: stored again it gives the
//     same bytes, printed it gives the same text, and it runs to the same
//     actions;
// where the actions are those taken on one fixed message (with an empty Cc,
// an envelope and a body), recorded with their arguments.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <cstdlib>
#include <string>

#include "engine/filter/records.h"
#include "filter/msgfilter.h"
#include "filter/sievescript.h"
#include "mime/message.h"
#include "mime/rfc822parser.h"

namespace {

const char kMessage[] =
    "Return-Path: <owner@example.org>\r\n"
    "From: \"A. Sender\" <sender@example.com>\r\n"
    "To: rcpt@example.net, other@example.net\r\n"
    "Cc: \r\n"
    "Subject: Cheap offer 100% free\r\n"
    "Date: Mon, 7 Dec 2026 10:00:00 +0000\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"b1\"\r\n"
    "X-Spam: yes\r\n"
    "\r\n"
    "--b1\r\n"
    "Content-Type: text/plain\r\n"
    "\r\n"
    "Hello, buy now. a.b.c 12345\r\n"
    "--b1\r\n"
    "Content-Type: text/html\r\n"
    "\r\n"
    "<p>Click <b>here</b></p>\r\n"
    "--b1\r\n"
    "Content-Type: application/octet-stream; name=\"x.bin\"\r\n"
    "Content-Disposition: attachment; filename=\"x.bin\"\r\n"
    "\r\n"
    "attached data\r\n"
    "--b1--\r\n";

const char kEnvelope[] = "Return-path: <owner@example.org>\r\nRecipient: <rcpt@example.net>\r\n";

// The fixed message, parsed once.
struct FixedMessage {
  telsor::CSharedObjPtr<telsor::CRfc822Parser> parser;
  telsor::CRfc822Message message;
  telsor::CRfc822Fields envelope;
  FixedMessage() : parser(new telsor::CRfc822Parser) {
    if (parser->OpenSession("/tmp") != S_OK) abort();
    parser->PutMaxContentSizeInMemory(4 * 1024 * 1024);
    if (message.PutContentAsString(reinterpret_cast<const unsigned char*>(kMessage), sizeof kMessage - 1) != S_OK)
      abort();
    if (parser->ParseMessage(telsor::PARSE_SCOPE_FULL, message) != S_OK) abort();
    if (telsor::CRfc822Parser::CreateFieldsCollection(kEnvelope, envelope, 1) != S_OK) abort();
  }
};

FixedMessage& Fixed() {
  static FixedMessage* fixed = new FixedMessage;
  return *fixed;
}

// Records every action with its arguments.
class CRecordingFilter : public telsor::CMsgFilter {
 public:
  std::string log;

  HRESULT ActionRedirect(SIEVE_STRINGS targets) override { return Add("redirect" + List(targets)); }
  HRESULT ActionVacation(SIEVE_STRINGS addresses, uint64_t days, int mime, const char* subject,
                         const char* reason) override {
    return Add("vacation(" + List(addresses) + "," + std::to_string(days) + "," + std::to_string(mime) + "," +
               Text(subject) + "," + Text(reason) + ")");
  }
  HRESULT ActionReject(const char* text) override { return Add("reject(" + Text(text) + ")"); }
  HRESULT ActionFileinto(SIEVE_STRINGS targets) override { return Add("fileinto" + List(targets)); }
  HRESULT ActionDiscard() override { return Add("discard"); }
  HRESULT ActionKeep() override { return Add("keep"); }
  void ActionStop() override { log += "stop;"; }
  double XSpamTest() override { return 0.25; }

 private:
  static std::string Text(const char* s) { return s != nullptr ? "\"" + std::string(s) + "\"" : "null"; }
  static std::string List(SIEVE_STRINGS s) {
    if (s == nullptr) return "null";
    std::string out = "[";
    for (; *s != nullptr; ++s) out += Text(*s) + ",";
    return out + "]";
  }
  HRESULT Add(const std::string& action) {
    log += action + ";";
    return S_OK;
  }
};

std::string Actions(const telsor::CSieveScript& script) {
  CRecordingFilter filter;
  if (filter.Initialize("/tmp") != S_OK) abort();
  HRESULT hr = filter.Execute(script, &Fixed().message, &Fixed().envelope);
  char code[16];
  snprintf(code, sizeof code, "%08X", static_cast<unsigned>(hr));
  return filter.log + " -> " + code;
}

std::string Printed(const telsor::CSieveScript& s) {
  telsor::TSTRING text;
  if (s.PrintToString(text) != S_OK) abort();
  return std::string(text.c_str(), static_cast<size_t>(text.GetLength()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  telsor::CSieveScript script;
  HRESULT hr = script.ParseString(text.c_str(), nullptr);
  if (hr != S_OK) {
    if (!FAILED(hr) || script.GetRoot() != nullptr) abort();
    return 0;
  }
  if (script.GetErrorDescription() != nullptr) abort();
  const std::string printed = Printed(script);
  const std::string actions = Actions(script);

  // Printed, compiled again: the same tree.
  telsor::CSieveScript again;
  if (again.ParseString(printed.c_str(), nullptr) != S_OK) abort();
  if (Printed(again) != printed) abort();
  if (Actions(again) != actions) abort();

  // Stored and loaded: the same tree.
  const std::string stored = rec::Stored(script);
  if (stored == "(store failed)") abort();
  telsor::CSieveScript loaded;
  if (rec::Load(stored, loaded) != S_OK) abort();
  if (rec::Stored(loaded) != stored) abort();
  if (Printed(loaded) != printed) abort();
  if (Actions(loaded) != actions) abort();
  return 0;
}
