// Script tools for hosts: compiled form into a string, enciphered text,
// memory block into a string.
#include "filter/scripttools.h"

#include <limits.h>
#include <string.h>

#include "filter/sievescript.h"
#include "foundation/errorroad.h"
#include "foundation/globalmem.h"
#include "foundation/hglobalstream.h"
#include "foundation/rc5cbc64.h"
#include "foundation/win32.h"

namespace telsor {

namespace {

// The key of enciphered scripts: 22 upper-case letters and digits.
const char kScriptKey[] = "QWT5RPLMZ8KDHFXVN3BJSE";
const ULONG kScriptKeyLength = sizeof kScriptKey - 1;
const ULONG kScriptRounds = 12;

// The first room for a compiled form: five times the text (the stream grows
// past it when needed).
const size_t kCompiledPerTextByte = 5;

}  // namespace

HRESULT CompileScriptContent(const char* text, TSTRING& compiled) {
  CSieveScript script;
  if (text == nullptr || *text == '\0') {
    compiled.Release();
    return S_OK;
  }
  HRESULT hr = script.ParseString(text, nullptr);
  if (hr != S_OK) return hr;
  size_t length = strlen(text);
  if (length > UINT_MAX / kCompiledPerTextByte) return E_OUTOFMEMORY;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, static_cast<UINT>(length * kCompiledPerTextByte));
  if (block == nullptr) return E_OUTOFMEMORY;
  CStreamPtr stream;
  hr = CreateStreamOnHGlobal(block, FALSE, stream.Out());
  if (hr != S_OK) {
    GlobalFree(block);
    return hr;
  }
  hr = script.Serialize(stream, 1);
  ULARGE_INTEGER end;
  end.QuadPart = 0;
  if (hr == S_OK) {
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    hr = stream->Seek(zero, STREAM_SEEK_CUR, &end);
  }
  stream = nullptr;
  if (hr == S_OK && end.QuadPart > 0xFFFFFFFFu) hr = E_OUTOFMEMORY;
  if (hr == S_OK) hr = GetStringFromHGlobal(block, static_cast<DWORD>(end.QuadPart), compiled);
  GlobalFree(block);
  return hr;
}

HRESULT EncryptScript(const char* text, TSTRING& cipherText) {
  return ResultOfCall([&]() -> HRESULT {
    CRC5_CBC64 cipher(kScriptRounds, 0, nullptr);
    cipher.SetKey(kScriptKeyLength, reinterpret_cast<const unsigned char*>(kScriptKey));
    size_t length = text != nullptr ? strlen(text) : 0;
    if (length == 0) {
      cipherText.Release();
      return S_OK;
    }
    if (length > INT_MAX - 8) return E_OUTOFMEMORY;
    const unsigned char* plain = reinterpret_cast<const unsigned char*>(text);
    ULONG needed = 0;
    (void)cipher.Encrypt(plain, static_cast<ULONG>(length), nullptr, 0, &needed, 1);
    if (needed > INT_MAX) return E_OUTOFMEMORY;
    unsigned char* out = reinterpret_cast<unsigned char*>(cipherText.GetBuffer(static_cast<int>(needed)));
    ULONG written = 0;
    DWORD rc = cipher.Encrypt(plain, static_cast<ULONG>(length), out, needed, &written, 1);
    cipherText.ReleaseBuffer(rc == 0 ? static_cast<int>(written) : 0);
    return static_cast<HRESULT>(rc);
  });
}

HRESULT GetStringFromHGlobal(HGLOBAL handle, DWORD size, TSTRING& text) {
  return ResultOfCall([&]() -> HRESULT {
    text.Release();
    if (handle == nullptr || size == 0) return S_OK;
    if (size > INT_MAX) return E_OUTOFMEMORY;
    char* room = text.GetBuffer(static_cast<int>(size));
    const void* bytes = GlobalLock(handle);
    if (bytes == nullptr) {
      text.ReleaseBuffer(0);
      return ResultFromSystemError(GetLastError());
    }
    memcpy(room, bytes, size);
    GlobalUnlock(handle);
    text.ReleaseBuffer(static_cast<int>(size));
    return S_OK;
  });
}

}  // namespace telsor
