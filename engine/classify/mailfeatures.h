// CMailFeatureExtractor: what the mail classifier reads of one message: the
// 25 features (each 1.0 or 0.0), the unit-length 5-gram vector of the
// message's clean text and that text itself, taken from a parsed message.
//
//   CRfc822Message message;                     // parsed with its bodies
//   CMailFeatureExtractor extractor(nullptr);   // one per caller, reused
//   HRESULT hr = extractor.ExtractFeatures(message);
//   if (FAILED(hr)) return hr;
//   CMailClassifier classifier;
//   double spam = classifier.ClassifySpam(extractor, nullptr);
//   bool htmlOnly = extractor.features[MAIL_FEATURE_HTML_ONLY] == 1.0;
//   // extractor.text: subject, "\r\n", the texts of the parts explored
//
//   HRESULT hr = extractor.ExtractFeatures(TSTRING("/spool/1.eml"), nullptr);
//   // parses the file with a parser of its own (10 MiB kept in memory,
//   // temporary files in the extractor's folder); the file stays
//   hr = extractor.ExtractFeatures("Subject: hi\r\n\r\nbody\r\n", 21, nullptr);
//
//   CMailFeatureExtractor taken;                // members filled directly
//   taken.features.SetAt(19, 1.0);
//   taken.text = "one two three four five six";
//   taken.ngrams = CNGramsVector(5, taken.text.c_str(), taken.text.GetLength(), DefaultNextStopWord);
//
// The text: the values of the "Organization" fields, the subject (decoded
// when it holds encoded words) and "\r\n", then what a reader sees of each
// part the walk explores: "\r\n<charset>;<transfer encoding>\r\n" and the
// body of a text part, or the clean text of an HTML part (URLs after it,
// one a line); "\r\n<CID:...>\r\n" and the text of a part an HTML part
// refers to by Content-ID (each such part once per extraction, however
// many links name it, each link one lookup, so a flood of links costs no
// more than the links);
// "<ATTMSG>" for an attached message. The bodies
// of armoured blocks (PGP messages, signatures and keys, geek-code blocks,
// play-by-email data) are cut out, their begin and end lines stay.
//
// The walk: a multipart/alternative part explores one alternative (its
// first HTML one, else its first plain one unless that holds fewer than 5
// words and a later one exists, else its last other one); a message
// attached to a multipart/report (not inline) is skipped; a text part is
// read whatever its subtype, a multipart part walks its children.
//
// Failures: ExtractFeatures(message) catches nothing; the memory exception
// or a content file's DWORD code leaves it with the members holding what
// was gathered. The file entry point returns S_OK or the first failure's
// code, translated like every result (foundation/errorroad.h). Extractors
// take no lock; the shared matchers (mailmatchers.h) are only read.
#ifndef TELSOR_CLASSIFY_MAILFEATURES_H
#define TELSOR_CLASSIFY_MAILFEATURES_H

#include <stdio.h>

#include <map>
#include <set>
#include <string>

#include "classify/ngramsvector.h"
#include "classify/realvector.h"
#include "foundation/obj.h"
#include "foundation/plist.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "mime/message.h"
#include "mime/messagepart.h"
#include "mime/rfc822parser.h"

namespace telsor {

class CHtml2CleanText;

// The feature numbers: the element index in CMailFeatureExtractor::features.
enum tag_MAIL_FEATURE : DWORD {
  MAIL_FEATURE_INVALID_EOL = 0,         // anomaly flag 0x01
  MAIL_FEATURE_INVALID_BODY_CHARS = 1,  // 0x02
  MAIL_FEATURE_INVALID_FIELD = 2,       // 0x04 or 0x08
  MAIL_FEATURE_INVALID_FIELD_NAME = 3,  // 0x10
  MAIL_FEATURE_HIDDEN_TEXT_PART = 4,    // 0x20
  MAIL_FEATURE_INVALID_BOUNDARY = 5,    // 0x40
  MAIL_FEATURE_INVALID_DATE = 6,        // 0x80
  MAIL_FEATURE_OBSCURE_ENCODING = 7,    // a text part neither 7bit, 8bit, binary nor quoted-printable
  MAIL_FEATURE_HTML_ONLY = 8,           // no plain text beside the HTML
  MAIL_FEATURE_ATTACHMENT = 9,          // an attachment without Content-ID or Content-Location
  MAIL_FEATURE_AT_IN_URL = 10,          // "@" before the host of an http(s) link
  MAIL_FEATURE_OBFUSCATED_URL = 11,     // host starting with a digit or "%", or holding "%"
  MAIL_FEATURE_OBFUSCATED_MIME = 12,    // odd multipart/alternative structure
  MAIL_FEATURE_SUBJECT_BLANKS = 13,     // 7 blanks in a row in the subject
  MAIL_FEATURE_MANY_COMMENTS = 14,      // comment-to-text ratio of 0.35 or more
  MAIL_FEATURE_MANY_URLS = 15,          // URL-to-text ratio
  MAIL_FEATURE_MANY_SCRIPTS = 16,       // script-to-text ratio
  MAIL_FEATURE_SCRIPT_WRITES = 17,      // a script writes into the document
  MAIL_FEATURE_INVISIBLE_INK = 18,      // text in an invisible colour
  MAIL_FEATURE_HTML_OUTSIDE_PARTS = 19, // HTML markers in a preamble or epilogue
  MAIL_FEATURE_TEXT_AFTER_HTML = 20,    // text after </HTML> or </BODY>
  MAIL_FEATURE_EMBEDDED_CONTENT = 21,   // an attribute URL beginning with "cid"
  MAIL_FEATURE_BAD_CHARSET = 22,        // never raised
  MAIL_FEATURE_BAD_TAG = 23,            // a tag the converter cannot read
  MAIL_FEATURE_LONG_WORD = 24,          // a word of more than 32 characters without ".", ":", "-"
  MAIL_FEATURE_COUNT = 25
};

class CMailFeatureExtractor : public CObj {
 public:
  // features: 25 zeros; ngrams empty (n = 5); tmpDirectory copied (null:
  // empty, the parser's default); version 0.
  explicit CMailFeatureExtractor(const char* tmpDirectory = nullptr);
  CMailFeatureExtractor(const CMailFeatureExtractor& other);
  CMailFeatureExtractor& operator=(const CMailFeatureExtractor& other);
  ~CMailFeatureExtractor() override;

  // Fills every member but tmpDirectory and version from message, which
  // was parsed with its bodies (scope 1 or 3). Returns S_OK.
  [[nodiscard]] HRESULT ExtractFeatures(CRfc822Message& message);
  // Parses the file fileName (never removed) with parser, or with a parser
  // of its own when null, then extracts. S_OK, E_OUTOFMEMORY, or the first
  // failure of the session, the parse or the extraction.
  [[nodiscard]] HRESULT ExtractFeatures(const TSTRING& fileName, CRfc822Parser* parser);
  // Parses the length bytes of a message held in memory with parser (or
  // one of its own, as above), then extracts; the same results.
  [[nodiscard]] HRESULT ExtractFeatures(const char* bytes, ULONG length, CRfc822Parser* parser);

  // A non-zero version has the HTML converter write URLs in place, so that
  // no link is followed.
  void SetVersion(ULONG value) { version = value; }
  void ResetTmpDirectory(const char* directory);
  // Features 0.0, ngrams, subject, text and htmlText empty.
  void Empty();
  // One line per feature, "'<feature text>'  <value>": to the log at
  // level 8, or to file.
  void LogMetricData() const;
  void PrintMetricData(FILE* file) const;
  // The text of a feature ("Has any attachement ?"); "" out of range.
  static const char* GetFeatureText(DWORD feature);

  // The steps of the walk.
  void ExploreSubject(CRfc822Message& message);
  void ExplorePart(CRfc822Part* part);
  void ExploreAlternativePart(CRfc822Part* part);
  // Features from the part's anomaly flags, attachment mark, preamble and
  // epilogue.
  void SetMetricFeature(CRfc822Part* part);
  // Appends the visible text of one text or HTML part; the feature 7 test.
  void ExploreTextPart(CRfc822Part* part);
  // Features 14 to 24 from a finished conversion whose result is cleanText.
  void SetMetricHTML(CHtml2CleanText& converter, const TSTRING& cleanText);
  // Follows the URLs of a converted part: Content-ID links and http(s) links.
  void ExploreHtmlRefs(CRfc822Part* part, CPList<TSTRING, TSTRING&>& urls);
  // Explores the first part of part's tree whose Content-ID equals cid.
  void ExploreCIDRef(CRfc822Part* part, const char* cid, const char* end);
  void ExploreCidPart(CRfc822Part* part);
  // Features 10 and 11 of one link; start follows the scheme's "//".
  void ExploreHttpRef(CRfc822Part* part, const char* start, const char* end);
  // The part's content as it is (no character-set conversion).
  TSTRING ExtractUtf8Text(CRfc822Part* part);
  // ForEachPart callback over a tag_CID_SEARCH record.
  static bool IterFindContentID(CRfc822Part* part, void* context);

  CRealVector features;  // 25 values, 1.0 for a present feature
  CNGramsVector ngrams;  // of text, n = 5, at unit length
  TSTRING subject;       // decoded when it holds encoded words
  TSTRING text;          // the clean text the n-grams were made from
  TSTRING htmlText;      // the sources of the HTML parts explored
  TSTRING tmpDirectory;  // for the own parser of the file entry point
  ULONG version;

 private:
  void Raise(DWORD feature) { features.SetAt(feature, 1.0); }
  // Appends "\r\n<charset>;<transfer encoding>\r\n".
  void AppendPartMarker(CRfc822Part* part);
  // Converts html in place and takes its features; its source goes to
  // htmlText first.
  void ConvertHtml(CHtml2CleanText& converter, TSTRING& html);
  // Extracts from a message whose content is set, parsed by parser or by a
  // session of the extractor's own.
  [[nodiscard]] HRESULT ParseAndExtract(CRfc822Message& message, CRfc822Parser* parser,
                                        const CSharedObjPtr<CSharedTmpFile>* file);

  // The first part, in pre-order from root, whose Content-ID is cid.
  CRfc822Part* FindContentID(CRfc822Part* root, const char* cid);

  // The parts reached through Content-ID links in this extraction: each is
  // read once, however many links name it, so that a flood of links to one
  // large part costs no more than the links themselves.
  std::set<const CRfc822Part*> m_linkedParts;
  // During an extraction, the message's parts by Content-ID (the first of
  // each in pre-order), made at the first link, so that a flood of links
  // costs a lookup each rather than a walk of the tree.
  CRfc822Part* m_pIndexRoot;
  bool m_bIndexBuilt;
  std::map<std::string, CRfc822Part*> m_cidIndex;
};

// What IterFindContentID looks for and what it found.
struct tag_CID_SEARCH {
  CRfc822Part* found;
  const char* cid;
};

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_MAILFEATURES_H
