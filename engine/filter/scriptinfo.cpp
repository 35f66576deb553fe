// Records of the filter-script store.
#include "filter/scriptinfo.h"

#include <string.h>
#include <strings.h>

#include "foundation/win32.h"

namespace telsor {

CScriptInfo::CScriptInfo()
    : m_dwUpdateNumber(0),
      m_dwVendor(0),
      m_dwFlags(0),
      m_dwCategory(0),
      m_dwRequiredVersion(DEFAULT_REQUIRED_VERSION),
      m_bEnabled(0),
      m_stLastUpdate() {}

CScriptInfo::CScriptInfo(const CScriptInfo& other) : CSharedObj() { Assign(other); }

CScriptInfo::~CScriptInfo() {}

CScriptInfo& CScriptInfo::operator=(const CScriptInfo& other) {
  Assign(other);
  return *this;
}

void CScriptInfo::Assign(const CScriptInfo& other) {
  m_strID = other.m_strID;
  m_strName = other.m_strName;
  m_strDescription = other.m_strDescription;
  m_strContributor = other.m_strContributor;
  m_strFifth = other.m_strFifth;
  m_strSixth = other.m_strSixth;
  m_dwUpdateNumber = other.m_dwUpdateNumber;
  m_dwVendor = other.m_dwVendor;
  m_dwFlags = other.m_dwFlags;
  m_dwCategory = other.m_dwCategory;
  m_dwRequiredVersion = other.m_dwRequiredVersion;
  m_bEnabled = other.m_bEnabled;
  m_stLastUpdate = other.m_stLastUpdate;
}

bool CScriptInfo::operator==(const CScriptInfo& other) const {
  return lstrcmpiA(m_strID, other.m_strID) == 0 && lstrcmpA(m_strName, other.m_strName) == 0 &&
         lstrcmpA(m_strDescription, other.m_strDescription) == 0 &&
         lstrcmpA(m_strContributor, other.m_strContributor) == 0 && lstrcmpA(m_strFifth, other.m_strFifth) == 0 &&
         lstrcmpiA(m_strSixth, other.m_strSixth) == 0 && m_dwUpdateNumber == other.m_dwUpdateNumber &&
         m_dwVendor == other.m_dwVendor && m_dwFlags == other.m_dwFlags && m_dwCategory == other.m_dwCategory &&
         m_dwRequiredVersion == other.m_dwRequiredVersion && (m_bEnabled != 0) == (other.m_bEnabled != 0) &&
         memcmp(&m_stLastUpdate, &other.m_stLastUpdate, sizeof m_stLastUpdate) == 0;
}

CArchiveScriptInfo::CArchiveScriptInfo() : m_dwArchiveNumber(0), m_stArchived() {}

CArchiveScriptInfo::~CArchiveScriptInfo() {}

CScriptStatsInfo::CScriptStatsInfo()
    : m_dwValue(0), m_abyBlock16(), m_abyBlock8(), m_dwFirst(0), m_dwSecond(0) {}

CScriptStatsInfo::~CScriptStatsInfo() {}

bool CKeyLSI::operator<(const CKeyLSI& other) const {
  const int user = strcasecmp(m_strUser.c_str(), other.m_strUser.c_str());
  if (user != 0) return user < 0;
  return strcasecmp(m_strDomain.c_str(), other.m_strDomain.c_str()) < 0;
}

}  // namespace telsor
