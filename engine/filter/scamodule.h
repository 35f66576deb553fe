// The process-wide engine instance and the handle through which spam tests
// and hosts in the same process reach it.
//
//   CScaModule module("/var/qor/data", "/var/qor/tmp", nullptr);   // creates it on first use
//   CSieveDataSource* store = module.GetSieveDataSource();
//   CListSieveScriptInfo scripts;
//   store->GetListScriptInfo(scripts, nullptr, nullptr);   // the records spam tests see
//   const CMailClassifier& classifier = module.GetMailClassifier();
//   CScaModuleImpl::DestroyInstance();                       // what QorEngineUninit does
//
// There is no start call. The first CScaModule (the exported spam tests
// build one per call) creates the instance under the instance mutex: it
// keeps the directories (the data directory trimmed of blanks and tabs at
// both ends, CSieveXML::TrimFolderName, which every path in it is made
// from) and the host pointer, loads the classifiers from "Qor.bin" in the
// data directory and the category files beside it (missing or refused ones
// leave that classifier empty) and opens the script store on the data
// directory. A store that cannot be opened fails the creation with code 11
// "Failed to initialize database." (the store's code as detail); nothing
// remains and the next call tries again with its own arguments. Later
// handles get the same instance and ignore their arguments until
// DestroyInstance, which hosts call only when no test is running; a handle
// never destroys the instance.
//
// Threads: the mutex is held while the instance is looked up, created or
// destroyed; creation takes the classifier's write lock inside it. What a
// handle reaches afterwards (store, classifier, directory) locks itself or
// is not changed while the instance lives.
#ifndef TELSOR_FILTER_SCAMODULE_H
#define TELSOR_FILTER_SCAMODULE_H

#include <memory>

#include "classify/mailclassifier.h"
#include "filter/sievedatasource.h"
#include "foundation/cpcriticalsection.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"

namespace telsor {

class CScaModuleImpl {
 public:
  CScaModuleImpl();
  ~CScaModuleImpl();
  CScaModuleImpl(const CScaModuleImpl&) = delete;
  CScaModuleImpl& operator=(const CScaModuleImpl&) = delete;

  // The instance, created when there is none (see above). Throws a bare 0
  // when the mutex cannot be taken, and what the creation throws.
  static CScaModuleImpl* CreateInstance(const char* dataDir, const char* tempDir, void* host);
  // Destroys the instance when there is one.
  static void DestroyInstance();

  void Init(const char* dataDir, const char* tempDir, void* host);

  CSieveDataSource* GetSieveDataSource() const { return m_pDataSource.get(); }
  const char* GetTempDirectory() const { return m_strTempDir.c_str(); }
  const char* GetDataDirectory() const { return m_strDataDir.c_str(); }
  void* GetHostPointer() const { return m_pHost; }
  CMailClassifier& GetMailClassifier() { return m_classifier; }

  // The path of "QorDat.bin" in dataDir (trimmed as the instance trims it).
  static TSTRING BuildConnectionString(const char* dataDir);
  // The update number of "Qor.bin" in dataDir (category 0) or of one
  // category file beside it; 0xFFFFFFFF when unknown, or when the file is
  // refused (it would not load).
  static ULONG GetClassifierFileUpdateNumber(const char* dataDir, ULONG category);

 private:
  std::unique_ptr<CSieveDataSource> m_pDataSource;
  CMailClassifier m_classifier;
  TSTRING m_strDataDir;
  TSTRING m_strTempDir;
  void* m_pHost;

  static CScaModuleImpl* ms_poSingleton;
  static CCPCriticalSection ms_oSingletonCrit;
};

class CScaModule {
 public:
  CScaModule(const char* dataDir, const char* tempDir, void* host);
  ~CScaModule() {}
  CScaModule(const CScaModule&) = delete;
  CScaModule& operator=(const CScaModule&) = delete;

  CSieveDataSource* GetSieveDataSource() const { return m_pImpl->GetSieveDataSource(); }
  const char* GetTempDirectory() const { return m_pImpl->GetTempDirectory(); }
  CMailClassifier& GetMailClassifier() const { return m_pImpl->GetMailClassifier(); }
  CScaModuleImpl* GetImpl() const { return m_pImpl; }

 private:
  CScaModuleImpl* m_pImpl;
};

}  // namespace telsor

#endif  // TELSOR_FILTER_SCAMODULE_H
