// The message filter: its eight tests run as whole scripts against fixture
// messages, bound by file (parsed lazily) and parsed in memory beforehand;
// the lazy parse scopes; the action trampolines; bindings; the relational
// comparisons against every key of a matcher.
#include <errno.h>
#include <float.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/errorroad.h"
#include "common/tempdir.h"
#include "filter/filtertests.h"
#include "filter/msgfilter.h"
#include "filter/scripttools.h"
#include "filter/sievescript.h"
#include "foundation/throwcode.h"
#include "mime/message.h"
#include "mime/rfc822parser.h"
#include "search/seekdictionary.h"
#include "search/seekexactstr.h"
#include "records.h"

using telsor::CMsgFilter;
using telsor::ResultFromSystemError;
using telsor::CRfc822Message;
using telsor::CRfc822Parser;
using telsor::CSieveScript;
using telsor::CSharedObjPtr;
using telsor_test::TempDir;
using telsor_test::WriteFileBytes;

namespace {

// ---- Fixture messages

// Two To fields of three addresses each, a Subject of RFC 2047 words, a Cc
// without a domain and a plain-text body with a run of white space.
const char kPlain[] =
    "From: Ann Example <ann@example.org>\n"
    "To: bob@example.org, carol@example.org, dave@example.org\n"
    "Subject: =?ISO-8859-1?Q?Caf=E9_offer?= now\n"
    "To: eve@example.net, frank@example.net, grace@example.net\n"
    "Cc: localonly\n"
    "X-Level: level: 42\n"
    "X-Word: Apple\n"
    "X-Enc: =?ISO-8859-1?Q?abc?=\n"
    "Content-Type: text/plain\n"
    "\n"
    "a \t \n\n \t b  \n";

// Plain and HTML alternatives.
const char kHtml[] =
    "From: shop@example.com\n"
    "To: bob@example.org\n"
    "Subject: plain subject\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/alternative; boundary=\"alt\"\n"
    "\n"
    "--alt\n"
    "Content-Type: text/plain\n"
    "\n"
    "plain words here\n"
    "--alt\n"
    "Content-Type: text/html\n"
    "\n"
    "<html><body><p>Cheap</p><p>pills &lt;b&gt;now</p></body></html>\n"
    "--alt--\n";

// One attachment at the top, one under a part that is not an attachment,
// one named only by its Content-Type name.
const char kAttach[] =
    "From: sender@example.com\n"
    "To: bob@example.org\n"
    "Subject: files\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/mixed; boundary=\"out\"\n"
    "\n"
    "--out\n"
    "Content-Type: text/plain\n"
    "\n"
    "see the files\n"
    "--out\n"
    "Content-Type: application/octet-stream\n"
    "Content-Disposition: attachment; filename=\"report.exe\"\n"
    "\n"
    "MZ binary\n"
    "--out\n"
    "Content-Type: multipart/related; boundary=\"in\"\n"
    "\n"
    "--in\n"
    "Content-Type: application/octet-stream\n"
    "Content-Disposition: attachment; filename=\"hidden.scr\"\n"
    "\n"
    "hidden\n"
    "--in--\n"
    "--out\n"
    "Content-Type: application/zip; name=\"named.zip\"\n"
    "Content-Disposition: attachment\n"
    "\n"
    "PK\n"
    "--out--\n";

const char kEnvelope[] =
    "Return-Path: <bounce@lists.example.net>\n"
    "Recipient: rcpt@example.org\n";

std::string Fixture(const std::string& name) {
  if (name == "plain") return kPlain;
  if (name == "html") return kHtml;
  if (name == "attach") return kAttach;
  return "";
}

// ---- A filter that records its actions

class CRecordingFilter : public CMsgFilter {
 public:
  std::vector<std::string> actions;
  double spam = DBL_MAX;
  int setCount = 0;
  HRESULT failWith = S_OK;   // returned by fileinto

  static std::string List(SIEVE_STRINGS s) {
    if (s == nullptr) return "null";
    std::string out;
    for (; *s != nullptr; ++s) out += (out.empty() ? "" : ",") + std::string(*s);
    return "[" + out + "]";
  }
  std::string Actions() const {
    std::string out;
    for (const std::string& a : actions) out += (out.empty() ? "" : " ") + a;
    return out;
  }

  void OnSetMessage() override { ++setCount; }
  HRESULT ActionRedirect(SIEVE_STRINGS targets) override { return Add("redirect" + List(targets)); }
  HRESULT ActionVacation(SIEVE_STRINGS addresses, uint64_t days, int mime, const char* subject,
                         const char* reason) override {
    return Add("vacation(" + List(addresses) + "," + std::to_string(days) + "," + std::to_string(mime) + "," +
               (subject ? subject : "null") + "," + (reason ? reason : "null") + ")");
  }
  HRESULT ActionReject(const char* text) override { return Add(std::string("reject(") + (text ? text : "null") + ")"); }
  HRESULT ActionFileinto(SIEVE_STRINGS targets) override {
    Add("fileinto" + List(targets));
    return failWith;
  }
  HRESULT ActionDiscard() override { return Add("discard"); }
  HRESULT ActionKeep() override { return Add("keep"); }
  void ActionStop() override { actions.push_back("stop"); }
  double XSpamTest() override { return spam; }

 private:
  HRESULT Add(const std::string& a) {
    actions.push_back(a);
    return S_OK;
  }
};

CSieveScript Compiled(const std::string& text) {
  CSieveScript script;
  EXPECT_EQ(script.ParseString(text.c_str(), nullptr), S_OK) << text << "\n"
                                                            << (script.GetErrorDescription() ? script.GetErrorDescription() : "");
  return script;
}

// A message parsed whole from bytes, as the spam test does.
struct ParsedMessage {
  CSharedObjPtr<CRfc822Parser> parser;
  CRfc822Message message;
  ParsedMessage(const std::string& bytes, const std::string& tempDir) : parser(new CRfc822Parser) {
    EXPECT_EQ(parser->OpenSession(tempDir.c_str()), S_OK);
    parser->PutMaxContentSizeInMemory(4 * 1024 * 1024);
    EXPECT_EQ(message.PutContentAsString(reinterpret_cast<const unsigned char*>(bytes.data()),
                                         static_cast<ULONG>(bytes.size())),
              S_OK);
    EXPECT_EQ(parser->ParseMessage(telsor::PARSE_SCOPE_FULL, message), S_OK);
  }
};

// The verdict of one test: "if TEST { keep; }" keeps exactly when it holds.
const HRESULT T = S_SIEVE_TRUE;
const HRESULT F = S_SIEVE_FALSE;

HRESULT Verdict(CRecordingFilter& filter, HRESULT run) {
  if (run != S_OK) return run;
  if (filter.Actions() == "keep") return T;
  if (filter.Actions().empty()) return F;
  return static_cast<HRESULT>(0xDEAD);   // nothing else may fire
}

struct TestRow {
  const char* test;
  const char* message;
  bool envelope;
  double spam;
  HRESULT expected;
  // The scope a message bound by file is parsed to by this test alone.
  telsor::tag_PARSE_SCOPE scope;
};

const telsor::tag_PARSE_SCOPE kNone = telsor::PARSE_SCOPE_STRUCTURE;
const telsor::tag_PARSE_SCOPE kHeader = telsor::PARSE_SCOPE_HEADER_ONLY;
const telsor::tag_PARSE_SCOPE kWhole = telsor::PARSE_SCOPE_FULL;

const TestRow kRows[] = {
    // size: the whole message's bytes.
    {"size :over 100", "plain", false, DBL_MAX, T, kHeader},
    {"size :under 100", "plain", false, DBL_MAX, F, kHeader},
    {"size :over 100K", "plain", false, DBL_MAX, F, kHeader},
    // header: the Subject decoded from RFC 2047 words, other headers as stored.
    {"header :matches \"Subject\" \"Caf\xE9 offer*now\"", "plain", false, DBL_MAX, T, kHeader},
    {"header :contains \"Subject\" \"Caf\xE9 offer\"", "plain", false, DBL_MAX, T, kHeader},
    {"header :contains \"Subject\" \"=?ISO\"", "plain", false, DBL_MAX, F, kHeader},
    {"header :contains \"X-Enc\" \"=?ISO\"", "plain", false, DBL_MAX, T, kHeader},
    {"header :contains \"X-Enc\" \"abc\"", "plain", false, DBL_MAX, T, kHeader},
    {"header :is \"X-Enc\" \"abc\"", "plain", false, DBL_MAX, F, kHeader},
    {"header :matches [\"X-None\", \"subject\"] \"*offer*\"", "plain", false, DBL_MAX, T, kHeader},
    // :value with comparators.
    {"header :value \"lt\" :comparator \"i;octet\" \"X-Word\" \"apple\"", "plain", false, DBL_MAX, T, kHeader},
    {"header :value \"eq\" :comparator \"i;octet\" \"X-Word\" \"APPLE\"", "plain", false, DBL_MAX, F, kHeader},
    {"header :value \"eq\" :comparator \"i;ascii-casemap\" \"X-Word\" \"APPLE\"", "plain", false, DBL_MAX, T, kHeader},
    {"header :value \"gt\" :comparator \"i;ascii-numeric\" \"X-Level\" \"40\"", "plain", false, DBL_MAX, T, kHeader},
    {"header :value \"lt\" :comparator \"i;ascii-numeric\" \"X-Level\" \"-1\"", "plain", false, DBL_MAX, T, kHeader},
    {"header :value \"gt\" :comparator \"i;ascii-numeric\" \"X-Level\" \"42\"", "plain", false, DBL_MAX, F, kHeader},
    // :is with the numeric comparator; the two keys share one sorted
    // dictionary whose first key is "100": only the second one holds.
    {"header :is :comparator \"i;ascii-numeric\" \"X-Level\" [\"42\", \"100\"]", "plain", false, DBL_MAX, T, kHeader},
    {"header :is :comparator \"i;ascii-numeric\" \"X-Level\" [\"41\", \"100\"]", "plain", false, DBL_MAX, F, kHeader},
    // :count: fields for header, addresses for address.
    {"header :count \"eq\" :comparator \"i;ascii-numeric\" \"To\" \"2\"", "plain", false, DBL_MAX, T, kHeader},
    {"header :count \"ge\" :comparator \"i;ascii-numeric\" \"To\" \"3\"", "plain", false, DBL_MAX, F, kHeader},
    {"address :count \"ge\" :comparator \"i;ascii-numeric\" \"To\" \"6\"", "plain", false, DBL_MAX, T, kHeader},
    {"address :count \"gt\" :comparator \"i;ascii-numeric\" \"To\" \"6\"", "plain", false, DBL_MAX, F, kHeader},
    // A name the message does not carry is false, :count "eq" 0 included.
    {"header :count \"eq\" :comparator \"i;ascii-numeric\" \"X-None\" \"0\"", "plain", false, DBL_MAX, F, kHeader},
    {"address :count \"eq\" :comparator \"i;ascii-numeric\" \"Bcc\" \"0\"", "plain", false, DBL_MAX, F, kHeader},
    // address parts.
    {"address :all :is \"Cc\" \"localonly@unspecified-domain\"", "plain", false, DBL_MAX, T, kHeader},
    {"address :localpart :is \"Cc\" \"localonly\"", "plain", false, DBL_MAX, T, kHeader},
    {"address :domain :is \"Cc\" \"unspecified-domain\"", "plain", false, DBL_MAX, F, kHeader},
    {"address :domain :is \"To\" \"example.net\"", "plain", false, DBL_MAX, T, kHeader},
    {"address :all :is \"From\" \"ann@example.org\"", "plain", false, DBL_MAX, T, kHeader},
    {"address :all :is \"From\" \"Ann Example\"", "plain", false, DBL_MAX, F, kHeader},
    {"address :value \"gt\" :all \"From\" [\"zz@x\", \"ANN@EXAMPLE.ORF\"]", "plain", false, DBL_MAX, T, kHeader},
    {"address :value \"eq\" :all \"From\" [\"zz@x\", \"ANN@EXAMPLE.ORG\"]", "plain", false, DBL_MAX, T, kHeader},
    {"address :value \"lt\" :all \"From\" \"ann@example.org\"", "plain", false, DBL_MAX, F, kHeader},
    // exists: every name.
    {"exists [\"from\", \"X-WORD\"]", "plain", false, DBL_MAX, T, kHeader},
    {"exists [\"From\", \"X-None\"]", "plain", false, DBL_MAX, F, kHeader},
    // envelope: the bound envelope only, no parse; none bound is an error.
    // "from" names the Return-path field, "to" the Recipient field.
    {"envelope :domain :is \"from\" \"lists.example.net\"", "plain", true, DBL_MAX, T, kNone},
    {"envelope :domain :is \"Return-Path\" \"lists.example.net\"", "plain", true, DBL_MAX, T, kNone},
    {"envelope :localpart :is \"to\" \"rcpt\"", "plain", true, DBL_MAX, T, kNone},
    {"envelope :all :is \"From\" \"ann@example.org\"", "plain", true, DBL_MAX, F, kNone},
    {"envelope :all :is \"To\" \"rcpt@example.org\"", "plain", false, DBL_MAX, E_SIEVE_NO_STRING_TEST_CALLBACK, kNone},
    // body :raw: the whole message as stored.
    {"body :raw :contains \"Content-Type: text/plain\"", "plain", false, DBL_MAX, T, kWhole},
    {"body :raw :contains \"a b\"", "plain", false, DBL_MAX, F, kWhole},
    // body :text: white space folded in plain text, HTML turned into text.
    {"body :text :is \"a b\"", "plain", false, DBL_MAX, T, kWhole},
    {"body :text :matches \"a*b \"", "plain", false, DBL_MAX, F, kWhole},
    {"body :text :contains \"<b>now\"", "html", false, DBL_MAX, T, kWhole},
    {"body :text :contains \"<p>\"", "html", false, DBL_MAX, F, kWhole},
    {"body :text :contains \"plain words\"", "html", false, DBL_MAX, T, kWhole},
    {"body :raw :contains \"<b>now\"", "html", false, DBL_MAX, F, kWhole},
    {"body :contains :content \"text/html\" \"<p>Cheap\"", "html", false, DBL_MAX, T, kWhole},
    {"body :contains :content \"text/html\" \"plain words\"", "html", false, DBL_MAX, F, kWhole},
    {"body :contains :content \"text\" \"<p>Cheap\"", "html", false, DBL_MAX, T, kWhole},
    {"body :contains :content \"text/plain\" \"<p>\"", "html", false, DBL_MAX, F, kWhole},
    {"body :contains :content \"application\" \"MZ\"", "attach", false, DBL_MAX, T, kWhole},
    {"body :contains :content \"image\" \"MZ\"", "attach", false, DBL_MAX, F, kWhole},
    // attachment: names of parts marked as attachments, not below others.
    {"attachment :matches \"*.exe\"", "attach", false, DBL_MAX, T, kWhole},
    {"attachment :matches \"*.scr\"", "attach", false, DBL_MAX, F, kWhole},
    {"attachment :is \"named.zip\"", "attach", false, DBL_MAX, T, kWhole},
    {"attachment :matches \"*\"", "plain", false, DBL_MAX, F, kWhole},
    // x_spamtest: the filter's spam value; NIL is no value.
    {"x_spamtest :value \"eq\" \"NIL\"", "plain", false, DBL_MAX, T, kNone},
    {"x_spamtest :value \"eq\" \"NIL\"", "plain", false, 0.5, F, kNone},
    {"x_spamtest :value \"ne\" \"NIL\"", "plain", false, DBL_MAX, F, kNone},
    {"x_spamtest :value \"gt\" \"0.25\"", "plain", false, 0.5, T, kNone},
    {"x_spamtest :value \"gt\" \"0.25\"", "plain", false, DBL_MAX, F, kNone},
    {"x_spamtest :value \"le\" \"0.5\"", "plain", false, 0.5, T, kNone},
    {"x_spamtest :value \"lt\" \"0.5\"", "plain", false, 0.5, F, kNone},
    // A message file that cannot be read is the parser's error.
    {"header :contains \"Subject\" \"x\"", "missing", false, DBL_MAX, ResultFromSystemError(ERROR_FILE_NOT_FOUND), kNone},
    {"body :raw :contains \"x\"", "missing", false, DBL_MAX, ResultFromSystemError(ERROR_FILE_NOT_FOUND), kNone},
};

class MsgFilterTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = dir / name;
    WriteFileBytes(path, bytes);
    return path;
  }
};

TEST_F(MsgFilterTest, EightTestsOverFixtureMessages) {
  const std::string envelope = Write("envelope.txt", kEnvelope);
  for (const TestRow& row : kRows) {
    SCOPED_TRACE(std::string(row.test) + " on " + row.message);
    CSieveScript script = Compiled(std::string("if ") + row.test + " { keep; }");
    const std::string bytes = Fixture(row.message);
    const std::string path = bytes.empty() ? dir / "absent.eml" : Write(std::string(row.message) + ".eml", bytes);

    // Bound by file: parsed only as far as the test needs.
    CRecordingFilter byFile;
    byFile.spam = row.spam;
    ASSERT_EQ(byFile.Initialize(dir.path().c_str()), S_OK);
    HRESULT run = byFile.Execute(script, path.c_str(), row.envelope ? envelope.c_str() : nullptr);
    EXPECT_EQ(Verdict(byFile, run), row.expected) << "by file";
    ASSERT_NE(byFile.GetMessage(), nullptr);
    EXPECT_EQ(byFile.GetMessage()->GetParseScope(), row.scope);
    if (row.scope == kHeader) {
      EXPECT_EQ(byFile.GetMessage()->GetParts(nullptr)->GetCount(), 0u);
    }
    if (bytes.empty()) continue;

    // Parsed in memory beforehand, as the spam test binds it.
    ParsedMessage parsed(bytes, dir.path());
    telsor::CRfc822Fields fields;
    ASSERT_EQ(telsor::CRfc822Parser::CreateFieldsCollection(kEnvelope, fields, 1), S_OK);
    CRecordingFilter inMemory;
    inMemory.spam = row.spam;
    run = inMemory.Execute(script, &parsed.message, row.envelope ? &fields : nullptr);
    EXPECT_EQ(Verdict(inMemory, run), row.expected) << "in memory";
    EXPECT_EQ(inMemory.GetFilterContext()->GetMessageFile(), nullptr);
  }
}

// ---- Relational comparisons against every key of a matcher

struct Keys {
  std::vector<std::unique_ptr<telsor::CSeekPattern>> owned;
  std::vector<const telsor::CSeekPattern*> array;
  SIEVE_KEYS get() {
    array.clear();
    for (auto& k : owned) array.push_back(k.get());
    array.push_back(nullptr);
    return array.data();
  }
};

// One dictionary of the words, as the key list of an :is test compiles.
Keys Dictionary(std::vector<const char*> words, int caseSensitive) {
  Keys keys;
  words.push_back(nullptr);
  auto* d = new telsor::CSeekDictionary;
  EXPECT_EQ(d->Compile(words.data(), caseSensitive), S_OK);
  keys.owned.emplace_back(d);
  return keys;
}

// One key, as the key list of a :value test compiles.
Keys Exact(const char* key, int caseSensitive) {
  Keys keys;
  auto* exact = new telsor::CSeekExactStr;
  EXPECT_EQ(exact->Compile(key, caseSensitive, 0), S_OK);
  keys.owned.emplace_back(exact);
  return keys;
}

TEST(MsgFilterRelational, EveryKeyOfAMatcherIsCompared) {
  // The dictionary sorts its words: only its second key matches.
  Keys numbers = Dictionary({"42", "100"}, 1);
  SIEVE_KEYS keys = numbers.get();
  ASSERT_EQ(keys[0]->GetCount(), 2u);
  ASSERT_STREQ(keys[0]->GetPattern(0), "100");
  EXPECT_EQ(telsor::RelationalValueCmp("level: 42", keys, COMPARATOR_ASCII_NUMERIC, RELATIONAL_EQ), S_SIEVE_TRUE);
  EXPECT_EQ(telsor::RelationalValueCmp("level: 43", keys, COMPARATOR_ASCII_NUMERIC, RELATIONAL_EQ), S_SIEVE_FALSE);
  EXPECT_EQ(telsor::RelationalCountCmp(42, keys, COMPARATOR_ASCII_NUMERIC, RELATIONAL_EQ), S_SIEVE_TRUE);
  EXPECT_EQ(telsor::RelationalCountCmp(42, keys, COMPARATOR_OCTET, RELATIONAL_EQ), S_SIEVE_TRUE);
  EXPECT_EQ(telsor::RelationalCountCmp(41, keys, COMPARATOR_ASCII_NUMERIC, RELATIONAL_EQ), S_SIEVE_FALSE);

  Keys addresses = Dictionary({"ann@example.org", "zed@example.org"}, 0);
  telsor::CRfc822Address zed("Zed <Zed@Example.org>");
  keys = addresses.get();
  ASSERT_STREQ(keys[0]->GetPattern(0), "ann@example.org");
  EXPECT_EQ(telsor::CmpAddress(&zed, ADDRESS_ALL, keys, MATCH_VALUE, RELATIONAL_EQ), 1);
  EXPECT_EQ(telsor::CmpAddress(&zed, ADDRESS_ALL, keys, MATCH_VALUE, RELATIONAL_LT), 0);
}

TEST(MsgFilterRelational, ComparatorsAndRelations) {
  struct Row {
    const char* value;
    const char* key;
    TYPE_COMPARATOR comparator;
    RELATIONAL_MATCH_TYPE relation;
    HRESULT expected;
  } rows[] = {
      {"Apple", "apple", COMPARATOR_OCTET, RELATIONAL_LT, S_SIEVE_TRUE},
      {"Apple", "apple", COMPARATOR_ASCII_CASEMAP, RELATIONAL_EQ, S_SIEVE_TRUE},
      {"Apple", "apple", COMPARATOR_ASCII_CASEMAP, RELATIONAL_NE, S_SIEVE_FALSE},
      {"x: 42", "40", COMPARATOR_ASCII_NUMERIC, RELATIONAL_GT, S_SIEVE_TRUE},
      {"x: 42", "-1", COMPARATOR_ASCII_NUMERIC, RELATIONAL_LT, S_SIEVE_TRUE},
      {"x: 42", " +42", COMPARATOR_ASCII_NUMERIC, RELATIONAL_EQ, S_SIEVE_TRUE},
      {"no digits", "0", COMPARATOR_ASCII_NUMERIC, RELATIONAL_EQ, S_SIEVE_TRUE},
      {"9", "10", COMPARATOR_ASCII_NUMERIC, RELATIONAL_LT, S_SIEVE_TRUE},
      {"9", "10", COMPARATOR_OCTET, RELATIONAL_GT, S_SIEVE_TRUE},
      // Beyond 32 bits a number stops at the signed limit.
      {"99999999999", "2147483647", COMPARATOR_ASCII_NUMERIC, RELATIONAL_EQ, S_SIEVE_TRUE},
      {"b", "a", COMPARATOR_OCTET, RELATIONAL_GE, S_SIEVE_TRUE},
      {"a", "a", COMPARATOR_OCTET, RELATIONAL_LE, S_SIEVE_TRUE},
      {"a", "a", COMPARATOR_OCTET, RELATIONAL_NONE, S_SIEVE_FALSE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.value) + " vs " + row.key);
    Keys keys = Exact(row.key, 1);
    EXPECT_EQ(telsor::RelationalValueCmp(row.value, keys.get(), row.comparator, row.relation), row.expected);
  }
  EXPECT_EQ(telsor::RelationalValueCmp("x", nullptr, COMPARATOR_OCTET, RELATIONAL_NE), S_SIEVE_FALSE);
}

TEST(MsgFilterRelational, AddressTextsByPart) {
  struct Row {
    const char* address;
    ADDRESS_PART part;
    const char* key;
    int expected;
  } rows[] = {
      {"a@b.example", ADDRESS_ALL, "a@b.example", 1},
      {"localonly", ADDRESS_ALL, "localonly@unspecified-domain", 1},
      {"localonly", ADDRESS_DOMAIN, "", 0},
      {"a@b.example", ADDRESS_LOCALPART, "a", 1},
      {"a@b.example", ADDRESS_DOMAIN, "b.example", 1},
      {"a@b.example", static_cast<ADDRESS_PART>(7), "a@b.example", 0},
      {"", ADDRESS_ALL, "@", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.address);
    telsor::CRfc822Address address(row.address);
    Keys keys = Exact(row.key, 0);
    EXPECT_EQ(telsor::CmpAddress(&address, row.part, keys.get(), MATCH_IS, RELATIONAL_NONE), row.expected);
  }
  telsor::CRfc822Address address("a@b");
  EXPECT_EQ(telsor::CmpAddress(&address, ADDRESS_ALL, nullptr, MATCH_IS, RELATIONAL_NONE), 0);
}

// ---- Lazy scopes and caches

TEST_F(MsgFilterTest, HeaderTestsParseTheHeaderOnlyAndBodyTestsParseOnce) {
  const std::string path = Write("html.eml", kHtml);
  CRecordingFilter filter;
  ASSERT_EQ(filter.Initialize(dir.path().c_str()), S_OK);
  ASSERT_EQ(filter.SetMessage(path.c_str(), nullptr), S_OK);
  EXPECT_EQ(filter.GetMessage()->GetParseScope(), kNone);

  EXPECT_EQ(filter.Execute(Compiled("if allof (header :contains \"Subject\" \"plain\", exists \"To\", "
                                    "address :domain :is \"From\" \"example.com\", size :over 10) { keep; }")),
            S_OK);
  EXPECT_EQ(filter.Actions(), "keep");
  EXPECT_EQ(filter.GetMessage()->GetParseScope(), kHeader);
  EXPECT_EQ(filter.GetMessage()->GetParts(nullptr)->GetCount(), 0u);
  ASSERT_NE(filter.GetFilterContext()->GetSubject(), nullptr);
  EXPECT_STREQ(filter.GetFilterContext()->GetSubject(), "plain subject");

  CSieveScript body = Compiled("if body :text :contains \"cheap\" { discard; }");
  EXPECT_EQ(filter.Execute(body), S_OK);
  EXPECT_EQ(filter.GetMessage()->GetParseScope(), kWhole);
  telsor::CRfc822Parts* parts = filter.GetMessage()->GetParts(nullptr);
  ASSERT_EQ(parts->GetCount(), 2u);   // the two alternatives
  telsor::CRfc822Part* top = parts->GetAt(parts->GetHeadPosition());
  // Both text parts converted once, under transform 1.
  EXPECT_EQ(filter.GetFilterContext()->GetBodyCache().size(), 2u);

  // Running again neither re-parses nor converts again.
  EXPECT_EQ(filter.Execute(body), S_OK);
  parts = filter.GetMessage()->GetParts(nullptr);
  EXPECT_EQ(parts->GetAt(parts->GetHeadPosition()), top);
  EXPECT_EQ(filter.GetFilterContext()->GetBodyCache().size(), 2u);
  EXPECT_EQ(filter.Actions(), "keep discard discard");
  // The header still answers after the whole parse.
  filter.actions.clear();
  EXPECT_EQ(filter.Execute(Compiled("if header :is \"subject\" \"plain subject\" { keep; }")), S_OK);
  EXPECT_EQ(filter.Actions(), "keep");
}

TEST_F(MsgFilterTest, CachedTextIsWhatTheKeysSee) {
  // A cache entry stands in for the part's conversion: a second body test
  // on the same binding searches the cached text, not the content again.
  const std::string path = Write("plain.eml", kPlain);
  CRecordingFilter filter;
  ASSERT_EQ(filter.SetMessage(path.c_str(), nullptr), S_OK);
  ASSERT_EQ(filter.Execute(Compiled("if body :text :is \"a b\" { keep; }")), S_OK);
  ASSERT_EQ(filter.Actions(), "keep");
  auto* cache = &filter.GetFilterContext()->GetBodyCache();
  ASSERT_EQ(cache->size(), 1u);
  cache->begin()->second = "replaced text";
  filter.actions.clear();
  ASSERT_EQ(filter.Execute(Compiled("if body :text :is \"replaced text\" { keep; }")), S_OK);
  EXPECT_EQ(filter.Actions(), "keep");
}

TEST_F(MsgFilterTest, UnparsedMessageBoundInMemoryGoesToAFileAndParsesLazily) {
  CRfc822Message message;
  ASSERT_EQ(message.PutContentAsString(reinterpret_cast<const unsigned char*>(kAttach), sizeof kAttach - 1), S_OK);
  CRecordingFilter filter;
  ASSERT_EQ(filter.Initialize(dir.path().c_str()), S_OK);
  ASSERT_EQ(filter.SetMessage(&message, nullptr), S_OK);
  const char* file = filter.GetFilterContext()->GetMessageFile();
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(std::string(file).compare(0, dir.path().size() + 1, dir.path() + "/"), 0) << file;
  EXPECT_EQ(filter.Execute(Compiled("if header :is \"Subject\" \"files\" { keep; }")), S_OK);
  EXPECT_EQ(message.GetParseScope(), kHeader);
  EXPECT_EQ(filter.Execute(Compiled("if attachment :matches \"*.EXE\" { discard; }")), S_OK);
  EXPECT_EQ(message.GetParseScope(), kWhole);
  EXPECT_EQ(filter.Actions(), "keep discard");
  // The message is the caller's: the filter lets it be.
  filter.FreeFilterContext();
  EXPECT_EQ(message.GetParseScope(), kWhole);
}

// ---- Bindings

TEST_F(MsgFilterTest, BindingsReleaseAndReplace) {
  const std::string plain = Write("plain.eml", kPlain);
  const std::string html = Write("html.eml", kHtml);
  CRecordingFilter filter;
  EXPECT_EQ(filter.GetMessage(), nullptr);
  ASSERT_EQ(filter.SetMessage(plain.c_str(), nullptr), S_OK);
  EXPECT_EQ(filter.setCount, 1);
  EXPECT_EQ(filter.Execute(Compiled("if header :contains \"Subject\" \"offer\" { keep; }")), S_OK);
  EXPECT_NE(filter.GetFilterContext()->GetSubject(), nullptr);

  // A second binding starts from nothing: new message, no cached Subject.
  ASSERT_EQ(filter.SetMessage(html.c_str(), nullptr), S_OK);
  EXPECT_EQ(filter.setCount, 2);
  EXPECT_STREQ(filter.GetFilterContext()->GetMessageFile(), html.c_str());
  EXPECT_EQ(filter.GetFilterContext()->GetSubject(), nullptr);
  EXPECT_EQ(filter.Execute(Compiled("if header :contains \"Subject\" \"offer\" { discard; }")), S_OK);
  EXPECT_EQ(filter.Actions(), "keep");

  // A null path leaves no message; a script then meets no callback.
  ASSERT_EQ(filter.SetMessage(static_cast<const char*>(nullptr), nullptr), S_OK);
  EXPECT_EQ(filter.GetMessage(), nullptr);
  EXPECT_EQ(filter.GetFilterContext(), nullptr);
  EXPECT_EQ(filter.setCount, 2);
  EXPECT_EQ(filter.Execute(Compiled("if exists \"To\" { keep; }")), E_SIEVE_NO_STRING_TEST_CALLBACK);
  EXPECT_EQ(filter.Execute(Compiled("keep;")), E_SIEVE_NO_ACTION_CALLBACK);
  EXPECT_EQ(filter.SetMessage(static_cast<CRfc822Message*>(nullptr), nullptr), E_POINTER);

  // The caller's message file is never removed.
  struct stat st;
  EXPECT_EQ(stat(plain.c_str(), &st), 0);
  EXPECT_EQ(stat(html.c_str(), &st), 0);
}

TEST_F(MsgFilterTest, EnvelopeFiles) {
  const std::string plain = Write("plain.eml", kPlain);
  CRecordingFilter filter;
  // Missing envelope file: 2 as a failing result, and nothing bound.
  EXPECT_EQ(filter.SetMessage(plain.c_str(), (dir / "none.txt").c_str()), ResultFromSystemError(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(filter.GetMessage(), nullptr);
  // A directory opens but cannot be read: its error, and nothing bound.
  EXPECT_EQ(filter.SetMessage(plain.c_str(), dir.path().c_str()), ResultFromSystemError(EISDIR));
  EXPECT_EQ(filter.GetMessage(), nullptr);
  // An empty file is an envelope without fields.
  const std::string empty = Write("empty.txt", "");
  ASSERT_EQ(filter.SetMessage(plain.c_str(), empty.c_str()), S_OK);
  ASSERT_NE(filter.GetEnvelope(), nullptr);
  EXPECT_EQ(filter.GetEnvelope()->GetCount(), 0u);
  EXPECT_EQ(filter.Execute(Compiled("if envelope :all :is \"from\" \"a@b\" { keep; }")), S_OK);
  EXPECT_EQ(filter.Actions(), "");
  // A good one is sorted by name.
  const std::string envelope = Write("envelope.txt", "X-B: 2\nReturn-Path: <a@b>\nX-A: 1\n");
  ASSERT_EQ(filter.SetMessage(plain.c_str(), envelope.c_str()), S_OK);
  ASSERT_NE(filter.GetEnvelope(), nullptr);
  EXPECT_EQ(filter.GetEnvelope()->GetOrder(), telsor::CRfc822Fields::ORDER_BY_NAME);
  EXPECT_EQ(filter.GetEnvelope()->GetCount(), 3u);
  EXPECT_STREQ((*filter.GetEnvelope())[0].GetName().c_str(), "Return-Path");
  // An envelope bound with a message object is sorted too.
  telsor::CRfc822Fields fields;
  fields.Add("To", "x@y");
  fields.Add("From", "a@b");
  CRfc822Message message;
  ASSERT_EQ(filter.SetMessage(&message, &fields), S_OK);
  EXPECT_EQ(fields.GetOrder(), telsor::CRfc822Fields::ORDER_BY_NAME);
  EXPECT_EQ(filter.GetEnvelope(), &fields);
}

TEST_F(MsgFilterTest, UnreadableEnvelopeFileGivesTheSystemError) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads any file";
  const std::string plain = Write("plain.eml", kPlain);
  const std::string envelope = Write("envelope.txt", kEnvelope);
  ASSERT_EQ(chmod(envelope.c_str(), 0), 0);
  CRecordingFilter filter;
  EXPECT_EQ(filter.SetMessage(plain.c_str(), envelope.c_str()), 13);   // EACCES
  EXPECT_EQ(filter.GetMessage(), nullptr);
}

// ---- Action trampolines

TEST_F(MsgFilterTest, ActionsReachTheVirtualOperations) {
  const std::string plain = Write("plain.eml", kPlain);
  struct Row {
    const char* script;
    HRESULT result;
    const char* actions;
  } rows[] = {
      {"fileinto \"Junk\"; redirect \"a@b\"; keep; discard; vacation :days 3 :subject \"s\" \"away\"; stop;", S_OK,
       "vacation(null,3,0,s,away) fileinto[Junk] redirect[a@b] keep discard stop"},
      {"reject \"no thanks\";", S_OK, "reject(no thanks)"},
      {"if header :contains \"Subject\" \"offer\" { discard; stop; } keep;", S_OK, "discard stop"},
      // A failing action ends the run with its code; later ones are not called.
      {"fileinto \"fail\"; keep;", E_FAIL, "fileinto[fail]"},
      // Conflicts are refused before any action.
      {"keep; reject \"x\";", E_SIEVE_REJECT_CONFLICT, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.script);
    CRecordingFilter filter;
    if (strstr(row.script, "fail") != nullptr) filter.failWith = E_FAIL;
    EXPECT_EQ(filter.Execute(Compiled(row.script), plain.c_str(), nullptr), row.result);
    EXPECT_EQ(filter.Actions(), row.actions);
  }
}

TEST_F(MsgFilterTest, TheBaseFilterDoesNothingAndHasNoSpamValue) {
  const std::string plain = Write("plain.eml", kPlain);
  CMsgFilter filter;
  EXPECT_EQ(filter.XSpamTest(), DBL_MAX);
  ASSERT_EQ(filter.SetMessage(plain.c_str(), nullptr), S_OK);
  EXPECT_EQ(filter.Execute(Compiled("if x_spamtest :value \"eq\" \"NIL\" { fileinto \"a\"; redirect \"b@c\"; "
                                    "keep; discard; vacation \"r\"; stop; }")),
            S_OK);
  // The interpreter context names the filter for actions and the context for tests.
  EXPECT_EQ(filter.GetInterpContext().actionUserData, &filter);
  EXPECT_EQ(filter.GetInterpContext().testUserData, filter.GetFilterContext());
  EXPECT_EQ(filter.GetFilterContext()->GetFilter(), &filter);
}

// ---- Failures on the way

class CThrowingFilter : public CRecordingFilter {
 public:
  double XSpamTest() override { telsor::ThrowCode(0xE00A0099u); }
};

TEST_F(MsgFilterTest, FailuresBecomeTheRunsResult) {
  // The content's file vanished after the binding: the raw body test gives
  // the system's error instead of an answer.
  const std::string path = Write("gone.eml", kPlain);
  CRfc822Message message;
  CSharedObjPtr<telsor::CSharedTmpFile> file = new telsor::CSharedTmpFile(path.c_str(), FALSE);
  message.PutContentAsFile(file);
  message.PutParseScope(telsor::PARSE_SCOPE_FULL);
  CRecordingFilter filter;
  ASSERT_EQ(filter.SetMessage(&message, nullptr), S_OK);
  ASSERT_EQ(remove(path.c_str()), 0);
  EXPECT_EQ(filter.Execute(Compiled("if body :raw :contains \"x\" { keep; }")), ResultFromSystemError(ENOENT));
  // No parts below the message: no content type is found.
  EXPECT_EQ(filter.Execute(Compiled("if body :contains :content \"text\" \"\" { keep; }")), S_OK);
  EXPECT_EQ(filter.Actions(), "");

  // A spam value that throws ends the run without actions.
  const std::string plain = Write("plain.eml", kPlain);
  CThrowingFilter throwing;
  EXPECT_EQ(throwing.Execute(Compiled("keep; if x_spamtest :value \"gt\" \"0\" { discard; }"), plain.c_str(),
                             nullptr),
            static_cast<HRESULT>(0xE00A0099u));
  EXPECT_EQ(throwing.Actions(), "");
}

// ---- Whole scripts against parsed messages

TEST_F(MsgFilterTest, WholeScriptsEndToEnd) {
  const std::string script =
      "require [\"fileinto\", \"body\", \"attachment\", \"x_spamtest\"];\n"
      "if anyof (attachment :matches [\"*.exe\", \"*.scr\"], body :text :contains \"free money\") {\n"
      "  fileinto \"Quarantine\";\n"
      "  stop;\n"
      "} elsif allof (address :domain :is \"From\" \"example.org\", not exists \"X-Spam\",\n"
      "               header :count \"ge\" :comparator \"i;ascii-numeric\" \"To\" \"2\") {\n"
      "  fileinto [\"Friends\", \"Archive\"];\n"
      "} elsif x_spamtest :value \"ge\" \"0.9\" {\n"
      "  discard;\n"
      "} else {\n"
      "  keep;\n"
      "}\n";
  CSieveScript compiled = Compiled(script);
  struct Row {
    const char* message;
    double spam;
    const char* actions;
  } rows[] = {
      {"attach", DBL_MAX, "fileinto[Quarantine] stop"},
      {"plain", DBL_MAX, "fileinto[Friends,Archive]"},
      {"html", 0.95, "discard"},
      {"html", 0.5, "keep"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.message) + " " + std::to_string(row.spam));
    ParsedMessage parsed(Fixture(row.message), dir.path());
    CRecordingFilter filter;
    filter.spam = row.spam;
    EXPECT_EQ(filter.Execute(compiled, &parsed.message, nullptr), S_OK);
    EXPECT_EQ(filter.Actions(), row.actions);
  }
  // The HTML converter separates block elements, so the two paragraphs read
  // as "Cheap pills" only after conversion.
  ParsedMessage html(kHtml, dir.path());
  CRecordingFilter filter;
  EXPECT_EQ(filter.Execute(Compiled("if body :text :contains \"cheap pills\" { keep; }"), &html.message, nullptr),
            S_OK);
  EXPECT_EQ(filter.Actions(), "keep");
}

TEST_F(MsgFilterTest, ScriptsRunOneAfterAnotherOnOneBinding) {
  const std::string plain = Write("plain.eml", kPlain);
  CRecordingFilter filter;
  ASSERT_EQ(filter.SetMessage(plain.c_str(), nullptr), S_OK);
  const char* scripts[] = {"if header :contains \"Subject\" \"offer\" { fileinto \"A\"; }",
                           "if size :over 1M { discard; }", "if body :text :is \"a b\" { keep; }"};
  for (const char* text : scripts) EXPECT_EQ(filter.Execute(Compiled(text)), S_OK) << text;
  EXPECT_EQ(filter.Actions(), "fileinto[A] keep");
  EXPECT_EQ(filter.setCount, 1);
}

}  // namespace

namespace {

// Empty keys survive the compiled form: a script compiled by
// CompileScriptContent and loaded again keeps a message with an empty Cc
// exactly as the parsed script does, and prints the same.
TEST_F(MsgFilterTest, EmptyKeysSurviveTheCompiledForm) {
  const std::string bytes = "From: a@b.c\r\nCc: \r\nSubject: hi\r\n\r\nbody\r\n";
  const std::string withCc = "From: a@b.c\r\nCc: x@y.z\r\nSubject: hi\r\n\r\nbody\r\n";
  const char* const scripts[] = {
      "if header :matches \"Cc\" \"\" { keep; }",
      "if header :is \"Cc\" \"\" { keep; }",
      "if header :contains \"Cc\" \"\" { keep; }",
      "if header :regex \"Cc\" \"\" { keep; }",
      "if header :is \"Cc\" [\"\", \"nobody\"] { keep; }",
  };
  for (const char* text : scripts) {
    SCOPED_TRACE(text);
    CSieveScript parsed = Compiled(text);
    telsor::TSTRING compiled;
    ASSERT_EQ(telsor::CompileScriptContent(text, compiled), S_OK);
    CSieveScript loaded;
    ASSERT_EQ(rec::Load(std::string(compiled.c_str(), static_cast<size_t>(compiled.GetLength())), loaded), S_OK);
    telsor::TSTRING a, b;
    ASSERT_EQ(parsed.PrintToString(a), S_OK);
    ASSERT_EQ(loaded.PrintToString(b), S_OK);
    EXPECT_STREQ(a.c_str(), b.c_str());
    for (const std::string* message : {&bytes, &withCc}) {
      ParsedMessage m(*message, dir.path());
      CRecordingFilter first, second;
      EXPECT_EQ(first.Execute(parsed, &m.message, nullptr), S_OK);
      EXPECT_EQ(second.Execute(loaded, &m.message, nullptr), S_OK);
      EXPECT_EQ(second.Actions(), first.Actions());
      if (message == &bytes && text == scripts[0]) {
        EXPECT_EQ(first.Actions(), "keep");
      }
    }
  }
  // The :matches run: kept with the empty Cc, not with a full one.
  ParsedMessage full(withCc, dir.path());
  CRecordingFilter filter;
  EXPECT_EQ(filter.Execute(Compiled(scripts[0]), &full.message, nullptr), S_OK);
  EXPECT_EQ(filter.Actions(), "");
}

}  // namespace
