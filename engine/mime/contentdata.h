// CRfc822ContentData: the decoded content of one message part, held in
// memory (a TSTRING), in a shared temporary file, or in both.
//
//   static const unsigned char bytes[] = "Hello\r\n";
//   CRfc822ContentData content;
//   content.PutTempDir("/tmp");                     // the session's, parser->GetTempDir()
//   HRESULT hr = content.PutAsString(bytes, 7);     // in memory
//   CSharedObjPtr<CSharedTmpFile> f = content.GetAsFile();
//   // now also in a new "BDY" file in the folder, removed with the last
//   // reference (this content, f, any copy)
//   IStream* s = content.GetAsStream();             // over a copy of the bytes
//   char first[7];
//   ULONG got = 0;
//   hr = s->Read(first, sizeof first, &got);        // "Hello\r\n"
//   s->Release();
//
//   content.PutAsFile(file);                        // size from the file system
//   ULONG n;
//   const unsigned char* p = content.GetAsString(n);  // read once, then held
//
// A conversion happens on demand, once, and keeps both forms; copies share
// the bytes (copy-on-write) and the file (by reference), so handing a
// content around never copies its bytes. A file made here is never left
// behind by a failed conversion.
//
// Failures: the conversions and GetAsStream throw DWORD codes (the system
// error number, a stream factory's result); PutAsString from bytes reports
// E_OUTOFMEMORY by its result. A file that cannot be examined counts as
// holding nothing. One thread at a time per object; copies may live on
// other threads.
#ifndef TELSOR_MIME_CONTENTDATA_H
#define TELSOR_MIME_CONTENTDATA_H

#include "foundation/istream.h"
#include "foundation/obj.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "mime/sharedtmpfile.h"

namespace telsor {

class CRfc822ContentData {
 public:
  CRfc822ContentData();
  // Copies size, empty flag and folder; shares the file and the bytes.
  CRfc822ContentData(const CRfc822ContentData& other);
  CRfc822ContentData& operator=(const CRfc822ContentData& other);
  virtual ~CRfc822ContentData();

  // The folder in which a file is made when the bytes must go to one (the
  // system's temporary folder, found on first need, while it is empty).
  void PutTempDir(const TSTRING& directory) { m_strTempDir = directory; }
  const TSTRING& GetTempDir() const { return m_strTempDir; }

  // The content becomes text (shared); the file is let go. S_OK.
  [[nodiscard]] HRESULT PutAsString(const TSTRING& text);
  // The content becomes a copy of length bytes at data (empty for a null
  // pointer or length 0); the file is let go. S_OK, or E_OUTOFMEMORY with
  // the content left empty.
  [[nodiscard]] HRESULT PutAsString(const unsigned char* data, ULONG length);
  // The content becomes the file: size from the file system (0 when it
  // cannot be examined). The file already held changes nothing; a null file
  // empties the content.
  void PutAsFile(const CSharedObjPtr<CSharedTmpFile>& file);
  // Holds both the file and the bytes (the bytes decide the size). S_OK.
  [[nodiscard]] HRESULT PutData(const CSharedObjPtr<CSharedTmpFile>& file, const TSTRING& text);
  // No bytes, no file; the folder stays.
  void Empty();

  BOOL IsEmpty() const { return m_bEmpty; }
  ULONG GetSize() const { return m_nSize; }
  BOOL IsInMemory() const { return !m_strData.IsEmpty(); }
  BOOL IsInFile() const { return HasFile(); }

  // The bytes in memory, read from the file first when only it holds them.
  TSTRING& GetAsString();
  const unsigned char* GetAsString(ULONG& length);
  // A new stream at the start of the content (one reference, the caller's):
  // over a copy of the bytes when they are in memory, else over the file
  // (read-only), else empty.
  IStream* GetAsStream() const;
  // The file, written from the bytes first when only they hold the content;
  // null for an empty content.
  CSharedObjPtr<CSharedTmpFile> GetAsFile();

  void EnsureDataInMemory();
  void EnsureDataInFile();

 private:
  bool HasFile() const { return m_pFile != nullptr && m_pFile->GetFileName() != nullptr; }
  void SetSize(ULONG size) {
    m_nSize = size;
    m_bEmpty = size == 0 ? 1 : 0;
  }

  BOOL m_bEmpty;
  ULONG m_nSize;
  CSharedObjPtr<CSharedTmpFile> m_pFile;
  TSTRING m_strData;
  TSTRING m_strTempDir;
};

}  // namespace telsor

#endif  // TELSOR_MIME_CONTENTDATA_H
