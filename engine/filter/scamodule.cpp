#include "filter/scamodule.h"

#include "filter/scaerror.h"
#include "filter/scamisc.h"
#include "filter/sievexml.h"
#include "foundation/errorroad.h"
#include "foundation/throwcode.h"

namespace telsor {

CScaModuleImpl* CScaModuleImpl::ms_poSingleton = nullptr;
CCPCriticalSection CScaModuleImpl::ms_oSingletonCrit;

namespace {

// Holds the instance mutex for a scope; a mutex that cannot be taken is a
// bare 0.
class CSingletonLock {
 public:
  explicit CSingletonLock(CCPCriticalSection& crit) : m_crit(crit) {
    if (!m_crit.Lock()) ThrowCode(0);
  }
  ~CSingletonLock() { m_crit.Unlock(); }
  CSingletonLock(const CSingletonLock&) = delete;
  CSingletonLock& operator=(const CSingletonLock&) = delete;

 private:
  CCPCriticalSection& m_crit;
};

}  // namespace

CScaModuleImpl::CScaModuleImpl() : m_pHost(nullptr) {}

CScaModuleImpl::~CScaModuleImpl() {
  m_pDataSource.reset();
  m_strDataDir.Release();
  m_strTempDir.Release();
}

CScaModuleImpl* CScaModuleImpl::CreateInstance(const char* dataDir, const char* tempDir, void* host) {
  CSingletonLock lock(ms_oSingletonCrit);
  if (ms_poSingleton == nullptr) {
    std::unique_ptr<CScaModuleImpl> created(WithMemoryException([] { return new CScaModuleImpl; }));
    created->Init(dataDir, tempDir, host);
    ms_poSingleton = created.release();
  }
  return ms_poSingleton;
}

void CScaModuleImpl::DestroyInstance() {
  CSingletonLock lock(ms_oSingletonCrit);
  std::unique_ptr<CScaModuleImpl> gone(ms_poSingleton);
  ms_poSingleton = nullptr;
}

void CScaModuleImpl::Init(const char* dataDir, const char* tempDir, void* host) {
  // One folder name for every file in it: the catalogue and the classifier
  // files are looked for in the same place.
  m_strDataDir = CSieveXML::TrimFolderName(dataDir);
  m_strTempDir = tempDir;
  m_pHost = host;
  TSTRING spamFile;
  Misc::CombinePathName(m_strDataDir, TSTRING("Qor.bin"), spamFile);
  m_classifier.LoadData(spamFile.c_str());
  std::unique_ptr<CSieveXML> store(WithMemoryException([] { return new CSieveXML; }));
  DWORD rc = store->Initialize(m_strDataDir.c_str(), nullptr);
  if (rc != 0) ThrowError(QOR_ERROR_DATABASE, rc, "Failed to initialize database.");
  m_pDataSource = std::move(store);
}

TSTRING CScaModuleImpl::BuildConnectionString(const char* dataDir) {
  TSTRING path;
  Misc::CombinePathName(CSieveXML::TrimFolderName(dataDir), TSTRING("QorDat.bin"), path);
  return path;
}

ULONG CScaModuleImpl::GetClassifierFileUpdateNumber(const char* dataDir, ULONG category) {
  TSTRING path;
  Misc::CombinePathName(CSieveXML::TrimFolderName(dataDir), TSTRING("Qor.bin"), path);
  ULONG number = CMailClassifier::NO_UPDATE_NUMBER;
  if (CMailClassifier::GetUpdateNumber(path.c_str(), category, &number) != 0) return 0xFFFFFFFFu;
  return number;
}

CScaModule::CScaModule(const char* dataDir, const char* tempDir, void* host) : m_pImpl(nullptr) {
  m_pImpl = CScaModuleImpl::CreateInstance(dataDir, tempDir, host);
}

}  // namespace telsor
