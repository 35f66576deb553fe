#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "testutil.h"

using qstest::parse;
using qstest::read_file;
using qstest::TempDir;
using qstest::write_file;

namespace {

// Python's email package decoding each file as one MIME entity.
std::vector<std::string> python_decode(const std::vector<std::string> &paths)
{
    std::string cmd = "python3 " QS_TEST_SOURCE_DIR "/email_oracle.py";
    for (const std::string &p : paths)
        cmd += " '" + p + "'";
    std::vector<std::string> out;
    FILE *pipe = popen(cmd.c_str(), "r");
    if (!pipe)
        return out;
    std::string line;
    int c;
    while ((c = fgetc(pipe)) != EOF) {
        if (c != '\n') {
            line.push_back(static_cast<char>(c));
            continue;
        }
        std::string bytes;
        for (size_t i = 0; i + 1 < line.size(); i += 2)
            bytes.push_back(static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16)));
        out.push_back(line == "NONE" ? line : bytes);
        line.clear();
    }
    pclose(pipe);
    return out;
}

void collect_leaves(HqMimePart &part, std::vector<HqMimePart *> *leaves)
{
    if (!part.children().empty()) {
        for (auto &c : part.children())
            collect_leaves(*c, leaves);
    } else if (part.message_child()) {
        collect_leaves(*part.message_child(), leaves);
    } else {
        leaves->push_back(&part);
    }
}

std::string binary(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    unsigned v = seed;
    for (size_t i = 0; i < n; ++i) {
        v = v * 1103515245u + 12345u;
        s[i] = static_cast<char>(v >> 16);
    }
    return s;
}

// Base64 with lines of `line` characters, ended by `eol`.
std::string base64(const std::string &data, size_t line, const std::string &eol)
{
    static const char a[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string flat;
    for (size_t i = 0; i < data.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(data[i]) << 16;
        size_t n = std::min<size_t>(3, data.size() - i);
        if (n > 1)
            v |= static_cast<unsigned char>(data[i + 1]) << 8;
        if (n > 2)
            v |= static_cast<unsigned char>(data[i + 2]);
        flat += a[v >> 18 & 63];
        flat += a[v >> 12 & 63];
        flat += n > 1 ? a[v >> 6 & 63] : '=';
        flat += n > 2 ? a[v & 63] : '=';
    }
    std::string out;
    for (size_t i = 0; i < flat.size(); i += line)
        out += flat.substr(i, line) + eol;
    return out;
}

// Decodes every leaf of each text and compares each with Python's decoding
// of the same bytes (one Python run for all).
void expect_leaves_decode_like_python(const std::vector<std::string> &texts, size_t leaves_each)
{
    TempDir dir;
    std::vector<std::string> decoded, entity_paths, labels;
    for (size_t t = 0; t < texts.size(); ++t) {
        auto root = parse(dir, texts[t], "message" + std::to_string(t));
        ASSERT_TRUE(root);
        ASSERT_EQ(root->decode_data(nullptr), 0);
        std::vector<HqMimePart *> leaves;
        collect_leaves(*root, &leaves);
        ASSERT_EQ(leaves.size(), leaves_each) << "message " << t;
        for (size_t i = 0; i < leaves.size(); ++i) {
            std::string path = dir.file("entity" + std::to_string(t) + "-" + std::to_string(i));
            write_file(path, qstest::range(texts[t], *leaves[i]));
            entity_paths.push_back(path);
            ASSERT_FALSE(leaves[i]->decoded_path().isnull());
            decoded.push_back(read_file(leaves[i]->decoded_path().str()));
            labels.push_back("message " + std::to_string(t) + " leaf " + std::to_string(i) + " encoding " +
                             std::to_string(leaves[i]->encoding()));
        }
    }
    std::vector<std::string> expected = python_decode(entity_paths);
    ASSERT_EQ(expected.size(), decoded.size());
    for (size_t i = 0; i < decoded.size(); ++i) {
        EXPECT_EQ(decoded[i].size(), expected[i].size()) << labels[i];
        EXPECT_TRUE(decoded[i] == expected[i]) << labels[i];
    }
}

}  // namespace

TEST(MimeDecode, NestedMessageLeavesDecodeLikePython)
{
    std::string attachment = base64(binary(30000, 7), 76, "\n");
    std::string text =
        "Subject: all kinds\nContent-Type: multipart/mixed; boundary=\"o\"\n\n"
        "--o\nContent-Type: multipart/alternative; boundary=i\n\n"
        "--i\nContent-Type: text/plain\nContent-Transfer-Encoding: quoted-printable\n\n"
        "Caf=C3=A9 au lait, a soft=\nbreak, =3D and =3d, trailing   \nend\n"
        "--i\nContent-Type: text/html\n\n<html><body>Hi</body></html>\n--i--\n\n"
        "--o\nContent-Type: application/octet-stream\nContent-Transfer-Encoding: base64\n"
        "Content-Disposition: attachment; filename=a.bin\n\n" +
        attachment +
        "--o\nContent-Type: message/rfc822\n\nFrom: x\nContent-Transfer-Encoding: base64\n\n" +
        base64("embedded text\n", 76, "\n") + "--o--\n";
    expect_leaves_decode_like_python({text}, 4);
}

TEST(MimeDecode, Base64GroupsSplitByLineEndsAndBlockSeams)
{
    struct Case {
        size_t size;
        size_t line;
        const char *eol;
    } cases[] = {
        {20000, 76, "\n"}, {20000, 75, "\n"}, {20000, 7, "\n"},   {20000, 1, "\n"},
        {12289, 73, "\r\n"}, {6142, 4, "\n"}, {6143, 4096, "\n"}, {6144, 8192, "\n"},
        {1, 76, "\n"},     {2, 76, "\n"},     {0, 76, "\n"},
    };
    std::vector<std::string> texts;
    for (const Case &c : cases)
        texts.push_back("Content-Transfer-Encoding: base64\n\n" + base64(binary(c.size, 3), c.line, c.eol));
    // Padding and groups placed exactly at the 8191/8192 seams of the body.
    std::string head = "Content-Type: application/x\nContent-Transfer-Encoding: base64\n\n";
    for (size_t shift = 0; shift < 8; ++shift)
        texts.push_back(head + std::string(shift, '\n') + base64(binary(6141 + shift, 5), 8190, "\n"));
    expect_leaves_decode_like_python(texts, 1);
}

TEST(MimeDecode, Base64EdgeCases)
{
    struct Case {
        const char *body;
        const char *decoded;
    } cases[] = {
        {"QQ==\n", "A"},
        {"QUI=\n", "AB"},
        {"QUJD\n", "ABC"},
        {"QU\nJD\n", "ABC"},
        {"Q U J D\n", "ABC"},            // spaces are skipped
        {"QUJDRA\n", "ABCD"},            // lost end marks
        {"QUJDREU\n", "ABCDE"},
        {"QQ==QUJD\n", "A"},             // the end mark ends the data
        {"=QUJD\n", "ABC"},              // a stray end mark carries nothing
    };
    for (const Case &c : cases) {
        TempDir dir;
        auto part = parse(dir, std::string("Content-Transfer-Encoding: base64\n\n") + c.body);
        ASSERT_EQ(part->decode_data(dir.file("out").c_str()), 0);
        EXPECT_EQ(read_file(dir.file("out")), c.decoded) << c.body;
        EXPECT_TRUE(part->decoded_path().isnull());   // a given path is not owned
    }
}

TEST(MimeDecode, QuotedPrintableLikePython)
{
    std::vector<std::string> bodies = {
        "plain line\nsecond =3D line=\ncontinued\n",
        "=C3=A9=c3=a9 mixed case\n",
        "soft crlf=\r\nbreak and junk after=\rjunk\nnext\n",
        "bad =ZZ escape, double ==41, lone = sign\n",
        "ends with an escape start =",
        "ends with half an escape =4",
        "trailing spaces stay   \n\ttab\n",
        "",
    };
    // An escape cut by the 8192-byte seam of the body, in every position.
    for (size_t back = 0; back < 5; ++back) {
        bodies.push_back(std::string(8192 - back, 'a') + "=41=\nB=C3=A9\n");
        bodies.push_back(std::string(8192 - back, 'a') + "=\r\nsoft\n");
        bodies.push_back(std::string(8192 - back, 'a') + "==41=Z\n");
    }
    std::vector<std::string> texts;
    for (const std::string &body : bodies)
        texts.push_back("Content-Type: text/plain\nContent-Transfer-Encoding: quoted-printable\n\n" + body);
    expect_leaves_decode_like_python(texts, 1);
}

TEST(MimeDecode, TextPartsAreCopiedAfterTheirBlankLine)
{
    struct Case {
        std::string text;
        std::string decoded;
    } cases[] = {
        {"Subject: a\n\nbody\n", "body\n"},
        {"Subject: a\r\n\r\nbody\r\n", "body\r\n"},
        {"\nno header\n", "no header\n"},
        {"Subject: only a header\n", ""},
        {"Subject: big\n\n" + std::string(8191, 'x') + std::string(8192, 'y') + "z",
         std::string(8191, 'x') + std::string(8192, 'y') + "z"},
    };
    for (const Case &c : cases) {
        TempDir dir;
        auto part = parse(dir, c.text);
        ASSERT_EQ(part->decode_data(nullptr), 0);
        ASSERT_FALSE(part->decoded_path().isnull());
        EXPECT_EQ(read_file(part->decoded_path().str()), c.decoded);
    }
}

TEST(MimeDecode, DecodedFilesBelongToTheirPartsAndFollowTheTemplate)
{
    TempDir dir;
    std::string path;
    {
        auto root = parse(dir, "Content-Type: multipart/mixed; boundary=b\n\n--b\n\none\n--b\n\ntwo\n--b--\n");
        ASSERT_EQ(root->decode_data(nullptr), 0);
        path = root->children()[1]->decoded_path().str();
        EXPECT_EQ(path.compare(0, dir.file("decoded-").size(), dir.file("decoded-")), 0) << path;
        EXPECT_EQ(read_file(path), "two\n");
        EXPECT_EQ(dir.count(), 3);   // the message and two decoded files
    }
    EXPECT_NE(access(path.c_str(), F_OK), 0);
    EXPECT_EQ(dir.count(), 1);

    // A template in a missing folder: nothing decoded, nothing reported.
    write_file(dir.file("m"), "Subject: x\n\nbody\n");
    HqMimePart part(fopen(dir.file("m").c_str(), "r"), 0, 17, (dir.path() + "/none/decoded-XXXXXX").c_str());
    part.process_part();
    EXPECT_EQ(part.decode_data(nullptr), 0);
    EXPECT_TRUE(part.decoded_path().isnull());
}
