// CAppleFile: a Macintosh file as messages carry it: name, four-character
// type and creator, Finder flags, four times and two forks (data and
// resource), each fork a CRfc822ContentData so that it may live in memory
// or in a shared temporary file.
//
//   unsigned char bytes[] = "Hello\r";
//   IStream* out = nullptr;
//   HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &out);
//   if (FAILED(hr)) return hr;
//   CSharedObjPtr<CAppleFile> file = new CAppleFile;
//   file->PutFileName("Read Me");
//   file->PutFileType("TEXT");                 // at most 4 characters kept
//   file->PutFileCreator("ttxt");
//   hr = file->PutDataForkAsString(bytes, 6);
//   if (SUCCEEDED(hr)) hr = file->EncodeWithMIME(out, CONTENT_ENCODING_7BIT);
//   // out holds "(This file must be converted with BinHex 4.0)" and the block
//   out->Release();
//
// Only BinHex 4.0 (format 2, the default) has an output form; formats 0 and
// 1 are stored but EncodeWithMIME refuses them with E_NOTIMPL, as it refuses
// a transfer encoding that would wrap the BinHex text (quoted-printable,
// base64, uuencode). The four times are stored and returned unchanged and
// written nowhere. A name longer than 63 bytes is cut to 63 by the encoder;
// an empty name gives a block that BinHex readers refuse.
//
// One thread at a time per object; the reference count and the forks'
// temporary files are counted atomically, so the last holder may release
// it on any thread (a fork's temporary file goes with its last holder).
#ifndef TELSOR_MIME_APPLEFILE_H
#define TELSOR_MIME_APPLEFILE_H

#include "foundation/istream.h"
#include "foundation/obj.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "mime/contentdata.h"
#include "mime/sharedtmpfile.h"
#include "mime/transferencoding.h"

namespace telsor {

class CAppleFile : public CSharedObj {
 public:
  enum FormatType : uint32_t { FORMAT_0 = 0, FORMAT_1 = 1, FORMAT_BINHEX40 = 2 };
  static constexpr LONG NO_TIME = static_cast<LONG>(0x80000000u);

  CAppleFile();
  ~CAppleFile() override;

  FormatType GetFormat() const { return m_format; }
  // Values above 2 are ignored.
  void PutFormat(FormatType format);

  TSTRING GetFileName() const { return m_strFileName; }
  void PutFileName(const char* name) { m_strFileName = name; }

  // A pointer to the five-character field (four characters and a NUL).
  const char* GetFileType() const { return m_szFileType; }
  // Empties the field, then keeps at most 4 characters of a non-null type.
  void PutFileType(const char* type) { PutCode(m_szFileType, type); }
  const char* GetFileCreator() const { return m_szFileCreator; }
  void PutFileCreator(const char* creator) { PutCode(m_szFileCreator, creator); }

  WORD GetFinderFlags() const { return m_wFinderFlags; }
  void PutFinderFlags(WORD flags) { m_wFinderFlags = flags; }

  LONG GetCreateTime() const { return m_nCreateTime; }
  void PutCreateTime(LONG t) { m_nCreateTime = t; }
  LONG GetModifyTime() const { return m_nModifyTime; }
  void PutModifyTime(LONG t) { m_nModifyTime = t; }
  LONG GetBackupTime() const { return m_nBackupTime; }
  void PutBackupTime(LONG t) { m_nBackupTime = t; }
  LONG GetAccessTime() const { return m_nAccessTime; }
  void PutAccessTime(LONG t) { m_nAccessTime = t; }

  // The forks' contents (PutAsFile / PutAsString of CRfc822ContentData).
  void PutResForkAsFile(CSharedObjPtr<CSharedTmpFile>& file) { m_resFork.PutAsFile(file); }
  [[nodiscard]] HRESULT PutResForkAsString(unsigned char* data, ULONG length) {
    return m_resFork.PutAsString(data, length);
  }
  void PutDataForkAsFile(CSharedObjPtr<CSharedTmpFile>& file) { m_dataFork.PutAsFile(file); }
  [[nodiscard]] HRESULT PutDataForkAsString(unsigned char* data, ULONG length) {
    return m_dataFork.PutAsString(data, length);
  }
  // The data fork's temporary file, made first when the fork is only in
  // memory. Throws the system error as DWORD when no file can be made.
  CSharedObjPtr<CSharedTmpFile> GetDataForkAsFile() { return m_dataFork.GetAsFile(); }

  // The forks themselves, for the parser's filling (temporary folder, reads).
  CRfc822ContentData& DataFork() { return m_dataFork; }
  CRfc822ContentData& ResourceFork() { return m_resFork; }

  // The file as BinHex 4.0 text (preamble line and block). S_OK or the
  // failure of a fork or of the output; part of the text may be written.
  [[nodiscard]] HRESULT EncodeBinHex(IStream* out);
  // The file as the content of a MIME body part: BinHex 4.0 text under the
  // encodings 0 (unknown), 7bit, 8bit, binary and BinHex; E_NOTIMPL and
  // nothing written for any other encoding or a format other than 2.
  [[nodiscard]] HRESULT EncodeWithMIME(IStream* out, tag_CONTENT_ENCODING encoding);

  // Written directly by the parser's BinHex filling.
  unsigned short m_wFinderFlags = 0;

  CAppleFile(const CAppleFile&) = delete;
  CAppleFile& operator=(const CAppleFile&) = delete;

 private:
  static void PutCode(char (&field)[5], const char* code);

  char m_szFileType[5] = {0, 0, 0, 0, 0};
  char m_szFileCreator[5] = {0, 0, 0, 0, 0};
  CRfc822ContentData m_resFork;
  CRfc822ContentData m_dataFork;
  FormatType m_format = FORMAT_BINHEX40;
  LONG m_nCreateTime = NO_TIME;
  LONG m_nModifyTime = NO_TIME;
  LONG m_nBackupTime = NO_TIME;
  LONG m_nAccessTime = NO_TIME;
  TSTRING m_strFileName;
};

}  // namespace telsor

#endif  // TELSOR_MIME_APPLEFILE_H
