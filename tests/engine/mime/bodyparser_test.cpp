// The body parser: layout records of delimiter-split bodies and of the
// blocks hidden in text, worked out by hand from the delimiter and
// recognizer rules; the buffer form over an exact-size block and the stream
// form behind a prefix (absolute positions) give the same records; searches
// never run past their range.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/teststream.h"
#include "engine/mime/mimetestutil.h"
#include "mime/anomalyflags.h"
#include "mime/bodyparser.h"
#include "mime/mimeresults.h"

using namespace telsor;
using mime_test::ExactBytes;

namespace {

typedef std::vector<std::vector<DWORD>> Records;

Records Rows(const std::vector<tag_PART_LAYOUT>& records, DWORD base) {
  Records out;
  for (const tag_PART_LAYOUT& r : records) {
    out.push_back({r.begin - base, r.end - base, r.segmentType, r.hiddenKind, r.status, r.flags});
  }
  return out;
}

struct Case {
  const char* name;
  std::string text;
  ULONG bodyStart;
  const char* boundary;  // null: not split
  const char* mediaType;
  Records expected;
};

const DWORD EB = static_cast<DWORD>(E_MIME_NO_DELIMITER);
const DWORD EC = static_cast<DWORD>(E_MIME_NO_CLOSING_DELIMITER);

// Both forms; the stream form stands behind a prefix and reads in pieces.
Records Parse(const std::string& text, ULONG bodyStart, const char* boundary, const char* mediaType,
              Records* fromStream) {
  TSTRING b(boundary == nullptr ? "" : boundary), t(mediaType);
  ExactBytes bytes(text);
  CRfcBodyParser memory(bytes.data(), bytes.size(), bodyStart, b, boundary != nullptr, t);
  memory.Parse();
  const std::string prefix = "prefix bytes not in the part\r\n";
  CTestStream stream(prefix + text + "\r\n--after the part\r\nTo: x\r\n");
  stream.pos = prefix.size();
  stream.maxChunk = 5;
  CRfcBodyParser onStream(&stream, static_cast<ULONG>(text.size()), bodyStart, b, boundary != nullptr, t);
  onStream.Parse();
  *fromStream = Rows(onStream.GetRecords(), static_cast<DWORD>(prefix.size()));
  return Rows(memory.GetRecords(), 0);
}

// A uuencoded file of the bytes "hi".
const std::string kUu = "begin 644 a.txt\r\n\":&D`\r\n`\r\nend\r\n";

DWORD P(const std::string& text, const std::string& what, size_t from = 0) {
  return static_cast<DWORD>(text.find(what, from));
}

TEST(BodyParser, RecordsOfTheTable) {
  const std::string closingAtEnd = "--b\r\na\r\n--b--";
  const std::string lflf = "--b\na\n\n--b--\n";
  const std::string twoInARow = "--b\r\n--b\r\nz\r\n--b--\r\n";
  const std::string openAtEnd = "--b\r\nq\r\n--b\r\n";
  const std::string full = "intro\r\n--b\r\nz\r\n--b--\r\nafter";
  const std::string toLine = "Subject: s\r\n\r\nhello\r\nTo: x\r\n";
  const std::string withBoundary =
      "hi\r\nFrom: a\r\nContent-Type: multipart/mixed; boundary=zz\r\n\r\n--zz\r\n\r\nx\r\n--zz--\r\ntrailing\r\n";
  const std::string dotLine = "hi\r\nFrom: a\r\n\r\nbody\r\n.\r\nafter\r\n";
  const std::string badThenGood = "begin\r\nnothing here\r\n" + kUu + "tail\r\n";
  const std::string mailWithUu = "note\r\nFrom: a\r\n\r\n" + kUu;
  const std::string modeLater = "begin x\r\n\":&D`\r\nbegin 644 y\r\n\":&D`\r\n";
  const std::string twoMails = "From: a\r\n\r\nx\r\nSubject: b\r\n\r\ny\r\n";
  // Header names inside lines, at line starts without a colon, in lower
  // case, after bare CRs, and cut by the end of the data.
  const std::string midLine = "see From: here and xTo: there\r\nsubject: lower case works\r\n";
  const std::string noColon = "Content-Type is missing\r\nReturn-Path  : <a@b>\r\n";
  const std::string bareCr = "x\rFrom: a\r";
  const std::string cutName = "abc\r\nReceived";
  const std::string nameAtEnd = "abc\r\n\r\nBcc:";
  const std::vector<Case> cases = {
      {"closing delimiter ends the data", closingAtEnd, 0, "b", "multipart/mixed", {{5, 6, 1, 0, 0, 0}}},
      {"LF LF before a delimiter", lflf, 0, "b", "multipart/mixed", {{4, 5, 1, 0, 0, 0}}},
      {"letter before", "x--b\r\nz\r\n", 0, "b", "multipart/mixed", {{0, 9, 2, 0, EB, 0x200}}},
      {"letter after", "--bx\r\nz\r\n", 0, "b", "multipart/mixed", {{0, 9, 2, 0, EB, 0x200}}},
      {"dashes and a letter after", "--b--x\r\n", 0, "b", "multipart/mixed", {{0, 8, 2, 0, EB, 0x200}}},
      {"two delimiters in a row", twoInARow, 0, "b", "multipart/mixed", {{10, 11, 1, 0, 0, 0}}},
      {"open delimiter at the end", openAtEnd, 0, "b", "multipart/mixed",
       {{5, 6, 1, 0, 0, 0}, {13, 13, 1, 0, EC, 0x200}}},
      {"preamble, part, epilogue", full, 0, "b", "multipart/mixed",
       {{0, 5, 0, 0, 0, 0}, {12, 13, 1, 0, 0, 0}, {22, 27, 3, 0, 0, 0}}},
      {"no delimiter, mail hidden", "x\r\nTo: y\r\n", 0, "b", "multipart/mixed",
       {{0, 10, 2, 0, EB, 0x200}, {0, 3, 2, 0, 0, 0x200}, {3, 10, 2, 3, 0, 0x20}}},
      {"a To: line in text", toLine, 14, nullptr, "text/plain",
       {{0, P(toLine, "To:"), 2, 0, 0, 0}, {P(toLine, "To:"), static_cast<DWORD>(toLine.size()), 2, 3, 0, 0x20}}},
      {"own header block is no pasted mail", "To: a\r\n\r\nbody\r\n", 7, nullptr, "text/plain", {}},
      {"pasted mail with a boundary", withBoundary, 0, nullptr, "text/plain",
       {{0, 4, 2, 0, 0, 0},
        {4, P(withBoundary, "--zz--") + 6, 2, 3, 0, 0x20},
        {P(withBoundary, "--zz--") + 6, static_cast<DWORD>(withBoundary.size()), 2, 0, 0, 0}}},
      {"pasted mail up to a dot line", dotLine, 0, nullptr, "",
       {{0, 4, 2, 0, 0, 0},
        {4, P(dotLine, "after"), 2, 3, 0, 0x20},
        {P(dotLine, "after"), static_cast<DWORD>(dotLine.size()), 2, 0, 0, 0}}},
      {"two pasted mails", twoMails, 0, nullptr, "text/plain",
       {{0, P(twoMails, "Subject"), 2, 3, 0, 0x20},
        {P(twoMails, "Subject"), static_cast<DWORD>(twoMails.size()), 2, 3, 0, 0x20}}},
      {"no mail in HTML", dotLine, 0, nullptr, "TEXT/HTML", {}},
      {"names inside lines are passed", midLine, 0, nullptr, "text/plain",
       {{0, P(midLine, "subject"), 2, 0, 0, 0},
        {P(midLine, "subject"), static_cast<DWORD>(midLine.size()), 2, 3, 0, 0x20}}},
      {"a name without its colon is passed", noColon, 0, nullptr, "text/plain",
       {{0, P(noColon, "Return"), 2, 0, 0, 0},
        {P(noColon, "Return"), static_cast<DWORD>(noColon.size()), 2, 3, 0, 0x20}}},
      {"a bare CR starts a line", bareCr, 0, nullptr, "text/plain",
       {{0, 2, 2, 0, 0, 0}, {2, static_cast<DWORD>(bareCr.size()), 2, 3, 0, 0x20}}},
      {"a name cut by the end", cutName, 0, nullptr, "text/plain", {}},
      {"a name at the end", nameAtEnd, 0, nullptr, "text/plain",
       {{0, 7, 2, 0, 0, 0}, {7, static_cast<DWORD>(nameAtEnd.size()), 2, 3, 0, 0x20}}},
      {"uuencode in HTML", "<p>\r\n" + kUu, 0, nullptr, "text/html",
       {{0, 5, 2, 0, 0, 0}, {5, 5 + static_cast<DWORD>(kUu.size()), 2, 6, 0, 0x20}}},
      {"a bad begin line does not stop the search", badThenGood, 0, nullptr, "text/plain",
       {{0, P(badThenGood, "begin 644"), 2, 0, 0, 0},
        {P(badThenGood, "begin 644"), P(badThenGood, "tail"), 2, 6, 0, 0x20},
        {P(badThenGood, "tail"), static_cast<DWORD>(badThenGood.size()), 2, 0, 0, 0}}},
      {"begin inside a line", "xbegin 644 a\r\n\":&D`\r\nend\r\n", 0, nullptr, "text/plain", {}},
      {"a pasted mail holding uuencode", mailWithUu, 0, nullptr, "text/plain",
       {{0, 6, 2, 0, 0, 0}, {6, static_cast<DWORD>(mailWithUu.size()), 2, 3, 0, 0x20}}},
      {"nothing hidden", "plain words only\r\n", 0, nullptr, "text/plain", {}},
      // A begin line without a mode and without an end line is no block,
      // but a later one with a mode above a good line is.
      {"a mode on a later begin line", modeLater, 0, nullptr, "text/plain",
       {{0, P(modeLater, "begin 644"), 2, 0, 0, 0},
        {P(modeLater, "begin 644"), static_cast<DWORD>(modeLater.size()), 2, 6, 0, 0x20}}},
      {"a mode but no good line below it", "begin x\r\n\":&D`\r\nbegin 644 y\r\n", 0, nullptr, "text/plain", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Records stream;
    Records memory = Parse(c.text, c.bodyStart, c.boundary, c.mediaType, &stream);
    EXPECT_EQ(c.expected, memory);
    EXPECT_EQ(memory, stream);
  }
}

TEST(BodyParser, HiddenBinHexAndUuencodeInOrder) {
  const std::string text = "a\r\n" + kUu + "b\r\n" + kUu + "c";
  Records stream;
  Records memory = Parse(text, 0, nullptr, "text/plain", &stream);
  ASSERT_EQ(5u, memory.size());
  EXPECT_EQ(6u, memory[1][3]);
  EXPECT_EQ(6u, memory[3][3]);
  EXPECT_EQ(memory, stream);
}

struct Probe {
  CTestStream stream;
  TSTRING boundary, media;
  ExactBytes bytes;
  CRfcBodyParser memory;
  explicit Probe(const std::string& text)
      : stream(text), boundary(""), media("text/plain"), bytes(text),
        memory(bytes.data(), bytes.size(), 0, boundary, 0, media) {}
};

TEST(BodyParser, SearchesStayInTheirRange) {
  const std::string text = "x\r\nTo: someone\r\nmore\r\n" + kUu;
  Probe p(text);
  CRfcBodyParser stream(&p.stream, static_cast<ULONG>(text.size()), 0, p.boundary, 0, p.media);
  for (CRfcBodyParser* parser : {&p.memory, &stream}) {
    unsigned int b = 7, e = 7;
    // An empty range finds nothing, whatever follows it.
    EXPECT_EQ(0, parser->FindUUencode(P(text, "begin"), 0, b, e));
    EXPECT_EQ(0, parser->FindMailMsg(3, 0, b, e));
    EXPECT_EQ(0, parser->FindBinHex40(0, 0, b, e));
    // A start at or past the end finds nothing.
    EXPECT_EQ(0, parser->FindMailMsg(static_cast<unsigned int>(text.size()), 100, b, e));
    EXPECT_EQ(0, parser->FindUUencode(static_cast<unsigned int>(text.size()) + 9, 100, b, e));
    // A limit that cuts the header name: no match.
    EXPECT_EQ(0, parser->FindMailMsg(0, 5, b, e));
    // A pasted mail ends at the limit.
    ASSERT_EQ(1, parser->FindMailMsg(0, 12, b, e));
    EXPECT_EQ(3u, b);
    EXPECT_EQ(12u, e);
    // A uuencoded block cut before its data lines is not one.
    EXPECT_EQ(0, parser->FindUUencode(P(text, "begin"), 18, b, e));
    ASSERT_EQ(1, parser->FindUUencode(0, static_cast<unsigned int>(text.size()), b, e));
    EXPECT_EQ(P(text, "begin"), b);
    EXPECT_EQ(text.size(), e);
  }
}

TEST(BodyParser, DelimiterSearch) {
  const std::string text = "a--b\r\n--b \t\r\nx\r\n--b-- \r";
  TSTRING boundary("b"), media("multipart/mixed");
  ExactBytes bytes(text);
  CRfcBodyParser parser(bytes.data(), bytes.size(), 0, boundary, 1, media);
  unsigned int b, e;
  int closing = 5;
  ASSERT_EQ(1, parser.FindBoundary(0, b, e, closing));  // "a--b" is none
  EXPECT_EQ(4u, b);                                      // takes CR LF before it
  EXPECT_EQ(P(text, "x"), e);                            // blanks, then CR LF
  EXPECT_EQ(0, closing);
  ASSERT_EQ(1, parser.FindBoundary(e, b, e, closing));
  EXPECT_EQ(1, closing);
  EXPECT_EQ(text.size(), e);  // a lone CR at the end ends the line
  EXPECT_EQ(0, parser.FindBoundary(e, b, e, closing));
  EXPECT_EQ(text.size(), b);
}

TEST(BodyParser, EquivalentLineEndsWithoutAnAnalysis) {
  TSTRING boundary(""), media("");
  CRfcBodyParser parser(reinterpret_cast<const unsigned char*>("x"), 1, 0, boundary, 0, media);
  EXPECT_EQ(0u, parser.CountEquivalentEOL(""));
  EXPECT_EQ(0u, parser.CountEquivalentEOL("x\r\n"));
  EXPECT_EQ(2u, parser.CountEquivalentEOL("\r\n\r\n"));
  EXPECT_EQ(1u, parser.CountEquivalentEOL("\n\n"));
  EXPECT_EQ(2u, parser.CountEquivalentEOL("\n\r\n\r"));  // half its length
  CSetEOLSequence eol;
  ASSERT_EQ(S_OK, eol.Analyze(reinterpret_cast<const unsigned char*>("a\n\nb\n"), 5));
  parser.SetEOLSequence(&eol, 1);
  EXPECT_EQ(2u, parser.CountEquivalentEOL("\n\n"));
}

TEST(BodyParser, FailuresAreThrown) {
  TSTRING longBoundary(std::string(70000, 'x').c_str()), media("multipart/mixed");
  ExactBytes bytes("--x\r\n");
  DWORD code = 0;
  try {
    CRfcBodyParser parser(bytes.data(), bytes.size(), 0, longBoundary, 1, media);
  } catch (DWORD c) {
    code = c;
  }
  EXPECT_EQ(static_cast<DWORD>(E_MIME_DELIMITER_TOO_LONG), code);

  const std::string text = "x\r\nTo: y\r\n" + kUu;
  CTestStream stream(text);
  TSTRING boundary(""), plain("text/plain");
  CRfcBodyParser parser(&stream, static_cast<ULONG>(text.size()), 0, boundary, 0, plain);
  stream.seeksUntilFailure = 2;
  stream.failure = E_ACCESSDENIED;
  code = 0;
  try {
    parser.Parse();
  } catch (DWORD c) {
    code = c;
  }
  EXPECT_EQ(static_cast<DWORD>(E_ACCESSDENIED), code);
}

TEST(BodyParser, NullDataGivesNoRecords) {
  TSTRING boundary("b"), media("multipart/mixed");
  CRfcBodyParser parser(static_cast<const unsigned char*>(nullptr), 10, 0, boundary, 1, media);
  EXPECT_TRUE(parser.IsDataNull());
  parser.Parse();
  EXPECT_TRUE(parser.GetRecords().empty());
}

TEST(BodyParser, EmbeddedHeaderBlock) {
  const std::string text =
      "From: a\r\nContent-Type: multipart/mixed;\r\n\tboundary=\"q q\"\r\n\r\n\r\nBody line\r\n";
  CStreamReader reader(reinterpret_cast<const unsigned char*>(text.data()), static_cast<ULONG>(text.size()));
  TSTRING boundary("old");
  int has = 7;
  DWORD end = CRfcBodyParser::GetEmbeddedBoundary(reader, boundary, has);
  EXPECT_EQ(1, has);
  EXPECT_EQ("q q", mime_test::Str(boundary));
  EXPECT_EQ(P(text, "Body") + 1, end);  // one character into the body line
}

}  // namespace
