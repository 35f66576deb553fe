// Composition: message headers, content lines, delimiters and transfer
// encodings written from the model, stored bytes written as they are, the
// result codes of ComposeToFile, and a composed message read back by
// Python's email package (compose_oracle.py) with the same tree and the
// same decoded payloads.
#include <gtest/gtest.h>
#include <ctype.h>
#include <stdio.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/runprogram.h"
#include "common/tempdir.h"
#include "common/teststream.h"
#include "foundation/exception.h"
#include "foundation/throwcode.h"
#include "foundation/win32.h"
#include "mime/bodypart.h"
#include "mime/message.h"
#include "mime/mimeresults.h"
#include "mime/rfc822date.h"
#include "mime/rfc822parser.h"
#include "mimetestutil.h"
#include "sessiontestutil.h"

using namespace telsor;
using mime_test::Show;
using mime_test::Str;
using mime_test::ThrownCode;
using telsor_test::ReadFileBytes;
using telsor_test::TempDir;
using telsor_test::WriteFileBytes;

namespace {

const char kDate[] = "Tue, 1 Jul 2003 10:52:37 +0200";

// The three fields of a boundary "=_Part_%X_%X_%X" (upper-case hex, no
// leading zeros); false for any other text.
bool BoundaryFields(const std::string& text, unsigned long fields[3]) {
  const std::string lead = "=_Part_";
  if (text.compare(0, lead.size(), lead) != 0) return false;
  size_t at = lead.size();
  for (int i = 0; i < 3; ++i) {
    size_t end = at;
    while (end < text.size() && (isdigit(static_cast<unsigned char>(text[end])) || (text[end] >= 'A' && text[end] <= 'F')))
      ++end;
    if (end == at || end - at > 8 || (text[at] == '0' && end - at > 1)) return false;
    fields[i] = std::stoul(text.substr(at, end - at), nullptr, 16);
    if (i < 2 && (end >= text.size() || text[end] != '_')) return false;
    at = end + 1;
  }
  return at == text.size() + 1;
}

std::string ComposeOf(CRfc822Part& part) {
  CTestStream out;
  part.Compose(&out);
  return out.str();
}

std::string HeaderOf(CRfc822Part& part) {
  CTestStream out;
  part.ComposeHeader(&out);
  return out.str();
}

void PutBytes(CRfc822Part& part, const std::string& bytes) {
  EXPECT_EQ(part.PutContentAsString(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<ULONG>(bytes.size())),
            S_OK);
}

// A message with a fixed date, so that its header is known byte for byte.
void Dated(CRfc822Message& m) { m.GetFields(CRfc822Fields::ORDER_KEEP).Add("Date", kDate); }

TEST(Compose, MultipartMixedWithPreambleAndDelimiters) {
  CRfc822Message m;
  Dated(m);
  m.From() = "Ann <ann@example.org>";
  m.To() = "bob@example.org";
  m.Subject() = "Report";
  m.MessageID() = "id.1@example.org";
  m.PutBoundary("BOUNDARY");
  CRfc822BodyPart* text = m.AddBodyPart(-1);
  text->PutContentMediaType("text/plain");
  text->PutCharset("utf-8");
  PutBytes(*text, "Hello\r\n");
  CRfc822BodyPart* gif = m.AddBodyPart(-1);
  gif->PutContentMediaType("image/gif");
  gif->PutAttachment(1);
  gif->PutAttachmentName("a.gif");
  PutBytes(*gif, "GIF89a");
  EXPECT_EQ(ComposeOf(m),
            "Message-ID: <id.1@example.org>\r\n"
            "Date: Tue, 1 Jul 2003 10:52:37 +0200\r\n"
            "From: Ann <ann@example.org>\r\n"
            "Subject: Report\r\n"
            "To: <bob@example.org>\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: multipart/mixed;\r\n\tboundary=\"BOUNDARY\"\r\n"
            "\r\n"
            "This is a multi-part message in MIME format.\r\n"
            "\r\n--BOUNDARY\r\n"
            "Content-Type: text/plain; charset=\"utf-8\"\r\n"
            "Content-Transfer-Encoding: quoted-printable\r\n"
            "\r\n"
            "Hello\r\n"
            "\r\n--BOUNDARY\r\n"
            "Content-Type: image/gif\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment; filename=\"a.gif\"\r\n"
            "\r\n"
            "R0lGODlh\r\n"
            "\r\n--BOUNDARY--\r\n");
  EXPECT_EQ(Str(m.GetContentMediaType()), "multipart/mixed");
  EXPECT_EQ(Str(text->GetContentTransferEncoding()), "quoted-printable");
  EXPECT_EQ(Str(gif->GetContentTransferEncoding()), "base64");
}

TEST(Compose, DefaultTransferEncodings) {
  struct {
    const char* mediaType;
    const char* given;
    const char* line;  // the Content-Transfer-Encoding line, "" for none
    const char* stored;
  } const cases[] = {
      {"image/gif", "", "Content-Transfer-Encoding: base64\r\n", "base64"},
      {"text/html", "", "Content-Transfer-Encoding: quoted-printable\r\n", "quoted-printable"},
      {"TEXT/html", "", "Content-Transfer-Encoding: quoted-printable\r\n", "quoted-printable"},
      {"multipart/alternative", "", "", "7bit"},
      {"message/rfc822", "", "Content-Transfer-Encoding: 8bit\r\n", "8bit"},
      {"Application/Mac-BinHex40", "", "Content-Transfer-Encoding: binary\r\n", "binary"},
      {"application/mac-binhex40x", "", "Content-Transfer-Encoding: base64\r\n", "base64"},
      {"", "", "Content-Transfer-Encoding: base64\r\n", "base64"},
      {"text/plain", "8bit", "Content-Transfer-Encoding: 8bit\r\n", "8bit"},
      {"text/plain", "7BIT", "", "7BIT"},
  };
  for (const auto& c : cases) {
    CRfc822BodyPart part;
    part.PutContentMediaType(c.mediaType);
    part.PutContentTransferEncoding(c.given);
    CTestStream out;
    part.ComposeContentTransferEncoding(&out);
    EXPECT_EQ(out.str(), c.line) << c.mediaType;
    EXPECT_EQ(Str(part.GetContentTransferEncoding()), c.stored) << c.mediaType;
  }
}

TEST(Compose, BodyPartHeaderLines) {
  CRfc822BodyPart part;
  part.PutContentMediaType("application/pdf");
  part.PutContentID("cid.1@x");
  part.PutContentDescription("the report");
  part.PutContentDisposition("inline");
  part.PutCharset("utf-8");  // only text types carry it
  part.GetFields(CRfc822Fields::ORDER_KEEP).Add("X-Zed", "z");
  part.GetFields(CRfc822Fields::ORDER_KEEP).Add("Content-Type", "ignored/known");
  part.GetFields(CRfc822Fields::ORDER_KEEP).Add("X-Abc", "a");
  // Without the attachment mark: neither disposition nor description.
  EXPECT_EQ(HeaderOf(part),
            "Content-ID: <cid.1@x>\r\n"
            "Content-Type: application/pdf\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "X-Zed: z\r\n"
            "X-Abc: a\r\n");
  part.PutAttachment(1);
  part.PutAttachmentName("report 2003.pdf");
  EXPECT_EQ(HeaderOf(part),
            "Content-ID: <cid.1@x>\r\n"
            "Content-Type: application/pdf\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment; filename=\"report 2003.pdf\"\r\n"
            "Content-Description: the report\r\n"
            "X-Zed: z\r\n"
            "X-Abc: a\r\n");
  // A long file name moves to a continuation line.
  std::string name(60, 'n');
  part.PutAttachmentName(name.c_str());
  part.PutContentID("");
  EXPECT_NE(HeaderOf(part).find("Content-Disposition: attachment;\r\n  filename=\"" + name + "\"\r\n"),
            std::string::npos)
      << Show(HeaderOf(part));
}

TEST(Compose, ContentIdKeepsOneBracketPair) {
  CRfc822BodyPart part;
  part.PutContentID("<given@x>");
  EXPECT_EQ(HeaderOf(part), "Content-ID: <given@x>\r\nContent-Transfer-Encoding: base64\r\n");
}

TEST(Compose, LongParametersAreWrittenWhole) {
  // The content lines grow with their parameters.
  std::string boundary(3000, 'b');
  std::string charset(600, 'c');
  CRfc822BodyPart part;
  part.PutContentMediaType("multipart/mixed");
  part.PutBoundary(boundary.c_str());
  EXPECT_EQ(HeaderOf(part), "Content-Type: multipart/mixed;\r\n\tboundary=\"" + boundary + "\"\r\n");
  CRfc822BodyPart text;
  text.PutContentMediaType("text/plain");
  text.PutCharset(charset.c_str());
  text.PutContentTransferEncoding("7bit");
  EXPECT_EQ(HeaderOf(text), "Content-Type: text/plain; charset=\"" + charset + "\"\r\n");
  CRfc822Message m;
  m.PutContentMediaType("text/plain");
  m.PutName(charset.c_str());
  CTestStream out;
  m.ComposeContentType(&out);
  EXPECT_EQ(out.str(), "Content-Type: text/plain;\r\n\tname=\"" + charset + "\"\r\n");
  // The disposition's value is any length; the field writer folds it.
  std::string name(1500, 'n');
  CRfc822BodyPart file;
  file.PutAttachment(1);
  file.PutAttachmentName(name.c_str());
  std::string header = HeaderOf(file);
  std::string unfolded;
  for (size_t i = 0; i < header.size(); ++i) {
    if (header.compare(i, 3, "\r\n ") == 0) {
      i += 2;
      while (i + 1 < header.size() && header[i + 1] == ' ') ++i;
      continue;
    }
    unfolded += header[i];
  }
  EXPECT_NE(unfolded.find("Content-Disposition: attachment;filename=\"" + name + "\"\r\n"), std::string::npos);
}

TEST(Compose, EmbeddedMessagePartHeader) {
  struct {
    const char* encoding;
    const char* written;
  } const cases[] = {{"", "7bit"}, {"8bit", "8bit"}, {"binary", "binary"}, {"base64", "8bit"},
                     {"quoted-printable", "8bit"}, {"x-unknown", "8bit"}};
  for (const auto& c : cases) {
    CRfc822Message m;
    m.PutContentTransferEncoding(c.encoding);
    EXPECT_EQ(HeaderOf(m), "Content-Type: message/rfc822\r\nContent-Transfer-Encoding: " + std::string(c.written) +
                               "\r\n")
        << c.encoding;
  }
}

TEST(Compose, TextBodyPartWithCharsetIsQuotedPrintable) {
  CRfc822BodyPart part;
  part.PutContentMediaType("text/plain");
  part.PutCharset("iso-8859-1");
  PutBytes(part, "caf\xE9 = 1\r\n");
  EXPECT_EQ(ComposeOf(part),
            "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n"
            "Content-Transfer-Encoding: quoted-printable\r\n"
            "\r\n"
            "caf=E9 =3D 1\r\n");
  EXPECT_EQ(Str(part.GetContentTransferEncoding()), "quoted-printable");
}

TEST(Compose, MultipartBodyPartMakesAndKeepsItsBoundary) {
  CRfc822BodyPart multi;
  multi.PutContentMediaType("multipart/mixed");
  PutBytes(*multi.AddBodyPart(-1), "one");
  PutBytes(*multi.AddBodyPart(-1), "two");
  multi.GetParts(nullptr)->GetAt(multi.GetParts(nullptr)->GetHeadPosition())->PutContentMediaType("text/plain");
  std::string text = ComposeOf(multi);
  std::string b = Str(multi.GetBoundary());
  unsigned long fields[3];
  ASSERT_TRUE(BoundaryFields(b, fields)) << b;
  EXPECT_EQ(text,
            "Content-Type: multipart/mixed;\r\n\tboundary=\"" + b + "\"\r\n"
            "\r\n--" + b + "\r\n"
            "Content-Type: text/plain\r\n"
            "Content-Transfer-Encoding: quoted-printable\r\n"
            "\r\n"
            "one"
            "\r\n--" + b + "\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "\r\n"
            "dHdv\r\n"
            "\r\n--" + b + "--\r\n");
  EXPECT_EQ(ComposeOf(multi), text);  // the same boundary and encodings again
}

TEST(Compose, BoundariesDiffer) {
  TSTRING a = CRfc822Part::CreateBoundary();
  TSTRING b = CRfc822Part::CreateBoundary();
  unsigned long fa[3], fb[3];
  ASSERT_TRUE(BoundaryFields(Str(a), fa)) << Str(a);
  ASSERT_TRUE(BoundaryFields(Str(b), fb)) << Str(b);
  EXPECT_EQ(fb[2], fa[2] + 1);
  // The first two fields are the clock as a FILETIME.
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  EXPECT_EQ(fa[0], now.dwHighDateTime);
}

TEST(Compose, EmptyPartsWriteTheirHeaderOnly) {
  CRfc822BodyPart part;
  part.PutContentMediaType("application/mac-binhex40");
  CSharedObjPtr<CAppleFile> apple = new CAppleFile;
  part.PutAppleFile(apple);
  EXPECT_EQ(ComposeOf(part), "Content-Type: application/mac-binhex40\r\nContent-Transfer-Encoding: binary\r\n");
  // A nested multipart without children leaves no trace at all.
  CRfc822BodyPart outer;
  outer.PutContentMediaType("multipart/mixed");
  outer.PutBoundary("O");
  outer.AddBodyPart(-1)->PutContentMediaType("multipart/alternative");
  CRfc822BodyPart* leaf = outer.AddBodyPart(-1);
  leaf->PutContentMediaType("text/plain");
  leaf->PutContentTransferEncoding("7bit");
  PutBytes(*leaf, "x");
  EXPECT_EQ(ComposeOf(outer),
            "Content-Type: multipart/mixed;\r\n\tboundary=\"O\"\r\n"
            "\r\n--O\r\nContent-Type: text/plain\r\n\r\nx\r\n--O--\r\n");
}

TEST(Compose, MacintoshFiles) {
  CSharedObjPtr<CAppleFile> apple = new CAppleFile;
  apple->PutFileName("Read Me");
  apple->PutFileType("TEXT");
  apple->PutFileCreator("ttxt");
  unsigned char data[] = "data fork";
  EXPECT_EQ(apple->PutDataForkAsString(data, 9), S_OK);
  CRfc822BodyPart binhex;
  binhex.PutContentMediaType("application/mac-binhex40");
  binhex.PutAppleFile(apple);
  PutBytes(binhex, "data fork");
  std::string text = ComposeOf(binhex);
  EXPECT_EQ(text.find("Content-Type: application/mac-binhex40\r\nContent-Transfer-Encoding: binary\r\n\r\n"), 0u)
      << Show(text);
  EXPECT_NE(text.find("(This file must be converted with BinHex 4.0)"), std::string::npos);

  CRfc822BodyPart applefile;
  applefile.PutContentMediaType("application/applefile");
  applefile.PutAppleFile(apple);
  PutBytes(applefile, "data fork");
  EXPECT_EQ(ThrownCode([&] { ComposeOf(applefile); }), static_cast<DWORD>(E_NOTIMPL));
  EXPECT_EQ(Str(applefile.GetContentTransferEncoding()), "base64");
}

TEST(Compose, EmbeddedMessagePartsLoseTheirEndDot) {
  CRfc822BodyPart part;
  part.PutContentMediaType("message/rfc822");
  PutBytes(part, "Subject: in\r\n\r\nbody\r\n.\r\n");
  EXPECT_EQ(ComposeOf(part),
            "Content-Type: message/rfc822\r\nContent-Transfer-Encoding: 8bit\r\n\r\nSubject: in\r\n\r\nbody");
}

TEST(Compose, StoredBytesAreWrittenAsTheyAre) {
  CRfc822Message m;
  const std::string bytes = "Subject: parsed\r\nX: \x01\xFF\r\n\r\nbody\r\n.\r\n";
  PutBytes(m, bytes);
  m.Subject() = "changed";  // the model is not consulted
  m.AddBodyPart(-1);
  EXPECT_EQ(ComposeOf(m), bytes.substr(0, bytes.size() - 5));
}

TEST(Compose, EmbeddedMessagesInMixedAndDigest) {
  for (const char* type : {"multipart/mixed", "multipart/digest"}) {
    CRfc822Message m;
    Dated(m);
    m.PutContentMediaType(type);
    m.PutBoundary("D");
    for (const char* subject : {"one", "two"}) {
      CRfc822Message* inner = m.AddMessage(-1);
      Dated(*inner);
      inner->Subject() = subject;
      CRfc822BodyPart* body = inner->AddBodyPart(-1);
      body->PutContentMediaType("text/plain");
      body->PutContentTransferEncoding("7bit");
      PutBytes(*body, subject);
    }
    std::string intro = strcmp(type, "multipart/digest") == 0
                            ? "\r\n"
                            : "Content-Type: message/rfc822\r\nContent-Transfer-Encoding: 8bit\r\n\r\n";
    auto inner = [](const char* subject) {
      return "Date: " + std::string(kDate) + "\r\nSubject: " + subject +
             "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain\r\n\r\n" + subject;
    };
    EXPECT_EQ(ComposeOf(m), "Date: " + std::string(kDate) + "\r\nSubject:\r\nMIME-Version: 1.0\r\nContent-Type: " +
                                type + ";\r\n\tboundary=\"D\"\r\n\r\nThis is a multi-part message in MIME format.\r\n"
                                "\r\n--D\r\n" + intro + inner("one") + "\r\n--D\r\n" + intro + inner("two") +
                                "\r\n--D--\r\n");
  }
}

TEST(Compose, SingleChildMessages) {
  // The same media type: the message's own line (charset unless US-ASCII)
  // and the child's content right after the header's blank line.
  for (const char* charset : {"utf-8", "US-ASCII"}) {
    CRfc822Message m;
    Dated(m);
    m.PutContentMediaType("text/plain");
    m.PutCharset(charset);
    m.PutContentTransferEncoding("quoted-printable");
    CRfc822BodyPart* body = m.AddBodyPart(-1);
    body->PutContentMediaType("text/plain");
    body->PutContentTransferEncoding("quoted-printable");
    PutBytes(*body, "a=b");
    std::string line = strcmp(charset, "utf-8") == 0 ? "Content-Type: text/plain;\r\n\tcharset=\"utf-8\"\r\n"
                                                     : "Content-Type: text/plain\r\n";
    EXPECT_EQ(ComposeOf(m), "Date: " + std::string(kDate) + "\r\nSubject:\r\nMIME-Version: 1.0\r\n" + line +
                                "Content-Transfer-Encoding: quoted-printable\r\n\r\na=3Db");
  }
  // Another media type: the child's content lines stand for the message's.
  CRfc822Message m;
  Dated(m);
  CRfc822BodyPart* body = m.AddBodyPart(-1);
  body->PutContentMediaType("text/html");
  body->PutContentDescription("page");
  PutBytes(*body, "<p>");
  EXPECT_EQ(ComposeOf(m), "Date: " + std::string(kDate) +
                              "\r\nSubject:\r\nMIME-Version: 1.0\r\nContent-Type: text/html\r\n"
                              "Content-Transfer-Encoding: quoted-printable\r\n\r\n<p>");
  EXPECT_EQ(Str(m.GetContentMediaType()), "text/html");
  EXPECT_EQ(Str(m.GetContentDescription()), "page");
}

TEST(Compose, HeaderOrderAndFieldsWrittenOnce) {
  CRfc822Message m;
  CRfc822Fields& fields = m.GetFields(CRfc822Fields::ORDER_KEEP);
  for (const char* name : {"X-Last", "Sender", "Resent-Bcc", "Resent-Sender", "Received", "Return-Path",
                           "Resent-Message-ID", "Date", "Content-Type", "MIME-Version", "Subject", "Resent-To"})
    fields.Add(name, "v");
  fields.Add("Received", "second");
  m.To() = "t@x";
  m.Cc() = "c@x";
  m.Bcc() = "b@x";
  m.ReplyTo() = "r@x";
  m.Priority() = "urgent";
  m.PutMimeFormatted(0);
  std::string text = ComposeOf(m);
  EXPECT_EQ(text,
            "Return-Path: v\r\nReceived: v\r\nReceived: second\r\nDate: v\r\nSubject:\r\nResent-Sender: v\r\n"
            "Sender: v\r\nResent-To: v\r\nTo: <t@x>\r\nCc: <c@x>\r\nResent-Bcc: v\r\nBcc: <b@x>\r\n"
            "Reply-To: <r@x>\r\nPriority: urgent\r\nX-Last: v\r\n\r\n");
  // With a Message-ID the Resent-Message-ID fields come before it.
  m.MessageID() = "m@x";
  text = ComposeOf(m);
  EXPECT_EQ(text.find("Return-Path: v\r\nReceived: v\r\nReceived: second\r\nResent-Message-ID: v\r\n"
                      "Message-ID: <m@x>\r\nDate: v\r\n"),
            0u)
      << Show(text);
}

TEST(Compose, MissingDateIsNow) {
  CRfc822Message m;
  SYSTEMTIME before;
  GetSystemTime(&before);
  std::string text = ComposeOf(m);
  ASSERT_EQ(text.compare(0, 6, "Date: "), 0) << Show(text);
  std::string date = text.substr(6, text.find("\r\n") - 6);
  CRfc822Date parsed;
  ASSERT_TRUE(parsed.SetDate(date.c_str())) << date;
  FILETIME start;
  SystemTimeToFileTime(&before, &start);
  auto ticks = [](const FILETIME& f) { return (static_cast<ULONGLONG>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
  // Whole seconds: within two seconds of the start.
  EXPECT_LE(ticks(start), ticks(parsed.GetInstant()) + 10000000ull);
  EXPECT_LE(ticks(parsed.GetInstant()), ticks(start) + 20000000ull);
  EXPECT_EQ(text.find("Message-ID"), std::string::npos);
  EXPECT_NE(text.find("\r\nSubject:\r\nMIME-Version: 1.0\r\n\r\n"), std::string::npos) << Show(text);
}

TEST(Compose, PlainMessageWithUuencodedAttachments) {
  CRfc822Message m;
  Dated(m);
  m.PutMimeFormatted(0);
  CRfc822BodyPart* html = m.AddBodyPart(-1);
  html->PutContentMediaType("multipart/alternative");  // never the body
  CRfc822BodyPart* file = m.AddBodyPart(-1);
  file->PutAttachment(1);
  file->PutAttachmentName("a.txt");
  PutBytes(*file, "Cat");
  CRfc822BodyPart* body = m.AddBodyPart(-1);
  body->PutContentTransferEncoding("base64");
  PutBytes(*body, "plain body\r\n");
  EXPECT_EQ(ComposeOf(m), "Date: " + std::string(kDate) +
                              "\r\nSubject:\r\n\r\n"
                              "plain body\r\n"
                              "\r\nbegin 777 a.txt\r\n#0V%T\r\n`\r\nend\r\n");
  EXPECT_EQ(Str(body->GetContentTransferEncoding()), "7bit");
  EXPECT_EQ(Str(file->GetContentTransferEncoding()), "uuencode");
}

// A message whose content lines throw what it is given.
class CThrowingMessage : public CRfc822Message {
 public:
  std::function<void()> thrower;
  void ComposeContentType(IStream*) override { thrower(); }
};

TEST(Compose, ComposeToFileResults) {
  TempDir dir;
  CRfc822Message m;
  EXPECT_EQ(m.ComposeToFile(nullptr), E_POINTER);
  EXPECT_TRUE(FAILED(m.ComposeToFile((dir / "no/such/dir/m.eml").c_str())));

  WriteFileBytes(dir / "m.eml", std::string(10000, 'x'));  // truncated first
  Dated(m);
  m.PutMimeFormatted(0);
  EXPECT_EQ(m.ComposeToFile((dir / "m.eml").c_str()), S_OK);
  EXPECT_EQ(ReadFileBytes(dir / "m.eml"), "Date: " + std::string(kDate) + "\r\nSubject:\r\n\r\n");

  struct {
    const char* what;
    std::function<void()> thrower;
    HRESULT expected;
  } const cases[] = {
      {"memory", [] { AfxThrowMemoryException(); }, ERROR_NOT_ENOUGH_MEMORY},
      {"bad_alloc", [] { throw std::bad_alloc(); }, ERROR_NOT_ENOUGH_MEMORY},
      {"file", [] { CFileException::ThrowErrno(ENOSPC, "/x"); }, ENOSPC},
      {"code", [] { ThrowCode(0x80000009u); }, E_ACCESSDENIED},
      {"not supported", [] { AfxThrowNotSupportedException(); }, E_COMPOSE_FILE_FAILED},
      {"std", [] { throw std::runtime_error("x"); }, E_COMPOSE_FILE_FAILED},
  };
  for (const auto& c : cases) {
    CThrowingMessage t;
    Dated(t);
    t.thrower = c.thrower;
    EXPECT_EQ(t.ComposeToFile((dir / "t.eml").c_str()), c.expected) << c.what;
    // What was written before the failure stays in the file.
    EXPECT_EQ(ReadFileBytes(dir / "t.eml"), "Date: " + std::string(kDate) + "\r\nSubject:\r\nMIME-Version: 1.0\r\n")
        << c.what;
  }
}

TEST(Compose, WriteFailuresLeaveAsCodes) {
  CRfc822Message m;
  Dated(m);
  CTestStream out;
  out.failWrite = E_ACCESSDENIED;
  EXPECT_EQ(ThrownCode([&] { m.Compose(&out); }), static_cast<DWORD>(E_ACCESSDENIED));
}

// ---------------------------------------------------------------------------
// Read back by Python's email package.

std::string Hex(const std::string& bytes) {
  if (bytes.empty()) return "-";
  std::string out;
  char buf[3];
  for (unsigned char c : bytes) {
    snprintf(buf, sizeof buf, "%02x", c);
    out += buf;
  }
  return out;
}

std::vector<std::string> PythonTree(const std::string& path) {
  std::string script = __FILE__;
  script = script.substr(0, script.rfind('/')) + "/compose_oracle.py";
  std::string command = "python3 '" + script + "' '" + path + "'";
  const telsor_test::ProgramRun run = telsor_test::RunProgram(command);
  EXPECT_EQ(run.status, 0) << command;
  return telsor_test::Lines(run.output);
}

TEST(Compose, PythonReadsTheSameTree) {
  TempDir dir;
  std::string binary;
  for (int i = 0; i < 256; ++i) binary += static_cast<char>(i);
  binary += binary;
  const std::string latin = "Gr\xFC\xDF" "e, \"quoted\" = sign\r\n  trailing blanks  \r\n.\r\nlast line without end";
  const std::string longLine = std::string(200, 'w') + " " + std::string(50, 'v') + "\r\n";
  const std::string html = "<html><body><p>caf\xC3\xA9</p></body></html>\r\n";
  const std::string gif = std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00\xFF\xFF\xFF\x00\x00\x00!", 20) + "\x3B";

  CRfc822Message m;
  m.From() = "Ann <ann@example.org>";
  CRfc822Parser::ParseAddressList("bob@example.org, carl@example.org", m.To(), ADDRESS_TYPE_FIELD);
  m.Subject() = "Composed";
  m.MessageID() = "tree@example.org";
  CRfc822BodyPart* text = m.AddBodyPart(-1);
  text->PutContentMediaType("text/plain");
  text->PutCharset("iso-8859-1");
  PutBytes(*text, latin);
  CRfc822BodyPart* alternative = m.AddBodyPart(-1);
  alternative->PutContentMediaType("multipart/alternative");
  CRfc822BodyPart* plain = alternative->AddBodyPart(-1);
  plain->PutContentMediaType("text/plain");
  PutBytes(*plain, longLine);
  CRfc822BodyPart* page = alternative->AddBodyPart(-1);
  page->PutContentMediaType("text/html");
  page->PutCharset("utf-8");
  PutBytes(*page, html);
  CRfc822BodyPart* image = m.AddBodyPart(-1);
  image->PutContentMediaType("image/gif");
  image->PutAttachment(1);
  image->PutAttachmentName("dot.gif");
  image->PutContentID("dot@example.org");
  PutBytes(*image, gif);
  CRfc822Message* inner = m.AddMessage(-1);
  inner->Subject() = "Inner";
  inner->From() = "carl@example.org";
  CRfc822BodyPart* innerText = inner->AddBodyPart(-1);
  innerText->PutContentMediaType("text/plain");
  PutBytes(*innerText, "inner body\r\n");
  CRfc822BodyPart* octets = m.AddBodyPart(-1);
  octets->PutContentMediaType("application/octet-stream");
  octets->PutAttachment(1);
  octets->PutAttachmentName("all bytes.bin");
  PutBytes(*octets, binary);

  ASSERT_EQ(m.ComposeToFile((dir / "tree.eml").c_str()), S_OK);
  // Quoted-printable carries line breaks as line breaks, which Python
  // decodes to "\n"; base64 carries every byte.
  auto lines = [](std::string text) {
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, "\n");
    return Hex(text);
  };
  std::vector<std::string> expected = {
      "0 multipart/mixed - -",
      "1 text/plain - " + lines(latin),
      "1 multipart/alternative - -",
      "2 text/plain - " + lines(longLine),
      "2 text/html - " + lines(html),
      "1 image/gif dot.gif " + Hex(gif),
      "1 message/rfc822 - -",
      // A message of one body part is one entity: the part's lines are
      // the message's.
      "2 text/plain - " + lines("inner body\r\n"),
      "1 application/octet-stream all_bytes.bin " + Hex(binary),
  };
  std::vector<std::string> got = PythonTree(dir / "tree.eml");
  EXPECT_EQ(got, expected) << ReadFileBytes(dir / "tree.eml");
}

}  // namespace
