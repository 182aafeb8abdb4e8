// The memory a run needs: the estimate against the measured peak of real
// runs, and the refusal of a run that cannot fit, before any level.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "image_utils.h"
#include "run_memory.h"
#include "run_parameters.h"
#include "support/program_run.h"
#include "support/texture_pair.h"
#include "trace_estimators.h"

using namespace velmora_test;

namespace {

constexpr std::size_t kMiB = std::size_t(1) << 20, kGiB = std::size_t(1) << 30;

// The limits: a run of `needed` bytes fits 8 GiB of physical memory and,
// with an address-space limit, the room left beside 100 MiB in use and
// 300 MiB of thread reserves.
struct RefusalCase {
  std::size_t needed, physical, address_limit;
  const char* expected;  // "" when it fits, else a part of the message
};

TEST(RunMemory, RefusalGivesBothFigures) {
  const RefusalCase cases[] = {
      {7 * kGiB, 8 * kGiB, 0, ""},
      {8 * kGiB, 8 * kGiB, 0, ""},
      {8 * kGiB + 1, 8 * kGiB, 0,
       "Refused: the run needs about 8.0 GiB of memory, more than the 8.0 GiB of physical "
       "memory."},
      {20 * kGiB, 8 * kGiB, 0, "about 20.0 GiB of memory, more than the 8.0 GiB of physical"},
      {600 * kMiB, 8 * kGiB, kGiB, ""},  // 100 + 300 + 600 MiB within 1 GiB
      {625 * kMiB, 8 * kGiB, kGiB,
       "Refused: the run needs about 625 MiB of memory, more than the 624 MiB left under the "
       "address-space limit of 1.0 GiB."},
      {3 * kGiB, 8 * kGiB, 2 * kGiB, "left under the address-space limit of 2.0 GiB"},
      {kGiB, 8 * kGiB, 300 * kMiB, "more than the 0 MiB left under"},  // limit below the use
  };
  for (const RefusalCase& c : cases) {
    MemoryLimits m;
    m.physical = c.physical;
    m.address_limit = c.address_limit;
    m.address_used = 100 * kMiB;
    m.thread_reserve = 300 * kMiB;
    const std::string message = memory_refusal(c.needed, m);
    SCOPED_TRACE(message);
    if (*c.expected == '\0')
      EXPECT_EQ(message, "");
    else
      EXPECT_NE(message.find(c.expected), std::string::npos);
  }
}

// The figure grows with the pixels: about four times for twice the side,
// and an estimate adds the probe buffers.
TEST(RunMemory, EstimateScalesWithTheTile) {
  RunParameters p;
  const double small = static_cast<double>(run_memory_bytes(p, 1024, 1024));
  const double large = static_cast<double>(run_memory_bytes(p, 2048, 2048));
  EXPECT_GT(large / small, 3.8);
  EXPECT_LT(large / small, 4.05);
  // The solver's arrays alone: the system and its factors (12 entries of
  // 12 bytes per pixel each) and the seven CGS vectors of two unknowns.
  EXPECT_GT(small, (2 * 144.0 + 7 * 16.0) * 1024 * 1024);
  p.sigmaAlphaEstim = p.sigmaBetaEstim = true;
  EXPECT_GT(static_cast<double>(run_memory_bytes(p, 1024, 1024)), small);
}

#if !defined(__SANITIZE_ADDRESS__)
// Peak resident memory of a run of the program, in bytes, and its status.
struct Peak {
  int status = -1;
  double bytes = 0;
};

Peak run_measured(const std::string& dir, const std::vector<std::string>& options) {
  std::vector<std::string> args = {VELMORA_PROGRAM};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
      ::_exit(126);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  Peak peak;
  int status = 0;
  struct rusage ru {};
  if (pid > 0 && ::wait4(pid, &status, 0, &ru) == pid) {
    peak.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    peak.bytes = static_cast<double>(ru.ru_maxrss) * 1024.0;
  }
  return peak;
}
#endif

// The estimate against the measured peak of default and estimated runs at
// three sizes: never more than 5 % below it (a run the check lets through
// fits), never more than 15 % above it (a run that fits is not refused for
// want of a little).
TEST(RunMemory, EstimateMatchesMeasuredPeaks) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's own memory changes the peak";
#else
  ScratchDir dir("run_memory_peaks");
  struct Case {
    int side;
    bool estimated;
  };
  const Case cases[] = {{256, false}, {512, false}, {768, false},
                        {128, true},  {192, true},  {256, true}};
  for (const Case& c : cases) {
    const std::string side = std::to_string(c.side);
    write_pgm(dir / ("a" + side + ".pgm"), smooth_texture(c.side, c.side, 0.0, 0.0, 7), 1023);
    write_pgm(dir / ("b" + side + ".pgm"), smooth_texture(c.side, c.side, 0.4, -0.3, 7), 1023);
    write_list(dir / ("l" + side + ".list"), dir / ("a" + side + ".pgm"),
               dir / ("b" + side + ".pgm"), dir / "");
    std::vector<std::string> options = {"-inPath", dir / ("l" + side + ".list"), "-dx", side,
                                        "-dy", side, "-Dx", side, "-Dy", side};
    RunParameters p;
    if (c.estimated) {
      options.insert(options.end(), {"-sigmaAlphaEstim", "true", "-sigmaBetaEstim", "true"});
      p.sigmaAlphaEstim = p.sigmaBetaEstim = true;
    }
    int W = 0, H = 0;
    expand_dim(c.side, c.side, p.nb_resol, &W, &H);
    const double estimate = static_cast<double>(run_memory_bytes(p, W, H));
    const Peak peak = run_measured(dir.path().string(), options);
    SCOPED_TRACE("side " + side + (c.estimated ? " estimated" : " default") + ": estimate " +
                 std::to_string(estimate / kMiB) + " MiB, peak " +
                 std::to_string(peak.bytes / kMiB) + " MiB");
    ASSERT_EQ(peak.status, 0);
    EXPECT_GT(estimate, 0.95 * peak.bytes);
    EXPECT_LT(estimate, 1.15 * peak.bytes);
  }
#endif
}

RunParameters tile_of(int side) {
  RunParameters p;
  p.dx = p.dy = p.Dx = p.Dy = p.dxOrig = p.dyOrig = side;
  return p;
}

// A tile of 32760 x 32760 pixels needs about 0.7 TB: refused with exit
// status 1, the message giving both figures.
TEST(RunMemoryDeathTest, RunLargerThanPhysicalMemoryIsRefused) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const RunParameters p = tile_of(32760);
  EXPECT_EXIT(plan_run_memory(p), ::testing::ExitedWithCode(1),
              "Refused: the run needs about [0-9.]+ GiB of memory, more than the [0-9.]+ GiB of "
              "physical memory\\.");
}

// Under an address-space limit of 2 GiB a 4096 x 4096 tile (about 11 GiB)
// is refused, and a 256 x 256 one is let through.
#if !defined(__SANITIZE_ADDRESS__)
[[noreturn]] void plan_with_address_limit(int side) {
  struct rlimit limit;
  limit.rlim_cur = limit.rlim_max = 2 * kGiB;
  ::setrlimit(RLIMIT_AS, &limit);
  plan_run_memory(tile_of(side));
  std::exit(0);
}
#endif

TEST(RunMemoryDeathTest, RunBeyondTheAddressSpaceLimitIsRefused) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(plan_with_address_limit(4096), ::testing::ExitedWithCode(1),
              "Refused: the run needs about [0-9.]+ GiB of memory, more than the [0-9.]+ [GM]iB "
              "left under the address-space limit of 2\\.0 GiB\\.");
  EXPECT_EXIT(plan_with_address_limit(256), ::testing::ExitedWithCode(0), "");
#endif
}

// An estimated 1024 x 1024 run on 8 probe threads needs about 2.9 GiB of
// address space with the threads' reserves; under a limit of 2 GiB it goes
// on with fewer threads and says so, while under 1 GiB even one thread's
// vectors do not fit and the run is refused.
#if !defined(__SANITIZE_ADDRESS__)
[[noreturn]] void plan_estimated_with_address_limit(std::size_t limit_bytes) {
  struct rlimit limit;
  limit.rlim_cur = limit.rlim_max = limit_bytes;
  ::setrlimit(RLIMIT_AS, &limit);
  set_trace_probe_threads(8);
  RunParameters p = tile_of(1024);
  p.sigmaAlphaEstim = p.sigmaBetaEstim = true;
  std::fflush(stdout);
  ::dup2(2, 1);  // the line on standard output, for the death test to see
  plan_run_memory(p);
  std::fprintf(stderr, "threads now %d\n", trace_probe_threads(p.nbIt));
  std::exit(0);
}
#endif

TEST(RunMemoryDeathTest, EstimateUsesFewerThreadsWhenAllDoNotFit) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(plan_estimated_with_address_limit(2 * kGiB), ::testing::ExitedWithCode(0),
              "The probe solves use ([1-7]) of 8 threads: the memory available holds no more "
              "\\(about [0-9.]+ GiB\\)\n(.|\n)*threads now [1-7]\n");
  EXPECT_EXIT(plan_estimated_with_address_limit(kGiB), ::testing::ExitedWithCode(1),
              "Refused: the run needs about [0-9.]+ GiB of memory, more than the [0-9.]+ MiB "
              "left under the address-space limit of 1\\.0 GiB\\.");
#endif
}

// The program refuses such a run before it reads its list file and before
// any level: nothing on standard output but what precedes the set-up.
TEST(RunMemory, ProgramRefusesBeforeTheFirstLevel) {
  ScratchDir dir("run_memory_refusal");
  write_list(dir / "pair.list", dir / "missing1.pgm", dir / "missing2.pgm", dir / "");
  const RunResult r = run_program(dir.path().string(),
                                  {"-inPath", dir / "pair.list", "-dx", "32760", "-dy", "32760",
                                   "-Dx", "32760", "-Dy", "32760"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Refused: the run needs about"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("level"), std::string::npos) << r.out;
}

}  // namespace
