// Whole parses of a real mailbox against GMime 3: every message of the
// training half of the SpamAssassin corpus (tools/fetch-corpora.sh), held
// in memory, parsed into its part tree with every leaf decoded.
//
// Ours, as the spam test does it: a new parser session on the temporary
// folder with the 4 MiB in-memory limit, the bytes copied into a new CRfc822Message, then
// ParseMessage with full scope (structure scan, header filling, decoded
// contents, hidden uuencoded, BinHex and pasted-mail parts). GMime: a
// memory stream over the bytes, g_mime_parser_construct_message, then
// every leaf's content decoded into a memory stream through its data
// wrapper, descending into multiparts and embedded messages.
//
// One iteration is the whole mailbox; items are messages, bytes the
// message bytes. Before any timing a gate checks that both parse every
// message and that each decodes a plausible amount of text.
//
//   bash bench/setup.sh && bash tools/build.sh normal -DQOR_BENCH=ON
//   QOR_CORPORA=$(bash tools/fetch-corpora.sh) build/normal/bin/mimeparse_bench
//       --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <gmime/gmime.h>
#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mime/message.h"
#include "mime/rfc822parser.h"
#include "gmimemain.h"
#include "mimetestutil.h"

using namespace telsor;

namespace {

const ULONG kInMemoryLimit = 4194304;

struct Mailbox {
  std::vector<std::string> messages;
  size_t bytes = 0;
};

// Decoded bytes of every leaf below object.
size_t GMimeLeaves(GMimeObject* object) {
  if (object == nullptr) return 0;
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    size_t total = 0;
    for (int i = 0, n = g_mime_multipart_get_count(multipart); i < n; ++i)
      total += GMimeLeaves(g_mime_multipart_get_part(multipart, i));
    return total;
  }
  if (GMIME_IS_MESSAGE_PART(object)) {
    GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
    return inner != nullptr ? GMimeLeaves(g_mime_message_get_mime_part(inner)) : 0;
  }
  if (!GMIME_IS_PART(object)) return 0;
  GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(object));
  if (content == nullptr) return 0;
  GMimeStream* out = g_mime_stream_mem_new();
  ssize_t n = g_mime_data_wrapper_write_to_stream(content, out);
  g_object_unref(out);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

// Decoded bytes of the message; false when GMime gives no message.
bool GMimeParse(const std::string& bytes, size_t& decoded) {
  GMimeStream* stream = g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size());
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
  decoded = message != nullptr ? GMimeLeaves(g_mime_message_get_mime_part(message)) : 0;
  if (message != nullptr) g_object_unref(message);
  g_object_unref(parser);
  g_object_unref(stream);
  return message != nullptr;
}

// Decoded bytes of the leaves below part.
size_t OurLeaves(CRfc822Part& part) {
  CRfc822Parts* children = part.GetParts(nullptr);
  if (children->IsEmpty()) return part.GetContent().GetSize();
  size_t total = 0;
  for (void* pos = children->GetHeadPosition(); pos != nullptr;) total += OurLeaves(*children->GetNext(pos));
  return total;
}

// The folder the spam test is given; the system's, found once.
const char* TempDir() {
  static const std::string folder = [] {
    const char* t = getenv("TMPDIR");
    return std::string(t != nullptr && *t != '\0' ? t : "/tmp");
  }();
  return folder.c_str();
}

bool OurParse(const std::string& bytes, size_t& decoded) {
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  parser->PutMaxContentSizeInMemory(kInMemoryLimit);
  parser->OpenSession(TempDir());
  CRfc822Message message;
  message.SetParser(parser);
  if (message.PutContentAsString(reinterpret_cast<const unsigned char*>(bytes.data()),
                                 static_cast<ULONG>(bytes.size())) != S_OK)
    return false;
  HRESULT hr = parser->ParseMessage(PARSE_SCOPE_FULL, message);
  decoded = OurLeaves(message);
  return hr == S_OK;
}

const Mailbox& Load() {
  static Mailbox* box = nullptr;
  if (box != nullptr) return *box;
  const char* corpora = getenv("QOR_CORPORA");
  if (corpora == nullptr || *corpora == '\0') {
    fprintf(stderr, "QOR_CORPORA is not set (QOR_CORPORA=$(bash tools/fetch-corpora.sh))\n");
    exit(2);
  }
  std::vector<std::string> paths = mime_test::FilesUnder(std::string(corpora) + "/spamassassin/train", ".txt");
  if (paths.empty()) {
    fprintf(stderr, "no messages under %s/spamassassin/train\n", corpora);
    exit(2);
  }
  box = new Mailbox;
  for (const std::string& path : paths) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    box->messages.push_back(text.str());
    box->bytes += box->messages.back().size();
  }
  // The gate: both parse every message, and where one decodes a body of
  // some size the other decodes at least a tenth of it (the two split
  // bodies differently: hidden parts here, nothing of the kind in GMime).
  size_t ours = 0, theirs = 0, far = 0;
  for (const std::string& m : box->messages) {
    size_t a = 0, b = 0;
    if (!OurParse(m, a) || !GMimeParse(m, b)) {
      fprintf(stderr, "a message did not parse\n");
      abort();
    }
    ours += a;
    theirs += b;
    if ((a > 1000 || b > 1000) && (a * 10 < b || b * 10 < a)) ++far;
  }
  fprintf(stderr, "%zu messages, %zu bytes; decoded: ours %zu bytes, GMime %zu bytes; far apart: %zu\n",
          box->messages.size(), box->bytes, ours, theirs, far);
  if (far * 100 > box->messages.size()) {
    fprintf(stderr, "more than 1%% of the messages decode far apart\n");
    abort();
  }
  return *box;
}

// One iteration parses the whole mailbox with parse.
void ParseMailbox(benchmark::State& state, bool (*parse)(const std::string&, size_t&)) {
  const Mailbox& box = Load();
  for (auto _ : state) {
    for (const std::string& m : box.messages) {
      size_t decoded = 0;
      parse(m, decoded);
      benchmark::DoNotOptimize(decoded);
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * box.messages.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * box.bytes));
}

void Ours(benchmark::State& state) { ParseMailbox(state, OurParse); }
void Peer(benchmark::State& state) { ParseMailbox(state, GMimeParse); }

BENCHMARK(Ours)->Name("mailbox_parse/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(Peer)->Name("mailbox_parse/gmime")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return bench::RunWithGMime(argc, argv); }
