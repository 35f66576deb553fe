// Header blocks from untrusted bytes. The first byte chooses the options
// (an end-of-line analysis, a boundary taken from the input's tail and the
// field after which it is set, the stream's read size); the rest is the
// block. The memory form over an exact-size buffer and the stream form (one
// that starts behind a prefix and reads in small pieces) must give the same
// fields, positions, flags and block end; every call that returns a field
// moves on; every range lies inside the data; the raw header block of
// ExtractHeaders is exactly the bytes up to the last field's end; the
// end-of-line analysis gives the same counts over memory and over a stream.
#include <stdint.h>
#include <string.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/teststream.h"
#include "mime/eolanalysis.h"
#include "mime/headerscanner.h"
#include "mime/mimeresults.h"
#include "mime/rfc822parser.h"

using namespace telsor;

namespace {

struct Field {
  ULONG ns, nl, vs, vl;
  DWORD end;
};

struct Result {
  std::vector<Field> fields;
  DWORD blockEnd = 0;
  DWORD flags = 0;
  bool longName = false;
};

void Check(bool ok) {
  if (!ok) abort();
}

Result Read(CRfc822HeadersParser& scanner, DWORD base, ULONG size, const CSetEOLSequence* eol,
            const std::string& boundary, size_t boundaryAfter) {
  Result r;
  if (eol) scanner.SetEOLSequence(eol, 0);
  DWORD previous = base;
  for (size_t guard = 0; guard <= size + 2; ++guard) {
    if (!boundary.empty() && r.fields.size() == boundaryAfter)
      scanner.SetBoundary(TSTRING(boundary.data(), static_cast<int>(boundary.size())));
    ULONG ns, nl, vs, vl;
    DWORD end = scanner.NextField(ns, nl, vs, vl);
    Check(end >= base && end - base <= size);
    if (nl == 0) {
      Check(ns == 0 && vs == 0 && vl == 0);
      r.blockEnd = end - base;
      r.flags = scanner.GetAnomalyFlags();
      return r;
    }
    Check(ns >= previous && ns + nl <= end && vs + vl <= base + size && vs >= base);
    Check(end > previous);
    previous = end;
    if (nl > CRfc822HeadersParser::MAX_NAME_LENGTH) r.longName = true;
    r.fields.push_back(Field{ns - base, nl, vs - base, vl, end - base});
  }
  abort();  // a block read never ends
}

bool Same(const Result& a, const Result& b) {
  if (a.fields.size() != b.fields.size() || a.blockEnd != b.blockEnd || a.flags != b.flags) return false;
  for (size_t i = 0; i < a.fields.size(); ++i) {
    const Field& x = a.fields[i];
    const Field& y = b.fields[i];
    if (x.ns != y.ns || x.nl != y.nl || x.vs != y.vs || x.vl != y.vl || x.end != y.end) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 100000) return 0;
  const uint8_t options = data[0];
  std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string boundary;
  if ((options & 2) && !text.empty()) {
    size_t n = 1 + (static_cast<size_t>(text.back()) % 12);
    if (n > text.size()) n = text.size();
    boundary = text.substr(text.size() - n);
  }
  size_t boundaryAfter = (options >> 2) & 3;
  ULONG chunk = 1 + ((options >> 4) * 37);
  ULONG length = static_cast<ULONG>(text.size());

  // Exactly the block's bytes, so that a read past them is caught.
  std::unique_ptr<unsigned char[]> exact(new unsigned char[text.size()]);
  if (!text.empty()) memcpy(exact.get(), text.data(), text.size());

  // The analysis, over memory and over a stream.
  CSetEOLSequence eol;
  Check(eol.Analyze(exact.get(), length) == S_OK);
  {
    CTestStream stream("xx" + text);
    stream.pos = 2;
    stream.maxChunk = chunk;
    CSetEOLSequence other;
    Check(other.Analyze(&stream, length) == S_OK);
    Check(stream.pos == 2);
    Check(other.GetRunCount() == eol.GetRunCount() && other.HasInvalidEOL() == eol.HasInvalidEOL() &&
          other.HasControlChars() == eol.HasControlChars());
    for (size_t i = 0; i < text.size();) {
      if (text[i] != '\r' && text[i] != '\n') {
        ++i;
        continue;
      }
      size_t j = i;
      while (j < text.size() && (text[j] == '\r' || text[j] == '\n')) ++j;
      std::string run = text.substr(i, j - i);
      Check(eol.CountEquivalentEOL(std::string_view(run)) == other.CountEquivalentEOL(std::string_view(run)));
      Check(eol.CountEquivalentEOL(std::string_view(run)) >= 1);
      i = j;
    }
  }
  const CSetEOLSequence* analysis = (options & 1) ? &eol : nullptr;

  Result memory;
  {
    CRfc822HeadersParser scanner(exact.get(), length);
    memory = Read(scanner, 0, length, analysis, boundary, boundaryAfter);
  }
  Result fromStream;
  {
    const std::string prefix = "Prefix: not read\r\n";
    CTestStream stream(prefix + text);
    stream.pos = prefix.size();
    stream.maxChunk = chunk;
    CRfc822HeadersParser scanner(&stream, CStreamReader::NO_LIMIT);
    fromStream = Read(scanner, static_cast<DWORD>(prefix.size()), length, analysis, boundary, boundaryAfter);
  }
  Check(Same(memory, fromStream));

  // The stored texts: one per field up to a long name.
  {
    CRfc822HeadersParser scanner(exact.get(), length);
    if (analysis) scanner.SetEOLSequence(analysis, 1);
    tag_HEADER_FIELD field;
    size_t n = 0;
    int kind;
    while ((kind = ReadHeaderField(scanner, field)) == HEADER_FIELD_READ) ++n;
    size_t expected = 0;
    while (expected < memory.fields.size() && memory.fields[expected].nl <= CRfc822HeadersParser::MAX_NAME_LENGTH)
      ++expected;
    if (boundary.empty()) Check(n == expected);
  }

  // The raw header block.
  {
    CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
    CTestStream stream(text);
    stream.maxChunk = chunk;
    TSTRING headers("unchanged");
    HRESULT hr = parser->ExtractHeaders(&stream, headers);
    if (analysis == nullptr && boundary.empty()) {
      if (memory.longName) {
        Check(hr == E_MIME_NAME_TOO_LONG);
        Check(strcmp(headers.c_str(), "unchanged") == 0);
      } else {
        Check(hr == S_OK);
        DWORD end = memory.fields.empty() ? 0 : memory.fields.back().end;
        Check(static_cast<DWORD>(headers.GetLength()) == end && memcmp(headers.c_str(), text.data(), end) == 0);
      }
    }
    CRfc822Fields fields;
    Check(CRfc822Parser::CreateFieldsCollection(text.c_str(), fields, options & 1) == S_OK);
  }
  return 0;
}
