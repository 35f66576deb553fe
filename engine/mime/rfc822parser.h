// CRfc822Parser: the session in which messages are parsed. It holds the
// folder for temporary files and the largest content that a parse keeps in
// memory; every temporary file of a parse is made through GetTmpFile.
//
//   const char* tempDir = "/tmp";
//   CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
//   parser->PutMaxContentSizeInMemory(4 * 1024 * 1024);
//   HRESULT hr = parser->OpenSession(tempDir);     // null or "": the system's
//   CSharedObjPtr<CSharedTmpFile> f = parser->GetTmpFile("BDY");
//   // /tmp/BDY<hex>.tmp, removed with the last reference to f
//
// Header blocks without a message part:
//
//   CRfc822Fields fields;
//   CRfc822Parser::CreateFieldsCollection(headerText, fields, 0);
//   TSTRING raw;
//   HRESULT hr = parser->ExtractHeaders(path, raw);  // the header block's bytes
//
// A part's header data from a header block (mime/message.h):
//
//   CRfc822Message message;
//   HRESULT hr = parser->ParseHeader(path, message);  // scope 0 -> 2
//   // message.Subject(), From(), ..., GetContentMediaType(), GetFields(...)
//
// Address lists need no session:
//
//   CRfc822Addresses to;
//   CRfc822Parser::ParseAddressList("A <a@x>, Friends: b@y, c@z;, d@w", to, ADDRESS_TYPE_FIELD);
//   // to: a@x, b@y, c@z, d@w (a group gives its members)
//
// The list is appended to, never emptied, in text order; every entry is
// stamped with the given kind. An entry that is no valid address still gives
// one record (what the address parser made of it); empty entries are
// skipped. A group's members are the text between its ":" and ";" and are
// parsed like a list of their own; groups nested inside groups are expanded
// up to MAX_GROUP_NESTING levels, deeper ones are parsed as one mailbox, so
// every input ends in time linear in its length. Memory exhaustion passes
// the engine's memory exception on; the list keeps what was appended.
//
// A session whose folder could not be found (OpenSession with no folder and
// no usable system folder) refuses to make files: GetTmpFile throws the
// error met, never making files in "/". The session is set up by one thread;
// afterwards it is only read, so several parses may share it. Files made by
// GetTmpFile are unique without a lock (see mime/sharedtmpfile.h).
#ifndef TELSOR_MIME_RFC822PARSER_H
#define TELSOR_MIME_RFC822PARSER_H

#include "foundation/istream.h"
#include "foundation/obj.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "mime/headerfields.h"
#include "mime/rfc822address.h"
#include "mime/sharedtmpfile.h"

namespace telsor {

class CRfc822Message;
class CRfc822Part;
class CRfc822PartDescriptor;
enum tag_PARSE_SCOPE : int32_t;
enum tag_CONTENT_ENCODING : int32_t;

class CRfc822Parser : public CSharedObj {
 public:
  static const int MAX_GROUP_NESTING = 8;

  CRfc822Parser();
  ~CRfc822Parser() override;

  // The folder for temporary files: directory, or, when it is null or
  // empty, the system's temporary folder (GetTempPath, ending in "/"); when
  // that cannot be found the folder stays empty. S_OK always.
  [[nodiscard]] HRESULT OpenSession(const char* directory);
  // Nothing to do; S_OK.
  [[nodiscard]] HRESULT CloseSession();

  const TSTRING& GetTempDir() const { return m_strTempDir; }
  // Contents larger than this many bytes go to temporary files (0 after
  // construction: every non-empty content does).
  ULONG GetMaxContentSizeInMemory() const { return m_nMaxContentSizeInMemory; }
  void PutMaxContentSizeInMemory(ULONG bytes) { m_nMaxContentSizeInMemory = bytes; }

  // A new, empty file in the session folder, named from the first three
  // characters of prefix ("MSG" message contents, "BDY" other contents,
  // "RES" resource forks), removed with its last reference. Throws the
  // system error number as DWORD when none can be made.
  virtual CSharedObjPtr<CSharedTmpFile> GetTmpFile(const char* prefix) const;

  // Adds the fields of a NUL-terminated header text to fields (which is not
  // emptied): names without comments, values unfolded and right-trimmed, up
  // to the first NUL. With skipWhiteSpace nonzero white space is skipped
  // before and after every field, so blank lines do not end the block. A
  // name over 1,023 bytes ends the reading quietly. A null text does
  // nothing. S_OK, or the failure code.
  [[nodiscard]] static HRESULT CreateFieldsCollection(const char* text, CRfc822Fields& fields, int skipWhiteSpace);
  // headers := the bytes of the header block at the stream's current
  // position, from its first field to the end of its last (no empty line;
  // empty when there is no field). E_MIME_NAME_TOO_LONG for a field name
  // over 1,023 bytes (headers unchanged), or a stream failure code.
  [[nodiscard]] HRESULT ExtractHeaders(IStream* stream, TSTRING& headers) const;
  // The same for the file at path; a file that cannot be opened gives the
  // stream creation's code.
  [[nodiscard]] HRESULT ExtractHeaders(const char* path, TSTRING& headers) const;

  // Header filling (mime/headerfill.cpp): part's header data from the
  // header block at the stream's position, at most length bytes
  // (CStreamReader::NO_LIMIT: to the end). A part whose header was filled
  // before (scope 2 or 3) is left alone. S_OK, E_MIME_NAME_TOO_LONG (the
  // fields before it stay), or a stream failure code.
  [[nodiscard]] HRESULT FillRfc822PartHeaderInfo(IStream* stream, CRfc822Part& part, ULONG length) const;
  // The same from the start of the file at path, then the scope raised to
  // include the header (0 -> 2, 1 -> 3) whatever the filling gave.
  // ERROR_FILE_NOT_FOUND (part untouched) when the file cannot be opened.
  [[nodiscard]] HRESULT ParseHeader(const char* path, CRfc822Part& part) const;

  // Whole parses (mime/parsefill.cpp): a structure scan, then one part per
  // scanned part, header data and, for scopes 1 and 3, decoded contents.
  //
  //   CRfc822Message message;
  //   CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile(path, FALSE);
  //   HRESULT hr = parser->ParseMessage(file, PARSE_SCOPE_FULL, message);
  //   // message.GetParts(nullptr): one part per MIME part; a message
  //   // without parts gets one body part holding its decoded body
  //
  // From a file: the file becomes the message's content; a file not larger
  // than the in-memory limit is read whole and both passes run over the
  // copy, a larger one is scanned from disk. ERROR_FILE_NOT_FOUND when its
  // size cannot be read; a file that cannot be opened or read gives that
  // error (also in the message's status); a failed scan is only recorded
  // in the message's status. Scope 2 reads the top-level header only.
  [[nodiscard]] HRESULT ParseMessage(CSharedObjPtr<CSharedTmpFile>& file, tag_PARSE_SCOPE scope,
                                     CRfc822Message& message) const;
  // From the message's content (set before); a failed scan is returned.
  [[nodiscard]] HRESULT ParseMessage(tag_PARSE_SCOPE scope, CRfc822Message& message) const;
  // From the first size bytes of a stream standing at its start; the
  // message's content is not set from it.
  [[nodiscard]] HRESULT ParseMessage(IStream* stream, ULONG size, tag_PARSE_SCOPE scope, CRfc822Message& message) const;
  // Fills message from a tree scanned over the message's content.
  [[nodiscard]] HRESULT ParseMessage(CRfc822PartDescriptor& root, tag_PARSE_SCOPE scope, CRfc822Message& message) const;
  // The structure scan of a file alone (root emptied, kind 1). The file is
  // read, never mapped: one that shrinks meanwhile is a read failure.
  [[nodiscard]] HRESULT GetMIMEStructOfMsg(const char* path, CRfc822PartDescriptor& root) const;
  // For tests: called with the path between the size check of a message
  // file and its read (null: nothing), so that a test can change the file
  // there. Process-wide; set only while no parse runs.
  static void (*s_pfnFileSized)(const char* path);
  // One part and its children from a scanned descriptor; offsets are
  // positions in stream. Part failures go to the parts' status.
  [[nodiscard]] HRESULT FillRfc822Part(CRfc822PartDescriptor& descriptor, IStream* stream, tag_PARSE_SCOPE scope,
                                       CRfc822Part& part) const;
  // Header filling seeded from a descriptor (its media type, transfer
  // encoding, disposition and flags), then the header block at its start.
  [[nodiscard]] HRESULT FillRfc822PartHeaderInfo(CRfc822PartDescriptor& descriptor, IStream* stream,
                                                 CRfc822Part& part) const;
  // Decodes the bytes [start, end) of source into part's content: in
  // memory when end - start is not above the limit, else into a "MSG"
  // (message part) or "BDY" file. Uuencode gives an attachment with the
  // begin line's name; an application/mac-binhex40 body part a CAppleFile.
  // A part already filled (scope 1 or 3) is left alone. ERROR_INVALID_DATA
  // when start is after end; the content changes only on success.
  [[nodiscard]] HRESULT FillRfc822BodyContent(IStream* source, ULONG start, ULONG end, const char* mediaType,
                                              tag_CONTENT_ENCODING encoding, CRfc822Part& part) const;
  // The BinHex 4.0 file of length bytes of source: data fork to dataOut
  // (in dataFile, or in memory when that is null), resource fork to memory
  // or a "RES" file, both forks and the header into a CAppleFile of the
  // body part, whose content becomes the data fork.
  [[nodiscard]] HRESULT FillBodyContentMacBinHex40(IStream* dataOut, CSharedObjPtr<CSharedTmpFile>& dataFile,
                                                   IStream* source, ULONG length, CRfc822Part& part) const;

  static void ParseAddressList(const TSTRING& text, CRfc822Addresses& list, tag_ADDRESS_TYPE type);
  // One group entry ("display name: members;"): its members go to list.
  static void ParseAddressGroupList(const TSTRING& text, CRfc822Addresses& list, tag_ADDRESS_TYPE type);
  // address := the mailbox in text (null: an empty record).
  static void SplitAndStripAddress(const char* text, CRfc822Address& address);

  CRfc822Parser(const CRfc822Parser&) = delete;
  CRfc822Parser& operator=(const CRfc822Parser&) = delete;

 private:
  static void ParseAddressList(const TSTRING& text, CRfc822Addresses& list, tag_ADDRESS_TYPE type, int depth);
  static void ParseAddressGroupList(const TSTRING& text, CRfc822Addresses& list, tag_ADDRESS_TYPE type,
                                    int depth);

  TSTRING m_strTempDir;
  ULONG m_nMaxContentSizeInMemory;
  DWORD m_dwTempDirError;  // why the folder is empty
};

}  // namespace telsor

#endif  // TELSOR_MIME_RFC822PARSER_H
