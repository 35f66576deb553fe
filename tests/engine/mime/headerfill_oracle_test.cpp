// Header filling over real mail (the training half of the SpamAssassin
// corpus, Python's and Go enmime's test messages) against Python's email
// package (headerfill_oracle.py): the Message-ID, the media type and
// boundary of a single Content-Type field, a single Subject and the From
// addresses. Skipped when $QOR_CORPORA is not set (tools/test-all.sh sets
// it).
#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "common/runprogram.h"
#include "mime/anomalyflags.h"
#include "mime/message.h"
#include "mime/mimeresults.h"
#include "mime/rfc822parser.h"
#include "mimetestutil.h"

using namespace telsor;
using mime_test::Show;
using mime_test::Str;

using mime_test::FromHex;

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(tolower(c)); });
  return s;
}

// The Message-ID rule of the header filling, applied to Python's raw value.
std::string BareId(std::string id) {
  size_t start = id.find_first_not_of(" \t");
  size_t end = id.find_last_not_of(" \t");
  id = start == std::string::npos ? "" : id.substr(start, end - start + 1);
  if (!id.empty() && id[0] == '<') {
    id.erase(0, 1);
    if (!id.empty() && id.back() == '>') id.pop_back();
  }
  return id;
}

struct Counts {
  size_t compared = 0;
  size_t differ = 0;
  std::vector<std::string> examples;
  void Check(bool same, const std::string& what) {
    ++compared;
    if (same) return;
    ++differ;
    if (examples.size() < 5) examples.push_back(what);
  }
};

TEST(HeaderFillOracle, AgreesWithPythonOnRealMail) {
  const char* corpora = getenv("QOR_CORPORA");
  if (corpora == nullptr) GTEST_SKIP() << "QOR_CORPORA not set";
  std::string root(corpora);
  std::string script = __FILE__;
  script = script.substr(0, script.rfind('/')) + "/headerfill_oracle.py";
  std::string command = "python3 '" + script + "' '" + root + "/spamassassin/train' '" + root + "/python-email' '" +
                        root + "/enmime'";
  const telsor_test::ProgramRun run = telsor_test::RunProgram(command);
  CRfc822Parser parser;
  Counts ids, types, boundaries, subjects, froms;
  size_t messages = 0;
  for (const std::string& line : telsor_test::Lines(run.output)) {
    std::istringstream in(line);
    std::string path, id, typeCount, type, boundary, subjectCount, subject, from;
    in >> path >> id >> typeCount >> type >> boundary >> subjectCount >> subject >> from;
    path = FromHex(path);
    CRfc822Message m;
    HRESULT hr = parser.ParseHeader(path.c_str(), m);
    if (hr == E_MIME_NAME_TOO_LONG) continue;  // a header Python reads on
    ASSERT_EQ(hr, S_OK) << path;
    ++messages;
    ids.Check(Str(m.MessageID()) == BareId(FromHex(id)), path + ": " + Show(Str(m.MessageID())));
    // Known differences: where a line that is no field stands in the
    // header, Python ends the header and the filling reads on for known
    // fields (a later Content-Type among them); RFC 2231 parameters
    // ("boundary*=") are Python's only.
    CRfc822Fields& fields = m.GetFields(CRfc822Fields::ORDER_KEEP);
    LONG at = fields.FindFirst("Content-Type");
    std::string typeField = at >= 0 ? Lower(Str(fields[at].GetContents())) : "";
    bool malformed = (m.GetAnomalyFlags() & ANOMALY_MALFORMED_LINE) == ANOMALY_MALFORMED_LINE;
    if (typeCount == "1" && !malformed && Str(m.GetContentMediaType()).find('/') != std::string::npos) {
      types.Check(Lower(Str(m.GetContentMediaType())) == FromHex(type), path + ": " + Str(m.GetContentMediaType()));
      if (boundary != "-" && typeField.find("boundary*") == std::string::npos)
        boundaries.Check(Str(m.GetBoundary()) == FromHex(boundary), path + ": " + Show(Str(m.GetBoundary())));
    }
    if (subjectCount == "1") subjects.Check(Str(m.Subject()) == FromHex(subject), path + ": " + Show(Str(m.Subject())));
    std::string ours;
    for (void* pos = m.From().GetHeadPosition(); pos != nullptr;) {
      if (!ours.empty()) ours += ",";
      ours += Str(m.From().GetNext(pos).GetAddress());
    }
    froms.Check(Lower(ours) == Lower(FromHex(from)), path + ": " + Show(ours) + " / " + Show(FromHex(from)));
  }
  EXPECT_EQ(run.status, 0) << command;
  EXPECT_GT(messages, 3000u);
  struct {
    const char* what;
    const Counts& counts;
    double allowed;  // the share that may differ
  } const results[] = {
      {"Message-ID", ids, 0.0},   {"media type", types, 0.0}, {"boundary", boundaries, 0.0},
      // The address list parser reads a few odd lists its own way:
      // mailboxes without commas between them, an address as display name,
      // a domain literal as local part, "=" in a local part.
      {"Subject", subjects, 0.0}, {"From", froms, 0.005},
  };
  for (const auto& r : results) {
    std::string shown;
    for (const std::string& e : r.counts.examples) shown += "\n  " + e;
    EXPECT_LE(r.counts.differ, static_cast<size_t>(r.allowed * static_cast<double>(r.counts.compared)))
        << r.what << ": " << r.counts.differ << " of " << r.counts.compared << shown;
  }
}

}  // namespace
