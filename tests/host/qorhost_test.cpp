// qorhost, the host program of the main job, run as the real program over
// message files, a folder and a mailbox, with a data directory that works
// and with one that does not.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

#include "common/runprogram.h"
#include "common/tempdir.h"

using telsor_test::TempDir;
using telsor_test::WriteFileBytes;

namespace {

const char kMessage[] = "From: Ann <ann@example.org>\r\nTo: bob@example.org\r\nSubject: lunch\r\n\r\nSee you at noon.\r\n";

struct HostRun {
  int status;
  std::vector<std::string> lines;
};

HostRun Qorhost(const std::string& args) {
  const telsor_test::ProgramRun run = telsor_test::RunProgram(std::string(QOR_QORHOST) + " " + args + " 2>&1");
  return HostRun{run.status, telsor_test::Lines(run.output)};
}

// The lines that start with prefix.
std::vector<std::string> Starting(const HostRun& run, const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& l : run.lines)
    if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l);
  return out;
}

}  // namespace

TEST(Qorhost, FilesFoldersAndMailboxes) {
  TempDir dir;
  const std::string data = dir / "data";
  const std::string mail = dir / "mail";
  ASSERT_EQ(mkdir(data.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(mail.c_str(), 0755), 0);
  WriteFileBytes(data + "/SieveCatalog.xml", "<?xml version=\"1.0\"?>\n<SieveScripts USN=\"0\">\n</SieveScripts>\n");
  WriteFileBytes(mail + "/a.eml", kMessage);
  WriteFileBytes(mail + "/b.eml", kMessage);
  // A mailbox of three; the "From " lines are not part of the messages.
  const std::string box = dir / "box.mbox";
  WriteFileBytes(box, std::string("From ann@example.org Mon Jan  1 00:00:00 2024\n") + kMessage +
                          "From bob@example.org Mon Jan  1 00:00:01 2024\n" + kMessage +
                          "From cy@example.org Mon Jan  1 00:00:02 2024\n" + kMessage);

  HostRun run = Qorhost("--data " + data + " --tmp " + dir.path() + " " + mail + " " + box);
  EXPECT_EQ(run.status, 0);
  const std::vector<std::string> names = {mail + "/a.eml", mail + "/b.eml", box + "#1", box + "#2", box + "#3"};
  for (const std::string& name : names) {
    std::vector<std::string> lines = Starting(run, name + "  ");
    ASSERT_EQ(lines.size(), 1u) << name;
    // A message without features and no model: the feature metric alone;
    // without a category model every category has no score.
    EXPECT_NE(lines[0].find("  score -124  hoax - adult - money - goods - health -  "), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[0].find(" ms"), std::string::npos) << lines[0];
  }
  EXPECT_EQ(Starting(run, "5 message(s), 0 failed").size(), 1u);
}

TEST(Qorhost, MailboxMessagesLargerThanTheReadPiece) {
  // The mailbox is read a mebibyte at a time: a message of three, one
  // that starts right across a piece's end, a "From " line split by it,
  // and a last message of four bytes without a line end.
  TempDir dir;
  const std::string data = dir / "data";
  ASSERT_EQ(mkdir(data.c_str(), 0755), 0);
  WriteFileBytes(data + "/SieveCatalog.xml", "<?xml version=\"1.0\"?>\n<SieveScripts USN=\"0\">\n</SieveScripts>\n");
  std::string box = "From a\n" + std::string(kMessage) + "X-Pad: ";
  box += std::string(3 * (1u << 20), 'x') + "\r\n\r\nbody\r\n";
  box += "From b\n" + std::string(kMessage);
  box += std::string((1u << 22) - box.size() - 3, 'y') + "\n";
  box += "From c\n" + std::string(kMessage) + "From d\nabcd";
  WriteFileBytes(dir / "big.mbox", box);
  HostRun run = Qorhost("--data " + data + " --tmp " + dir.path() + " " + (dir / "big.mbox"));
  EXPECT_EQ(run.status, 0);
  for (int i = 1; i <= 4; ++i) {
    const std::string name = dir / "big.mbox" + "#" + std::to_string(i) + "  score ";
    EXPECT_EQ(Starting(run, name).size(), 1u) << name;
  }
  EXPECT_EQ(Starting(run, "4 message(s), 0 failed").size(), 1u);
}

TEST(Qorhost, FailuresAreReportedPerMessage) {
  TempDir dir;
  const std::string message = dir / "m.eml";
  WriteFileBytes(message, kMessage);
  HostRun run = Qorhost("--data " + (dir / "missing") + " --tmp " + dir.path() + " " + message + " " + message);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Starting(run, message + "  error 11 (3) Failed to initialize database.").size(), 2u);
  EXPECT_EQ(Starting(run, "2 message(s), 2 failed").size(), 1u);
  EXPECT_EQ(Qorhost("--bogus").status, 2);
}
