// Message trees from untrusted header blocks, composed back. The first byte
// chooses the shape (MIME or plain, how many children, which get the same
// header, contents in memory); the rest is a header block that fills the
// message and its body-part children. Filling gives S_OK or the long-name
// code; composing never throws into a stream that takes everything; a
// clone composes to the same bytes as its source; a multipart message with
// written children ends with its closing delimiter; filling the composed
// header again gives the same Message-ID.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "common/teststream.h"
#include "foundation/streamreader.h"
#include "mime/bodypart.h"
#include "mime/message.h"
#include "mime/mimeresults.h"
#include "mime/rfc822parser.h"

using namespace telsor;

namespace {

void Check(bool ok) {
  if (!ok) abort();
}

HRESULT Fill(const CRfc822Parser& parser, CRfc822Part& part, const std::string& header) {
  CTestStream in(header);
  HRESULT hr = parser.FillRfc822PartHeaderInfo(&in, part, CStreamReader::NO_LIMIT);
  Check(hr == S_OK || hr == E_MIME_NAME_TOO_LONG);
  return hr;
}

// Fixed boundaries, so that two compositions can be compared.
bool FixBoundaries(CRfc822Part* part, void*) {
  if (part->GetBoundary().IsEmpty()) part->PutBoundary("fixed");
  return true;
}

std::string Compose(CRfc822Message& m) {
  CTestStream out;
  try {
    m.Compose(&out);
  } catch (...) {
    abort();
  }
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t options = data[0];
  const std::string header(reinterpret_cast<const char*>(data) + 1, size - 1);
  CRfc822Parser parser;
  CRfc822Message m;
  m.PutMimeFormatted(options & 1);
  Fill(parser, m, header);
  // A fixed date: without one, each composition writes the time it runs.
  if (!m.GetFields(CRfc822Fields::ORDER_KEEP).IsExist("Date"))
    m.GetFields(CRfc822Fields::ORDER_KEEP).Add("Date", "Tue, 1 Jul 2003 10:52:37 +0200");
  const int children = (options >> 1) & 3;
  for (int i = 0; i < children; ++i) {
    CRfc822BodyPart* part = m.AddBodyPart(-1);
    if (options & (0x10 << i)) Fill(parser, *part, header);
    // A content that cannot be stored is one more case the composer meets.
    if (options & 0x80) (void)part->PutContentAsString(header.c_str());
  }
  ForEachPart(&m, FixBoundaries, nullptr);

  CRfc822Message clone;
  m.Clone(clone);
  const std::string text = Compose(m);
  Check(Compose(clone) == text);
  Check(text.size() >= 2);

  int written = 0;
  CRfc822Parts* parts = m.GetParts(nullptr);
  for (void* pos = parts->GetHeadPosition(); pos != nullptr;) {
    CRfc822Part* child = parts->GetNext(pos);
    if (!(child->IsMultipart() && child->GetParts(nullptr)->IsEmpty())) ++written;
  }
  if ((options & 1) && m.IsMultipart() && written > 0) {
    const std::string closing = "\r\n--" + std::string(m.GetBoundary().c_str()) + "--\r\n";
    Check(text.size() >= closing.size() && text.compare(text.size() - closing.size(), closing.size(), closing) == 0);
  }

  // The Message-ID line comes back as the same identifier, unless the
  // identifier holds what a header line cannot keep.
  const std::string id(m.MessageID().c_str(), static_cast<size_t>(m.MessageID().GetLength()));
  if (!id.empty() && id.find_first_of(std::string("\r\n\t <>\0", 7)) == std::string::npos) {
    CRfc822Message again;
    Fill(parser, again, text);
    Check(std::string(again.MessageID().c_str()) == id);
  }
  return 0;
}
