// tools/default-model.sh, the main job's model step, run as the real script
// with the real qortrain over a small stand-in for the training half: it
// trains when the model is missing, when an option changed or when the
// training text changed, and leaves a current model alone; the model it
// writes carries an update number that the engine reports.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/tempdir.h"

using telsor_test::TempDir;
using telsor_test::WriteFileBytes;

namespace {

struct ScriptRun {
  int status;
  std::string output;
};

// Runs the script for the model folder; options empty: the default ones.
ScriptRun DefaultModel(const std::string& half, const std::string& model, const std::string& options) {
  std::string command = "env -u QOR_TRAIN_OPTIONS QORTRAIN=" + std::string(QOR_QORTRAIN) + " QOR_TRAIN_HALF=" + half;
  if (!options.empty()) command += " QOR_TRAIN_OPTIONS='" + options + "'";
  command += " bash " + std::string(QOR_SOURCE_DIR) + "/tools/default-model.sh " + model + " 2>&1";
  ScriptRun run{-1, {}};
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return run;
  char buffer[512];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) run.output.append(buffer, n);
  const int status = pclose(p);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// The identity of the model file: a training writes a new file under the
// name, so its inode changes.
ino_t ModelFile(const std::string& model) {
  struct stat st;
  return stat((model + "/Qor.bin").c_str(), &st) == 0 ? st.st_ino : 0;
}

void Message(const std::string& path, const std::string& received, const std::string& subject,
             const std::string& body) {
  WriteFileBytes(path, "Received: " + received + "\r\nFrom: someone@example.com\r\nSubject: " + subject +
                           "\r\n\r\n" + body + "\r\n");
}

// The five groups of the training half, a few messages each.
void MakeHalf(const std::string& half) {
  const char* ham[] = {"the quarterly budget review meeting", "project schedule for next week",
                       "minutes of the design review", "lunch with the team on friday"};
  const char* spam[] = {"cheap pills without prescription", "you are the lottery winner claim your prize",
                        "casino bonus offer for new players", "lowest mortgage rates guaranteed now"};
  for (const char* group : {"easy-ham-1", "easy-ham-2", "hard-ham-1", "spam-1", "spam-2"}) {
    std::filesystem::create_directories(half + "/" + group);
    const bool isSpam = group[0] == 's';
    for (int i = 0; i < 3; ++i) {
      const char** texts = isSpam ? spam : ham;
      Message(half + "/" + group + "/" + std::to_string(i), "from relay.example.net by mx.example.org",
              texts[i % 4], std::string(texts[(i + 1) % 4]) + (isSpam ? " click here now" : " regards from the team"));
    }
  }
}

// The first line qorhost prints for a data directory: the engine's version
// and what it says of the spam model.
std::string QorhostFirstLine(const std::string& data, const std::string& message) {
  std::string first;
  FILE* p = popen((std::string(QOR_QORHOST) + " --data " + data + " " + message + " 2>&1").c_str(), "r");
  if (p == nullptr) return first;
  char line[4096];
  if (fgets(line, sizeof line, p) != nullptr) first = line;
  while (fgets(line, sizeof line, p) != nullptr) {
  }
  pclose(p);
  return first;
}

}  // namespace

TEST(DefaultModel, TrainsWhenOptionsOrTextChangeAndOnlyThen) {
  TempDir dir;
  const std::string half = dir / "train", model = dir / "model";
  MakeHalf(half);
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
      {"the changed option again", "--c 3 --update 1", false},
      {"the option spelled otherwise but taken alike", "--c 3.0 --update 1", false},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    const ino_t before = ModelFile(model);
    const ScriptRun run = DefaultModel(half, model, step.options);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(ModelFile(model), 0u);
    EXPECT_EQ(ModelFile(model) != before, step.retrains) << run.output;
    EXPECT_EQ(run.output.find("training the default spam model") != std::string::npos, step.retrains) << run.output;
    EXPECT_TRUE(std::filesystem::exists(model + "/Qor.stamp"));
  }

  // The engine tells the trained model by its update number.
  WriteFileBytes(model + "/SieveCatalog.xml", "<?xml version=\"1.0\"?>\n<SieveScripts USN=\"0\">\n</SieveScripts>\n");
  WriteFileBytes(dir / "m.eml", "From: a@example.org\r\nSubject: hello\r\n\r\nSee you at noon.\r\n");
  EXPECT_NE(QorhostFirstLine(model, dir / "m.eml").find("spam model Qor.bin, update 1\n"), std::string::npos);

  // A header that the feature extractor leaves out of the text changes no
  // training text; a word of a body does.
  const std::string options = steps[4].options;
  Message(half + "/spam-2/1", "from another.example.net by mx.example.org", "you are the lottery winner claim your prize",
          "casino bonus offer for new players click here now");
  ino_t before = ModelFile(model);
  ScriptRun run = DefaultModel(half, model, options);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(ModelFile(model), before) << run.output;
  Message(half + "/spam-2/1", "from another.example.net by mx.example.org", "you are the lottery winner claim your prize",
          "casino bonus offer for old players click here now");
  run = DefaultModel(half, model, options);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(ModelFile(model), before) << run.output;

  // A model without its stamp is trained again.
  std::filesystem::remove(model + "/Qor.stamp");
  before = ModelFile(model);
  run = DefaultModel(half, model, options);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(ModelFile(model), before) << run.output;

  // A training that fails leaves no stamp, so the next run tries again.
  std::filesystem::remove_all(half + "/spam-1");
  std::filesystem::create_directories(half + "/spam-1");
  std::filesystem::remove_all(half + "/spam-2");
  std::filesystem::create_directories(half + "/spam-2");
  run = DefaultModel(half, model, options);
  EXPECT_NE(run.status, 0) << run.output;
  EXPECT_FALSE(std::filesystem::exists(model + "/Qor.stamp"));
}
