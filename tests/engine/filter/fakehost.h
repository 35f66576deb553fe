// A recording host for interpreter tests: every callback appends what it
// was given to `calls`, and the scripts steer the test callbacks through
// their keys and names:
//   first key (or name) "yes" -> true, "no" -> false, "0x..." -> that code,
//   "throw-code" throws the bare code 0xE00A0099, "throw-engine" a heap
//   engine exception, "throw-std" a std::runtime_error;
//   size: an odd limit is true; x_spamtest: a value above 0 is true;
//   an action whose first target (or reason) is "fail" returns E_FAIL.
// Every callback also checks that it got the host's own user data.
#ifndef TESTS_ENGINE_FILTER_FAKEHOST_H
#define TESTS_ENGINE_FILTER_FAKEHOST_H

#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "filter/sievescript.h"
#include "foundation/throwcode.h"

class CFakeHost {
 public:
  // Bits of callbacks to leave null.
  enum : unsigned {
    NO_SIZE = 1u << 0, NO_ADDRESS = 1u << 1, NO_ENVELOPE = 1u << 2, NO_HEADER = 1u << 3,
    NO_EXISTS = 1u << 4, NO_BODY = 1u << 5, NO_ATTACHMENT = 1u << 6, NO_XSPAMTEST = 1u << 7,
    NO_REJECT = 1u << 8, NO_REDIRECT = 1u << 9, NO_FILEINTO = 1u << 10, NO_DISCARD = 1u << 11,
    NO_KEEP = 1u << 12, NO_STOP = 1u << 13, NO_VACATION = 1u << 14,
  };
  static const HRESULT kThrownCode = static_cast<HRESULT>(0xE00A0099u);
  static const uint64_t kMagic = 0x534945564548u;

  // First, so that a callback handed foreign user data reads something else here.
  uint64_t magic = kMagic;
  std::vector<std::string> calls;
  tag_SIEVE_INTERP_CTXT ctx;

  explicit CFakeHost(unsigned missing = 0) {
    memset(&ctx, 0, sizeof ctx);
    ctx.testUserData = this;
    ctx.actionUserData = this;
    if (!(missing & NO_SIZE)) ctx.size = Size;
    if (!(missing & NO_ADDRESS)) ctx.address = Address;
    if (!(missing & NO_ENVELOPE)) ctx.envelope = Envelope;
    if (!(missing & NO_HEADER)) ctx.header = Header;
    if (!(missing & NO_EXISTS)) ctx.exists = Exists;
    if (!(missing & NO_BODY)) ctx.body = Body;
    if (!(missing & NO_ATTACHMENT)) ctx.attachment = Attachment;
    if (!(missing & NO_XSPAMTEST)) ctx.xSpamTest = XSpamTest;
    if (!(missing & NO_REJECT)) ctx.reject = Reject;
    if (!(missing & NO_REDIRECT)) ctx.redirect = Redirect;
    if (!(missing & NO_FILEINTO)) ctx.fileinto = Fileinto;
    if (!(missing & NO_DISCARD)) ctx.discard = Discard;
    if (!(missing & NO_KEEP)) ctx.keep = Keep;
    if (!(missing & NO_STOP)) ctx.stop = Stop;
    if (!(missing & NO_VACATION)) ctx.vacation = Vacation;
  }
  CFakeHost(const CFakeHost&) = delete;
  CFakeHost& operator=(const CFakeHost&) = delete;

  HRESULT Run(const telsor::CSieveScript& script) { return script.Execute(&ctx); }
  std::string Calls() const {
    std::string all;
    for (const std::string& c : calls) all += (all.empty() ? "" : " ") + c;
    return all;
  }

  static std::string List(SIEVE_STRINGS texts) {
    if (texts == nullptr) return "null";
    std::string out = "[";
    for (size_t i = 0; texts[i] != nullptr; ++i) out += (i ? "," : "") + std::string(texts[i]);
    return out + "]";
  }
  static std::string Keys(SIEVE_KEYS keys) {
    if (keys == nullptr) return "null";
    std::string out = "[";
    for (size_t i = 0; keys[i] != nullptr; ++i)
      for (DWORD j = 0; j < keys[i]->GetCount(); ++j) {
        const char* t = keys[i]->GetPattern(static_cast<LONG>(j));
        out += (out.size() > 1 ? "," : "") + std::string(t != nullptr ? t : "(null)");
      }
    return out + "]";
  }

 private:
  static CFakeHost* Self(void* user, const char* what) {
    CFakeHost* host = static_cast<CFakeHost*>(user);
    // A callback given someone else's user data would scribble over it.
    if (host == nullptr || host->magic != kMagic) {
      fprintf(stderr, "%s got foreign user data\n", what);
      abort();
    }
    return host;
  }
  static const char* First(SIEVE_STRINGS texts) { return texts != nullptr && texts[0] != nullptr ? texts[0] : ""; }
  static const char* FirstKey(SIEVE_KEYS keys) {
    const char* t = keys != nullptr && keys[0] != nullptr ? keys[0]->GetPattern(0) : nullptr;
    return t != nullptr ? t : "";
  }
  static HRESULT Answer(const std::string& word) {
    if (word == "yes") return S_SIEVE_TRUE;
    if (word == "no") return S_SIEVE_FALSE;
    if (word == "throw-code") telsor::ThrowCode(static_cast<DWORD>(kThrownCode));
    if (word == "throw-engine") telsor::CExprTreeException::Throw(0xE00A0098u, "from a callback");
    if (word == "throw-std") throw std::runtime_error("from a callback");
    if (word.compare(0, 2, "0x") == 0) return static_cast<HRESULT>(strtoul(word.c_str(), nullptr, 16));
    return S_SIEVE_FALSE;
  }
  HRESULT Test(const std::string& record, const std::string& word) {
    calls.push_back(record);
    return Answer(word);
  }
  HRESULT Action(const std::string& record, const char* first) {
    calls.push_back(record);
    return first != nullptr && strcmp(first, "fail") == 0 ? E_FAIL : S_OK;
  }
  static std::string Num(uint64_t v) {
    char b[32];
    snprintf(b, sizeof b, "%" PRIu64, v);
    return b;
  }

  static HRESULT Size(NUMBER_CMP_OPERATOR op, uint64_t limit, void* user) {
    return Self(user, "size")->Test("size(" + Num(op) + "," + Num(limit) + ")", (limit & 1) ? "yes" : "no");
  }
  static HRESULT Address(ADDRESS_PART part, SIEVE_STRINGS names, SIEVE_KEYS keys, TYPE_COMPARATOR cmp,
                         MATCH_TYPES mt, RELATIONAL_MATCH_TYPE rel, void* user) {
    return Self(user, "address")->Test("address(" + Num(part) + "," + List(names) + "," + Keys(keys) + "," +
                                           Num(cmp) + "," + Num(mt) + "," + Num(rel) + ")",
                                       FirstKey(keys));
  }
  static HRESULT Envelope(ADDRESS_PART part, SIEVE_STRINGS names, SIEVE_KEYS keys, TYPE_COMPARATOR cmp,
                          MATCH_TYPES mt, RELATIONAL_MATCH_TYPE rel, void* user) {
    return Self(user, "envelope")->Test("envelope(" + Num(part) + "," + List(names) + "," + Keys(keys) + "," +
                                            Num(cmp) + "," + Num(mt) + "," + Num(rel) + ")",
                                        FirstKey(keys));
  }
  static HRESULT Header(SIEVE_STRINGS names, SIEVE_KEYS keys, TYPE_COMPARATOR cmp, MATCH_TYPES mt,
                        RELATIONAL_MATCH_TYPE rel, void* user) {
    return Self(user, "header")->Test("header(" + List(names) + "," + Keys(keys) + "," + Num(cmp) + "," +
                                          Num(mt) + "," + Num(rel) + ")",
                                      FirstKey(keys));
  }
  static HRESULT Exists(SIEVE_STRINGS names, void* user) {
    return Self(user, "exists")->Test("exists(" + List(names) + ")", First(names));
  }
  static HRESULT Body(DWORD transform, SIEVE_STRINGS types, SIEVE_KEYS keys, void* user) {
    return Self(user, "body")->Test("body(" + Num(transform) + "," + List(types) + "," + Keys(keys) + ")",
                                    FirstKey(keys));
  }
  static HRESULT Attachment(SIEVE_KEYS keys, void* user) {
    return Self(user, "attachment")->Test("attachment(" + Keys(keys) + ")", FirstKey(keys));
  }
  static HRESULT XSpamTest(RELATIONAL_MATCH_TYPE op, double value, void* user) {
    char v[64];
    snprintf(v, sizeof v, "%g", value);
    return Self(user, "x_spamtest")->Test("x_spamtest(" + Num(op) + "," + v + ")", value > 0 ? "yes" : "no");
  }
  static HRESULT Reject(const char* reason, void* user) {
    return Self(user, "reject")->Action(std::string("reject(") + (reason ? reason : "null") + ")", reason);
  }
  static HRESULT Redirect(SIEVE_STRINGS targets, void* user) {
    return Self(user, "redirect")->Action("redirect(" + List(targets) + ")", First(targets));
  }
  static HRESULT Fileinto(SIEVE_STRINGS targets, void* user) {
    return Self(user, "fileinto")->Action("fileinto(" + List(targets) + ")", First(targets));
  }
  static HRESULT Discard(void* user) { return Self(user, "discard")->Action("discard", nullptr); }
  static HRESULT Keep(void* user) { return Self(user, "keep")->Action("keep", nullptr); }
  static HRESULT Stop(void* user) {
    CFakeHost* host = Self(user, "stop");
    host->calls.push_back("stop@" + Num(host->ctx.line));
    return E_FAIL;   // ignored by the interpreter
  }
  static HRESULT Vacation(SIEVE_STRINGS addresses, uint64_t days, int mime, const char* subject, const char* reason,
                          void* user) {
    return Self(user, "vacation")->Action("vacation(" + List(addresses) + "," + Num(days) + "," +
                                              Num(static_cast<uint64_t>(mime)) + "," + (subject ? subject : "null") +
                                              "," + (reason ? reason : "null") + ")",
                                          reason);
  }
};

#endif  // TESTS_ENGINE_FILTER_FAKEHOST_H
