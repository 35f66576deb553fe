// Whole parses: small messages through the mimedump tool (file read into
// memory, and scanned from disk with every body in a temporary file, which
// must print the same tree), and the parse entries' own results.
#include <gtest/gtest.h>

#include <stdio.h>
#include <dirent.h>
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "codectestutil.h"
#include "common/runprogram.h"
#include "common/teststream.h"
#include "engine/foundation/streamtestutil.h"
#include "foundation/errorroad.h"
#include "mime/applefile.h"
#include "mime/binhex.h"
#include "mime/bodypart.h"
#include "mime/message.h"
#include "mime/mimeresults.h"
#include "mime/partdescriptor.h"
#include "mime/rfc822parser.h"
#include "mime/transferencoding.h"

using namespace telsor;

namespace {

std::string TempPath(const char* name) {
  const char* dir = getenv("TMPDIR");
  return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/parsefill_" + std::to_string(getpid()) +
         "_" + name;
}

std::string WriteFile(const char* name, const std::string& bytes) {
  std::string path = TempPath(name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::string Run(const std::string& command) { return telsor_test::RunProgram(command).output; }

// The tree dump of the file (read into memory) without the "==" line; the
// dump of the file scanned from disk with every body in a temporary file
// must be the same.
std::string Dump(const std::string& path) {
  std::string memory = Run(std::string(QOR_MIMEDUMP) + " " + path);
  EXPECT_EQ(memory, Run(std::string(QOR_MIMEDUMP) + " --stream " + path)) << path;
  size_t eol = memory.find('\n');
  return eol == std::string::npos ? memory : memory.substr(eol + 1);
}

// One line of the dump, as mimedump prints it with digests: the content's
// length and FNV-1a digest are computed here from the expected content.
struct tag_LINE {
  const char* locator;  // "-" for the root
  int contentClass;
  const char* mediaType;
  const char* encoding;
  const char* charset;
  int attachment;
  const char* name;
  std::string content;  // kWhole: the whole message
  unsigned flags;
  unsigned status;
};

const char kWhole[] = "\x01whole message\x01";

unsigned Fnv1a(const std::string& bytes) {
  unsigned hash = 2166136261u;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash;
}

std::string Expected(const std::string& message, const std::vector<tag_LINE>& lines) {
  std::string out;
  for (const tag_LINE& l : lines) {
    const std::string& content = l.content == kWhole ? message : l.content;
    int depth = 0;
    for (const char* p = l.locator; *p != '\0'; ++p) depth += *p == '.';
    char line[512];
    snprintf(line, sizeof line,
             "%*s%s class=%d type=%s enc=%s charset=%s att=%d name=\"%s\" len=%zu fnv=%08x flags=0x%X status=0x%X\n",
             depth * 2, "", l.locator, l.contentClass, l.mediaType, l.encoding, l.charset, l.attachment, l.name,
             content.size(), Fnv1a(content), l.flags, l.status);
    out += line;
  }
  return out;
}

struct tag_FIXTURE {
  const char* name;
  std::string message;
  std::vector<tag_LINE> tree;
};

const std::string kInner = "Subject: inner\r\nContent-Type: text/plain; charset=utf-8\r\n\r\ninner body";
const std::string kEncodedInner = "Subject: b64\r\nContent-Type: text/plain\r\n\r\ndecoded\r\n";
// base64 of kEncodedInner.
const std::string kEncodedInnerB64 = "U3ViamVjdDogYjY0DQpDb250ZW50LVR5cGU6IHRleHQvcGxhaW4NCg0KZGVjb2RlZA0K";
// A uuencoded "hi there\n": length character ')' (9), then the groups
// ":&D@" "=&AE" "<F4*" for "hi " "the" "re\n".
const std::string kUuLines = "):&D@=&AE<F4*\r\n`\r\nend\r\n";
const std::string kPasted = "From: bob@example.org\r\nSubject: fwd\r\n\r\nold text\r\n";
// A pasted mail whose header announces a message, and that message.
const std::string kAnnounced = "From: c@example.org\r\nSubject: inner\r\n\r\nhello\r\n";
const std::string kPastedRfc822 =
    "From: x@example.org\r\nSubject: fwd\r\nContent-Type: message/rfc822\r\n\r\n" + kAnnounced;

std::string BinHexFile();

// The BinHex file from its preamble line to its closing colon.
std::string BinHexBlock() {
  std::string text = BinHexFile();
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  return text;
}

std::vector<tag_FIXTURE> Fixtures() {
  // A BinHex 4.0 file from its preamble line to its closing colon, holding
  // the data fork "mac data" of a file named "notes".
  const std::string binhex = BinHexBlock();
  const char nul[] = "Content-Type: multipart/mixed; boundary=b\r\n\r\npre\0amble\r\n";
  const std::string nulHead(nul, sizeof nul - 1);
  return {
      {"onepart",
       "From: a@example.org\r\nSubject: hi\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nhello\r\n",
       {{"-", 1, "text/plain", "", "us-ascii", 0, "", kWhole, 0, 0},
        {"1.", 2, "text/plain", "", "us-ascii", 0, "", "hello\r\n", 0, 0}}},
      // The embedded message's own header decides its fields; it keeps its
      // whole text, and its second Content-Type (after the preset text/plain
      // of an embedded message) is flagged.
      {"rfc822",
       "From: a@example.org\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\npre\r\n"
       "--b\r\nContent-Type: text/plain\r\n\r\none\r\n"
       "--b\r\nContent-Type: message/rfc822\r\n\r\n" +
           kInner + "\r\n--b--\r\n",
       {{"-", 1, "multipart/mixed", "", "", 0, "", kWhole, 0, 0},
        {"1.", 2, "text/plain", "", "", 0, "", "one", 0, 0},
        {"2.", 1, "text/plain", "", "utf-8", 0, "", kInner, 0x10C, 0},
        {"2.1.", 2, "text/plain", "", "utf-8", 0, "", "inner body", 0, 0}}},
      // A base64 message part becomes the message decoded from it.
      {"base64rfc822",
       "From: a@example.org\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
       "--b\r\nContent-Type: text/plain\r\n\r\none\r\n"
       "--b\r\nContent-Type: message/rfc822\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
           kEncodedInnerB64 + "\r\n--b--\r\n",
       {{"-", 1, "multipart/mixed", "", "", 0, "", kWhole, 0, 0},
        {"1.", 2, "text/plain", "", "", 0, "", "one", 0, 0},
        {"2.", 1, "text/plain", "", "", 0, "", kEncodedInner, 0, 0},
        {"2.1.", 2, "text/plain", "", "", 0, "", "decoded\r\n", 0, 0}}},
      // Hidden uuencode: the text around it and the file become three
      // parts; the block begins at "begin".
      {"hiddenuu", "From: a@example.org\r\nContent-Type: text/plain\r\n\r\nsee\r\nbegin 644 a.txt\r\n" + kUuLines + "bye\r\n",
       {{"-", 1, "text/plain", "", "", 0, "", kWhole, 0x20, 0},
        {"1.", 2, "text/plain", "", "", 0, "", "see\r\n", 0, 0},
        {"2.", 2, "application/octet-stream", "uuencode", "", 1, "a.txt", "hi there\n", 0x20, 0},
        {"3.", 2, "text/plain", "", "", 0, "", "bye\r\n", 0, 0}}},
      // Hidden BinHex: the block runs from the preamble to the closing
      // colon; it gives the data fork and the file's name, no attachment flag.
      {"hiddenbinhex", "Content-Type: text/plain\r\n\r\nsee\r\n" + binhex + "\r\nbye\r\n",
       {{"-", 1, "text/plain", "", "", 0, "", kWhole, 0x20, 0},
        {"1.", 2, "text/plain", "", "", 0, "", "see\r\n", 0, 0},
        {"2.", 2, "application/mac-binhex40", "BinHex", "", 0, "notes", "mac data", 0x20, 0},
        {"3.", 2, "text/plain", "", "", 0, "", "\r\nbye\r\n", 0, 0}}},
      // Typed BinHex in 7bit: the body part's content is the data fork.
      {"typedbinhex",
       "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: application/mac-binhex40\r\n\r\n" + binhex +
           "\r\n--b--\r\n",
       {{"-", 1, "multipart/mixed", "", "", 0, "", kWhole, 0, 0},
        {"1.", 2, "application/mac-binhex40", "", "", 0, "notes", "mac data", 0, 0}}},
      // Pasted mail: from its first header line to the end of the text (no
      // boundary, no dot line, no further header line), a message of its
      // own, "binary", with the text before it as a text piece.
      {"pasted", "Content-Type: text/plain\r\n\r\nHello,\r\nforwarded below:\r\n\r\n" + kPasted,
       {{"-", 1, "text/plain", "", "", 0, "", kWhole, 0x20, 0},
        {"1.", 2, "text/plain", "", "", 0, "", "Hello,\r\nforwarded below:\r\n\r\n", 0, 0},
        {"2.", 1, "text/plain", "binary", "", 0, "", kPasted, 0x20, 0},
        {"2.1.", 2, "text/plain", "binary", "", 0, "", "old text\r\n", 0, 0}}},
      // Pasted mail typed message/rfc822 keeps its own header; the message
      // it announces is its child.
      {"pastedrfc822", "Content-Type: text/plain\r\n\r\nSee below:\r\n\r\n" + kPastedRfc822,
       {{"-", 1, "text/plain", "", "", 0, "", kWhole, 0x20, 0},
        {"1.", 2, "text/plain", "", "", 0, "", "See below:\r\n\r\n", 0, 0},
        {"2.", 1, "message/rfc822", "binary", "", 0, "", kPastedRfc822, 0x12C, 0},
        {"2.1.", 1, "text/plain", "binary", "", 0, "", kAnnounced, 0, 0},
        {"2.1.1.", 2, "text/plain", "binary", "", 0, "", "hello\r\n", 0, 0}}},
      // The same text in HTML is not searched for pasted mail.
      {"htmlpasted", "Content-Type: text/html\r\n\r\n<p>see</p>\r\n" + kPasted,
       {{"-", 1, "text/html", "", "", 0, "", kWhole, 0, 0},
        {"1.", 2, "text/html", "", "", 0, "", "<p>see</p>\r\n" + kPasted, 0, 0}}},
      // A multipart without a boundary: one body part holding the whole body.
      {"noboundary", "Content-Type: multipart/mixed\r\n\r\n--b\r\n\r\nx\r\n",
       {{"-", 1, "multipart/mixed", "", "", 0, "", kWhole, 0x48, 0},
        {"1.", 2, "multipart/mixed", "", "", 0, "", "--b\r\n\r\nx\r\n", 0, 0}}},
      // A second Content-Type before any boundary: the later one counts.
      {"secondtype",
       "Content-Type: text/plain\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nx\r\n--b--\r\n",
       {{"-", 1, "multipart/mixed", "", "", 0, "", kWhole, 0x10C, 0}, {"1.", 2, "", "", "", 0, "", "x", 0, 0}}},
      // No closing delimiter: the last part runs to the end and is flagged.
      {"noclose", "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nx\r\n--b\r\n\r\ny\r\n",
       {{"-", 1, "multipart/mixed", "", "", 0, "", kWhole, 0, 0},
        {"1.", 2, "", "", "", 0, "", "x", 0, 0},
        {"2.", 2, "", "", "", 0, "", "y\r\n", 0x200, 0}}},
      // A NUL byte in the preamble: a control character in the message.
      {"nulpreamble", nulHead + "--b\r\nContent-Type: text/plain\r\n\r\nx\r\n--b--\r\n",
       {{"-", 1, "multipart/mixed", "", "", 0, "", kWhole, 0x2, 0},
        {"1.", 2, "text/plain", "", "", 0, "", "x", 0, 0}}},
      // Nested multiparts; a multipart part has no content of its own.
      {"alternative",
       "Content-Type: multipart/mixed; boundary=outer\r\n\r\n--outer\r\n"
       "Content-Type: multipart/alternative; boundary=inner\r\n\r\n"
       "--inner\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nplain\r\n"
       "--inner\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<b>html</b>\r\n--inner--\r\n\r\n--outer--\r\n",
       {{"-", 1, "multipart/mixed", "", "", 0, "", kWhole, 0, 0},
        {"1.", 2, "multipart/alternative", "", "", 0, "", "", 0, 0},
        {"1.1.", 2, "text/plain", "", "us-ascii", 0, "", "plain", 0, 0},
        {"1.2.", 2, "text/html", "", "utf-8", 0, "", "<b>html</b>", 0, 0}}},
      // Quoted-printable with a soft line break; a disposition makes an
      // attachment named by its filename.
      {"qpattachment",
       "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
       "Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n"
       "Content-Disposition: attachment; filename=\"r.txt\"\r\n\r\ncaf=E9 =\r\nlatte\r\n--b--\r\n",
       {{"-", 1, "multipart/mixed", "", "", 0, "", kWhole, 0, 0},
        {"1.", 2, "text/plain", "quoted-printable", "iso-8859-1", 1, "r.txt", "caf\xE9 latte", 0, 0}}},
      // A typed uuencoded body: the begin line names the attachment.
      {"typeduu",
       "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
       "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: x-uuencode\r\n\r\n"
       "begin 644 report.txt\r\n" + kUuLines + "--b--\r\n",
       {{"-", 1, "multipart/mixed", "", "", 0, "", kWhole, 0, 0},
        {"1.", 2, "application/octet-stream", "x-uuencode", "", 1, "report.txt", "hi there\n", 0, 0}}},
      // A message whose only body is a message that is not scanned in place
      // keeps its own text; the body is the content of its message child.
      {"deliverystatus", "Content-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; x\r\n\r\nAction: failed\r\n",
       {{"-", 1, "message/delivery-status", "", "", 0, "", kWhole, 0, 0},
        {"1.", 1, "", "", "", 0, "", "Reporting-MTA: dns; x\r\n\r\nAction: failed\r\n", 0, 0},
        {"1.1.", 2, "", "", "", 0, "", "Action: failed\r\n", 0, 0}}},
      // The same for a base64 message as the whole body of a message.
      {"rootbase64",
       "Subject: outer\r\nContent-Type: message/rfc822\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
           kEncodedInnerB64 + "\r\n",
       {{"-", 1, "message/rfc822", "base64", "", 0, "", kWhole, 0, 0},
        {"1.", 1, "text/plain", "", "", 0, "", kEncodedInner, 0, 0},
        {"1.1.", 2, "text/plain", "", "", 0, "", "decoded\r\n", 0, 0}}},
  };
}

TEST(ParseFillTool, FixtureTrees) {
  const std::string binhex = BinHexBlock();
  ASSERT_EQ(0u, binhex.find("(This file must be converted with BinHex 4.0)"));
  ASSERT_EQ(':', binhex.back());
  for (const tag_FIXTURE& f : Fixtures()) {
    std::string path = WriteFile(f.name, f.message);
    EXPECT_EQ(Expected(f.message, f.tree), Dump(path)) << f.name;
    unlink(path.c_str());
  }
}

// Every byte of a text that hides pasted mail lies in one of its pieces:
// the lengths of the root's children in the dump add up to the body.
TEST(ParseFillTool, PiecesOfAPastedMailAddUpToTheBody) {
  const std::string text = "See below:\r\n\r\n";
  const std::string typed = "From: x@y\nTo: z@w\nSubject: fwd\nContent-Type: message/rfc822\n\n";
  const struct {
    const char* name;
    std::string message;
  } cases[] = {
      {"lf", "Subject: s\n\nSee below:\n\n" + typed + "From: c@d\nSubject: inner\n\nhello\n"},
      {"crlf", "Content-Type: text/plain\r\n\r\n" + text + kPastedRfc822},
      {"plain", "Content-Type: text/plain\r\n\r\n" + text + kPasted},
      {"two", "Subject: s\r\n\r\n" + text + kPastedRfc822 + "\r\n" + kPastedRfc822},
      {"base64",
       "Subject: s\r\n\r\n" + text +
           "From: x@y\r\nContent-Type: message/rfc822\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
           kEncodedInnerB64 + "\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = WriteFile(c.name, c.message);
    const std::string dump = Dump(path);
    unlink(path.c_str());
    size_t headerEnd = c.message.find("\r\n\r\n");
    headerEnd = headerEnd == std::string::npos ? c.message.find("\n\n") + 2 : headerEnd + 4;
    size_t pieces = 0, count = 0;
    for (size_t at = 0; at < dump.size();) {
      size_t eol = dump.find('\n', at);
      const std::string line = dump.substr(at, eol - at);
      at = eol + 1;
      // The root's children: indented once.
      if (line.compare(0, 2, "  ") != 0 || line[2] == ' ') continue;
      const size_t len = line.find(" len=");
      ASSERT_NE(len, std::string::npos) << line;
      pieces += std::stoul(line.substr(len + 5));
      ++count;
    }
    EXPECT_GE(count, 2u) << dump;
    EXPECT_EQ(pieces, c.message.size() - headerEnd) << dump;
  }
}

}  // namespace

namespace {

CSharedObjPtr<CRfc822Parser> Parser(ULONG limit) {
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  EXPECT_EQ(parser->OpenSession(nullptr), S_OK);
  parser->PutMaxContentSizeInMemory(limit);
  return parser;
}

std::string Content(CRfc822Part& part) {
  ULONG n = 0;
  const unsigned char* p = part.GetContentAsString(n);
  return std::string(reinterpret_cast<const char*>(p), n);
}

CRfc822Part* First(CRfc822Parts& parts) { return parts.GetAt(parts.GetHeadPosition()); }

const std::string kOnePart = "Subject: hi\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nhello\r\n";

TEST(ParseFill, MissingFileGivesNotFound) {
  CRfc822Message message;
  CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile(TempPath("absent").c_str(), FALSE);
  EXPECT_EQ(ResultFromSystemError(ERROR_FILE_NOT_FOUND), Parser(4096)->ParseMessage(file, PARSE_SCOPE_FULL, message));
}

TEST(ParseFill, UnreadableFileIsAFailureNotAnEmptyMessage) {
  // A directory exists and opens, but cannot be read.
  std::string dir = TempPath("dir");
  ASSERT_EQ(0, mkdir(dir.c_str(), 0700));
  CRfc822Message message;
  CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile(dir.c_str(), FALSE);
  HRESULT hr = Parser(1 << 20)->ParseMessage(file, PARSE_SCOPE_FULL, message);
  EXPECT_EQ(ResultFromSystemError(EISDIR), hr);
  EXPECT_EQ(static_cast<DWORD>(ResultFromSystemError(EISDIR)), message.GetParseStatus());
  rmdir(dir.c_str());
}

TEST(ParseFill, ContentAndStreamEntriesGiveTheTreeOfTheFileEntry) {
  CRfc822Message fromContent;
  ASSERT_EQ(S_OK, fromContent.PutContentAsString(kOnePart.c_str()));
  ASSERT_EQ(S_OK, Parser(0)->ParseMessage(PARSE_SCOPE_FULL, fromContent));
  CRfc822Parts* parts = fromContent.GetParts(nullptr);
  ASSERT_EQ(1, parts->GetCount());
  CRfc822Part* body = First(*parts);
  EXPECT_EQ("hello\r\n", Content(*body));
  EXPECT_STREQ("us-ascii", body->GetCharset().c_str());
  EXPECT_EQ(kOnePart, Content(fromContent));  // the message keeps its text
  EXPECT_STREQ("hi", fromContent.Subject().c_str());

  CRfc822Message fromStream;
  IStream* stream = fromContent.GetContent().GetAsStream();
  ASSERT_EQ(S_OK, Parser(4096)->ParseMessage(stream, static_cast<ULONG>(kOnePart.size()), PARSE_SCOPE_FULL, fromStream));
  stream->Release();
  ASSERT_EQ(1, fromStream.GetParts(nullptr)->GetCount());
  EXPECT_EQ("hello\r\n", Content(*First(*fromStream.GetParts(nullptr))));
}

TEST(ParseFill, ScopeZeroFillsNoContentsAndNoSingleBodyChild) {
  CRfc822Message message;
  ASSERT_EQ(S_OK, message.PutContentAsString(kOnePart.c_str()));
  ASSERT_EQ(S_OK, Parser(4096)->ParseMessage(PARSE_SCOPE_STRUCTURE, message));
  EXPECT_EQ(0, message.GetParts(nullptr)->GetCount());
  EXPECT_STREQ("text/plain", message.GetContentMediaType().c_str());
}

TEST(ParseFill, HeaderOnlyScopeOnAFileReadsTheTopHeader) {
  std::string path = WriteFile("headeronly", "Subject: top\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nx\r\n--b--\r\n");
  CRfc822Message message;
  CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile(path.c_str(), FALSE);
  ASSERT_EQ(S_OK, Parser(4096)->ParseMessage(file, PARSE_SCOPE_HEADER_ONLY, message));
  EXPECT_EQ(PARSE_SCOPE_HEADER_ONLY, message.GetParseScope());
  EXPECT_EQ(0, message.GetParts(nullptr)->GetCount());
  EXPECT_STREQ("top", message.Subject().c_str());
  unlink(path.c_str());
}

int MaxDepth(CRfc822Part& part, bool& tooDeep) {
  if (part.GetParseStatus() == static_cast<DWORD>(E_MIME_TOO_DEEP)) tooDeep = true;
  int deepest = static_cast<int>(part.GetDepth());
  CRfc822Parts* parts = part.GetParts(nullptr);
  for (void* pos = parts->GetHeadPosition(); pos != nullptr;) {
    int d = MaxDepth(*parts->GetNext(pos), tooDeep);
    if (d > deepest) deepest = d;
  }
  return deepest;
}

TEST(ParseFill, NestingIsBoundedAcrossDecodedMessages) {
  // Quoted-printable leaves these headers unchanged, so each level is
  // decoded and scanned anew.
  std::string inner = "Subject: leaf\r\n\r\nbottom\r\n";
  for (int i = 0; i < 600; ++i)
    inner = "Content-Type: message/rfc822\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" + inner;
  std::string msg = "Subject: top\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n" + inner + "\r\n--b--\r\n";
  CRfc822Message message;
  ASSERT_EQ(S_OK, message.PutContentAsString(msg.c_str()));
  ASSERT_EQ(S_OK, Parser(1 << 20)->ParseMessage(PARSE_SCOPE_FULL, message));
  bool tooDeep = false;
  EXPECT_LE(MaxDepth(message, tooDeep), static_cast<int>(CRfc822PartDescriptor::MAX_LEVEL) + 2);
  EXPECT_TRUE(tooDeep);
}

TEST(ParseFill, BodyAboveTheLimitGoesToAFileAtTheLimitToMemory) {
  const std::string body = "0123456789";
  const std::string msg = "Content-Type: text/plain\r\n\r\n" + body;
  for (ULONG limit : {static_cast<ULONG>(body.size()), static_cast<ULONG>(body.size() - 1)}) {
    CRfc822Message message;
    ASSERT_EQ(S_OK, message.PutContentAsString(msg.c_str()));
    ASSERT_EQ(S_OK, Parser(limit)->ParseMessage(PARSE_SCOPE_FULL, message));
    CRfc822Part* child = First(*message.GetParts(nullptr));
    EXPECT_EQ(limit < body.size(), child->GetContent().IsInFile() != 0) << limit;
    EXPECT_EQ(body, Content(*child));
  }
}

TEST(ParseFill, FillBodyContentRejectsAReversedRange) {
  CRfc822BodyPart part;
  IStream* stream = nullptr;
  CRfc822Message holder;
  ASSERT_EQ(S_OK, holder.PutContentAsString("abc"));
  stream = holder.GetContent().GetAsStream();
  EXPECT_EQ(ERROR_INVALID_DATA, Parser(16)->FillRfc822BodyContent(stream, 2, 1, "text/plain", CONTENT_ENCODING_7BIT, part));
  stream->Release();
}

}  // namespace

namespace {

size_t FilesIn(const std::string& dir) {
  size_t n = 0;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return 0;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] != '.') ++n;
  }
  closedir(d);
  return n;
}

TEST(ParseFill, TemporaryFilesGoWithTheMessage) {
  std::string dir = TempPath("session");
  ASSERT_EQ(0, mkdir(dir.c_str(), 0700));
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  EXPECT_EQ(parser->OpenSession(dir.c_str()), S_OK);  // limit 0: every body in a file
  {
    CRfc822Message message;
    ASSERT_EQ(S_OK, message.PutContentAsString("Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nx\r\n"
                                               "--b\r\n\r\ny\r\n--b--\r\n"));
    ASSERT_EQ(S_OK, parser->ParseMessage(PARSE_SCOPE_FULL, message));
    EXPECT_EQ(2u, FilesIn(dir));
  }
  EXPECT_EQ(0u, FilesIn(dir));
  rmdir(dir.c_str());
}

}  // namespace

namespace {

// A BinHex 4.0 file: name "notes", type TEXT, creator ttxt, flags 0x0100,
// data fork "mac data", resource fork "rsrc".
std::string BinHexFile() {
  IStream* out = codec_test::MemoryStream("");
  IStream* data = codec_test::MemoryStream("mac data");
  IStream* resource = codec_test::MemoryStream("rsrc");
  EXPECT_EQ(S_OK, EncodeBinHex40(out, "notes", 0, "TEXT", "ttxt", 0x0100, data, 8, resource, 4));
  std::string text = codec_test::StreamBytes(out);
  out->Release();
  data->Release();
  resource->Release();
  return text;
}

TEST(ParseFill, TypedBinHexGivesAMacintoshFileUnlessTransferEncoded) {
  for (ULONG limit : {0ul, 1ul << 20}) {
    const std::string msg = "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                            "Content-Type: application/mac-binhex40\r\n\r\n" +
                            BinHexFile() + "\r\n--b--\r\n";
    CRfc822Message message;
    ASSERT_EQ(S_OK, message.PutContentAsString(msg.c_str()));
    ASSERT_EQ(S_OK, Parser(limit)->ParseMessage(PARSE_SCOPE_FULL, message));
    CRfc822Part* part = First(*message.GetParts(nullptr));
    ASSERT_EQ(CRfc822Part::CONTENT_CLASS_BODY_PART, part->GetContentClass());
    EXPECT_EQ(0u, part->GetParseStatus()) << limit;
    EXPECT_EQ("mac data", Content(*part)) << limit;
    EXPECT_STREQ("notes", part->GetAttachmentName().c_str());
    CSharedObjPtr<CAppleFile> apple = static_cast<CRfc822BodyPart*>(part)->GetAppleFile();
    ASSERT_TRUE(apple != nullptr);
    EXPECT_EQ(CAppleFile::FORMAT_BINHEX40, apple->GetFormat());
    EXPECT_STREQ("TEXT", apple->GetFileType());
    EXPECT_STREQ("ttxt", apple->GetFileCreator());
    EXPECT_EQ(0x0100, apple->GetFinderFlags());
    ULONG n = 0;
    const unsigned char* r = apple->ResourceFork().GetAsString(n);
    EXPECT_EQ("rsrc", std::string(reinterpret_cast<const char*>(r), n)) << limit;
  }
  // The same type in base64 is only base64-decoded.
  const std::string msg = "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                          "Content-Type: application/mac-binhex40\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                          "bWFjIGRhdGE=\r\n--b--\r\n";
  CRfc822Message message;
  ASSERT_EQ(S_OK, message.PutContentAsString(msg.c_str()));
  ASSERT_EQ(S_OK, Parser(1 << 20)->ParseMessage(PARSE_SCOPE_FULL, message));
  CRfc822Part* part = First(*message.GetParts(nullptr));
  EXPECT_EQ("mac data", Content(*part));
  EXPECT_TRUE(static_cast<CRfc822BodyPart*>(part)->GetAppleFile() == nullptr);
}

}  // namespace

namespace {

TEST(ParseFill, PreambleNulBecomesASpaceAndSecondContentTypeIsFlagged) {
  const char head[] = "Content-Type: text/plain\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\npre\0amble\r\n";
  std::string msg(head, sizeof head - 1);
  msg += "--b\r\n\r\nx\r\n--b--\r\n";
  CRfc822Message message;
  ASSERT_EQ(S_OK, message.PutContentAsString(reinterpret_cast<const unsigned char*>(msg.data()),
                                             static_cast<ULONG>(msg.size())));
  ASSERT_EQ(S_OK, Parser(4096)->ParseMessage(PARSE_SCOPE_FULL, message));
  EXPECT_STREQ("pre amble", message.GetMimePreambule().c_str());
  EXPECT_EQ(0x10Cu, message.GetAnomalyFlags() & 0x10Cu);
  EXPECT_STREQ("multipart/mixed", message.GetContentMediaType().c_str());
  ASSERT_EQ(1, message.GetParts(nullptr)->GetCount());
  EXPECT_EQ("x", Content(*First(*message.GetParts(nullptr))));
}

}  // namespace

namespace {

TEST(ParseFill, MessageParseNeedsABoundParserAndKeepsTheFileEitherWay) {
  std::string path = WriteFile("ownparse", kOnePart);
  CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile(path.c_str(), FALSE);
  CRfc822Message unbound;
  EXPECT_EQ(E_POINTER, unbound.Parse(file, nullptr, PARSE_SCOPE_FULL));
  EXPECT_EQ(kOnePart, Content(unbound));
  CRfc822Message message;
  CSharedObjPtr<CRfc822Parser> parser = Parser(4096);
  message.SetParser(parser);
  ASSERT_EQ(S_OK, message.Parse(file, nullptr, PARSE_SCOPE_FULL));
  ASSERT_EQ(1, message.GetParts(nullptr)->GetCount());
  EXPECT_EQ("hello\r\n", Content(*First(*message.GetParts(nullptr))));
  unlink(path.c_str());
}

}  // namespace

namespace {

// A test stream that counts the failures it hands out.
struct CCountingStream : CTestStream {
  explicit CCountingStream(const std::string& s) : CTestStream(s) {}
  int failed = 0;
  HRESULT Read(void* buffer, ULONG count, ULONG* done) override {
    HRESULT hr = CTestStream::Read(buffer, count, done);
    if (FAILED(hr)) ++failed;
    return hr;
  }
  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* at) override {
    HRESULT hr = CTestStream::Seek(move, origin, at);
    if (FAILED(hr)) ++failed;
    return hr;
  }
};

const std::string kTwoParts =
    "Subject: two\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\npre\r\n"
    "--b\r\nContent-Type: text/plain\r\n\r\nfirst part\r\n"
    "--b\r\nContent-Type: text/plain\r\n\r\nsee\r\nbegin 644 a.txt\r\n):&D@=&AE<F4*\r\n`\r\nend\r\nbye\r\n"
    "--b--\r\n";

// Every failing read or seek of the message's bytes, wherever the scan or
// the filling meets it (also inside a part, where it is kept in that part's
// status), is the result of the parse and in the message's status.
TEST(ParseFill, EveryReadFailureOfTheStreamIsReturned) {
  int failedSomewhere = 0;
  for (int seeks = 0; seeks < 2; ++seeks) {
    for (int n = 0; n < 400; ++n) {
      CCountingStream stream(kTwoParts);
      stream.maxChunk = 7;  // pieces: the parse must still see every byte
      stream.failure = E_ACCESSDENIED;
      (seeks ? stream.seeksUntilFailure : stream.readsUntilFailure) = n;
      CRfc822Message message;
      HRESULT hr = Parser(1 << 20)->ParseMessage(&stream, static_cast<ULONG>(kTwoParts.size()), PARSE_SCOPE_FULL,
                                                  message);
      if (stream.failed == 0) {
        EXPECT_EQ(S_OK, hr) << seeks << " " << n;
        EXPECT_EQ(2, message.GetParts(nullptr)->GetCount());
        break;  // no failure reached: every later n is the same
      }
      ++failedSomewhere;
      EXPECT_EQ(E_ACCESSDENIED, hr) << seeks << " " << n;
      EXPECT_EQ(static_cast<DWORD>(E_ACCESSDENIED), message.GetParseStatus()) << seeks << " " << n;
    }
  }
  EXPECT_GT(failedSomewhere, 20);
}

// A stream that ends before the size it was given is a read failure.
TEST(ParseFill, AStreamShorterThanItsSizeIsAReadFailure) {
  CTestStream stream(kTwoParts);
  CRfc822Message message;
  EXPECT_EQ(ResultFromSystemError(EIO), Parser(1 << 20)->ParseMessage(&stream, static_cast<ULONG>(kTwoParts.size() + 1),
                                                                       PARSE_SCOPE_FULL, message));
  EXPECT_EQ(static_cast<DWORD>(ResultFromSystemError(EIO)), message.GetParseStatus());
  // A stream handing out pieces of exactly its size parses whole.
  CTestStream pieces(kTwoParts);
  pieces.maxChunk = 1;
  CRfc822Message whole;
  EXPECT_EQ(S_OK, Parser(1 << 20)->ParseMessage(&pieces, static_cast<ULONG>(kTwoParts.size()), PARSE_SCOPE_FULL,
                                                whole));
  EXPECT_STREQ("pre", whole.GetMimePreambule().c_str());
  ASSERT_EQ(2, whole.GetParts(nullptr)->GetCount());
  EXPECT_EQ("first part", Content(*First(*whole.GetParts(nullptr))));
}

// A file above the in-memory limit that opens but cannot be read: the
// streamed scan's read failure is the result, not an empty message.
TEST(ParseFill, UnreadableFileAboveTheLimitIsAFailure) {
  std::string dir = TempPath("streamdir");
  ASSERT_EQ(0, mkdir(dir.c_str(), 0700));
  struct stat st;
  ASSERT_EQ(0, stat(dir.c_str(), &st));
  if (st.st_size == 0) {
    rmdir(dir.c_str());
    GTEST_SKIP() << "a directory of size 0 here";
  }
  CRfc822Message message;
  CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile(dir.c_str(), FALSE);
  HRESULT hr = Parser(0)->ParseMessage(file, PARSE_SCOPE_FULL, message);
  EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
  EXPECT_EQ(static_cast<DWORD>(hr), message.GetParseStatus());
  CRfc822PartDescriptor root(nullptr);
  EXPECT_EQ(hr, Parser(0)->GetMIMEStructOfMsg(dir.c_str(), root));
  rmdir(dir.c_str());
}

// A file that reads shorter than its size (a kernel attribute file: size
// 4096, a line of text) is a read failure on both roads.
TEST(ParseFill, AFileThatReadsShortIsAReadFailure) {
  const char* path = "/sys/kernel/mm/transparent_hugepage/enabled";
  struct stat st;
  if (stat(path, &st) != 0 || st.st_size != 4096) GTEST_SKIP() << "no " << path;
  for (ULONG limit : {0ul, 4096ul}) {
    CRfc822Message message;
    CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile(path, FALSE);
    EXPECT_EQ(ResultFromSystemError(EIO), Parser(limit)->ParseMessage(file, PARSE_SCOPE_FULL, message)) << limit;
    EXPECT_EQ(static_cast<DWORD>(ResultFromSystemError(EIO)), message.GetParseStatus()) << limit;
  }
}

// A message file cut to half its size between the size check and the read
// (the parser's seam): a read failure on every road, in the file's memory
// branch and its stream branch, never a signal.
void CutToHalf(const char* path) {
  struct stat st;
  ASSERT_EQ(0, stat(path, &st));
  EXPECT_EQ(0, truncate(path, st.st_size / 2));
}

TEST(ParseFill, AFileCutAfterItsSizeWasTakenIsAReadFailure) {
  std::string message = "Subject: cut\r\nContent-Type: text/plain\r\n\r\n";
  while (message.size() < 3 * 4096) message += "a line of text that the cut will lose\r\n";
  const std::string path = TempPath("cut.eml");
  CRfc822Parser::s_pfnFileSized = CutToHalf;
  for (ULONG limit : {0ul, 1ul << 20}) {
    SCOPED_TRACE(limit);
    WriteFile("cut.eml", message);
    CRfc822PartDescriptor root(nullptr);
    const HRESULT scan = Parser(limit)->GetMIMEStructOfMsg(path.c_str(), root);
    EXPECT_TRUE(FAILED(scan)) << std::hex << scan;
    EXPECT_EQ(static_cast<DWORD>(scan), root.m_dwStatus);

    WriteFile("cut.eml", message);
    CRfc822Message parsed;
    CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile(path.c_str(), FALSE);
    const HRESULT hr = Parser(limit)->ParseMessage(file, PARSE_SCOPE_FULL, parsed);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_EQ(static_cast<DWORD>(hr), parsed.GetParseStatus());
  }
  CRfc822Parser::s_pfnFileSized = nullptr;
  // Unchanged, the same file scans whole.
  WriteFile("cut.eml", message);
  CRfc822PartDescriptor root(nullptr);
  EXPECT_EQ(S_OK, Parser(1 << 20)->GetMIMEStructOfMsg(path.c_str(), root));
  EXPECT_EQ(static_cast<DWORD>(message.size()), root.m_dwPartEnd);
  unlink(path.c_str());
}

}  // namespace

namespace {

// The name of the temporary file that holds a content, without its folder;
// "" for a content held only in memory.
std::string TmpFileName(CRfc822Part& part) {
  if (!part.GetContent().IsInFile()) return "";
  std::string path = part.GetContent().GetAsFile()->GetFileName();
  return path.substr(path.rfind('/') + 1);
}

const std::string kLimitBody = "0123456789";
const std::string kLimitMessage = "Content-Type: text/plain\r\n\r\n" + kLimitBody;

// A body of exactly the limit is decoded in memory, one byte more goes to
// a "BDY" file; with the limit 0 an empty body still takes the memory way.
// The same from the message's content and from a stream.
TEST(ParseFill, InMemoryLimitOfBodies) {
  const ULONG b = static_cast<ULONG>(kLimitBody.size());
  struct {
    std::string message;
    ULONG limit;
    bool inFile;
  } rows[] = {{kLimitMessage, b, false},
              {kLimitMessage, b - 1, true},
              {kLimitMessage, 0, true},
              {"Content-Type: text/plain\r\n\r\n", 0, false}};
  for (const auto& row : rows) {
    const std::string body = row.message.substr(row.message.find("\r\n\r\n") + 4);
    for (int fromStream = 0; fromStream < 2; ++fromStream) {
      CRfc822Message message;
      HRESULT hr;
      if (fromStream) {
        CTestStream stream(row.message);
        hr = Parser(row.limit)->ParseMessage(&stream, static_cast<ULONG>(row.message.size()), PARSE_SCOPE_FULL,
                                             message);
      } else {
        ASSERT_EQ(S_OK, message.PutContentAsString(row.message.c_str()));
        hr = Parser(row.limit)->ParseMessage(PARSE_SCOPE_FULL, message);
      }
      ASSERT_EQ(S_OK, hr) << row.limit << " " << fromStream;
      ASSERT_EQ(1, message.GetParts(nullptr)->GetCount());
      CRfc822Part* child = First(*message.GetParts(nullptr));
      EXPECT_EQ(body, Content(*child));
      EXPECT_EQ(body.empty(), child->GetContent().IsEmpty() != 0);
      EXPECT_EQ(row.inFile ? "BDY" : "", TmpFileName(*child).substr(0, 3)) << row.limit << " " << fromStream;
    }
  }
}

// A message part's content above the limit goes to a "MSG" file.
TEST(ParseFill, InMemoryLimitOfAMessagePart) {
  const std::string inner = "Subject: in\r\n\r\nbody\r\n";
  const std::string msg = "Content-Type: message/delivery-status\r\n\r\n" + inner;
  for (ULONG limit : {static_cast<ULONG>(inner.size()), static_cast<ULONG>(inner.size() - 1)}) {
    CRfc822Message message;
    ASSERT_EQ(S_OK, message.PutContentAsString(msg.c_str()));
    ASSERT_EQ(S_OK, Parser(limit)->ParseMessage(PARSE_SCOPE_FULL, message));
    CRfc822Part* child = First(*message.GetParts(nullptr));
    ASSERT_EQ(CRfc822Part::CONTENT_CLASS_MESSAGE, child->GetContentClass());
    EXPECT_EQ(inner, Content(*child));
    EXPECT_EQ(limit < inner.size() ? "MSG" : "", TmpFileName(*child).substr(0, 3)) << limit;
  }
}

// The message file: one of exactly the limit is read into memory, one byte
// more is scanned from disk; the body decides for itself. Every way gives
// the same tree.
TEST(ParseFill, InMemoryLimitOfMessageFiles) {
  const ULONG m = static_cast<ULONG>(kLimitMessage.size());
  const ULONG b = static_cast<ULONG>(kLimitBody.size());
  struct {
    ULONG limit;
    bool messageInMemory;
    bool bodyInFile;
  } rows[] = {{m, true, false}, {m - 1, false, false}, {b, false, false}, {b - 1, false, true}, {0, false, true}};
  std::string path = WriteFile("limitfile", kLimitMessage);
  for (const auto& row : rows) {
    CRfc822Message message;
    CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile(path.c_str(), FALSE);
    ASSERT_EQ(S_OK, Parser(row.limit)->ParseMessage(file, PARSE_SCOPE_FULL, message)) << row.limit;
    EXPECT_EQ(row.messageInMemory, message.GetContent().IsInMemory() != 0) << row.limit;
    EXPECT_STREQ(path.c_str(), message.GetContent().GetAsFile()->GetFileName());
    ASSERT_EQ(1, message.GetParts(nullptr)->GetCount());
    CRfc822Part* child = First(*message.GetParts(nullptr));
    EXPECT_STREQ("text/plain", child->GetContentMediaType().c_str());
    EXPECT_EQ(kLimitBody, Content(*child)) << row.limit;
    EXPECT_EQ(row.bodyInFile ? "BDY" : "", TmpFileName(*child).substr(0, 3)) << row.limit;
    EXPECT_EQ(kLimitMessage, Content(message));
  }
  unlink(path.c_str());
}

// The temporary files of a message parsed from its file go with the
// message; the message file itself stays.
TEST(ParseFill, TemporaryFilesOfAFileParseGoWithTheMessage) {
  std::string dir = TempPath("filesession");
  ASSERT_EQ(0, mkdir(dir.c_str(), 0700));
  std::string path = WriteFile("filesession.eml",
                               "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nx\r\n--b\r\n"
                               "Content-Type: message/rfc822\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                                   kEncodedInnerB64 + "\r\n--b--\r\n");
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  EXPECT_EQ(parser->OpenSession(dir.c_str()), S_OK);  // limit 0: scanned from disk, every body in a file
  {
    CRfc822Message message;
    CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile(path.c_str(), FALSE);
    ASSERT_EQ(S_OK, parser->ParseMessage(file, PARSE_SCOPE_FULL, message));
    ASSERT_EQ(2, message.GetParts(nullptr)->GetCount());
    EXPECT_LE(2u, FilesIn(dir));
  }
  EXPECT_EQ(0u, FilesIn(dir));
  struct stat st;
  EXPECT_EQ(0, stat(path.c_str(), &st));
  unlink(path.c_str());
  rmdir(dir.c_str());
}

}  // namespace

namespace {

// A file that exists but cannot be opened (no read permission, checked
// under an unprivileged user): the error on both roads, in the message's
// status too.
TEST(ParseFill, UnopenableFileIsAFailure) {
  std::string path = WriteFile("noperm", kOnePart);
  ASSERT_EQ(0, chmod(path.c_str(), 0));
  int failed = telsor_test::RunUnprivileged([&]() -> int {
    int bad = 0;
    for (ULONG limit : {0ul, 4096ul}) {
      CRfc822Message message;
      CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile(path.c_str(), FALSE);
      HRESULT hr = Parser(limit)->ParseMessage(file, PARSE_SCOPE_FULL, message);
      const HRESULT expected = limit == 0 ? E_ACCESSDENIED : ResultFromSystemError(EACCES);
      if (hr != expected || message.GetParseStatus() != static_cast<DWORD>(expected)) bad = bad * 10 + 1;
      if (message.GetParts(nullptr)->GetCount() != 0) bad = bad * 10 + 2;
    }
    return bad;
  });
  EXPECT_EQ(0, failed);
  unlink(path.c_str());
}

}  // namespace

namespace {

size_t CountParts(CRfc822Part& part) {
  size_t n = 1;
  CRfc822Parts* parts = part.GetParts(nullptr);
  for (void* pos = parts->GetHeadPosition(); pos != nullptr;) n += CountParts(*parts->GetNext(pos));
  return n;
}

// A message of 100,000 tiny parts: the scan stops adding parts once the tree
// holds 2,049, inside the one multipart; the filling makes no more parts
// than that, and the message's status tells why the rest is missing.
TEST(ParseFill, TinyPartsCannotMakeAHugeTree) {
  std::string msg = "Content-Type: multipart/mixed; boundary=p\r\n\r\n";
  for (int i = 0; i < 100000; ++i) msg += "--p\r\n\r\nx\r\n";
  msg += "--p--\r\n";
  std::string path = WriteFile("tinyparts", msg);
  for (ULONG limit : {0ul, 1ul << 24}) {
    CRfc822Message message;
    CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile(path.c_str(), FALSE);
    ASSERT_EQ(S_OK, Parser(limit)->ParseMessage(file, PARSE_SCOPE_FULL, message)) << limit;
    EXPECT_EQ(static_cast<DWORD>(E_MIME_TOO_MANY_PARTS), message.GetParseStatus()) << limit;
    EXPECT_EQ(static_cast<size_t>(CRfc822PartDescriptor::MAX_DESCRIPTORS), CountParts(message)) << limit;
  }
  // From the message's content (in memory, or in a file of its own) the
  // same: the parts scanned are filled and the limit is in the status.
  for (ULONG limit : {0ul, 1ul << 24}) {
    CRfc822Message fromContent;
    ASSERT_EQ(S_OK, fromContent.PutContentAsString(msg.c_str()));
    ASSERT_EQ(S_OK, Parser(limit)->ParseMessage(PARSE_SCOPE_FULL, fromContent)) << limit;
    EXPECT_EQ(static_cast<DWORD>(E_MIME_TOO_MANY_PARTS), fromContent.GetParseStatus()) << limit;
    EXPECT_EQ(static_cast<size_t>(CRfc822PartDescriptor::MAX_DESCRIPTORS), CountParts(fromContent)) << limit;
  }
  unlink(path.c_str());
}

}  // namespace
