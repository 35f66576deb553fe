// Whole parses of real mail against Python's email package
// (parsetree_oracle.py): for every message of Python's own test set that
// Python reads without a defect, the leaves of the part tree, their media
// types and their decoded contents agree, read into memory and scanned from
// disk alike. Where the two readings differ for a reason, the difference is
// in the table below with the side that is right. Skipped when $QOR_CORPORA
// is not set (tools/test-all.sh sets it).
//
// Rules applied to every message (each is a difference in how the two read
// all mail, not in one message):
// - A part without Content-Type has an empty media type here; Python gives
//   the default, text/plain (RFC 2045 section 5.2). Media types are compared
//   without regard to case (RFC 2045 section 5.1).
// - Hidden parts (uuencoded and BinHex files, pasted mail) found in a text
//   body are children of that body part here; Python has no such split. A
//   body part that is no multipart but has children is compared as one leaf
//   with its own content, the whole decoded body; but a part without
//   Content-Type that is one pasted mail from its first byte is read as
//   that mail, as Python reads the entries of a multipart/digest.
// - A delimiter line takes the line break before it, and with bare LF line
//   ends one more when the body ends in an empty line ("text\n\n--b" leaves
//   "text"). RFC 2046 section 5.1.1 gives only the one line break to the
//   delimiter, so Python is right to keep "text\n"; the scan keeps both
//   line breaks with the delimiter on purpose (CR LF CR LF gives the right
//   answer, LF LF the shorter one). Accepted where a part in a multipart of
//   a message with bare LF line ends lacks exactly Python's final "\n".
#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/runprogram.h"
#include "foundation/errorroad.h"
#include "mime/anomalyflags.h"
#include "mime/message.h"
#include "mime/rfc822parser.h"
#include "mimetestutil.h"

using namespace telsor;
using mime_test::FromHex;
using mime_test::Str;

namespace {

// Messages whose differences are understood: the exact differences found
// (Python's value first) and who is right.
struct KnownDifference {
  const char* file;
  const char* differences;
  const char* why;
};

const KnownDifference kKnown[] = {
    {"msg_02.txt",
     "leaf 2 content 8/234 bytes; leaf 3 content 8/208 bytes; leaf 4 content 8/234 bytes; leaf 5 content 8/234 bytes; "
     "leaf 6 content 10/236 bytes; ",
     "Python is right: an entry of a multipart/digest without Content-Type is message/rfc822 (RFC 2046 section "
     "5.1.5), and Python's leaf is the body of the message inside. The scan has no digest default and reads each "
     "entry as text; the entry starts with a line \"Message: 1\" that is no known field, so the pasted mail found "
     "in it starts one line later and the entry stays one text leaf, the whole entry."},
    {"msg_06.txt", "leaf 0 content 1/0 bytes; ",
     "Python is right: the embedded message's header block ends with an empty line and one more line break "
     "follows, which is its body. The header scanner counts a run of line ends only when a byte follows it, so at "
     "the end of the data the run after the last field stays in the header block and the body is empty. Only a "
     "body of nothing but line breaks is read this way."},
    {"msg_14.txt", "leaf 0 type text/plain/text; ",
     "Python is right: \"Content-Type: text\" has no subtype, and a Content-Type that is not valid stands for "
     "text/plain (RFC 2045 section 5.2). The media type is kept as written here; the contents agree."},
    {"msg_24.txt", "leaf 0 type text/plain/multipart/mixed; leaf 0 content 0/26 bytes; ",
     "Python is right: between \"--BOUNDARY\" and \"--BOUNDARY--\" stand two line breaks, one part with an "
     "empty header and an empty body. The delimiter takes both line breaks (LF LF, see above), the part is empty "
     "and gives no record, so the multipart has no parts and the message a single body child holding its body."},
    {"msg_33.txt",
     "count 2/3; leaf 0 type text/plain/multipart/signed; leaf 0 content 7/0 bytes; leaf 1 content 7/27 bytes; ",
     "Python is right: the boundary is given as an RFC 2231 parameter (boundary*=us-ascii''...), which the "
     "parameter parser does not read, so the multipart has no boundary (0x48) and its body is searched as text "
     "for hidden parts: the parts' own header lines are taken for pasted mails."},
    {"msg_36.txt",
     "leaf 1 type text/plain/message/external-body; leaf 1 content 65/132 bytes; leaf 2 type "
     "text/plain/message/external-body; leaf 2 content 0/67 bytes; ",
     "Neither is wrong: the body of a message/external-body part is the header of the part stored elsewhere and "
     "an optional phantom body (RFC 2046 section 5.2.3). Python parses it as a message and reports that header's "
     "default type; here the part stays one leaf of its declared type with the body as its content, which is "
     "what the filters test."},
};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(tolower(c)); });
  return s;
}

struct Leaf {
  std::string type;
  std::string content;
  bool inMultipart;
};

void LeavesOf(CRfc822Part& part, bool inMultipart, std::vector<Leaf>& out) {
  std::string type = Lower(Str(part.GetContentMediaType()));
  const bool multipart = type.compare(0, 10, "multipart/") == 0;
  CRfc822Parts* children = part.GetParts(nullptr);
  // A body part without a media type that is one pasted mail as a whole
  // is that mail (the digest entries).
  void* first = children->GetHeadPosition();
  const bool wholeMail = type.empty() && children->GetCount() == 1 &&
                         children->GetNext(first)->GetContentClass() == CRfc822Part::CONTENT_CLASS_MESSAGE;
  const bool split = part.GetContentClass() == CRfc822Part::CONTENT_CLASS_BODY_PART && !multipart && !wholeMail;
  if (children->IsEmpty() || split) {
    Leaf leaf;
    leaf.type = type.empty() ? "text/plain" : type;
    ULONG length = 0;
    const unsigned char* bytes = part.GetContentAsString(length);
    leaf.content.assign(reinterpret_cast<const char*>(bytes), length);
    leaf.inMultipart = inMultipart;
    out.push_back(leaf);
    return;
  }
  for (void* pos = children->GetHeadPosition(); pos != nullptr;)
    LeavesOf(*children->GetNext(pos), inMultipart || multipart, out);
}

std::vector<Leaf> Parse(CRfc822Parser& parser, const std::string& path, ULONG limit) {
  parser.PutMaxContentSizeInMemory(limit);
  CRfc822Message message;
  CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile(path.c_str(), FALSE);
  EXPECT_EQ(S_OK, parser.ParseMessage(file, PARSE_SCOPE_FULL, message)) << path;
  std::vector<Leaf> leaves;
  LeavesOf(message, false, leaves);
  return leaves;
}

bool BareLineFeeds(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str().find("\r\n") == std::string::npos;
}

struct PythonLeaf {
  std::string type;
  std::string payload;
  bool compared;
};

// The differences between Python's leaves and ours, "" when none.
std::string Differences(const std::vector<PythonLeaf>& python, const std::vector<Leaf>& ours, bool bareLineFeeds) {
  std::ostringstream out;
  if (python.size() != ours.size()) out << "count " << python.size() << "/" << ours.size() << "; ";
  for (size_t i = 0; i < python.size() && i < ours.size(); ++i) {
    if (python[i].type != ours[i].type) out << "leaf " << i << " type " << python[i].type << "/" << ours[i].type << "; ";
    if (!python[i].compared || python[i].payload == ours[i].content) continue;
    const std::string& p = python[i].payload;
    if (bareLineFeeds && ours[i].inMultipart && p.size() == ours[i].content.size() + 1 && p.back() == '\n' &&
        p.compare(0, p.size() - 1, ours[i].content) == 0)
      continue;
    out << "leaf " << i << " content " << p.size() << "/" << ours[i].content.size() << " bytes; ";
  }
  return out.str();
}

TEST(ParseTreeOracle, LeavesAgreeWithPython) {
  const char* corpora = mime_test::Corpora();
  if (corpora == nullptr) GTEST_SKIP() << "QOR_CORPORA is not set";
  std::string script = __FILE__;
  script = script.substr(0, script.rfind('/')) + "/parsetree_oracle.py";
  std::string command = "python3 '" + script + "' '" + corpora + "/python-email'";
  const telsor_test::ProgramRun run = telsor_test::RunProgram(command);
  std::vector<std::pair<std::string, std::vector<PythonLeaf>>> messages;
  for (const std::string& line : telsor_test::Lines(run.output)) {
    std::istringstream in(line);
    std::string tag, first, second;
    in >> tag >> first >> second;
    if (tag == "M") {
      messages.emplace_back(FromHex(first), std::vector<PythonLeaf>());
    } else if (tag == "L" && !messages.empty()) {
      messages.back().second.push_back({FromHex(first), second == "*" ? "" : FromHex(second), second != "*"});
    }
  }
  ASSERT_EQ(0, run.status) << command;
  // Python's test set holds 47 messages; 11 of them carry defects.
  EXPECT_GT(messages.size(), 30u);

  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  EXPECT_EQ(parser->OpenSession(nullptr), S_OK);
  std::vector<std::string> seen;
  for (const auto& message : messages) {
    const std::string& path = message.first;
    const std::string name = path.substr(path.rfind('/') + 1);
    std::vector<Leaf> memory = Parse(*parser, path, 0xFFFFFFFFu);
    std::vector<Leaf> stream = Parse(*parser, path, 0);
    ASSERT_EQ(memory.size(), stream.size()) << name;
    for (size_t i = 0; i < memory.size(); ++i) {
      EXPECT_EQ(memory[i].type, stream[i].type) << name << " leaf " << i;
      EXPECT_TRUE(memory[i].content == stream[i].content) << name << " leaf " << i;
    }
    std::string differences = Differences(message.second, memory, BareLineFeeds(path));
    const KnownDifference* known = nullptr;
    for (const KnownDifference& k : kKnown)
      if (name == k.file) known = &k;
    if (known != nullptr) {
      seen.push_back(name);
      EXPECT_EQ(known->differences, differences) << name << ": the known difference changed";
    } else {
      EXPECT_EQ("", differences) << name;
    }
  }
  // Every entry of the table still names a message of the set.
  for (const KnownDifference& k : kKnown)
    EXPECT_NE(std::find(seen.begin(), seen.end(), k.file), seen.end()) << k.file << " is no longer compared";
}

}  // namespace
