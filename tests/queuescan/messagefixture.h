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
