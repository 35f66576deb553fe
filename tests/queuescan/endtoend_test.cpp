// The queuescan program end to end, with its own fixed paths, inside a
// private mount namespace: fresh tmpfs file systems over /var and /tmp hold
// the fake kavdaemon's socket, the fake qmail queue program, the
// configuration and the filter's files, so nothing outside is touched.
// Needs root and unshare; skipped otherwise.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "messagefixture.h"

using qstest::alert;
using qstest::kHtmlNotice;
using qstest::kMarker;
using qstest::kMarkerBase64;
using qstest::kMessage;
using qstest::kPlainNotice;
using qstest::kPlainNoticeBase64;
using qstest::kWithoutAttachment;
using qstest::masked;
using qstest::read_file;
using qstest::warning;
using qstest::write_file;

namespace fs = std::filesystem;

namespace {

using namespace std::string_literals;

// One sandboxed run (or several at once) of the program.
struct RunSetup {
    std::string message = kMessage;
    std::string envelope = "Falice@example.com\0Tbob@example.org\0Tcarol@example.net\0\0"s;
    // When set, the envelope arrives through a pipe in these pieces, apart in time.
    std::vector<std::string> envelope_pieces;
    std::string ini = "[Main]\nMail Domain=example.org\nVirus Scan=1\n";   // empty: no file
    bool daemon = true;
    std::vector<std::string> rules;   // the fake daemon's MATCH REPLY pairs
    std::string queue_conf = "status 0\n";
    bool queue_program = true;
    std::string cookie;   // a cookie file of this text and age, when set
    long cookie_age = 0;
    bool virus_log_link = false;
    int runs = 1;
    // Inputs other than the files above, as paths inside the sandbox.
    std::string message_from;
    std::string envelope_from;
    // Runs the program under "strace -c" (its own process, not the queue program).
    bool count_calls = false;
};

struct Outcome {
    std::vector<int> status;
    std::vector<std::string> errors;   // what each run wrote to standard error
    int started = 0;                   // starts of the queue program
    std::vector<std::string> messages;
    std::vector<std::string> envelopes;
    std::string virus_log, link_target, ini, cookie, kav_log;
    std::string calls;   // strace's summary of the first run
    std::vector<std::string> var_tmp;
    double seconds = 0;
};

std::string sh_quoted(const std::string &s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? "'\\''"s : std::string(1, c);
    return out + "'";
}

bool sandbox_available()
{
    static int state = -1;
    if (state < 0)
        state = getuid() == 0 && system("unshare --mount --propagation private true >/dev/null 2>&1") == 0;
    return state == 1;
}

class Sandbox {
public:
    Sandbox()
    {
        std::string tmpl = qstest::program_beside("endtoend-XXXXXX");
        work_ = mkdtemp(&tmpl[0]) ? tmpl : "";
    }
    ~Sandbox()
    {
        std::error_code ec;
        if (!work_.empty())
            fs::remove_all(work_, ec);
    }

    Outcome run(const RunSetup &s)
    {
        Outcome o;
        std::string w = work_;
        write_file(w + "/message", s.message);
        write_file(w + "/envelope", s.envelope);
        write_file(w + "/fake.conf", s.queue_conf);
        std::string sh =
            "set -u\n"
            "exec 3<\"$1\" 4<\"$2\"\n"
            "W=/proc/$$/fd/3 B=/proc/$$/fd/4\n"
            "fail() { echo \"$*\" >\"$W/setup-error\"; exit 1; }\n"
            "mount -t tmpfs -o mode=0755 sandbox /var || fail mount /var\n"
            "mkdir -p /var/tmp /var/run /var/qmail/bin && chmod 1777 /var/tmp || fail folders\n"
            "mount -t tmpfs -o mode=1777 sandbox /tmp && mkdir /tmp/hqmail || fail mount /tmp\n"
            "cp \"$W/fake.conf\" /var/qmail/bin/fake.conf || fail fake.conf\n";
        if (s.queue_program)
            sh += "cp \"$B/fake_qmail_queue\" /var/qmail/bin/qmail-queue.orig || fail queue program\n";
        if (!s.ini.empty()) {
            write_file(w + "/hqmail.ini", s.ini);
            sh += "cp \"$W/hqmail.ini\" /tmp/hqmail/hqmail.ini || fail ini\n";
        }
        if (!s.cookie.empty()) {
            write_file(w + "/cookie", s.cookie);
            sh += "cp \"$W/cookie\" /var/tmp/hqmail.cookie && touch -d \"@$(( $(date +%s) - " +
                  std::to_string(s.cookie_age) + " ))\" /var/tmp/hqmail.cookie || fail cookie\n";
        }
        if (s.virus_log_link)
            sh += "echo keep >/var/tmp/elsewhere && ln -s /var/tmp/elsewhere /var/tmp/virus_log.txt || fail link\n";
        if (s.daemon) {
            sh += "\"$B/fake_kavdaemon\" /var/run/AvpCtl \"$W/kav.log\"";
            for (const auto &r : s.rules)
                sh += " " + sh_quoted(r);
            sh += " 2>\"$W/kav.err\" &\nKAV=$!\n"
                  "n=0; while [ ! -S /var/run/AvpCtl ]; do n=$((n+1)); [ $n -lt 500 ] || fail daemon; "
                  "sleep 0.01; done\n";
        }
        std::string in = s.message_from.empty() ? "\"$W/message\"" : sh_quoted(s.message_from);
        std::string env = s.envelope_from.empty() ? "\"$W/envelope\"" : sh_quoted(s.envelope_from);
        std::string feeder;
        if (!s.envelope_pieces.empty()) {
            feeder = "sh -c 'for f; do cat \"$f\"; sleep 0.2; done' sh";
            for (size_t i = 0; i < s.envelope_pieces.size(); ++i) {
                write_file(w + "/piece." + std::to_string(i), s.envelope_pieces[i]);
                feeder += " \"$W/piece." + std::to_string(i) + "\"";
            }
            feeder += " | ";
            env = "&0";
        }
        sh += "export TZ=UTC-1\nPIDS=\n";
        for (int i = 0; i < s.runs; ++i) {
            std::string n = std::to_string(i);
            std::string tracer = s.count_calls ? "strace -c -o \"$W/calls." + n + "\" " : "";
            sh += "( " + feeder + tracer + "\"$B/queuescan\" 1<" + env + " 0<" + in + " 2>\"$W/stderr." + n +
                  "\" 3<&- 4<&-; echo $? >\"$W/status." + n + "\" ) &\nPIDS=\"$PIDS $!\"\n";
        }
        sh += "wait $PIDS\n";
        if (s.daemon)
            sh += "kill $KAV; wait $KAV\n";
        sh += "mkdir \"$W/queued\" && for f in /var/qmail/bin/queue-*; do [ -e \"$f\" ] && cp \"$f\" \"$W/queued/\"; "
              "done\n"
              "ls -A /var/tmp >\"$W/var_tmp.list\"\n"
              "[ -f /var/tmp/virus_log.txt ] && [ ! -L /var/tmp/virus_log.txt ] && "
              "cp /var/tmp/virus_log.txt \"$W/virus_log.after\"\n"
              "[ -f /var/tmp/elsewhere ] && cp /var/tmp/elsewhere \"$W/elsewhere.after\"\n"
              "[ -f /var/tmp/hqmail.cookie ] && cp /var/tmp/hqmail.cookie \"$W/cookie.after\"\n"
              "[ -f /tmp/hqmail/hqmail.ini ] && cp /tmp/hqmail/hqmail.ini \"$W/ini.after\"\n"
              "exit 0\n";
        write_file(w + "/run.sh", sh);

        auto begin = std::chrono::steady_clock::now();
        std::string command = "unshare --mount --propagation private sh " + sh_quoted(w + "/run.sh") + " " +
                              sh_quoted(w) + " " + sh_quoted(qstest::program_beside("")) + " >" +
                              sh_quoted(w + "/run.log") + " 2>&1";
        int rc = system(command.c_str());
        o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        EXPECT_EQ(rc, 0) << read_file(w + "/run.log") << read_file(w + "/setup-error");

        for (int i = 0; i < s.runs; ++i) {
            std::string status = read_file(w + "/status." + std::to_string(i));
            o.status.push_back(status.empty() ? -1 : std::stoi(status));
            o.errors.push_back(read_file(w + "/stderr." + std::to_string(i)));
        }
        std::vector<std::string> queued;
        for (const auto &e : fs::directory_iterator(w + "/queued"))
            queued.push_back(e.path().string());
        std::sort(queued.begin(), queued.end());
        for (const auto &path : queued) {
            if (path.size() > 4 && path.compare(path.size() - 4, 4, ".msg") == 0) {
                ++o.started;
                o.messages.push_back(read_file(path));
                o.envelopes.push_back(read_file(path.substr(0, path.size() - 4) + ".env"));
            }
        }
        o.virus_log = read_file(w + "/virus_log.after");
        o.link_target = read_file(w + "/elsewhere.after");
        o.ini = read_file(w + "/ini.after");
        o.cookie = read_file(w + "/cookie.after");
        o.kav_log = read_file(w + "/kav.log");
        o.calls = read_file(w + "/calls.0");
        std::string listing = read_file(w + "/var_tmp.list");
        for (size_t p = 0; p < listing.size();) {
            size_t nl = listing.find('\n', p);
            o.var_tmp.push_back(listing.substr(p, nl - p));
            p = nl == std::string::npos ? listing.size() : nl + 1;
        }
        return o;
    }

private:
    std::string work_;
};

long ini_counter(const std::string &ini)
{
    const std::string key = "Number Virus Found=";
    size_t at = ini.find(key);
    return at == std::string::npos ? -1 : std::stol(ini.substr(at + key.size()));
}

size_t count_of(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
        ++n;
    return n;
}

const std::string kInfectedIni = "[Main]\nMail Domain=example.org\nVirus Scan=1\nNumber Virus Found=4\n";
const std::vector<std::string> kInfectedRules = {"content:"s + kMarkerBase64, "infected:Whole.Name",
                                                 "content:"s + kMarker, "infected:EICAR-Test-File"};
const std::string kEnvelope = "Falice@example.com\0Tbob@example.org\0Tcarol@example.net\0\0"s;
// The envelope less its closing empty field.
const std::string kFields = kEnvelope.substr(0, kEnvelope.size() - 1);
const std::string kVirusRecordHead = "alice@example.com\nBob <bob@example.org>\nEICAR-Test-File\n";

const std::string kLoggedMessage =
    "From: alice@example.com\n"
    "To: bob@example.org\n"
    "Subject: logged\n"
    "Content-Type: multipart/alternative; boundary=\"alt\"\n"
    "\n"
    "--alt\nContent-Type: text/plain\n\nplain body\n"
    "--alt\nContent-Type: text/html\n\n<html><body>html body</body></html>\n"
    "--alt\nContent-Type: text/plain\nContent-Transfer-Encoding: base64\n\naGVsbG8gYmFzZTY0Cg==\n"
    "--alt--\n";
std::string logged_form(const std::string &cookie)
{
    return "From: alice@example.com\n"
           "To: bob@example.org\n"
           "Subject: logged\n"
           "Content-Type: multipart/alternative; boundary=\"alt\"\n"
           "X-BRONTAL-Logged: example.org " +
           cookie +
           "\n"
           "\n"
           "--alt\nContent-Type: text/plain\n\nplain body\n" +
           kPlainNotice + "--alt\nContent-Type: text/html\n\n<html><body>html body" + kHtmlNotice +
           "</body></html>\n"
           "--alt\nContent-Type: text/plain\nContent-Transfer-Encoding: base64\n\naGVsbG8gYmFzZTY0Cg==\n" +
           kPlainNoticeBase64 + "\n--alt--\n";
}
const std::string kLogIni = "[Main]\nMail Domain=example.org\n[Mail Log]\nLog Mail=1\n";

// A forwarded message (message/rfc822, itself multipart) whose attachment is
// infected; the whole-message scan sees the attachment's base64 text.
const std::vector<std::string> kForwardedRules = {"content:TVqQACBURVNU", "infected:Whole.Name",
                                                  "content:"s + kMarker, "infected:EICAR-Test-File"};

// The alert's original.eml keeps the forwarded message whole: its own
// headers and parts, less the infected one. Text payloads carry the copy's
// extra line end before each boundary line.
void forwarded_alert_tree(const Outcome &o, bool text_lf)
{
    ASSERT_EQ(o.started, 1);
    EXPECT_EQ(o.status[0], 0);
    qstest::TempDir dir;
    qstest::write_file(dir.file("alert"), o.messages[0]);
    qstest::write_file(dir.file("fixture"), qstest::fixture("forwarded-virus.eml"));
    auto trees = qstest::python_trees({dir.file("alert"), dir.file("fixture")}, text_lf);
    ASSERT_EQ(trees.size(), 2u);
    const std::vector<std::string> &tree = trees[0], &original = trees[1];
    ASSERT_EQ(original.size(), 7u);
    std::string png = original[6].substr(original[6].rfind(' ') + 1);
    ASSERT_EQ(tree.size(), 9u) << ::testing::PrintToString(tree);
    EXPECT_EQ(tree[0], "0 multipart/mixed -");
    EXPECT_EQ(tree[1].compare(0, 13, "1 text/plain "), 0) << tree[1];
    // The last part scanned (the clean image) leaves the virus name empty.
    EXPECT_EQ(tree[1].find(qstest::hex("Warning: an unknown virus")), 13u) << tree[1];
    EXPECT_EQ(tree[2], "1 message/rfc822 subject:" + qstest::hex("Fwd: invoice"));
    EXPECT_EQ(tree[3], "2 multipart/mixed -");
    EXPECT_EQ(tree[4], "3 text/plain " + qstest::hex("Forwarding the message below.\n"));
    EXPECT_EQ(tree[5], "3 message/rfc822 subject:" + qstest::hex("invoice"));
    EXPECT_EQ(tree[6], "4 multipart/mixed -");
    EXPECT_EQ(tree[7], "5 text/plain " + qstest::hex("Please find the invoice attached, caf\xc3\xa9 included.\n"));
    EXPECT_EQ(tree[8], "5 image/png " + png);
}

struct Scenario {
    const char *name;
    std::function<void(RunSetup &)> setup;
    std::function<void(const RunSetup &, const Outcome &)> check;
    bool clean_exit = true;   // the runs end without leaving temporary files or messages
};

void passed_unchanged(const RunSetup &s, const Outcome &o, int status)
{
    ASSERT_EQ(o.started, 1);
    EXPECT_EQ(o.status[0], status);
    EXPECT_EQ(o.messages[0], s.message);
    EXPECT_EQ(o.envelopes[0], s.envelope);
}

void refused(const Outcome &o)
{
    EXPECT_EQ(o.status[0], 81);
    EXPECT_EQ(o.started, 0) << "the queue program must not be started";
}

const std::vector<Scenario> kScenarios = {
    {"clean_message_status_0", [](RunSetup &) {},
     [](const RunSetup &s, const Outcome &o) {
         passed_unchanged(s, o, 0);
         EXPECT_EQ(count_of(o.kav_log, "\n"), 1u) << "only the whole message is scanned";
         EXPECT_EQ(o.kav_log.compare(0, 3, "ok\t"), 0) << o.kav_log;
         EXPECT_NE(o.kav_log.find("\t/var/tmp//mytmp-"), std::string::npos) << o.kav_log;
         EXPECT_EQ(o.virus_log, "");
         EXPECT_EQ(ini_counter(o.ini), 0);
     }},
    {"clean_message_status_31", [](RunSetup &s) { s.queue_conf = "status 31\n"; },
     [](const RunSetup &s, const Outcome &o) { passed_unchanged(s, o, 31); }},
    {"no_configuration_no_scan",
     [](RunSetup &s) {
         s.ini.clear();
         s.rules = {"any", "infected:X"};
     },
     [](const RunSetup &s, const Outcome &o) {
         passed_unchanged(s, o, 0);
         EXPECT_EQ(o.kav_log, "");
         EXPECT_EQ(ini_counter(o.ini), 0) << "the counter is created";
     }},
    {"infected_attachment",
     [](RunSetup &s) {
         s.ini = kInfectedIni;
         s.rules = kInfectedRules;
     },
     [](const RunSetup &, const Outcome &o) {
         ASSERT_EQ(o.started, 1);
         EXPECT_EQ(o.status[0], 0);
         EXPECT_EQ(masked(o.messages[0]), alert(warning("EICAR-Test-File"), kWithoutAttachment));
         EXPECT_NE(o.messages[0].find("Date: "), std::string::npos);
         EXPECT_EQ(o.messages[0].compare(0, 6, "Date: "), 0);
         EXPECT_NE(o.messages[0].find(" +0100\n"), std::string::npos) << "TZ is one hour east";
         EXPECT_EQ(o.envelopes[0], kEnvelope);
         EXPECT_EQ(o.virus_log.substr(0, kVirusRecordHead.size()), kVirusRecordHead);
         EXPECT_TRUE(qstest::has_shape(o.virus_log.substr(kVirusRecordHead.size()),
                                       std::string(qstest::kDateShape) + "\n"))
             << o.virus_log;
         EXPECT_EQ(o.virus_log.substr(o.virus_log.size() - 7), " -0100\n");
         EXPECT_EQ(ini_counter(o.ini), 5);
     }},
    {"user_notify_off_with_vadmin",
     [](RunSetup &s) {
         s.ini = kInfectedIni + "VAdmin=admin@example.org\nUser Notify=0\n[Mail Log]\nLog Mail=1\n";
         s.rules = kInfectedRules;
     },
     [](const RunSetup &, const Outcome &o) {
         ASSERT_EQ(o.started, 1);
         EXPECT_EQ(o.envelopes[0], "Falice@example.com\0Tadmin@example.org\0\0"s);
         EXPECT_NE(o.messages[0].find("Subject: Sandrel Virus Alert\n"), std::string::npos);
     }},
    {"user_notify_on_with_vadmin_and_logging",
     [](RunSetup &s) {
         s.ini = kInfectedIni + "VAdmin=admin@example.org\n[Mail Log]\nLog Mail=1\n";
         s.rules = kInfectedRules;
         s.cookie = "c0ffee42\n";
         s.cookie_age = 10;
     },
     [](const RunSetup &, const Outcome &o) {
         ASSERT_EQ(o.started, 1);
         EXPECT_EQ(o.envelopes[0], kFields + "Tmaillog@example.org\0Tadmin@example.org\0\0"s);
         EXPECT_EQ(masked(o.messages[0]), alert(warning("EICAR-Test-File"), kWithoutAttachment,
                                                "X-BRONTAL-Logged: example.org c0ffee42\n", kPlainNotice));
         EXPECT_EQ(ini_counter(o.ini), 5);
     }},
    {"log_mail_marks_the_message",
     [](RunSetup &s) {
         s.ini = kLogIni;
         s.message = kLoggedMessage;
         s.rules = {"any", "infected:X"};
     },
     [](const RunSetup &, const Outcome &o) {
         ASSERT_EQ(o.started, 1);
         EXPECT_EQ(o.status[0], 0);
         ASSERT_TRUE(qstest::is_cookie_line(o.cookie)) << o.cookie;
         EXPECT_EQ(o.messages[0], logged_form(o.cookie.substr(0, o.cookie.size() - 1)));
         EXPECT_EQ(o.envelopes[0], kFields + "Tmaillog@example.org\0\0"s);
         EXPECT_EQ(o.kav_log, "") << "no scan without Virus Scan";
     }},
    {"log_mail_already_logged_passes_unchanged",
     [](RunSetup &s) {
         s.ini = kLogIni;
         s.cookie = "c0ffee42\n";
         s.cookie_age = 800;
         s.message = "X-BRONTAL-Logged: example.org c0ffee42\n" + kLoggedMessage;
     },
     [](const RunSetup &s, const Outcome &o) {
         passed_unchanged(s, o, 0);
         EXPECT_EQ(o.cookie, "c0ffee42\n");
     }},
    {"log_mail_cookie_renewed_when_old",
     [](RunSetup &s) {
         s.ini = kLogIni;
         s.cookie = "c0ffee42\n";
         s.cookie_age = 1000;
         s.message = "X-BRONTAL-Logged: example.org c0ffee42\n" + kLoggedMessage;
     },
     [](const RunSetup &, const Outcome &o) {
         ASSERT_EQ(o.started, 1);
         ASSERT_TRUE(qstest::is_cookie_line(o.cookie)) << o.cookie;
         EXPECT_NE(o.cookie, "c0ffee42\n");
         EXPECT_EQ(o.messages[0], "X-BRONTAL-Logged: example.org c0ffee42\n" +
                                      logged_form(o.cookie.substr(0, o.cookie.size() - 1)));
         EXPECT_EQ(o.envelopes[0], kFields + "Tmaillog@example.org\0\0"s);
     }},
    {"scanner_down_fails_open",
     [](RunSetup &s) {
         s.daemon = false;
         s.message = "From: alice@example.com\nTo: bob@example.org\n\nplain text\n";
     },
     [](const RunSetup &s, const Outcome &o) {
         passed_unchanged(s, o, 0);
         // Three tries 5 s apart, for the whole message and for its one part.
         EXPECT_GE(o.seconds, 30.0);
         EXPECT_LT(o.seconds, 45.0);
         EXPECT_EQ(ini_counter(o.ini), 0);
         EXPECT_EQ(o.virus_log, "");
     }},
    {"queue_program_killed_by_signal", [](RunSetup &s) { s.queue_conf = "signal 9\n"; },
     [](const RunSetup &s, const Outcome &o) {
         EXPECT_EQ(o.status[0], 81);
         ASSERT_EQ(o.started, 1);
         EXPECT_EQ(o.messages[0], s.message);
     }},
    {"queue_program_missing", [](RunSetup &s) { s.queue_program = false; },
     [](const RunSetup &, const Outcome &o) {
         EXPECT_EQ(o.status[0], 81);
         EXPECT_EQ(o.started, 0);
     }},
    {"queue_program_ends_early_with_71",
     [](RunSetup &s) {
         s.queue_conf = "early\nstatus 71\n";
         s.message = "Subject: big\n\n" + std::string(2 << 20, 'x') + "\n";
     },
     [](const RunSetup &, const Outcome &o) { EXPECT_EQ(o.status[0], 71); }},
    {"queue_program_ends_early_with_0",
     [](RunSetup &s) {
         s.queue_conf = "early\nstatus 0\n";
         s.message = "Subject: big\n\n" + std::string(2 << 20, 'x') + "\n";
     },
     [](const RunSetup &, const Outcome &o) { EXPECT_EQ(o.status[0], 81) << "never success for a partial message"; }},
    {"several_runs_at_once_count_every_virus",
     [](RunSetup &s) {
         s.ini = "[Main]\nMail Domain=example.org\nVirus Scan=1\n";
         s.rules = kInfectedRules;
         s.runs = 8;
     },
     [](const RunSetup &, const Outcome &o) {
         for (int st : o.status)
             EXPECT_EQ(st, 0);
         EXPECT_EQ(ini_counter(o.ini), 8);
         EXPECT_EQ(count_of(o.virus_log, kVirusRecordHead), 8u);
         ASSERT_EQ(o.started, 8);
         for (const auto &m : o.messages)
             EXPECT_EQ(masked(m), alert(warning("EICAR-Test-File"), kWithoutAttachment));
     }},
    {"message_read_error_refused", [](RunSetup &s) { s.message_from = "/var/tmp"; },
     [](const RunSetup &, const Outcome &o) { refused(o); }},
    {"envelope_read_error_refused", [](RunSetup &s) { s.envelope_from = "/var/tmp"; },
     [](const RunSetup &, const Outcome &o) { refused(o); }},
    {"envelope_without_closing_field_refused",
     [](RunSetup &s) { s.envelope = "Falice@example.com\0Tbob@example.org\0"s; },
     [](const RunSetup &, const Outcome &o) { refused(o); }},
    {"envelope_without_sender_field_refused",
     [](RunSetup &s) { s.envelope = "alice@example.com\0Tbob@example.org\0\0"s; },
     [](const RunSetup &, const Outcome &o) { refused(o); }},
    {"empty_envelope_refused", [](RunSetup &s) { s.envelope.clear(); },
     [](const RunSetup &, const Outcome &o) { refused(o); }},
    {"envelope_in_pieces",
     [](RunSetup &s) {
         s.ini = kInfectedIni + "User Notify=0\n";
         s.rules = kInfectedRules;
         s.envelope_pieces = {"F", "alice@example.com\0Tbob@example.org\0"s, "\0"s};
     },
     [](const RunSetup &, const Outcome &o) {
         ASSERT_EQ(o.started, 1);
         EXPECT_EQ(o.status[0], 0);
         EXPECT_EQ(o.envelopes[0], "Falice@example.com\0\0"s);
         EXPECT_EQ(o.virus_log.substr(0, kVirusRecordHead.size()), kVirusRecordHead);
     }},
    {"recipient_from_first_line_starting_with_To",
     [](RunSetup &s) {
         s.ini = kInfectedIni;
         s.rules = {"any", "infected:Worm.X"};
         s.message = "From: alice@example.com\nto: lower@example.org\n\nTO: upper\n To: indented\nTo: Body Person\r\n";
     },
     [](const RunSetup &, const Outcome &o) {
         ASSERT_EQ(o.started, 1);
         EXPECT_EQ(o.virus_log.substr(0, o.virus_log.find("Worm.X")), "alice@example.com\nBody Person\n");
         EXPECT_NE(o.messages[0].find("from alice@example.com to Body Person.\n"), std::string::npos);
         EXPECT_NE(o.messages[0].find("Sorry, the whole message was infected.\n"), std::string::npos);
     }},
    {"forwarded_message_kept_whole_in_original_eml",
     [](RunSetup &s) {
         s.ini = kInfectedIni;
         s.rules = kForwardedRules;
         s.message = qstest::fixture("forwarded-virus.eml");
     },
     [](const RunSetup &, const Outcome &o) {
         forwarded_alert_tree(o, false);
         EXPECT_EQ(o.virus_log.substr(0, 41), "alice@example.com\nBob <bob@example.org>\n\n");
     }},
    {"crlf_forwarded_message_kept_whole_in_original_eml",
     [](RunSetup &s) {
         s.ini = kInfectedIni;
         s.rules = kForwardedRules;
         s.message = qstest::crlf(qstest::fixture("forwarded-virus.eml"));
     },
     [](const RunSetup &, const Outcome &o) {
         forwarded_alert_tree(o, true);
         EXPECT_EQ(o.messages[0].find("Sorry, the whole message was infected."), std::string::npos);
     }},
    {"virus_log_link_not_followed",
     [](RunSetup &s) {
         s.ini = kInfectedIni;
         s.rules = kInfectedRules;
         s.virus_log_link = true;
     },
     [](const RunSetup &, const Outcome &o) {
         ASSERT_EQ(o.started, 1);
         EXPECT_EQ(o.status[0], 0);
         EXPECT_EQ(masked(o.messages[0]), alert(warning("EICAR-Test-File"), kWithoutAttachment));
         EXPECT_EQ(o.link_target, "keep\n");
         EXPECT_EQ(ini_counter(o.ini), 5);
     }},
};

// Failures name the case instead of dumping its bytes.
void PrintTo(const Scenario &c, std::ostream *os) { *os << c.name; }

class EndToEnd : public ::testing::TestWithParam<Scenario> {};

TEST_P(EndToEnd, Scenario)
{
    if (!sandbox_available())
        GTEST_SKIP() << "needs root and unshare --mount for the sandbox of the end-to-end runs";
    RunSetup setup;
    GetParam().setup(setup);
    Outcome outcome = Sandbox().run(setup);
    ASSERT_EQ(outcome.status.size(), static_cast<size_t>(setup.runs));
    for (const auto &e : outcome.errors)
        EXPECT_EQ(e, "") << "the program wrote to standard error";
    for (const auto &name : outcome.var_tmp) {
        EXPECT_EQ(name.find("mytmp-"), std::string::npos) << "temporary file left: " << name;
        EXPECT_EQ(name.find("decoded-"), std::string::npos) << "decoded file left: " << name;
    }
    GetParam().check(setup, outcome);
}

// The number of calls in a line of strace's summary ("total" for all).
long calls_of(const std::string &summary, const std::string &name)
{
    for (const std::string &line : qstest::lines(summary)) {
        std::vector<std::string> fields;
        for (size_t p = 0; p < line.size();) {
            size_t b = line.find_first_not_of(' ', p);
            if (b == std::string::npos)
                break;
            size_t e = line.find(' ', b);
            fields.push_back(line.substr(b, e - b));
            p = e == std::string::npos ? line.size() : e;
        }
        if (fields.size() >= 5 && fields.back() == name)
            return std::stol(fields[3]);
    }
    return 0;
}

TEST(EndToEndCalls, SystemCallsFollowTheSizeNotTheLines)
{
    if (!sandbox_available())
        GTEST_SKIP() << "needs root and unshare --mount for the sandbox of the end-to-end runs";
    if (system("strace -V >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs strace";
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer runtime makes calls of its own, and its leak check
    // cannot run under a tracer: the counts are taken in the normal build.
    GTEST_SKIP() << "system calls are counted in the build without sanitizers";
#endif
    auto message = [](size_t size, size_t line) {
        std::string text = "From: alice@example.com\nTo: bob@example.org\nSubject: size\n";
        for (int i = 0; text.size() < size / 2; ++i)
            text += "X-Header-" + std::to_string(i) + ": " + std::string(line, 'h') + "\n";
        text += "\n";
        while (text.size() < size)
            text += std::string(line, 'b') + "\n";
        return text;
    };
    struct Run {
        const char *name;
        std::string text;
        long total = 0, reads = 0;
    } runs[] = {
        {"5 kB in short lines", message(5000, 8)},
        {"5 kB in long lines", message(5000, 600)},
        {"500 kB in short lines", message(500000, 8)},
    };
    for (Run &r : runs) {
        RunSetup s;
        s.ini = kLogIni;   // logging walks the parts and inserts the header
        s.daemon = false;
        s.message = r.text;
        s.count_calls = true;
        Outcome o = Sandbox().run(s);
        ASSERT_EQ(o.started, 1) << r.name;
        EXPECT_EQ(o.status[0], 0) << r.name;
        r.total = calls_of(o.calls, "total");
        r.reads = calls_of(o.calls, "read") + calls_of(o.calls, "pread64") + calls_of(o.calls, "lseek");
        ASSERT_GT(r.total, 0) << o.calls;
    }
    // The same size in ten times as many lines costs (almost) nothing more.
    EXPECT_LE(runs[0].total, runs[1].total + 10) << runs[0].name;
    EXPECT_LE(runs[0].reads, runs[1].reads + 5) << runs[0].name;
    EXPECT_LE(runs[0].reads, 40) << "a small message costs a few reads";
    // A hundred times the size: reads and writes grow with the size in blocks
    // of 8 KiB and more (about 60 reads of the input), not with the 55,000 lines.
    EXPECT_LE(runs[2].reads - runs[0].reads, 2 * (500000 / 8192) + 20) << runs[2].name;
    EXPECT_LE(runs[2].total - runs[0].total, 3 * (500000 / 8192) + 40) << runs[2].name;
}

INSTANTIATE_TEST_SUITE_P(Sandbox, EndToEnd, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario> &info) { return info.param.name; });

}  // namespace
