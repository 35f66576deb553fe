// Logging cookie, logging header, auditing notices and the output pass.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>

#include <ctime>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "hqlog.h"
#include "messagefixture.h"

using qstest::kHtmlNotice;
using qstest::kPlainNotice;
using qstest::kPlainNoticeBase64;
using qstest::read_file;
using qstest::write_file;

namespace {

class LoggingTest : public qstest::MessageFixture {
protected:
    // A cookie file of the given age in seconds.
    void set_cookie(const std::string &text, long age)
    {
        write_file(paths_[4], text);
        struct timeval tv[2];
        tv[0].tv_sec = tv[1].tv_sec = time(nullptr) - age;
        tv[0].tv_usec = tv[1].tv_usec = 0;
        ASSERT_EQ(utimes(paths_[4].c_str(), tv), 0);
    }
};

struct OutputCase {
    const char *name;
    std::string message;
    std::string expected;   // "@H" stands for the logging header line
};

std::string with_header(std::string text, const std::string &header)
{
    size_t at = text.find("@H");
    return at == std::string::npos ? text : text.replace(at, 2, header);
}

const std::string kPlain = kPlainNotice;
const std::string kHtml = kHtmlNotice;
const std::string kB64 = kPlainNoticeBase64;

const std::vector<OutputCase> kOutputCases = {
    {"single_plain", "Subject: a\nTo: b@example.org\n\nline one\nline two\n",
     "Subject: a\nTo: b@example.org\n@H\nline one\nline two\n" + kPlain},
    {"single_html_lower_case_body",
     "Content-Type: text/html\n\n<html><body>hi</body></html>\n",
     "Content-Type: text/html\n@H\n<html><body>hi" + kHtml + "</body></html>\n"},
    {"single_html_without_body_end", "Content-Type: text/html\n\n<p>hi</p>\n",
     "Content-Type: text/html\n@H\n<p>hi</p>\n" + kHtml},
    {"crlf_header", "Subject: a\r\nTo: b\r\n\r\nbody\r\n",
     "Subject: a\r\nTo: b\r\n@H\r\nbody\r\n" + kPlain},
    {"empty_header_block", "\nbody only\n", "@H\nbody only\n" + kPlain},
    {"not_text", "Content-Type: application/pdf\n\n%PDF\n",
     "Content-Type: application/pdf\n@H\n%PDF\n"},
    {"alternative_plain_and_html",
     "Content-Type: multipart/alternative; boundary=\"alt\"\n\n"
     "--alt\nContent-Type: text/plain\n\nplain body\n"
     "--alt\nContent-Type: text/html\n\n<html><BODY>html body</Body></html>\n"
     "--alt--\n",
     "Content-Type: multipart/alternative; boundary=\"alt\"\n@H\n"
     "--alt\nContent-Type: text/plain\n\nplain body\n" + kPlain +
         "--alt\nContent-Type: text/html\n\n<html><BODY>html body" + kHtml + "</Body></html>\n"
         "--alt--\n"},
    {"base64_text_child",
     "Content-Type: multipart/mixed; boundary=b\n\n"
     "--b\nContent-Type: text/plain\nContent-Transfer-Encoding: base64\n\naGVsbG8gYmFzZTY0Cg==\n"
     "--b--\n",
     "Content-Type: multipart/mixed; boundary=b\n@H\n"
     "--b\nContent-Type: text/plain\nContent-Transfer-Encoding: base64\n\naGVsbG8gYmFzZTY0Cg==\n" + kB64 +
         "\n--b--\n"},
    {"attachment_text_gets_none",
     "Content-Type: multipart/mixed; boundary=b\n\n"
     "--b\nContent-Type: text/plain\nContent-Disposition: attachment; filename=a.txt\n\nattached\n"
     "--b\nContent-Type: text/plain\n\ninline\n"
     "--b--\n",
     "Content-Type: multipart/mixed; boundary=b\n@H\n"
     "--b\nContent-Type: text/plain\nContent-Disposition: attachment; filename=a.txt\n\nattached\n"
     "--b\nContent-Type: text/plain\n\ninline\n" + kPlain + "--b--\n"},
    {"crlf_alternative",
     "Content-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n"
     "--alt\r\nContent-Type: text/plain\r\n\r\nplain body\r\n"
     "--alt\r\nContent-Type: text/html\r\n\r\n<html><body>html body</body></html>\r\n"
     "--alt--\r\n",
     "Content-Type: multipart/alternative; boundary=\"alt\"\r\n@H\r\n"
     "--alt\r\nContent-Type: text/plain\r\n\r\nplain body\r\n" + kPlain +
         "--alt\r\nContent-Type: text/html\r\n\r\n<html><body>html body" + kHtml + "</body></html>\r\n"
         "--alt--\r\n"},
    {"nested_multipart_depth_first",
     "Content-Type: multipart/mixed; boundary=out\n\n"
     "--out\nContent-Type: multipart/alternative; boundary=in\n\n"
     "--in\nContent-Type: text/plain\n\ninner plain\n"
     "--in\nContent-Type: text/html\n\n<b>inner</b>\n"
     "--in--\n"
     "--out\nContent-Type: text/plain\n\nouter plain\n"
     "--out--\n",
     "Content-Type: multipart/mixed; boundary=out\n@H\n"
     "--out\nContent-Type: multipart/alternative; boundary=in\n\n"
     "--in\nContent-Type: text/plain\n\ninner plain\n" + kPlain +
         "--in\nContent-Type: text/html\n\n<b>inner</b>\n" + kHtml +
         "--in--\n"
         "--out\nContent-Type: text/plain\n\nouter plain\n" + kPlain + "--out--\n"},
};

// Failures name the case instead of dumping its bytes.
void PrintTo(const OutputCase &c, std::ostream *os) { *os << c.name; }

class OutputTest : public LoggingTest, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(OutputTest, HeaderAndNoticesGoInPlace)
{
    set_cookie("c0ffee42\n", 10);
    HqMimeMessage &message = load(GetParam().message);
    EXPECT_EQ(message.cookie().str(), "c0ffee42");
    EXPECT_TRUE(message.log_message());
    int result = -1;
    std::string out = output(&result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out, with_header(GetParam().expected, header("c0ffee42")));
}

INSTANTIATE_TEST_SUITE_P(Messages, OutputTest, ::testing::ValuesIn(kOutputCases),
                         [](const ::testing::TestParamInfo<OutputCase> &info) { return info.param.name; });

TEST_F(LoggingTest, MessageWithTheCurrentHeaderPassesUnchanged)
{
    set_cookie("c0ffee42\n", 10);
    // A header under another domain or an older cookie does not count.
    const std::vector<std::pair<std::string, bool>> cases = {
        {"X-BRONTAL-Logged: example.org c0ffee42", true},
        {"x-brontal-logged:   example.org c0ffee42  ", true},
        {"x-brontal-logged:example.org c0ffee42", true},
        {"X-BRONTAL-Logged: example.org C0FFEE42", false},
        {"X-BRONTAL-Logged: example.org c0ffee41", false},
        {"X-BRONTAL-Logged: example.com c0ffee42", false},
        {"X-BRONTAL-Logged: c0ffee42", false},
    };
    for (const auto &c : cases) {
        std::string text = "Subject: s\n" + c.first + "\n\nbody\n";
        HqMimeMessage &message = load(text);
        EXPECT_EQ(message.log_message(), !c.second) << c.first;
        std::string expected = c.second ? text : "Subject: s\n" + c.first + "\n" + header("c0ffee42") + "\nbody\n" + kPlain;
        EXPECT_EQ(output(), expected) << c.first;
    }
}

TEST_F(LoggingTest, WithoutLoggingWantedTheOutputIsACopy)
{
    std::string text = "Content-Type: multipart/mixed; boundary=b\n\n--b\n\nx\n--b--\n";
    load(text);
    EXPECT_EQ(output(), text);
}

TEST_F(LoggingTest, TagOffsetsFollowTheFileOnceEach)
{
    std::string text =
        "Content-Type: multipart/mixed; boundary=out\n\n"
        "--out\nContent-Type: text/plain\nContent-Transfer-Encoding: quoted-printable\n\nqp=20text\n"
        "--out\nContent-Type: multipart/alternative; boundary=in\n\n"
        "--in\nContent-Type: text/html\nContent-Transfer-Encoding: base64\n\nPGI+eDwvYj4K\n"
        "--in\nContent-Type: text/calendar\n\nBEGIN\n"
        "--in--\n"
        "--out\nContent-Type: text/html\nContent-Transfer-Encoding: quoted-printable\n\n<body>y</body>\n"
        "--out--\n";
    HqMimeMessage &message = load(text);
    std::vector<std::pair<long, int>> got;
    int code = -1;
    for (long offset; (offset = message.find_tag_offset(&code)) >= 0 && got.size() < 10;)
        got.emplace_back(offset, code);
    std::vector<std::pair<long, int>> expected = {
        {static_cast<long>(text.find("--out\nContent-Type: multipart")), 4},
        {static_cast<long>(text.find("--in\nContent-Type: text/calendar")), 3},
        {static_cast<long>(text.find("</body>")), 5},
    };
    EXPECT_EQ(got, expected);
    EXPECT_EQ(message.find_tag_offset(&code), -1);
}

namespace {

// Counts the parts that the notice walk looks at (one "partnum" message each).
struct WalkCounter : HqLogReceiver {
    long looked = 0;
    void receive(const char *, int, const std::string &text) override
    {
        looked += text.find(", partnum ") != std::string::npos;
    }
};

}  // namespace

TEST_F(LoggingTest, NoticeWalkLooksAtEachPartOnce)
{
    // Parts that get no notice before a nested multipart and after it: a walk
    // that starts again from the first child on each call looks at those
    // thousands of times.
    const int n = 1500;
    std::string text = "Content-Type: multipart/mixed; boundary=o\n\n";
    for (int i = 0; i < n; ++i)
        text += "--o\nContent-Type: application/x\n\nbin " + std::to_string(i) + "\n";
    text += "--o\nContent-Type: multipart/alternative; boundary=i\n\n";
    for (int i = 0; i < n; ++i)
        text += "--i\nContent-Type: text/plain\n\ninner " + std::to_string(i) + "\n";
    text += "--i--\n";
    for (int i = 0; i < n; ++i)
        text += "--o\nContent-Type: text/plain\n\nouter " + std::to_string(i) + "\n";
    text += "--o--\n";
    set_cookie("c0ffee42\n", 10);
    HqMimeMessage &message = load(text);
    EXPECT_TRUE(message.log_message());
    WalkCounter counter;
    std::string out = output();
    const long parts = 3L * n + 1;
    EXPECT_GE(counter.looked, parts);
    EXPECT_LE(counter.looked, 2 * parts) << "parts looked at again and again";
    size_t notices = 0;
    for (size_t p = out.find(kPlain); p != std::string::npos; p = out.find(kPlain, p + 1))
        ++notices;
    EXPECT_EQ(notices, 2u * n);
    EXPECT_NE(out.find("inner 0\n" + kPlain + "--i\n"), std::string::npos);
    EXPECT_NE(out.find("outer " + std::to_string(n - 1) + "\n" + kPlain + "--o--\n"), std::string::npos);
}

TEST_F(LoggingTest, CookieIsMadeWhenMissingAndKeptWhileFresh)
{
    HqMimeMessage &first = load("Subject: a\n\nb\n");
    std::string made = read_file(paths_[4]);
    EXPECT_TRUE(qstest::is_cookie_line(made)) << made;
    EXPECT_EQ(first.cookie().str() + "\n", made);
    struct stat st;
    ASSERT_EQ(stat(paths_[4].c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);

    set_cookie("abcdef012345\n", 899);
    EXPECT_EQ(load("Subject: a\n\nb\n").cookie().str(), "abcdef012345");
    EXPECT_EQ(read_file(paths_[4]), "abcdef012345\n");
}

TEST_F(LoggingTest, CookieOlderThanAllowedIsRenewed)
{
    set_cookie("abcdef012345\n", 1000);
    HqMimeMessage &message = load("Subject: a\n\nb\n");
    std::string renewed = read_file(paths_[4]);
    EXPECT_NE(renewed, "abcdef012345\n");
    EXPECT_TRUE(qstest::is_cookie_line(renewed)) << renewed;
    EXPECT_EQ(message.cookie().str() + "\n", renewed);
    // Only the message copy and the files set up remain: no temporary left.
    EXPECT_EQ(dir_.count(), 3);
}

TEST_F(LoggingTest, UnreadableCookieGivesTheFallback)
{
    std::string missing_dir = dir_.file("absent/hqmail.cookie");
    places_.cookie_file = missing_dir.c_str();
    EXPECT_EQ(load("Subject: a\n\nb\n").cookie().str(), "505918273640071829364");
    EXPECT_EQ(dir_.count(), 2);   // the temporary cookie was removed again
}
}  // namespace
