// CSharedTmpFile: a reference-counted file name with a delete flag. Files
// that the engine makes itself carry the flag and disappear with their last
// reference, wherever it ended up; a caller's message file is wrapped with
// the flag clear and never removed.
//
//   const char* dir = "/tmp";
//   CSharedObjPtr<CSharedTmpFile> mine = CSharedTmpFile::Create(dir, "BDY");
//   // dir/BDY<hex>.tmp exists, empty
//   const char* path = "/var/spool/in/msg.eml";   // the caller's own file
//   CSharedObjPtr<CSharedTmpFile> theirs = new CSharedTmpFile(path, FALSE);
//   mine = nullptr;      // the last reference: the file is removed
//   theirs = nullptr;    // path stays
//
// Names are the directory, one "/", the first three characters of the
// prefix, a random number in lower-case hexadecimal and ".tmp"; each file is
// created exclusively (mode 0600), so names stay unique across threads and
// processes without a lock. Reference counts change atomically: the last
// holder may be on any thread.
#ifndef TELSOR_MIME_SHAREDTMPFILE_H
#define TELSOR_MIME_SHAREDTMPFILE_H

#include "foundation/obj.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"

namespace telsor {

class CSharedTmpFile : public CSharedObj {
 public:
  // Holds a copy of name (null when name is null or the copy failed).
  CSharedTmpFile(const char* name, BOOL deleteFile);
  // Removes the file when the delete flag is set and the name is not empty.
  ~CSharedTmpFile() override;

  // The path, or null.
  const char* GetFileName() const { return m_pszFileName; }
  BOOL GetDeleteFlag() const { return m_bDeleteFile; }

  // A new, empty file in directory with the delete flag set. Throws the
  // system error number as DWORD when none can be made; an empty directory
  // or the root directory is refused (ENOENT).
  static CSharedObjPtr<CSharedTmpFile> Create(const char* directory, const char* prefix);

  CSharedTmpFile(const CSharedTmpFile&) = delete;
  CSharedTmpFile& operator=(const CSharedTmpFile&) = delete;

 private:
  char* m_pszFileName;
  BOOL m_bDeleteFile;
};

// Makes a new, empty file with a unique name in directory (see above) and
// returns its descriptor, open for writing; name receives the path. Throws
// the system error number as DWORD.
int CreateUniqueTmpFile(const char* directory, const char* prefix, TSTRING& name);

// folder := the system's temporary folder (GetTempPath: TMP, TEMP,
// "/var/tmp/" or the current folder, ending in "/"). 0, or the system error
// number that kept it from being found (never 0); folder is then unchanged.
DWORD GetSystemTempFolder(TSTRING& folder);

}  // namespace telsor

#endif  // TELSOR_MIME_SHAREDTMPFILE_H
