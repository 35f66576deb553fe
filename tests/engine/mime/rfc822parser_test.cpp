// The parser session: its temporary folder, the temporary files it makes
// (counted in a private folder), a session without a folder; and the header
// blocks read without a part: field collections and raw header blocks.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "common/teststream.h"
#include "common/tempdir.h"
#include "foundation/tstringasistream.h"
#include "mime/mimeresults.h"
#include "mime/rfc822parser.h"
#include "mimetestutil.h"
#include "sessiontestutil.h"

using namespace telsor;
using mime_test::ScopedEnv;
using mime_test::Str;
using mime_test::ThrownCode;
using telsor_test::TempDir;

namespace {

std::vector<std::string> Files(const std::string& dir) { return mime_test::FilesIn(dir); }

TEST(ParserSession, TemporaryFilesLiveAsLongAsTheirReferences) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  EXPECT_EQ(parser->OpenSession(dir.path().c_str()), S_OK);
  {
    CSharedObjPtr<CSharedTmpFile> msg = parser->GetTmpFile("MSG");
    CSharedObjPtr<CSharedTmpFile> bdy = parser->GetTmpFile("BDY");
    CSharedObjPtr<CSharedTmpFile> res = parser->GetTmpFile("RES");
    std::vector<std::string> names = Files(dir.path());
    ASSERT_EQ(names.size(), 3u);
    std::set<std::string> prefixes;
    for (const std::string& name : names) {
      prefixes.insert(name.substr(0, 3));
      EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
      EXPECT_EQ(name.find_first_not_of("0123456789abcdef", 3), name.size() - 4) << name;
    }
    EXPECT_EQ(prefixes, (std::set<std::string>{"MSG", "BDY", "RES"}));
    EXPECT_EQ(std::string(msg->GetFileName()).rfind(dir.path() + "/MSG", 0), 0u) << msg->GetFileName();
    EXPECT_TRUE(msg->GetDeleteFlag());
    // The file outlives the session while a reference holds it.
    CSharedObjPtr<CSharedTmpFile> copy = bdy;
    parser = nullptr;
    msg = nullptr;
    EXPECT_EQ(Files(dir.path()).size(), 2u);
    bdy = nullptr;
    EXPECT_EQ(Files(dir.path()).size(), 2u);
    copy = nullptr;
    EXPECT_EQ(Files(dir.path()).size(), 1u);
  }
  EXPECT_EQ(Files(dir.path()).size(), 0u);
}

TEST(ParserSession, CallersFileIsNeverRemoved) {
  TempDir dir;
  telsor_test::WriteFileBytes(dir / "message.eml", "Subject: x\r\n\r\nbody");
  {
    CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile((dir / "message.eml").c_str(), 0);
    CSharedObjPtr<CSharedTmpFile> copy = file;
  }
  EXPECT_EQ(telsor_test::ReadFileBytes(dir / "message.eml"), "Subject: x\r\n\r\nbody");
  CSharedObjPtr<CSharedTmpFile> none = new CSharedTmpFile(nullptr, 1);
  EXPECT_EQ(none->GetFileName(), nullptr);
}

TEST(ParserSession, NamesTakeThreeCharactersAndOneSlash) {
  TempDir dir;
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  EXPECT_EQ(parser->OpenSession(dir.path().c_str()), S_OK);  // no trailing slash
  CSharedObjPtr<CSharedTmpFile> a = parser->GetTmpFile("BODYPART");
  EXPECT_EQ(std::string(a->GetFileName()).substr(0, dir.path().size() + 4), dir.path() + "/BOD");
  CSharedObjPtr<CRfc822Parser> slashed = new CRfc822Parser;
  EXPECT_EQ(slashed->OpenSession((dir.path() + "/").c_str()), S_OK);
  CSharedObjPtr<CSharedTmpFile> b = slashed->GetTmpFile("X");
  EXPECT_EQ(std::string(b->GetFileName()).substr(0, dir.path().size() + 2), dir.path() + "/X");
  EXPECT_EQ(std::string(b->GetFileName()).find("//"), std::string::npos);
  EXPECT_EQ(ThrownCode([&] { parser->GetTmpFile(nullptr); }), static_cast<DWORD>(EINVAL));
}

TEST(ParserSession, ManyFilesAtOnceGetDistinctNames) {
  TempDir dir;
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  EXPECT_EQ(parser->OpenSession(dir.path().c_str()), S_OK);
  std::vector<CSharedObjPtr<CSharedTmpFile>> files;
  std::set<std::string> names;
  for (int i = 0; i < 1000; ++i) {
    files.push_back(parser->GetTmpFile("BDY"));
    names.insert(files.back()->GetFileName());
  }
  EXPECT_EQ(names.size(), 1000u);
  EXPECT_EQ(Files(dir.path()).size(), 1000u);
  files.clear();
  EXPECT_EQ(Files(dir.path()).size(), 0u);
}

TEST(ParserSession, OpenSessionWithoutFolderTakesTheSystemFolder) {
  TempDir dir;
  ScopedEnv tmp("TMP", dir.path().c_str());
  for (const char* arg : {static_cast<const char*>(nullptr), ""}) {
    CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
    EXPECT_EQ(parser->OpenSession(arg), S_OK);
    EXPECT_EQ(Str(parser->GetTempDir()), dir.path() + "/");
    CSharedObjPtr<CSharedTmpFile> f = parser->GetTmpFile("MSG");
    EXPECT_EQ(Files(dir.path()).size(), 1u);
  }
}

// Without a usable folder the session refuses to make files instead of
// making them in the root folder.
TEST(ParserSession, NoUsableFolderRefusesFiles) {
  std::string tooLong(MAX_PATH + 10, 'd');
  ScopedEnv tmp("TMP", ("/" + tooLong).c_str());
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  EXPECT_EQ(parser->OpenSession(nullptr), S_OK);
  EXPECT_TRUE(parser->GetTempDir().IsEmpty());
  std::vector<std::string> rootBefore = Files("/");
  EXPECT_EQ(ThrownCode([&] { parser->GetTmpFile("BDY"); }), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(Files("/"), rootBefore);
  // A session never opened has no folder either.
  CSharedObjPtr<CRfc822Parser> unopened = new CRfc822Parser;
  EXPECT_EQ(ThrownCode([&] { unopened->GetTmpFile("BDY"); }), static_cast<DWORD>(ENOENT));
  // Nor is the root folder taken when it is given.
  CSharedObjPtr<CRfc822Parser> root = new CRfc822Parser;
  EXPECT_EQ(root->OpenSession("/"), S_OK);
  EXPECT_EQ(ThrownCode([&] { root->GetTmpFile("BDY"); }), static_cast<DWORD>(ENOENT));
  EXPECT_EQ(Files("/"), rootBefore);
}

TEST(ParserSession, MissingFolderGivesTheSystemError) {
  TempDir dir;
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  EXPECT_EQ(parser->OpenSession((dir / "missing").c_str()), S_OK);
  EXPECT_EQ(ThrownCode([&] { parser->GetTmpFile("BDY"); }), static_cast<DWORD>(ENOENT));
}

TEST(ParserSession, SplitAndStripAddress) {
  CRfc822Address address;
  CRfc822Parser::SplitAndStripAddress("Help Desk <JS@Host>", address);
  EXPECT_EQ(Str(address.GetAddress()), "JS@host");
  EXPECT_EQ(Str(address.GetFullName()), "Help Desk");
  CRfc822Parser::SplitAndStripAddress(nullptr, address);
  EXPECT_TRUE(address.GetAddress().IsEmpty());
  EXPECT_TRUE(address.GetFullName().IsEmpty());
}

TEST(ParserSession, LimitStartsAtZero) {
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  EXPECT_EQ(parser->GetMaxContentSizeInMemory(), 0u);
  parser->PutMaxContentSizeInMemory(4194304);
  EXPECT_EQ(parser->GetMaxContentSizeInMemory(), 4194304u);
  EXPECT_TRUE(parser->GetTempDir().IsEmpty());
}

// ---- field collections from header text

std::vector<std::pair<std::string, std::string>> Pairs(const CRfc822Fields& fields) {
  std::vector<std::pair<std::string, std::string>> out;
  for (ULONG i = 0; i < fields.GetCount(); ++i) {
    const CRfc822Field& f = fields[static_cast<LONG>(i)];
    out.emplace_back(Str(f.GetName()), Str(f.GetContents()));
  }
  return out;
}

TEST(HeaderBlock, CreateFieldsCollectionSkippingWhiteSpace) {
  const char* text = "\r\n  From: a\r\n\r\nTo: b\r\n\r\n\r\nSubject: c\r\n d\r\n";
  CRfc822Fields skipping;
  EXPECT_EQ(CRfc822Parser::CreateFieldsCollection(text, skipping, 1), S_OK);
  EXPECT_EQ(Pairs(skipping), (std::vector<std::pair<std::string, std::string>>{
                                 {"From", "a"}, {"To", "b"}, {"Subject", "cd"}}));
  const char* plain = "From: a\r\n\r\nTo: b\r\n";
  CRfc822Fields notSkipping;
  EXPECT_EQ(CRfc822Parser::CreateFieldsCollection(plain, notSkipping, 0), S_OK);
  EXPECT_EQ(Pairs(notSkipping), (std::vector<std::pair<std::string, std::string>>{{"From", "a"}}));
}

TEST(HeaderBlock, CreateFieldsCollectionAppendsAndCleansNames) {
  CRfc822Fields fields;
  fields.Add("Existing", "e");
  EXPECT_EQ(CRfc822Parser::CreateFieldsCollection(nullptr, fields, 0), S_OK);
  EXPECT_EQ(fields.GetCount(), 1u);
  EXPECT_EQ(CRfc822Parser::CreateFieldsCollection("(c)To: a  \r\nCc:\t b\r\n", fields, 0), S_OK);
  EXPECT_EQ(Pairs(fields), (std::vector<std::pair<std::string, std::string>>{
                               {"Existing", "e"}, {"To", "a"}, {"Cc", "b"}}));
  EXPECT_EQ(fields[2].GetIndex(), 2u);
}

TEST(HeaderBlock, CreateFieldsCollectionStopsQuietlyAtALongName) {
  std::string text = "To: a\r\n" + std::string(1024, 'N') + ": v\r\nCc: b\r\n";
  CRfc822Fields fields;
  EXPECT_EQ(CRfc822Parser::CreateFieldsCollection(text.c_str(), fields, 0), S_OK);
  EXPECT_EQ(Pairs(fields), (std::vector<std::pair<std::string, std::string>>{{"To", "a"}}));
}

// ---- raw header blocks

HRESULT Extract(const std::string& text, TSTRING& headers, size_t skip = 0) {
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  CTestStream stream(text);
  stream.pos = skip;
  return parser->ExtractHeaders(&stream, headers);
}

TEST(HeaderBlock, ExtractHeadersTable) {
  struct {
    std::string text;
    size_t skip;
    std::string headers;
  } rows[] = {
      {"From: a\r\nSubject: b\r\n c\r\n\r\nbody\r\n", 0, "From: a\r\nSubject: b\r\n c"},
      {"\r\nFrom: a\r\n\r\n", 0, ""},
      {"From: a\r\nTo: b\r\n", 0, "From: a\r\nTo: b\r\n"},  // no empty line: up to the end
      {"xxxxFrom: a\r\n\r\nbody", 4, "From: a"},          // from the stream's position
      {"From: a\nTo: b\n\nNote: body\n", 0, "From: a\nTo: b"},
      {"From: a\r\nbad line\r\n\r\nbody", 0, "From: a\r\n"},
  };
  for (const auto& row : rows) {
    TSTRING headers("unchanged?");
    EXPECT_EQ(Extract(row.text, headers, row.skip), S_OK);
    EXPECT_EQ(Str(headers), row.headers) << mime_test::Show(row.text);
  }
}

TEST(HeaderBlock, ExtractHeadersNameLimit) {
  for (size_t n : {1023u, 1024u}) {
    std::string text = "To: a\r\n" + std::string(n, 'N') + ": v\r\n\r\nbody";
    TSTRING headers("before");
    HRESULT hr = Extract(text, headers);
    if (n == 1023) {
      EXPECT_EQ(hr, S_OK);
      EXPECT_EQ(Str(headers), text.substr(0, text.find("\r\n\r\n")));
    } else {
      EXPECT_EQ(hr, E_MIME_NAME_TOO_LONG);
      EXPECT_EQ(Str(headers), "before");
    }
  }
}

TEST(HeaderBlock, ExtractHeadersFailures) {
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  CTestStream failing(std::string(6000, 'a'));
  failing.maxChunk = 100;
  failing.failReadAt = 3000;
  TSTRING headers("before");
  EXPECT_EQ(parser->ExtractHeaders(&failing, headers), failing.failure);
  EXPECT_EQ(Str(headers), "before");
  EXPECT_EQ(parser->ExtractHeaders(static_cast<IStream*>(nullptr), headers), E_POINTER);
  TempDir dir;
  EXPECT_EQ(parser->ExtractHeaders((dir / "missing.eml").c_str(), headers), E_FAIL);
  telsor_test::WriteFileBytes(dir / "m.eml", "Subject: s\r\nTo: t\r\n\r\nbody");
  EXPECT_EQ(parser->ExtractHeaders((dir / "m.eml").c_str(), headers), S_OK);
  EXPECT_EQ(Str(headers), "Subject: s\r\nTo: t");
}

}  // namespace
