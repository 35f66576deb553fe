// Script tools for hosts in the same process: a script text compiled into
// the binary compiled form, a script text enciphered, and a memory block
// copied into a string.
//
//   telsor::TSTRING compiled;
//   HRESULT hr = telsor::CompileScriptContent("if size :over 1M { discard; }", compiled);
//   if (FAILED(hr)) return hr;
//   // compiled holds the bytes that CSieveScript::Serialize(stream, 0) loads
//   const char* text = "keep;";
//   telsor::TSTRING cipher;
//   hr = telsor::EncryptScript(text, cipher);    // raw RC5-CBC cipher text
//
// The output strings are byte strings: their length counts the bytes, zero
// bytes included. Nothing here keeps state: any number of threads may call
// them at once.
#ifndef TELSOR_FILTER_SCRIPTTOOLS_H
#define TELSOR_FILTER_SCRIPTTOOLS_H

#include "foundation/tstring.h"
#include "foundation/wintypes.h"

namespace telsor {

// Compiles text (null or "" gives an empty output and 0) and stores the
// compiled form into compiled. Returns 0; the parser's code with compiled
// unchanged; a stream or record failure; E_OUTOFMEMORY.
[[nodiscard]] HRESULT CompileScriptContent(const char* text, TSTRING& compiled);

// RC5-CBC (12 rounds, zero vector, the fixed 22-byte key) with PKCS#5
// padding: 8 bytes of text give 16, 7 give 8, none give none. Returns 0,
// the cipher's code, or E_OUTOFMEMORY.
[[nodiscard]] HRESULT EncryptScript(const char* text, TSTRING& cipherText);

// Copies size bytes from the start of the memory block into text (emptied
// first; a null handle or size 0 leaves it empty). Returns 0, the last
// error when the block cannot be locked, or E_OUTOFMEMORY.
[[nodiscard]] HRESULT GetStringFromHGlobal(HGLOBAL handle, DWORD size, TSTRING& text);

}  // namespace telsor

#endif  // TELSOR_FILTER_SCRIPTTOOLS_H
