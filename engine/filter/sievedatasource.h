// CSieveDataSource: the abstract store of filter scripts that the engine and
// in-process hosts talk to. It owns the two script caches (record lists per
// (user, domain), compiled scripts per identifier) and the description of
// the last catalogue read that failed; every operation that a concrete store
// does not support returns ERROR_NOT_SUPPORTED (50) and changes nothing.
//
//   CSieveXML store;                         // a concrete store (the XML catalogue)
//   CListSieveScriptInfo scripts;
//   HRESULT hr = store.GetListScriptInfo(scripts, nullptr, nullptr);  // cached per user, domain
//   CSieveScript script;
//   hr = store.GetCompiledScript("AB1", script);   // compiled once, then from the cache
//   hr = store.ClearCacheScriptContent("AB1");     // upper case, as the cache keys it
//   TSTRING why = store.GetErrDescription();       // a copy, never cleared
//
// Caches: 'listCapacity' and 'compiledCapacity' slots, second-chance
// eviction, each cache behind its own reader/writer lock (lookups share it;
// inserts and clears take it alone). No cache lock is held while a file is
// read or a script compiled, and never both at once. Items are reference
// counted: an item replaced or evicted while a caller holds it lives until
// that caller lets it go. The error description is guarded by one lock for
// all stores of the process. All operations may run on several threads.
#ifndef TELSOR_FILTER_SIEVEDATASOURCE_H
#define TELSOR_FILTER_SIEVEDATASOURCE_H

#include "foundation/cachemgr.h"
#include "filter/scriptinfo.h"
#include "filter/sievescript.h"
#include "foundation/cpcriticalsection.h"
#include "foundation/obj.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "mime/sharedtmpfile.h"

namespace telsor {

// A cached record list: the catalogue's update number, the time its read
// started, and the records in catalogue order.
class CCacheItemLSI : public CSharedObj {
 public:
  CCacheItemLSI() : m_dwUpdateNumber(0), m_tRead(0), m_list(10) {}
  ~CCacheItemLSI() override;

  DWORD m_dwUpdateNumber;
  int32_t m_tRead;
  CListSieveScriptInfo m_list;
};

// A cached compiled script and the result of compiling it (0 or the
// parser's failure code; failures are cached too).
class CCacheItemCompiledSS : public CSharedObj {
 public:
  CCacheItemCompiledSS() : m_dwResult(0) {}
  ~CCacheItemCompiledSS() override;

  DWORD m_dwResult;
  CSieveScript m_script;
};

// Engine-file archive records: named by the store's signatures only.
class CArchiveScaEngineInfo : public CSharedObj {};

typedef CCacheMgr<CKeyLSI, const CKeyLSI&, CCacheItemLSI, NullObjProvider<const CKeyLSI&, CCacheItemLSI> >
    CCacheLSI;
typedef CCacheMgr<TSTRING, const TSTRING&, CCacheItemCompiledSS,
                  NullObjProvider<const TSTRING&, CCacheItemCompiledSS> >
    CCacheCompiledSS;

class CSieveDataSource {
 public:
  CSieveDataSource(int listCapacity, int compiledCapacity);
  virtual ~CSieveDataSource();
  CSieveDataSource(const CSieveDataSource&) = delete;
  CSieveDataSource& operator=(const CSieveDataSource&) = delete;

  [[nodiscard]] virtual HRESULT GetScriptInfo(const char* id, CScriptInfo& info);
  [[nodiscard]] virtual HRESULT GetListScriptInfo(CListSieveScriptInfo& list, const char* user, const char* domain);
  [[nodiscard]] virtual HRESULT GetListScriptInfoUserDomain(CListSieveScriptInfo& list);
  [[nodiscard]] virtual HRESULT GetAllScriptInfo(CListSieveScriptInfo& list);
  [[nodiscard]] virtual HRESULT GetAllScriptStatsInfo(CListScriptStatsInfo& list, int kind);
  [[nodiscard]] virtual HRESULT AddScriptStatsInfo(CListScriptStatsInfo& list);
  [[nodiscard]] virtual HRESULT GetArchiveScriptInfo(CListArchiveScriptInfo& list, SYSTEMTIME* when);
  [[nodiscard]] virtual HRESULT GetArchiveInfo(CListArchiveScriptInfo& scripts, CListArchiveKirsaDefInfo& definitions,
                                               CSharedObjPtr<CArchiveScaEngineInfo>& engine, SYSTEMTIME* when);
  [[nodiscard]] virtual HRESULT GetArchiveInfo2(CListArchiveScriptInfo& scripts, CListArchiveKirsaDefInfo& definitions,
                                                CSharedObjPtr<CArchiveScaEngineInfo>& engine, const char* version,
                                                SYSTEMTIME* when);
  [[nodiscard]] virtual HRESULT GetArchiveLatestScriptInfo(CListArchiveScriptInfo& list);
  [[nodiscard]] virtual HRESULT GetArchiveLatestInfo(CListArchiveScriptInfo& scripts,
                                                     CListArchiveKirsaDefInfo& definitions,
                                                     CSharedObjPtr<CArchiveScaEngineInfo>& engine);
  [[nodiscard]] virtual HRESULT RestoreScriptInfo(ULONG archive);
  [[nodiscard]] virtual HRESULT GetArchiveScriptContent(ULONG archive, TSTRING& text);
  [[nodiscard]] virtual HRESULT AutoUpdate(CArchiveScriptInfo& info, TSTRING& text, int flags);
  [[nodiscard]] virtual HRESULT GetArchiveKirsaDefContent(const char* name, ULONG first, ULONG second,
                                                          CSharedObjPtr<CSharedTmpFile>& file);
  [[nodiscard]] virtual HRESULT UpdateKirsaDefFile(ULONG number, const char* path);
  [[nodiscard]] virtual HRESULT GetArchiveScaEngineContent(const char* name, ULONG first, ULONG second, ULONG third,
                                                           CSharedObjPtr<CSharedTmpFile>& file);
  [[nodiscard]] virtual HRESULT UpdateScaEngineFile(ULONG number, const char* path);
  [[nodiscard]] virtual HRESULT GetCompiledScript(const char* id, CSieveScript& script);
  [[nodiscard]] virtual HRESULT GetScriptContent(const char* id, TSTRING& text);
  [[nodiscard]] virtual HRESULT PutScriptContent(const char* id, const char* text, ULONG length);
  [[nodiscard]] virtual HRESULT UpdateScripInfo(CScriptInfo& info);
  [[nodiscard]] virtual HRESULT EnableScript(const char* id, int enable);
  [[nodiscard]] virtual HRESULT NewScript(CScriptInfo& info, const char* text, const char* user, const char* domain);
  [[nodiscard]] virtual HRESULT LinkScriptToDomainUser(const char* id, const char* user, const char* domain);
  [[nodiscard]] virtual HRESULT UnlinkScriptToDomainUser(const char* id, const char* user, const char* domain);
  [[nodiscard]] virtual HRESULT DeleteScript(const char* id);
  [[nodiscard]] virtual HRESULT MoveScript(const char* id, int position, const char* user, const char* domain);
  // Drops every cached record list (the compiled scripts stay). 0.
  [[nodiscard]] virtual HRESULT ClearCacheAllScriptInfo();
  // Drops the compiled script cached under id, unchanged (null is ""). 0.
  [[nodiscard]] virtual HRESULT ClearCacheScriptContent(const char* id);
  [[nodiscard]] virtual HRESULT CleanupArchive(ULONG archive);
  [[nodiscard]] virtual HRESULT DeleteArchiveRecord(ULONG archive);
  [[nodiscard]] virtual HRESULT CleanupCatalog(ULONG flags);

  // The description of the last catalogue read that failed, as a copy.
  TSTRING GetErrDescription() const;
  void PutErrDescription(const char* text);

 protected:
  CCacheLSI m_cacheLSI;
  CCacheCompiledSS m_cacheCompiled;

 private:
  TSTRING m_strErrDescription;
};

// The lock of every store's error description.
extern CCPCriticalSection _crit;

}  // namespace telsor

#endif  // TELSOR_FILTER_SIEVEDATASOURCE_H
