// Node execution: command lists, if chains, allof/anyof/not, and the calls
// of the context's test and action callbacks with each node's fields.
#include "filter/sieveinterp.h"

namespace {

// Before an action's callback: the node and its line, for the callback to see.
void Enter(tag_SIEVE_INTERP_CTXT* ctx, const CExprTreeNode* node) {
  ctx->line = node->m_nLine;
  ctx->node = node;
}

}  // namespace

HRESULT CExprTreeNode::Execute(tag_SIEVE_INTERP_CTXT*) const { return S_OK; }

// ---- command lists and controls

HRESULT CListCommands::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  ctx->line = m_nLine;
  if (ctx->depth > SIEVE_MAX_DEPTH) return E_SIEVE_TOO_DEEP;
  ++ctx->depth;
  HRESULT hr = S_OK;
  for (void* pos = m_list.GetHeadPosition(); pos != nullptr && hr == S_OK;) {
    const CExprTreeNode* command = m_list.GetNext(pos);
    ctx->node = nullptr;
    hr = command->Execute(ctx);
  }
  --ctx->depth;
  return hr;
}

HRESULT CCtrlIF::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  // The links of a chain run one after another here rather than through
  // each other, so a long chain takes no stack.
  for (const CCtrlIF* link = this; link != nullptr; link = link->m_pNext) {
    ctx->line = link->m_nLine;
    if (link->m_pTest != nullptr) {
      HRESULT hr = link->m_pTest->Execute(ctx);
      if (hr == S_SIEVE_FALSE) continue;
      if (hr != S_SIEVE_TRUE) return hr;
    }
    return link->m_pBlock != nullptr ? link->m_pBlock->Execute(ctx) : S_OK;
  }
  return S_OK;
}

// ---- actions

HRESULT CCmdREJECT::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  if (ctx->reject == nullptr) return E_SIEVE_NO_ACTION_CALLBACK;
  Enter(ctx, this);
  return ctx->reject(m_pReason != nullptr ? m_pReason->m_pText : nullptr, ctx->actionUserData);
}

HRESULT CCmdREDIRECT::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  if (ctx->redirect == nullptr) return E_SIEVE_NO_ACTION_CALLBACK;
  Enter(ctx, this);
  return ctx->redirect(m_ppAddresses, ctx->actionUserData);
}

HRESULT CCmdFILEINTO::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  if (ctx->fileinto == nullptr) return E_SIEVE_NO_ACTION_CALLBACK;
  Enter(ctx, this);
  return ctx->fileinto(m_ppFolders, ctx->actionUserData);
}

HRESULT CCmdDISCARD::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  if (ctx->discard == nullptr) return E_SIEVE_NO_ACTION_CALLBACK;
  Enter(ctx, this);
  return ctx->discard(ctx->actionUserData);
}

HRESULT CCmdKEEP::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  if (ctx->keep == nullptr) return E_SIEVE_NO_ACTION_CALLBACK;
  Enter(ctx, this);
  return ctx->keep(ctx->actionUserData);
}

HRESULT CCmdVACATION::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  if (ctx->vacation == nullptr) return E_SIEVE_NO_ACTION_CALLBACK;
  Enter(ctx, this);
  const char* reason = m_pReason != nullptr ? m_pReason->m_pText : nullptr;
  if (m_pTags == nullptr) return ctx->vacation(nullptr, 0, 0, nullptr, reason, ctx->actionUserData);
  return ctx->vacation(m_pTags->m_ppAddresses, m_pTags->m_nDays, m_pTags->m_nMime > 0 ? 1 : 0,
                       m_pTags->GetSubject(), reason, ctx->actionUserData);
}

HRESULT CCmdSTOP::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  ctx->line = m_nLine;
  return S_SIEVE_STOP;
}

// ---- logic

HRESULT CTestBoolean::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  ctx->line = m_nLine;
  return m_bValue ? S_SIEVE_TRUE : S_SIEVE_FALSE;
}

HRESULT CTestNOT::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  ctx->line = m_nLine;
  // A not without a test comes from no script; it is refused, not guessed.
  if (m_pTest == nullptr) return E_POINTER;
  HRESULT hr = m_pTest->Execute(ctx);
  if (hr == S_SIEVE_TRUE) return S_SIEVE_FALSE;
  if (hr == S_SIEVE_FALSE) return S_SIEVE_TRUE;
  return hr;
}

HRESULT CMultiTest::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  ctx->line = m_nLine;
  if (m_pTests == nullptr) return S_OK;
  if (m_pTests->GetCount() == 0) return E_POINTER;
  if (ctx->depth > SIEVE_MAX_DEPTH) return E_SIEVE_TOO_DEEP;
  ++ctx->depth;
  // allof goes on while its tests are true, anyof while they are false.
  HRESULT goOn = m_nOperator == LOGIC_ALLOF ? S_SIEVE_TRUE : S_SIEVE_FALSE;
  HRESULT hr = goOn;
  for (void* pos = m_pTests->GetHeadPosition(); pos != nullptr && hr == goOn;)
    hr = m_pTests->GetNext(pos)->Execute(ctx);
  --ctx->depth;
  return hr;
}

// ---- tests over the message

HRESULT CTestSIZE::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  Enter(ctx, this);
  if (ctx->size == nullptr) return E_SIEVE_NO_VALUE_TEST_CALLBACK;
  return ctx->size(m_nOperator, m_nLimit, ctx->testUserData);
}

HRESULT CTestXSpamTest::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  Enter(ctx, this);
  if (ctx->xSpamTest == nullptr) return E_SIEVE_NO_VALUE_TEST_CALLBACK;
  return ctx->xSpamTest(m_nOperator, m_dValue, ctx->testUserData);
}

HRESULT CTestEXISTS::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  Enter(ctx, this);
  if (ctx->exists == nullptr) return E_SIEVE_NO_STRING_TEST_CALLBACK;
  return ctx->exists(m_ppNames, ctx->testUserData);
}

HRESULT CTestHEADER::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  Enter(ctx, this);
  if (ctx->header == nullptr) return E_SIEVE_NO_STRING_TEST_CALLBACK;
  return ctx->header(m_ppFirst, m_ppPatterns, m_nComparator, m_nMatchType, m_nRelational, ctx->testUserData);
}

HRESULT CTestADDRESS::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  Enter(ctx, this);
  if (ctx->address == nullptr) return E_SIEVE_NO_STRING_TEST_CALLBACK;
  return ctx->address(m_nAddressPart, m_ppFirst, m_ppPatterns, m_nComparator, m_nMatchType, m_nRelational,
                      ctx->testUserData);
}

HRESULT CTestENVELOPE::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  Enter(ctx, this);
  if (ctx->envelope == nullptr) return E_SIEVE_NO_STRING_TEST_CALLBACK;
  return ctx->envelope(m_nAddressPart, m_ppFirst, m_ppPatterns, m_nComparator, m_nMatchType, m_nRelational,
                       ctx->testUserData);
}

HRESULT CTestBODY::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  Enter(ctx, this);
  if (ctx->body == nullptr) return E_SIEVE_NO_STRING_TEST_CALLBACK;
  return ctx->body(static_cast<DWORD>(m_bTransform), m_ppFirst, m_ppPatterns, ctx->testUserData);
}

HRESULT CTestATTACHMENT::Execute(tag_SIEVE_INTERP_CTXT* ctx) const {
  Enter(ctx, this);
  if (ctx->attachment == nullptr) return E_SIEVE_NO_STRING_TEST_CALLBACK;
  return ctx->attachment(m_ppPatterns, ctx->testUserData);
}
