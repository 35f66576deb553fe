// The header-field scanner: fields, offsets and anomaly flags of header
// blocks, the same in the memory form and the stream form (also when the
// stream hands out one byte per read and the block does not start at
// position 0); the boundary watch; the end of a block.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/teststream.h"
#include "mime/anomalyflags.h"
#include "mime/eolanalysis.h"
#include "mime/headerscanner.h"
#include "mimetestutil.h"

using namespace telsor;
using mime_test::ExactBytes;
using mime_test::Show;
using mime_test::Str;

namespace {

struct ScannedField {
  std::string name, value;  // raw bytes of the ranges
  DWORD nameStart, valueStart, end;
  bool operator==(const ScannedField& o) const {
    return name == o.name && value == o.value && nameStart == o.nameStart && valueStart == o.valueStart &&
           end == o.end;
  }
};

struct Scan {
  std::vector<ScannedField> fields;
  DWORD blockEnd = 0;  // the position returned with no field
  DWORD flags = 0;
};

struct Options {
  const CSetEOLSequence* eol = nullptr;
  std::string boundary;
  size_t boundaryAfterField = 0;  // SetBoundary before reading this field
};

// Reads the whole block; positions are made relative to base.
Scan ReadBlock(CRfc822HeadersParser& scanner, DWORD base, const Options& options) {
  Scan scan;
  if (options.eol) scanner.SetEOLSequence(options.eol, 0);
  for (int guard = 0; guard < 1000; ++guard) {
    if (!options.boundary.empty() && scan.fields.size() == options.boundaryAfterField)
      scanner.SetBoundary(TSTRING(options.boundary.data(), static_cast<int>(options.boundary.size())));
    ULONG ns, nl, vs, vl;
    DWORD end = scanner.NextField(ns, nl, vs, vl);
    if (nl == 0) {
      EXPECT_EQ(ns + vs + vl, 0u);
      scan.blockEnd = end - base;
      break;
    }
    TSTRING name, value;
    EXPECT_EQ(scanner.ReadData(ns, ns + nl, name), S_OK);
    EXPECT_EQ(scanner.ReadData(vs, vs + vl, value), S_OK);
    scan.fields.push_back(ScannedField{Str(name), Str(value), ns - base, vs - base, end - base});
  }
  scan.flags = scanner.GetAnomalyFlags();
  return scan;
}

Scan ScanMemory(const std::string& text, const Options& options = Options()) {
  ExactBytes bytes(text);
  CRfc822HeadersParser scanner(bytes.data(), bytes.size());
  return ReadBlock(scanner, 0, options);
}

// The same bytes behind a prefix of junk, read one byte per Read call.
Scan ScanStream(const std::string& text, const Options& options = Options()) {
  const std::string junk = "junk before the block\r\n\r\n";
  CTestStream stream(junk + text);
  stream.pos = junk.size();
  stream.maxChunk = 1;
  CRfc822HeadersParser scanner(&stream, CStreamReader::NO_LIMIT);
  return ReadBlock(scanner, static_cast<DWORD>(junk.size()), options);
}

// Both forms, which must agree.
Scan ScanBoth(const std::string& text, const Options& options = Options()) {
  Scan mem = ScanMemory(text, options);
  Scan str = ScanStream(text, options);
  EXPECT_EQ(mem.fields.size(), str.fields.size()) << Show(text);
  EXPECT_TRUE(mem.fields == str.fields) << Show(text);
  EXPECT_EQ(mem.blockEnd, str.blockEnd) << Show(text);
  EXPECT_EQ(mem.flags, str.flags) << Show(text);
  return mem;
}

DWORD At(const std::string& text, const std::string& piece) { return static_cast<DWORD>(text.find(piece)); }

TEST(HeaderScanner, FoldedBareLfMalformedAndCommentedName) {
  const std::string text =
      "From: a@b\r\n"
      "Subject: one\r\n two\r\n"
      "To: c@d\n"
      "this line is malformed\r\n"
      "(note)Subject: x\r\n"
      "X-Tag: y\r\n"
      "\r\n"
      "body\r\n";
  Scan scan = ScanBoth(text);
  ASSERT_EQ(scan.fields.size(), 4u);
  EXPECT_EQ(scan.fields[0], (ScannedField{"From", "a@b\r\n", 0, 6, At(text, "Subject")}));
  EXPECT_EQ(scan.fields[1],
            (ScannedField{"Subject", "one\r\n two\r\n", At(text, "Subject"), At(text, "one"), At(text, "To:")}));
  // The bare LF ends the value; the next line starts a new attempt.
  EXPECT_EQ(scan.fields[2], (ScannedField{"To", "c@d\n", At(text, "To:"), At(text, "c@d"), At(text, "this")}));
  // The malformed line is skipped within the same call; the comment stays in
  // the name range, and the name is accepted because Subject is known.
  EXPECT_EQ(scan.fields[3], (ScannedField{"(note)Subject", "x\r\n", At(text, "(note)"), At(text, "x\r\n"),
                                          At(text, "X-Tag")}));
  // After a malformed line an unknown name is no field: the block ends
  // before it, and the skipped lines belong to the body.
  EXPECT_EQ(scan.blockEnd, At(text, "X-Tag"));
  EXPECT_EQ(scan.flags, ANOMALY_BAD_EOL | ANOMALY_MALFORMED_LINE | ANOMALY_NAME_COMMENT);
}

TEST(HeaderScanner, ExtensionFieldBeforeAnyMalformedLineIsAccepted) {
  const std::string text = "X-Tag: y\r\nSubject: s\r\n\r\nbody";
  Scan scan = ScanBoth(text);
  ASSERT_EQ(scan.fields.size(), 2u);
  EXPECT_EQ(scan.fields[0].name, "X-Tag");
  EXPECT_EQ(scan.blockEnd, At(text, "body"));
  EXPECT_EQ(scan.flags, 0u);
}

TEST(HeaderScanner, MalformedLineThenKnownAndUnknownNames) {
  const std::string text =
      "From: a\r\nno colon here\r\nSubject: s\r\nX-Mailer: m\r\nTo: t\r\n\r\nbody";
  Scan scan = ScanBoth(text);
  // The Subject field comes back from the call that skipped the bad line;
  // X-Mailer is skipped from then on, To is still accepted.
  ASSERT_EQ(scan.fields.size(), 3u);
  EXPECT_EQ(scan.fields[0].end, At(text, "no colon"));
  EXPECT_EQ(scan.fields[1].name, "Subject");
  EXPECT_EQ(scan.fields[1].end, At(text, "X-Mailer"));
  EXPECT_EQ(scan.fields[2].name, "To");
  EXPECT_EQ(scan.blockEnd, At(text, "body"));
  EXPECT_EQ(scan.flags, ANOMALY_MALFORMED_LINE);
}

TEST(HeaderScanner, NameFlagsTable) {
  struct {
    std::string text;
    size_t fields;
    DWORD flags;
  } rows[] = {
      {"Subject: a\r\n\r\n", 1, 0},
      {" leading space: a\r\nSubject: b\r\n\r\n", 1, ANOMALY_MALFORMED_LINE},
      {"\tleading tab\r\nSubject: b\r\n\r\n", 1, ANOMALY_MALFORMED_LINE},
      {";semi: a\r\nTo: b\r\n\r\n", 1, ANOMALY_MALFORMED_LINE},
      {std::string(1, '\0') + "nul: a\r\nTo: b\r\n\r\n", 1, ANOMALY_MALFORMED_LINE},
      {"X.Dot: a\r\nTo: b\r\n\r\n", 1, ANOMALY_MALFORMED_LINE},
      {"X'Q: a\r\nTo: b\r\n\r\n", 1, ANOMALY_MALFORMED_LINE},
      // A parenthesis inside a name: 0x18, the name is then checked.
      {"Subject(c): a\r\n\r\n", 1, ANOMALY_NAME_PARENTHESIS | ANOMALY_MALFORMED_LINE},
      {"X-A(c): a\r\n\r\n", 0, ANOMALY_NAME_PARENTHESIS | ANOMALY_MALFORMED_LINE},
      // A colon inside a comment belongs to the name.
      {"(a:b)To: x\r\n\r\n", 1, ANOMALY_NAME_COMMENT | ANOMALY_MALFORMED_LINE},
      // An escaped colon too; a backslash is malformed.
      {"To\\:x: y\r\n\r\n", 0, ANOMALY_MALFORMED_LINE},
      // White space between name and colon is allowed.
      {"Subject : a\r\n\r\n", 1, 0},
      {"Sub ject: a\r\nTo: b\r\n\r\n", 1, ANOMALY_MALFORMED_LINE},
      // A name that runs into the line end.
      {"Subject\r\nTo: b\r\n\r\n", 1, ANOMALY_MALFORMED_LINE},
  };
  for (const auto& row : rows) {
    Scan scan = ScanBoth(row.text);
    EXPECT_EQ(scan.fields.size(), row.fields) << Show(row.text);
    EXPECT_EQ(scan.flags, row.flags) << Show(row.text);
  }
}

TEST(HeaderScanner, FoldingAndBlockEnds) {
  struct {
    std::string text;
    std::vector<std::string> values;
    std::string blockEndsAt;  // text at the block's end ("" = end of data)
    DWORD flags;
  } rows[] = {
      {"Subject: a\r\n b\r\nTo: c\r\n\r\nbody", {"a\r\n b\r\n", "c\r"}, "body", 0},
      {"Subject: a\r\n\tb\r\n\r\nbody", {"a\r\n\tb\r"}, "body", 0},
      // A line of one space continues the value; a line of one tab ends the
      // field, and the next call ends the block at the line end after it.
      {"Subject: a\r\n \r\n b\r\n\r\nbody", {"a\r\n \r\n b\r"}, "body", 0},
      {"Subject: a\r\n\t\r\nTo: b\r\n\r\n", {"a\r\n\t"}, "To: b", 0},
      // No empty line and no boundary: the last value runs to the end.
      {"Subject: a\r\nTo: b", {"a\r\n", "b"}, "", 0},
      {"Subject: a\r\nTo:", {"a\r\n", ""}, "", 0},
      // Headers ending with a lone LF on a CR LF message.
      {"Subject: a\r\nTo: b\n\r\nbody", {"a\r\n", "b\n\r\n"}, "body", ANOMALY_BAD_EOL | ANOMALY_MALFORMED_LINE},
      // A lone CR ending a line.
      {"Subject: a\rTo: b\r\n\r\nbody", {"a\r", "b\r"}, "body", ANOMALY_BAD_EOL},
      // Bare LF line ends: the empty line after the last field is LF LF.
      {"From: a\nTo: b\n\nbody", {"a\n", "b\n"}, "body", ANOMALY_BAD_EOL | ANOMALY_MALFORMED_LINE},
      // No header block at all.
      {"\r\nbody", {}, "body", 0},
      {"\nbody", {}, "body", 0},
      {"", {}, "", 0},
  };
  for (const auto& row : rows) {
    Scan scan = ScanBoth(row.text);
    ASSERT_EQ(scan.fields.size(), row.values.size()) << Show(row.text);
    for (size_t i = 0; i < row.values.size(); ++i) EXPECT_EQ(scan.fields[i].value, row.values[i]) << Show(row.text);
    DWORD expectedEnd = row.blockEndsAt.empty() ? static_cast<DWORD>(row.text.size()) : At(row.text, row.blockEndsAt);
    EXPECT_EQ(scan.blockEnd, expectedEnd) << Show(row.text);
    EXPECT_EQ(scan.flags, row.flags) << Show(row.text);
  }
}

TEST(HeaderScanner, MalformedLinesBeforeAnEmptyLineBelongToTheBody) {
  const std::string text = "From: a\r\nbroken line\r\nanother one\r\n\r\nbody";
  Scan scan = ScanBoth(text);
  ASSERT_EQ(scan.fields.size(), 1u);
  EXPECT_EQ(scan.blockEnd, At(text, "broken"));
}

TEST(HeaderScanner, LfMessageEndsAtItsEmptyLineWithAndWithoutAnalysis) {
  // The body's first line looks like a field: it must not be read as one.
  const std::string text = "From: a\nTo: b\n\nNote: body line\n";
  CSetEOLSequence eol;
  ExactBytes bytes(text);
  ASSERT_EQ(eol.Analyze(bytes.data(), bytes.size()), S_OK);
  Options withAnalysis;
  withAnalysis.eol = &eol;
  for (const Options& options : {Options(), withAnalysis}) {
    Scan scan = ScanBoth(text, options);
    ASSERT_EQ(scan.fields.size(), 2u);
    EXPECT_EQ(scan.fields[1].name, "To");
    EXPECT_EQ(scan.blockEnd, At(text, "Note"));
  }
}

TEST(HeaderScanner, AnalysisDecidesWhatARunMeans) {
  // In a message whose line ends are lone CRs, CR CR is an empty line only
  // by the analysis.
  const std::string text = "From: a\rTo: b\r\rSubject: body\r";
  Scan plain = ScanBoth(text);
  CSetEOLSequence eol;
  ExactBytes bytes(text);
  ASSERT_EQ(eol.Analyze(bytes.data(), bytes.size()), S_OK);
  Options options;
  options.eol = &eol;
  Scan analysed = ScanBoth(text, options);
  ASSERT_EQ(analysed.fields.size(), 2u);
  EXPECT_EQ(analysed.blockEnd, At(text, "Subject"));
  // Without it CR CR counts 1 and the body line is read as a field.
  EXPECT_EQ(plain.fields.size(), 3u);
}

TEST(HeaderScanner, BoundaryInsideAHeaderLineEndsTheBlock) {
  const std::string text = "Content-Type: multipart/mixed; boundary=XYZ\r\nSubject: hi --XYZ\r\nTo: t\r\n\r\n";
  Options options;
  options.boundary = "XYZ";
  options.boundaryAfterField = 1;
  Scan scan = ScanBoth(text, options);
  ASSERT_EQ(scan.fields.size(), 2u);
  DWORD cut = At(text, "XYZ\r\nTo") - 2;
  // The field's name ends before the cut: it stays, its value shortened by
  // the boundary's length.
  EXPECT_EQ(scan.fields[1].name, "Subject");
  EXPECT_EQ(scan.fields[1].value, "hi -");
  EXPECT_EQ(scan.fields[1].end, cut);
  EXPECT_EQ(scan.blockEnd, cut);  // every later call returns at once
  EXPECT_EQ(scan.flags, ANOMALY_BOUNDARY_IN_HEADER);
}

TEST(HeaderScanner, BoundaryInsideANameDropsTheField) {
  const std::string text = "From: a\r\nSubjXYZect: b\r\n\r\n";
  Options options;
  options.boundary = "XYZ";
  Scan scan = ScanBoth(text, options);
  ASSERT_EQ(scan.fields.size(), 1u);
  EXPECT_EQ(scan.blockEnd, At(text, "XYZ") - 2);
  EXPECT_EQ(scan.flags, ANOMALY_BOUNDARY_IN_HEADER);
}

TEST(HeaderScanner, BoundaryIsNotMatchedAcrossLines) {
  const std::string text = "Subject: a XY\r\n Z b\r\nTo: XY\r\nZ: c\r\n\r\n";
  Options options;
  options.boundary = "XYZ";
  Scan scan = ScanBoth(text, options);
  EXPECT_EQ(scan.fields.size(), 3u);
  EXPECT_EQ(scan.flags, 0u);
}

// The boundary matcher finds the boundary wherever it stands in a line,
// including overlapping starts, exactly where a plain search does.
TEST(HeaderScanner, BoundaryMatcherAgreesWithASearch) {
  std::mt19937 rng(5);
  const char* boundaries[] = {"aab", "abab", "aaaa", "abcab", "a", "ba"};
  for (const char* boundary : boundaries) {
    for (int trial = 0; trial < 300; ++trial) {
      std::string line;
      size_t n = rng() % 14;
      for (size_t i = 0; i < n; ++i) line += "abc"[rng() % 3];
      std::string text = "Subject: " + line + "\r\n\r\n";
      Options options;
      options.boundary = boundary;
      Scan scan = ScanMemory(text, options);
      bool expected = line.find(boundary) != std::string::npos;
      EXPECT_EQ((scan.flags & ANOMALY_BOUNDARY_IN_HEADER) != 0, expected) << boundary << " in " << line;
      if (expected) {
        DWORD p = static_cast<DWORD>(9 + line.find(boundary));
        EXPECT_EQ(scan.blockEnd, p > 1 ? p - 2 : 0) << boundary << " in " << line;
      }
    }
  }
}

// Long names and values are passed in bulk: the stream form's 4,096-byte
// windows end inside them, and the boundary watch still sees every byte,
// also where the boundary straddles a window's end.
TEST(HeaderScanner, BoundaryFoundAcrossTheStreamWindowSeam) {
  for (size_t before : {4070u, 4080u, 4088u, 4091u, 4094u, 4095u, 4096u, 4100u}) {
    const std::string head = "Subject: ";
    const std::string filler(before - head.size(), 'v');
    const std::string text = head + filler + "--XYZ tail\r\nTo: t\r\n\r\n";
    Options options;
    options.boundary = "XYZ";
    Scan scan = ScanBoth(text, options);
    ASSERT_EQ(scan.fields.size(), 1u) << before;
    const DWORD cut = At(text, "XYZ") - 2;
    EXPECT_EQ(scan.blockEnd, cut) << before;
    EXPECT_EQ(scan.fields[0].end, cut) << before;
    // The value ends before the cut, shortened by the boundary's length.
    EXPECT_EQ(scan.fields[0].value, filler + "-") << before;
    EXPECT_EQ(scan.flags, ANOMALY_BOUNDARY_IN_HEADER) << before;
  }
}

TEST(HeaderScanner, LongNamesAndFoldedValuesAcrossTheSeam) {
  const std::string longName(4200, 'N');
  const std::string folded = "Received: " + std::string(3000, 'r') + "\r\n\t" + std::string(3000, 's') + "\r\n";
  const std::string text = folded + longName + ": x\r\nbad line\r\n" + longName + ": y\r\n" +
                           "Sub(c)ject: z\r\nTo: t\r\n\r\nbody";
  Scan scan = ScanBoth(text);
  // After the malformed line only known names are fields: the long one is
  // not, the commented "Subject" is.
  ASSERT_EQ(scan.fields.size(), 4u);
  EXPECT_EQ(scan.fields[0].name, "Received");
  EXPECT_EQ(scan.fields[0].value, folded.substr(10));
  EXPECT_EQ(scan.fields[1].name, longName);
  EXPECT_EQ(scan.fields[1].value, "x\r\n");
  EXPECT_EQ(scan.fields[2].name, "Sub(c)ject");
  EXPECT_EQ(scan.fields[2].valueStart, At(text, "z\r\nTo"));
  EXPECT_EQ(scan.fields[3].name, "To");
  EXPECT_EQ(scan.blockEnd, At(text, "body"));
  EXPECT_EQ(scan.flags, ANOMALY_MALFORMED_LINE | ANOMALY_NAME_COMMENT | ANOMALY_NAME_PARENTHESIS);
}

// CFieldName gives the name as ReadData and RemoveComments would, whether
// it is short and copied in place or read into a string.
TEST(HeaderScanner, FieldNameTable) {
  struct {
    std::string name, text;
    bool hadComment;
  } rows[] = {
      {"Subject", "Subject", false},
      {"Sub(c)ject", "Subject", true},
      {std::string(63, 'a'), std::string(63, 'a'), false},
      {std::string(64, 'b'), std::string(64, 'b'), false},
      {std::string("Na\0me", 5), std::string("Na\0me", 5), false},
  };
  for (const auto& row : rows) {
    const std::string text = row.name + ": v\r\n\r\n";
    ExactBytes bytes(text);
    CRfc822HeadersParser scanner(bytes.data(), bytes.size());
    CFieldName name(scanner, 0, static_cast<ULONG>(row.name.size()));
    EXPECT_EQ(std::string(name.c_str(), static_cast<size_t>(name.GetLength())), row.text) << Show(row.name);
    EXPECT_EQ(name.HadComment(), row.hadComment) << Show(row.name);
  }
}

TEST(HeaderScanner, ReadEndOfHeadersTable) {
  struct {
    std::string run;  // followed by "X"
    size_t eaten;
  } rows[] = {
      {"\r\n\r\n", 4}, {"\n\n", 2},   {"\r\n\n", 3}, {"\r\r\r\n", 4}, {"\r\r\r", 3},
      {"\r\n", 2},     {"\n", 1},     {"\r", 1},     {"\n\r\n", 3},   {"\r\n\r\n\r\n", 4},
  };
  for (const auto& row : rows) {
    std::string text = row.run + "X";
    ExactBytes bytes(text);
    CRfc822HeadersParser scanner(bytes.data(), bytes.size());
    scanner.ReadEndOfHeaders();
    EXPECT_EQ(scanner.GetPos(), row.eaten) << Show(row.run);
  }
}

TEST(HeaderScanner, CountEquivalentEolWithoutAnalysis) {
  struct {
    std::string run;
    DWORD count;
    bool badEol;
  } rows[] = {
      {"\r\n", 1, false},     {"\r\n\r\n", 2, false}, {"\r\n\r\n\r\n", 3, false}, {"\n\n", 2, true},
      {"\n\n\n", 2, true},    {"\n", 0, true},        {"\r", 0, true},            {"\r\r", 1, true},
      {"\r\n\r", 1, true},    {"\n\r\n", 1, true},    {"", 0, false},
  };
  for (const auto& row : rows) {
    CRfc822HeadersParser scanner;
    EXPECT_EQ(scanner.CountEquivalentEOL(TSTRING(row.run.c_str())), row.count) << Show(row.run);
    EXPECT_EQ((scanner.GetAnomalyFlags() & ANOMALY_BAD_EOL) != 0, row.badEol) << Show(row.run);
  }
}

TEST(HeaderScanner, StreamFailureIsThrown) {
  const std::string text = "Subject: a long enough value to fail in\r\n\r\n";
  CTestStream stream(text);
  stream.maxChunk = 4;
  stream.failReadAt = 20;
  CRfc822HeadersParser scanner(&stream, CStreamReader::NO_LIMIT);
  ULONG ns, nl, vs, vl;
  try {
    scanner.NextField(ns, nl, vs, vl);
    ADD_FAILURE() << "no throw";
  } catch (DWORD code) {
    EXPECT_EQ(static_cast<HRESULT>(code), stream.failure);
  }
}

TEST(HeaderScanner, LimitedStreamStopsAtItsLimit) {
  const std::string text = "Subject: a\r\nTo: b\r\n\r\nbody";
  CTestStream stream(text);
  CRfc822HeadersParser scanner(&stream, static_cast<ULONG>(At(text, "To:")));
  Scan scan = ReadBlock(scanner, 0, Options());
  ASSERT_EQ(scan.fields.size(), 1u);
  EXPECT_EQ(scan.blockEnd, At(text, "To:"));
}

TEST(HeaderScanner, ReadHeaderFieldGivesStoredTexts) {
  const std::string text =
      "Subject(c): one\r\n two  \r\nTo: a\r\n\r\n";
  ExactBytes bytes(text);
  CRfc822HeadersParser scanner(bytes.data(), bytes.size());
  tag_HEADER_FIELD field;
  ASSERT_EQ(ReadHeaderField(scanner, field), HEADER_FIELD_READ);
  EXPECT_EQ(Str(field.name), "Subject");
  EXPECT_TRUE(field.nameHadComment);
  EXPECT_EQ(Str(field.value), "onetwo");  // the blank after a line break goes with it
  ASSERT_EQ(ReadHeaderField(scanner, field), HEADER_FIELD_READ);
  EXPECT_EQ(Str(field.name), "To");
  EXPECT_FALSE(field.nameHadComment);
  EXPECT_EQ(ReadHeaderField(scanner, field), HEADER_BLOCK_END);
  EXPECT_EQ(field.end, text.size());
}

TEST(HeaderScanner, NameLengthLimit) {
  for (size_t n : {1023u, 1024u}) {
    std::string text = std::string(n, 'X') + ": v\r\n\r\n";
    ExactBytes bytes(text);
    CRfc822HeadersParser scanner(bytes.data(), bytes.size());
    tag_HEADER_FIELD field;
    EXPECT_EQ(ReadHeaderField(scanner, field), n == 1023 ? HEADER_FIELD_READ : HEADER_NAME_TOO_LONG) << n;
  }
}

}  // namespace
