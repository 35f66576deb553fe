// tools/default-model.sh, the main job's model step, run as the real script
// over a small stand-in for the training half, with a stand-in qortrain that
// logs its trainings and prints as its stamp the options and a checksum of
// the messages (the real stamp is qortrain's and has its own test): the
// script trains when the model is missing, when an option changed or when a
// message changed, and leaves a current model alone; a failed training
// leaves no stamp, so the next run trains again.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "common/runprogram.h"
#include "common/tempdir.h"

using telsor_test::ReadFileBytes;
using telsor_test::TempDir;
using telsor_test::WriteFileBytes;

namespace {

// qortrain's command line: options, then OUTDIR (not with --stamp), then
// --ham and --spam with their folders.
const char kFakeQortrain[] = R"(#!/bin/bash
stamp=0
options=()
while [ $# -gt 0 ] && [ "$1" != --ham ] && [ "${1#--}" != "$1" ]; do
  if [ "$1" = --stamp ]; then stamp=1; shift; continue; fi
  options+=("$1" "$2")
  shift 2
done
if [ $stamp = 1 ]; then
  echo "options ${options[*]}"
  folders=()
  for a in "$@"; do [ "${a#--}" = "$a" ] && folders+=("$a"); done
  find "${folders[@]}" -type f | sort | xargs cat | cksum
  exit 0
fi
echo "train ${options[*]}" >>"$FAKE_LOG"
if [ -n "${FAKE_FAIL:-}" ]; then exit 1; fi
echo "model ${options[*]}" >"$1/Qor.bin"
)";

using ScriptRun = telsor_test::ProgramRun;

// Runs the script for the model folder; options empty: the default ones.
ScriptRun DefaultModel(const TempDir& dir, const std::string& options, bool fail = false) {
  std::string command = "env -u QOR_TRAIN_OPTIONS QORTRAIN=" + (dir / "qortrain") + " QOR_TRAIN_HALF=" + (dir / "train") +
                        " FAKE_LOG=" + (dir / "log");
  if (!options.empty()) command += " QOR_TRAIN_OPTIONS='" + options + "'";
  if (fail) command += " FAKE_FAIL=1";
  command += " bash " + std::string(QOR_SOURCE_DIR) + "/tools/default-model.sh " + (dir / "model") + " 2>&1";
  return telsor_test::RunProgram(command);
}

// How many trainings the stand-in has logged.
int Trainings(const TempDir& dir) {
  const std::string log = ReadFileBytes(dir / "log");
  int count = 0;
  for (size_t at = log.find("train"); at != std::string::npos; at = log.find("train", at + 1)) ++count;
  return count;
}

}  // namespace

TEST(DefaultModel, TrainsWhenOptionsOrMessagesChangeAndOnlyThen) {
  TempDir dir;
  WriteFileBytes(dir / "qortrain", kFakeQortrain);
  std::filesystem::permissions(dir / "qortrain", std::filesystem::perms::owner_all);
  WriteFileBytes(dir / "log", "");
  for (const char* group : {"easy-ham-1", "easy-ham-2", "hard-ham-1", "spam-1", "spam-2"}) {
    const std::string folder = dir / ("train/" + std::string(group));
    std::filesystem::create_directories(folder);
    WriteFileBytes(folder + "/1", std::string("Subject: ") + group + "\r\n\r\nsome words\r\n");
  }
  struct Step {
    const char* what;
    const char* options;
    bool retrains;
  };
  // Each step runs the script once more on what the steps before left.
  const Step steps[] = {
      {"no model yet", "", true},
      {"nothing changed", "", false},
      {"an option changed", "--c 3 --update 1", true},
  };
  int trained = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    const ScriptRun run = DefaultModel(dir, step.options);
    ASSERT_EQ(run.status, 0) << run.output;
    trained += step.retrains;
    EXPECT_EQ(Trainings(dir), trained) << run.output;
    EXPECT_EQ(run.output.find("training the default spam model") != std::string::npos, step.retrains) << run.output;
    EXPECT_TRUE(std::filesystem::exists(dir / "model/Qor.bin"));
    EXPECT_TRUE(std::filesystem::exists(dir / "model/Qor.stamp"));
  }
  // The default options give the model an update number.
  const std::string log = ReadFileBytes(dir / "log");
  EXPECT_NE(log.substr(0, log.find('\n')).find("--update 2"), std::string::npos) << log;

  // A message changed: trained again.
  WriteFileBytes(dir / "train/spam-2/1", "Subject: spam-2\r\n\r\nother words\r\n");
  ScriptRun run = DefaultModel(dir, "--c 3 --update 1");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Trainings(dir), ++trained) << run.output;

  // A training that fails leaves the old model without a stamp, so the
  // next run trains again.
  run = DefaultModel(dir, "--c 4 --update 1", true);
  EXPECT_NE(run.status, 0) << run.output;
  EXPECT_EQ(Trainings(dir), ++trained) << run.output;
  EXPECT_TRUE(std::filesystem::exists(dir / "model/Qor.bin"));
  EXPECT_FALSE(std::filesystem::exists(dir / "model/Qor.stamp"));
  run = DefaultModel(dir, "--c 4 --update 1");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Trainings(dir), ++trained) << run.output;
  EXPECT_EQ(ReadFileBytes(dir / "model/Qor.bin"), "model --c 4 --update 1\n");
}
