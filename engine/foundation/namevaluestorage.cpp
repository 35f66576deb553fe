// Sections of name/value pairs behind one recursive lock.
#include "foundation/namevaluestorage.h"

#include <new>
#include <utility>

#include "foundation/errorroad.h"
#include "foundation/exception.h"

namespace telsor {

namespace {

const char* SectionName(const char* section) { return section != nullptr ? section : ""; }

}  // namespace

CNameValueStorage::CNameValueStorage() {}

CNameValueStorage::~CNameValueStorage() {}

DWORD CNameValueStorage::Load(const char* path, char* errorText, UINT errorTextSize) {
  CCPLockGuard lock(m_lock);
  if (errorText != nullptr && errorTextSize != 0) errorText[0] = '\0';
  m_strDataSrc = path;  // a null path leaves it empty
  return 0;
}

DWORD CNameValueStorage::Save(const char*, char*, UINT) { return 0; }

DWORD CNameValueStorage::GetTimeLastUpdateDataSrc(LONG& time) {
  time = 0;
  return 0;
}

TSTRING CNameValueStorage::GetDataSrc() {
  CCPLockGuard lock(m_lock);
  return m_strDataSrc;
}

BOOL CNameValueStorage::GetValue(const char* name, TSTRING& value, const char* section) {
  if (name == nullptr) return 0;
  CCPLockGuard lock(m_lock);
  CSectionMap::const_iterator s = m_sections.find(SectionName(section));
  if (s == m_sections.end()) return 0;
  CMapNameValue::const_iterator p = s->second.find(name);
  if (p == s->second.end()) return 0;
  value = p->second;
  return 1;
}

BOOL CNameValueStorage::Insert(const char* name, const char* value, const char* section) {
  if (name == nullptr) return 0;
  CCPLockGuard lock(m_lock);
  TSTRING key(SectionName(section)), text(value);
  CSectionMap::iterator s = m_sections.find(key);
  bool created = false;
  try {
    if (s == m_sections.end()) {
      s = m_sections.emplace(key, CMapNameValue()).first;
      created = true;
    }
    CMapNameValue::iterator p = s->second.find(name);
    if (p != s->second.end())
      p->second = text;  // the name keeps the spelling of its first insertion
    else
      s->second.emplace(name, text);
  } catch (const std::bad_alloc&) {
    if (created) m_sections.erase(s);  // no section stays without pairs
    AfxThrowMemoryException();
  }
  return 1;
}

BOOL CNameValueStorage::Remove(const char* name, const char* section) {
  CCPLockGuard lock(m_lock);
  CSectionMap::iterator s = m_sections.find(SectionName(section));
  if (s == m_sections.end()) return 0;
  if (name == nullptr) {
    m_sections.erase(s);
    return 1;
  }
  if (s->second.erase(name) == 0) return 0;
  if (s->second.empty()) m_sections.erase(s);
  return 1;
}

BOOL CNameValueStorage::RenameSection(const char* oldName, const char* newName) {
  CCPLockGuard lock(m_lock);
  TSTRING newKey(SectionName(newName));
  CSectionMap::iterator s = m_sections.find(SectionName(oldName));
  if (s == m_sections.end()) return 0;
  CSectionMap::node_type moved = m_sections.extract(s);
  moved.key() = newKey;
  WithMemoryException([&] {
    CSectionMap::iterator target = m_sections.find(moved.key());
    if (target == m_sections.end()) {
      m_sections.insert(std::move(moved));
      return;
    }
    CMapNameValue& pairs = target->second;
    for (const auto& pair : moved.mapped()) {
      CMapNameValue::iterator p = pairs.find(pair.first);
      if (p != pairs.end())
        p->second = pair.second;
      else
        pairs.emplace(pair.first, pair.second);
    }
  });
  return 1;
}

DWORD CNameValueStorage::EnumSectionNames(LPENUMSECTIONNAMES callback, void* context) {
  if (callback == nullptr) return 0;
  CCPLockGuard lock(m_lock);
  // The walk resumes after the key last reported, so a callback that
  // changes the store invalidates nothing.
  for (CSectionMap::iterator s = m_sections.begin(); s != m_sections.end();) {
    TSTRING name = s->first;
    DWORD result = callback(name.c_str(), context);
    if (result != 0) return result;
    s = m_sections.upper_bound(name);
  }
  return 0;
}

DWORD CNameValueStorage::EnumSection(const char* section, LPENUMSECTION callback, void* context) {
  if (callback == nullptr) return 0;
  CCPLockGuard lock(m_lock);
  TSTRING key(SectionName(section));
  CSectionMap::iterator s = m_sections.find(key);
  if (s == m_sections.end()) return 0;
  for (CMapNameValue::iterator p = s->second.begin(); p != s->second.end();) {
    TSTRING name = p->first;
    TSTRING value = p->second;
    DWORD result = callback(name.c_str(), value.c_str(), context);
    if (result != 0) return result;
    s = m_sections.find(key);
    if (s == m_sections.end()) break;
    p = s->second.upper_bound(name);
  }
  return 0;
}

void CNameValueStorage::Clear() {
  CCPLockGuard lock(m_lock);
  m_sections.clear();
}

BOOL CNameValueStorage::IsEmpty() {
  CCPLockGuard lock(m_lock);
  return m_sections.empty() ? 1 : 0;
}

}  // namespace telsor
