// CMsgFilter: binds a compiled filter script to one message. The filter
// keeps the message, its envelope and the caches of the tests in a
// tag_FILTER_CTXT, fills the interpreter context with its eight test
// callbacks (filter/filtertests.h) and seven action trampolines, and turns
// every action into a call of one of its virtual operations, which a
// subclass overrides:
//
//   class CMyFilter : public telsor::CMsgFilter {
//    public:
//     int discarded = 0;
//     HRESULT ActionDiscard() override { discarded = 1; return S_OK; }
//   };
//   CMyFilter filter;
//   HRESULT hr = filter.Initialize("/tmp");      // where a parser session keeps its files
//   telsor::CSieveScript script;
//   if (SUCCEEDED(hr)) hr = script.ParseString("if header :contains \"Subject\" \"win\" { discard; }", nullptr);
//   if (SUCCEEDED(hr)) hr = filter.Execute(script, "/var/mail/msg.eml", nullptr);
//   // 0 and filter.discarded set when the Subject holds "win"; only the
//   // header of the file was parsed, the first body test parses the rest
//
// A message comes either by file (SetMessage(path, envelopePath): the
// filter makes and owns the message, parsed lazily, and the envelope read
// from the envelope file; the context holds them) or already built (SetMessage(message, envelope):
// the caller keeps owning both; a message parsed whole beforehand is never
// parsed again). A test that needs the header parses only the header, a
// body or attachment test parses the whole message, once (LoadMessageScope).
// The decoded Subject and the converted text of each part are made once per
// binding. Binding again, or destroying the filter, releases what the
// previous binding owned. A script may run any number of times on one
// binding, and several scripts one after the other.
//
// Results: 0; 8 (ERROR_NOT_ENOUGH_MEMORY) when the context, a path copy or
// the message cannot be made; E_POINTER for a null message; for an envelope
// file, 2 (ERROR_FILE_NOT_FOUND) without its status and the system's error
// when it cannot be opened (an envelope the field parser refuses is no
// envelope, not an error); Execute passes on what the script's run returns.
//
// Threads: a filter and its context belong to one thread; it takes no lock.
// A subclass reaches shared state (a classifier) only in its XSpamTest.
#ifndef TELSOR_FILTER_MSGFILTER_H
#define TELSOR_FILTER_MSGFILTER_H

#include <float.h>
#include <stdint.h>
#include <stdlib.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "filter/sieveinterp.h"
#include "filter/sievescript.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "mime/headerfields.h"
#include "mime/message.h"
#include "mime/messagepart.h"

namespace telsor {

class CMsgFilter;

// Key of the body-transform cache: one part and one transform, ordered by
// the part's address, then by the transform.
struct tag_KEY_BODY_TRANSFORM_DATA {
  CRfc822Part* part;
  int32_t transform;
  bool operator<(const tag_KEY_BODY_TRANSFORM_DATA& other) const {
    if (part != other.part) return reinterpret_cast<uintptr_t>(part) < reinterpret_cast<uintptr_t>(other.part);
    return transform < other.transform;
  }
};

// The text a body test derived from each part under each transform.
typedef std::map<tag_KEY_BODY_TRANSFORM_DATA, TSTRING> CBodyTransformCache;

// The message context of one binding. It owns what the filter made for
// it (a message and an envelope read from files, the path and Subject
// copies, the body-transform cache) and only points at what the caller
// keeps owning; all of it goes with the context.
class tag_FILTER_CTXT {
 public:
  // A context for a message the caller keeps owning.
  tag_FILTER_CTXT(CMsgFilter* filter, CRfc822Message* message) : m_pMessage(message), m_pFilter(filter) {}
  // A context that owns its message.
  tag_FILTER_CTXT(CMsgFilter* filter, std::unique_ptr<CRfc822Message> message)
      : m_pMessage(message.get()), m_pOwnedMessage(std::move(message)), m_pFilter(filter) {}

  CRfc822Message* GetMessage() const { return m_pMessage; }
  // Sorted by name; null when there is none.
  CRfc822Fields* GetEnvelope() const { return m_pEnvelope; }
  void PutEnvelope(CRfc822Fields* envelope) {  // the caller's
    m_pOwnedEnvelope.reset();
    m_pEnvelope = envelope;
  }
  void PutEnvelope(std::unique_ptr<CRfc822Fields> envelope) {  // the context's
    m_pEnvelope = envelope.get();
    m_pOwnedEnvelope = std::move(envelope);
  }
  // Path of the file holding the content, or null. Putting a copy may throw
  // std::bad_alloc.
  const char* GetMessageFile() const { return m_messageFile ? m_messageFile->c_str() : nullptr; }
  void PutMessageFile(const char* path) { m_messageFile.emplace(path); }
  // The decoded Subject, or null before the first header test made it.
  const char* GetSubject() const { return m_subject ? m_subject->c_str() : nullptr; }
  void PutSubject(const char* subject) { m_subject.emplace(subject); }
  // For XSpamTest and the temporary directory.
  CMsgFilter* GetFilter() const { return m_pFilter; }
  CBodyTransformCache& GetBodyCache() { return m_BodyCache; }
  const CBodyTransformCache& GetBodyCache() const { return m_BodyCache; }
  // The transform of the body test being run.
  DWORD GetBodyTransform() const { return m_dwBodyTransform; }
  void PutBodyTransform(DWORD transform) { m_dwBodyTransform = transform; }

  tag_FILTER_CTXT(const tag_FILTER_CTXT&) = delete;
  tag_FILTER_CTXT& operator=(const tag_FILTER_CTXT&) = delete;

 private:
  CRfc822Message* m_pMessage;
  std::unique_ptr<CRfc822Message> m_pOwnedMessage;  // null: the caller's
  CRfc822Fields* m_pEnvelope = nullptr;
  std::unique_ptr<CRfc822Fields> m_pOwnedEnvelope;  // null: the caller's or none
  CMsgFilter* m_pFilter;
  std::optional<std::string> m_messageFile;
  std::optional<std::string> m_subject;
  CBodyTransformCache m_BodyCache;
  DWORD m_dwBodyTransform = 0;
};

class CMsgFilter {
 public:
  CMsgFilter();
  virtual ~CMsgFilter();

  // Replaces the stored copy of the temporary directory (null: none, the
  // system's folder is then used by a parser session). 0, or 8 when the copy
  // cannot be made.
  [[nodiscard]] HRESULT Initialize(const char* tempDir);

  // Binds a built message (possibly parsed already) that the caller keeps
  // owning, and an optional envelope, which is sorted by name.
  [[nodiscard]] HRESULT SetMessage(CRfc822Message* message, CRfc822Fields* envelope);
  // Binds a message file (never removed) and an optional envelope file; the
  // filter owns the message and the envelope. A null path leaves the
  // filter without a message and returns 0.
  [[nodiscard]] HRESULT SetMessage(const char* messageFile, const char* envelopeFile);

  // Runs the script over the bound message (CSieveScript::Execute) and
  // returns its result. Without a message the script reaches no callback:
  // a test or an action it meets fails as a missing callback.
  [[nodiscard]] HRESULT Execute(const CSieveScript& script);
  // SetMessage, then, when it returned 0, Execute(script).
  [[nodiscard]] HRESULT Execute(const CSieveScript& script, CRfc822Message* message, CRfc822Fields* envelope);
  [[nodiscard]] HRESULT Execute(const CSieveScript& script, const char* messageFile, const char* envelopeFile);

  CRfc822Message* GetMessage() const;     // null when none is bound
  CRfc822Fields* GetEnvelope() const;     // null when none is bound
  const char* GetTempDirectory() const { return m_pszTempDir.get(); }   // null before Initialize
  tag_FILTER_CTXT* GetFilterContext() const { return m_pContext.get(); }
  const tag_SIEVE_INTERP_CTXT& GetInterpContext() const { return m_InterpCtxt; }

  // Told after every successful binding.
  virtual void OnSetMessage();
  // Actions of a script run (pass 2 of the interpreter); a result other
  // than 0 ends the run with it. The base does nothing and returns 0.
  [[nodiscard]] virtual HRESULT ActionRedirect(SIEVE_STRINGS targets);
  [[nodiscard]] virtual HRESULT ActionVacation(SIEVE_STRINGS addresses, uint64_t days, int mime, const char* subject,
                                               const char* reason);
  [[nodiscard]] virtual HRESULT ActionReject(const char* text);
  [[nodiscard]] virtual HRESULT ActionFileinto(SIEVE_STRINGS targets);
  [[nodiscard]] virtual HRESULT ActionDiscard();
  [[nodiscard]] virtual HRESULT ActionKeep();
  // The script executed "stop".
  virtual void ActionStop();
  // The spam value of the bound message for the x_spamtest test; DBL_MAX
  // stands for none (the base's answer). May throw.
  virtual double XSpamTest();

  // Releases the current binding: the owned message and envelope, the
  // caches, the path copies; the interpreter context is cleared.
  void FreeFilterContext();

  CMsgFilter(const CMsgFilter&) = delete;
  CMsgFilter& operator=(const CMsgFilter&) = delete;

 private:
  // The interpreter context for the current binding.
  void FillInterpContext();

  std::unique_ptr<tag_FILTER_CTXT> m_pContext;
  tag_SIEVE_INTERP_CTXT m_InterpCtxt;
  struct CFree {
    void operator()(char* p) const { free(p); }
  };
  std::unique_ptr<char, CFree> m_pszTempDir;  // strdup copy, or null
};

// Makes sure the bound message is parsed at least as far as wanted needs:
// a parser session (on the filter's temporary directory) is attached when
// the message has none; an unparsed message gets its header parsed for
// PARSE_SCOPE_HEADER_ONLY and is parsed whole for the other scopes but
// PARSE_SCOPE_STRUCTURE; a header-only message is parsed whole when
// contents are wanted; a message parsed whole is left alone. 0, or the
// session's or the parser's code; E_POINTER for a context without a message.
[[nodiscard]] HRESULT LoadMessageScope(tag_FILTER_CTXT* context, tag_PARSE_SCOPE wanted);

}  // namespace telsor

#endif  // TELSOR_FILTER_MSGFILTER_H
