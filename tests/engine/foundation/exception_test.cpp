// Exception classes: preallocated exceptions, file exception tables and
// messages, the detailed exception and the structured-exception hooks.
#include <gtest/gtest.h>

#include <errno.h>
#include <string.h>

#include <string>

#include "foundation/exception.h"
#include "foundation/throwcode.h"

using namespace telsor;

namespace {

TEST(MemoryException, ThrownAsTheOneStaticInstance) {
  CMemoryException* first = nullptr;
  CMemoryException* second = nullptr;
  try {
    AfxThrowMemoryException();
  } catch (CMemoryException* e) {
    first = e;
    e->Delete();  // a static object: left alone
  }
  try {
    AfxThrowMemoryException();
  } catch (CException* e) {
    second = dynamic_cast<CMemoryException*>(e);
    e->Delete();
  }
  EXPECT_EQ(first, &_simpleMemoryException);
  EXPECT_EQ(second, first);
  char text[32];
  EXPECT_EQ(_simpleMemoryException.GetErrorMessage(text, sizeof text, nullptr), 1);
  EXPECT_STREQ(text, "Not enough memory");

  try {
    AfxThrowNotSupportedException();
  } catch (CNotSupportedException* e) {
    EXPECT_EQ(e, &_simpleNotSupportedException);
    e->Delete();
  }
}

TEST(MemoryException, MessageIsCutAndPadded) {
  struct Case {
    CException* e;
    UINT size;
    const char* want;
  } cases[] = {
      {&_simpleMemoryException, 5, "Not "},
      {&_simpleMemoryException, 1, ""},
      {&_simpleMemoryException, 18, "Not enough memory"},
      {&_simpleNotSupportedException, 40, "Does not supported"},
      {&_simpleNotSupportedException, 4, "Doe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.want);
    char buffer[64];
    memset(buffer, '#', sizeof buffer);
    UINT help = 77;
    EXPECT_EQ(c.e->GetErrorMessage(buffer, c.size, &help), 1);
    EXPECT_STREQ(buffer, c.want);
    for (UINT i = static_cast<UINT>(strlen(c.want)); i < c.size; ++i) EXPECT_EQ(buffer[i], '\0');
    EXPECT_EQ(buffer[c.size], '#');  // nothing past the given size
    EXPECT_EQ(help, 77u);            // left untouched
  }
  char untouched[4] = {'a', 'b', 'c', 0};
  EXPECT_EQ(_simpleMemoryException.GetErrorMessage(untouched, 0, nullptr), 1);
  EXPECT_STREQ(untouched, "abc");
  EXPECT_EQ(_simpleMemoryException.GetErrorMessage(nullptr, 10, nullptr), 1);
}

TEST(BaseException, HasNoMessageAndReportsErrorNumber) {
  CException* e = new CException;
  char buffer[8] = "stale";
  UINT help = 5;
  EXPECT_EQ(e->GetErrorMessage(buffer, sizeof buffer, &help), 0);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(help, 0u);

  testing::internal::CaptureStderr();
  errno = ENOENT;
  e->ReportError(0, 7);
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, std::string("Error: 7: ") + strerror(ENOENT) + "\n");
  e->Delete();  // heap: freed (the sanitizer build checks)

  CFileException* f = new CFileException(CFileException::fileNotFound, 2, "a.txt");
  testing::internal::CaptureStderr();
  errno = EACCES;
  f->ReportError(0, 1);
  out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, std::string("a.txt was not found.: ") + strerror(EACCES) + "\n");
  f->Delete();
}

TEST(FileException, MessagesForAllCauses) {
  // A few causes written out in full, with the name where each text puts it.
  struct Row {
    int cause;
    const char* name;
    const char* want;
  };
  const Row rows[] = {
      {0, "/var/x.dat", ""},
      {1, "/var/x.dat", "An unknown error occurred while accessing /var/x.dat."},
      {1, nullptr, "An unknown error occurred while accessing an unnamed file."},
      {2, "/var/x.dat", "/var/x.dat was not found."},
      {5, "/var/x.dat", "Access to /var/x.dat was denied."},
      {9, "/var/x.dat", "Seek failed on /var/x.dat"},
      {13, nullptr, "Disk full while accessing an unnamed file."},
      {14, "/var/x.dat", "An attempt was made to access /var/x.dat past its end."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.want);
    CFileException e(row.cause, 0, row.name);
    char buffer[256];
    memset(buffer, 'Z', sizeof buffer);  // stale bytes
    UINT help = 9;
    EXPECT_EQ(e.GetErrorMessage(buffer, sizeof buffer, &help), 1);
    EXPECT_EQ(std::string(buffer), row.want);
    EXPECT_EQ(help, 0u);
  }
  // Every cause with a text names the file once, followed by a blank, a
  // full stop or nothing.
  for (int cause = 1; cause <= 14; ++cause) {
    SCOPED_TRACE(cause);
    CFileException e(cause, 0, "/var/x.dat");
    char buffer[256];
    EXPECT_EQ(e.GetErrorMessage(buffer, sizeof buffer, nullptr), 1);
    std::string text(buffer);
    size_t at = text.find("/var/x.dat");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(text.find("/var/x.dat", at + 1), std::string::npos);
    std::string after = text.substr(at + 10);
    EXPECT_TRUE(after.empty() || after[0] == ' ' || after[0] == '.') << text;
  }
}

TEST(FileException, UnknownCauseAndSmallBuffers) {
  for (int cause : {15, 100, -1}) {
    CFileException e(cause, 0, "f");
    char buffer[16];
    memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(e.GetErrorMessage(buffer, sizeof buffer, nullptr), 1);
    EXPECT_EQ(buffer[0], '\0');  // empty text, no stale bytes
  }
  CFileException e(CFileException::diskFull, 28, "disk.img");
  char buffer[16];
  memset(buffer, 'Z', sizeof buffer);
  EXPECT_EQ(e.GetErrorMessage(buffer, 10, nullptr), 1);
  EXPECT_STREQ(buffer, "Disk full");
  EXPECT_EQ(buffer[10], 'Z');
  memset(buffer, 'Z', sizeof buffer);
  EXPECT_EQ(e.GetErrorMessage(buffer, 0, nullptr), 1);
  EXPECT_EQ(buffer[0], 'Z');
}

TEST(FileException, ErrnoTable) {
  struct Case {
    int value, cause;
  } cases[] = {
      {EPERM, 5}, {EACCES, 5},  {ENOENT, 2}, {ENFILE, 2},   {EIO, 10}, {EINVAL, 10},
      {EBADF, 6}, {EMFILE, 4},  {ENOSPC, 13}, {EDEADLK, 11}, {0, 1},    {-1, 1},
      {EEXIST, 1}, {ENOTDIR, 1}, {100000, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(CFileException::ErrnoToException(c.value), c.cause);
  }
}

TEST(FileException, Win32Table) {
  struct Row {
    int cause;
    std::initializer_list<LONG> codes;
  } rows[] = {
      {0, {0}},
      {2, {2, 6, 18, 107}},
      {3, {3, 15, 17, 34, 52, 53, 55, 67, 70, 85, 111, 123, 124, 125, 144, 154, 161, 206, 208, 267}},
      {4, {4, 36, 68, 113}},
      {5, {5, 12, 19, 29, 54, 58, 64, 65, 71, 80, 82, 86, 170, 183, 999}},
      {6, {11, 26, 60, 66, 114, 182, 191, 193}},
      {7, {16, 145}},
      {8, {62}},
      {9, {24, 25, 27, 30, 131, 132}},
      {10, {20, 21, 22, 23, 57, 59, 88, 117, 995, 996, 997}},
      {11, {32}},
      {12, {33, 108, 167}},
      {13, {39, 112}},
      {14, {38}},
      {1, {1, 7, 8, 13, 14, 87, 122, 1392, 65536 + 2, -1, -2}},
  };
  for (const Row& row : rows)
    for (LONG code : row.codes) {
      SCOPED_TRACE(code);
      EXPECT_EQ(CFileException::OsErrorToException(code), row.cause);
    }
}

TEST(FileException, ThrowHelpers) {
  EXPECT_NO_THROW(CFileException::ThrowErrno(0, "x"));
  EXPECT_NO_THROW(CFileException::ThrowOsError(0, "x"));
  try {
    CFileException::ThrowErrno(2, "x");
    ADD_FAILURE() << "not thrown";
  } catch (CFileException* e) {
    EXPECT_EQ(e->m_cause, 2);
    EXPECT_EQ(e->m_lOsError, 2);
    EXPECT_STREQ(e->m_strFileName.c_str(), "x");
    char text[64];
    EXPECT_EQ(e->GetErrorMessage(text, sizeof text, nullptr), 1);
    EXPECT_STREQ(text, "x was not found.");
    e->Delete();  // heap: freed
  }
  try {
    CFileException::ThrowOsError(183, nullptr);
    ADD_FAILURE() << "not thrown";
  } catch (CException* e) {
    CFileException* f = dynamic_cast<CFileException*>(e);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->m_cause, CFileException::accessDenied);
    EXPECT_EQ(f->m_lOsError, 183);
    EXPECT_TRUE(f->m_strFileName.IsEmpty());
    e->Delete();
  }
  try {
    AfxThrowFileException(CFileException::badSeek, -1, "");
  } catch (CFileException* e) {
    char text[64];
    e->GetErrorMessage(text, sizeof text, nullptr);
    EXPECT_STREQ(text, "Seek failed on an unnamed file");
    e->Delete();
  }
}

// An exception that counts its destructions, to watch ownership.
int g_destroyed = 0;
class CCountedException : public CException {
 public:
  ~CCountedException() override { ++g_destroyed; }
};

TEST(DetailedException, FieldsAndOwnedNestedException) {
  g_destroyed = 0;
  CDException* e = new CDException(1);
  EXPECT_EQ(e->GetNestedException(), nullptr);
  e->PutFacility(0x0A);
  e->PutCode(0xE00A0001u);
  e->PutDetails("script not found");
  EXPECT_EQ(e->GetFacility(), 0x0Au);
  EXPECT_EQ(e->GetCode(), 0xE00A0001u);
  EXPECT_STREQ(e->GetDetails().c_str(), "script not found");

  CCountedException* first = new CCountedException;
  e->PutNestedException(first);
  EXPECT_EQ(e->GetNestedException(), first);
  e->PutNestedException(first);  // the same one again: kept
  EXPECT_EQ(g_destroyed, 0);
  e->PutNestedException(new CCountedException);  // replaces: the first is released
  EXPECT_EQ(g_destroyed, 1);

  char text[8];
  EXPECT_EQ(e->GetErrorMessage(text, sizeof text, nullptr), 1);
  EXPECT_STREQ(text, "script ");  // cut to the buffer
  e->Delete();
  EXPECT_EQ(g_destroyed, 2);  // the nested one went with it

  // A static exception nested inside survives.
  CDException* s = new CDException;
  s->PutNestedException(&_simpleMemoryException);
  s->Delete();
  EXPECT_EQ(_simpleMemoryException.GetErrorMessage(text, sizeof text, nullptr), 1);

  CDException empty(0);
  text[0] = 'x';
  EXPECT_EQ(empty.GetErrorMessage(text, sizeof text, nullptr), 0);
  EXPECT_EQ(text[0], '\0');
}

TEST(DetailedException, CaughtBeforeThePlainHandler) {
  int which = 0;
  try {
    CDException* e = new CDException;
    e->PutCode(9);
    throw e;
  } catch (CDException* e) {
    which = 1;
    EXPECT_EQ(e->GetCode(), 9u);
    e->Delete();
  } catch (CException* e) {
    which = 2;
    e->Delete();
  }
  EXPECT_EQ(which, 1);

  try {
    ThrowCode(static_cast<DWORD>(E_FAIL));
  } catch (DWORD code) {
    EXPECT_EQ(code, static_cast<DWORD>(E_FAIL));
  }
}

int g_hookCalls = 0;
_EXCEPTION_POINTERS* g_hookInfo = nullptr;
int Hook(_EXCEPTION_POINTERS* info) {
  ++g_hookCalls;
  g_hookInfo = info;
  return 1;
}

TEST(StructuredExceptionHooks, HookTranslatorAndFlag) {
  EXPECT_EQ(SetLogSE(&Hook), nullptr);
  _EXCEPTION_POINTERS* info = reinterpret_cast<_EXCEPTION_POINTERS*>(0x1234);
  try {
    SEH_Translator(0xC0000005u, info);
  } catch (const CSEH_Exception& e) {
    EXPECT_EQ(e.GetCode(), 0xC0000005u);
  }
  EXPECT_EQ(g_hookCalls, 1);
  EXPECT_EQ(g_hookInfo, info);
  EXPECT_EQ(SetLogSE(nullptr), &Hook);
  try {
    SEH_Translator(5, nullptr);
  } catch (const CSEH_Exception& e) {
    EXPECT_EQ(e.GetCode(), 5u);
  }
  EXPECT_EQ(g_hookCalls, 1);

  EXPECT_EQ(SetSEH_Translator(), 0);
  EXPECT_EQ(g_nSEHTranslatorEnabled, 1);
  DisableSEH_Translator();
  EXPECT_EQ(g_nSEHTranslatorEnabled, 0);
}

}  // namespace
