// Header filling: the content fields of a part and the message-level data
// of a message from a header block, over streams and files, with the
// limits and failures of the reading.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/errorroad.h"
#include "common/tempdir.h"
#include "common/teststream.h"
#include "foundation/streamreader.h"
#include "foundation/win32.h"
#include "mime/anomalyflags.h"
#include "mime/bodypart.h"
#include "mime/message.h"
#include "mime/mimeresults.h"
#include "mime/rfc822parser.h"
#include "mimetestutil.h"

using namespace telsor;
using mime_test::Str;
using telsor_test::TempDir;
using telsor_test::WriteFileBytes;

namespace {

HRESULT Fill(CRfc822Part& part, const std::string& text, ULONG length = CStreamReader::NO_LIMIT) {
  CRfc822Parser parser;
  CTestStream stream(text);
  return parser.FillRfc822PartHeaderInfo(&stream, part, length);
}

std::vector<std::string> FieldNames(CRfc822Part& part) {
  std::vector<std::string> names;
  CRfc822Fields& fields = part.GetFields(CRfc822Fields::ORDER_INSERTION);
  for (ULONG i = 0; i < fields.GetCount(); ++i) names.push_back(Str(fields[static_cast<LONG>(i)].GetName()));
  return names;
}

std::vector<std::string> Addresses(CRfc822Addresses& list) {
  std::vector<std::string> out;
  for (void* pos = list.GetHeadPosition(); pos != nullptr;) out.push_back(Str(list.GetNext(pos).GetAddress()));
  return out;
}

ULONGLONG Ticks(const SYSTEMTIME& time) {
  FILETIME ft;
  SystemTimeToFileTime(&time, &ft);
  return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

TEST(HeaderFill, ContentFields) {
  struct Case {
    const char* header;
    const char* mediaType;
    const char* boundary;
    const char* charset;
    const char* name;
    const char* encoding;
    const char* id;
    const char* disposition;
    const char* attachmentName;
    const char* description;
    BOOL attachment;
  } const cases[] = {
      // The last Content-Type decides; an empty boundary replaces the first.
      {"Content-Type: multipart/mixed; boundary=\"b1\"\r\nContent-Type: text/html; charset=utf-8\r\n",
       "text/html", "", "utf-8", "", "", "", "", "", "", 0},
      {"Content-Type: text/plain; charset=utf-8\r\nContent-Type: multipart/mixed; boundary=b2\r\n",
       "multipart/mixed", "b2", "utf-8", "", "", "", "", "", "", 0},
      // A name parameter marks an attachment.
      {"Content-Type: application/pdf; name=\"r.pdf\"\r\n", "application/pdf", "", "", "r.pdf", "", "", "", "",
       "", 1},
      // Any disposition marks one, an inline one included.
      {"Content-Disposition: inline; filename=\"a b.txt\"\r\n", "", "", "", "", "", "", "inline", "a b.txt", "",
       1},
      {"Content-Disposition:   attachment\r\n", "", "", "", "", "", "", "attachment", "", "", 1},
      // The first transfer encoding counts; comments and blanks go.
      {"Content-Transfer-Encoding: base64 (really)\r\nContent-Transfer-Encoding: quoted-printable\r\n", "", "", "",
       "", "base64", "", "", "", "", 0},
      {"Content-Transfer-Encoding:  (x) 8bit \r\n", "", "", "", "", "8bit", "", "", "", "", 0},
      // Content-ID: brackets removed as a pair; the last such field wins.
      {"Content-ID:  <part1@x> \r\n", "", "", "", "", "", "part1@x", "", "", "", 0},
      {"Content-ID: part1@x>\r\n", "", "", "", "", "", "part1@x>", "", "", "", 0},
      {"Content-ID: <open@x\r\n", "", "", "", "", "", "open@x", "", "", "", 0},
      {"Content-ID: <a@x>\r\nContent-Location: <http://x/y>\r\n", "", "", "", "", "", "http://x/y", "", "", "", 0},
      {"Content-Description:    the text  \r\n", "", "", "", "", "", "", "", "", "the text", 0},
      // Names in any case.
      {"content-type: TEXT/plain; CHARSET=koi8-r\r\n", "TEXT/plain", "", "koi8-r", "", "", "", "", "", "", 0},
      // Similar names are no content fields.
      {"Content-Types: text/plain\r\nContent-IDs: <q>\r\n", "", "", "", "", "", "", "", "", "", 0},
  };
  for (const Case& c : cases) {
    CRfc822BodyPart part;
    ASSERT_EQ(Fill(part, std::string(c.header) + "\r\nbody"), S_OK) << c.header;
    EXPECT_EQ(Str(part.GetContentMediaType()), c.mediaType) << c.header;
    EXPECT_EQ(Str(part.GetBoundary()), c.boundary) << c.header;
    EXPECT_EQ(Str(part.GetCharset()), c.charset) << c.header;
    EXPECT_EQ(Str(part.GetName()), c.name) << c.header;
    EXPECT_EQ(Str(part.GetContentTransferEncoding()), c.encoding) << c.header;
    EXPECT_EQ(Str(part.GetContentID()), c.id) << c.header;
    EXPECT_EQ(Str(part.GetContentDisposition()), c.disposition) << c.header;
    EXPECT_EQ(Str(part.GetAttachmentName()), c.attachmentName) << c.header;
    EXPECT_EQ(Str(part.GetContentDescription()), c.description) << c.header;
    EXPECT_EQ(part.IsAttachment(), c.attachment) << c.header;
    EXPECT_EQ(part.GetAnomalyFlags() & ANOMALY_NAME_COMMENT, 0u) << c.header;
  }
}

TEST(HeaderFill, EveryFieldGoesIntoTheCollectionAndTheRawTextGoes) {
  CRfc822BodyPart part;
  part.PutHeaders("Old: 1\r\n");
  part.GetFields(CRfc822Fields::ORDER_BY_NAME);  // built from the old text
  ASSERT_EQ(Fill(part,
                 "X-B: 1\r\nContent-Transfer-Encoding: 7bit\r\nContent-Transfer-Encoding: base64\r\n"
                 "X-A: folded\r\n  on\r\n\r\nX-Body: no\r\n"),
            S_OK);
  EXPECT_EQ(FieldNames(part),
            (std::vector<std::string>{"X-B", "Content-Transfer-Encoding", "Content-Transfer-Encoding", "X-A"}));
  EXPECT_EQ(Str(part.GetFields(CRfc822Fields::ORDER_INSERTION)[3].GetContents()), "folded on");
  // The header is kept as fields only; its text is composed on demand.
  EXPECT_EQ(std::string(part.GetHeaders()),
            "X-B: 1\r\nContent-Transfer-Encoding: 7bit\r\nContent-Transfer-Encoding: base64\r\nX-A: folded on\r\n");
}

TEST(HeaderFill, CommentInANameIsFlagged) {
  CRfc822BodyPart part;
  ASSERT_EQ(Fill(part, "Content-Type(odd): text/html\r\n\r\n"), S_OK);
  EXPECT_EQ(Str(part.GetContentMediaType()), "text/html");
  EXPECT_NE(part.GetAnomalyFlags() & ANOMALY_NAME_COMMENT, 0u);
}

TEST(HeaderFill, ReaderAnomaliesAreMerged) {
  CRfc822BodyPart part;
  part.PutAnomalyFlags(ANOMALY_HIDDEN_PART);
  ASSERT_EQ(Fill(part, "Subject: a\nnot a field line\nFrom: b\n\n"), S_OK);
  EXPECT_EQ(part.GetAnomalyFlags() & ANOMALY_MALFORMED_LINE, ANOMALY_MALFORMED_LINE);
  EXPECT_NE(part.GetAnomalyFlags() & ANOMALY_HIDDEN_PART, 0u);
}

TEST(HeaderFill, FilledHeadersAreLeftAlone) {
  for (tag_PARSE_SCOPE scope : {PARSE_SCOPE_HEADER_ONLY, PARSE_SCOPE_FULL}) {
    CRfc822Message m;
    m.PutParseScope(scope);
    m.PutHeaders("X: 1\r\n");
    EXPECT_EQ(Fill(m, "Subject: new\r\nContent-Type: text/plain\r\n\r\n"), S_OK);
    EXPECT_TRUE(m.Subject().IsEmpty());
    EXPECT_TRUE(m.GetContentMediaType().IsEmpty());
    EXPECT_STREQ(m.GetHeaders(), "X: 1\r\n");
    EXPECT_EQ(m.GetParseScope(), scope);
  }
}

TEST(HeaderFill, MessageData) {
  CRfc822Message m;
  ASSERT_EQ(Fill(m,
                 "Subject: A\r\n"
                 "From: Ann <ann@example.org>\r\n"
                 "To: b@example.org, Group: c@example.org, d@example.org;\r\n"
                 "Message-ID:   <id.1@example.org>  \r\n"
                 "Cc:\r\n"
                 "Priority: urgent\r\n"
                 "Subject: B\r\n"
                 "to: e@example.org\r\n"
                 "Reply-To: r@example.org\r\n"
                 "Bcc: x@example.org\r\n"
                 "Priority: low\r\n"
                 "Date: Tue, 1 Jul 2003 10:52:37 +0200\r\n"
                 "\r\n"),
            S_OK);
  EXPECT_EQ(Str(m.Subject()), "AB");  // joined, in header order
  EXPECT_EQ(Str(m.Priority()), "urgent");
  EXPECT_EQ(Str(m.MessageID()), "id.1@example.org");
  CRfc822Fields& fields = m.GetFields(CRfc822Fields::ORDER_KEEP);
  EXPECT_EQ(fields.GetOrder(), CRfc822Fields::ORDER_BY_NAME);
  EXPECT_EQ(Str(fields[fields.FindFirst("message-id")].GetContents()), "id.1@example.org");  // written back
  EXPECT_EQ(Addresses(m.From()), (std::vector<std::string>{"ann@example.org"}));
  EXPECT_EQ(Addresses(m.To()),
            (std::vector<std::string>{"b@example.org", "c@example.org", "d@example.org", "e@example.org"}));
  EXPECT_EQ(m.Cc().GetCount(), 0);
  EXPECT_EQ(Addresses(m.ReplyTo()), (std::vector<std::string>{"r@example.org"}));
  EXPECT_EQ(Addresses(m.Bcc()), (std::vector<std::string>{"x@example.org"}));
  const SYSTEMTIME& t = m.ReceivedTime();  // in UTC
  EXPECT_EQ(t.wYear, 2003);
  EXPECT_EQ(t.wMonth, 7);
  EXPECT_EQ(t.wDay, 1);
  EXPECT_EQ(t.wHour, 8);
  EXPECT_EQ(t.wMinute, 52);
  EXPECT_EQ(t.wSecond, 37);
  EXPECT_EQ(m.GetAnomalyFlags() & ANOMALY_BAD_DATE, 0u);

  // Filling again replaces the data rather than adding to it.
  m.PutParseScope(PARSE_SCOPE_STRUCTURE);
  ASSERT_EQ(Fill(m, "To: z@example.org\r\n\r\n"), S_OK);
  EXPECT_EQ(Addresses(m.To()), (std::vector<std::string>{"z@example.org"}));
  EXPECT_EQ(m.From().GetCount(), 0);
  EXPECT_TRUE(m.Subject().IsEmpty());
  SYSTEMTIME zero = {};
  EXPECT_EQ(memcmp(&m.ReceivedTime(), &zero, sizeof zero), 0);
}

TEST(HeaderFill, BadDateGivesTheCurrentTimeAndAFlag) {
  SYSTEMTIME before, after;
  GetSystemTime(&before);
  CRfc822Message m;
  ASSERT_EQ(Fill(m, "Date: yesterday, after lunch\r\nDate: Tue, 1 Jul 2003 10:52:37 +0200\r\n\r\n"), S_OK);
  GetSystemTime(&after);
  EXPECT_NE(m.GetAnomalyFlags() & ANOMALY_BAD_DATE, 0u);
  EXPECT_GE(Ticks(m.ReceivedTime()), Ticks(before));
  EXPECT_LE(Ticks(m.ReceivedTime()), Ticks(after));

  CRfc822Message none;
  ASSERT_EQ(Fill(none, "Subject: x\r\n\r\n"), S_OK);
  EXPECT_EQ(none.GetAnomalyFlags() & ANOMALY_BAD_DATE, 0u);
  EXPECT_EQ(none.ReceivedTime().wYear, 0);
}

TEST(HeaderFill, BodyPartsGetNoMessageData) {
  CRfc822BodyPart part;
  ASSERT_EQ(Fill(part, "Subject: x\r\nB: 1\r\nA: 2\r\n\r\n"), S_OK);
  EXPECT_EQ(part.GetFields(CRfc822Fields::ORDER_KEEP).GetOrder(), CRfc822Fields::ORDER_INSERTION);
}

TEST(HeaderFill, LongNameStopsTheFilling) {
  CRfc822Message m;
  std::string header = "Subject: kept\r\nContent-Type: text/plain\r\n" + std::string(1024, 'N') +
                       ": v\r\nTo: a@b\r\n\r\n";
  EXPECT_EQ(Fill(m, header), E_MIME_NAME_TOO_LONG);
  EXPECT_EQ(FieldNames(m), (std::vector<std::string>{"Subject", "Content-Type"}));
  EXPECT_EQ(Str(m.GetContentMediaType()), "text/plain");
  EXPECT_TRUE(m.Subject().IsEmpty());  // the message step did not run
  CRfc822Message ok;
  EXPECT_EQ(Fill(ok, std::string(1023, 'N') + ": v\r\n\r\n"), S_OK);
  EXPECT_EQ(ok.GetFields(CRfc822Fields::ORDER_KEEP).GetCount(), 1u);
}

TEST(HeaderFill, LengthLimitsTheBlock) {
  CRfc822BodyPart part;
  std::string header = "X-A: 1\r\nContent-Type: text/plain\r\n\r\n";
  ASSERT_EQ(Fill(part, header, 8), S_OK);
  EXPECT_EQ(FieldNames(part), (std::vector<std::string>{"X-A"}));
  EXPECT_TRUE(part.GetContentMediaType().IsEmpty());
}

TEST(HeaderFill, StreamFailuresAreReturned) {
  CRfc822Parser parser;
  CTestStream stream("Subject: a\r\nContent-Type: text/plain\r\n\r\n");
  stream.failure = E_ACCESSDENIED;
  stream.readsUntilFailure = 0;
  CRfc822Message m;
  EXPECT_EQ(parser.FillRfc822PartHeaderInfo(&stream, m, CStreamReader::NO_LIMIT), E_ACCESSDENIED);
  EXPECT_EQ(parser.FillRfc822PartHeaderInfo(nullptr, m, CStreamReader::NO_LIMIT), E_POINTER);
}

TEST(HeaderFill, ParseHeaderFromAFile) {
  TempDir dir;
  CRfc822Parser parser;
  CRfc822Message missing;
  missing.PutHeaders("X: 1\r\n");
  EXPECT_EQ(parser.ParseHeader((dir / "none.eml").c_str(), missing), ResultFromSystemError(ERROR_FILE_NOT_FOUND));
  EXPECT_STREQ(missing.GetHeaders(), "X: 1\r\n");
  EXPECT_EQ(missing.GetParseScope(), PARSE_SCOPE_STRUCTURE);

  WriteFileBytes(dir / "m.eml", "Subject: from a file\r\nContent-Type: text/plain\r\n\r\nSubject: body\r\n");
  struct {
    tag_PARSE_SCOPE before, after;
  } const scopes[] = {{PARSE_SCOPE_STRUCTURE, PARSE_SCOPE_HEADER_ONLY},
                      {PARSE_SCOPE_CONTENTS, PARSE_SCOPE_FULL},
                      {PARSE_SCOPE_HEADER_ONLY, PARSE_SCOPE_HEADER_ONLY},
                      {PARSE_SCOPE_FULL, PARSE_SCOPE_FULL}};
  for (const auto& s : scopes) {
    CRfc822Message m;
    m.PutParseScope(s.before);
    EXPECT_EQ(parser.ParseHeader((dir / "m.eml").c_str(), m), S_OK);
    EXPECT_EQ(m.GetParseScope(), s.after);
    bool filled = s.before == PARSE_SCOPE_STRUCTURE || s.before == PARSE_SCOPE_CONTENTS;
    EXPECT_EQ(Str(m.Subject()), filled ? "from a file" : "");
  }
  // A failing filling still raises the scope.
  WriteFileBytes(dir / "long.eml", std::string(2000, 'N') + ": v\r\n\r\n");
  CRfc822Message m;
  EXPECT_EQ(parser.ParseHeader((dir / "long.eml").c_str(), m), E_MIME_NAME_TOO_LONG);
  EXPECT_EQ(m.GetParseScope(), PARSE_SCOPE_HEADER_ONLY);
}

}  // namespace
