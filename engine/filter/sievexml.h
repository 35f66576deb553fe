// CSieveXML: the file-based filter-script store. The catalogue
// "SieveCatalog.xml" lists one record per script (and may carry each
// script's encoded text in a CDATA section); script files "T<ID>.dat" hold
// the texts, each byte XORed with its position's low 8 bits and written as
// Base64.
//
//   CSieveXML store;
//   if (store.Initialize("/data", nullptr) != 0) return E_FAIL;   // 3: a directory is unusable
//   CListSieveScriptInfo scripts;
//   HRESULT hr = store.GetListScriptInfo(scripts, nullptr, nullptr);
//   // 0; E_SIEVE_OPEN_FAILED without a catalogue (or when it is no regular
//   // file); E_SIEVE_EXCEPTION (0xE00A0032) for a broken one, with the
//   // parser's message, line and column in GetErrDescription()
//   CSieveScript script;
//   hr = store.GetCompiledScript("ab1", script);   // TAB1.dat, compiled once, cached
//
// The catalogue is data, not a document with a type: a DOCTYPE is an error,
// so no entity is declared or expanded and no DTD is loaded; the store
// opens the catalogue itself (a regular file only) and the parser reads
// that descriptor and opens no file or connection at all. A catalogue whose
// own bytes failed is not parsed again while the file stays the same (same
// device, inode, size, modification and change times): the next reads give
// the same result and description at once.
//
// A catalogue read writes every script text the catalogue carries into its
// script file (created with the others-execute bit as an in-progress marker,
// written under an exclusive flock, then given mode 0664; an existing path
// that is no regular file fails the read); readers wait up to 180 s for the
// marker of a regular file to clear and read under a shared flock, and
// answer anything else at that path (a directory, a FIFO) at once with
// E_SIEVE_OPEN_FAILED, as they answer a script file that cannot be opened
// or read (E_SIEVE_SCRIPT_NOT_FOUND when there is none). An identifier holding "/" names no file: its record
// is dropped and nothing is written for it, and the read paths answer it
// with E_SIEVE_SCRIPT_NOT_FOUND. Records never come out enabled: nothing in
// this store sets that flag.
//
// Any number of threads may use one store (and several stores one process):
// the caches lock themselves, no lock is held while files are read or
// scripts compiled, and the XML library's set-up and tear-down are
// serialised and counted process-wide.
#ifndef TELSOR_FILTER_SIEVEXML_H
#define TELSOR_FILTER_SIEVEXML_H

#include <mutex>

#include "filter/sievedatasource.h"

namespace telsor {

class CSieveXML : public CSieveDataSource {
 public:
  static constexpr DWORD WAIT_FOR_WRITER_SECONDS = 180;

  CSieveXML();
  ~CSieveXML() override;

  // Sets the catalogue directory and the script-file directory (null or
  // empty: the catalogue's), each trimmed of blanks and tabs and ending
  // with "/". 0, or 3 when the catalogue directory is not readable or the
  // script-file directory not readable and writable.
  DWORD Initialize(const char* catalogueDir, const char* fileDir);
  const TSTRING& GetCatalogDir() const { return m_strCatalogDir; }
  const TSTRING& GetFileDir() const { return m_strFileDir; }

  // A folder name as the store takes it: blanks and tabs trimmed at both
  // ends (null is ""). The engine instance makes every data-folder path
  // from this, so that the catalogue and the classifier files agree.
  static TSTRING TrimFolderName(const char* name);
  // dir + "T" + id upper-cased + ".dat" (a "/" between when dir lacks one).
  static TSTRING GetScriptFileName(const TSTRING& dir, const char* id);

  [[nodiscard]] HRESULT GetScriptInfo(const char* id, CScriptInfo& info) override;
  [[nodiscard]] HRESULT GetListScriptInfo(CListSieveScriptInfo& list, const char* user, const char* domain) override;
  [[nodiscard]] HRESULT GetAllScriptInfo(CListSieveScriptInfo& list) override;
  [[nodiscard]] HRESULT GetCompiledScript(const char* id, CSieveScript& script) override;
  [[nodiscard]] HRESULT GetScriptContent(const char* id, TSTRING& text) override;

  // Parses the catalogue at path into item and writes the script files:
  // 0, E_SIEVE_OPEN_FAILED (no regular file that can be opened; no
  // description) or E_SIEVE_EXCEPTION (the description is set).
  [[nodiscard]] HRESULT ReadScriptInfoFromCatalog(const char* path, CSharedObjPtr<CCacheItemLSI>& item);

  // The text of a catalogue NAME, DESCRIPTION or CONTRIBUTOR: Base64 of
  // little-endian UTF-16 (blanks, line breaks and "=" ignored).
  static TSTRING DecodeCatalogText(const char* text);
  // The script-file form of a text and back.
  static TSTRING EncodeScriptFile(const TSTRING& text);
  [[nodiscard]] static HRESULT DecodeScriptFile(const TSTRING& file, TSTRING& text);

 private:
  // What tells one catalogue file from another: its path, device and inode,
  // size, and modification and change times (nanoseconds).
  struct tag_CATALOG_IDENTITY {
    TSTRING path;
    ULONGLONG device = 0;
    ULONGLONG inode = 0;
    ULONGLONG size = 0;
    LONGLONG modified = 0;
    LONGLONG changed = 0;
    bool operator==(const tag_CATALOG_IDENTITY& other) const;
  };
  // The last catalogue whose own bytes failed the read, with the result
  // and description it gave (result 0: none).
  struct tag_FAILED_CATALOG {
    tag_CATALOG_IDENTITY identity;
    HRESULT result = 0;
    TSTRING description;
  };
  static bool IdentityOf(int fd, const char* path, tag_CATALOG_IDENTITY& identity);

  TSTRING m_strCatalogDir;
  TSTRING m_strFileDir;
  std::mutex m_failedLock;
  tag_FAILED_CATALOG m_failed;
};

}  // namespace telsor

#endif  // TELSOR_FILTER_SIEVEXML_H
