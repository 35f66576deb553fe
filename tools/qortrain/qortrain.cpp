// qortrain [options] OUTDIR --ham DIR... --spam DIR... [--category NN DIR...]...
// qortrain --cv K [--list-folds] [--scores FILE] [options] --ham DIR... --spam DIR...
// qortrain --stamp [options] --ham DIR... --spam DIR... [--category NN DIR...]...
//
// Trains the n-gram classifiers of the mail classifier from folders of
// messages (one message per file, subfolders included) and writes them as
// classifier data files in OUTDIR:
//   Qor.bin     the spam classifier: the --spam messages against the --ham ones
//   Qor_NN.bin  category NN: its messages against every other message given
// With --cv K nothing is written: the spam classifier is cross-validated
// over the messages in K folds (each class dealt into the folds in an order
// fixed by the seed), and each fold's false positives, false negatives at
// the engine's score 0 and 1 - AUC are printed, then those of all folds.
// Each message is scored as the engine scores mail, whatever text the model
// was trained on: the fold's model is written and loaded by a mail
// classifier, which adds the metric of the message's features to the model's
// value of its clean text (texts of five words or more); a message counts as
// spam when its integer score is above 0. A message that cannot be parsed
// has no score and counts as clean.
// --list-folds only prints each message's fold, class and path (tab-separated),
// for running another filter on the same folds; --scores FILE writes each
// message's fold, class, value and path there as it is scored.
// --stamp trains nothing either: it prints the stamp of the files that these
// options would write from these folders, the options as taken and a digest
// of every message's training text with its class, in training order, so
// that a cached model can be told from one that the same options would make
// today (tools/default-model.sh keeps it beside the default model):
//   qortrain stamp 1
//   options --c 10 --tolerance 0.001 --keep all --update none --seed 1 --shift 0 --balance all --text extracted
//   ham 2075 spam 948
//   text 9f3b0c81d2e4a657
// Each flag takes one or more folders up to the next flag. A message's
// training text is the clean text that the engine's feature extractor makes
// of it, the text the mail classifier scores (with --whole: the whole file;
// with --body: its Subject followed by its body, the header block left
// out), scored the same way in --cv.
//
// Options (before OUTDIR):
//   --c C          the SMO bound (default 10)
//   --tolerance T  the KKT tolerance (default 0.001)
//   --keep K       keep only the K strongest weights of each sign
//   --shift D      add D to the threshold b of the trained classifiers: D > 0
//                  trades missed spam for fewer false positives (default 0)
//   --balance R    train on at most R ham (negative) messages per spam one,
//                  a subset fixed by the seed (default: every message)
//   --min-words N  leave out of the spam classifier's training the messages
//                  whose training text has fewer than N words (the mail
//                  classifier never gives it a text of fewer than five)
//   --distinct     leave out of the spam classifier's training a message
//                  whose training text repeats that of an earlier message of
//                  its class
//   --ham-copies K put each ham message K times (1 to 16) into the spam
//                  classifier's training set (default 1)
//   --update N     the update number written into the files (default none)
//   --seed S       seed of every random choice: the data set's shuffle, the
//                  optimiser's picks and the folds of --cv (default 1)
//   --log FILE     the engine's training log (Info and Debug lines)
//   --whole        train on the whole files, headers included
//   --body         train on the Subject and the raw body only
//   --quiet        no progress bar
// A progress bar is drawn on standard error when it is a terminal.
// Exit status: 0 done, 1 the engine refused (its code is printed), 2 usage
// or folders and files that cannot be read or written.
#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "classify/mailclassifier.h"
#include "foundation/errorroad.h"
#include "classify/maildataset.h"
#include "classify/mailfeatures.h"
#include "classify/ngramsclassifier.h"
#include "filter/scamisc.h"
#include "foundation/fileasistream.h"
#include "foundation/logsystem.h"
#include "foundation/results.h"
#include "foundation/win32.h"
#include "mime/mimehelpers.h"

using namespace telsor;

namespace {

int Usage() {
  fputs(
      "usage: qortrain [--c C] [--tolerance T] [--keep K] [--shift D] [--balance R] [--update N] [--seed S]\n"
      "                [--min-words N] [--distinct] [--ham-copies K] [--log FILE] [--whole | --body] [--quiet]\n"
      "                OUTDIR --ham DIR... --spam DIR... [--category NN DIR...]...\n"
      "       qortrain --cv K [--list-folds] [--scores FILE] [options] --ham DIR... --spam DIR...\n"
      "       qortrain --stamp [options] --ham DIR... --spam DIR... [--category NN DIR...]...\n",
      stderr);
  return 2;
}

// What a message's training text is.
enum TextMode { TEXT_EXTRACTED, TEXT_WHOLE, TEXT_BODY };

// A message's training text: the feature extractor's text, the whole file,
// or the Subject header's value and then the body.
class CMessageDataSet : public CMailOnFileDataSet {
 public:
  CMessageDataSet() : CMailOnFileDataSet(5) {}
  void PrepareText(TSTRING& text) override {
    if (ms_mode == TEXT_EXTRACTED) {
      CMailOnFileDataSet::PrepareText(text);
    } else if (ms_mode == TEXT_BODY) {
      text = BodyText(text.c_str(), text.GetLength());
    }
  }
  static inline TextMode ms_mode = TEXT_EXTRACTED;

  // The training text of a message file's bytes; false when it cannot be
  // parsed.
  static bool TextOf(TSTRING& text) {
    if (ms_mode == TEXT_EXTRACTED) {
      return MessageText(text.c_str(), static_cast<ULONG>(text.GetLength()), text) == S_OK;
    }
    if (ms_mode == TEXT_BODY) text = BodyText(text.c_str(), text.GetLength());
    return true;
  }

  static std::string BodyText(const char* p, int length) {
    const std::string all(p, static_cast<size_t>(length));
    // The body starts after the first empty line.
    size_t bodyAt = std::string::npos;
    for (size_t at = 0; at < all.size();) {
      const size_t end = all.find('\n', at);
      if (end == std::string::npos) break;
      const size_t line = end - at - (end > at && all[end - 1] == '\r' ? 1 : 0);
      if (line == 0) {
        bodyAt = end + 1;
        break;
      }
      at = end + 1;
    }
    std::string subject;
    const std::string head = all.substr(0, bodyAt == std::string::npos ? all.size() : bodyAt);
    for (size_t at = 0; at < head.size();) {
      const size_t end = std::min(head.find('\n', at), head.size());
      if (end - at >= 8 && strncasecmp(head.c_str() + at, "subject:", 8) == 0) {
        subject = head.substr(at + 8, end - at - 8);
        break;
      }
      at = end + 1;
    }
    if (bodyAt == std::string::npos) return subject;
    return subject + "\n" + all.substr(bodyAt);
  }
};

// ---- progress ----

bool g_bar = false;
ULONG g_total = 0;
const char* g_what = "";

void DrawBar(const char* phase, ULONG done, ULONG total) {
  if (!g_bar) return;
  const int width = 40;
  const int filled = total == 0 ? 0 : static_cast<int>(static_cast<double>(done) / total * width);
  char bar[width + 1];
  for (int i = 0; i < width; ++i) bar[i] = i < filled ? '#' : '.';
  bar[width] = '\0';
  fprintf(stderr, "\r%-10s %-12s [%s] %lu/%lu  ", g_what, phase, bar, static_cast<unsigned long>(done),
          static_cast<unsigned long>(total));
  fflush(stderr);
}

// Reads the engine's progress lines as they are logged.
void OnLog(DWORD, const char* text) {
  unsigned long k = 0;
  if (sscanf(text, "Processed %lu rows", &k) == 1) {
    DrawBar("Gram matrix", static_cast<ULONG>(k), g_total);
  } else if (sscanf(text, "Self dot products calculated for %lu", &k) == 1) {
    DrawBar("vectors", static_cast<ULONG>(k), g_total);
  } else if (sscanf(text, "** Examined %lu", &k) == 1) {
    DrawBar("optimising", static_cast<ULONG>(k), g_total);
  } else if (strncmp(text, "** Begin to examine all", 23) == 0) {
    DrawBar("optimising", 0, g_total);
  }
}

// ---- staging ----

// Lists the files under dir (subfolders included) into out.
bool ListFiles(const std::string& dir, std::vector<std::string>& out) {
  WIN32_FIND_DATA found;
  HANDLE h = FindFirstFile((dir + "/*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return access(dir.c_str(), R_OK) == 0;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    const std::string path = dir + "/" + name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      if (!ListFiles(path, out)) {
        FindClose(h);
        return false;
      }
    } else if (S_ISREG(st.st_mode)) {
      out.push_back(path);
    }
  } while (FindNextFile(h, &found));
  FindClose(h);
  return true;
}

// The files of several folders, each folder's sorted by name.
bool ListFolders(const std::vector<std::string>& dirs, std::vector<std::string>& out) {
  for (const std::string& dir : dirs) {
    std::vector<std::string> files;
    if (!ListFiles(dir, files)) {
      fprintf(stderr, "qortrain: cannot read folder %s\n", dir.c_str());
      return false;
    }
    std::sort(files.begin(), files.end());
    out.insert(out.end(), files.begin(), files.end());
  }
  return true;
}

// A folder of links to the given files, so that one data-set directory
// holds one class.
bool StageFiles(const std::string& at, const std::vector<std::string>& files) {
  if (mkdir(at.c_str(), 0700) != 0 && errno != EEXIST) return false;
  int k = 0;
  for (const std::string& f : files) {
    char absolute[4096];
    if (realpath(f.c_str(), absolute) == nullptr) continue;
    const std::string link = at + "/" + std::to_string(k++) + "_" + f.substr(f.rfind('/') + 1);
    if (symlink(absolute, link.c_str()) != 0) return false;
  }
  return true;
}

bool Stage(const std::string& at, const std::vector<std::string>& dirs) {
  std::vector<std::string> files;
  return ListFolders(dirs, files) && StageFiles(at, files);
}

void RemoveStaged(const std::string& dir) {
  std::vector<std::string> files;
  WIN32_FIND_DATA found;
  HANDLE h = FindFirstFile((dir + "/*").c_str(), &found);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name != "." && name != "..") files.push_back(dir + "/" + name);
    } while (FindNextFile(h, &found));
    FindClose(h);
  }
  for (const std::string& f : files) unlink(f.c_str());
  rmdir(dir.c_str());
}

struct Options {
  double C = 10.0;
  double tolerance = 0.001;
  long keep = -1;
  ULONG update = CNGramsTextClassifier::NO_UPDATE_NUMBER;
  unsigned seed = 1;
  double shift = 0.0;
  double balance = 0.0;
  ULONG minWords = 0;
  bool distinct = false;
  ULONG hamCopies = 1;
};

// With --balance R: at most R negative messages per positive one, a subset
// fixed by the seed, kept in their order.
void Balance(const Options& o, std::vector<std::string>& negative, size_t positives) {
  const double most = o.balance * static_cast<double>(positives);
  if (o.balance <= 0 || static_cast<double>(negative.size()) <= most) return;
  std::vector<size_t> order(negative.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::mt19937 rng(o.seed + 2);
  std::shuffle(order.begin(), order.end(), rng);
  order.resize(static_cast<size_t>(most));
  std::sort(order.begin(), order.end());
  std::vector<std::string> kept;
  for (size_t i : order) kept.push_back(negative[i]);
  negative.swap(kept);
}

// What the selection of training messages knows of one message file: a
// digest of its training text and whether that text has fewer words than
// --min-words asks for.
struct TextInfo {
  bool read = false;
  unsigned long long digest = 0;
  bool fewWords = false;
};

unsigned long long TextDigest(const TSTRING& text);

// With --min-words N, the messages whose training text has fewer than N
// words (as the mail classifier counts them: such texts are never given to
// the spam classifier) are left out, and so are those that cannot be read;
// with --distinct, a message whose training text repeats that of an earlier
// message of its class. Texts are read once per run.
void Select(const Options& o, std::vector<std::string>& files) {
  if (o.minWords == 0 && !o.distinct) return;
  static std::map<std::string, TextInfo> known;
  std::set<unsigned long long> seen;
  std::vector<std::string> kept;
  for (const std::string& f : files) {
    auto at = known.find(f);
    if (at == known.end()) {
      TextInfo info;
      TSTRING text;
      info.read = text.ReadFile(f.c_str()) == 0 && CMessageDataSet::TextOf(text);
      if (info.read) {
        info.digest = TextDigest(text);
        info.fewWords = o.minWords > 0 && IsWordsCountLess(text, o.minWords);
      }
      at = known.emplace(f, info).first;
    }
    const TextInfo& info = at->second;
    if (o.minWords > 0 && (!info.read || info.fewWords)) continue;
    if (o.distinct && info.read && !seen.insert(info.digest).second) continue;
    kept.push_back(f);
  }
  files.swap(kept);
}

// With --ham-copies K: each negative message K times in the set.
std::vector<std::string> Copies(const std::vector<std::string>& files, ULONG copies) {
  std::vector<std::string> out;
  for (ULONG k = 0; k < copies; ++k) out.insert(out.end(), files.begin(), files.end());
  return out;
}

// Trains one classifier on the staged folders.
int TrainOne(const Options& o, const std::string& negative, const std::string& positive, const char* what,
             CNGramsTextClassifier& c) {
  CMessageDataSet set;
  srand(o.seed);
  HRESULT hr = S_OK;
  try {
    set.Open(negative.c_str(), positive.c_str(), "*");
  } catch (...) {
    hr = E_FAIL;
  }
  if (FAILED(hr)) {
    fprintf(stderr, "qortrain: %s: cannot read the staged messages\n", what);
    return 2;
  }
  g_what = what;
  g_total = set.GetRecordCount();
  c.SetUpdateNumber(o.update);
  c.SetTrainingSeed(o.seed);
  hr = c.Train(set, o.C, o.tolerance, 1e-12);
  if (g_bar) fputc('\n', stderr);
  if (hr != S_OK) {
    fprintf(stderr, "qortrain: %s: training failed with code 0x%08X%s\n", what, static_cast<unsigned>(hr),
            hr == telsor::ResultFromSystemError(ERROR_INVALID_DATA) ? " (a class has no messages)" : "");
    return 1;
  }
  if (o.keep >= 0) c.ReduceWeightVector(static_cast<ULONG>(o.keep), 0.0);
  c.SetB(c.GetB() + o.shift);
  fprintf(stderr, "qortrain: %s: %lu messages (%lu positive), b = %.6g, %lu weights\n", what,
          static_cast<unsigned long>(set.GetRecordCount()), static_cast<unsigned long>(set.GetClassCount(1)), c.GetB(),
          static_cast<unsigned long>(c.GetWeights().GetCount()));
  return 0;
}

// Writes a trained classifier to out.
int WriteClassifier(CNGramsTextClassifier& c, const std::string& out) {
  // Written beside and then renamed, so that an interrupted run leaves no
  // half-written data file under the real name.
  const std::string part = out + ".part";
  IStream* file = nullptr;
  HRESULT hr = CFileAsIStream::CreateStreamOnFile(part.c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS, &file);
  if (SUCCEEDED(hr)) {
    hr = c.SerializeWrite(file);
    file->Release();
  }
  if (SUCCEEDED(hr) && rename(part.c_str(), out.c_str()) != 0) hr = E_FAIL;
  if (FAILED(hr)) {
    unlink(part.c_str());
    fprintf(stderr, "qortrain: cannot write %s: code 0x%08X\n", out.c_str(), static_cast<unsigned>(hr));
    return 2;
  }
  return 0;
}

// Trains one classifier and writes it to out.
int TrainAndWrite(const Options& o, const std::string& negative, const std::string& positive, const std::string& out,
                  const char* what) {
  CNGramsTextClassifier c(5);
  const int status = TrainOne(o, negative, positive, what, c);
  return status != 0 ? status : WriteClassifier(c, out);
}

// The engine's spam value of a message file with the spam classifier that
// mail loaded: the mail classifier's value of the message's features and
// clean text, whatever text the model was trained on. -HUGE_VAL for a
// message that cannot be read or parsed, which the engine gives no score
// (so it is never taken for spam).
double Score(const CMailClassifier& mail, const std::string& path) {
  TSTRING bytes;
  if (bytes.ReadFile(path.c_str()) != 0) return -HUGE_VAL;
  CMailFeatureExtractor taken(nullptr);
  if (taken.ExtractFeatures(bytes.c_str(), static_cast<ULONG>(bytes.GetLength()), nullptr) != S_OK) return -HUGE_VAL;
  return mail.ClassifySpam(taken, nullptr);
}

// Whether the engine scores a value as spam: its integer score above 0.
bool ScoredSpam(double value) {
  return value != -HUGE_VAL && Misc::ConvertScoreNoThrow(value) > 0;
}

// 1 - AUC of the values (spam above ham is right; ties count half).
double OneMinusAuc(std::vector<std::pair<double, int>> scored) {
  std::sort(scored.begin(), scored.end());
  double right = 0, hamBelow = 0, spamAll = 0;
  for (size_t i = 0; i < scored.size();) {
    double ham = 0, spam = 0;
    size_t j = i;
    for (; j < scored.size() && scored[j].first == scored[i].first; ++j) (scored[j].second > 0 ? spam : ham) += 1;
    right += spam * (hamBelow + 0.5 * ham);
    hamBelow += ham;
    spamAll += spam;
    i = j;
  }
  const double pairs = spamAll * hamBelow;
  return pairs == 0 ? 0.0 : 1.0 - right / pairs;
}

// K-fold cross-validation of the spam classifier over the given messages:
// each class is dealt into K folds in an order fixed by the seed; each fold
// is scored by the classifier trained on the others.
int CrossValidate(const Options& o, int folds, bool listOnly, FILE* scores, const std::vector<std::string>& hamDirs,
                  const std::vector<std::string>& spamDirs, const std::string& work, std::vector<std::string>& staged) {
  std::vector<std::string> files[2];
  if (!ListFolders(hamDirs, files[0]) || !ListFolders(spamDirs, files[1])) return 2;
  std::vector<int> foldOf[2];
  for (int k = 0; k < 2; ++k) {
    std::vector<size_t> order(files[k].size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::mt19937 rng(o.seed + k);
    std::shuffle(order.begin(), order.end(), rng);
    foldOf[k].assign(files[k].size(), 0);
    for (size_t i = 0; i < order.size(); ++i) foldOf[k][order[i]] = static_cast<int>(i % folds);
  }
  if (listOnly) {
    for (int k = 0; k < 2; ++k)
      for (size_t i = 0; i < files[k].size(); ++i) printf("%d\t%s\t%s\n", foldOf[k][i], k ? "spam" : "ham", files[k][i].c_str());
    return 0;
  }
  std::vector<std::pair<double, int>> all;
  long fpAll = 0, fnAll = 0;
  printf("fold  ham  spam  false-pos  false-neg  1-AUC\n");
  for (int f = 0; f < folds; ++f) {
    std::vector<std::string> train[2];
    std::vector<std::pair<std::string, int>> test;
    for (int k = 0; k < 2; ++k)
      for (size_t i = 0; i < files[k].size(); ++i) {
        if (foldOf[k][i] == f)
          test.push_back({files[k][i], k == 0 ? -1 : 1});
        else
          train[k].push_back(files[k][i]);
      }
    const std::string ham = work + "/cv" + std::to_string(f) + "ham", spam = work + "/cv" + std::to_string(f) + "spam";
    staged.push_back(ham);
    staged.push_back(spam);
    Select(o, train[0]);
    Select(o, train[1]);
    Balance(o, train[0], train[1].size());
    if (!StageFiles(ham, Copies(train[0], o.hamCopies)) || !StageFiles(spam, train[1])) return 2;
    CNGramsTextClassifier c(5);
    const std::string what = "fold " + std::to_string(f);
    int status = TrainOne(o, ham, spam, what.c_str(), c);
    // The fold's model is scored as the engine scores mail: written, loaded
    // by a mail classifier and given each message's features and text.
    const std::string modelDir = work + "/cv" + std::to_string(f) + "model";
    staged.push_back(modelDir);
    if (status == 0 && mkdir(modelDir.c_str(), 0700) != 0) status = 2;
    if (status == 0) status = WriteClassifier(c, modelDir + "/Qor.bin");
    if (status != 0) return status;
    CMailClassifier mail;
    mail.LoadData((modelDir + "/Qor.bin").c_str());
    std::vector<std::pair<double, int>> scored;
    long fp = 0, fn = 0, nHam = 0, nSpam = 0;
    for (const auto& t : test) {
      const double v = Score(mail, t.first);
      scored.push_back({v, t.second});
      if (scores != nullptr) fprintf(scores, "%d\t%s\t%.9g\t%s\n", f, t.second > 0 ? "spam" : "ham", v, t.first.c_str());
      if (t.second > 0) {
        ++nSpam;
        fn += !ScoredSpam(v);
      } else {
        ++nHam;
        fp += ScoredSpam(v);
      }
    }
    printf("%4d %4ld %5ld %10ld %10ld  %.5f\n", f, nHam, nSpam, fp, fn, OneMinusAuc(scored));
    fflush(stdout);
    fpAll += fp;
    fnAll += fn;
    all.insert(all.end(), scored.begin(), scored.end());
  }
  printf(" all %4zu %5zu %10ld %10ld  %.5f\n", files[0].size(), files[1].size(), fpAll, fnAll, OneMinusAuc(all));
  return 0;
}

// ---- stamp ----

// FNV-1a, 64 bits.
class CDigest {
 public:
  void Add(const void* data, size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) m_value = (m_value ^ p[i]) * 0x100000001b3ULL;
  }
  void AddNumber(unsigned long long x) {
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(x >> (8 * i));
    Add(bytes, sizeof bytes);
  }
  unsigned long long Value() const { return m_value; }

 private:
  unsigned long long m_value = 0xcbf29ce484222325ULL;
};

unsigned long long TextDigest(const TSTRING& text) {
  CDigest digest;
  digest.Add(text.c_str(), static_cast<size_t>(text.GetLength()));
  return digest.Value();
}

// The shortest decimal form that reads back as x.
std::string Number(double x) {
  char text[64];
  for (int digits = 15; digits <= 17; ++digits) {
    snprintf(text, sizeof text, "%.*g", digits, x);
    if (strtod(text, nullptr) == x) break;
  }
  return text;
}

// The options that shape a model, as they are taken.
std::string OptionsText(const Options& o) {
  std::string out = "--c " + Number(o.C) + " --tolerance " + Number(o.tolerance);
  out += o.keep >= 0 ? " --keep " + std::to_string(o.keep) : " --keep all";
  out += o.update == CNGramsTextClassifier::NO_UPDATE_NUMBER ? " --update none" : " --update " + std::to_string(o.update);
  out += " --seed " + std::to_string(o.seed) + " --shift " + Number(o.shift);
  out += o.balance > 0 ? " --balance " + Number(o.balance) : " --balance all";
  if (o.minWords > 0) out += " --min-words " + std::to_string(o.minWords);
  if (o.distinct) out += " --distinct";
  if (o.hamCopies != 1) out += " --ham-copies " + std::to_string(o.hamCopies);
  const TextMode mode = CMessageDataSet::ms_mode;
  out += mode == TEXT_EXTRACTED ? " --text extracted" : mode == TEXT_WHOLE ? " --text whole" : " --text body";
  return out;
}

// Prints the stamp of the classes' messages; 2 when a folder cannot be read.
int PrintStamp(const Options& o, const std::vector<std::pair<std::string, std::vector<std::string>>>& classes) {
  CDigest digest;
  std::string counts;
  for (const auto& c : classes) {
    std::vector<std::string> files;
    if (!ListFolders(c.second, files)) return 2;
    counts += (counts.empty() ? "" : " ") + c.first + " " + std::to_string(files.size());
    digest.Add(c.first.c_str(), c.first.size() + 1);
    digest.AddNumber(files.size());
    for (const std::string& f : files) {
      TSTRING text;
      const bool read = text.ReadFile(f.c_str()) == 0 && CMessageDataSet::TextOf(text);
      // A message without text and one that cannot be read differ.
      digest.AddNumber(read ? static_cast<unsigned long long>(text.GetLength()) : ~0ULL);
      if (read) digest.Add(text.c_str(), static_cast<size_t>(text.GetLength()));
    }
  }
  printf("qortrain stamp 1\noptions %s\n%s\ntext %016llx\n", OptionsText(o).c_str(), counts.c_str(), digest.Value());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  const char* logFile = nullptr;
  const char* scoresFile = nullptr;
  bool quiet = false;
  bool listFolds = false;
  bool stampOnly = false;
  long folds = 0;
  int i = 1;
  for (; i < argc && strncmp(argv[i], "--", 2) == 0; ++i) {
    const std::string flag = argv[i];
    if (flag == "--ham" || flag == "--spam" || flag == "--category") break;
    if (flag == "--quiet" || flag == "--list-folds" || flag == "--stamp") {
      (flag == "--quiet" ? quiet : flag == "--stamp" ? stampOnly : listFolds) = true;
      continue;
    }
    if (flag == "--distinct") {
      o.distinct = true;
      continue;
    }
    if (flag == "--body" || flag == "--whole") {
      CMessageDataSet::ms_mode = flag == "--body" ? TEXT_BODY : TEXT_WHOLE;
      continue;
    }
    if (i + 1 >= argc) return Usage();
    const char* value = argv[++i];
    char* end = nullptr;
    if (flag == "--c") {
      o.C = strtod(value, &end);
    } else if (flag == "--tolerance") {
      o.tolerance = strtod(value, &end);
    } else if (flag == "--keep") {
      o.keep = strtol(value, &end, 10);
    } else if (flag == "--update") {
      o.update = static_cast<ULONG>(strtoul(value, &end, 0));
    } else if (flag == "--shift") {
      o.shift = strtod(value, &end);
    } else if (flag == "--balance") {
      o.balance = strtod(value, &end);
      if (!(o.balance >= 0)) return Usage();
    } else if (flag == "--min-words") {
      o.minWords = static_cast<ULONG>(strtoul(value, &end, 10));
    } else if (flag == "--ham-copies") {
      o.hamCopies = static_cast<ULONG>(strtoul(value, &end, 10));
      if (o.hamCopies < 1 || o.hamCopies > 16) return Usage();
    } else if (flag == "--seed") {
      o.seed = static_cast<unsigned>(strtoul(value, &end, 0));
    } else if (flag == "--cv") {
      folds = strtol(value, &end, 10);
      if (folds < 2) return Usage();
    } else if (flag == "--log" || flag == "--scores") {
      (flag == "--log" ? logFile : scoresFile) = value;
      end = const_cast<char*>(value + strlen(value));
    } else {
      return Usage();
    }
    if (end == value || *end != '\0') return Usage();
  }
  if (stampOnly && folds > 0) return Usage();
  std::string outDir;
  if (folds == 0 && !stampOnly) {
    if (i >= argc) return Usage();
    outDir = argv[i++];
  }

  // Folders by class: "ham", "spam" and the category numbers.
  std::vector<std::string> ham, spam;
  std::vector<std::pair<unsigned, std::vector<std::string>>> categories;
  std::vector<std::string>* into = nullptr;
  for (; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--ham") {
      into = &ham;
    } else if (a == "--spam") {
      into = &spam;
    } else if (a == "--category") {
      if (i + 1 >= argc) return Usage();
      char* end = nullptr;
      const unsigned long number = strtoul(argv[++i], &end, 10);
      if (*end != '\0' || end == argv[i]) return Usage();
      categories.push_back({static_cast<unsigned>(number), {}});
      into = &categories.back().second;
    } else if (into == nullptr) {
      return Usage();
    } else {
      into->push_back(a);
    }
  }
  if (ham.empty() || spam.empty()) return Usage();
  for (auto& c : categories)
    if (c.second.empty()) return Usage();
  if (stampOnly) {
    std::vector<std::pair<std::string, std::vector<std::string>>> classes = {{"ham", ham}, {"spam", spam}};
    for (auto& c : categories) classes.push_back({"category-" + std::to_string(c.first), c.second});
    return PrintStamp(o, classes);
  }

  OpenLogSystem(1);
  SetLogLevel(logFile != nullptr ? 8 | 16 : 16);
  if (logFile != nullptr) SetOutLogFile(logFile);
  g_bar = !quiet && isatty(2);
  SetExternReportEvent(OnLog);

  char pattern[] = "/tmp/qortrainXXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    fprintf(stderr, "qortrain: cannot make a working folder\n");
    return 2;
  }
  const std::string work = pattern;
  std::vector<std::string> staged;
  auto stage = [&](const std::string& name, const std::vector<std::string>& dirs) {
    staged.push_back(work + "/" + name);
    return Stage(staged.back(), dirs);
  };
  int status = 0;
  if (folds > 0) {
    FILE* scores = scoresFile != nullptr ? fopen(scoresFile, "w") : nullptr;
    if (scoresFile != nullptr && scores == nullptr) {
      fprintf(stderr, "qortrain: cannot write %s\n", scoresFile);
      status = 2;
    } else {
      status = CrossValidate(o, static_cast<int>(folds), listFolds, scores, ham, spam, work, staged);
    }
    if (scores != nullptr && fclose(scores) != 0 && status == 0) status = 2;
    categories.clear();
  } else {
    std::vector<std::string> hamFiles, spamFiles;
    staged.push_back(work + "/ham");
    staged.push_back(work + "/spam");
    if (!ListFolders(ham, hamFiles) || !ListFolders(spam, spamFiles)) {
      status = 2;
    } else {
      Select(o, hamFiles);
      Select(o, spamFiles);
      Balance(o, hamFiles, spamFiles.size());
      if (!StageFiles(work + "/ham", Copies(hamFiles, o.hamCopies)) || !StageFiles(work + "/spam", spamFiles))
        status = 2;
    }
  }
  if (status == 0 && folds == 0)
    status = TrainAndWrite(o, work + "/ham", work + "/spam", outDir + "/Qor.bin", "spam");
  for (size_t k = 0; status == 0 && k < categories.size(); ++k) {
    // The category's messages against every other message given.
    std::vector<std::string> others = ham;
    others.insert(others.end(), spam.begin(), spam.end());
    for (size_t m = 0; m < categories.size(); ++m)
      if (m != k) others.insert(others.end(), categories[m].second.begin(), categories[m].second.end());
    const std::string number = std::to_string(categories[k].first);
    if (!stage("not" + number, others) || !stage("cat" + number, categories[k].second)) {
      status = 2;
      break;
    }
    status = TrainAndWrite(o, work + "/not" + number, work + "/cat" + number, outDir + "/Qor_" + number + ".bin",
                      ("category " + number).c_str());
  }
  for (const std::string& d : staged) RemoveStaged(d);
  rmdir(work.c_str());
  SetExternReportEvent(nullptr);
  CloseLogSystem();
  return status;
}
