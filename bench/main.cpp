// Entry point of every benchmark program: the program's heap policy and
// denormal flushing first, so that the figures are those of a run of Velmora.
#include <benchmark/benchmark.h>

#include "denormals.h"
#include "heap_reuse.h"

int main(int argc, char** argv) {
  flush_denormals_to_zero();
  keep_freed_memory_for_reuse();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
