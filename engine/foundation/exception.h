// The engine's exception classes.
//
// Failures are thrown as pointers to CException descendants. The catcher reads
// the text through GetErrorMessage and ends the object's life with Delete(),
// never delete: the two preallocated exceptions (out of memory, not supported)
// are static and survive Delete().
//
//   const char* path = "/no/such/file";
//   DWORD code = 0;
//   try {
//     CFileException::ThrowErrno(ENOENT, path);
//   } catch (CDException* e) {          // CDException before CException
//     code = e->GetCode();
//     e->Delete();
//   } catch (CException* e) {
//     char text[256];                   // "/no/such/file was not found."
//     if (!e->GetErrorMessage(text, sizeof text, nullptr)) text[0] = '\0';
//     e->Delete();
//   }
//
// The static exceptions are shared by all threads and never modified after
// load; a heap exception belongs to the thread that caught it.
//
// Which layer throws what, and where it becomes a result code. Each failure
// leaves by exactly one of these kinds:
//
//   kind                      thrown by                         result code
//   CMemoryException*         every out of memory: CObj new,    E_OUTOFMEMORY
//                             TSTRING growth, list chunks, the
//                             reader's window, the standard
//                             containers (WithMemoryException,
//                             errorroad.h)
//   CNotSupportedException*   operations a class does not have  E_NOTIMPL
//   CFileException*           CFileException::ThrowErrno and    E_FAIL (the OS error
//                             ThrowOsError (classifier data)    is in m_lOsError)
//   CDException* and kin      detailed failures: CFAException   GetCode(), or E_FAIL
//                             (search/fa.h) of the pattern      when none was put
//                             compiler and its tables (syntax,
//                             too many nodes or states), the
//                             filter script tree's exception
//   DWORD (ThrowCode)         the stream reader's stream        the code itself
//                             failures, MIME parsing
//   std::bad_alloc            never on purpose: the engine      E_OUTOFMEMORY
//                             wraps the containers it fills
//   anything else             -                                 E_UNKNOWN_EXCEPTION
//
// Streams, matchers and record loaders return result codes and throw
// nothing. Every boundary that returns a result code (matcher Compile,
// stream factories and operations, parser entry points, the exported
// functions) translates through foundation/errorroad.h and nowhere by hand;
// only a boundary that keeps more than the code (the regular-expression
// matcher keeps the compiler's message) catches that one kind first.
#ifndef TELSOR_FOUNDATION_EXCEPTION_H
#define TELSOR_FOUNDATION_EXCEPTION_H

#include "foundation/obj.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"

// Opaque record of a structured exception; the engine only passes it through.
struct _EXCEPTION_POINTERS;

namespace telsor {

class CException : public CObj {
 public:
  CException() : m_bAutoDelete(1) {}
  // autoDelete > 0: a heap object that Delete() destroys; 0: a static object.
  explicit CException(int autoDelete) : m_bAutoDelete(autoDelete) {}
  ~CException() override;

  // Destroys a heap exception; leaves a static one alone.
  void Delete();

  // Writes the message into buffer (at most size bytes, NUL included) and
  // returns non-zero, or returns 0 when there is none. The base writes an
  // empty text, sets *helpContext to 0 and returns 0.
  virtual BOOL GetErrorMessage(char* buffer, UINT size, UINT* helpContext);
  // Writes the message (or "Error: <messageId>") to standard error through
  // perror, so the description of the current errno follows it.
  virtual int ReportError(UINT type, UINT messageId);
  // The engine result code that this failure stands for (E_FAIL here); see
  // the table above and foundation/errorroad.h.
  virtual HRESULT GetResultCode() const;

  CException(const CException&) = delete;
  CException& operator=(const CException&) = delete;

 protected:
  int m_bAutoDelete;
};

// "Not enough memory". Thrown only as the preallocated instance.
class CMemoryException : public CException {
 public:
  CMemoryException() {}
  explicit CMemoryException(int autoDelete) : CException(autoDelete) {}
  ~CMemoryException() override;
  BOOL GetErrorMessage(char* buffer, UINT size, UINT* helpContext) override;
  HRESULT GetResultCode() const override { return E_OUTOFMEMORY; }
};

// "Does not supported". Thrown only as the preallocated instance.
class CNotSupportedException : public CException {
 public:
  CNotSupportedException() {}
  explicit CNotSupportedException(int autoDelete) : CException(autoDelete) {}
  ~CNotSupportedException() override;
  BOOL GetErrorMessage(char* buffer, UINT size, UINT* helpContext) override;
  HRESULT GetResultCode() const override { return E_NOTIMPL; }
};

// A file failure: a cause code (below), the system error number it was made
// from and the file concerned.
class CFileException : public CException {
 public:
  enum {
    none = 0,
    genericException = 1,
    fileNotFound = 2,
    badPath = 3,
    tooManyOpenFiles = 4,
    accessDenied = 5,
    invalidFile = 6,
    removeCurrentDir = 7,
    directoryFull = 8,
    badSeek = 9,
    hardIO = 10,
    sharingViolation = 11,
    lockViolation = 12,
    diskFull = 13,
    endOfFile = 14,
  };

  CFileException() : m_cause(none), m_lOsError(-1) {}
  explicit CFileException(int autoDelete)
      : CException(autoDelete), m_cause(none), m_lOsError(-1) {}
  CFileException(int cause, LONG osError, const char* fileName)
      : m_cause(cause), m_lOsError(osError), m_strFileName(fileName) {}
  ~CFileException() override;

  // The cause's message with the file name ("an unnamed file" when none);
  // cause 0 or an unknown cause gives an empty text. Returns 1 (also for
  // size 0, which writes nothing).
  BOOL GetErrorMessage(char* buffer, UINT size, UINT* helpContext) override;

  // Cause for a C library errno value / a Win32 error number.
  static int ErrnoToException(int errnoValue);
  static int OsErrorToException(LONG osError);
  // Throw a heap CFileException* unless the code is 0.
  static void ThrowErrno(int errnoValue, const char* fileName);
  static void ThrowOsError(LONG osError, const char* fileName);

  int m_cause;
  LONG m_lOsError;
  TSTRING m_strFileName;
};

// The detailed exception: facility, code, details and a nested exception.
// It derives from CException, so handlers name CDException* first.
// It owns its nested exception and Delete()s it when destroyed or replaced.
//
//   CDException* e = new CDException(1);
//   e->PutCode(0xE00A0001);
//   e->PutDetails("script not found");
//   throw e;
class CDException : public CException {
 public:
  CDException() : m_dwFacility(0), m_dwCode(0), m_pNested(nullptr) {}
  explicit CDException(int autoDelete)
      : CException(autoDelete), m_dwFacility(0), m_dwCode(0), m_pNested(nullptr) {}
  ~CDException() override;

  void PutFacility(DWORD facility) { m_dwFacility = facility; }
  void PutCode(DWORD code) { m_dwCode = code; }
  void PutDetails(const TSTRING& details) { m_strDetails = details; }
  // Takes ownership of nested (may be null); a previous one is Delete()d.
  void PutNestedException(CException* nested);

  DWORD GetFacility() const { return m_dwFacility; }
  DWORD GetCode() const { return m_dwCode; }
  TSTRING GetDetails() const { return m_strDetails; }
  CException* GetNestedException() const { return m_pNested; }

  // The details, when there are any; otherwise no message (returns 0).
  BOOL GetErrorMessage(char* buffer, UINT size, UINT* helpContext) override;
  // The code when one was put, E_FAIL otherwise.
  HRESULT GetResultCode() const override {
    return m_dwCode != 0 ? static_cast<HRESULT>(m_dwCode) : E_FAIL;
  }

 private:
  DWORD m_dwFacility;
  DWORD m_dwCode;
  TSTRING m_strDetails;
  CException* m_pNested;
};

// A structured exception turned into a C++ one; thrown by value.
class CSEH_Exception {
 public:
  explicit CSEH_Exception(UINT code) : m_code(code) {}
  ~CSEH_Exception() {}
  UINT GetCode() const { return m_code; }

 private:
  UINT m_code;
};

// The preallocated exceptions (auto-delete 0), built at library load.
extern CMemoryException _simpleMemoryException;
extern CNotSupportedException _simpleNotSupportedException;

[[noreturn]] void AfxThrowMemoryException();
[[noreturn]] void AfxThrowNotSupportedException();
// Throws a new heap CFileException*; fileName may be null.
[[noreturn]] void AfxThrowFileException(int cause, LONG osError, const char* fileName);

// Structured-exception hooks, kept for hosts; on Linux nothing raises them.
typedef int (*PFN_SE_HOOK)(_EXCEPTION_POINTERS*);
// Stores hook atomically and returns the previous one.
PFN_SE_HOOK SetLogSE(PFN_SE_HOOK hook);
// Calls the hook (when set) with info, then throws CSEH_Exception(code).
[[noreturn]] void SEH_Translator(UINT code, _EXCEPTION_POINTERS* info);
// Installs nothing on Linux; returns 0.
int SetSEH_Translator();
// Clears the translator-enabled flag.
void DisableSEH_Translator();
// 1 at load; 0 after DisableSEH_Translator.
extern LONG g_nSEHTranslatorEnabled;

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_EXCEPTION_H
