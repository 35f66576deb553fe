// The XML catalogue store: catalogue reads with xerces-c, script files.
#include "filter/sievexml.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <mutex>
#include <new>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/Wrapper4InputSource.hpp>
#include <xercesc/sax/InputSource.hpp>
#include <xercesc/util/BinInputStream.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "filter/filterresults.h"
#include "foundation/errorroad.h"
#include "foundation/regularfile.h"
#include "foundation/throwcode.h"
#include "foundation/win32.h"
#include "mime/rfc2047text.h"

XERCES_CPP_NAMESPACE_USE

namespace telsor {

namespace {

const char kCatalogName[] = "SieveCatalog.xml";
// Entity references one catalogue may expand (it declares none: a document
// type is refused).
const XMLSize_t kEntityExpansionLimit = 100;

// The XML library's process-wide set-up, counted so that stores on several
// threads may each bracket their reads with it.
std::mutex g_xmlLock;
int g_xmlUsers = 0;

class XmlSession {
 public:
  XmlSession() {
    std::lock_guard<std::mutex> lock(g_xmlLock);
    if (g_xmlUsers == 0) XMLPlatformUtils::Initialize();
    ++g_xmlUsers;
  }
  ~XmlSession() {
    std::lock_guard<std::mutex> lock(g_xmlLock);
    if (--g_xmlUsers == 0) XMLPlatformUtils::Terminate();
  }
  XmlSession(const XmlSession&) = delete;
  XmlSession& operator=(const XmlSession&) = delete;
};

// A DOM string as 8-bit text; one that cannot be transcoded is empty.
TSTRING Text(const XMLCh* s) {
  if (s == nullptr) return TSTRING();
  char* local = XMLString::transcode(s);
  if (local == nullptr) return TSTRING();
  TSTRING out(local);
  XMLString::release(&local);
  return out;
}

// Notes that the parser reported an error, keeps the first one's text and
// place, and lets the parser go on (a fatal error ends the parse anyway).
class DOMCountErrorHandler : public DOMErrorHandler {
 public:
  bool handleError(const DOMError& error) override {
    if (!m_bSawErrors) {
      m_bSawErrors = true;
      m_strMessage = Text(error.getMessage());
      if (const DOMLocator* where = error.getLocation()) {
        m_nLine = static_cast<unsigned long>(where->getLineNumber());
        m_nColumn = static_cast<unsigned long>(where->getColumnNumber());
      }
    }
    return true;
  }
  void resetErrors() { m_bSawErrors = false; }
  bool getSawErrors() const { return m_bSawErrors; }
  // "Error during parsing: '<path>', line L, column C: <parser's message>".
  TSTRING Describe(const char* path) const {
    TSTRING text;
    text.Format("Error during parsing: '%s', line %lu, column %lu: %s", path, m_nLine, m_nColumn,
                m_strMessage.c_str());
    return text;
  }

 private:
  bool m_bSawErrors = false;
  TSTRING m_strMessage;
  unsigned long m_nLine = 0;
  unsigned long m_nColumn = 0;
};

// The bytes of an open catalogue, read as the parser asks for them; a
// failing read ends the input and is kept.
class DescriptorStream : public BinInputStream {
 public:
  DescriptorStream(int fd, int* readError) : m_fd(fd), m_pReadError(readError) {}
  XMLFilePos curPos() const override { return m_nPos; }
  XMLSize_t readBytes(XMLByte* const toFill, const XMLSize_t maxToRead) override {
    for (;;) {
      const ssize_t n = read(m_fd, toFill, maxToRead);
      if (n >= 0) {
        m_nPos += static_cast<XMLFilePos>(n);
        return static_cast<XMLSize_t>(n);
      }
      if (errno == EINTR) continue;
      if (*m_pReadError == 0) *m_pReadError = errno;
      return 0;
    }
  }
  const XMLCh* getContentType() const override { return nullptr; }

 private:
  int m_fd;
  int* m_pReadError;
  XMLFilePos m_nPos = 0;
};

// The catalogue as the parser's input: the descriptor the store opened, so
// the parser itself opens nothing.
class DescriptorSource : public InputSource {
 public:
  DescriptorSource(int fd, const char* path, int* readError)
      : InputSource(path), m_fd(fd), m_pReadError(readError) {}
  BinInputStream* makeStream() const override { return new DescriptorStream(m_fd, m_pReadError); }

 private:
  int m_fd;
  int* m_pReadError;
};

bool NameIs(const XMLCh* name, const char* wanted) { return strcasecmp(Text(name).c_str(), wanted) == 0; }

DWORD Unsigned(const TSTRING& text) { return static_cast<DWORD>(strtoul(text.c_str(), nullptr, 10)); }

// Fields separated as "12:05:07.250": each read like strtol, a missing
// separator leaves the fields after it as they were.
void ReadParts(const TSTRING& text, const char* separators, WORD* const* fields, int count) {
  const char* p = text.c_str();
  *fields[0] = static_cast<WORD>(strtol(p, nullptr, 10));
  for (int i = 1; i < count; ++i) {
    const char* at = strchr(p, separators[i - 1]);
    if (at == nullptr) return;
    p = at + 1;
    *fields[i] = static_cast<WORD>(strtol(p, nullptr, 10));
  }
}

bool SafeIdentifier(const TSTRING& id) { return id.Find('/') < 0; }

// Writes the whole buffer, however the system splits it; the failing
// result of the error number is thrown.
void WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t done = write(fd, p, n);
    if (done < 0) {
      if (errno == EINTR) continue;
      ThrowCode(static_cast<DWORD>(ResultFromErrno()));
    }
    p += done;
    n -= static_cast<size_t>(done);
  }
}

// One script file, written under an exclusive lock; a new file carries the
// in-progress marker (others-execute) until its text is complete.
void WriteScriptFile(const TSTRING& path, const TSTRING& text) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_SYNC | O_CLOEXEC, 0665);
  // What is there already is written only when it is a regular file (a
  // FIFO would take the text and then hold the write for ever).
  if (fd < 0 && errno == EEXIST) fd = open(path.c_str(), O_RDWR | O_SYNC | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0 && CheckRegularFile(fd) != 0) {
    const int error = errno;
    close(fd);
    ThrowCode(static_cast<DWORD>(ResultFromSystemError(static_cast<DWORD>(error))));
  }
  if (fd < 0) ThrowCode(static_cast<DWORD>(ResultFromErrno()));
  int rc;
  while ((rc = flock(fd, LOCK_EX)) < 0 && errno == EINTR) {
  }
  if (rc < 0) {
    const int error = errno;
    close(fd);
    ThrowCode(static_cast<DWORD>(ResultFromSystemError(static_cast<DWORD>(error))));
  }
  const int error = [&]() -> int {
    try {
      if (lseek(fd, 0, SEEK_SET) < 0) return errno;
      WriteAll(fd, text.c_str(), static_cast<size_t>(text.GetLength()));
    } catch (DWORD code) {
      return static_cast<int>(code);
    }
    while ((rc = ftruncate(fd, text.GetLength())) < 0 && errno == EINTR) {
    }
    if (rc < 0) return errno;
    if (fchmod(fd, 0664) < 0) return errno;
    return 0;
  }();
  while (flock(fd, LOCK_UN) < 0 && errno == EINTR) {
  }
  close(fd);
  if (error != 0) ThrowCode(static_cast<DWORD>(ResultFromSystemError(static_cast<DWORD>(error))));
}

// The record's fields from the children of a SCRIPT element; CDATA texts
// go to the record's script file as they come.
void ReadRecord(DOMElement* element, CScriptInfo& info, const TSTRING& fileDir) {
  DOMNamedNodeMap* attributes = element->getAttributes();
  for (XMLSize_t i = 0; attributes != nullptr && i < attributes->getLength(); ++i) {
    DOMNode* a = attributes->item(i);
    if (NameIs(a->getNodeName(), "ID")) {
      info.m_strID = Text(a->getNodeValue());
      info.m_strID.MakeUpper();
    } else if (NameIs(a->getNodeName(), "REQVER")) {
      info.m_dwRequiredVersion = Unsigned(Text(a->getNodeValue()));
    }
  }
  for (DOMNode* child = element->getFirstChild(); child != nullptr; child = child->getNextSibling()) {
    if (child->getNodeType() == DOMNode::CDATA_SECTION_NODE) {
      // An identifier with "/" would name a file outside the directory.
      if (SafeIdentifier(info.m_strID))
        WriteScriptFile(CSieveXML::GetScriptFileName(fileDir, info.m_strID.c_str()), Text(child->getNodeValue()));
      continue;
    }
    if (child->getNodeType() != DOMNode::ELEMENT_NODE) continue;
    DOMNode* first = child->getFirstChild();
    if (first == nullptr || first->getNodeType() != DOMNode::TEXT_NODE) continue;
    const TSTRING value = Text(first->getNodeValue());
    const XMLCh* name = child->getNodeName();
    if (NameIs(name, "NAME")) {
      info.m_strName = CSieveXML::DecodeCatalogText(value.c_str());
    } else if (NameIs(name, "DESCRIPTION")) {
      info.m_strDescription = CSieveXML::DecodeCatalogText(value.c_str());
    } else if (NameIs(name, "CONTRIBUTOR")) {
      info.m_strContributor = CSieveXML::DecodeCatalogText(value.c_str());
    } else if (NameIs(name, "VENDOR")) {
      info.m_dwVendor = Unsigned(value);
    } else if (NameIs(name, "USN")) {
      info.m_dwUpdateNumber = Unsigned(value);
    } else if (NameIs(name, "FLAGS")) {
      info.m_dwFlags = Unsigned(value);
    } else if (NameIs(name, "CATEGORY")) {
      info.m_dwCategory = Unsigned(value);
    } else if (NameIs(name, "LUT")) {
      SYSTEMTIME& t = info.m_stLastUpdate;
      WORD* const fields[] = {&t.wHour, &t.wMinute, &t.wSecond, &t.wMilliseconds};
      ReadParts(value, "::.", fields, 4);
    } else if (NameIs(name, "LUD")) {
      SYSTEMTIME& t = info.m_stLastUpdate;
      WORD* const fields[] = {&t.wYear, &t.wMonth, &t.wDay};
      ReadParts(value, "--", fields, 3);
    }
  }
}

void ParseCatalogDocument(DOMNode* document, CCacheItemLSI& item, const TSTRING& fileDir) {
  for (DOMNode* top = document->getFirstChild(); top != nullptr; top = top->getNextSibling()) {
    if (top->getNodeType() != DOMNode::ELEMENT_NODE || !NameIs(top->getNodeName(), "SIEVESCRIPTS")) continue;
    DOMNamedNodeMap* attributes = top->getAttributes();
    for (XMLSize_t i = 0; attributes != nullptr && i < attributes->getLength(); ++i) {
      DOMNode* a = attributes->item(i);
      if (NameIs(a->getNodeName(), "USN")) item.m_dwUpdateNumber = Unsigned(Text(a->getNodeValue()));
    }
    for (DOMNode* child = top->getFirstChild(); child != nullptr; child = child->getNextSibling()) {
      if (child->getNodeType() != DOMNode::ELEMENT_NODE) continue;
      if (!NameIs(child->getNodeName(), "SCRIPT") && !NameIs(child->getNodeName(), "SCRIPT2")) continue;
      CSharedObjPtr<CScriptInfo> info = new CScriptInfo;
      ReadRecord(static_cast<DOMElement*>(child), *info, fileDir);
      if (info->m_strID.IsEmpty() || !SafeIdentifier(info->m_strID)) continue;
      if (info->m_dwRequiredVersion > CSieveScript::GetEngineVersion()) continue;
      item.m_list.AddTail(info);
    }
  }
}

// dir trimmed of blanks and tabs, with a "/" at the end.
TSTRING Directory(const char* name) {
  TSTRING dir = CSieveXML::TrimFolderName(name);
  if (dir.IsEmpty() || dir[dir.GetLength() - 1] != '/') dir.append("/", 1);
  return dir;
}

}  // namespace

CSieveXML::CSieveXML() : CSieveDataSource(128, 2048) {}

CSieveXML::~CSieveXML() {}

TSTRING CSieveXML::TrimFolderName(const char* name) {
  TSTRING dir(name == nullptr ? "" : name);
  dir.TrimLeft(" \t");
  dir.TrimRight(" \t");
  return dir;
}

DWORD CSieveXML::Initialize(const char* catalogueDir, const char* fileDir) {
  m_strCatalogDir = Directory(catalogueDir);
  const TSTRING files = TrimFolderName(fileDir);
  m_strFileDir = files.IsEmpty() ? m_strCatalogDir : Directory(files.c_str());
  if (access(m_strCatalogDir.c_str(), R_OK) != 0) return ERROR_PATH_NOT_FOUND;
  if (access(m_strFileDir.c_str(), R_OK | W_OK) != 0) return ERROR_PATH_NOT_FOUND;
  return 0;
}

TSTRING CSieveXML::GetScriptFileName(const TSTRING& dir, const char* id) {
  TSTRING upper(id == nullptr ? "" : id);
  upper.MakeUpper();
  TSTRING name;
  if (dir.IsEmpty() || dir[dir.GetLength() - 1] != '/') {
    name.Format("%s%cT%s.dat", dir.c_str(), '/', upper.c_str());
  } else {
    name.Format("%sT%s.dat", dir.c_str(), upper.c_str());
  }
  return name;
}

TSTRING CSieveXML::DecodeCatalogText(const char* text) {
  TSTRING base64(text == nullptr ? "" : text);
  base64.RemoveAny(" \n\r\t=");
  const int rest = base64.GetLength() % 4;
  if (rest != 0) base64.append(rest, 'A');
  TSTRING utf16;
  if (BWordDecode(utf16, base64) != S_OK) return TSTRING();
  utf16.append(2, '\0');
  // Little-endian UTF-16 into the library's characters, whatever the host.
  const int count = utf16.GetLength() / 2;
  std::unique_ptr<XMLCh[]> wide(new (std::nothrow) XMLCh[static_cast<size_t>(count) + 1]);
  if (!wide) return TSTRING();
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(utf16.c_str());
  for (int i = 0; i < count; ++i) wide[i] = static_cast<XMLCh>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  wide[count] = 0;
  XmlSession session;
  return Text(wide.get());
}

TSTRING CSieveXML::EncodeScriptFile(const TSTRING& text) {
  TSTRING scrambled(text.c_str(), text.GetLength());
  char* p = scrambled.GetBuffer(scrambled.GetLength());
  for (int i = 0; i < scrambled.GetLength(); ++i) p[i] = static_cast<char>(p[i] ^ (i & 0xFF));
  scrambled.ReleaseBuffer(text.GetLength());
  TSTRING out;
  if (BWordEncode(out, scrambled) != S_OK) AfxThrowMemoryException();
  return out;
}

HRESULT CSieveXML::DecodeScriptFile(const TSTRING& file, TSTRING& text) {
  TSTRING plain;
  HRESULT hr = BWordDecode(plain, file);
  if (hr != S_OK) {
    text.Release();
    return hr;
  }
  char* p = plain.GetBuffer(plain.GetLength());
  const int n = plain.GetLength();
  for (int i = 0; i < n; ++i) p[i] = static_cast<char>(p[i] ^ (i & 0xFF));
  plain.ReleaseBuffer(n);
  text = plain;
  return S_OK;
}

bool CSieveXML::tag_CATALOG_IDENTITY::operator==(const tag_CATALOG_IDENTITY& o) const {
  return device == o.device && inode == o.inode && size == o.size && modified == o.modified &&
         changed == o.changed && lstrcmpA(path.c_str(), o.path.c_str()) == 0;
}

bool CSieveXML::IdentityOf(int fd, const char* path, tag_CATALOG_IDENTITY& identity) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  identity.path = path;
  identity.device = static_cast<ULONGLONG>(st.st_dev);
  identity.inode = static_cast<ULONGLONG>(st.st_ino);
  identity.size = static_cast<ULONGLONG>(st.st_size);
  identity.modified = static_cast<LONGLONG>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  identity.changed = static_cast<LONGLONG>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return true;
}

HRESULT CSieveXML::ReadScriptInfoFromCatalog(const char* path, CSharedObjPtr<CCacheItemLSI>& item) {
  item->m_tRead = static_cast<int32_t>(time(nullptr));
  // The catalogue is opened here, once, and only when it is a regular file;
  // the parser reads this descriptor and opens nothing itself.
  const int fd = OpenRegularFile(path);
  if (fd < 0) return E_SIEVE_OPEN_FAILED;
  struct FdHold {
    int fd;
    ~FdHold() { close(fd); }
  } hold{fd};
  tag_CATALOG_IDENTITY identity;
  if (!IdentityOf(fd, path, identity)) return E_SIEVE_OPEN_FAILED;
  {
    std::lock_guard<std::mutex> lock(m_failedLock);
    if (m_failed.result != S_OK && m_failed.identity == identity) {
      PutErrDescription(m_failed.description.c_str());
      return m_failed.result;
    }
  }

  TSTRING why;
  bool parsing = false;       // an exception now comes from the catalogue's bytes
  bool contentFault = false;  // the catalogue's own bytes are at fault
  int readError = 0;
  DOMCountErrorHandler errors;
  DOMLSParser* parser = nullptr;
  {
    XmlSession session;
    SecurityManager security;
    try {
      static const XMLCh ls[] = {chLatin_L, chLatin_S, chNull};
      DOMImplementation* impl = DOMImplementationRegistry::getDOMImplementation(ls);
      parser = static_cast<DOMImplementationLS*>(impl)->createLSParser(
          DOMImplementationLS::MODE_SYNCHRONOUS, nullptr, XMLPlatformUtils::fgMemoryManager, nullptr);
      // The catalogue is plain data: a document type (and with it every
      // entity, internal or external, and every DTD to fetch) is an error,
      // and nothing outside the file is loaded. The expansion limit stands
      // guard should an entity ever get through.
      security.setEntityExpansionLimit(kEntityExpansionLimit);
      DOMConfiguration* config = parser->getDomConfig();
      config->setParameter(XMLUni::fgDOMNamespaces, false);
      config->setParameter(XMLUni::fgXercesSchema, false);
      config->setParameter(XMLUni::fgXercesLoadSchema, false);
      config->setParameter(XMLUni::fgDOMDisallowDoctype, true);
      config->setParameter(XMLUni::fgXercesLoadExternalDTD, false);
      config->setParameter(XMLUni::fgXercesDoXInclude, false);
      config->setParameter(XMLUni::fgXercesSecurityManager, static_cast<SecurityManager*>(&security));
      config->setParameter(XMLUni::fgDOMErrorHandler, static_cast<DOMErrorHandler*>(&errors));
      parser->resetDocumentPool();
      Wrapper4InputSource input(new DescriptorSource(fd, path, &readError));
      parsing = true;
      DOMDocument* document = parser->parse(&input);
      parsing = false;
      if (document != nullptr && !errors.getSawErrors() && readError == 0)
        ParseCatalogDocument(document, *item, m_strFileDir);
    } catch (const XMLException& e) {
      contentFault = parsing;
      why.Format("Error during parsing: '%s'.Exception message is: %s", path, Text(e.getMessage()).c_str());
    } catch (const DOMException& e) {
      contentFault = parsing;
      why.Format("DOM Error during parsing: '%s'.DOMException code is: %d", path, static_cast<int>(e.code));
      XMLCh message[2048];
      if (DOMImplementation::loadDOMExceptionMsg(e.code, message, 2047)) {
        TSTRING text = Text(message);
        why.append("Message is: ", -1);
        why.append(text.c_str(), text.GetLength());
      }
    } catch (...) {
      (void)ResultOfCurrentException();  // an engine exception is released
      why.Format("Unexpected exception during parsing: '%s'", path);
    }
    if (parser != nullptr) parser->release();
  }
  if (readError != 0) {
    why.Format("Error reading '%s': %s", path, strerror(readError));
    contentFault = false;
  } else if (errors.getSawErrors() && why.IsEmpty()) {
    why = errors.Describe(path);
    contentFault = true;
  }
  if (why.IsEmpty()) {
    std::lock_guard<std::mutex> lock(m_failedLock);
    m_failed = tag_FAILED_CATALOG();
    return S_OK;
  }
  PutErrDescription(why.c_str());
  if (contentFault) {
    std::lock_guard<std::mutex> lock(m_failedLock);
    m_failed.identity = identity;
    m_failed.result = E_SIEVE_EXCEPTION;
    m_failed.description = why;
  }
  return E_SIEVE_EXCEPTION;
}

HRESULT CSieveXML::GetListScriptInfo(CListSieveScriptInfo& list, const char* user, const char* domain) {
  return ResultOfCall([&]() -> HRESULT {
    const CKeyLSI key(user, domain);
    list.RemoveAll();
    CSharedObjPtr<CCacheItemLSI> item = m_cacheLSI.GetObject(key);
    if (item == nullptr) {
      TSTRING path;
      path.Format("%s%s", m_strCatalogDir.c_str(), kCatalogName);
      CSharedObjPtr<CCacheItemLSI> fresh = new CCacheItemLSI;
      HRESULT hr = ReadScriptInfoFromCatalog(path.c_str(), fresh);
      if (hr != S_OK) return hr;
      m_cacheLSI.InsertIntoCache(key, fresh);
      item = fresh;
    }
    for (void* pos = item->m_list.GetHeadPosition(); pos != nullptr;) list.AddTail(item->m_list.GetNext(pos));
    return S_OK;
  });
}

HRESULT CSieveXML::GetAllScriptInfo(CListSieveScriptInfo& list) { return GetListScriptInfo(list, nullptr, nullptr); }

HRESULT CSieveXML::GetScriptInfo(const char* id, CScriptInfo& info) {
  return ResultOfCall([&]() -> HRESULT {
    CListSieveScriptInfo list;
    HRESULT hr = GetListScriptInfo(list, nullptr, nullptr);
    if (hr != S_OK) return hr;
    for (void* pos = list.GetHeadPosition(); pos != nullptr;) {
      const CSharedObjPtr<CScriptInfo>& record = list.GetNext(pos);
      if (lstrcmpiA(record->m_strID, id == nullptr ? "" : id) == 0) {
        info.Assign(*record);
        return S_OK;
      }
    }
    return E_SIEVE_SCRIPT_NOT_FOUND;
  });
}

HRESULT CSieveXML::GetScriptContent(const char* id, TSTRING& text) {
  return ResultOfCall([&]() -> HRESULT {
    if (id == nullptr || strchr(id, '/') != nullptr) return E_SIEVE_SCRIPT_NOT_FOUND;
    const TSTRING path = GetScriptFileName(m_strFileDir, id);
    const time_t deadline = time(nullptr) + WAIT_FOR_WRITER_SECONDS;
    struct stat st;
    int rc;
    // Only a regular file can carry the writer's mark: anything else is no
    // script file, at once.
    while ((rc = stat(path.c_str(), &st)) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXOTH) &&
           time(nullptr) < deadline)
      Sleep(100);
    if (rc != 0) return E_SIEVE_SCRIPT_NOT_FOUND;
    if (!S_ISREG(st.st_mode)) return E_SIEVE_OPEN_FAILED;
    if (st.st_mode & S_IXOTH) return E_SIEVE_SCRIPT_NOT_FOUND;
    const int fd = OpenRegularFile(path.c_str());
    if (fd < 0) return errno == ENOENT ? E_SIEVE_SCRIPT_NOT_FOUND : E_SIEVE_OPEN_FAILED;
    FILE* f = fdopen(fd, "rb");
    if (f == nullptr) {
      close(fd);
      return E_OUTOFMEMORY;
    }
    while ((rc = flock(fileno(f), LOCK_SH)) < 0 && errno == EINTR) {
    }
    if (rc < 0) {
      fclose(f);
      return E_SIEVE_SCRIPT_LOCK;
    }
    DWORD read = 0;
    try {
      read = text.ReadFile(f);
    } catch (...) {
      read = static_cast<DWORD>(ResultOfCurrentException());
    }
    while ((rc = flock(fileno(f), LOCK_UN)) < 0 && errno == EINTR) {
    }
    fclose(f);
    if (rc < 0) return E_SIEVE_SCRIPT_LOCK;
    if (read == ERROR_FILE_NOT_FOUND) return E_SIEVE_SCRIPT_NOT_FOUND;
    // A read that failed with a system error number is a failure too.
    if (read != 0) return FAILED(read) ? static_cast<HRESULT>(read) : E_SIEVE_OPEN_FAILED;
    // Only memory can fail the decoder: that is reported, not an empty script.
    return DecodeScriptFile(TSTRING(text), text);
  });
}

HRESULT CSieveXML::GetCompiledScript(const char* id, CSieveScript& script) {
  return ResultOfCall([&]() -> HRESULT {
    TSTRING key(id == nullptr ? "" : id);
    key.MakeUpper();
    CSharedObjPtr<CCacheItemCompiledSS> cached = m_cacheCompiled.GetObject(key);
    if (cached != nullptr) {
      script = cached->m_script;
      return static_cast<HRESULT>(cached->m_dwResult);
    }
    TSTRING text;
    HRESULT hr = GetScriptContent(key.c_str(), text);
    if (hr != S_OK) return hr;
    hr = script.ParseString(text.c_str(), nullptr);
    CSharedObjPtr<CCacheItemCompiledSS> item = new CCacheItemCompiledSS;
    item->m_dwResult = static_cast<DWORD>(hr);
    item->m_script = script;
    m_cacheCompiled.InsertIntoCache(key, item);
    return hr;
  });
}

}  // namespace telsor
