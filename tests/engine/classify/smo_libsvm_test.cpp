// The SMO trainer against libsvm's svm-train (Debian's libsvm-tools, unpacked
// into the build folder by fetch-libsvm.sh) on the same small dense sets with
// the same kernel and C: the dual objective, the threshold and the number of
// support vectors agree. Skipped when the tools cannot be fetched.
#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "classify/smo.h"
#include "common/runprogram.h"
#include "common/tempdir.h"
#include "densesmo.h"

#if defined(QOR_FETCH_LIBSVM) && defined(QOR_LIBSVM_DIR)

namespace {

std::string Run(const std::string& command) { return telsor_test::RunProgram(command).output; }

// svm-train's folder, or empty when it cannot be had.
std::string LibsvmBin() {
  std::string bin = Run(std::string("bash ") + QOR_FETCH_LIBSVM + " " + QOR_LIBSVM_DIR + " 2>/dev/null");
  while (!bin.empty() && (bin.back() == '\n' || bin.back() == '\r')) bin.pop_back();
  return bin;
}

struct LibsvmResult {
  double obj = NAN, rho = NAN;
  int nSV = -1;
};

LibsvmResult Libsvm(const std::string& bin, const telsor_test::TempDir& dir, const std::vector<std::vector<double>>& x,
                    const std::vector<short>& y, const std::string& kernel, double C) {
  std::string data;
  char field[64];
  for (size_t i = 0; i < x.size(); ++i) {
    data += y[i] > 0 ? "+1" : "-1";
    for (size_t k = 0; k < x[i].size(); ++k) {
      snprintf(field, sizeof field, " %zu:%.17g", k + 1, x[i][k]);
      data += field;
    }
    data += "\n";
  }
  telsor_test::WriteFileBytes(dir / "train.svm", data);
  snprintf(field, sizeof field, " -c %.17g", C);
  const std::string out = Run("LD_LIBRARY_PATH=" + std::string(QOR_LIBSVM_DIR) + "/lib " + bin + "/svm-train -s 0 " +
                              kernel + field + " -e 1e-7 -h 0 " + (dir / "train.svm") + " " + (dir / "model") +
                              " 2>&1");
  LibsvmResult r;
  size_t at = out.find("obj = ");
  if (at != std::string::npos) sscanf(out.c_str() + at, "obj = %lf, rho = %lf", &r.obj, &r.rho);
  at = out.find("nSV = ");
  if (at != std::string::npos) sscanf(out.c_str() + at, "nSV = %d", &r.nSV);
  return r;
}

}  // namespace

TEST(SMOAgainstLibsvm, ObjectiveThresholdAndSupportVectorsAgree) {
  const std::string bin = LibsvmBin();
  if (bin.empty()) GTEST_SKIP() << "libsvm-tools could not be fetched";
  struct Case {
    int n;
    double spread;
    unsigned seed;
    bool gaussian;
    double gamma;
    double C;
  } cases[] = {
      {40, 0.3, 1, false, 0, 10.0},  // separable, no bound reached
      {60, 1.0, 7, false, 0, 1.0},   // overlapping, bound multipliers
      {60, 1.0, 7, false, 0, 0.1},
      {80, 1.2, 3, true, 0.5, 1.0},  // Gaussian kernel
      {50, 0.8, 5, true, 2.0, 10.0},
  };
  telsor_test::TempDir dir;
  for (const Case& c : cases) {
    std::vector<std::vector<double>> x;
    std::vector<short> y;
    Clouds(c.n, c.spread, c.seed, x, y);  // the first example is +1, as libsvm's first label
    CCountingMachine machine;
    CDenseSMO smo(machine, x, y, c.gaussian);
    smo.m_dGamma = c.gamma;
    smo.Execute(c.C, 1e-6, 1e-12);
    char kernel[64];
    snprintf(kernel, sizeof kernel, c.gaussian ? "-t 2 -g %.17g" : "-t 0", c.gamma);
    const LibsvmResult theirs = Libsvm(bin, dir, x, y, kernel, c.C);
    ASSERT_GE(theirs.nSV, 0) << "svm-train gave no result";

    // libsvm minimises the negated dual; its decision is sum - rho.
    const double ours = DualObjective(smo);
    EXPECT_NEAR(ours, -theirs.obj, 1e-3 * std::max(1.0, fabs(theirs.obj))) << c.seed << " C " << c.C;
    const double b = (smo.GetLowThreshold() + smo.GetUpThreshold()) / 2;
    EXPECT_NEAR(b, theirs.rho, 1e-3 * std::max(1.0, fabs(theirs.rho))) << c.seed << " C " << c.C;
    int support = 0;
    for (ULONG i = 0; i < smo.GetExampleCount(); ++i) support += smo.GetRecord(i).alpha > 0;
    EXPECT_EQ(support, theirs.nSV) << c.seed << " C " << c.C;
  }
}

#endif  // QOR_FETCH_LIBSVM && QOR_LIBSVM_DIR
