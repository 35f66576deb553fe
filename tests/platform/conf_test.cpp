#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "hqconfemu.h"
#include "raveloini.h"

namespace {

class ConfTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/hqconf-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        path_ = dir_ + "/hqmail.ini";
    }
    void TearDown() override
    {
        DIR *d = opendir(dir_.c_str());
        while (struct dirent *e = d ? readdir(d) : nullptr)
            if (e->d_name[0] != '.' || (e->d_name[1] && e->d_name[1] != '.'))
                unlink((dir_ + "/" + e->d_name).c_str());
        if (d)
            closedir(d);
        rmdir(dir_.c_str());
    }
    void write_file(const std::string &text)
    {
        std::ofstream(path_, std::ios::binary) << text;
    }
    std::string read_file() const
    {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    int entries() const
    {
        int n = 0;
        DIR *d = opendir(dir_.c_str());
        while (struct dirent *e = d ? readdir(d) : nullptr)
            n += e->d_name[0] != '.';
        if (d)
            closedir(d);
        return n;
    }
    std::string dir_, path_;
};

}  // namespace

TEST_F(ConfTest, ReadsDefaultsAndWritesOnlyItsChanges)
{
    write_file("; appliance mail settings\n[Main]\nMail Domain = example.org\nVirus Scan=1\n"
               "User Notify=yes\n\n[Mail Log]\nLog Mail=0\n# end\n");
    RaveloRoot root(new RaveloIni(path_.c_str(), 0660), true);
    HqConfEmu conf(&root);
    EXPECT_STREQ(conf.get("Main", "Mail Domain", "x").cstr(), "example.org");
    EXPECT_STREQ(conf.get("main", "mail domain", "x").cstr(), "example.org");
    EXPECT_TRUE(conf.get("Main", "VAdmin", nullptr).isnull());
    EXPECT_EQ(conf.getint("Main", "Virus Scan", 0), 1);
    EXPECT_EQ(conf.getint("Main", "User Notify", 1), 1);     // not a number
    EXPECT_EQ(conf.getint("Main", "Number Virus Found", -1), -1);
    EXPECT_TRUE(conf.maybesetint("Main", "Number Virus Found", 0));
    EXPECT_TRUE(conf.maybesetint("Main", "Virus Scan", 5));   // present: unchanged
    EXPECT_EQ(conf.getint("Main", "Virus Scan", 0), 1);
    EXPECT_EQ(conf.getint("Main", "Number Virus Found", -1), 0);
    EXPECT_TRUE(conf.setint("Mail Log", "Log Mail", 1));
    EXPECT_TRUE(conf.setint("Extra", "Count", 3));

    umask(077);   // the file mode is set explicitly, whatever the mask
    ASSERT_EQ(conf.flush(), 0);
    umask(022);
    EXPECT_EQ(read_file(),
              "; appliance mail settings\n[Main]\nMail Domain=example.org\nVirus Scan=1\n"
              "User Notify=yes\nNumber Virus Found=0\n\n[Mail Log]\nLog Mail=1\n# end\n"
              "[Extra]\nCount=3\n");
    struct stat st;
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);
    EXPECT_EQ(entries(), 1);   // no temporary file left behind

    RaveloRoot again(new RaveloIni(path_.c_str(), 0660), true);
    HqConfEmu conf2(&again);
    EXPECT_EQ(conf2.getint("Extra", "Count", 0), 3);
    EXPECT_EQ(conf2.getint("Mail Log", "Log Mail", 0), 1);
}

TEST_F(ConfTest, OtherLinesStayByteForByteThroughEveryFlush)
{
    // Lines that are neither headings nor entries, with the line ends other
    // programs leave: each must survive any number of writes unchanged.
    const char *const lines[] = {"\r\r", "\r", "; comment\r", "# note\r\r\r", "  \t\r ", "free text\r\r"};
    for (const char *line : lines) {
        const std::string text = std::string("[Main]\n") + line + "\nCount=0\n" + line + "\n";
        write_file(text);
        for (int round = 1; round <= 3; ++round) {
            RaveloRoot root(new RaveloIni(path_.c_str(), 0660), true);
            HqConfEmu conf(&root);
            EXPECT_EQ(conf.getint("Main", "Count", -1), round - 1);
            conf.setint("Main", "Count", round);
            ASSERT_EQ(conf.flush(), 0);
            std::string expected = std::string("[Main]\n") + line + "\nCount=" + std::to_string(round) + "\n" + line + "\n";
            EXPECT_EQ(read_file(), expected) << "round " << round << " of " << ::testing::PrintToString(line);
        }
    }
    // A last line without its LF gets one on the first write, then stays.
    write_file("[Main]\nCount=0\n;end\r\r");
    for (int round = 1; round <= 2; ++round) {
        RaveloRoot root(new RaveloIni(path_.c_str(), 0660), true);
        HqConfEmu conf(&root);
        conf.setint("Main", "Count", round);
        ASSERT_EQ(conf.flush(), 0);
        EXPECT_EQ(read_file(), "[Main]\nCount=" + std::to_string(round) + "\n;end\r\r\n");
    }
}

TEST_F(ConfTest, MissingFileGivesDefaultsAndIsCreatedOnFlush)
{
    RaveloRoot root(new RaveloIni(path_.c_str(), 0660), true);
    HqConfEmu conf(&root);
    EXPECT_STREQ(conf.get("Main", "Product Name", "Sandrel").cstr(), "Sandrel");
    EXPECT_EQ(conf.flush(), 0);           // nothing changed: nothing written
    EXPECT_EQ(entries(), 0);
    conf.maybesetint("Main", "Number Virus Found", 0);
    conf.setint("Main", "Number Virus Found", conf.getint("Main", "Number Virus Found", 0) + 1);
    ASSERT_EQ(conf.flush(), 0);
    EXPECT_EQ(read_file(), "[Main]\nNumber Virus Found=1\n");
}

TEST_F(ConfTest, FlushMergesWithChangesMadeByOthers)
{
    write_file("[Main]\nNumber Virus Found=5\nVAdmin=a@b\n");
    RaveloRoot mine(new RaveloIni(path_.c_str(), 0660), true);
    HqConfEmu conf(&mine);
    long n = conf.getint("Main", "Number Virus Found", 0);
    conf.setint("Main", "Number Virus Found", n + 1);

    {   // someone else raises the counter and changes another key meanwhile
        RaveloRoot other(new RaveloIni(path_.c_str(), 0660), true);
        HqConfEmu c(&other);
        c.setint("Main", "Number Virus Found", 7);
        other.xset(RaveloKey("Main", "VAdmin"), "c@d");
        ASSERT_EQ(c.flush(), 0);
    }
    ASSERT_EQ(conf.flush(), 0);
    EXPECT_EQ(read_file(), "[Main]\nNumber Virus Found=8\nVAdmin=c@d\n");
    // Without pending changes the view follows the file.
    write_file("[Main]\nNumber Virus Found=42\n");
    EXPECT_EQ(conf.getint("Main", "Number Virus Found", 0), 42);
}

TEST_F(ConfTest, RefusesValuesThatWouldBreakTheFile)
{
    RaveloRoot root(new RaveloIni(path_.c_str(), 0660), true);
    EXPECT_FALSE(root.xset(RaveloKey("Main", "Key"), "two\nlines"));
    EXPECT_FALSE(root.xset(RaveloKey("Main/Key/Deeper"), "x"));
    EXPECT_FALSE(root.xset(RaveloKey("Main", ""), "x"));
}

TEST_F(ConfTest, FlushFailsCleanlyWhenTheFolderIsMissing)
{
    RaveloRoot root(new RaveloIni((dir_ + "/none/hqmail.ini").c_str(), 0660), true);
    HqConfEmu conf(&root);
    conf.setint("Main", "Number Virus Found", 1);
    EXPECT_EQ(conf.flush(), -1);
}

TEST_F(ConfTest, ConcurrentFlushesLoseNoIncrementAndReadersSeeWholeFiles)
{
    write_file("[Main]\nMail Domain=example.org\n[Tail]\nEnd=1\n");
    const int kWriters = 6, kRounds = 40;
    pid_t reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        // Every file seen must be complete: the last section's key is there.
        for (int i = 0; i < 2000; ++i) {
            RaveloIni ini(path_.c_str(), 0660);
            HqString end;
            if (!ini.get(RaveloKey("Tail", "End"), &end) || end != HqString("1"))
                _exit(1);
        }
        _exit(0);
    }
    pid_t writers[kWriters];
    for (int w = 0; w < kWriters; ++w) {
        writers[w] = fork();
        ASSERT_GE(writers[w], 0);
        if (writers[w] == 0) {
            for (int r = 0; r < kRounds; ++r) {
                // As the filter does it: open, create when absent, raise, flush.
                RaveloRoot root(new RaveloIni(path_.c_str(), 0660), true);
                HqConfEmu conf(&root);
                conf.maybesetint("Main", "Number Virus Found", 0);
                usleep(static_cast<useconds_t>((r * 37 + w * 11) % 300));
                conf.setint("Main", "Number Virus Found", conf.getint("Main", "Number Virus Found", 0) + 1);
                if (conf.flush() != 0)
                    _exit(2);
            }
            _exit(0);
        }
    }
    for (pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(reader, &status, 0), reader);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    RaveloRoot root(new RaveloIni(path_.c_str(), 0660), true);
    HqConfEmu conf(&root);
    EXPECT_EQ(conf.getint("Main", "Number Virus Found", 0), kWriters * kRounds);
    EXPECT_STREQ(conf.get("Main", "Mail Domain", "").cstr(), "example.org");
    EXPECT_EQ(entries(), 1);
}
