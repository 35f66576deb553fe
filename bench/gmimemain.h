// The main program of the benchmarks that compare with GMime 3: GMime is
// set up before the benchmarks run and shut down after them.
//
//   #include "gmimemain.h"
//   int main(int argc, char** argv) { return bench::RunWithGMime(argc, argv); }
#ifndef TELSOR_BENCH_GMIMEMAIN_H
#define TELSOR_BENCH_GMIMEMAIN_H

#include <benchmark/benchmark.h>
#include <gmime/gmime.h>

namespace bench {

inline int RunWithGMime(int argc, char** argv) {
  g_mime_init();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_mime_shutdown();
  return 0;
}

}  // namespace bench

#endif  // TELSOR_BENCH_GMIMEMAIN_H
