// Test support: the real textconsole under tmux in a private mount and pid
// namespace in which the appliance's paths hold fakes.
//
//   SandboxSetup setup;
//   setup.config = "cfg/eth0/ipaddr=10.0.0.5\n";
//   ConsoleSandbox box(setup);
//   if (!box.why_skipped().empty()) GTEST_SKIP() << box.why_skipped();
//   ASSERT_TRUE(box.started()) << box.setup_log();
//   ASSERT_TRUE(box.wait_for("Use Cordane Instead")) << box.screen();
//
// The namespace sees an overlay of the whole root file system (so nothing
// written inside reaches the real one) with: a fresh /tmp holding the
// configuration daemon on "/tmp/ravelod", the log service on "/tmp/rcmd",
// "/tmp/boot.log" and "/tmp/bootcd"; logging scripts as "/usr/bin/zap",
// "/usr/bin/netscan", "/usr/bin/unzap", "/bin/reboot" and
// "/usr/bin/mirror-hqdisk"; fixture files as "/proc/uptime", "/etc/lcdfile"
// and the "ini.old" files. The test's folder is "/sandbox" inside. The pane
// refuses to start the console unless every command path holds a fake and
// the root is the sandbox's overlay, so the real reboot is never reached.
// The namespace ends (every process in it killed) when the object goes, or
// when the test process dies.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "tmuxclient.h"

struct SandboxSetup {
    bool daemon = true;                 // a configuration daemon on /tmp/ravelod
    bool rcmd = true;                   // a log service on /tmp/rcmd
    std::string config;                 // the daemon's keys: "cfg/eth0/ipaddr=10.0.0.5" lines
    std::string lcdfile = "calidor.example.com\nAll systems go\n";
    std::string uptime = "90061.50 170000.25\n";
    std::string bootlog = "boot line one\nboot line two\n";
    std::string rcmd_lines = "rcmd header one\nrcmd header two\nlog line three\nlog line four\n";
    std::string mirror_output = "Mirroring to disk...\nInstall done.\n";
    bool bootdisk_ini_old = false;      // /bootdisk/hqdorsk/ini.old
    bool disk_ini_old = false;          // /disk/ini.old
    bool bootcd = false;                // /tmp/bootcd
};

class ConsoleSandbox : public TmuxClient {
public:
    explicit ConsoleSandbox(const SandboxSetup &setup) : ConsoleSandbox(make_dir(), setup) {}
    ~ConsoleSandbox()
    {
        if (ns_)
            pclose(ns_);   // its input ends: the namespace's first process leaves, the rest are killed
        if (!dir_.empty())
            run_command("rm -rf '" + dir_ + "'");
    }

    // Why the sandbox cannot be built on this machine; empty when it can.
    const std::string &why_skipped() const { return skip_; }
    // Waits until the console has been started in its pane.
    bool started() { return poll_until([&] { return exists("ready") || exists("failed"); }, 30) && exists("ready"); }
    std::string setup_log() const { return read_text_file(share_ + "/setup.log") + read_text_file(share_ + "/pane.log"); }
    // A file of the test's folder (inside: /sandbox/<name>).
    std::string file(const std::string &name) const { return read_text_file(share_ + "/" + name); }
    bool exists(const std::string &name) const { return access((share_ + "/" + name).c_str(), F_OK) == 0; }
    // A shell command run inside the namespace.
    void inside(const std::string &command) const { tmux("run-shell '" + command + "'"); }
    // Waits until the console has ended and the pane has recorded how.
    bool ended(double seconds = 15) { return poll_until([&] { return exists("status"); }, seconds); }

private:
    ConsoleSandbox(const std::string &dir, const SandboxSetup &setup)
        : TmuxClient(dir + "/share/tmux.sock", "console"), dir_(dir), share_(dir + "/share")
    {
        if (getuid() != 0) {
            skip_ = "the console's sandbox needs root (mount namespaces and overlays)";
            return;
        }
        mkdir(share_.c_str(), 0755);
        mkdir((dir_ + "/ns").c_str(), 0755);
        mkdir((dir_ + "/probe").c_str(), 0755);
        std::string probe = run_command(
            "unshare --mount --propagation private --pid --fork sh -c '"
            "mount -t tmpfs sandbox " + dir_ + "/probe && cd " + dir_ + "/probe && mkdir u w r && "
            "mount -t overlay sandbox -o lowerdir=/,upperdir=u,workdir=w r && echo usable' 2>&1");
        if (probe.find("usable") == std::string::npos) {
            skip_ = "no private mount namespace with an overlay here (unshare, overlayfs): " + probe;
            return;
        }
        write_files(setup);
        ns_ = popen(("unshare --mount --propagation private --pid --fork --kill-child sh -c '"
                     "sh -e " + share_ + "/setup.sh > " + share_ + "/setup.log 2>&1 || echo failed > " + share_ +
                     "/failed; exec cat > /dev/null'").c_str(),
                    "w");
    }

    void put(const std::string &name, const std::string &text, mode_t mode = 0644) const
    {
        std::ofstream(share_ + "/" + name) << text;
        chmod((share_ + "/" + name).c_str(), mode);
    }

    void write_files(const SandboxSetup &s) const
    {
        const std::string bin = std::string(TEXTCONSOLE_PATH).substr(0, std::string(TEXTCONSOLE_PATH).rfind('/'));
        const std::string fakes = std::string(FAKESERVICES_PATH).substr(0, std::string(FAKESERVICES_PATH).rfind('/'));
        const std::string root = dir_ + "/ns/root";
        put("config", s.config);
        put("lcdfile", s.lcdfile);
        put("uptime", s.uptime);
        put("boot.log", s.bootlog);
        put("rcmd.lines", s.rcmd_lines);
        put("mirror.out", s.mirror_output);
        put("calls.log", "");
        put("writes.log", "");
        put("fake-command",
            "#!/bin/sh\n"
            "# FAKE-APPLIANCE-COMMAND: stands in for an appliance command; only logs its call.\n"
            "echo \"$(basename \"$0\") $*\" >> /sandbox/calls.log\n"
            "if [ \"$(basename \"$0\")\" = mirror-hqdisk ]; then cat /sandbox/mirror.out; fi\n",
            0755);
        // The first process of the namespace: the mounts, then the rest inside the new root.
        put("setup.sh",
            "unset TMUX\n"
            "mount -t tmpfs sandbox " + dir_ + "/ns\n"
            "mkdir " + dir_ + "/ns/up " + dir_ + "/ns/work " + root + "\n"
            "mount -t overlay sandbox -o lowerdir=/,upperdir=" + dir_ + "/ns/up,workdir=" + dir_ + "/ns/work " + root + "\n"
            "mount -t proc proc " + root + "/proc\n"
            "mount --rbind /dev " + root + "/dev\n"
            "mount -t tmpfs sandbox " + root + "/tmp\n"
            "mkdir -p " + root + "/sandbox " + root + bin + " " + root + fakes + "\n"
            "mount --bind " + share_ + " " + root + "/sandbox\n"
            "mount --bind " + bin + " " + root + bin + "\n"
            "mount --bind " + fakes + " " + root + fakes + "\n"
            "mount --bind " + share_ + "/uptime " + root + "/proc/uptime\n"
            "chroot " + root + " /bin/sh -e /sandbox/inner.sh\n");
        // Inside the new root, where every path (symbolic links too) stays in the overlay.
        std::string inner =
            "for c in /usr/bin/zap /usr/bin/netscan /usr/bin/unzap /usr/bin/mirror-hqdisk /bin/reboot; do\n"
            "  rm -f $c; cp /sandbox/fake-command $c; chmod 755 $c\n"
            "done\n"
            "cp /sandbox/lcdfile /etc/lcdfile\n"
            "cp /sandbox/boot.log /tmp/boot.log\n";
        if (s.bootdisk_ini_old)
            inner += "mkdir -p /bootdisk/hqdorsk && echo saved > /bootdisk/hqdorsk/ini.old\n";
        if (s.disk_ini_old)
            inner += "mkdir -p /disk && echo saved > /disk/ini.old\n";
        if (s.bootcd)
            inner += "touch /tmp/bootcd\n";
        auto service = [&](const char *kind, const char *socket, const char *data, const char *log) {
            return std::string(FAKESERVICES_PATH) + " " + kind + " " + socket + " /sandbox/" + data + " /sandbox/" + log +
                   " > /sandbox/" + kind + ".err 2>&1 &\n"
                   "i=0; while [ ! -S " + socket + " ]; do i=$((i+1)); [ $i -lt 400 ]; sleep 0.05; done\n";
        };
        if (s.daemon)
            inner += service("ravelod", "/tmp/ravelod", "config", "writes.log");
        if (s.rcmd)
            inner += service("rcmd", "/tmp/rcmd", "rcmd.lines", "rcmd.log");
        inner += "tmux -f /dev/null -S /sandbox/tmux.sock new-session -d -s console -x 80 -y 24 'sh /sandbox/pane.sh 2> /sandbox/pane.log'\n"
                 "touch /sandbox/ready\n";
        put("inner.sh", inner);
        put("pane.sh",
            "for c in /bin/reboot /usr/bin/zap /usr/bin/netscan /usr/bin/unzap /usr/bin/mirror-hqdisk; do\n"
            "  if ! grep -q FAKE-APPLIANCE-COMMAND $c; then\n"
            "    echo \"REFUSED: $c is not a fake: not inside the sandbox\"; echo $c > /sandbox/refused; exec sleep 3600\n"
            "  fi\n"
            "done\n"
            "if ! awk '$1 == \"sandbox\" && $2 == \"/\" && $3 == \"overlay\" { found = 1 } END { exit !found }' /proc/mounts; then\n"
            "  echo 'REFUSED: the root is not the sandbox overlay'; echo root > /sandbox/refused; exec sleep 3600\n"
            "fi\n"
            "stty -g > /sandbox/before\n"
            "sh -c 'echo $$ > /sandbox/console.pid; exec " + std::string(TEXTCONSOLE_PATH) + "'\n"
            "echo $? > /sandbox/status.new\n"
            "stty -g > /sandbox/after\n"
            "stty -a\n"
            "echo CONSOLE ENDED\n"
            "mv /sandbox/status.new /sandbox/status\n"
            "exec sleep 3600\n");
    }

    static std::string make_dir()
    {
        char tmpl[] = "/tmp/tconsole-XXXXXX";
        return mkdtemp(tmpl) ? tmpl : "";  // empty: nothing to remove later
    }

    std::string dir_;
    std::string share_;
    std::string skip_;
    FILE *ns_ = nullptr;
};
