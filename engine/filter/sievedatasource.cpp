// The abstract filter-script store: caches, error description, defaults.
#include "filter/sievedatasource.h"

#include "foundation/results.h"

namespace telsor {

CCPCriticalSection _crit;

namespace {

class CritLock {
 public:
  CritLock() { _crit.Lock(); }
  ~CritLock() { _crit.Unlock(); }
  CritLock(const CritLock&) = delete;
  CritLock& operator=(const CritLock&) = delete;
};

}  // namespace

CCacheItemLSI::~CCacheItemLSI() { m_list.RemoveAll(); }

CCacheItemCompiledSS::~CCacheItemCompiledSS() {}

CSieveDataSource::CSieveDataSource(int listCapacity, int compiledCapacity)
    : m_cacheLSI(static_cast<DWORD>(listCapacity), 1), m_cacheCompiled(static_cast<DWORD>(compiledCapacity), 1) {}

CSieveDataSource::~CSieveDataSource() {}

HRESULT CSieveDataSource::GetScriptInfo(const char*, CScriptInfo&) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::GetListScriptInfo(CListSieveScriptInfo&, const char*, const char*) {
  return ERROR_NOT_SUPPORTED;
}
HRESULT CSieveDataSource::GetListScriptInfoUserDomain(CListSieveScriptInfo&) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::GetAllScriptInfo(CListSieveScriptInfo&) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::GetAllScriptStatsInfo(CListScriptStatsInfo&, int) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::AddScriptStatsInfo(CListScriptStatsInfo&) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::GetArchiveScriptInfo(CListArchiveScriptInfo&, SYSTEMTIME*) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::GetArchiveInfo(CListArchiveScriptInfo&, CListArchiveKirsaDefInfo&,
                                         CSharedObjPtr<CArchiveScaEngineInfo>&, SYSTEMTIME*) {
  return ERROR_NOT_SUPPORTED;
}
HRESULT CSieveDataSource::GetArchiveInfo2(CListArchiveScriptInfo&, CListArchiveKirsaDefInfo&,
                                          CSharedObjPtr<CArchiveScaEngineInfo>&, const char*, SYSTEMTIME*) {
  return ERROR_NOT_SUPPORTED;
}
HRESULT CSieveDataSource::GetArchiveLatestScriptInfo(CListArchiveScriptInfo&) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::GetArchiveLatestInfo(CListArchiveScriptInfo&, CListArchiveKirsaDefInfo&,
                                               CSharedObjPtr<CArchiveScaEngineInfo>&) {
  return ERROR_NOT_SUPPORTED;
}
HRESULT CSieveDataSource::RestoreScriptInfo(ULONG) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::GetArchiveScriptContent(ULONG, TSTRING&) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::AutoUpdate(CArchiveScriptInfo&, TSTRING&, int) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::GetArchiveKirsaDefContent(const char*, ULONG, ULONG, CSharedObjPtr<CSharedTmpFile>&) {
  return ERROR_NOT_SUPPORTED;
}
HRESULT CSieveDataSource::UpdateKirsaDefFile(ULONG, const char*) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::GetArchiveScaEngineContent(const char*, ULONG, ULONG, ULONG,
                                                     CSharedObjPtr<CSharedTmpFile>&) {
  return ERROR_NOT_SUPPORTED;
}
HRESULT CSieveDataSource::UpdateScaEngineFile(ULONG, const char*) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::GetCompiledScript(const char*, CSieveScript&) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::GetScriptContent(const char*, TSTRING&) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::PutScriptContent(const char*, const char*, ULONG) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::UpdateScripInfo(CScriptInfo&) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::EnableScript(const char*, int) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::NewScript(CScriptInfo&, const char*, const char*, const char*) {
  return ERROR_NOT_SUPPORTED;
}
HRESULT CSieveDataSource::LinkScriptToDomainUser(const char*, const char*, const char*) {
  return ERROR_NOT_SUPPORTED;
}
HRESULT CSieveDataSource::UnlinkScriptToDomainUser(const char*, const char*, const char*) {
  return ERROR_NOT_SUPPORTED;
}
HRESULT CSieveDataSource::DeleteScript(const char*) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::MoveScript(const char*, int, const char*, const char*) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::CleanupArchive(ULONG) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::DeleteArchiveRecord(ULONG) { return ERROR_NOT_SUPPORTED; }
HRESULT CSieveDataSource::CleanupCatalog(ULONG) { return ERROR_NOT_SUPPORTED; }

HRESULT CSieveDataSource::ClearCacheAllScriptInfo() {
  m_cacheLSI.ClearCache();
  return S_OK;
}

HRESULT CSieveDataSource::ClearCacheScriptContent(const char* id) {
  m_cacheCompiled.ClearItem(TSTRING(id));
  return S_OK;
}

TSTRING CSieveDataSource::GetErrDescription() const {
  CritLock lock;
  return m_strErrDescription;
}

void CSieveDataSource::PutErrDescription(const char* text) {
  CritLock lock;
  m_strErrDescription = text;
}

}  // namespace telsor
