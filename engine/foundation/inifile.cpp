// INI text form of the name/value storage.
#include "foundation/inifile.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <memory>

namespace telsor {

namespace {

const char kBlanks[] = " \t";
const char kStars[] = ";**********************************\n";

struct CFileCloser {
  void operator()(FILE* f) const { fclose(f); }
};
typedef std::unique_ptr<FILE, CFileCloser> CFilePtr;

// errno of a failed call, never 0: a failure must not read as success.
DWORD LastErrno() { return errno != 0 ? static_cast<DWORD>(errno) : static_cast<DWORD>(EIO); }

void SyntaxError(char* errorText, UINT errorTextSize, int index, const char* what) {
  if (errorText == nullptr || errorTextSize == 0) return;
  snprintf(errorText, errorTextSize, "[%d] syntax error : %s", index, what);
  errorText[errorTextSize - 1] = '\0';
}

}  // namespace

int CIniFile::GetLine(FILE* file, TSTRING& line) {
  line.Release();
  char chunk[512];
  bool any = false;
  while (fgets(chunk, sizeof chunk, file) != nullptr) {
    any = true;
    int n = static_cast<int>(strlen(chunk));
    if (n > 0 && chunk[n - 1] == '\n') {
      line.ConcatInPlace(n - 1, chunk);
      break;
    }
    line.ConcatInPlace(n, chunk);
    if (n < static_cast<int>(sizeof chunk) - 1) break;  // the last line, without newline
  }
  AllTrim(line, kBlanks);
  return any ? 1 : 0;
}

bool CIniFile::ParseLine(const TSTRING& line, int index, TSTRING& section, char* errorText,
                         UINT errorTextSize) {
  if (line.IsEmpty() || line[0] == ';') return true;
  if (line[0] == '[') {
    int close = line.ReverseFind(']');
    if (close < 0) {
      SyntaxError(errorText, errorTextSize, index, "']' ");
      return false;
    }
    section = line.Mid(1, close - 1);
    AllTrim(section, kBlanks);
    return true;
  }
  int equals = line.Find('=');
  if (equals < 0) {
    SyntaxError(errorText, errorTextSize, index, "'=' missing");
    return false;
  }
  TSTRING name = line.Left(equals);
  TSTRING value = line.Mid(equals + 1);
  AllTrim(name, kBlanks);
  AllTrim(value, kBlanks);
  if (name.IsEmpty()) {
    SyntaxError(errorText, errorTextSize, index, "name expected");
    return false;
  }
  if (!value.IsEmpty() && value[0] == '"') {
    int length = value.GetLength();
    if (length < 2 || value[length - 1] != '"') {
      SyntaxError(errorText, errorTextSize, index, "terminated '\"' is missing");
      return false;
    }
    value = value.Mid(1, length - 2);
  }
  Insert(name, value, section);
  return true;
}

DWORD CIniFile::Load(const char* path, char* errorText, UINT errorTextSize) {
  CCPLockGuard lock(m_lock);
  CNameValueStorage::Load(path, errorText, errorTextSize);
  errno = 0;
  CFilePtr file(fopen(path != nullptr ? path : "", "rt"));
  if (!file) return LastErrno();
  TSTRING section, line;
  for (int index = 0; GetLine(file.get(), line); ++index)
    if (!ParseLine(line, index, section, errorText, errorTextSize)) return static_cast<DWORD>(-1);
  // A read error (a directory, a failing disk) is not a complete file.
  if (ferror(file.get())) return LastErrno();
  return 0;
}

DWORD CIniFile::Save(const char* path, char* errorText, UINT errorTextSize) {
  CCPLockGuard lock(m_lock);
  if (errorText != nullptr && errorTextSize != 0) errorText[0] = '\0';
  errno = 0;
  FILE* file = fopen(path != nullptr ? path : "", "wt");
  if (file == nullptr) return LastErrno();
  // Every write is checked, and the close too: a full disk shows at the
  // latest when the buffer is flushed there.
  DWORD result = 0;
  for (CSectionMap::const_iterator s = m_sections.begin(); s != m_sections.end() && result == 0;
       ++s) {
    if (fprintf(file, "\n%s[ %s ]\n%s\n", kStars, s->first.c_str(), kStars) < 0) {
      result = LastErrno();
      break;
    }
    for (CMapNameValue::const_iterator p = s->second.begin(); p != s->second.end(); ++p) {
      if (fprintf(file, "%s = \"%s\"\n", p->first.c_str(), p->second.c_str()) < 0) {
        result = LastErrno();
        break;
      }
    }
  }
  if (fclose(file) != 0 && result == 0) result = LastErrno();
  return result;
}

DWORD CIniFile::GetTimeLastUpdateDataSrc(LONG& time) {
  CCPLockGuard lock(m_lock);
  struct stat info;
  errno = 0;
  if (stat(m_strDataSrc.c_str(), &info) != 0) return LastErrno();
  time = static_cast<LONG>(info.st_mtime);
  return 0;
}

}  // namespace telsor
