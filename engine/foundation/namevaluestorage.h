// Settings as named sections of name/value pairs, behind one lock.
//
//   CNameValueStorage store;
//   store.Insert("Port", "25", "Main");        // section created on demand
//   store.Insert("port", "2525", "main");      // same pair: value replaced,
//                                              // spelling "Port" kept
//   TSTRING v;
//   if (store.GetValue("PORT", v, "Main")) puts(v.c_str());   // "2525"
//
// Section and name lookups ignore letter case; sections and the pairs of a
// section are kept in that case-insensitive order. A null section means the
// nameless section (""). CIniFile (inifile.h) keeps a store in an INI file.
//
// Threads: every public operation holds the store's recursive lock for its
// whole run, enumeration callbacks included, so a callback may call back
// into the same store on the same thread (even change it: the walk goes on
// after the key it last reported).
#ifndef TELSOR_FOUNDATION_NAMEVALUESTORAGE_H
#define TELSOR_FOUNDATION_NAMEVALUESTORAGE_H

#include <map>

#include "foundation/cpcriticalsection.h"
#include "foundation/obj.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"

namespace telsor {

// Orders texts without regard to letter case; texts equal up to case are
// one key.
struct CNoCaseCompare {
  bool operator()(const TSTRING& a, const TSTRING& b) const {
    return lstrcmpiA(a.c_str(), b.c_str()) < 0;
  }
};

// The pairs of one section: name -> value.
class CMapNameValue : public std::map<TSTRING, TSTRING, CNoCaseCompare> {};

// Enumeration callbacks: a non-zero result stops the walk and is returned.
typedef DWORD (*LPENUMSECTIONNAMES)(const char* section, void* context);
typedef DWORD (*LPENUMSECTION)(const char* name, const char* value, void* context);

class CNameValueStorage : public CObj {
 public:
  CNameValueStorage();
  ~CNameValueStorage() override;
  CNameValueStorage(const CNameValueStorage&) = delete;
  CNameValueStorage& operator=(const CNameValueStorage&) = delete;

  // The base store has no data source of its own: Load empties errorText
  // (when errorText and size are non-zero), remembers path and returns 0;
  // Save does nothing and returns 0; GetTimeLastUpdateDataSrc gives 0.
  virtual DWORD Load(const char* path, char* errorText, UINT errorTextSize);
  virtual DWORD Save(const char* path, char* errorText, UINT errorTextSize);
  virtual DWORD GetTimeLastUpdateDataSrc(LONG& time);

  // The path given to the last Load.
  TSTRING GetDataSrc();

  // 1 and value set when the pair exists; 0 and value untouched otherwise.
  BOOL GetValue(const char* name, TSTRING& value, const char* section);
  // Adds the pair or replaces the value of the existing name; returns 1
  // (0 for a null name). A null value is stored as "".
  BOOL Insert(const char* name, const char* value, const char* section);
  // A null name removes the whole section. Returns 1 when something was
  // removed. A section left without pairs goes too.
  BOOL Remove(const char* name, const char* section);
  // Files the old section's pairs under newName, merging into an existing
  // section of that name (the moved values win). 0 when oldName is missing.
  BOOL RenameSection(const char* oldName, const char* newName);

  DWORD EnumSectionNames(LPENUMSECTIONNAMES callback, void* context);
  // 0 without a call when the section is missing.
  DWORD EnumSection(const char* section, LPENUMSECTION callback, void* context);

  void Clear();
  BOOL IsEmpty();

 protected:
  typedef std::map<TSTRING, CMapNameValue, CNoCaseCompare> CSectionMap;

  CCPCriticalSection m_lock;
  CSectionMap m_sections;
  TSTRING m_strDataSrc;
};

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_NAMEVALUESTORAGE_H
