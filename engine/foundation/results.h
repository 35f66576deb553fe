// Result codes of the foundation, named once.
//
// Engine results are 32-bit codes in the manner of COM: bit 31 set means
// failure, 0 is success. The values are the engine's own, not the usual
// platform ones. Each facility has one results header like this one
// (search/searchresults.h, mime/mimeresults.h, classify/classifyresults.h,
// filter/filterresults.h); code and tests use the names, never the numbers.
//
//   IStream* stream = nullptr;
//   HRESULT hr = CTstringAsIStream::CreateStreamOnTSTRING("ab", &stream);
//   if (FAILED(hr)) return hr;            // E_OUTOFMEMORY (0x80000002) and friends
//   BYTE buf[4];
//   ULONG got = 0;
//   hr = stream->Read(buf, sizeof buf, &got);
//   if (hr == S_FALSE) { /* fewer bytes than asked */ }
//   stream->Release();
//
// The Win32 error numbers below are what the system layer stores as the last
// error itself; they are plain small numbers, not failure codes: a boundary
// that returns one as its result passes it through ResultFromSystemError.
#ifndef TELSOR_FOUNDATION_RESULTS_H
#define TELSOR_FOUNDATION_RESULTS_H

#include <stdint.h>

#define SUCCEEDED(hr) (((int32_t)(hr)) >= 0)
#define FAILED(hr) (((int32_t)(hr)) < 0)

// Generic results.
#define S_OK ((int32_t)0)
#define S_FALSE ((int32_t)1)                        // success, fewer bytes than asked
#define E_NOTIMPL ((int32_t)0x80000001u)            // not implemented / not supported
#define E_OUTOFMEMORY ((int32_t)0x80000002u)
#define E_INVALIDARG ((int32_t)0x80000003u)         // null output pointer, wrong stream kind
#define E_NOINTERFACE ((int32_t)0x80000004u)
#define E_POINTER ((int32_t)0x80000005u)            // a required pointer is missing
#define E_FAIL ((int32_t)0x80000008u)               // failure, or bad data
#define E_ACCESSDENIED ((int32_t)0x80000009u)
// The gzip library or one of its functions could not be bound.
#define TYPE_E_CANTLOADLIBRARY ((int32_t)0x8002802Fu)
// Facility 0x00: an exception of unknown kind.
#define E_UNKNOWN_EXCEPTION ((int32_t)0xE000FFFFu)
// Facility 0x07: a system error (an errno value or a Win32 error number)
// as a failing result, 0x80070000 plus the number; made only by
// ResultFromSystemError (foundation/errorroad.h).
#define FACILITY_SYSTEM 0x07
#define E_SYSTEM_ERROR_BASE ((int32_t)0x80070000u)
// A stored record of another format version (search matchers and compiled
// filter scripts share this value).
#define E_RECORD_VERSION ((int32_t)0xE00A00C9u)

// Win32 last-error numbers that the system layer sets itself.
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_DATA 13
#define ERROR_OUTOFMEMORY 14
#define ERROR_NO_MORE_FILES 18
#define ERROR_NOT_SUPPORTED 50         // the request is not supported
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_INVALID_DATA_RECORD 1392  // corrupt stored record

#endif  // TELSOR_FOUNDATION_RESULTS_H
