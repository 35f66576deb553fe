#include "hqqueuedriver.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "hqconfemu.h"
#include "hqlog.h"
#include "hqmimemessage.h"
#include "hqprocess.h"
#include "hqtmpfile.h"
#include "raveloini.h"

namespace {

const int kFailed = 81;
// A "To:" line longer than this is cut; it only names the recipient in texts.
const size_t kMaxRecipient = 8192;

const HqLog log_driver("MailQueue", 4);

// A temporary copy; closed, and removed while it still has a name, on every path.
struct TempCopy {
    FILE *f = nullptr;
    HqString name;
    ~TempCopy()
    {
        if (f)
            fclose(f);
        if (!name.isnull())
            unlink(name.cstr());
    }
};

// Reads `fd` to its end in reads of `block` bytes, handing each chunk to
// `sink`. False on a read error (interrupted reads are retried) or when the
// sink refuses a chunk: the input is then not complete.
template <class F>
bool read_all(int fd, unsigned block, F sink)
{
    std::vector<char> buf(block + 1);
    for (;;) {
        int n = x_read(fd, buf.data(), block);
        if (n == 0)
            return true;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        buf[static_cast<size_t>(n)] = '\0';
        if (!sink(buf.data(), static_cast<size_t>(n)))
            return false;
    }
}

// The rest of the first line, header or body, that begins with "To:", less
// the byte after the colon and its line ending; null when there is none.
HqString first_to_line(FILE *f)
{
    static const char kTo[] = "To:";
    int matched = 0;   // bytes of "To:" matched at this line's start, -1: not a candidate
    int c;
    while ((c = getc(f)) != EOF) {
        if (matched >= 0 && c == kTo[matched]) {
            if (++matched < 3)
                continue;
            std::string text;
            c = getc(f);   // the byte after "To:"
            if (c != '\n' && c != EOF) {
                while (text.size() < kMaxRecipient && (c = getc(f)) != EOF) {
                    text.push_back(static_cast<char>(c));
                    if (c == '\n')
                        break;
                }
            }
            return terminate_string(HqString(text), 0);
        }
        matched = c == '\n' ? 0 : -1;
    }
    return HqString();
}

bool put_field(FILE *out, const HqString &field)
{
    return fwrite(field.cstr(), 1, field.length() + 1, out) == field.length() + 1;
}

bool copy_file(FILE *in, FILE *out)
{
    char buf[8192];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, in)) > 0) {
        if (fwrite(buf, 1, n, out) != n)
            return false;
    }
    return !ferror(in);
}

int wait_child(pid_t pid, bool delivered)
{
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        log_driver(1, "Can't wait for the queue program: %s\n", strerror(errno));
        return kFailed;
    }
    if (status & 0x7f) {
        log_driver(1, "The queue program ended by signal %s\n", status & 0x7f);
        return kFailed;
    }
    int code = (status >> 8) & 0xff;
    // Success is only passed on for a message handed over completely.
    if (!delivered && code == 0)
        return kFailed;
    return code;
}

int run(HqConfEmu &conf, const HqQueuePlaces &places)
{
    TempCopy copy;
    copy.f = my_tmpfile_filename(copy.name, places.temp_template);
    if (!copy.f) {
        log_driver(1, "Can't create the message copy: %s\n", strerror(errno));
        return kFailed;
    }
    bool ok = read_all(0, 8192, [&](const char *data, size_t n) { return fwrite(data, 1, n, copy.f) == n; });
    if (!ok || fflush(copy.f) != 0 || fseek(copy.f, 0, SEEK_SET) != 0) {
        log_driver(1, "Can't copy the message: %s\n", strerror(errno));
        return kFailed;
    }
    HqString recipient = first_to_line(copy.f);

    HqString domain = conf.get("Main", "Mail Domain", HqMimeMessage::kDefaultDomain);
    HqString vadmin = conf.get("Main", "VAdmin", nullptr);
    long notify = conf.getint("Main", "User Notify", 1);

    HqMimeMessage message(copy.f, copy.name, &conf, places);
    if (!message.has_reader()) {
        log_driver(1, "Can't read the message copy: %s\n", strerror(errno));
        return kFailed;
    }

    // The envelope copy holds the fields less the closing empty one.
    TempCopy envelope;
    envelope.f = my_tmpfile(places.temp_template);
    if (!envelope.f) {
        log_driver(1, "Can't create the envelope copy: %s\n", strerror(errno));
        return kFailed;
    }
    std::string sender;
    bool sender_done = false;
    long total = 0;
    char last[2] = {1, 1};
    ok = read_all(1, 8191, [&](const char *data, size_t n) {
        for (size_t i = 0; i < n && !sender_done; ++i) {
            if (total == 0 && i == 0)
                continue;   // the "F" of the sender field
            if (data[i] == '\0')
                sender_done = true;
            else
                sender.push_back(data[i]);
        }
        last[0] = n >= 2 ? data[n - 2] : last[1];
        last[1] = data[n - 1];
        total += static_cast<long>(n);
        return fwrite(data, 1, n, envelope.f) == n;
    });
    if (!ok) {
        log_driver(1, "Can't copy the envelope: %s\n", strerror(errno));
        return kFailed;
    }
    if (total < 2 || last[0] != '\0' || last[1] != '\0') {
        log_driver(1, "Envelope without its closing empty field refused\n");
        return kFailed;
    }
    if (fflush(envelope.f) != 0 || ftruncate(fileno(envelope.f), total - 1) != 0 ||
        fseek(envelope.f, total - 1, SEEK_SET) != 0) {
        log_driver(1, "Can't copy the envelope: %s\n", strerror(errno));
        return kFailed;
    }
    message.set_sender(HqString(sender));
    message.set_recipient(recipient);

    if (conf.getint("Mail Log", "Log Mail", 0) && message.log_message())
        put_field(envelope.f, HqString::format("T%s@%s", "maillog", domain.cstr()));
    if (fflush(envelope.f) != 0) {
        log_driver(1, "Can't copy the envelope: %s\n", strerror(errno));
        return kFailed;
    }

    int scan = 0;
    if (conf.getint("Main", "Virus Scan", 0)) {
        scan = message.vscan_email(&conf);
        if (scan != 0 && !message.alert()) {
            // The infected message must not go out in place of its alert.
            log_driver(1, "No virus alert could be made; the message waits for a later try\n");
            return kFailed;
        }
    }
    unlink(copy.name.cstr());
    copy.name = HqString();

    int envelope_pipe[2];
    int message_pipe[2];
    if (pipe(envelope_pipe) < 0) {
        log_driver(1, "Can't create a pipe: %s\n", strerror(errno));
        return kFailed;
    }
    if (pipe(message_pipe) < 0) {
        log_driver(1, "Can't create a pipe: %s\n", strerror(errno));
        close(envelope_pipe[0]);
        close(envelope_pipe[1]);
        return kFailed;
    }
    pid_t pid = hqfork(envelope_pipe[0], message_pipe[0]);
    if (pid < 0) {
        log_driver(1, "Can't fork: %s\n", strerror(errno));
        for (int fd : {envelope_pipe[0], envelope_pipe[1], message_pipe[0], message_pipe[1]})
            close(fd);
        return kFailed;
    }
    if (pid == 0) {
        close(envelope_pipe[1]);
        close(message_pipe[1]);
        // The queue program gets the usual SIGPIPE, not our ignored one.
        signal(SIGPIPE, SIG_DFL);
        if (dup2(envelope_pipe[0], 1) < 0 || dup2(message_pipe[0], 0) < 0)
            _exit(kFailed);
        if (envelope_pipe[0] > 2)
            close(envelope_pipe[0]);
        if (message_pipe[0] > 2)
            close(message_pipe[0]);
        char *const args[] = {const_cast<char *>(places.queue_program), nullptr};
        execv(places.queue_program, args);
        _exit(kFailed);
    }

    close(envelope_pipe[0]);
    close(message_pipe[0]);
    FILE *message_out = fdopen(message_pipe[1], "w");
    FILE *envelope_out = fdopen(envelope_pipe[1], "w");
    bool delivered = message_out && envelope_out;
    if (!message_out)
        close(message_pipe[1]);
    if (!envelope_out)
        close(envelope_pipe[1]);

    // The whole message first, closed, so the queue program has all of it
    // before the first envelope byte. A queue program that has gone makes
    // every further write fail: writing stops there.
    if (delivered && fseek(envelope.f, 0, SEEK_SET) != 0)
        delivered = false;
    if (delivered && message.output_to_stream(message_out) != 0)
        delivered = false;
    if (message_out && fclose(message_out) != 0)
        delivered = false;
    if (delivered) {
        if (scan == 0 || notify)
            delivered = copy_file(envelope.f, envelope_out);
        else
            delivered = put_field(envelope_out, HqString::format("F%s", message.sender().cstr()));
    }
    if (scan != 0) {
        long found = conf.getint("Main", "Number Virus Found", 0);
        conf.setint("Main", "Number Virus Found", found + 1);
        if (delivered && !!vadmin)
            delivered = put_field(envelope_out, HqString::format("T%s", vadmin.cstr()));
    }
    conf.flush();
    if (delivered)
        delivered = put_field(envelope_out, HqString(""));
    if (envelope_out && fclose(envelope_out) != 0)
        delivered = false;
    if (!delivered)
        log_driver(1, "The queue program did not take the whole message and envelope\n");
    return wait_child(pid, delivered);
}

}  // namespace

int x_read(int fd, void *buf, unsigned size) { return static_cast<int>(read(fd, buf, size)); }

int x_main(int argc, char **argv, const HqQueuePlaces &places)
{
    hqcrash_setup(argc > 0 && argv ? argv[0] : "queuescan", nullptr);
    signal(SIGPIPE, SIG_IGN);
    RaveloRoot root(new RaveloIni(places.config_file, 0660), true);
    HqConfEmu conf(&root);
    conf.maybesetint("Main", "Number Virus Found", 0);
    return run(conf, places);
}
