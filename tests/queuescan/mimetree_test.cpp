#include <gtest/gtest.h>

#include <sys/resource.h>

#include <string>
#include <vector>

#include "testutil.h"

using qstest::parse;
using qstest::range;
using qstest::TempDir;

namespace {

const std::string kNested =
    "From: a@example.org\n"
    "To: c@example.net\n"
    "Subject: nested\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/mixed; charset=x;\n"
    "\tboundary=\"outer\"\n"
    "\n"
    "This is the preamble.\n"
    "--outer\n"
    "Content-Type: multipart/alternative; boundary=inner\n"
    "\n"
    "--inner\n"
    "Content-Type: text/plain; charset=utf-8\n"
    "Content-Transfer-Encoding: quoted-printable\n"
    "\n"
    "Caf=C3=A9 au lait, soft=\n"
    "break\n"
    "--inner\n"
    "Content-Type: TEXT/HTML\n"
    "\n"
    "<html><body>Hi</body></html>\n"
    "--inner--\n"
    "\n"
    "--outer\n"
    "Content-Type: application/octet-stream; name=\"x.bin\"\n"
    "content-transfer-encoding: BASE64\n"
    "Content-Disposition: attachment; filename=\"x.bin\"\n"
    "\n"
    "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v\n"
    "MDEyMzQ1Njc4OTo7PD0+Pw==\n"
    "--outer\n"
    "Content-Type: message/rfc822\n"
    "Content-Disposition: inline\n"
    "\n"
    "From: e@example.com\n"
    "Subject: inner mail\n"
    "Content-Type: text/plain\n"
    "\n"
    "embedded body\n"
    "--outer--\n"
    "epilogue\n";

long at(const std::string &text, const std::string &marker, size_t nth = 0)
{
    size_t pos = 0;
    for (size_t i = 0;; ++i) {
        pos = text.find(marker, pos);
        if (pos == std::string::npos || i == nth)
            return static_cast<long>(pos);
        ++pos;
    }
}

}  // namespace

TEST(MimeTree, NestedFixtureParsesIntoRangesTypesAndFlags)
{
    TempDir dir;
    auto root = parse(dir, kNested);
    ASSERT_TRUE(root);
    const std::string &t = kNested;
    EXPECT_EQ(root->start(), 0);
    EXPECT_EQ(root->end(), static_cast<long>(t.size()));
    EXPECT_EQ(root->header_end(), at(t, "\n\n") + 1);
    EXPECT_EQ(root->content_type(), CONTENT_TYPE_MULTIPART);
    EXPECT_STREQ(root->boundary_line().cstr(), "--outer\n");
    EXPECT_STREQ(root->closing_boundary_line().cstr(), "--outer--\n");
    ASSERT_EQ(root->children().size(), 3u);

    const HqMimePart &alt = *root->children()[0];
    EXPECT_EQ(alt.start(), at(t, "--outer\n", 0) + 8);
    EXPECT_EQ(alt.end(), at(t, "--outer\n", 1));
    EXPECT_EQ(alt.content_type(), CONTENT_TYPE_MULTIPART);
    EXPECT_STREQ(alt.boundary_line().cstr(), "--inner\n");
    ASSERT_EQ(alt.children().size(), 2u);

    const HqMimePart &plain = *alt.children()[0];
    EXPECT_EQ(range(t, plain),
              "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: quoted-printable\n\n"
              "Caf=C3=A9 au lait, soft=\nbreak\n");
    EXPECT_EQ(plain.content_type(), CONTENT_TYPE_TEXT);
    EXPECT_EQ(plain.content_subtype(), CONTENT_SUBTYPE_PLAIN);
    EXPECT_EQ(plain.encoding(), ENCODING_QUOTED_PRINTABLE);
    EXPECT_FALSE(plain.is_attachment());

    const HqMimePart &html = *alt.children()[1];
    // The last child ends at the closing line.
    EXPECT_EQ(range(t, html), "Content-Type: TEXT/HTML\n\n<html><body>Hi</body></html>\n");
    EXPECT_EQ(html.content_type(), CONTENT_TYPE_TEXT);
    EXPECT_EQ(html.content_subtype(), CONTENT_SUBTYPE_HTML);
    EXPECT_EQ(html.encoding(), ENCODING_OTHER);

    const HqMimePart &bin = *root->children()[1];
    EXPECT_EQ(bin.start(), at(t, "--outer\n", 1) + 8);
    EXPECT_EQ(bin.end(), at(t, "--outer\n", 2));
    EXPECT_EQ(bin.content_type(), CONTENT_TYPE_APPLICATION);
    EXPECT_EQ(bin.content_subtype(), CONTENT_SUBTYPE_OTHER);
    EXPECT_EQ(bin.encoding(), ENCODING_BASE64);
    EXPECT_TRUE(bin.is_attachment());
    EXPECT_TRUE(bin.children().empty());

    const HqMimePart &msg = *root->children()[2];
    EXPECT_EQ(msg.start(), at(t, "--outer\n", 2) + 8);
    EXPECT_EQ(msg.end(), at(t, "--outer--\n"));
    EXPECT_EQ(msg.content_type(), CONTENT_TYPE_MESSAGE);
    EXPECT_FALSE(msg.is_attachment());
    ASSERT_NE(msg.message_child(), nullptr);
    const HqMimePart &inner = *msg.message_child();
    EXPECT_EQ(inner.start(), at(t, "From: e@"));
    EXPECT_EQ(inner.end(), msg.end());
    EXPECT_EQ(inner.header_end(), at(t, "text/plain\n\nembedded") + 11);
    EXPECT_EQ(inner.content_type(), CONTENT_TYPE_TEXT);
    EXPECT_EQ(inner.content_subtype(), CONTENT_SUBTYPE_PLAIN);
}

TEST(MimeTree, SmallFixtures)
{
    struct Case {
        const char *name;
        std::string text;
        long header_end;      // -1: not checked
        int type, subtype, encoding;
        bool attachment;
        const char *boundary;
        size_t children;
    } cases[] = {
        {"crlf header end is the CR", "Subject: x\r\nContent-Type: text/html\r\n\r\nbody\r\n", 37, 0, 0, 0, false,
         nullptr, 0},
        {"quoted boundary", "Content-Type: multipart/mixed; boundary=\"abc\"\n\n--abc\nA\n--abc--\n", 46, 3, 2, 0,
         false, "--abc\n", 1},
        {"boundary after another parameter, first one counts",
         "Content-Type: multipart/related; type=x; boundary=one; boundary=two\n\n--one\n\nA\n--two\n", -1, 3, 2, 0,
         false, "--one\n", 1},
        {"lower-case encoding header, upper-case value",
         "content-transfer-encoding: BASE64\ncontent-type: image/png\n\nAAAA\n", -1, 4, 2, 1, false, nullptr, 0},
        {"quoted-printable", "Content-Transfer-Encoding:  Quoted-Printable \n\nx\n", -1, 0, 3, 2, false, nullptr, 0},
        {"unknown encoding", "Content-Transfer-Encoding: 8bit\n\nx\n", -1, 0, 3, 0, false, nullptr, 0},
        {"attachment with a file name", "Content-Disposition: attachment; filename=\"a;b\"\n\nx\n", -1, 0, 3, 0,
         true, nullptr, 0},
        {"attachment in capitals", "Content-Disposition:ATTACHMENT\n\nx\n", -1, 0, 3, 0, true, nullptr, 0},
        {"inline is no attachment", "Content-Disposition: inline; filename=a\n\nx\n", -1, 0, 3, 0, false, nullptr,
         0},
        {"continued value joined", "Content-Type: multipart/mixed;\n boundary=\n\t\"cont\"\n\n--cont\nx\n", -1, 3,
         2, 0, false, "--cont\n", 1},
        {"first byte LF: empty header block", "\nContent-Type: text/html\n\n", 0, 0, 3, 0, false, nullptr, 0},
        {"no blank line: all header", "Content-Type: text/html\nX: y\n", 29, 0, 0, 0, false, nullptr, 0},
        {"calendar and unknown type", "Content-Type: text/calendar\n\nx", -1, 0, 1, 0, false, nullptr, 0},
        {"other type", "Content-Type: video/mp4\n\nx", -1, 4, 2, 0, false, nullptr, 0},
        {"type without subtype", "Content-Type: text; charset=x\n\nx", -1, 0, 2, 0, false, nullptr, 0},
        {"multipart without boundary has no children", "Content-Type: multipart/mixed\n\n--a\nx\n--a--\n", -1,
         3, 2, 0, false, nullptr, 0},
        {"empty boundary is none", "Content-Type: multipart/mixed; boundary=\"\"\n\n--\nx\n", -1, 3, 2, 0, false,
         nullptr, 0},
        {"header name inside a value is no header", "Subject: Content-Type: text/html\n\nx", -1, 0, 3, 0, false,
         nullptr, 0},
        {"crlf boundary lines", "Content-Type: multipart/mixed; boundary=c\r\n\r\n--c\r\n\r\nA\r\n--c\r\n\r\nB\r\n--c--\r\n",
         -1, 3, 2, 0, false, "--c\n", 2},
        {"blanks after a boundary", "Content-Type: multipart/mixed; boundary=c\n\n--c \t\n\nA\n--c \r\n\nB\n--c--  \n", -1,
         3, 2, 0, false, "--c\n", 2},
        {"a longer boundary is another one",
         "Content-Type: multipart/mixed; boundary=c\n\n--c\n\nA\n--cd\n\nB\n--c-x\n--c\n\nC\n--c--\n", -1, 3, 2, 0,
         false, "--c\n", 2},
        {"a lone CR ends no boundary line", "Content-Type: multipart/mixed; boundary=c\n\n--c\rx\n--c\n\nA\n", -1, 3,
         2, 0, false, "--c\n", 1},
        {"crlf empty header block", "\r\nContent-Type: text/html\r\n\r\nx", 0, 0, 3, 0, false, nullptr, 0},
        {"header names after the header end are body",
         "Subject: x\n\nContent-Transfer-Encoding: base64\n", -1, 0, 3, 0, false, nullptr, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        auto part = parse(dir, c.text);
        ASSERT_TRUE(part);
        if (c.header_end >= 0) {
            EXPECT_EQ(part->header_end(), c.header_end);
        }
        EXPECT_EQ(part->content_type(), c.type);
        EXPECT_EQ(part->content_subtype(), c.subtype);
        EXPECT_EQ(part->encoding(), c.encoding);
        EXPECT_EQ(part->is_attachment(), c.attachment);
        EXPECT_STREQ(part->boundary_line().cstr(), c.boundary);
        EXPECT_EQ(part->children().size(), c.children);
    }
}

TEST(MimeTree, ChildrenRunFromBoundaryLineToBoundaryLine)
{
    struct Case {
        const char *name;
        std::string text;
        std::vector<std::string> children;
        std::vector<std::string> bodies;
    } cases[] = {
        {"lf", "Content-Type: multipart/mixed; boundary=\"abc\"\n\npre\n--abc\nA\n\none\n--abc\nB\n\ntwo\n--abc--\npost\n",
         {"A\n\none\n", "B\n\ntwo\n"}, {"one\n", "two\n"}},
        {"lf without a closing line: the last child runs to the end",
         "Content-Type: multipart/mixed; boundary=abc\n\n--abc\nA\n\nx\n--abc\nB\n\ny\n", {"A\n\nx\n", "B\n\ny\n"},
         {"x\n", "y\n"}},
        {"crlf, blanks after a boundary, an empty header block",
         "Content-Type: multipart/mixed; boundary=\"abc\"\r\n\r\npre\r\n--abc\r\nA: 1\r\n\r\none\r\n"
         "--abc  \r\n\r\ntwo\r\n--abc--\r\npost\r\n",
         {"A: 1\r\n\r\none\r\n", "\r\ntwo\r\n"}, {"one\r\n", "two\r\n"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        auto root = parse(dir, c.text);
        ASSERT_EQ(root->children().size(), c.children.size());
        for (size_t i = 0; i < c.children.size(); ++i) {
            HqMimePart &child = *root->children()[i];
            EXPECT_EQ(range(c.text, child), c.children[i]);
            long body = child.body_start();
            EXPECT_EQ(c.text.substr(static_cast<size_t>(body), static_cast<size_t>(child.end() - body)), c.bodies[i]);
        }
    }
}

namespace {

// One line per part, depth first: its kind, flags and decoded payload, with
// CR LF in text payloads taken as LF.
void describe(HqMimePart &part, int depth, std::vector<std::string> *out)
{
    std::string line = std::to_string(depth) + " type " + std::to_string(part.content_type()) + "/" +
                       std::to_string(part.content_subtype()) + " enc " + std::to_string(part.encoding()) +
                       (part.is_attachment() ? " attachment" : "") + " children " +
                       std::to_string(part.children().size()) + (part.message_child() ? " message" : "");
    if (part.children().empty() && !part.message_child()) {
        std::string payload = qstest::read_file(part.decoded_path().str());
        if (part.content_type() == CONTENT_TYPE_TEXT)
            for (size_t p; (p = payload.find("\r\n")) != std::string::npos;)
                payload.replace(p, 2, "\n");
        line += " payload " + qstest::hex(payload);
    }
    out->push_back(line);
    for (auto &child : part.children())
        describe(*child, depth + 1, out);
    if (part.message_child())
        describe(*part.message_child(), depth + 1, out);
}

}  // namespace

TEST(MimeTree, CrLfFixtureGivesTheTreeOfItsLfForm)
{
    const std::string lf = qstest::fixture("forwarded-virus.eml");
    std::vector<std::string> trees[2];
    int i = 0;
    for (const std::string &text : {lf, qstest::crlf(lf)}) {
        TempDir dir;
        auto root = parse(dir, text);
        ASSERT_EQ(root->decode_data(nullptr), 0);
        describe(*root, 0, &trees[i++]);
    }
    ASSERT_EQ(trees[0].size(), 7u) << ::testing::PrintToString(trees[0]);
    EXPECT_EQ(trees[0][3], "2 type 3/2 enc 0 children 3");   // the forwarded message's own multipart
    EXPECT_EQ(trees[1], trees[0]);
}

TEST(MimeTree, EmbeddedMessageStartsRightAfterTheBlankLine)
{
    struct Case {
        std::string text;
        const char *child;
    } cases[] = {
        {"Content-Type: message/rfc822\n\nFrom: x\n\nbody\n", "From: x\n\nbody\n"},
        {"Content-Type: message/rfc822\r\n\r\nFrom: x\r\n\r\nbody\r\n", "From: x\r\n\r\nbody\r\n"},
        {"Content-Type: message/rfc822\n\n\nbody\n", "\nbody\n"},
    };
    for (const Case &c : cases) {
        TempDir dir;
        auto part = parse(dir, c.text);
        ASSERT_NE(part->message_child(), nullptr) << c.text;
        EXPECT_EQ(range(c.text, *part->message_child()), c.child);
    }
    // A message part with no blank line has no body and no child.
    TempDir dir;
    auto part = parse(dir, "Content-Type: message/rfc822\nFrom: x\n");
    EXPECT_EQ(part->message_child(), nullptr);
}

TEST(MimeTree, SearchesFindMarkersAcrossBlockSeamsAndAfterNulBytes)
{
    // "\n\n" placed so that it starts at, or straddles, the 8191/8192 seams.
    for (long pos : {8189L, 8190L, 8191L, 8192L, 16381L, 16382L, 16383L}) {
        TempDir dir;
        std::string text = "Subject: " + std::string(static_cast<size_t>(pos) - 9, 'x') + "\n\nbody";
        text[100] = '\0';   // a NUL in the header does not stop the search
        auto part = parse(dir, text);
        EXPECT_EQ(part->header_end(), pos + 1) << pos;
    }
    // A boundary line straddling the seam of the search that starts at the
    // header end is found.
    std::string head = "Content-Type: multipart/mixed; boundary=seam\n\n";
    long from = static_cast<long>(head.size()) - 1;
    for (long back : {0L, 1L, 2L, 3L, 6L, 7L, 8L, 8192L - 100}) {
        TempDir dir;
        long b = from + 8192 - back;
        std::string text = head + std::string(static_cast<size_t>(b - 1) - head.size(), 'p') +
                           "\n--seam\nA\n\nx\n--seam--\n";
        auto part = parse(dir, text);
        ASSERT_EQ(part->children().size(), 1u) << back;
        EXPECT_EQ(part->children()[0]->start(), b + 7) << back;
        EXPECT_EQ(range(text, *part->children()[0]), "A\n\nx\n") << back;
    }
}

TEST(MimeTree, FstrfindHonoursCaseAndThePartEnd)
{
    TempDir dir;
    std::string text = "Subject: x\n\n<html><BODY>hi</Body></html>\n";
    auto part = parse(dir, text);
    FILE *f = fopen(dir.file("message").c_str(), "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(part->fstrfind(f, "</BODY>", 0, true), static_cast<long>(text.find("</Body>")));
    EXPECT_EQ(part->fstrfind(f, "</BODY>", 0, false), -1);
    EXPECT_EQ(part->fstrfind(f, "<BODY>", 0, false), static_cast<long>(text.find("<BODY>")));
    EXPECT_EQ(part->fstrfind(f, "x", 9, false), 9);
    EXPECT_EQ(part->fstrfind(f, std::string(8192, 'a').c_str(), 0, false), -1);
    EXPECT_EQ(part->fstrfind(f, "", 0, false), -1);
    fclose(f);

    // Matches beyond the part's end do not count.
    std::string multi = "Content-Type: multipart/mixed; boundary=b\n\n--b\nA\n\nx\n--b--\nSubject: x\n";
    auto root = parse(dir, multi, "multi");
    ASSERT_EQ(root->children().size(), 1u);
    HqMimePart &child = *root->children()[0];
    FILE *g = fopen(dir.file("multi").c_str(), "r");
    EXPECT_EQ(child.fstrfind(g, "Subject", child.start(), false), -1);
    EXPECT_EQ(root->fstrfind(g, "Subject", child.start(), false), static_cast<long>(multi.find("Subject")));
    fclose(g);
}

namespace {

std::string many_parts(int n)
{
    std::string text = "Subject: many\nContent-Type: multipart/mixed; boundary=\"m\"\n\n";
    for (int i = 0; i < n; ++i)
        text += "--m\nContent-Type: text/plain\n\npart " + std::to_string(i) + "\n";
    return text + "--m--\n";
}

}  // namespace

TEST(MimeTree, TwoThousandParts)
{
    TempDir dir;
    std::string text = many_parts(2000);
    auto root = parse(dir, text);
    ASSERT_EQ(root->children().size(), 2000u);
    for (int i : {0, 1, 999, 1999})
        EXPECT_EQ(range(text, *root->children()[static_cast<size_t>(i)]),
                  "Content-Type: text/plain\n\npart " + std::to_string(i) + "\n");
    std::string copy = qstest::dump(*root, false);
    EXPECT_NE(copy.find("part 1999\n\n\n--m--\n\n"), std::string::npos);
}

TEST(MimeTree, FewDescriptorsAreEnoughForThousandsOfParts)
{
    TempDir dir;
    std::string text = many_parts(2000);
    std::string expected_copy;
    {
        auto full = parse(dir, text, "full");
        expected_copy = qstest::dump(*full, false);
    }
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    struct rlimit low = old;
    low.rlim_cur = 32;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    auto root = parse(dir, text);
    std::string copy = root ? qstest::dump(*root, false) : std::string();
    size_t split = 0;
    if (root)
        for (auto &child : root->children())
            split += child->content_type() == CONTENT_TYPE_TEXT && child->has_reader();
    root.reset();
    setrlimit(RLIMIT_NOFILE, &old);

    EXPECT_EQ(split, 2000u);
    EXPECT_EQ(copy, expected_copy);
}

TEST(MimeTree, DeepNestingStopsSplittingAtTheDepthLimit)
{
    TempDir dir;
    std::string text;
    const int levels = 200;
    for (int i = 0; i < levels; ++i)
        text += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(i) + "\"\n\n--b" +
                std::to_string(i) + "\n";
    text += "Content-Type: text/plain\n\ndeep\n";
    auto root = parse(dir, text);
    int depth = 0;
    const HqMimePart *p = root.get();
    while (p && !p->children().empty()) {
        p = p->children()[0].get();
        ++depth;
    }
    EXPECT_EQ(depth, HqMimePart::kMaxDepth + 1);
    EXPECT_TRUE(p->is_kept_whole());
    EXPECT_EQ(p->content_type(), CONTENT_TYPE_MULTIPART);
    EXPECT_EQ(qstest::dump(*root, false).find("deep\n") != std::string::npos, true);
}
