// The stream decoder against Python's binascii (behind the base64, quopri
// and uu modules), on random data roughened the way mail is and on the
// base64, quoted-printable and uuencoded bodies of real mail (the training
// half of the SpamAssassin corpus, when QOR_CORPORA is set).
//
// transfercodec_oracle.py decodes each input twice: as it stands, and in
// the canonical form that applies the decoder's own rules which binascii
// lacks (RFC 2045's dropped trailing white space, SMTP dot-stuffing, the
// end of base64 data at its first pad, ...; the script lists them). Our
// decoding must equal the canonical one byte for byte on every input. The
// inputs with malformed "=" escapes, where the two decoders legitimately
// differ, are only counted. A table of how often the plain decodings agree
// is printed for the record.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include "common/runprogram.h"
#include "codectestutil.h"
#include "mimetestutil.h"

using namespace telsor;
using mime_test::Show;

using mime_test::FromHex;

namespace {

struct Tally {
  int records = 0;
  int canonicalAgree = 0;
  int rawAgree = 0;
  int rawRefused = 0;  // binascii raised
  int badEscape = 0;
};

TEST(TransferCodecOracle, AgreesWithPythonBinascii) {
  const char* corpora = getenv("QOR_CORPORA");
  std::string script = __FILE__;
  script = script.substr(0, script.rfind('/')) + "/transfercodec_oracle.py";
  std::string command = "python3 '" + script + "'";
  if (corpora != nullptr && corpora[0] != '\0') command += std::string(" '") + corpora + "'";
  const telsor_test::ProgramRun run = telsor_test::RunProgram(command);

  std::map<std::string, Tally> tallies;  // "G b64" ...
  int failures = 0;
  for (const std::string& line : telsor_test::Lines(run.output)) {
    std::istringstream in(line);
    std::string source, encoding, rules, input, raw, canonical;
    in >> source >> encoding >> rules >> input >> raw >> canonical;
    ASSERT_FALSE(canonical.empty()) << "bad record: " << line;
    const tag_CONTENT_ENCODING e = encoding == "b64"  ? CONTENT_ENCODING_BASE64
                                   : encoding == "qp" ? CONTENT_ENCODING_QUOTED_PRINTABLE
                                                      : CONTENT_ENCODING_UUENCODE;
    const std::string data = FromHex(input);
    auto ours = codec_test::Decode(data, e);
    ASSERT_EQ(ours.hr, S_OK);
    Tally& t = tallies[source + " " + encoding];
    ++t.records;
    if (raw == "!") {
      ++t.rawRefused;
    } else if (ours.out == FromHex(raw)) {
      ++t.rawAgree;
    }
    if (rules.find("bad-escape") != std::string::npos) {
      ++t.badEscape;
      continue;
    }
    if (ours.out == FromHex(canonical)) {
      ++t.canonicalAgree;
    } else if (++failures <= 5) {
      ADD_FAILURE() << source << " " << encoding << " rules " << rules << "\ninput " << Show(data.substr(0, 300))
                    << "\nours  " << Show(ours.out.substr(0, 300)) << "\nwants " << Show(FromHex(canonical).substr(0, 300));
    }
  }
  EXPECT_EQ(run.status, 0) << command;
  EXPECT_EQ(failures, 0);

  ASSERT_GT(tallies["G b64"].records, 0);
  ASSERT_GT(tallies["G qp"].records, 0);
  ASSERT_GT(tallies["G uu"].records, 0);
  if (corpora != nullptr && corpora[0] != '\0') {
    EXPECT_GT(tallies["R b64"].records, 50);
    EXPECT_GT(tallies["R qp"].records, 200);
    EXPECT_GT(tallies["R uu"].records, 0);
  }
  std::cout << "source encoding records canonical-agree raw-agree raw-refused bad-escape\n";
  for (const auto& kv : tallies) {
    const Tally& t = kv.second;
    std::cout << kv.first << " " << t.records << " " << t.canonicalAgree << " " << t.rawAgree << " "
              << t.rawRefused << " " << t.badEscape << "\n";
  }
}

}  // namespace
