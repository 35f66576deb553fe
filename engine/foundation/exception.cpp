// The engine's exception classes, the preallocated exceptions and the
// structured-exception hooks.
#include "foundation/exception.h"

#include <stdio.h>
#include <string.h>

namespace telsor {

// Built before any other static object of the library, so that code running
// at load can already throw them; destroyed in the reverse order at unload.
CMemoryException _simpleMemoryException __attribute__((init_priority(101)))(0);
CNotSupportedException _simpleNotSupportedException __attribute__((init_priority(102)))(0);

LONG g_nSEHTranslatorEnabled = 1;

namespace {

PFN_SE_HOOK g_pfnSEHook = nullptr;

// Copies text strncpy-style (the rest of the buffer NUL-filled) and
// terminates at the last byte.
BOOL CopyFixedMessage(const char* text, char* buffer, UINT size) {
  if (buffer == nullptr || size == 0) return 1;
  strncpy(buffer, text, size);
  buffer[size - 1] = '\0';
  return 1;
}

const char* const kFileMessages[] = {
    nullptr,
    "An unknown error occurred while accessing %s.",
    "%s was not found.",
    "%s contains an invalid path.",
    "%s could not be opened because there are too many open files.",
    "Access to %s was denied.",
    "An invalid file handle was associated with %s.",
    "%s could not be removed because it is the current directory.",
    "%s could not be created because the directory is full.",
    "Seek failed on %s",
    "A hardware I/O error was reported while accessing %s.",
    "A sharing violation occurred while accessing %s.",
    "A locking violation occurred while accessing %s.",
    "Disk full while accessing %s.",
    "An attempt was made to access %s past its end.",
};

struct OsErrorRow {
  int cause;
  const unsigned short* codes;
  size_t count;
};

const unsigned short kNotFound[] = {2, 6, 18, 107};
const unsigned short kBadPath[] = {3,  15,  17,  34,  52,  53,  55,  67,  70,  85,
                                   111, 123, 124, 125, 144, 154, 161, 206, 208, 267};
const unsigned short kTooMany[] = {4, 36, 68, 113};
const unsigned short kDenied[] = {5, 12, 19, 29, 54, 58, 64, 65, 71, 80, 82, 86, 170, 183, 999};
const unsigned short kInvalid[] = {11, 26, 60, 66, 114, 182, 191, 193};
const unsigned short kCurrentDir[] = {16, 145};
const unsigned short kDirFull[] = {62};
const unsigned short kBadSeek[] = {24, 25, 27, 30, 131, 132};
const unsigned short kHardIO[] = {20, 21, 22, 23, 57, 59, 88, 117, 995, 996, 997};
const unsigned short kSharing[] = {32};
const unsigned short kLocking[] = {33, 108, 167};
const unsigned short kDiskFull[] = {39, 112};
const unsigned short kEndOfFile[] = {38};

#define ROW(cause, table) {cause, table, sizeof(table) / sizeof(table[0])}
const OsErrorRow kOsErrors[] = {
    ROW(CFileException::fileNotFound, kNotFound),
    ROW(CFileException::badPath, kBadPath),
    ROW(CFileException::tooManyOpenFiles, kTooMany),
    ROW(CFileException::accessDenied, kDenied),
    ROW(CFileException::invalidFile, kInvalid),
    ROW(CFileException::removeCurrentDir, kCurrentDir),
    ROW(CFileException::directoryFull, kDirFull),
    ROW(CFileException::badSeek, kBadSeek),
    ROW(CFileException::hardIO, kHardIO),
    ROW(CFileException::sharingViolation, kSharing),
    ROW(CFileException::lockViolation, kLocking),
    ROW(CFileException::diskFull, kDiskFull),
    ROW(CFileException::endOfFile, kEndOfFile),
};
#undef ROW

}  // namespace

// ---- CException ----

CException::~CException() {}

HRESULT CException::GetResultCode() const { return E_FAIL; }

void CException::Delete() {
  if (m_bAutoDelete > 0) delete this;
}

BOOL CException::GetErrorMessage(char* buffer, UINT size, UINT* helpContext) {
  if (helpContext != nullptr) *helpContext = 0;
  if (size != 0 && buffer != nullptr) buffer[0] = '\0';
  return 0;
}

int CException::ReportError(UINT, UINT messageId) {
  char text[512];
  UINT help = 0;
  if (!GetErrorMessage(text, sizeof text, &help))
    snprintf(text, sizeof text, "Error: %d", static_cast<int>(messageId));
  perror(text);
  return 0;
}

// ---- the message-only exceptions ----

CMemoryException::~CMemoryException() {}

BOOL CMemoryException::GetErrorMessage(char* buffer, UINT size, UINT*) {
  return CopyFixedMessage("Not enough memory", buffer, size);
}

CNotSupportedException::~CNotSupportedException() {}

BOOL CNotSupportedException::GetErrorMessage(char* buffer, UINT size, UINT*) {
  return CopyFixedMessage("Does not supported", buffer, size);
}

// ---- CFileException ----

CFileException::~CFileException() {}

BOOL CFileException::GetErrorMessage(char* buffer, UINT size, UINT* helpContext) {
  if (helpContext != nullptr) *helpContext = 0;
  if (size == 0 || buffer == nullptr) return 1;
  const char* name = m_strFileName.IsEmpty() ? "an unnamed file" : m_strFileName.c_str();
  UINT cause = static_cast<UINT>(m_cause);
  if (cause >= 1 && cause <= endOfFile) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    snprintf(buffer, size, kFileMessages[cause], name);
#pragma GCC diagnostic pop
  } else {
    buffer[0] = '\0';  // no message: never leave earlier bytes behind
  }
  buffer[size - 1] = '\0';
  return 1;
}

int CFileException::ErrnoToException(int errnoValue) {
  switch (errnoValue) {
    case 1:   // EPERM
    case 13:  // EACCES
      return accessDenied;
    case 2:   // ENOENT
    case 23:  // ENFILE
      return fileNotFound;
    case 5:   // EIO
    case 22:  // EINVAL
      return hardIO;
    case 9:  // EBADF
      return invalidFile;
    case 24:  // EMFILE
      return tooManyOpenFiles;
    case 28:  // ENOSPC
      return diskFull;
    case 35:  // EDEADLK
      return sharingViolation;
    default:
      return genericException;
  }
}

int CFileException::OsErrorToException(LONG osError) {
  DWORD code = static_cast<DWORD>(osError);
  if (code == 0) return none;
  for (const OsErrorRow& row : kOsErrors)
    for (size_t i = 0; i < row.count; ++i)
      if (row.codes[i] == code) return row.cause;
  return genericException;
}

void CFileException::ThrowErrno(int errnoValue, const char* fileName) {
  if (errnoValue != 0) AfxThrowFileException(ErrnoToException(errnoValue), errnoValue, fileName);
}

void CFileException::ThrowOsError(LONG osError, const char* fileName) {
  if (osError != 0) AfxThrowFileException(OsErrorToException(osError), osError, fileName);
}

// ---- CDException ----

CDException::~CDException() {
  if (m_pNested != nullptr) m_pNested->Delete();
}

void CDException::PutNestedException(CException* nested) {
  if (nested == m_pNested) return;
  CException* old = m_pNested;
  m_pNested = nested;
  if (old != nullptr) old->Delete();
}

BOOL CDException::GetErrorMessage(char* buffer, UINT size, UINT* helpContext) {
  if (m_strDetails.IsEmpty()) return CException::GetErrorMessage(buffer, size, helpContext);
  if (helpContext != nullptr) *helpContext = 0;
  if (buffer != nullptr && size != 0) {
    size_t n = static_cast<size_t>(m_strDetails.GetLength());
    if (n > size - 1) n = size - 1;
    memcpy(buffer, m_strDetails.c_str(), n);
    buffer[n] = '\0';
  }
  return 1;
}

// ---- throwing functions ----

void AfxThrowMemoryException() { throw static_cast<CMemoryException*>(&_simpleMemoryException); }

void AfxThrowNotSupportedException() {
  throw static_cast<CNotSupportedException*>(&_simpleNotSupportedException);
}

void AfxThrowFileException(int cause, LONG osError, const char* fileName) {
  throw new CFileException(cause, osError, fileName);
}

// ---- structured-exception hooks ----

PFN_SE_HOOK SetLogSE(PFN_SE_HOOK hook) {
  // A pointer-sized exchange: the hook does not fit the 32-bit interlocked calls.
  return __atomic_exchange_n(&g_pfnSEHook, hook, __ATOMIC_SEQ_CST);
}

void SEH_Translator(UINT code, _EXCEPTION_POINTERS* info) {
  PFN_SE_HOOK hook = __atomic_load_n(&g_pfnSEHook, __ATOMIC_SEQ_CST);
  if (hook != nullptr) hook(info);
  throw CSEH_Exception(code);
}

int SetSEH_Translator() { return 0; }

void DisableSEH_Translator() { InterlockedExchange(&g_nSEHTranslatorEnabled, 0); }

}  // namespace telsor
