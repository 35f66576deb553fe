// The part tree and the message: numbering, locators, walking, deleting,
// lazy header fields, assignment and deep copies (with the temporary files
// that copies share, counted in a private folder), and the guards that keep
// a copy into its own tree from deleting what it copies.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/tempdir.h"
#include "mime/bodypart.h"
#include "mime/message.h"
#include "mime/rfc822parser.h"
#include "mimetestutil.h"
#include "sessiontestutil.h"

using namespace telsor;
using mime_test::FilesIn;
using mime_test::Str;
using mime_test::ThrownCode;
using telsor_test::ReadFileBytes;
using telsor_test::TempDir;
using telsor_test::WriteFileBytes;

namespace {

std::string Locator(const CRfc822Part* part) {
  TSTRING text;
  part->GetPartLocator(text);
  return Str(text);
}

std::vector<ULONG> Numbers(CRfc822Part& part) {
  std::vector<ULONG> numbers;
  CRfc822Parts* parts = part.GetParts(nullptr);
  for (void* pos = parts->GetHeadPosition(); pos != nullptr;) numbers.push_back(parts->GetNext(pos)->GetPartNumber());
  return numbers;
}

CRfc822Part* Child(CRfc822Part& part, int index) {
  CRfc822Parts* parts = part.GetParts(nullptr);
  void* pos = parts->GetHeadPosition();
  for (int i = 0; i < index && pos != nullptr; ++i) parts->GetNext(pos);
  return pos != nullptr ? parts->GetAt(pos) : nullptr;
}

std::string Content(CRfc822Part& part) {
  ULONG n = 0;
  const unsigned char* p = part.GetContentAsString(n);
  return std::string(reinterpret_cast<const char*>(p), n);
}

// A file of the engine's own in dir (removed with its last reference).
CSharedObjPtr<CSharedTmpFile> OwnFile(const TempDir& dir, const std::string& bytes) {
  CSharedObjPtr<CSharedTmpFile> file = CSharedTmpFile::Create(dir.path().c_str(), "BDY");
  WriteFileBytes(file->GetFileName(), bytes);
  return file;
}

std::vector<std::string> Visits;
bool Record(CRfc822Part* part, void* stopAt) {
  Visits.push_back(Locator(part));
  return part != stopAt;
}

TEST(MessageTree, NewMessageDefaults) {
  CRfc822Message m;
  EXPECT_EQ(m.GetMimeFormatted(), 1);
  EXPECT_EQ(m.GetParser(), nullptr);
  SYSTEMTIME zero = {};
  EXPECT_EQ(memcmp(&m.ReceivedTime(), &zero, sizeof zero), 0);
  EXPECT_EQ(m.From().GetCount() + m.To().GetCount() + m.Cc().GetCount() + m.Bcc().GetCount() + m.ReplyTo().GetCount(),
            0);
  EXPECT_TRUE(m.Subject().IsEmpty() && m.Priority().IsEmpty() && m.MessageID().IsEmpty());
  EXPECT_EQ(m.GetPartNumber(), 0u);
  EXPECT_EQ(m.GetNextChildNumber(), 1u);
  EXPECT_EQ(m.GetDepth(), 0u);
  EXPECT_EQ(m.GetParent(), nullptr);
  EXPECT_EQ(m.GetParseScope(), PARSE_SCOPE_STRUCTURE);
  EXPECT_EQ(m.IsAttachment(), 0);
  EXPECT_EQ(m.GetAnomalyFlags(), 0u);
  EXPECT_TRUE(m.GetContentMediaType().IsEmpty());
  EXPECT_TRUE(m.GetContent().IsEmpty());
  EXPECT_EQ(m.GetContentClass(), CRfc822Part::CONTENT_CLASS_MESSAGE);
  CRfc822BodyPart b;
  EXPECT_EQ(b.GetContentClass(), CRfc822Part::CONTENT_CLASS_BODY_PART);
  EXPECT_EQ(b.GetAppleFile(), nullptr);
  DWORD err = 7;
  EXPECT_NE(m.GetParts(&err), nullptr);
  EXPECT_EQ(err, 0u);
}

TEST(MessageTree, ChildrenAreNumberedInAddOrderAndNeverRenumbered) {
  CRfc822Message root;
  CRfc822BodyPart* a = root.AddBodyPart(-1);
  CRfc822Message* b = root.AddMessage(17);  // the position is not used
  CRfc822BodyPart* c = root.AddBodyPart(0);
  EXPECT_EQ(Numbers(root), (std::vector<ULONG>{1, 2, 3}));
  for (CRfc822Part* p : {static_cast<CRfc822Part*>(a), static_cast<CRfc822Part*>(b), static_cast<CRfc822Part*>(c)}) {
    EXPECT_EQ(p->GetDepth(), 1u);
    EXPECT_EQ(p->GetParent(), &root);
  }
  EXPECT_EQ(b->AddBodyPart(-1)->GetDepth(), 2u);
  root.DeletePart(b);
  EXPECT_EQ(Numbers(root), (std::vector<ULONG>{1, 3}));
  EXPECT_EQ(root.AddBodyPart(-1)->GetPartNumber(), 4u);
  root.RemoveParts();
  EXPECT_TRUE(root.GetParts(nullptr)->IsEmpty());
  EXPECT_EQ(root.AddBodyPart(-1)->GetPartNumber(), 5u);
  root.Clear();
  EXPECT_EQ(root.AddMessage(-1)->GetPartNumber(), 6u);
}

TEST(MessageTree, DeletePartReachesAnyPartAndIgnoresRootsAndNull) {
  CRfc822Message root;
  CRfc822Message* inner = root.AddMessage(-1);
  CRfc822BodyPart* deep = inner->AddBodyPart(-1);
  deep->AddBodyPart(-1);
  inner->AddBodyPart(-1);
  root.DeletePart(deep);  // not a child of root: removed from inner with its subtree
  EXPECT_EQ(Numbers(*inner), (std::vector<ULONG>{2}));
  root.DeletePart(nullptr);
  root.DeletePart(&root);  // a part without a parent: nothing
  CRfc822Message other;
  inner->DeletePart(&other);
  EXPECT_EQ(Numbers(root), (std::vector<ULONG>{1}));
  EXPECT_EQ(root.GetParent(), nullptr);
}

TEST(MessageTree, Locators) {
  CRfc822Message root;
  CRfc822Message* first = root.AddMessage(-1);
  first->AddBodyPart(-1);
  first->AddBodyPart(-1);
  CRfc822BodyPart* third = first->AddBodyPart(-1);
  EXPECT_EQ(Locator(&root), "");
  EXPECT_EQ(Locator(first), "1.");
  EXPECT_EQ(Locator(third), "1.3.");
  TSTRING text("x=");
  third->GetPartLocator(text);
  EXPECT_EQ(Str(text), "x=1.3.");

  CRfc822BodyPart* deep = third->AddBodyPart(-1);
  struct {
    const char* locator;
    CRfc822Part* expected;
  } const cases[] = {
      {"1.3.", third},  {"1.3", third},  {"..1..3..", third}, {"1.3.1", deep}, {" 1.+3", third},
      {".", &root},     {"...", &root},  {"1", first},        {"2", nullptr},  {"1.4", nullptr},
      {"a", nullptr},   {"1.x", nullptr}, {"1.3.1.1", nullptr}, {"-1", nullptr},
  };
  for (const auto& c : cases) {
    DWORD err = 99;
    EXPECT_EQ(root.LocatePart(c.locator, &err), c.expected) << c.locator;
    EXPECT_EQ(err, 0u);
    // From an embedded message of the same tree: the same answer.
    EXPECT_EQ(first->LocatePart(c.locator, nullptr), c.expected) << c.locator;
  }
  EXPECT_EQ(root.LocatePart("", nullptr), &root);
  EXPECT_EQ(root.LocatePart(nullptr, nullptr), &root);
  EXPECT_EQ(first->LocatePart("", nullptr), nullptr);
  // Every part's locator leads back to it.
  for (CRfc822Part* p : {static_cast<CRfc822Part*>(first), static_cast<CRfc822Part*>(third),
                         static_cast<CRfc822Part*>(deep)})
    EXPECT_EQ(root.LocatePart(Locator(p).c_str(), nullptr), p);
}

TEST(MessageTree, ForEachPartIsPreOrderAndStops) {
  CRfc822Message root;
  CRfc822BodyPart* a = root.AddBodyPart(-1);
  CRfc822BodyPart* a1 = a->AddBodyPart(-1);
  root.AddBodyPart(-1);
  Visits.clear();
  EXPECT_TRUE(ForEachPart(&root, Record, nullptr));
  EXPECT_EQ(Visits, (std::vector<std::string>{"", "1.", "1.1.", "2."}));
  Visits.clear();
  EXPECT_FALSE(ForEachPart(&root, Record, a1));
  EXPECT_EQ(Visits, (std::vector<std::string>{"", "1.", "1.1."}));
  EXPECT_FALSE(ForEachPart(&root, nullptr, nullptr));
}

TEST(MessageTree, ContentFields) {
  CRfc822BodyPart p;
  p.PutContentMediaType("text", "plain");
  EXPECT_EQ(Str(p.GetContentMediaType()), "text/plain");
  p.PutContentMediaType("text", nullptr);
  EXPECT_EQ(Str(p.GetContentMediaType()), "text/");
  p.PutContentDisposition("inline");
  EXPECT_EQ(p.IsAttachment(), 0);
  p.PutContentDisposition("Attachment");
  EXPECT_EQ(p.IsAttachment(), 1);
  p.PutContentDisposition("inline");
  EXPECT_EQ(p.IsAttachment(), 1);
  EXPECT_EQ(Str(p.GetContentDisposition()), "inline");
  p.PutCharset(nullptr);
  EXPECT_TRUE(p.GetCharset().IsEmpty());
  EXPECT_EQ(p.PutContentAsString("abc"), S_OK);
  EXPECT_EQ(p.PutContentAsString(nullptr, 5), S_OK);
  EXPECT_TRUE(p.GetContent().IsEmpty());
  EXPECT_EQ(Content(p), "");
}

TEST(MessageTree, FieldsAreBuiltOnceFromTheRawHeader) {
  CRfc822BodyPart p;
  p.PutHeaders("Zeta: 1\r\nAlpha: 2\r\nMid: 3\r\n");
  CRfc822Fields& kept = p.GetFields(CRfc822Fields::ORDER_KEEP);
  ASSERT_EQ(kept.GetCount(), 3u);
  EXPECT_EQ(Str(kept[0].GetName()), "Zeta");
  CRfc822Fields& sorted = p.GetFields(CRfc822Fields::ORDER_BY_NAME);
  EXPECT_EQ(Str(sorted[0].GetName()), "Alpha");
  EXPECT_EQ(Str(p.GetFields(CRfc822Fields::ORDER_KEEP)[0].GetName()), "Alpha");  // the order stays
  p.PutHeaders("Other: 4\r\n");  // fields that exist are never rebuilt
  EXPECT_EQ(p.GetFields(CRfc822Fields::ORDER_INSERTION).GetCount(), 3u);
  EXPECT_EQ(Str(p.GetFields(CRfc822Fields::ORDER_INSERTION)[0].GetName()), "Zeta");
  EXPECT_STREQ(p.GetHeaders(), "Other: 4\r\n");  // raw text first
}

TEST(MessageTree, HeadersAreComposedFromTheFieldsOnce) {
  CRfc822BodyPart p;
  EXPECT_STREQ(p.GetHeaders(), "");
  CRfc822Fields& fields = p.GetFields(CRfc822Fields::ORDER_KEEP);
  fields.Add("X-Zed", "last");
  fields.Add("X-Abc", "first");
  fields.Sort(CRfc822Fields::ORDER_BY_NAME);
  // Insertion order, each line CR LF; a value over 152 columns folds.
  std::string longValue(100, 'a');
  longValue += " " + std::string(100, 'b');
  fields.Add("X-Long", longValue.c_str());
  std::string expected = "X-Zed: last\r\nX-Abc: first\r\nX-Long: " + std::string(100, 'a') + "\r\n  " +
                         std::string(100, 'b') + "\r\n";
  EXPECT_EQ(std::string(p.GetHeaders()), expected);
  EXPECT_EQ(p.GetFields(CRfc822Fields::ORDER_KEEP).GetOrder(), CRfc822Fields::ORDER_INSERTION);
  fields.Add("X-New", "1");
  EXPECT_EQ(std::string(p.GetHeaders()), expected);  // held, not composed again
}

TEST(MessageTree, AssignmentCopiesOneNode) {
  TempDir dir;
  CRfc822Message root;
  CRfc822BodyPart* target = root.AddBodyPart(-1);
  target->AddBodyPart(-1);
  CRfc822BodyPart source;
  source.PutAnomalyFlags(0x40);
  source.AddBodyPart(-1);
  source.AddBodyPart(-1);
  CSharedObjPtr<CSharedTmpFile> file = OwnFile(dir, "bytes");
  source.PutContentAsFile(file);
  source.PutCharset("utf-8");
  source.PutContentMediaType("text/plain");
  source.PutParseScope(PARSE_SCOPE_FULL);
  source.PutParseStatus(5);
  source.GetFields(CRfc822Fields::ORDER_KEEP).Add("X-A", "1");
  *target = source;
  EXPECT_EQ(target->GetAnomalyFlags(), 0u);
  EXPECT_TRUE(target->GetParts(nullptr)->IsEmpty());
  EXPECT_EQ(target->GetContentAsFile(), source.GetContentAsFile());
  EXPECT_EQ(Str(target->GetCharset()), "utf-8");
  EXPECT_EQ(target->GetParseScope(), PARSE_SCOPE_FULL);
  EXPECT_EQ(target->GetParseStatus(), 5u);
  EXPECT_EQ(target->GetFields(CRfc822Fields::ORDER_KEEP).GetCount(), 1u);
  EXPECT_EQ(target->GetPartNumber(), 1u);  // its place in the tree stays
  EXPECT_EQ(target->GetParent(), &root);
  EXPECT_EQ(target->GetNextChildNumber(), 2u);
  CRfc822BodyPart copy(source);  // a copy constructor makes an empty part
  EXPECT_TRUE(copy.GetContent().IsEmpty());
  EXPECT_TRUE(copy.GetCharset().IsEmpty());
}

TEST(MessageTree, ClearKeepsSomeFields) {
  CRfc822Message m;
  m.PutCharset("koi8-r");
  m.PutName("n");
  m.PutContentID("id");
  m.PutContentDisposition("attachment");
  m.PutBoundary("b");
  m.PutContentMediaType("multipart/mixed");
  m.PutContentTransferEncoding("7bit");
  m.PutMimePreambule("pre");
  m.PutParseScope(PARSE_SCOPE_FULL);
  m.PutParseStatus(3);
  m.PutAnomalyFlags(1);
  m.PutMimeFormatted(0);
  m.Subject() = "s";
  m.To() = "a@b";
  m.AddBodyPart(-1);
  m.Clear();
  EXPECT_EQ(Str(m.GetCharset()), "koi8-r");
  EXPECT_EQ(Str(m.GetName()), "n");
  EXPECT_EQ(Str(m.GetContentID()), "id");
  EXPECT_EQ(m.IsAttachment(), 1);
  EXPECT_EQ(m.GetParseStatus(), 3u);
  EXPECT_EQ(m.GetMimeFormatted(), 0);
  EXPECT_TRUE(m.GetBoundary().IsEmpty() && m.GetContentMediaType().IsEmpty() &&
              m.GetContentTransferEncoding().IsEmpty() && m.GetMimePreambule().IsEmpty());
  EXPECT_EQ(m.GetParseScope(), PARSE_SCOPE_STRUCTURE);
  EXPECT_EQ(m.GetAnomalyFlags(), 0u);
  EXPECT_TRUE(m.Subject().IsEmpty());
  EXPECT_EQ(m.To().GetCount(), 0);
  EXPECT_TRUE(m.GetParts(nullptr)->IsEmpty());
}

TEST(MessageTree, SetParserTakesOneReference) {
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  CRfc822Message m;
  m.SetParser(parser);
  EXPECT_EQ(m.GetParser(), parser);
  LONG before = parser->AddRef();
  parser->Release();
  m.SetParser(parser);
  m.SetParser(nullptr);
  LONG after = parser->AddRef();
  parser->Release();
  EXPECT_EQ(after, before);
  EXPECT_EQ(m.GetParser(), parser);
  m.Clear();
  EXPECT_EQ(m.GetParser(), nullptr);
  EXPECT_EQ(parser->AddRef(), before - 1);
  parser->Release();
}

TEST(MessageTree, MessageAssignmentKeepsAtMostTheHeaderScope) {
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  CRfc822Message source;
  source.SetParser(parser);
  source.Subject() = "Hello";
  source.From() = "Ann <ann@example.org>";
  CRfc822Address bob("bob@example.org");
  source.To().AddTail(bob);
  source.MessageID() = "id@x";
  source.ReceivedTime().wYear = 2003;
  source.PutMimeFormatted(0);
  source.AddBodyPart(-1);
  source.AddBodyPart(-1);
  struct {
    tag_PARSE_SCOPE source, target;
  } const scopes[] = {{PARSE_SCOPE_FULL, PARSE_SCOPE_HEADER_ONLY},
                      {PARSE_SCOPE_HEADER_ONLY, PARSE_SCOPE_HEADER_ONLY},
                      {PARSE_SCOPE_CONTENTS, PARSE_SCOPE_STRUCTURE},
                      {PARSE_SCOPE_STRUCTURE, PARSE_SCOPE_STRUCTURE}};
  for (const auto& s : scopes) {
    source.PutParseScope(s.source);
    CRfc822Message target;
    target.AddBodyPart(-1);
    target = source;
    EXPECT_EQ(target.GetParseScope(), s.target);
    EXPECT_TRUE(target.GetParts(nullptr)->IsEmpty());
    EXPECT_EQ(Str(target.Subject()), "Hello");
    EXPECT_EQ(Str(target.From().Assemble()), Str(source.From().Assemble()));
    EXPECT_EQ(target.To().GetCount(), 1);
    EXPECT_NE(&target.To().GetAt(target.To().GetHeadPosition()),
              &source.To().GetAt(source.To().GetHeadPosition()));  // a copy
    EXPECT_EQ(Str(target.MessageID()), "id@x");
    EXPECT_EQ(target.ReceivedTime().wYear, 2003);
    EXPECT_EQ(target.GetMimeFormatted(), 0);
    EXPECT_EQ(target.GetParser(), parser);
  }
}

TEST(MessageTree, CloneCopiesTheTreeAndSharesFiles) {
  TempDir dir;
  std::string names;
  {
    CRfc822Message clone;
    {
      CRfc822Message source;
      source.Subject() = "outer";
      source.PutParseScope(PARSE_SCOPE_FULL);
      source.PutAnomalyFlags(0x1);
      CRfc822BodyPart* gone = source.AddBodyPart(-1);
      CRfc822BodyPart* text = source.AddBodyPart(-1);
      CSharedObjPtr<CSharedTmpFile> file = OwnFile(dir, "shared bytes");
      text->PutContentAsFile(file);
      text->PutAnomalyFlags(0x20);
      CSharedObjPtr<CAppleFile> apple = new CAppleFile;
      text->PutAppleFile(apple);
      CRfc822Message* inner = source.AddMessage(-1);
      inner->Subject() = "inner";
      EXPECT_EQ(inner->AddBodyPart(-1)->PutContentAsString("inner body"), S_OK);
      source.DeletePart(gone);  // the source's children are 2 and 3
      source.Clone(clone);
      EXPECT_EQ(clone.GetParseScope(), PARSE_SCOPE_FULL);
      EXPECT_EQ(clone.GetAnomalyFlags(), 0u);
      EXPECT_EQ(Numbers(clone), (std::vector<ULONG>{1, 2}));
      CRfc822BodyPart* copied = dynamic_cast<CRfc822BodyPart*>(Child(clone, 0));
      ASSERT_NE(copied, nullptr);
      EXPECT_EQ(copied->GetContentAsFile(), file);
      EXPECT_EQ(copied->GetAppleFile(), apple);
      EXPECT_EQ(copied->GetAnomalyFlags(), 0u);
      CRfc822Message* copiedInner = dynamic_cast<CRfc822Message*>(Child(clone, 1));
      ASSERT_NE(copiedInner, nullptr);
      EXPECT_EQ(Str(copiedInner->Subject()), "inner");
      EXPECT_EQ(copiedInner->GetDepth(), 1u);
      EXPECT_EQ(Content(*Child(*copiedInner, 0)), "inner body");
      EXPECT_EQ(Locator(Child(*copiedInner, 0)), "2.1.");
    }
    // The source is gone; the clone still holds the file.
    ASSERT_EQ(FilesIn(dir.path()).size(), 1u);
    EXPECT_EQ(Content(*Child(clone, 0)), "shared bytes");
  }
  EXPECT_EQ(FilesIn(dir.path()).size(), 0u);
}

TEST(MessageTree, CloneIntoATargetThatHadChildrenContinuesItsCount) {
  CRfc822Message source;
  source.AddBodyPart(-1);
  CRfc822Message target;
  target.AddBodyPart(-1);
  target.AddBodyPart(-1);
  source.Clone(target);
  EXPECT_EQ(Numbers(target), (std::vector<ULONG>{3}));
}

TEST(MessageTree, CloneIntoItsOwnTreeDoesNothing) {
  CRfc822Message root;
  root.Subject() = "root";
  CRfc822Message* inner = root.AddMessage(-1);
  inner->Subject() = "inner";
  CRfc822BodyPart* body = inner->AddBodyPart(-1);
  EXPECT_EQ(body->PutContentAsString("x"), S_OK);
  CRfc822BodyPart* leaf = body->AddBodyPart(-1);
  root.Clone(root);
  root.Clone(*inner);
  body->Clone(*body);
  body->Clone(*leaf);
  EXPECT_EQ(Str(inner->Subject()), "inner");
  EXPECT_EQ(Numbers(root), (std::vector<ULONG>{1}));
  EXPECT_EQ(Numbers(*inner), (std::vector<ULONG>{1}));
  EXPECT_EQ(Numbers(*body), (std::vector<ULONG>{1}));
  EXPECT_EQ(Content(*body), "x");
}

TEST(MessageTree, CopiesIntoAnAncestorCopyBeforeClearing) {
  // Clearing the target would delete the source; the copy is made first.
  CRfc822Message root;
  root.AddBodyPart(-1);
  CRfc822Message* inner = root.AddMessage(-1);
  inner->Subject() = "inner";
  EXPECT_EQ(inner->AddBodyPart(-1)->PutContentAsString("inner body"), S_OK);
  inner->Clone(root);
  EXPECT_EQ(Str(root.Subject()), "inner");
  ASSERT_EQ(Numbers(root), (std::vector<ULONG>{3}));
  EXPECT_EQ(Content(*Child(root, 0)), "inner body");

  CRfc822Message other;
  CRfc822Message* embedded = other.AddMessage(-1);
  embedded->Subject() = "e";
  embedded->AddBodyPart(-1);
  other = *embedded;
  EXPECT_EQ(Str(other.Subject()), "e");
  EXPECT_TRUE(other.GetParts(nullptr)->IsEmpty());

  CRfc822BodyPart multi;
  CRfc822BodyPart* child = multi.AddBodyPart(-1);
  EXPECT_EQ(child->PutContentAsString("leaf"), S_OK);
  child->AddBodyPart(-1);
  child->Clone(multi);
  EXPECT_EQ(Content(multi), "leaf");
  EXPECT_EQ(Numbers(multi), (std::vector<ULONG>{2}));
  CRfc822BodyPart* again = multi.AddBodyPart(-1);
  again->PutCharset("c");
  multi = *again;
  EXPECT_EQ(Str(multi.GetCharset()), "c");
}

TEST(MessageTree, AttachmentsAndContentFiles) {
  TempDir dir;
  CRfc822Message root;
  root.GetContent().PutTempDir(dir.path().c_str());
  CSharedObjPtr<CSharedTmpFile> file = OwnFile(dir, "attached");
  CRfc822BodyPart* a = root.AddAttachment(file);
  EXPECT_EQ(a->IsAttachment(), 1);
  EXPECT_EQ(a->GetContentAsFile(), file);
  EXPECT_EQ(a->GetContent().GetSize(), 8u);
  // Contents of the tree make their files in the root's folder.
  CRfc822BodyPart* b = root.AddMessage(-1)->AddBodyPart(-1);
  EXPECT_EQ(b->PutContentAsString("in memory"), S_OK);
  CSharedObjPtr<CSharedTmpFile> made = b->GetContentAsFile();
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(std::string(made->GetFileName()).substr(0, dir.path().size()), dir.path());
  EXPECT_EQ(ReadFileBytes(made->GetFileName()), "in memory");
  CRfc822BodyPart empty;
  EXPECT_EQ(empty.GetContentAsFile(), nullptr);

  // A file removed behind the content's back is a failure, not an empty
  // content.
  WriteFileBytes(dir / "vanishing", "12345");
  CSharedObjPtr<CSharedTmpFile> caller = new CSharedTmpFile((dir / "vanishing").c_str(), 0);
  CRfc822BodyPart p;
  p.PutContentAsFile(caller);
  unlink((dir / "vanishing").c_str());
  EXPECT_NE(ThrownCode([&] { Content(p); }), 0u);
}

}  // namespace
