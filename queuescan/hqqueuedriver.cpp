#include "hqqueuedriver.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hqconfemu.h"
#include "hqenvelope.h"
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
    std::unique_ptr<char[]> buffer;   // the stream's, when it has one of its own
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

// What one run carries from stage to stage.
struct QueueRun {
    QueueRun(HqConfEmu &c, const HqQueuePlaces &p) : conf(c), places(p) {}
    HqConfEmu &conf;
    const HqQueuePlaces &places;
    TempCopy copy;       // the message as it arrived
    TempCopy envelope;   // the envelope less its closing empty field
    HqString recipient;  // the first "To:" line
    HqString domain;
    HqString vadmin;
    long notify = 1;
    std::unique_ptr<HqMimeMessage> message;
    int scan = 0;        // nonzero: an alert replaces the message
    pid_t child = -1;
    FILE *message_out = nullptr;
    FILE *envelope_out = nullptr;
};

// The message from descriptor 0 into a named temporary copy, and the first
// "To:" line of it.
bool copy_message(QueueRun &run)
{
    run.copy.f = my_tmpfile_filename(run.copy.name, run.places.temp_template);
    if (!run.copy.f) {
        log_driver(1, "Can't create the message copy: %s\n", strerror(errno));
        return false;
    }
    FILE *f = run.copy.f;
    // Written in large blocks, however small the reads.
    const size_t buffer_size = 65536;
    run.copy.buffer.reset(new char[buffer_size]);
    setvbuf(f, run.copy.buffer.get(), _IOFBF, buffer_size);
    bool ok = read_all(0, 8192, [f](const char *data, size_t n) { return fwrite(data, 1, n, f) == n; });
    if (!ok || fflush(f) != 0 || fseek(f, 0, SEEK_SET) != 0) {
        log_driver(1, "Can't copy the message: %s\n", strerror(errno));
        return false;
    }
    run.recipient = first_to_line(f);
    return true;
}

// The values of the configuration that the run needs, and the message
// object built over the copy with them.
bool read_configuration(QueueRun &run)
{
    run.domain = run.conf.get("Main", "Mail Domain", HqMimeMessage::kDefaultDomain);
    run.vadmin = run.conf.get("Main", "VAdmin", nullptr);
    run.notify = run.conf.getint("Main", "User Notify", 1);
    run.message = std::make_unique<HqMimeMessage>(run.copy.f, run.copy.name, &run.conf, run.places);
    if (!run.message->has_reader()) {
        log_driver(1, "Can't read the message copy: %s\n", strerror(errno));
        return false;
    }
    return true;
}

// The envelope from descriptor 1 into a nameless copy without its closing
// empty field; the sender and recipient texts for the alert; the logging
// recipient when mail logging wants it.
bool copy_envelope(QueueRun &run)
{
    run.envelope.f = my_tmpfile(run.places.temp_template);
    if (!run.envelope.f) {
        log_driver(1, "Can't create the envelope copy: %s\n", strerror(errno));
        return false;
    }
    FILE *f = run.envelope.f;
    HqEnvelope envelope;
    bool ok = read_all(1, 8191, [&](const char *data, size_t n) {
        envelope.take(data, n);
        return fwrite(data, 1, n, f) == n;
    });
    if (!ok) {
        log_driver(1, "Can't copy the envelope: %s\n", strerror(errno));
        return false;
    }
    if (!envelope.complete()) {
        log_driver(1, "Envelope refused: no sender field first or no closing empty field\n");
        return false;
    }
    if (fflush(f) != 0 || ftruncate(fileno(f), envelope.fields_length()) != 0 ||
        fseek(f, envelope.fields_length(), SEEK_SET) != 0) {
        log_driver(1, "Can't copy the envelope: %s\n", strerror(errno));
        return false;
    }
    run.message->set_sender(HqString(envelope.sender()));
    run.message->set_recipient(run.recipient);
    if (run.conf.getint("Mail Log", "Log Mail", 0) && run.message->log_message())
        put_field(f, HqString::format("T%s@%s", "maillog", run.domain.cstr()));
    if (fflush(f) != 0) {
        log_driver(1, "Can't copy the envelope: %s\n", strerror(errno));
        return false;
    }
    return true;
}

// The scan when it is configured; an alert replaces an infected message.
// The copy loses its name afterwards (the scanner read it by name).
bool scan_message(QueueRun &run)
{
    if (run.conf.getint("Main", "Virus Scan", 0)) {
        run.scan = run.message->vscan_email(&run.conf);
        if (run.scan != 0 && !run.message->alert()) {
            // The infected message must not go out in place of its alert.
            log_driver(1, "No virus alert could be made; the message waits for a later try\n");
            return false;
        }
    }
    unlink(run.copy.name.cstr());
    run.copy.name = HqString();
    return true;
}

// qmail's own queue program on two pipes: the message on its descriptor 0,
// the envelope on its descriptor 1.
bool start_queue_program(QueueRun &run)
{
    int envelope_pipe[2];
    int message_pipe[2];
    if (pipe(envelope_pipe) < 0) {
        log_driver(1, "Can't create a pipe: %s\n", strerror(errno));
        return false;
    }
    if (pipe(message_pipe) < 0) {
        log_driver(1, "Can't create a pipe: %s\n", strerror(errno));
        close(envelope_pipe[0]);
        close(envelope_pipe[1]);
        return false;
    }
    run.child = hqfork(envelope_pipe[0], message_pipe[0]);
    if (run.child < 0) {
        log_driver(1, "Can't fork: %s\n", strerror(errno));
        for (int fd : {envelope_pipe[0], envelope_pipe[1], message_pipe[0], message_pipe[1]})
            close(fd);
        return false;
    }
    if (run.child == 0) {
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
        char *const args[] = {const_cast<char *>(run.places.queue_program), nullptr};
        execv(run.places.queue_program, args);
        _exit(kFailed);
    }
    close(envelope_pipe[0]);
    close(message_pipe[0]);
    run.message_out = fdopen(message_pipe[1], "w");
    run.envelope_out = fdopen(envelope_pipe[1], "w");
    if (!run.message_out)
        close(message_pipe[1]);
    if (!run.envelope_out)
        close(envelope_pipe[1]);
    return true;
}

// The queue program's end: its exit status, or 81 when it could not be
// waited for or was ended by a signal. Success is only passed on for a
// message and envelope that were handed over whole.
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
    if (WIFSIGNALED(status)) {
        log_driver(1, "The queue program ended by signal %s\n", WTERMSIG(status));
        return kFailed;
    }
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : kFailed;
    if (!delivered && code == 0)
        return kFailed;
    return code;
}

// The whole message (or its alert) first, closed, so the queue program has
// all of it before the first envelope byte; then the envelope as the scan
// result and "User Notify" want it; the virus counter; the wait. A queue
// program that has gone makes every further write fail: writing stops there.
int hand_over(QueueRun &run)
{
    bool delivered = run.message_out && run.envelope_out;
    if (delivered && fseek(run.envelope.f, 0, SEEK_SET) != 0)
        delivered = false;
    if (delivered && run.message->output_to_stream(run.message_out) != 0)
        delivered = false;
    if (run.message_out && fclose(run.message_out) != 0)
        delivered = false;
    run.message_out = nullptr;
    if (delivered) {
        if (run.scan == 0 || run.notify)
            delivered = copy_file(run.envelope.f, run.envelope_out);
        else
            delivered = put_field(run.envelope_out, HqString::format("F%s", run.message->sender().cstr()));
    }
    if (run.scan != 0) {
        long found = run.conf.getint("Main", "Number Virus Found", 0);
        run.conf.setint("Main", "Number Virus Found", found + 1);
        if (delivered && !!run.vadmin)
            delivered = put_field(run.envelope_out, HqString::format("T%s", run.vadmin.cstr()));
    }
    run.conf.flush();
    if (delivered)
        delivered = put_field(run.envelope_out, HqString(""));
    if (run.envelope_out && fclose(run.envelope_out) != 0)
        delivered = false;
    run.envelope_out = nullptr;
    if (!delivered)
        log_driver(1, "The queue program did not take the whole message and envelope\n");
    return wait_child(run.child, delivered);
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
    QueueRun run(conf, places);
    if (!copy_message(run) || !read_configuration(run) || !copy_envelope(run) || !scan_message(run) ||
        !start_queue_program(run))
        return kFailed;
    return hand_over(run);
}
