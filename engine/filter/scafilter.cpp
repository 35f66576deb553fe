#include "filter/scafilter.h"

#include <float.h>

#include "filter/scaerror.h"
#include "filter/scamisc.h"
#include "filter/scriptinfo.h"
#include "filter/sievescript.h"
#include "foundation/errorroad.h"

namespace telsor {

CScaFilter::CScaFilter(const CMailClassifier& classifier)
    : m_classifier(classifier),
      m_bScoreComputed(false),
      m_dSpamValue(0.0),
      m_bFileinto(false),
      m_bReject(false),
      m_bDiscard(false),
      m_bRedirect(false),
      m_bKeep(false),
      m_bStop(false) {}

CScaFilter::~CScaFilter() {}

void CScaFilter::ResetActionFlags() {
  m_bFileinto = m_bReject = m_bDiscard = m_bRedirect = m_bKeep = m_bStop = false;
}

bool CScaFilter::IsAnyActionFired() const {
  return m_bFileinto || m_bReject || m_bDiscard || m_bRedirect || m_bKeep || m_bStop;
}

HRESULT CScaFilter::ActionRedirect(SIEVE_STRINGS targets) {
  if (targets != nullptr) m_bRedirect = true;
  return S_OK;
}

HRESULT CScaFilter::ActionReject(const char*) {
  m_bReject = true;
  return S_OK;
}

HRESULT CScaFilter::ActionFileinto(SIEVE_STRINGS targets) {
  if (targets != nullptr) m_bFileinto = true;
  return S_OK;
}

HRESULT CScaFilter::ActionDiscard() {
  m_bDiscard = true;
  return S_OK;
}

HRESULT CScaFilter::ActionKeep() {
  m_bKeep = true;
  return S_OK;
}

void CScaFilter::ActionStop() { m_bStop = true; }

double CScaFilter::XSpamTest() {
  if (!m_bScoreComputed) {
    m_dSpamValue = DBL_MAX;
    if (CRfc822Message* message = GetMessage()) {
      HRESULT hr = ResultOfCall([&] { return m_classifier.ExtractFeatures(m_extractor, *message, GetEnvelope()); });
      if (hr != S_OK) ThrowError(QOR_ERROR_CLASSIFY, static_cast<DWORD>(hr), "Failed to extract mail features.");
      m_dSpamValue = m_classifier.ClassifySpam(m_extractor, nullptr);
    }
    m_bScoreComputed = true;
  }
  if (m_dSpamValue == DBL_MAX) ThrowError(QOR_ERROR_CLASSIFY, 0, "Failed to classify spam.");
  return m_dSpamValue;
}

double CScaFilter::CategoryTest(ULONG category) {
  try {
    XSpamTest();
  } catch (...) {
    ResultOfCurrentException();
    return DBL_MAX;
  }
  return m_classifier.ClassifyCategory(m_extractor, category, nullptr);
}

namespace {

// A filter that could not be set up for the message: want of memory is the
// engine's memory exception, anything else the message's binding failure.
void ThrowIfNotBound(HRESULT hr) {
  if (hr == S_OK) return;
  if (hr == ResultFromSystemError(ERROR_NOT_ENOUGH_MEMORY) || hr == E_OUTOFMEMORY) AfxThrowMemoryException();
  ThrowError(QOR_ERROR_MESSAGE, static_cast<DWORD>(hr), "Unable assign message content.");
}

// Runs the enabled scripts of the catalogue over the filter's message; the
// category of the last script run.
DWORD RunScripts(CSieveDataSource& store, CScaFilter& filter) {
  DWORD category = 0;
  CListSieveScriptInfo scripts(10);
  HRESULT hr = store.GetListScriptInfo(scripts, nullptr, nullptr);
  if (hr != S_OK) ThrowError(QOR_ERROR_SCRIPT_LIST, static_cast<DWORD>(hr), "Failed to get script list.");
  const DWORD engineVersion = CSieveScript::GetEngineVersion();
  for (void* pos = scripts.GetHeadPosition(); pos != nullptr;) {
    const CScriptInfo& info = *scripts.GetNext(pos);
    if (!info.m_bEnabled || info.m_dwRequiredVersion > engineVersion) continue;
    CSieveScript script;
    if (store.GetCompiledScript(info.m_strID.c_str(), script) != S_OK) continue;
    category = info.m_dwCategory;
    filter.ResetActionFlags();
    if (filter.Execute(script) == S_OK && filter.IsFinalActionTaken()) break;
  }
  return category;
}

}  // namespace

void SpamTestMessage(CScaModule& module, CRfc822Message& message, int32_t threshold, uintptr_t,
                     int32_t* score, SQorCategoryScore* categories) {
  CScaFilter filter(module.GetMailClassifier());
  ThrowIfNotBound(filter.Initialize(module.GetTempDirectory()));
  CRfc822Fields envelope;
  ThrowIfNotBound(filter.SetMessage(&message, &envelope));
  const DWORD category = RunScripts(*module.GetSieveDataSource(), filter);

  int32_t result;
  SQorCategoryScore entries;
  if (filter.IsAnyActionFired()) {
    if (filter.IsDiscarded()) {
      result = 1000;
      Misc::SetCategorySelectedBySieve(&entries, category);
    } else {
      result = -1000;
      Misc::InitCategoryScore(QOR_NO_SCORE, &entries);
    }
  } else {
    result = Misc::ConvertScore(filter.XSpamTest());
    Misc::InitCategoryScore(QOR_NO_SCORE, &entries);
    if (categories != nullptr && result > threshold) {
      for (DWORD id : Misc::kCategoryIds)
        *Misc::CategoryEntry(&entries, id) = Misc::ConvertScoreNoThrow(filter.CategoryTest(id));
    }
  }
  if (score != nullptr) *score = result;
  if (categories != nullptr) *categories = entries;
}

}  // namespace telsor
