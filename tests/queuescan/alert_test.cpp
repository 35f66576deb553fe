// Message scan against the fake kavdaemon: when an alert replaces the
// message, what it holds, and the virus log record.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <ostream>
#include <string>
#include <vector>

#include "messagefixture.h"

using qstest::alert;
using qstest::kAllFlagged;
using qstest::kMarker;
using qstest::kMarkerBase64;
using qstest::kMessage;
using qstest::kPlainNotice;
using qstest::kWithoutAttachment;
using qstest::masked;
using qstest::warning;
using qstest::read_file;
using qstest::write_file;

namespace {

class AlertTest : public qstest::MessageFixture {
protected:
    void TearDown() override
    {
        MessageFixture::TearDown();
        daemon_.stop();
        if (had_tz_)
            setenv("TZ", saved_tz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    void set_tz(const char *tz)
    {
        setenv("TZ", tz, 1);
        tzset();
    }
    void start(const std::vector<std::string> &rules)
    {
        ASSERT_TRUE(daemon_.start(paths_[1], dir_.file("kav.log"), rules));
    }
    HqMimeMessage &scan_message(const std::string &text, int *result)
    {
        HqMimeMessage &message = load(text);
        message.set_sender("alice@example.com");
        message.set_recipient("Bob <bob@example.org>");
        *result = message.vscan_email(conf_.get());
        return message;
    }
    std::vector<std::vector<std::string>> requests() { return qstest::daemon_requests(dir_.file("kav.log")); }
    qstest::FakeDaemon daemon_;
    const char *old_tz_ = getenv("TZ");
    bool had_tz_ = old_tz_ != nullptr;
    std::string saved_tz_ = old_tz_ ? old_tz_ : "";
};

struct AlertCase {
    const char *name;
    std::vector<std::string> rules;
    int result;
    std::string expected;   // masked alert; empty: no alert
};

const std::vector<AlertCase> kAlertCases = {
    {"clean", {}, 0, ""},
    {"infected_attachment",
     {std::string("content:") + kMarkerBase64, "infected:Whole.Name", std::string("content:") + kMarker,
      "infected:EICAR-Test-File extra words"},
     2, alert(warning("EICAR-Test-File"), kWithoutAttachment)},
    {"infected_without_name",
     {std::string("content:") + kMarkerBase64, "infected:Whole.Name", std::string("content:") + kMarker, "code:5"},
     2, alert(warning(""), kWithoutAttachment)},
    {"suspicious_attachment",
     {std::string("content:") + kMarkerBase64, "code:3", std::string("content:") + kMarker, "code:2"},
     2, alert(warning(""), kWithoutAttachment)},
    {"whole_infected_no_part", {"name:message", "code:6"}, 2,
     alert(warning(""), "Sorry, the whole message was infected.\n")},
    {"whole_suspicious_no_part", {"name:message", "code:2"}, 2, alert(warning(""), "")},
    {"every_part_infected", {"any", "infected:Worm.X"}, 2, alert(warning("Worm.X"), kAllFlagged)},
    {"scanner_trouble_parts_clean", {"name:message", "code:1"}, 0, ""},
    {"scanner_trouble_part_infected", {"name:message", "code:7", std::string("content:") + kMarker, "code:4"}, 2,
     alert(warning(""), kWithoutAttachment)},
};

// Failures name the case instead of dumping its bytes.
void PrintTo(const AlertCase &c, std::ostream *os) { *os << c.name; }

class AlertCaseTest : public AlertTest, public ::testing::WithParamInterface<AlertCase> {};

TEST_P(AlertCaseTest, AlertReplacesAnInfectedMessage)
{
    const AlertCase &c = GetParam();
    start(c.rules);
    int result = -1;
    HqMimeMessage &message = scan_message(kMessage, &result);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(message.alert() != nullptr, !c.expected.empty());
    std::string out = output();
    if (c.expected.empty()) {
        EXPECT_EQ(out, kMessage);
        EXPECT_EQ(read_file(paths_[5]), "");
    } else {
        EXPECT_EQ(masked(out), c.expected);
        EXPECT_NE(read_file(paths_[5]), "");
    }
    auto reqs = requests();
    ASSERT_FALSE(reqs.empty());
    EXPECT_EQ(reqs[0][2], dir_.file("message"));
    if (std::string(c.name) == "clean") {
        EXPECT_EQ(reqs.size(), 1u) << "a clean message is not taken apart";
    }
}

INSTANTIATE_TEST_SUITE_P(Scans, AlertCaseTest, ::testing::ValuesIn(kAlertCases),
                         [](const ::testing::TestParamInfo<AlertCase> &info) { return info.param.name; });

TEST_F(AlertTest, ScannerDownPassesTheMessageOn)
{
    int result = -1;
    HqMimeMessage &message = scan_message(kMessage, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(message.alert(), nullptr);
    EXPECT_EQ(output(), kMessage);
}

TEST_F(AlertTest, FailedTriesAreRepeatedUpToThree)
{
    // Each try is answered "interrupted".
    start({"name:message", "code:1"});
    HqMimeMessage &message = load(kMessage);
    HqString name;
    EXPECT_EQ(message.vscan_file(HqString(dir_.file("message")), &name, places_), -2);
    EXPECT_EQ(requests().size(), 3u);
    EXPECT_FALSE(message.is_infected());
}

TEST_F(AlertTest, VirusLogRecordShowsTheZoneOffsetInverted)
{
    start({"any", "infected:EICAR-Test-File"});
    struct Zone {
        const char *tz;
        const char *record;   // as the log shows it
        const char *date;     // as the alert's date shows it
    };
    const std::vector<Zone> zones = {{"UTC-1", "-0100", "+0100"}, {"UTC+5", "+0500", "-0500"}, {"UTC0", "-0000", "+0000"}};
    std::string before;
    for (const auto &z : zones) {
        set_tz(z.tz);
        int result = -1;
        scan_message(kMessage, &result);
        ASSERT_EQ(result, 2);
        std::string log = read_file(paths_[5]);
        ASSERT_GT(log.size(), before.size());
        std::string record = log.substr(before.size());
        std::string head = "alice@example.com\nBob <bob@example.org>\nEICAR-Test-File\n";
        EXPECT_EQ(record.substr(0, head.size()), head);
        EXPECT_TRUE(qstest::has_shape(record.substr(head.size()), std::string(qstest::kDateShape) + "\n")) << record;
        EXPECT_EQ(record.substr(record.size() - 6), std::string(z.record) + "\n") << z.tz;
        EXPECT_NE(output().find(std::string(z.date) + "\nFrom: Virus Scanner"), std::string::npos) << z.tz;
        before = log;
    }
    struct stat st;
    ASSERT_EQ(stat(paths_[5].c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);
}

TEST_F(AlertTest, VirusLogIsNeverWrittenThroughALink)
{
    start({"any", "infected:EICAR-Test-File"});
    std::string target = dir_.file("elsewhere");
    write_file(target, "keep\n");
    ASSERT_EQ(symlink(target.c_str(), paths_[5].c_str()), 0);
    int result = -1;
    HqMimeMessage &message = scan_message(kMessage, &result);
    EXPECT_EQ(result, 2);
    EXPECT_NE(message.alert(), nullptr) << "the alert is built all the same";
    EXPECT_EQ(read_file(target), "keep\n");
}

TEST_F(AlertTest, LoggedAlertHasTheHeaderAfterItsTypeAndOneNotice)
{
    write_file(paths_[4], "feed\n");
    start({"any", "infected:Worm.X"});
    int result = -1;
    HqMimeMessage &message = scan_message(kMessage, &result);
    ASSERT_EQ(result, 2);
    EXPECT_TRUE(message.log_message());
    EXPECT_EQ(masked(output()), alert(warning("Worm.X"), kAllFlagged, header("feed"), kPlainNotice));
}

}  // namespace
