// CSimpleCipher: the position-byte cipher, a stream around another stream.
//
// Every byte is transformed by a bijection that depends only on its absolute
// position in the inner stream: Write enciphers, Read deciphers, so Seek
// (also backwards) works and reading what was written gives the bytes back.
// The byte at position 0 never stays 'S' and never becomes 'T', so an
// enciphered "SCA\0" or "SVM\0" record never starts like a plain one or like
// a "TLGZ" file.
//
//   IStream* file = nullptr;
//   HRESULT hr = CFileAsIStream::CreateStreamOnFile("Qor.bin", GENERIC_READ, FILE_SHARE_READ,
//                                                   OPEN_EXISTING, &file);
//   if (FAILED(hr)) return hr;
//   CSimpleCipher* cipher = new CSimpleCipher(file);   // takes its own reference
//   IStream* s = nullptr;
//   cipher->QueryInterface(IID_IStream, reinterpret_cast<void**>(&s));
//   file->Release();                   // the cipher keeps the file alive
//   BYTE record[4];
//   ULONG got = 0;
//   s->Read(record, sizeof record, &got);  // the plain bytes
//   s->Release();                      // releases the file too
//
// Ownership: created with count 0 like every stream (see istreamimpl.h);
// holds one reference to the inner stream until destroyed. The inner stream
// should not be moved by others while the cipher is in use.
#ifndef TELSOR_FOUNDATION_SIMPLECIPHER_H
#define TELSOR_FOUNDATION_SIMPLECIPHER_H

#include "foundation/istreamimpl.h"

namespace telsor {

class CSimpleCipher : public CIStreamImpl {
 public:
  // inner may be null: every operation then gives E_POINTER.
  explicit CSimpleCipher(IStream* inner);
  ~CSimpleCipher() override;

  // The transform of one byte at an absolute position, and its inverse.
  static BYTE Encipher(BYTE plain, ULONGLONG position);
  static BYTE Decipher(BYTE stored, ULONGLONG position);

  // The inner stream's results, with the bytes transformed.
  HRESULT Read(void* buffer, ULONG count, ULONG* done) override;
  HRESULT Write(const void* buffer, ULONG count, ULONG* done) override;
  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override;
  // Passed to the inner stream (the transform keeps sizes).
  HRESULT SetSize(ULARGE_INTEGER size) override;
  HRESULT Commit(DWORD flags) override;
  HRESULT Revert() override;
  HRESULT Stat(STATSTG* st, DWORD flags) override;

 private:
  // The inner stream's position, asked for when not known.
  HRESULT Position(ULONGLONG* position);

  CStreamPtr m_pInner;
  ULONGLONG m_nPos;
  bool m_bPosKnown;
};

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_SIMPLECIPHER_H
