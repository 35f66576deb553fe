#include <gtest/gtest.h>

#include <string>

#include "testutil.h"

using qstest::dump;
using qstest::parse;
using qstest::TempDir;

namespace {

const std::string kHead = "Subject: s\nContent-Type: multipart/mixed; boundary=\"b\"\n";
const std::string kMessage = kHead +
                             "\npreamble\n--b\nContent-Type: text/plain\n\none\n"
                             "--b\nContent-Type: application/x\n\ntwo\n--b--\nepilogue\n";
const std::string kAllInfected = "\nAll subparts of this MIME message are infected with a virus.\n";

}  // namespace

TEST(MimeDump, CopiesWithAndWithoutFlaggedParts)
{
    const std::string one = "Content-Type: text/plain\n\none\n";
    const std::string two = "Content-Type: application/x\n\ntwo\n";
    struct Case {
        const char *name;
        bool flag_first, flag_second, flag_root, skip;
        std::string expected;
    } cases[] = {
        {"nothing flagged", false, false, false, true,
         kHead + "\n\n" + "\n--b\n" + one + "\n--b\n" + two + "\n\n--b--\n\n"},
        {"first infected, skipped", true, false, false, true, kHead + "\n\n" + "\n--b\n" + two + "\n\n--b--\n\n"},
        {"second flagged, skipped", false, true, false, true, kHead + "\n\n" + "\n--b\n" + one + "\n\n--b--\n\n"},
        {"all flagged, skipped", true, true, false, true, kHead + "\n\n" + kAllInfected},
        {"all flagged, not skipped", true, true, false, false,
         kHead + "\n\n" + "\n--b\n" + one + "\n--b\n" + two + "\n\n--b--\n\n"},
        {"root flagged, skipped", false, false, true, true, ""},
    };
    for (const Case &c : cases) {
        TempDir dir;
        auto root = parse(dir, kMessage);
        ASSERT_EQ(root->children().size(), 2u);
        root->children()[0]->set_infected(c.flag_first);
        root->children()[1]->set_suspicious(c.flag_second);
        root->set_infected(c.flag_root);
        EXPECT_EQ(dump(*root, c.skip), c.expected) << c.name;
    }
}

TEST(MimeDump, LeavesAndMessageParts)
{
    TempDir dir;
    const std::string leaf = "Content-Type: text/plain\n\nhello\nworld\n";
    auto part = parse(dir, leaf);
    part->set_infected(true);
    EXPECT_EQ(dump(*part, true), "");
    EXPECT_EQ(dump(*part, false), leaf);

    const std::string msg = "Content-Type: message/rfc822\n\nFrom: x\n\nbody\n";
    auto m = parse(dir, msg, "msg");
    // The header block, its one blank line, then the embedded message whole.
    EXPECT_EQ(dump(*m, false), msg);
    m->message_child()->set_suspicious(true);
    EXPECT_EQ(dump(*m, true), "Content-Type: message/rfc822\n\n");

    // A multipart whose boundary never occurs is copied whole.
    const std::string lost = "Content-Type: multipart/mixed; boundary=zz\n\nno parts here\n";
    auto l = parse(dir, lost, "lost");
    EXPECT_EQ(dump(*l, true), lost);
}

TEST(MimeDump, NestedPartsLeaveOutOnlyTheFlaggedOnes)
{
    TempDir dir;
    const std::string text =
        "Content-Type: multipart/mixed; boundary=o\n\n"
        "--o\nContent-Type: multipart/alternative; boundary=i\n\n--i\n\nA\n--i\n\nB\n--i--\n\n"
        "--o\n\nC\n--o--\n";
    auto root = parse(dir, text);
    ASSERT_EQ(root->children().size(), 2u);
    ASSERT_EQ(root->children()[0]->children().size(), 2u);
    root->children()[0]->children()[1]->set_infected(true);
    EXPECT_EQ(dump(*root, true),
              "Content-Type: multipart/mixed; boundary=o\n\n\n"
              "\n--o\nContent-Type: multipart/alternative; boundary=i\n\n\n"
              "\n--i\n\nA\n"
              "\n\n--i--\n\n"
              "\n--o\n\nC\n"
              "\n\n--o--\n\n");
    root->children()[0]->children()[0]->set_suspicious(true);
    EXPECT_EQ(dump(*root, true),
              "Content-Type: multipart/mixed; boundary=o\n\n\n"
              "\n--o\nContent-Type: multipart/alternative; boundary=i\n\n\n" +
                  kAllInfected +
                  "\n--o\n\nC\n"
                  "\n\n--o--\n\n");
}

TEST(MimeDump, CrLfMessagesAreCopiedWithTheirOwnLineEnds)
{
    TempDir dir;
    const std::string text =
        "Subject: s\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
        "--b\r\nContent-Type: text/plain\r\n\r\none\r\n"
        "--b\r\nContent-Type: message/rfc822\r\n\r\nFrom: x\r\nSubject: inner\r\n\r\nbody\r\n"
        "--b\r\nContent-Type: application/x\r\n\r\ntwo\r\n--b--\r\n";
    auto root = parse(dir, text);
    ASSERT_EQ(root->children().size(), 3u);
    root->children()[2]->set_infected(true);
    EXPECT_EQ(dump(*root, true),
              "Subject: s\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n\r\n"
              "\r\n--b\r\nContent-Type: text/plain\r\n\r\none\r\n"
              "\r\n--b\r\nContent-Type: message/rfc822\r\n\r\nFrom: x\r\nSubject: inner\r\n\r\nbody\r\n"
              "\r\n\r\n--b--\r\n\r\n");
    root->children()[0]->set_suspicious(true);
    root->children()[1]->set_suspicious(true);
    EXPECT_EQ(dump(*root, true),
              "Subject: s\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n\r\n"
              "\r\nAll subparts of this MIME message are infected with a virus.\r\n");
}
