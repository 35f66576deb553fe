// The structure scan on small messages: offsets taken from the text itself
// by the delimiter rules (a delimiter line owns the line break before it
// and its own line end), flags, kinds and statuses; the buffer form and a
// stream read in small pieces give the same tree; the limits hold.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "engine/mime/mimetestutil.h"
#include "engine/mime/structscanutil.h"
#include "foundation/tstringasistream.h"
#include "mime/anomalyflags.h"
#include "mime/binhex.h"
#include "mime/mimeresults.h"
#include "mime/partdescriptor.h"

using namespace telsor;
using namespace structscan_test;
using mime_test::ExactBytes;

namespace {

typedef unsigned long U;

std::vector<const CRfc822PartDescriptor*> Children(const CRfc822PartDescriptor& d) {
  std::vector<const CRfc822PartDescriptor*> out;
  for (void* pos = d.m_Children.GetHeadPosition(); pos != nullptr;) out.push_back(d.m_Children.GetNext(pos));
  return out;
}

U At(const std::string& text, const std::string& what, size_t from = 0) {
  size_t p = text.find(what, from);
  EXPECT_NE(std::string::npos, p) << what;
  return static_cast<U>(p);
}

// Scans both ways, checks that they agree and that the tree is sound, and
// hands back the buffer form's tree.
Scans Checked(const std::string& message) {
  Scans s = ScanBoth(message, 7);
  EXPECT_EQ(DumpTree(*s.memory, false), DumpTree(*s.stream, false)) << mime_test::Show(message);
  // A stream that hands out one byte per read.
  Scans bytewise = ScanBoth(message, 1);
  EXPECT_EQ(DumpTree(*s.memory, false), DumpTree(*bytewise.stream, false)) << mime_test::Show(message);
  EXPECT_EQ("", Invariants(*s.memory, static_cast<U>(message.size())));
  EXPECT_EQ("", Invariants(*s.stream, static_cast<U>(message.size())));
  return s;
}

const std::string kMultipart =
    "Content-Type: multipart/mixed; boundary=b\r\n"
    "\r\n"
    "pre\r\n"
    "--b\r\n"
    "Content-Type: text/plain\r\n"
    "\r\n"
    "one\r\n"
    "--b\r\n"
    "\r\n"
    "two\r\n"
    "--b--\r\n"
    "epi\r\n";

TEST(StructScan, MultipartOffsetsFollowTheDelimiterLines) {
  Scans s = Checked(kMultipart);
  const CRfc822PartDescriptor& root = *s.memory;
  EXPECT_EQ(S_OK, s.memoryResult);
  EXPECT_EQ(S_OK, s.streamResult);
  EXPECT_EQ(1, root.m_nKind);
  EXPECT_EQ("multipart/mixed", S(root.m_strMediaType));
  EXPECT_EQ("b", S(root.m_strBoundary));
  EXPECT_EQ(1, root.m_bHasBoundary);
  EXPECT_EQ(0u, root.m_dwAnomalyFlags);
  const U body = At(kMultipart, "pre");
  const U d1 = At(kMultipart, "--b\r\n");
  const U d2 = At(kMultipart, "--b\r\n", d1 + 1);
  const U d3 = At(kMultipart, "--b--");
  EXPECT_EQ(body, root.m_dwHeaderEnd);
  EXPECT_EQ(body, root.m_dwBodyStart);
  EXPECT_EQ(kMultipart.size(), root.m_dwPartEnd);
  EXPECT_EQ(body, root.m_dwPreambleStart);
  EXPECT_EQ(d1 - 2, root.m_dwPreambleEnd);           // "pre" without its line break
  EXPECT_EQ(d3 + 7, root.m_dwEpilogueStart);         // after "--b--\r\n"
  EXPECT_EQ(kMultipart.size(), root.m_dwEpilogueEnd);
  auto kids = Children(root);
  ASSERT_EQ(2u, kids.size());  // the preamble and epilogue hide nothing
  EXPECT_EQ(2, kids[0]->m_nKind);
  EXPECT_EQ(d1 + 5, kids[0]->m_dwPartStart);
  EXPECT_EQ(At(kMultipart, "one"), kids[0]->m_dwBodyStart);
  EXPECT_EQ(d2 - 2, kids[0]->m_dwPartEnd);
  EXPECT_EQ("text/plain", S(kids[0]->m_strMediaType));
  EXPECT_EQ(d2 + 5, kids[1]->m_dwPartStart);
  EXPECT_EQ(d2 + 7, kids[1]->m_dwBodyStart);  // the empty line ends an empty header block
  EXPECT_EQ(d3 - 2, kids[1]->m_dwPartEnd);
  EXPECT_EQ("", S(kids[1]->m_strMediaType));
  EXPECT_EQ(2u, root.GetChildCount());
  EXPECT_EQ(3u, root.GetTotalCount());
}

TEST(StructScan, NestedMessageIn7bitIsScannedInPlace) {
  const std::string inner = "From: a@b\r\nContent-Type: text/plain\r\n\r\nhi\r\n";
  const std::string msg =
      "Content-Type: multipart/mixed; boundary=zz\r\n\r\n"
      "--zz\r\nContent-Type: message/rfc822\r\n\r\n\r\n\r\n" + inner + "--zz--\r\n";
  Scans s = Checked(msg);
  auto kids = Children(*s.memory);
  ASSERT_EQ(1u, kids.size());
  const CRfc822PartDescriptor& m = *kids[0];
  EXPECT_EQ(1, m.m_nKind);
  EXPECT_EQ(0, m.m_bEncodedMessage);
  // The blank lines before the nested header block are skipped.
  EXPECT_EQ(At(msg, "From:"), m.m_dwPartStart);
  EXPECT_EQ(At(msg, "hi\r\n"), m.m_dwBodyStart);
  EXPECT_EQ("text/plain", S(m.m_strMediaType));
  // The preset media type makes the nested Content-Type a second one.
  EXPECT_EQ(static_cast<DWORD>(ANOMALY_SECOND_CONTENT_TYPE), m.m_dwAnomalyFlags);
  EXPECT_EQ(2u, m.m_dwLevel);  // a level for the part, one for the message inside it
}

TEST(StructScan, Base64NestedMessageIsLeftEncoded) {
  const std::string msg =
      "Content-Type: message/rfc822\r\nContent-Transfer-Encoding: base64 (encoded)\r\n\r\n"
      "RnJvbTogYUBiDQoNCmhpDQo=\r\n";
  Scans s = Checked(msg);
  const CRfc822PartDescriptor& root = *s.memory;
  EXPECT_EQ(1, root.m_nKind);
  EXPECT_EQ(1, root.m_bEncodedMessage);
  EXPECT_EQ("base64", S(root.m_strTransferEncoding));  // the comment goes
  EXPECT_TRUE(root.m_Children.IsEmpty());
  EXPECT_EQ(S_OK, s.memoryResult);
}

// A uuencoded file of the bytes "hi", named a.txt.
const std::string kUuBlock = "begin 644 a.txt\r\n\":&D`\r\n`\r\nend\r\n";

TEST(StructScan, HiddenUuencodeMakesThreeChildren) {
  const std::string msg = "Subject: x\r\n\r\nfirst paragraph\r\n" + kUuBlock + "last paragraph\r\n";
  Scans s = Checked(msg);
  const CRfc822PartDescriptor& root = *s.memory;
  EXPECT_EQ(static_cast<DWORD>(ANOMALY_HIDDEN_PART), root.m_dwAnomalyFlags);
  auto kids = Children(root);
  ASSERT_EQ(3u, kids.size());
  const U begin = At(msg, "begin");
  const U last = At(msg, "last");
  // The text piece starts after the header block and keeps its line break;
  // the block begins at "begin".
  EXPECT_EQ(At(msg, "first"), kids[0]->m_dwPartStart);
  EXPECT_EQ(begin, kids[0]->m_dwPartEnd);
  EXPECT_EQ("text/plain", S(kids[0]->m_strMediaType));
  EXPECT_EQ(0u, kids[0]->m_dwAnomalyFlags);
  EXPECT_EQ(begin, kids[1]->m_dwPartStart);
  EXPECT_EQ(last, kids[1]->m_dwPartEnd);
  EXPECT_EQ("application/octet-stream", S(kids[1]->m_strMediaType));
  EXPECT_EQ("uuencode", S(kids[1]->m_strTransferEncoding));
  EXPECT_EQ(static_cast<DWORD>(ANOMALY_HIDDEN_PART), kids[1]->m_dwAnomalyFlags);
  EXPECT_EQ(last, kids[2]->m_dwPartStart);
  EXPECT_EQ(msg.size(), kids[2]->m_dwPartEnd);
}

TEST(StructScan, HiddenUuencodeInABase64TextIsNotSearched) {
  const std::string msg = "Content-Transfer-Encoding: base64\r\n\r\n" + kUuBlock;
  Scans s = Checked(msg);
  EXPECT_TRUE(s.memory->m_Children.IsEmpty());
  EXPECT_EQ(0u, s.memory->m_dwAnomalyFlags);
}

TEST(StructScan, HiddenBinHexIsTyped) {
  IStream* out = nullptr;
  ASSERT_EQ(S_OK, CTstringAsIStream::CreateStreamOnTSTRING("", &out));
  IStream* data = nullptr;
  ASSERT_EQ(S_OK, CTstringAsIStream::CreateStreamOnTSTRING("data fork", &data));
  ASSERT_EQ(S_OK, EncodeBinHex40(out, "f.txt", 0, "TEXT", "ttxt", 0, data, 9, nullptr, 0));
  data->Release();
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  ULARGE_INTEGER size;
  out->Seek(zero, STREAM_SEEK_END, &size);
  std::string block(static_cast<size_t>(size.QuadPart), '\0');
  out->Seek(zero, STREAM_SEEK_SET, nullptr);
  ULONG got = 0;
  out->Read(&block[0], static_cast<ULONG>(block.size()), &got);
  out->Release();
  ASSERT_EQ(block.size(), got);
  const std::string msg = "Content-Type: text/plain\r\n\r\nsee below\r\n" + block + "\r\nbye\r\n";
  Scans s = Checked(msg);
  auto kids = Children(*s.memory);
  ASSERT_EQ(3u, kids.size());
  EXPECT_EQ("application/mac-binhex40", S(kids[1]->m_strMediaType));
  EXPECT_EQ("BinHex", S(kids[1]->m_strTransferEncoding));
  EXPECT_EQ(At(msg, "(This file"), kids[1]->m_dwPartStart);
  EXPECT_EQ(msg.rfind(':') + 1, kids[1]->m_dwPartEnd);  // after the closing colon
}

TEST(StructScan, PastedMailIsAMessageChild) {
  const std::string msg =
      "Content-Type: text/plain\r\n\r\nLook at this:\r\n\r\n"
      "From: someone@example.com\r\nSubject: forwarded\r\n\r\nThe pasted body.\r\n";
  Scans s = Checked(msg);
  auto kids = Children(*s.memory);
  ASSERT_EQ(2u, kids.size());
  EXPECT_EQ(2, kids[0]->m_nKind);
  EXPECT_EQ(At(msg, "Look"), kids[0]->m_dwPartStart);
  EXPECT_EQ(At(msg, "From:"), kids[0]->m_dwPartEnd);
  const CRfc822PartDescriptor& pasted = *kids[1];
  EXPECT_EQ(1, pasted.m_nKind);
  EXPECT_EQ(At(msg, "From:"), pasted.m_dwPartStart);
  EXPECT_EQ(msg.size(), pasted.m_dwPartEnd);
  EXPECT_EQ(At(msg, "The pasted"), pasted.m_dwBodyStart);
  EXPECT_EQ("binary", S(pasted.m_strTransferEncoding));
  EXPECT_TRUE(pasted.m_dwAnomalyFlags & ANOMALY_HIDDEN_PART);
}

struct FlagCase {
  const char* name;
  std::string message;
  DWORD rootFlags;       // flags the root must carry
  DWORD absent;          // flags it must not carry
  size_t children;
};

std::string Bytes(const char* literal, size_t size) { return std::string(literal, size - 1); }

TEST(StructScan, FlagsOfMalformedStructure) {
  const std::vector<FlagCase> cases = {
      {"multipart without boundary", "Content-Type: multipart/mixed\r\n\r\n--x\r\n\r\nbody\r\n--x--\r\n",
       ANOMALY_NO_BOUNDARY, ANOMALY_CONTENT_TYPE | ANOMALY_BAD_EOL, 0},
      {"empty boundary", "Content-Type: multipart/mixed; boundary=\"\"\r\n\r\nbody\r\n",
       ANOMALY_NO_BOUNDARY, ANOMALY_CONTENT_TYPE | ANOMALY_BAD_EOL, 0},
      {"second Content-Type", "Content-Type: text/plain\r\nContent-Type: text/html\r\n\r\nbody\r\n",
       ANOMALY_SECOND_CONTENT_TYPE, ANOMALY_EMPTY_BOUNDARY, 0},
      // The header block ends before the later Content-Type, which starts
      // the preamble; as a header line it reads as a pasted message there.
      {"Content-Type after a boundary",
       "Content-Type: multipart/mixed; boundary=q\r\nContent-Type: text/plain\r\n\r\n--q\r\n\r\na\r\n--q--\r\n",
       ANOMALY_BOUNDARY_IN_HEADER, ANOMALY_BAD_EOL, 2},
      {"LF line ends", "Subject: a\n\nbody\n", ANOMALY_BAD_EOL, ANOMALY_CONTROL_CHARS, 0},
      {"NUL in the preamble",
       Bytes("Content-Type: multipart/mixed; boundary=b\r\n\r\npre\0amble\r\n--b\r\n\r\nx\r\n--b--\r\n",
             sizeof "Content-Type: multipart/mixed; boundary=b\r\n\r\npre\0amble\r\n--b\r\n\r\nx\r\n--b--\r\n"),
       ANOMALY_CONTROL_CHARS, ANOMALY_BAD_EOL | ANOMALY_HIDDEN_PART, 1},
      {"comment in a field name", "Subject(c): a\r\n\r\nbody\r\n", ANOMALY_NAME_COMMENT | ANOMALY_HEADER_STRICT,
       ANOMALY_BAD_EOL, 0},
  };
  for (const FlagCase& c : cases) {
    SCOPED_TRACE(c.name);
    Scans s = Checked(c.message);
    EXPECT_EQ(c.rootFlags, s.memory->m_dwAnomalyFlags & c.rootFlags);
    EXPECT_EQ(0u, s.memory->m_dwAnomalyFlags & c.absent);
    EXPECT_EQ(c.children, Children(*s.memory).size());
  }
}

TEST(StructScan, NulInThePreambleKeepsItsRange) {
  const std::string msg =
      std::string("Content-Type: multipart/mixed; boundary=b\r\n\r\npre\0amble\r\n", 56) + "--b\r\n\r\nx\r\n--b--\r\n";
  Scans s = Checked(msg);
  EXPECT_EQ(At(msg, "pre"), s.memory->m_dwPreambleStart);
  EXPECT_EQ(At(msg, "--b\r\n") - 2, s.memory->m_dwPreambleEnd);
}

TEST(StructScan, MissingClosingDelimiterFlagsTheLastPart) {
  const std::string msg = "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\none\r\n--b\r\n\r\ntwo\r\n";
  Scans s = Checked(msg);
  auto kids = Children(*s.memory);
  ASSERT_EQ(2u, kids.size());
  EXPECT_EQ(0u, kids[0]->m_dwAnomalyFlags);
  EXPECT_EQ(static_cast<DWORD>(ANOMALY_NO_CLOSING_DELIMITER), kids[1]->m_dwAnomalyFlags);
  EXPECT_EQ(msg.size(), kids[1]->m_dwPartEnd);
  EXPECT_EQ(0u, kids[1]->m_dwStatus);  // the code stays in the record
}

TEST(StructScan, NoHeaderBlock) {
  const std::string msg = "\r\nplain text only\r\n";
  Scans s = Checked(msg);
  EXPECT_EQ(2u, s.memory->m_dwHeaderEnd);
  EXPECT_EQ("", S(s.memory->m_strMediaType));
  EXPECT_TRUE(s.memory->m_Children.IsEmpty());
}

TEST(StructScan, HeaderValuesThatSteerTheStructure) {
  const std::string msg =
      "Content-Transfer-Encoding: 8bit\r\nContent-Transfer-Encoding: base64\r\n"
      "Content-ID: <a@b>\r\nContent-Location: http://x/ \r\nContent-Disposition: attachment;\r\n filename=a\r\n\r\n";
  Scans s = Checked(msg);
  EXPECT_EQ("8bit", S(s.memory->m_strTransferEncoding));  // only the first counts
  EXPECT_EQ("http://x/", S(s.memory->m_strContentId));    // the last of the two
  EXPECT_EQ("attachment;filename=a", S(s.memory->m_strDisposition));  // unfolded
}

TEST(StructScan, EmptyMessage) {
  Scans s = Checked("");
  EXPECT_EQ(S_OK, s.memoryResult);
  EXPECT_EQ(S_OK, s.streamResult);
  EXPECT_EQ(0u, s.memory->m_dwPartEnd);
}

// Multiparts nested n deep, each holding the next.
std::string Nested(int n) {
  std::string msg = "Subject: deep\r\n";
  std::string tail;
  for (int i = 0; i < n; ++i) {
    const std::string b = "b" + std::to_string(i);
    msg += "Content-Type: multipart/mixed; boundary=" + b + "\r\n\r\n--" + b + "\r\n";
    tail = "\r\n--" + b + "--\r\n" + tail;
  }
  return msg + "\r\ninnermost\r\n" + tail;
}

TEST(StructScan, DepthIsBounded) {
  const std::string msg = Nested(300);
  Scans s = Checked(msg);
  unsigned long count = 0, depth = 0;
  Invariants(*s.memory, static_cast<U>(msg.size()), &count, &depth);
  EXPECT_EQ(256u, depth);
  const CRfc822PartDescriptor* d = s.memory.get();
  while (!d->m_Children.IsEmpty()) d = Children(*d)[0];
  EXPECT_EQ(static_cast<DWORD>(E_MIME_TOO_DEEP), d->m_dwStatus);
}

TEST(StructScan, ARootsLevelCountsTowardsTheLimit) {
  // A message decoded from a part 250 levels down, scanned as a new tree.
  const std::string msg = Nested(20);
  ExactBytes bytes(msg);
  CRfc822PartDescriptor root(nullptr);
  root.m_nKind = 1;
  root.m_dwLevel = 250;
  EXPECT_EQ(root.Parse(bytes.data(), bytes.size()), S_OK);
  unsigned long count = 0, depth = 0;
  EXPECT_EQ("", Invariants(root, bytes.size(), &count, &depth));
  EXPECT_EQ(6u, depth);  // levels 251 to 256
}

TEST(StructScan, MessagesScannedInPlaceCountAsLevels) {
  std::string msg;
  for (int i = 0; i < 20000; ++i) msg += "Content-Type: message/rfc822\r\n\r\n";
  msg += "hi\r\n";
  Scans s = Checked(msg);
  EXPECT_EQ(static_cast<DWORD>(E_MIME_TOO_DEEP), s.memory->m_dwStatus);
  EXPECT_EQ(256u, s.memory->m_dwLevel);
}

std::string ManyParts(int n) {
  std::string msg = "Content-Type: multipart/mixed; boundary=p\r\n\r\n";
  for (int i = 0; i < n; ++i) msg += "--p\r\n\r\nx\r\n";
  return msg + "--p--\r\n";
}

TEST(StructScan, DescriptorCountIsBounded) {
  Scans s = Checked(ManyParts(5000));
  EXPECT_EQ(CRfc822PartDescriptor::MAX_DESCRIPTORS, s.memory->GetTotalCount());
  EXPECT_EQ(static_cast<DWORD>(E_MIME_TOO_MANY_PARTS), s.memory->m_dwStatus);
  // Up to the limit every part is there.
  Scans t = Checked(ManyParts(2048));
  EXPECT_EQ(2049u, t.memory->GetTotalCount());
  EXPECT_EQ(0u, t.memory->m_dwStatus);
}

TEST(StructScan, AFullTreeGivesNoFurtherChildren) {
  // The inner multipart fills the tree: the outer one stops there too.
  std::string inner = ManyParts(3000);
  std::string msg = "Content-Type: multipart/mixed; boundary=o\r\n\r\n--o\r\n" + inner + "\r\n--o\r\n" +
                    "Content-Type: multipart/mixed; boundary=p2\r\n\r\n--p2\r\n\r\ny\r\n--p2--\r\n\r\n--o--\r\n";
  Scans s = Checked(msg);
  EXPECT_EQ(CRfc822PartDescriptor::MAX_DESCRIPTORS, s.memory->GetTotalCount());
  auto kids = Children(*s.memory);
  ASSERT_EQ(1u, kids.size());
  EXPECT_EQ(static_cast<DWORD>(E_MIME_TOO_MANY_PARTS), kids[0]->m_dwStatus);
  EXPECT_EQ(static_cast<DWORD>(E_MIME_TOO_MANY_PARTS), s.memory->m_dwStatus);
}

TEST(StructScan, ManyPastedMailsAreBounded) {
  std::string msg = "Content-Type: text/plain\r\n\r\n";
  for (int i = 0; i < 5000; ++i) msg += "To: a\r\n.\r\n";
  Scans s = Checked(msg);
  EXPECT_LE(s.memory->GetTotalCount(), CRfc822PartDescriptor::MAX_DESCRIPTORS);
  EXPECT_EQ(static_cast<DWORD>(E_MIME_TOO_MANY_PARTS), s.memory->m_dwStatus);
}

TEST(StructScan, GarbageKeepsTheInvariants) {
  unsigned state = 12345;
  auto next = [&] {
    state = state * 1103515245u + 12345u;
    return static_cast<char>((state >> 16) & 0xFF);
  };
  const char* pieces[] = {"\r\n", "--b", "Content-Type: multipart/mixed; boundary=b\r\n", "begin 644 x\r\n",
                          "From: a\r\n", "Content-Type: message/rfc822\r\n\r\n", "\n.\n", ":"};
  for (int round = 0; round < 200; ++round) {
    std::string msg;
    for (int i = 0; i < 60; ++i) {
      char c = next();
      if ((c & 3) == 0) msg += pieces[(c >> 2) & 7];
      else msg += c;
    }
    Checked(msg);
  }
}

TEST(StructScan, StreamFailuresBecomeTheStatus) {
  CTestStream stream(kMultipart);
  stream.failReadAt = 60;
  stream.failure = E_ACCESSDENIED;
  CRfc822PartDescriptor root(nullptr);
  root.m_nKind = 1;
  HRESULT hr = root.Parse(&stream, static_cast<ULONG>(kMultipart.size()));
  EXPECT_EQ(E_ACCESSDENIED, hr);
  EXPECT_EQ(static_cast<DWORD>(E_ACCESSDENIED), root.m_dwStatus);
}

TEST(StructScan, ClearAllEmptiesTheTree) {
  Scans s = Checked(kMultipart);
  s.memory->ClearAll();
  EXPECT_TRUE(s.memory->m_Children.IsEmpty());
  EXPECT_EQ(0u, s.memory->GetChildCount());
  EXPECT_EQ("", S(s.memory->m_strMediaType));
  EXPECT_EQ(0, s.memory->m_nKind);
  EXPECT_EQ(1, s.memory->m_bHasBoundary);  // kept
}

}  // namespace

namespace {

double Seconds(const std::string& msg) {
  auto t0 = std::chrono::steady_clock::now();
  Scans s = ScanBoth(msg, 4096);
  EXPECT_EQ("", Invariants(*s.memory, static_cast<unsigned long>(msg.size())));
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

TEST(StructScan, HostileTextsScanInLinearTime) {
  const std::vector<std::string> lines = {"begin foo\r\n", "begin 644 x\r\n", "begin 644 x\r\nM\r\n",
                                          "begin x\r\n\":&D`\r\n", "To: a\r\n", "Subject x\r\n",
                                          "(This file must be converted with BinHex 4.0)\r\n:\r\n",
                                          "Content-Type: a; boundary=xyz\r\n.\r\n",
                                          "To: a\r\nContent-Type: a; boundary=xyz\r\n\r\n--xyz\r\n"};
  for (const std::string& line : lines) {
    std::string msg = "Content-Type: text/plain\r\n\r\n";
    while (msg.size() < 400000) msg += line;
    EXPECT_LT(Seconds(msg), mime_test::kLinearTimeBound) << line;
  }
}

}  // namespace

namespace {

TEST(StructScan, MessageEndingInsideItsHeaderBlock) {
  const std::string withColon = "From: a\r\nSubject: x";
  Scans s = Checked(withColon);
  EXPECT_EQ(withColon.size(), s.memory->m_dwHeaderEnd);
  EXPECT_EQ(withColon.size(), s.memory->m_dwPartEnd);
  const std::string withoutColon = "From: a\r\nno colon here";
  Scans t = Checked(withoutColon);
  EXPECT_EQ(At(withoutColon, "no colon"), t.memory->m_dwHeaderEnd);
  EXPECT_EQ(withoutColon.size(), t.memory->m_dwPartEnd);
}

TEST(StructScan, AMultipartWithoutDelimitersHasNoChildren) {
  // The one record spans the whole part and is skipped.
  Scans s = Checked("Content-Type: multipart/mixed; boundary=zz\r\n\r\nno delimiters here\r\n");
  EXPECT_TRUE(s.memory->m_Children.IsEmpty());
  EXPECT_EQ(0u, s.memory->m_dwAnomalyFlags & ANOMALY_NO_BOUNDARY);
}

}  // namespace
