// HqMimePart: one MIME part of a message that lies in a file, described by
// byte ranges of that file; the message is never held in memory.
//
//   FILE *copy = fopen(path, "r");
//   HqMimePart root(copy, 0, size);        // takes over `copy`
//   root.process_part();                   // header end, headers, children
//   for (auto &child : root.children()) ... child->start(), child->end()
//   root.decode_data(nullptr);             // each leaf into a decoded file
//   root.dump_to_file(out, true);          // the message less flagged parts
//
// Ranges: a part runs from start() to end() (exclusive); its header block
// from start() to header_end() (exclusive); its body from body_start() to
// end(). Lines may end in LF or in CR LF. All parts of a tree read the file
// through one shared HqFileReader, so the cost in system calls follows the
// size of the file, not the number of lines or parts. A part nested deeper
// than kMaxDepth is kept as a leaf. A part owns its children, its message
// child and its decoded file, which it removes when destroyed.
// Single-threaded.
#pragma once

#include <cstdio>
#include <memory>
#include <vector>

#include "hqbuf.h"
#include "hqfilereader.h"
#include "hqplaces.h"
#include "hqstring.h"

enum HqMimeContentType {
    CONTENT_TYPE_TEXT = 0,
    CONTENT_TYPE_APPLICATION = 1,
    CONTENT_TYPE_MESSAGE = 2,
    CONTENT_TYPE_MULTIPART = 3,
    CONTENT_TYPE_OTHER = 4,
};

enum HqMimeContentSubType {
    CONTENT_SUBTYPE_HTML = 0,
    CONTENT_SUBTYPE_CALENDAR = 1,
    CONTENT_SUBTYPE_OTHER = 2,
    CONTENT_SUBTYPE_PLAIN = 3,
};

enum HqMimeEncoding {
    ENCODING_OTHER = 0,
    ENCODING_BASE64 = 1,
    ENCODING_QUOTED_PRINTABLE = 2,
};

class HqMimePart {
public:
    static constexpr const char *kDecodedTemplate = "/var/tmp//decoded-XXXXXX";
    // Deeper parts are kept as leaves, so a hostile nesting cannot exhaust the stack.
    static constexpr int kMaxDepth = 64;

    HqMimePart();
    // Takes ownership of `stream`. Decoded files are made from `decoded_template`
    // (mkstemp form), which every part of the tree inherits.
    HqMimePart(FILE *stream, long start, long end, const char *decoded_template = kDecodedTemplate);
    virtual ~HqMimePart();
    HqMimePart(const HqMimePart &) = delete;
    HqMimePart &operator=(const HqMimePart &) = delete;

    // Header end, headers, then the children, recursively. Returns the header end.
    long process_part();
    void parse_headers();
    void parse_content_type(char *value);
    // Index of the header line at `offset` in the header table, or -1.
    int find_header_index(long offset);
    long find_header_end();
    // TABs become spaces, line-end bytes (LF, CR) are removed; in place.
    static void strip_tab_newline(char *text);
    // Copy without leading and trailing spaces, TABs and CRs.
    static std::string strtrim(const char *text);
    // File offset of the first occurrence of `pattern` in `stream` at or
    // after `from`, or -1 (also when it would start beyond this part's end).
    // Occurrences that span read blocks or follow NUL bytes are found.
    long fstrfind(FILE *stream, const char *pattern, long from, bool nocase);

    // Decoding by transfer encoding. A part with children decodes them; a leaf
    // writes to `path` when given, otherwise to a new decoded file of its own.
    // Returns 0 when the file cannot be opened, otherwise fclose's result.
    int decode_data(const char *path);
    int decode_text();
    int decode_base64();
    int decode_quoted();
    // One block of base64 with the group carried from the last block (0 to 3
    // characters). Returns the bytes written, or -1 once padding has ended
    // the data.
    int decode_base64_part(const char *block, int length, int *carried, unsigned char *carry);
    // Decodes what `block` holds as quoted-printable, keeping an escape cut by
    // the block's end for the next call; `finish` ends the data.
    int decode_quoted_part(HqBuf &block, bool finish);
    // Writes the part to `out`; with `skip_flagged`, suspicious and infected
    // parts are left out. 0, or -1 when writing failed.
    int dump_to_file(FILE *out, bool skip_flagged);

    // Scans one file with kavdaemon, up to three tries with a pause after
    // each failure. 2 something found (the part is flagged infected or
    // suspicious), -2 scanner trouble, 0 otherwise. `virus_name` gets the
    // daemon's name cut at its first space or line end.
    int vscan_file(const HqFastString &path, HqString *virus_name,
                   const HqQueuePlaces &places = HqQueuePlaces());
    // Scans every leaf (decoding it first); the largest leaf result, or 0.
    int vscan(HqString *virus_name, const HqQueuePlaces &places = HqQueuePlaces());

    // The next place for an auditing notice in this part's subtree, or -1;
    // `code` gets the notice code (encoding * 2, plus 1 for HTML). Successive
    // calls yield each eligible text part once, in file order; all the calls
    // together look at each part a bounded number of times.
    long find_tag_offset(int *code);

    long start() const { return start_; }
    long end() const { return end_; }
    long header_end() const { return header_end_; }
    // First body byte: after the LF of a "\n\n" blank line, after the LF of a
    // "\r\n" one.
    long body_start();
    // The line end of the part's blank line: "\r\n" or "\n".
    const char *line_end();
    int encoding() const { return encoding_; }
    HqMimeContentType content_type() const { return content_type_; }
    HqMimeContentSubType content_subtype() const { return content_subtype_; }
    bool is_attachment() const { return attachment_; }
    const HqString &boundary_line() const { return boundary_; }
    const HqString &closing_boundary_line() const { return closing_boundary_; }
    const std::vector<std::unique_ptr<HqMimePart>> &children() const { return children_; }
    HqMimePart *message_child() const { return message_child_.get(); }
    const HqString &decoded_path() const { return decoded_path_; }
    bool is_suspicious() const { return suspicious_; }
    bool is_infected() const { return infected_; }
    void set_suspicious(bool on) { suspicious_ = on; }
    void set_infected(bool on) { infected_ = on; }
    // Whether the part has a file to read (false: built without one).
    bool has_reader() const { return reader_ != nullptr; }
    // Whether the part is too deeply nested to be split into children.
    bool is_kept_whole() const { return leaf_only_; }

protected:
    void initvars();
    std::unique_ptr<HqMimePart> make_child(long from, long to);
    // The first occurrence of `pattern` in this part's file at or after
    // `from` that starts no later than the part's end, or -1.
    long search(const char *pattern, long from, bool nocase);
    // The next delimiter line ("--" boundary, or with `closing` "--"
    // boundary "--") at or after `from`: the line may carry blanks before its
    // LF or CR LF. Its offset, or -1; `*length` gets its length.
    long find_delimiter(long from, bool closing, long *length);
    bool copy_range(long from, long to, FILE *out);
    int byte_at(long offset);   // -1 when there is none
    // An "X-BRONTAL-Logged:" header in this part's header block, its value
    // trimmed. Only the message root cares.
    virtual void logging_header(const std::string &value);

    FILE *decoded_out_;            // open only while decoding
    HqString decoded_path_;
    HqString boundary_;            // "--boundary\n", null without one
    HqString closing_boundary_;    // "--boundary--\n"
    std::string delimiter_;        // "--boundary"
    std::shared_ptr<HqFileReader> reader_;
    long start_;
    long end_;
    long header_end_;
    int encoding_;
    HqMimeContentType content_type_;
    HqMimeContentSubType content_subtype_;
    bool attachment_;
    // Children finished by find_tag_offset (numbered from 1); the next
    // call goes on with the one after.
    int notice_counter_;
    bool suspicious_;
    bool infected_;
    std::vector<std::unique_ptr<HqMimePart>> children_;
    std::unique_ptr<HqMimePart> message_child_;

    HqString decoded_template_;
    int depth_;
    bool leaf_only_;               // no children: nested too deep
    // Quoted-printable state carried between blocks.
    int qp_state_;
    int qp_high_;
};
