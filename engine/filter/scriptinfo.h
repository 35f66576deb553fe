// The records of the filter-script store: CScriptInfo (the catalogue record
// of one script), its archive variant, the statistics record, the lists that
// carry them, and CKeyLSI, the (user, domain) key of cached record lists.
//
//   CSharedObjPtr<CScriptInfo> info = new CScriptInfo;   // required version 2, disabled
//   info->m_strID = "AB1";
//   info->m_dwCategory = 36;
//   CListSieveScriptInfo list;                            // node block of 10
//   list.AddTail(info);                                   // the list shares the record
//   CKeyLSI a("ALICE", "example"), b("alice", "EXAMPLE");  // the same key
//
// Records are reference counted (CSharedObj): every holder of a list fetched
// from a cache sees the same record objects, and the count changes
// atomically. The fields themselves are not locked: a record is filled by
// its store before it is shared and then only read (a host in the same
// process may set the enabled flag).
#ifndef TELSOR_FILTER_SCRIPTINFO_H
#define TELSOR_FILTER_SCRIPTINFO_H

#include "foundation/obj.h"
#include "foundation/plist.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"

namespace telsor {

class CScriptInfo : public CSharedObj {
 public:
  static constexpr DWORD DEFAULT_REQUIRED_VERSION = 2;

  CScriptInfo();
  // A new record with its own reference count and the other's fields.
  CScriptInfo(const CScriptInfo& other);
  ~CScriptInfo() override;
  CScriptInfo& operator=(const CScriptInfo& other);
  // Copies all thirteen fields; the reference count stays.
  void Assign(const CScriptInfo& other);

  // Identifier and sixth string without regard to case, the other strings
  // with regard to it, the numbers exactly, enabled as a truth value, the
  // last update byte for byte.
  bool operator==(const CScriptInfo& other) const;
  bool operator!=(const CScriptInfo& other) const { return !(*this == other); }

  TSTRING m_strID;           // upper case in records read from a catalogue
  TSTRING m_strName;         // "NAME"
  TSTRING m_strDescription;  // "DESCRIPTION"
  TSTRING m_strContributor;  // "CONTRIBUTOR"
  TSTRING m_strFifth;        // not filled here; compared with regard to case
  TSTRING m_strSixth;        // not filled here; compared without regard to case
  DWORD m_dwUpdateNumber;    // "USN"
  DWORD m_dwVendor;          // "VENDOR"
  DWORD m_dwFlags;           // "FLAGS"
  DWORD m_dwCategory;        // "CATEGORY": 33 hoax, 34 adult, 36 money, 37 goods, 38 health
  DWORD m_dwRequiredVersion; // "REQVER"; records above the engine's version are not run
  BOOL m_bEnabled;           // the pipeline runs only enabled scripts
  SYSTEMTIME m_stLastUpdate; // "LUD" date and "LUT" time; day of week 0
};

class CArchiveScriptInfo : public CScriptInfo {
 public:
  CArchiveScriptInfo();
  ~CArchiveScriptInfo() override;

  DWORD m_dwArchiveNumber;
  SYSTEMTIME m_stArchived;
};

class CScriptStatsInfo : public CSharedObj {
 public:
  CScriptStatsInfo();
  ~CScriptStatsInfo() override;

  TSTRING m_strID;
  DWORD m_dwValue;
  BYTE m_abyBlock16[16];
  BYTE m_abyBlock8[8];
  DWORD m_dwFirst;
  DWORD m_dwSecond;
};

// Lists of shared records; the store's lists take nodes in blocks of 10.
class CListSieveScriptInfo : public CPList<CSharedObjPtr<CScriptInfo>, const CSharedObjPtr<CScriptInfo>&> {
 public:
  explicit CListSieveScriptInfo(int blockSize = 10) : CPList(blockSize) {}
};
class CListScriptStatsInfo
    : public CPList<CSharedObjPtr<CScriptStatsInfo>, const CSharedObjPtr<CScriptStatsInfo>&> {
 public:
  explicit CListScriptStatsInfo(int blockSize = 10) : CPList(blockSize) {}
};
class CListArchiveScriptInfo
    : public CPList<CSharedObjPtr<CArchiveScriptInfo>, const CSharedObjPtr<CArchiveScriptInfo>&> {
 public:
  explicit CListArchiveScriptInfo(int blockSize = 10) : CPList(blockSize) {}
};
class CListArchiveKirsaDefInfo
    : public CPList<CSharedObjPtr<CArchiveScriptInfo>, const CSharedObjPtr<CArchiveScriptInfo>&> {
 public:
  explicit CListArchiveKirsaDefInfo(int blockSize = 10) : CPList(blockSize) {}
};

// The key of a cached record list: user, then domain, each ordered without
// regard to case, so keys that differ only in case are one key. A null
// user or domain is the empty string.
class CKeyLSI {
 public:
  CKeyLSI() {}
  CKeyLSI(const char* user, const char* domain) : m_strUser(user), m_strDomain(domain) {}
  bool operator<(const CKeyLSI& other) const;

  TSTRING m_strUser;
  TSTRING m_strDomain;
};

}  // namespace telsor

#endif  // TELSOR_FILTER_SCRIPTINFO_H
