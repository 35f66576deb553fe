// The XML catalogue store against catalogues and data folders built to hurt
// it: a catalogue names a file or a URL (external entities, an external
// DTD), expands entities without end (nested, quadratic), is malformed, or
// something that is no regular file stands where the catalogue or a script
// file should be. Each is refused at once, in bounded memory, with nothing
// named inside it opened or fetched: the FIFOs hold bytes for a reader that
// must never come (common/heldfifo.h), and a loopback listener would hold
// any connection made to it. A catalogue that failed is not read again
// until the file changes, and no path leaks memory.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>

#include "common/cputime.h"
#include "common/heldfifo.h"
#include "common/tempdir.h"
#include "filter/filterresults.h"
#include "filter/sievexml.h"

using namespace telsor;
using telsor_test::CHeldFifo;
using telsor_test::TempDir;
using telsor_test::WriteFileBytes;

namespace {

std::string Str(const TSTRING& s) { return std::string(s.c_str(), s.GetLength()); }

// The most memory the process has held, in bytes.
size_t PeakResident() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<size_t>(usage.ru_maxrss) * 1024;
}

// Bytes this process has read through read() and its kin so far.
size_t BytesRead() {
  std::ifstream io("/proc/self/io");
  std::string key;
  size_t value = 0;
  while (io >> key >> value)
    if (key == "rchar:") return value;
  return 0;
}

// A TCP listener on the loopback; a connection made to it waits in its queue.
class CListener {
 public:
  CListener() {
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_fd, 8) != 0 || getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      close(m_fd);
      m_fd = -1;
      return;
    }
    m_port = ntohs(address.sin_port);
  }
  ~CListener() {
    if (m_fd >= 0) close(m_fd);
  }
  CListener(const CListener&) = delete;
  CListener& operator=(const CListener&) = delete;
  int Port() const { return m_port; }
  bool Ready() const { return m_fd >= 0; }
  bool ConnectionWaiting() const {
    pollfd p = {m_fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
  }

 private:
  int m_fd = -1;
  int m_port = 0;
};

class HostileCatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(madeData);
    ASSERT_TRUE(fifo.Ready());
    ASSERT_TRUE(listener.Ready());
    ASSERT_EQ(store.Initialize(Data().c_str(), nullptr), 0u);
  }
  std::string Data() const { return dir / "data"; }
  std::string Catalog() const { return Data() + "/SieveCatalog.xml"; }
  // The list fetch of a store; a failure leaves the list empty.
  HRESULT Fetch(CSieveXML& s) {
    CListSieveScriptInfo list;
    HRESULT hr = s.GetListScriptInfo(list, nullptr, nullptr);
    if (hr != S_OK) {
      EXPECT_EQ(list.GetCount(), 0);
    }
    return hr;
  }
  // The same of a new store on the data folder (so that nothing it kept
  // answers), with its description.
  HRESULT FetchAnew(std::string* why = nullptr) {
    CSieveXML fresh;
    EXPECT_EQ(fresh.Initialize(Data().c_str(), nullptr), 0u);
    const HRESULT hr = Fetch(fresh);
    if (why != nullptr) *why = Str(fresh.GetErrDescription());
    return hr;
  }

  TempDir dir;
  bool madeData = mkdir((dir / "data").c_str(), 0755) == 0;
  CHeldFifo fifo{dir / "data/fifo", "<SieveScripts/>"};
  CListener listener;
  CSieveXML store;
};

TEST_F(HostileCatalogTest, NothingNamedInsideIsOpenedOrExpanded) {
  const std::string port = std::to_string(listener.Port());
  std::string laughs = "<!ENTITY a0 \"ha\">";
  for (int i = 1; i < 10; ++i) {
    laughs += "<!ENTITY a" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) laughs += "&a" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  std::string references;
  for (int i = 0; i < 4000; ++i) references += "&b;";
  struct Case {
    const char* what;
    std::string catalog;
  } cases[] = {
      {"external entity naming a FIFO",
       "<!DOCTYPE SieveScripts [<!ENTITY x SYSTEM \"fifo\">]><SieveScripts>&x;</SieveScripts>"},
      {"external entity by a file URL",
       "<!DOCTYPE SieveScripts [<!ENTITY x SYSTEM \"file://" + Data() + "/fifo\">]><SieveScripts>&x;</SieveScripts>"},
      {"external parameter entity",
       "<!DOCTYPE SieveScripts [<!ENTITY % p SYSTEM \"fifo\"> %p;]><SieveScripts/>"},
      {"external DTD on the loopback",
       "<!DOCTYPE SieveScripts SYSTEM \"http://127.0.0.1:" + port + "/x.dtd\"><SieveScripts/>"},
      {"external DTD in the folder", "<!DOCTYPE SieveScripts SYSTEM \"fifo\"><SieveScripts/>"},
      {"nested entities, ten to the ninth", "<!DOCTYPE SieveScripts [" + laughs + "]><SieveScripts USN=\"&a9;\"/>"},
      {"quadratic expansion", "<!DOCTYPE SieveScripts [<!ENTITY b \"" + std::string(50000, 'x') +
                                  "\">]><SieveScripts USN=\"" + references + "\"/>"},
      {"an internal entity alone", "<!DOCTYPE SieveScripts [<!ENTITY n \"1\">]><SieveScripts USN=\"&n;\"/>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(Catalog(), "<?xml version=\"1.0\"?>\n" + c.catalog + "\n");
    const size_t peak = PeakResident();
    CCpuTimer timer;
    std::string why;
    EXPECT_EQ(FetchAnew(&why), E_SIEVE_EXCEPTION);
    EXPECT_LT(timer.Seconds(), 1.0 * kSanitizerSlowdown);
    EXPECT_LT(PeakResident() - peak, size_t(32) << 20);
    // The parser's own words, with where it stopped: the document type.
    EXPECT_EQ(why.rfind("Error during parsing: '" + Catalog() + "', line 2, column ", 0), 0u) << why;
    EXPECT_GT(why.size(), why.find(": ", why.find("column")) + 2) << why;
    EXPECT_TRUE(fifo.Untouched());
    EXPECT_FALSE(listener.ConnectionWaiting());
  }
}

TEST_F(HostileCatalogTest, MalformedCatalogsNameTheParsersMessageAndPlace) {
  struct Case {
    const char* what;
    std::string catalog;
    std::string place;  // "line L, column C"
  } cases[] = {
      {"unclosed element", "<SieveScripts>\n<Script ID=\"a\">\n</SieveScripts>\n", "line 3, column 3"},
      {"text after the root", "<SieveScripts/>\ntrailing", "line 2, column 1"},
      {"empty file", "", "line 1, column 1"},
      {"a bad attribute", "<SieveScripts USN=5/>", "line 1, column 19"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(Catalog(), c.catalog);
    std::string why;
    EXPECT_EQ(FetchAnew(&why), E_SIEVE_EXCEPTION);
    const std::string prefix = "Error during parsing: '" + Catalog() + "', " + c.place + ": ";
    EXPECT_EQ(why.rfind(prefix, 0), 0u) << why;
    EXPECT_GT(why.size(), prefix.size()) << why;
  }
}

TEST_F(HostileCatalogTest, AFailedCatalogIsNotReadAgainUntilItChanges) {
  // A large catalogue broken at its very end: each parse reads all of it.
  std::string big = "<SieveScripts>\n";
  for (int i = 0; i < 4000; ++i) big += "<!-- filler filler filler filler filler filler -->\n";
  big += "<Script>\n";
  WriteFileBytes(Catalog(), big);
  size_t before = BytesRead();
  EXPECT_EQ(Fetch(store), E_SIEVE_EXCEPTION);
  const std::string why = Str(store.GetErrDescription());
  EXPECT_GE(BytesRead() - before, big.size());
  // Asked again (any user, any domain): the same answer, the file unread.
  for (const char* user : {"", "alice", "bob"}) {
    before = BytesRead();
    CListSieveScriptInfo list;
    EXPECT_EQ(store.GetListScriptInfo(list, user, nullptr), E_SIEVE_EXCEPTION);
    EXPECT_LT(BytesRead() - before, size_t(4096));
    EXPECT_EQ(Str(store.GetErrDescription()), why);
  }
  // The file changes: it is read again; mended, it is taken.
  WriteFileBytes(Catalog(), big);
  before = BytesRead();
  EXPECT_EQ(Fetch(store), E_SIEVE_EXCEPTION);
  EXPECT_GE(BytesRead() - before, big.size());
  WriteFileBytes(Catalog(), "<SieveScripts><Script ID=\"a1\"/></SieveScripts>");
  CListSieveScriptInfo list;
  EXPECT_EQ(store.GetListScriptInfo(list, nullptr, nullptr), S_OK);
  EXPECT_EQ(list.GetCount(), 1);
  // A failure that is not the catalogue's own (a script file that cannot
  // be written) is tried again on the next fetch.
  WriteFileBytes(Catalog(), "<SieveScripts><Script ID=\"w1\"><![CDATA[YWNh]]></Script></SieveScripts>");
  ASSERT_EQ(mkdir((Data() + "/TW1.dat").c_str(), 0755), 0);
  EXPECT_EQ(store.ClearCacheAllScriptInfo(), S_OK);
  EXPECT_EQ(Fetch(store), E_SIEVE_EXCEPTION);
  ASSERT_EQ(rmdir((Data() + "/TW1.dat").c_str()), 0);
  EXPECT_EQ(Fetch(store), S_OK);
}

TEST_F(HostileCatalogTest, NoRegularFileWhereOneShouldBe) {
  // The catalogue itself: a FIFO, a directory.
  const std::string elsewhere = dir / "other";
  ASSERT_EQ(mkdir(elsewhere.c_str(), 0755), 0);
  CHeldFifo catalogFifo(elsewhere + "/SieveCatalog.xml", "<SieveScripts/>");
  ASSERT_TRUE(catalogFifo.Ready());
  CSieveXML other;
  ASSERT_EQ(other.Initialize(elsewhere.c_str(), nullptr), 0u);
  EXPECT_EQ(Fetch(other), E_SIEVE_OPEN_FAILED);
  EXPECT_TRUE(catalogFifo.Untouched());
  ASSERT_EQ(mkdir(Catalog().c_str(), 0755), 0);
  EXPECT_EQ(Fetch(store), E_SIEVE_OPEN_FAILED);
  ASSERT_EQ(rmdir(Catalog().c_str()), 0);
  EXPECT_EQ(Fetch(store), E_SIEVE_OPEN_FAILED);  // none at all

  // Script files: a directory (whose mode carries the writer's mark), a
  // FIFO. Each answer comes at once, without waiting for the mark.
  ASSERT_EQ(mkdir((Data() + "/TD1.dat").c_str(), 0755), 0);
  CHeldFifo scriptFifo(Data() + "/TF1.dat", "YWNh");
  ASSERT_TRUE(scriptFifo.Ready());
  for (const char* id : {"d1", "f1"}) {
    SCOPED_TRACE(id);
    const auto start = std::chrono::steady_clock::now();
    TSTRING text;
    EXPECT_EQ(store.GetScriptContent(id, text), E_SIEVE_OPEN_FAILED);
    CSieveScript script;
    EXPECT_EQ(store.GetCompiledScript(id, script), E_SIEVE_OPEN_FAILED);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
  EXPECT_TRUE(scriptFifo.Untouched());

  // A catalogue whose script text would go into the FIFO: refused, the
  // FIFO neither read nor written.
  WriteFileBytes(Catalog(), "<SieveScripts><Script ID=\"f1\"><![CDATA[YWNh]]></Script></SieveScripts>");
  EXPECT_EQ(Fetch(store), E_SIEVE_EXCEPTION);
  EXPECT_TRUE(scriptFifo.Untouched());
}

#if defined(__SANITIZE_ADDRESS__)
const int kRounds = 5;
#else
const int kRounds = 50;
#endif

TEST_F(HostileCatalogTest, ErrorPathsKeepNoMemory) {
  const std::string port = std::to_string(listener.Port());
  const std::string broken[] = {
      "<!DOCTYPE SieveScripts SYSTEM \"http://127.0.0.1:" + port + "/x.dtd\"><SieveScripts/>",
      "<SieveScripts><Script></SieveScripts>",
      "",  // a directory in place of the catalogue
  };
  for (const std::string& catalog : broken) {
    SCOPED_TRACE(catalog);
    rmdir(Catalog().c_str());
    unlink(Catalog().c_str());
    if (catalog.empty()) {
      ASSERT_EQ(mkdir(Catalog().c_str(), 0755), 0);
    } else {
      WriteFileBytes(Catalog(), catalog);
    }
    // Each round a new store parses the catalogue: a leak per parse adds up.
    auto round = [&] { EXPECT_NE(FetchAnew(), S_OK); };
    // (Under the sanitizers the leak checker sees every lost block at exit;
    // mallinfo2 counts only the C library's own heap.)
    for (int i = 0; i < 3; ++i) round();
    const size_t held = mallinfo2().uordblks;
    for (int i = 0; i < kRounds; ++i) round();
    // Chunks parked in the allocator's per-thread cache count as held: a
    // few kilobytes of slack, against 6.5 KB or more for a leak of 130 bytes
    // a parse.
    EXPECT_LT(mallinfo2().uordblks, held + 4096);
  }
  EXPECT_FALSE(listener.ConnectionWaiting());
}

}  // namespace
