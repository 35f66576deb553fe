// A CNameValueStorage kept as an INI text file.
//
//   CIniFile ini;
//   char error[256];
//   DWORD rc = ini.Load("/data/QorDat.bin", error, sizeof error);
//   // 0: loaded; (DWORD)-1: syntax error, text in error, e.g.
//   // "[2] syntax error : '=' missing" (0-based line index); else errno.
//   TSTRING n;
//   ini.GetValue("UpdateNumber", n, "Information");
//
// Accepted lines (blanks and tabs around are ignored): empty; "; comment";
// "[ section ]" (text after the last ']' ignored, "[]" is the nameless
// section); "name = value" or name = "value" (the quotes kept the inner text
// as is). Lines before the section header belong to the nameless section.
// Load adds to what the store holds; a failed load keeps the pairs read
// before the bad line.
//
// Save writes every section as
//   "\n;**********************************\n[ name ]\n"
//   ";**********************************\n\n"
// and then one `name = "value"` line per pair (values are not escaped).
#ifndef TELSOR_FOUNDATION_INIFILE_H
#define TELSOR_FOUNDATION_INIFILE_H

#include <stdio.h>

#include "foundation/namevaluestorage.h"

namespace telsor {

class CIniFile : public CNameValueStorage {
 public:
  // 0, (DWORD)-1 on a syntax error, or errno when the file cannot be
  // opened or read. errorText (when errorText and size are non-zero) is
  // emptied first and always left terminated.
  DWORD Load(const char* path, char* errorText, UINT errorTextSize) override;
  // 0, or errno of the failed create, write or close. The data source stays.
  DWORD Save(const char* path, char* errorText, UINT errorTextSize) override;
  // Modification time of the data source (seconds since 1970); 0, or errno
  // when it cannot be examined.
  DWORD GetTimeLastUpdateDataSrc(LONG& time) override;

  // Reads one line of any length, without its newline and trimmed of blanks
  // and tabs (a carriage return before the newline stays). 1 when anything
  // was read, 0 at the end of the file.
  static int GetLine(FILE* file, TSTRING& line);

 private:
  bool ParseLine(const TSTRING& line, int index, TSTRING& section, char* errorText,
                 UINT errorTextSize);
};

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_INIFILE_H
