// The two-pass run of a compiled script: pass 1 evaluates the tests and
// collects the actions with their conflict checks, pass 2 performs them.
#include "filter/sieveinterp.h"

#include <initializer_list>

#include "filter/sievescript.h"
#include "foundation/errorroad.h"

namespace telsor {

namespace {

// What the pass-1 collectors reach through the action user data: the
// caller's live context (whose node field names the calling action), the
// copy of what the caller put there, and the actions collected so far.
struct tag_COLLECT {
  tag_SIEVE_INTERP_CTXT* live;
  const tag_SIEVE_INTERP_CTXT* saved;
  CListSharedNodes* actions;
};

tag_COLLECT* Collect(void* user) { return static_cast<tag_COLLECT*>(user); }

// The type code of the first collected action that has one of the codes
// given; 0 when none has.
DWORD FirstOf(const CListSharedNodes& actions, std::initializer_list<DWORD> types) {
  for (void* pos = actions.GetHeadPosition(); pos != nullptr;) {
    DWORD type = actions.GetNext(pos)->m_nType;
    for (DWORD t : types)
      if (type == t) return type;
  }
  return 0;
}

HRESULT Append(tag_COLLECT* collect) {
  CSharedObjPtr<CExprTreeNode> node(const_cast<CExprTreeNode*>(collect->live->node));
  if (node != nullptr) collect->actions->AddTail(node);
  return S_OK;
}

HRESULT CollectReject(const char*, void* user) {
  tag_COLLECT* c = Collect(user);
  DWORD first = FirstOf(*c->actions, {CExprTreeNode::NODE_REJECT, CExprTreeNode::NODE_FILEINTO,
                                         CExprTreeNode::NODE_REDIRECT, CExprTreeNode::NODE_KEEP});
  if (first == CExprTreeNode::NODE_REJECT) return S_OK;   // one reject is enough
  if (first != 0) return E_SIEVE_REJECT_CONFLICT;
  return Append(c);
}

// Fileinto and redirect: a missing list is ignored; any reject collected
// before is a conflict.
HRESULT CollectTargets(SIEVE_STRINGS targets, void* user, HRESULT conflict) {
  tag_COLLECT* c = Collect(user);
  if (targets == nullptr) return S_OK;
  if (FirstOf(*c->actions, {CExprTreeNode::NODE_REJECT}) != 0) return conflict;
  return Append(c);
}

HRESULT CollectFileinto(SIEVE_STRINGS folders, void* user) {
  return CollectTargets(folders, user, E_SIEVE_FILEINTO_CONFLICT);
}

HRESULT CollectRedirect(SIEVE_STRINGS addresses, void* user) {
  return CollectTargets(addresses, user, E_SIEVE_REDIRECT_CONFLICT);
}

HRESULT CollectDiscard(void* user) {
  tag_COLLECT* c = Collect(user);
  if (FirstOf(*c->actions, {CExprTreeNode::NODE_DISCARD}) != 0) return S_OK;
  return Append(c);
}

HRESULT CollectKeep(void* user) {
  tag_COLLECT* c = Collect(user);
  DWORD first = FirstOf(*c->actions, {CExprTreeNode::NODE_REJECT, CExprTreeNode::NODE_KEEP});
  if (first == CExprTreeNode::NODE_KEEP) return S_OK;
  if (first == CExprTreeNode::NODE_REJECT) return E_SIEVE_KEEP_CONFLICT;
  return Append(c);
}

// Vacation is not collected: the host's own callback runs at once, with
// the host's own action user data.
HRESULT VacationNow(SIEVE_STRINGS addresses, uint64_t days, int mime, const char* subject, const char* reason,
                    void* user) {
  const tag_SIEVE_INTERP_CTXT* saved = Collect(user)->saved;
  return saved->vacation(addresses, days, mime, subject, reason, saved->actionUserData);
}

}  // namespace

HRESULT CSieveScript::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  if (m_pRoot == nullptr) return S_OK;
  if (ctx == nullptr) return E_POINTER;

  CListSharedNodes actions(10);
  const tag_SIEVE_INTERP_CTXT saved = *ctx;
  tag_COLLECT collect = {ctx, &saved, &actions};
  ctx->actionUserData = &collect;
  ctx->reject = CollectReject;
  ctx->redirect = CollectRedirect;
  ctx->fileinto = CollectFileinto;
  ctx->discard = CollectDiscard;
  ctx->keep = CollectKeep;
  if (saved.vacation != nullptr) ctx->vacation = VacationNow;

  // Pass 1. A code thrown by a callback counts as returned; any other
  // exception ends the run without an action.
  HRESULT outcome;
  try {
    outcome = m_pRoot->Execute(ctx);
  } catch (DWORD) {
    outcome = ResultOfCurrentException();
  } catch (...) {
    (void)ResultOfCurrentException();   // releases an engine exception
    outcome = E_SIEVE_EXCEPTION;
  }
  const bool stopped = outcome == S_SIEVE_STOP;
  const DWORD stopLine = ctx->line;
  *ctx = saved;
  if (outcome != S_OK && !stopped) return outcome;

  // Pass 2: the host's own callbacks, in collection order.
  HRESULT hr = S_OK;
  for (void* pos = actions.GetHeadPosition(); pos != nullptr && hr == S_OK;)
    hr = actions.GetNext(pos)->Execute(ctx);
  if (stopped && ctx->stop != nullptr) {
    ctx->line = stopLine;
    (void)ctx->stop(ctx->actionUserData);
  }
  return hr;
}

}  // namespace telsor
