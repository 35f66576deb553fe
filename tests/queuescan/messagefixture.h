// A message object over a temporary copy, with every fixed place of the
// filter moved into a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "hqconfemu.h"
#include "hqmimemessage.h"
#include "raveloini.h"
#include "testutil.h"

namespace qstest {

// The auditing notices as they appear in a message.
const char kPlainNotice[] =
    "\n\n--\n PRIVACY WARNING: For auditing purposes, a copy of this message has been\n"
    " saved in a permanent database.\n";
const char kHtmlNotice[] =
    "\n\n<br><br><pre>--\n PRIVACY WARNING: For auditing purposes, a copy of this message has been\n"
    " saved in a permanent database.\n</pre>\n";
// The plain notice in base64, 76 characters a line, as Python's base64 gives it.
const char kPlainNoticeBase64[] =
    "CgotLQogUFJJVkFDWSBXQVJOSU5HOiBGb3IgYXVkaXRpbmcgcHVycG9zZXMsIGEgY29weSBvZiB0\n"
    "aGlzIG1lc3NhZ2UgaGFzIGJlZW4KIHNhdmVkIGluIGEgcGVybWFuZW50IGRhdGFiYXNlLgo=";

// A message with a text part and an infected base64 attachment; the fake
// daemon finds the marker in the decoded attachment and its base64 form in
// the whole message.
inline const char kMarker[] = "TEST-MARKER-VIRUS-PAYLOAD-0123";
inline const char kMarkerBase64[] = "VEVTVC1NQVJLRVItVklSVVMtUEFZTE9BRC0wMTIz";

inline const std::string kHead =
    "From: Alice <alice@example.com>\n"
    "To: Bob <bob@example.org>\n"
    "Subject: report\n"
    "Content-Type: multipart/mixed; boundary=\"XyZ\"\n";
inline const std::string kTextPart = "Content-Type: text/plain\n\nHello Bob,\n";
inline const std::string kAttachment =
    "Content-Type: application/octet-stream\n"
    "Content-Transfer-Encoding: base64\n"
    "Content-Disposition: attachment; filename=\"x.bin\"\n\n" +
    std::string(kMarkerBase64) + "\n";
inline const std::string kMessage =
    kHead + "\npreamble\n--XyZ\n" + kTextPart + "--XyZ\n" + kAttachment + "--XyZ--\n";
// The message less its attachment, as the alert carries it.
inline const std::string kWithoutAttachment = kHead + "\n\n\n--XyZ\n" + kTextPart + "\n\n--XyZ--\n\n";
inline const std::string kAllFlagged = kHead + "\n\n\nAll subparts of this MIME message are infected with a virus.\n";

inline std::string warning(const std::string &virus)
{
    std::string tail = " or suspicious attachment was detected and removed from the following message from "
                       "alice@example.com to Bob <bob@example.org>.\nSome of the content may still be readable.\n";
    return virus.empty() ? "Warning: an unknown virus" + tail : "WARNING: a virus (probably " + virus + ")" + tail;
}

// The alert with "D" for its date and "B" for its boundary; `header` and
// `notice` go where logging puts them.
inline std::string alert(const std::string &warning_text, const std::string &attachment, const std::string &header = "",
                  const std::string &notice = "")
{
    return "Date: D\n"
           "From: Virus Scanner <postmaster@example.org>\n"
           "Subject: Sandrel Virus Alert\n"
           "MIME-Version: 1.0\n"
           "Content-type: multipart/mixed;\n boundary=\"B\"\n" +
           header +
           "\n\nThis is a multi-part message in MIME format.\n\n"
           "--B\n"
           "Content-Type: text/plain; charset=us-ascii; format=flowed\n"
           "Content-Transfer-Encoding: 7bit\n\n" +
           warning_text + notice +
           "\n--B\n"
           "Content-Type: message/rfc822;  name=original.eml\n"
           "Content-Disposition: inline;  filename=original.eml\n\n" +
           attachment + "--B--\n\n";
}

// Date and boundary replaced by "D" and "B" once they have the right form and
// the boundary is the same everywhere.
inline std::string masked(std::string text)
{
    size_t date_end = text.find('\n');
    if (text.compare(0, 6, "Date: ") == 0 && qstest::has_shape(text.substr(6, date_end - 6), qstest::kDateShape))
        text.replace(0, date_end, "Date: D");
    std::string base = "------Virus_Scanned_/**()^#$)(@@*A#*&&/";
    size_t at = text.find(base);
    if (at == std::string::npos)
        return text;
    size_t digits = text.find_first_not_of("0123456789", at + base.size());
    std::string boundary = text.substr(at, digits - at);
    EXPECT_GT(boundary.size(), base.size() + 1);
    for (size_t p; (p = text.find(boundary)) != std::string::npos;)
        text.replace(p, boundary.size(), "B");
    EXPECT_EQ(text.find(base), std::string::npos) << "boundaries differ";
    return text;
}

class MessageFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        paths_[0] = dir_.file("hqmail.ini");
        paths_[1] = dir_.file("AvpCtl");
        paths_[2] = dir_.file("mytmp-XXXXXX");
        paths_[3] = dir_.file("decoded-XXXXXX");
        paths_[4] = dir_.file("hqmail.cookie");
        paths_[5] = dir_.file("virus_log.txt");
        places_.config_file = paths_[0].c_str();
        places_.scanner_socket = paths_[1].c_str();
        places_.temp_template = paths_[2].c_str();
        places_.decoded_template = paths_[3].c_str();
        places_.cookie_file = paths_[4].c_str();
        places_.virus_log = paths_[5].c_str();
        places_.scan_retry_seconds = 0;
        write_file(paths_[0], "[Main]\nMail Domain=example.org\n");
    }
    void TearDown() override
    {
        message_.reset();
        conf_.reset();
        root_.reset();
    }

    // Builds the message object over `text` (configuration read afresh).
    HqMimeMessage &load(const std::string &text)
    {
        message_.reset();
        conf_.reset();
        root_ = std::make_unique<RaveloRoot>(new RaveloIni(places_.config_file, 0660), true);
        conf_ = std::make_unique<HqConfEmu>(root_.get());
        std::string path = dir_.file("message");
        write_file(path, text);
        FILE *copy = fopen(path.c_str(), "r+");
        EXPECT_NE(copy, nullptr);
        message_ = std::make_unique<HqMimeMessage>(copy, HqString(path), conf_.get(), places_);
        if (copy)
            fclose(copy);   // the message reads through its own descriptor
        return *message_;
    }

    // What output_to_stream writes, and its result in `result`.
    std::string output(int *result = nullptr)
    {
        char *buf = nullptr;
        size_t size = 0;
        FILE *out = open_memstream(&buf, &size);
        int r = message_->output_to_stream(out);
        fclose(out);
        std::string text(buf, size);
        free(buf);
        if (result)
            *result = r;
        return text;
    }

    std::string header(const std::string &cookie) const
    {
        return "X-BRONTAL-Logged: example.org " + cookie + "\n";
    }

    TempDir dir_;
    std::string paths_[6];
    HqQueuePlaces places_;
    std::unique_ptr<RaveloRoot> root_;
    std::unique_ptr<HqConfEmu> conf_;
    std::unique_ptr<HqMimeMessage> message_;
};

}  // namespace qstest
