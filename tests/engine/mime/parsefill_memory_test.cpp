// A 30 MB attachment parses with bounded memory: the message file (above
// the spam test's in-memory limit) is scanned from disk and its base64 body
// decoded straight into a temporary file. The parse runs in a child process,
// which reports how far its peak resident size rose above its size at the
// start.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "common/tempdir.h"
#include "mime/message.h"
#include "mime/rfc822parser.h"

using namespace telsor;

namespace {

const ULONG kAttachmentSize = 30u * 1024u * 1024u;
const ULONG kSpamTestLimit = 4194304;  // the spam test's in-memory limit

// The attachment's bytes, position by position.
unsigned char AttachmentByte(ULONG i) { return static_cast<unsigned char>((i * 131u) ^ (i >> 11)); }

// Base64 of 57 bytes per 76-character line, written as it is made.
void WriteBase64(std::ofstream& out, ULONG size) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string line;
  for (ULONG at = 0; at < size; at += 57) {
    line.clear();
    const ULONG end = size - at < 57 ? size : at + 57;
    for (ULONG i = at; i < end; i += 3) {
      const unsigned v = (AttachmentByte(i) << 16) | (i + 1 < end ? AttachmentByte(i + 1) << 8 : 0) |
                         (i + 2 < end ? AttachmentByte(i + 2) : 0);
      line += kAlphabet[(v >> 18) & 63];
      line += kAlphabet[(v >> 12) & 63];
      line += i + 1 < end ? kAlphabet[(v >> 6) & 63] : '=';
      line += i + 2 < end ? kAlphabet[v & 63] : '=';
    }
    line += "\r\n";
    out << line;
  }
}

// Resident size now, in kB (VmRSS of /proc/self/status), 0 when unknown.
long ResidentKb() {
  FILE* f = fopen("/proc/self/status", "r");
  if (f == nullptr) return 0;
  char line[256];
  long kb = 0;
  while (fgets(line, sizeof line, f) != nullptr) {
    if (sscanf(line, "VmRSS: %ld", &kb) == 1) break;
  }
  fclose(f);
  return kb;
}

// Whether the file holds exactly the attachment's bytes (read in pieces).
bool HoldsTheAttachment(const char* path) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return false;
  unsigned char buffer[65536];
  ULONG at = 0;
  size_t n;
  bool same = true;
  while (same && (n = fread(buffer, 1, sizeof buffer, f)) > 0) {
    for (size_t i = 0; i < n && same; ++i) same = at + i < kAttachmentSize && buffer[i] == AttachmentByte(at + i);
    at += static_cast<ULONG>(n);
  }
  fclose(f);
  return same && at == kAttachmentSize;
}

// The child's checks: 0 when all hold, else the number of the first that
// failed. growthKb := peak resident size less the size at the start.
int ParseInChild(const std::string& path, const std::string& dir, long& growthKb) {
  const long startKb = ResidentKb();
  int failed = 0;
  {
    CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
    EXPECT_EQ(parser->OpenSession(dir.c_str()), S_OK);
    parser->PutMaxContentSizeInMemory(kSpamTestLimit);
    CRfc822Message message;
    CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile(path.c_str(), FALSE);
    if (parser->ParseMessage(file, PARSE_SCOPE_FULL, message) != S_OK) {
      failed = 1;
    } else if (message.GetParts(nullptr)->GetCount() != 2) {
      failed = 2;
    } else {
      CRfc822Parts* parts = message.GetParts(nullptr);
      CRfc822Part* attachment = parts->GetAt(parts->GetTailPosition());
      if (attachment->GetContent().GetSize() != kAttachmentSize || !attachment->GetContent().IsInFile() ||
          attachment->GetContent().IsInMemory()) {
        failed = 3;
      } else if (strcmp(attachment->GetAttachmentName().c_str(), "big.bin") != 0) {
        failed = 4;
      } else if (!HoldsTheAttachment(attachment->GetContent().GetAsFile()->GetFileName())) {
        failed = 5;
      }
    }
  }
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  growthKb = usage.ru_maxrss - startKb;
  return failed;
}

TEST(ParseFillMemory, ThirtyMegabyteAttachmentParsesInBoundedMemory) {
  telsor_test::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string path = dir / "big.eml";
  const std::string session = dir / "session";
  ASSERT_EQ(0, mkdir(session.c_str(), 0700));
  {
    std::ofstream out(path, std::ios::binary);
    out << "From: a@example.org\r\nSubject: big\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
           "--b\r\nContent-Type: text/plain\r\n\r\nsee the attachment\r\n"
           "--b\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment; filename=\"big.bin\"\r\n\r\n";
    WriteBase64(out, kAttachmentSize);
    out << "--b--\r\n";
    ASSERT_TRUE(out.good());
  }
  int report[2];
  ASSERT_EQ(0, pipe(report));
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(report[0]);
    long growthKb = 0;
    int failed = ParseInChild(path, session, growthKb);
    ssize_t written = write(report[1], &growthKb, sizeof growthKb);
    _exit(written == static_cast<ssize_t>(sizeof growthKb) ? failed : 99);
  }
  close(report[1]);
  long growthKb = -1;
  ssize_t got = read(report[0], &growthKb, sizeof growthKb);
  close(report[0]);
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status)) << "check that failed in the child";
  ASSERT_EQ(static_cast<ssize_t>(sizeof growthKb), got);
  printf("peak resident growth while parsing a %lu-byte attachment: %ld kB\n",
         static_cast<unsigned long>(kAttachmentSize), growthKb);
  RecordProperty("PeakGrowthKb", static_cast<int>(growthKb));
#if !defined(__SANITIZE_ADDRESS__)
  // The sanitizer's quarantine keeps freed blocks resident, so the bound
  // holds for the plain build only: well under the attachment, a little
  // above the in-memory limit.
  EXPECT_LT(growthKb, 12L * 1024);
#endif
  // The temporary files went with the message.
  EXPECT_EQ(0, rmdir(session.c_str()));
}

}  // namespace
