// The mail feature extractor: the part-tree walk, the text and HTML
// exploration, links, and the n-gram vector of the clean text.
#include "classify/mailfeatures.h"

#include <ctype.h>
#include <math.h>
#include <string.h>
#include <strings.h>

#include "classify/mailmatchers.h"
#include "foundation/errorroad.h"
#include "foundation/logsystem.h"
#include "mime/html2cleantext.h"
#include "mime/mimehelpers.h"
#include "mime/rfc2047text.h"
#include "mime/transferencoding.h"

namespace telsor {

namespace {

struct FeatureRow {
  DWORD feature;
  const char* text;
};

const FeatureRow kFeatures[MAIL_FEATURE_COUNT] = {
    {0, "Has invalid EOL sequence ?"},
    {1, "Has invalid characters in the body ?"},
    {2, "Has invalid header field ?"},
    {3, "Has invalid header name ?"},
    {4, "Has text hidden attachment ?"},
    {5, "Has invalid boundary ?"},
    {6, "Has invalid formated date ?"},
    {7, "Is plain/text or plain/html encoded in form other then quoted-printable ?"},
    {8, "Is text/html only present ?"},
    {9, "Has any attachement ?"},
    {10, "Character @ in URL found"},
    {11, "Obfuscated URL found"},
    {12, "Obfuscated MIME format found"},
    {13, "A lot of space in the subject"},
    {14, "A lot of comments"},
    {15, "A lot of image and other content URL"},
    {16, "A lot of SCRIPTS in HTML part"},
    {17, "Some script inject HTML text into body"},
    {18, "Used invisible ink in HTML content"},
    {19, "HTML text detected in the preambule or epilog for MIME parts"},
    {20, "Write HTML text after </HTML> or </BODY>"},
    {21, "Used embedded content"},
    {22, "Unknown or illformed character set"},
    {23, "Unknown or illformed HTML tag"},
    {24, "Has a long unknown word"},
};

// The anomaly-flag bits that raise features 0 to 6.
struct FlagRow {
  DWORD mask;
  DWORD feature;
};
const FlagRow kFlagFeatures[] = {
    {0x01, MAIL_FEATURE_INVALID_EOL},        {0x80, MAIL_FEATURE_INVALID_DATE},
    {0x02, MAIL_FEATURE_INVALID_BODY_CHARS}, {0x0C, MAIL_FEATURE_INVALID_FIELD},
    {0x10, MAIL_FEATURE_INVALID_FIELD_NAME}, {0x20, MAIL_FEATURE_HIDDEN_TEXT_PART},
    {0x40, MAIL_FEATURE_INVALID_BOUNDARY},
};

// A counter of the HTML converter and the feature it raises.
struct CounterFeature {
  DWORD value;
  DWORD feature;
};

// The link schemes followed.
struct SchemeRow {
  const char* text;
  int length;
};
const SchemeRow kSchemes[] = {{"http://", 7}, {"https://", 8}, {nullptr, 0}};

const WORD kGramLength = 5;
const ULONG kMinPlainWords = 5;
const double kRatioLimit = 0.35;
const ULONG kOwnParserMemory = 10 * 1024 * 1024;
const DWORD kLogInfo = 8;
const char kAttachedMessage[] = "<ATTMSG>";

bool EqualsNoCase(const TSTRING& text, const char* value) { return strcasecmp(text.c_str(), value) == 0; }

// The Content-Disposition value holds "inline" in any case.
bool IsInline(const CRfc822Part* part) {
  TSTRING disposition = part->GetContentDisposition();
  disposition.MakeLower();
  return disposition.Find("inline") >= 0;
}

// A message attached to a multipart/report that is not shown inline.
bool IsReportedMessage(const CRfc822Part* part) {
  const CRfc822Part* parent = part->GetParent();
  return parent != nullptr && BeginsWithNoCase(parent->GetContentMediaType(), "multipart/report") &&
         !IsInline(part);
}

// The converter's option bits for a version of the extractor.
ULONG ConverterOptions(ULONG version) { return version != 0 ? 3 : 0; }

const char* SkipSpace(const char* p) {
  while (*p != 0 && isspace(static_cast<unsigned char>(*p))) ++p;
  return p;
}

void Append(TSTRING& to, const TSTRING& what) { to.append(what.c_str(), what.GetLength()); }

}  // namespace

CMailFeatureExtractor::CMailFeatureExtractor(const char* tmpDirectory)
    : features(MAIL_FEATURE_COUNT),
      ngrams(kGramLength),
      tmpDirectory(tmpDirectory),
      version(0),
      m_pIndexRoot(nullptr),
      m_bIndexBuilt(false) {}

CMailFeatureExtractor::CMailFeatureExtractor(const CMailFeatureExtractor& other)
    : CObj(),
      features(other.features),
      ngrams(other.ngrams),
      subject(other.subject),
      text(other.text),
      htmlText(other.htmlText),
      tmpDirectory(other.tmpDirectory),
      version(other.version),
      m_pIndexRoot(nullptr),
      m_bIndexBuilt(false) {}

CMailFeatureExtractor& CMailFeatureExtractor::operator=(const CMailFeatureExtractor& other) {
  features = other.features;
  ngrams = other.ngrams;
  subject = other.subject;
  text = other.text;
  htmlText = other.htmlText;
  tmpDirectory = other.tmpDirectory;
  version = other.version;
  return *this;
}

CMailFeatureExtractor::~CMailFeatureExtractor() {}

void CMailFeatureExtractor::ResetTmpDirectory(const char* directory) { tmpDirectory = directory; }

void CMailFeatureExtractor::Empty() {
  features = CRealVector(MAIL_FEATURE_COUNT);
  ngrams.Empty();
  subject.Release();
  text.Release();
  htmlText.Release();
  m_linkedParts.clear();
  m_cidIndex.clear();
  m_bIndexBuilt = false;
}

const char* CMailFeatureExtractor::GetFeatureText(DWORD feature) {
  return feature < MAIL_FEATURE_COUNT ? kFeatures[feature].text : "";
}

void CMailFeatureExtractor::LogMetricData() const {
  for (const FeatureRow& row : kFeatures) LogMessage(kLogInfo, "'%s'  %G", row.text, features.GetAt(row.feature));
}

void CMailFeatureExtractor::PrintMetricData(FILE* file) const {
  for (const FeatureRow& row : kFeatures) fprintf(file, "'%s'  %G\n", row.text, features.GetAt(row.feature));
}

HRESULT CMailFeatureExtractor::ExtractFeatures(CRfc822Message& message) {
  // The Content-ID index serves this extraction only, however it ends.
  struct IndexScope {
    CMailFeatureExtractor& x;
    IndexScope(CMailFeatureExtractor& extractor, CRfc822Part* root) : x(extractor) { Reset(root); }
    ~IndexScope() { Reset(nullptr); }
    void Reset(CRfc822Part* root) {
      x.m_cidIndex.clear();
      x.m_bIndexBuilt = false;
      x.m_pIndexRoot = root;
    }
  } index(*this, &message);
  features = CRealVector(MAIL_FEATURE_COUNT);
  m_linkedParts.clear();
  if (IsHTMLOnlyMessage(message)) Raise(MAIL_FEATURE_HTML_ONLY);
  subject.Release();
  text.Release();
  htmlText.Release();
  AddOrganization(message, text);
  subject = message.Subject();
  ExploreSubject(message);
  Append(text, subject);
  text.append("\r\n", 2);
  ExplorePart(&message);
  RemoveEncryptedPart(text);
  RemoveEncryptedPart(htmlText);
  ngrams.Create(ngrams.GetLenNGrams(), text.c_str(), static_cast<DWORD>(text.GetLength()), DefaultNextStopWord);
  double squared = ngrams.DotProduct();
  if (squared > 0) ngrams *= 1 / sqrt(squared);
  return S_OK;
}

HRESULT CMailFeatureExtractor::ExtractFeatures(const TSTRING& fileName, CRfc822Parser* parser) {
  return ResultOfCall([&]() -> HRESULT {
    CRfc822Message message;
    CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile(fileName.c_str(), FALSE);
    return ParseAndExtract(message, parser, &file);
  });
}

HRESULT CMailFeatureExtractor::ExtractFeatures(const char* bytes, ULONG length, CRfc822Parser* parser) {
  return ResultOfCall([&]() -> HRESULT {
    CRfc822Message message;
    HRESULT hr = message.PutContentAsString(reinterpret_cast<const unsigned char*>(bytes), length);
    if (hr != S_OK) return hr;
    return ParseAndExtract(message, parser, nullptr);
  });
}

HRESULT CMailFeatureExtractor::ParseAndExtract(CRfc822Message& message, CRfc822Parser* parser,
                                               const CSharedObjPtr<CSharedTmpFile>* file) {
  CSharedObjPtr<CRfc822Parser> session = parser;
  if (parser == nullptr) {
    session = new CRfc822Parser;
    session->PutMaxContentSizeInMemory(kOwnParserMemory);
    HRESULT hr = session->OpenSession(tmpDirectory.IsEmpty() ? nullptr : tmpDirectory.c_str());
    if (hr != S_OK) return hr;
  }
  HRESULT hr = S_OK;
  if (file != nullptr) {
    CSharedObjPtr<CSharedTmpFile> held = *file;
    hr = message.Parse(held, session, PARSE_SCOPE_FULL);
  } else {
    message.SetParser(session);
    hr = session->ParseMessage(PARSE_SCOPE_FULL, message);
  }
  if (hr != S_OK) return hr;
  return ExtractFeatures(message);
}

void CMailFeatureExtractor::ExploreSubject(CRfc822Message&) {
  int open = subject.Find("=?");
  if (open >= 0 && subject.Find("?=", open + 2) >= 0) {
    CRfc2047Text words(subject);
    words.Parse();
    subject = words.GetDecodedText();
  }
  if (ManySpaceInSubject(subject, 7)) Raise(MAIL_FEATURE_SUBJECT_BLANKS);
}

void CMailFeatureExtractor::ExplorePart(CRfc822Part* part) {
  SetMetricFeature(part);
  const TSTRING& type = part->GetContentMediaType();
  bool message = part->GetContentClass() == CRfc822Part::CONTENT_CLASS_MESSAGE;
  if (BeginsWithNoCase(type, "multipart/alternative")) {
    if (!(message && IsReportedMessage(part))) ExploreAlternativePart(part);
    return;
  }
  if (message) {
    if (part->GetParent() != nullptr) {
      text.append(kAttachedMessage, -1);
      if (IsReportedMessage(part)) return;
    }
  } else if (type.IsEmpty() || BeginsWithNoCase(type, "text") || BeginsWithNoCase(type, "message/delivery-status")) {
    ExploreTextPart(part);
    return;
  }
  CRfc822Parts& children = *part->GetParts(nullptr);
  for (void* p = children.GetHeadPosition(); p != nullptr;) ExplorePart(children.GetNext(p));
}

void CMailFeatureExtractor::ExploreAlternativePart(CRfc822Part* part) {
  CRfc822Parts& children = *part->GetParts(nullptr);
  if (children.GetCount() == 0) {
    Raise(MAIL_FEATURE_OBFUSCATED_MIME);
    SetMetricFeature(part);
    Append(text, ExtractUtf8Text(part));
    return;
  }
  CRfc822Part* html = nullptr;
  CRfc822Part* plain = nullptr;
  CRfc822Part* other = nullptr;
  for (void* p = children.GetHeadPosition(); p != nullptr;) {
    CRfc822Part* child = children.GetNext(p);
    const TSTRING& type = child->GetContentMediaType();
    if (BeginsWithNoCase(type, "text/html")) {
      if (html == nullptr) {
        html = child;
      } else {
        Raise(MAIL_FEATURE_OBFUSCATED_MIME);
      }
    } else if (BeginsWithNoCase(type, "text") || (type.IsEmpty() && !child->IsAttachment())) {
      if (plain == nullptr) {
        plain = child;
      } else {
        Raise(MAIL_FEATURE_OBFUSCATED_MIME);
        if (IsWordsCountLess(ExtractUtf8Text(plain), kMinPlainWords)) plain = child;
      }
    } else if (BeginsWithNoCase(type, "message/rfc822") && part->GetParent() != nullptr) {
      text.append(kAttachedMessage, -1);
    } else if (BeginsWithNoCase(type, "multipart/alternative")) {
      Raise(MAIL_FEATURE_OBFUSCATED_MIME);
      ExploreAlternativePart(child);
    } else {
      other = child;
    }
  }
  CRfc822Part* chosen = html != nullptr ? html : plain != nullptr ? plain : other;
  if (chosen == nullptr) return;
  SetMetricFeature(chosen);
  CRfc822Parts& inner = *chosen->GetParts(nullptr);
  if (inner.GetCount() == 0) {
    ExploreTextPart(chosen);
    return;
  }
  for (void* p = inner.GetHeadPosition(); p != nullptr;) ExplorePart(inner.GetNext(p));
}

void CMailFeatureExtractor::SetMetricFeature(CRfc822Part* part) {
  DWORD flags = part->GetAnomalyFlags();
  for (const FlagRow& row : kFlagFeatures) {
    if (flags & row.mask) Raise(row.feature);
  }
  if (part->IsAttachment()) {
    CRfc822Fields& fields = part->GetFields(CRfc822Fields::ORDER_BY_NAME);
    if (fields.FindFirst("Content-ID") < 0 && fields.FindFirst("Content-Location") < 0) Raise(MAIL_FEATURE_ATTACHMENT);
  }
  const TSTRING& preamble = part->GetMimePreambule();
  if (!preamble.IsEmpty() && IsHTMLText(preamble.c_str())) Raise(MAIL_FEATURE_HTML_OUTSIDE_PARTS);
  const TSTRING& epilogue = part->GetMimeEpilog();
  if (!epilogue.IsEmpty() && IsHTMLText(epilogue.c_str())) Raise(MAIL_FEATURE_HTML_OUTSIDE_PARTS);
}

void CMailFeatureExtractor::AppendPartMarker(CRfc822Part* part) {
  TSTRING marker;
  marker.Format("\r\n%s;%s\r\n", part->GetCharset().c_str(), part->GetContentTransferEncoding().c_str());
  Append(text, marker);
}

void CMailFeatureExtractor::ConvertHtml(CHtml2CleanText& converter, TSTRING& html) {
  Append(htmlText, html);
  // A conversion that fails (no memory for its tokenizer) leaves the HTML
  // as it was: the features are then read from the markup itself.
  (void)converter.Execute(html, 0, nullptr);
  SetMetricHTML(converter, html);
  Append(text, html);
}

void CMailFeatureExtractor::ExploreTextPart(CRfc822Part* part) {
  CHtml2CleanText converter(ConverterOptions(version));
  const TSTRING& type = part->GetContentMediaType();
  if (BeginsWithNoCase(type, "text/html")) {
    AppendPartMarker(part);
    TSTRING html = ExtractUtf8Text(part);
    ConvertHtml(converter, html);
    ExploreHtmlRefs(part, converter.GetUrls());
  } else if (BeginsWithNoCase(type, "text") || BeginsWithNoCase(type, "message/delivery-status") ||
             (type.IsEmpty() && !part->IsAttachment())) {
    AppendPartMarker(part);
    Append(text, ExtractUtf8Text(part));
  }
  if (IsObscureEncoding(GetEncodingType(part->GetContentTransferEncoding().c_str()))) {
    Raise(MAIL_FEATURE_OBSCURE_ENCODING);
  }
}

void CMailFeatureExtractor::SetMetricHTML(CHtml2CleanText& converter, const TSTRING& cleanText) {
  const CounterFeature marks[] = {
      {converter.m_bInvisibleText, MAIL_FEATURE_INVISIBLE_INK},
      {converter.m_bTextAfterHtmlEnd, MAIL_FEATURE_TEXT_AFTER_HTML},
      {converter.m_bEmbeddedContent, MAIL_FEATURE_EMBEDDED_CONTENT},
      {converter.m_bBadTag, MAIL_FEATURE_BAD_TAG},
      {converter.m_bLongWord, MAIL_FEATURE_LONG_WORD},
      {converter.m_bBadCharset, MAIL_FEATURE_BAD_CHARSET},
  };
  for (const auto& mark : marks) {
    if (mark.value != 0) Raise(mark.feature);
  }
  DWORD length = static_cast<DWORD>(cleanText.GetLength());
  if (length == 0) return;
  const CounterFeature ratios[] = {
      {converter.m_dwCommentLength, MAIL_FEATURE_MANY_COMMENTS},
      {converter.m_dwScriptLength, MAIL_FEATURE_MANY_SCRIPTS},
      {converter.m_dwUrlLength, MAIL_FEATURE_MANY_URLS},
  };
  for (const auto& ratio : ratios) {
    DWORD c = ratio.value;
    if (c > length || (c > 0 && (c == length || static_cast<double>(c) / (length - c) >= kRatioLimit))) {
      Raise(ratio.feature);
    }
  }
  if (converter.m_bScriptWrites != 0) Raise(MAIL_FEATURE_SCRIPT_WRITES);
}

void CMailFeatureExtractor::ExploreHtmlRefs(CRfc822Part* part, CPList<TSTRING, TSTRING&>& urls) {
  for (void* p = urls.GetHeadPosition(); p != nullptr;) {
    const TSTRING& url = urls.GetNext(p);
    const char* start = url.c_str();
    const char* end = start + url.GetLength();
    if (strncmp(start, "cid", 3) == 0) {
      const char* id = SkipSpace(start + 3);
      if (*id == ':') ++id;
      ExploreCIDRef(part, SkipSpace(id), end);
    } else if (url.Find(':') >= 0) {
      TSTRING lower = url;
      lower.MakeLower();
      for (const SchemeRow* scheme = kSchemes; scheme->text != nullptr; ++scheme) {
        int at = lower.Find(scheme->text);
        if (at >= 0) {
          ExploreHttpRef(part, start + at + scheme->length, end);
          break;
        }
      }
    } else {
      ExploreCIDRef(part, SkipSpace(start), end);
    }
  }
}

bool CMailFeatureExtractor::IterFindContentID(CRfc822Part* part, void* context) {
  tag_CID_SEARCH* search = static_cast<tag_CID_SEARCH*>(context);
  if (strcmp(part->GetContentID().c_str(), search->cid) != 0) return true;
  search->found = part;
  return false;
}

CRfc822Part* CMailFeatureExtractor::FindContentID(CRfc822Part* root, const char* cid) {
  if (root != m_pIndexRoot) {
    tag_CID_SEARCH search = {nullptr, cid};
    ForEachPart(root, IterFindContentID, &search);
    return search.found;
  }
  CRfc822Part* found = nullptr;
  WithMemoryException([&] {
    if (!m_bIndexBuilt) {
      // emplace keeps the first part of each identifier.
      ForEachPart(
          root,
          [](CRfc822Part* p, void* index) {
            static_cast<std::map<std::string, CRfc822Part*>*>(index)->emplace(p->GetContentID().c_str(), p);
            return true;
          },
          &m_cidIndex);
      m_bIndexBuilt = true;
    }
    auto at = m_cidIndex.find(cid);
    if (at != m_cidIndex.end()) found = at->second;
  });
  return found;
}

void CMailFeatureExtractor::ExploreCIDRef(CRfc822Part* part, const char* cid, const char*) {
  CRfc822Part* root = part;
  while (root->GetParent() != nullptr) root = root->GetParent();
  CRfc822Part* found = FindContentID(root, cid);
  if (found == nullptr) return;
  bool first = false;
  WithMemoryException([&] { first = m_linkedParts.insert(found).second; });
  if (first) ExploreCidPart(found);
}

void CMailFeatureExtractor::ExploreCidPart(CRfc822Part* part) {
  const TSTRING& type = part->GetContentMediaType();
  const TSTRING& name = part->GetName();
  int dot = name.ReverseFind('.');
  TSTRING extension = dot >= 0 ? name.Mid(dot + 1) : TSTRING();
  bool octet = EqualsNoCase(type, "application/octet-stream");
  const char* charset = part->GetCharset().c_str();
  const char* encoding = part->GetContentTransferEncoding().c_str();
  const auto mark = [this](const char* first, const char* second, const char* third) {
    TSTRING marker;
    marker.Format("\r\n<CID:%s;%s;%s>\r\n", first, second, third);
    Append(text, marker);
  };
  if ((octet && BeginsWithNoCase(extension, "htm")) || EqualsNoCase(type, "text/html")) {
    CHtml2CleanText converter(ConverterOptions(version));
    mark(extension.c_str(), charset, encoding);
    TSTRING html = ExtractUtf8Text(part);
    ConvertHtml(converter, html);
  } else if ((octet && EqualsNoCase(extension, "txt")) || (!octet && EqualsNoCase(type, "text/plain"))) {
    mark(extension.c_str(), charset, encoding);
    Append(text, ExtractUtf8Text(part));
  } else {
    mark(octet ? "" : type.c_str(), extension.c_str(), encoding);
  }
}

void CMailFeatureExtractor::ExploreHttpRef(CRfc822Part*, const char* start, const char* end) {
  const char* hash = strchr(start, '#');
  if (hash != nullptr && hash < end) end = hash;
  const char* at = strchr(start, '@');
  if (at != nullptr) {
    const char* slash = strchr(start, '/');
    if (slash == nullptr || slash > at) {
      Raise(MAIL_FEATURE_AT_IN_URL);
      start = at + 1;
      if (start >= end) return;
    }
  }
  for (const char* p = start; p < end && *p != '/'; ++p) {
    if (*p == '%' || (p == start && isdigit(static_cast<unsigned char>(*p)))) {
      Raise(MAIL_FEATURE_OBFUSCATED_URL);
      return;
    }
  }
}

TSTRING CMailFeatureExtractor::ExtractUtf8Text(CRfc822Part* part) { return part->GetContent().GetAsString(); }

}  // namespace telsor
