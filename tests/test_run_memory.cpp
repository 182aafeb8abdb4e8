// The memory a run needs: the estimate against the measured peak of real
// runs, and the refusal of a run that cannot fit, before any level.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "run_memory.h"
#include "run_parameters.h"
#include "support/literal_regex.h"
#include "support/program_run.h"
#include "support/texture_pair.h"
#include "trace_estimators.h"

using namespace velmora_test;

namespace {

constexpr std::size_t kMiB = std::size_t(1) << 20, kGiB = std::size_t(1) << 30;

// The limits: a run of `needed` bytes fits 8 GiB of physical memory, the
// control group's limit when one is set and, with an address-space limit,
// the room left beside 100 MiB in use and 300 MiB of thread reserves.
struct RefusalCase {
  std::size_t needed, physical, cgroup, address_limit;
  const char* expected;  // "" when it fits, else a part of the message
};

TEST(RunMemory, RefusalGivesBothFigures) {
  const RefusalCase cases[] = {
      {7 * kGiB, 8 * kGiB, 0, 0, ""},
      {8 * kGiB, 8 * kGiB, 0, 0, ""},
      {8 * kGiB + 1, 8 * kGiB, 0, 0,
       "Refused: the run needs about 8.0 GiB of memory, more than the 8.0 GiB of physical "
       "memory."},
      {20 * kGiB, 8 * kGiB, 0, 0, "about 20.0 GiB of memory, more than the 8.0 GiB of physical"},
      {600 * kMiB, 8 * kGiB, 0, kGiB, ""},  // 100 + 300 + 600 MiB within 1 GiB
      {625 * kMiB, 8 * kGiB, 0, kGiB,
       "Refused: the run needs about 625 MiB of memory, more than the 624 MiB left under the "
       "address-space limit of 1.0 GiB."},
      {3 * kGiB, 8 * kGiB, 0, 2 * kGiB, "left under the address-space limit of 2.0 GiB"},
      {kGiB, 8 * kGiB, 0, 300 * kMiB, "more than the 0 MiB left under"},  // limit below the use
      // The control group's limit: the run may take all of it, not a byte more.
      {2 * kGiB, 8 * kGiB, 2 * kGiB, 0, ""},
      {2 * kGiB + 1, 8 * kGiB, 2 * kGiB, 0,
       "Refused: the run needs about 2.0 GiB of memory, more than the 2.0 GiB memory limit of "
       "its control group (/fake/memory.max)."},
      {700 * kMiB, 8 * kGiB, 512 * kMiB, 0,
       "about 700 MiB of memory, more than the 512 MiB memory"},
      {700 * kMiB, 8 * kGiB, 512 * kMiB, 4 * kGiB, "512 MiB memory limit of its control group"},
      {9 * kGiB, 8 * kGiB, 16 * kGiB, 0, "more than the 8.0 GiB of physical memory."},
  };
  for (const RefusalCase& c : cases) {
    MemoryLimits m;
    m.physical = c.physical;
    m.cgroup_limit = c.cgroup;
    m.cgroup_file = "/fake/memory.max";
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

// A fake root with proc/self/cgroup and the limit files of the cgroup
// hierarchies below sys/fs/cgroup.
class FakeCgroups {
 public:
  explicit FakeCgroups(const std::string& name) : dir_(name) {}
  void cgroup_lines(const std::string& text) { put("proc/self/cgroup", text); }
  // value of `file` in the folder `folder` (relative to sys/fs/cgroup)
  void limit(const std::string& folder, const std::string& file, const std::string& value) {
    put("sys/fs/cgroup/" + folder + (folder.empty() ? "" : "/") + file, value + "\n");
  }
  std::string root() const { return dir_.path().string(); }
  std::string file(const std::string& relative) const { return dir_ / relative; }

 private:
  void put(const std::string& relative, const std::string& text) {
    const std::filesystem::path path = dir_.path() / relative;
    std::filesystem::create_directories(path.parent_path());
    write_text(path.string(), text);
  }
  ScratchDir dir_;
};

// The peak bytes plan_run_memory gives a run of p on a side x side tile,
// with no control group's limit (a root without proc/self/cgroup).
std::size_t planned_bytes(RunParameters p, int side) {
  p.dx = p.dy = p.Dx = p.Dy = p.dxOrig = p.dyOrig = side;
  const ScratchDir no_cgroup("no_cgroup");
  return plan_run_memory(p, no_cgroup.path().string());
}

// The limit is the smallest set on the process's cgroup or any cgroup
// above it: "max" (v2) and the kernel's unlimited v1 value
// 9223372036854771712 (2^63 - 4096) set none.
TEST(RunMemory, CgroupLimitIsTheSmallestUpTheHierarchy) {
  struct Case {
    const char* what;
    const char* cgroup_lines;
    std::vector<std::array<std::string, 3>> limits;  // folder, file, value
    std::size_t bytes;
    const char* file;  // relative to the root, "" when no limit
  };
  const std::string v2 = "memory.max", v1 = "memory.limit_in_bytes";
  const Case cases[] = {
      {"v2, own cgroup", "0::/a/b\n", {{"a/b", v2, "1073741824"}, {"a", v2, "max"}}, kGiB,
       "sys/fs/cgroup/a/b/memory.max"},
      {"v2, parent smaller", "0::/a/b\n",
       {{"a/b", v2, "max"}, {"a", v2, "536870912"}, {"", v2, "1073741824"}}, 512 * kMiB,
       "sys/fs/cgroup/a/memory.max"},
      {"v2, mount point smallest", "0::/a/b\n",
       {{"a/b", v2, "2147483648"}, {"a", v2, "1073741824"}, {"", v2, "268435456"}}, 256 * kMiB,
       "sys/fs/cgroup/memory.max"},
      {"v2, all max", "0::/a/b\n", {{"a/b", v2, "max"}, {"a", v2, "max"}}, 0, ""},
      {"v2, no limit files", "0::/a/b\n", {}, 0, ""},
      {"v1, own cgroup", "5:devices:/x\n4:memory:/x/y\n0::/\n",
       {{"memory/x/y", v1, "2147483648"}},
       2 * kGiB,
       "sys/fs/cgroup/memory/x/y/memory.limit_in_bytes"},
      {"v1, unlimited below a limit", "4:memory:/x/y\n",
       {{"memory/x/y", v1, "9223372036854771712"}, {"memory/x", v1, "3221225472"},
        {"memory", v1, "9223372036854771712"}},
       3 * kGiB, "sys/fs/cgroup/memory/x/memory.limit_in_bytes"},
      {"v1, unlimited everywhere", "4:memory:/x/y\n",
       {{"memory/x/y", v1, "9223372036854771712"}, {"memory", v1, "9223372036854771712"}}, 0, ""},
      {"v1, memory among other controllers", "3:cpu,memory:/z\n",
       {{"memory/z", v1, "1073741824"}}, kGiB, "sys/fs/cgroup/memory/z/memory.limit_in_bytes"},
      {"v1 beside v2, the smaller", "4:memory:/x\n0::/u\n",
       {{"memory/x", v1, "2147483648"}, {"u", v2, "1610612736"}}, 1536 * kMiB,
       "sys/fs/cgroup/u/memory.max"},
      {"v2 line of another controller list is not v2", "1:name=systemd:/a\n",
       {{"a", v2, "1073741824"}}, 0, ""},
      {"cgroup outside the visible hierarchy", "0::/../../c\n",
       {{"c", v2, "1073741824"}, {"", v2, "2147483648"}}, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeCgroups fake(std::string("cgroup_limit"));
    fake.cgroup_lines(c.cgroup_lines);
    for (const auto& l : c.limits) fake.limit(l[0], l[1], l[2]);
    const CgroupMemoryLimit limit = cgroup_memory_limit(fake.root());
    EXPECT_EQ(limit.bytes, c.bytes);
    EXPECT_EQ(limit.file, *c.file ? fake.file(c.file) : "");
  }
  // No proc/self/cgroup at all: no limit.
  FakeCgroups empty("cgroup_none");
  EXPECT_EQ(cgroup_memory_limit(empty.root()).bytes, 0u);
}

// The entry count of the finest level's Hessian against 2^31 - 1:
// 12*W*H - 4*W - 4*H with Neumann borders, 12*W*H periodic, W x H the tile
// padded to a multiple of 2^levels (even sides with one level).
TEST(RunMemory, HessianEntryLimitEdge) {
  struct Case {
    int dx, dy, levels;
    bool periodic;
    const char* expected;  // "" when the tile passes
  };
  const Case cases[] = {
      {13376, 13376, 1, false, ""},  // 2146901504 entries
      {13377, 13377, 1, false,       // padded to 13378
       "Refused: the tile 13377 x 13377 padded for 1 level (13378 x 13378) gives a sparse "
       "Hessian of 2147543584 stored entries at its finest level, more than the limit of "
       "2147483647."},
      {13376, 13376, 1, true, ""},  // 2147008512
      {13378, 13378, 1, true, "(13378 x 13378) gives a sparse Hessian of 2147650608 stored"},
      {32767, 5460, 1, false, ""},  // 32768 x 5460: 2146806448
      {32767, 5461, 1, false, "(32768 x 5462) gives a sparse Hessian of 2147592872 stored"},
      {5460, 32767, 1, true, ""},   // 5460 x 32768: 2146959360
      {5461, 32767, 1, true, "(5462 x 32768) gives a sparse Hessian of 2147745792 stored"},
      // Three levels pad to multiples of 8: 13376 stays, 13369 becomes 13376
      // and 13377 becomes 13384 (2149470400 entries).
      {13376, 13376, 3, false, ""},
      {13369, 13369, 3, false, ""},
      {13377, 13377, 3, false, "padded for 3 levels (13384 x 13384) gives a sparse Hessian of "
                               "2149470400 stored entries"},
  };
  for (const Case& c : cases) {
    RunParameters p;
    p.dxOrig = p.dx = c.dx;
    p.dyOrig = p.dy = c.dy;
    p.Dx = c.dx;
    p.Dy = c.dy;
    p.nb_resol = c.levels;
    p.periodic = c.periodic;
    const std::string message = check_hessian_entries(p);
    SCOPED_TRACE(std::to_string(c.dx) + " x " + std::to_string(c.dy) + ": " + message);
    if (*c.expected == '\0')
      EXPECT_EQ(message, "");
    else
      EXPECT_NE(message.find(c.expected), std::string::npos);
  }
}

// The images the trace samples make on every probe thread: 5 images of
// the finest level per thread for the members with the smoothness block
// (alpha update, four-trace joint update), 9 for the six-trace joint
// update, none for the beta update. On a 1024 x 1024 level (8 MiB an
// image) the estimate exceeds that of a beta-only run, whose probe buffers
// are the same, by threads x 40 MiB or threads x 72 MiB; the threads are
// never more than the probes.
TEST(RunMemory, EstimateCountsTheSampleImagesOfEveryThread) {
  RunParameters beta;
  beta.sigmaBetaEstim = true;
  RunParameters alpha;
  alpha.sigmaAlphaEstim = true;
  RunParameters four;  // Leclerc data factor, without alpha
  four.norm = 0.0;
  four.sigmaRobEstim = true;
  RunParameters six;  // data and smoothness factors
  six.norm = 0.0;
  six.normRegRob = 0;
  six.sigmaRobEstim = six.sigmaRegRobEstim = true;
  struct Case {
    int threads, probes;
    std::size_t smoothness, powers;  // bytes above the beta-only estimate
  };
  const Case cases[] = {
      {1, 100, 41943040, 75497472},
      {8, 100, 335544320, 603979776},
      {64, 100, 2684354560, 4831838208},
      {64, 30, 1258291200, 2264924160},  // 30 threads for 30 probes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.threads) + " threads, " + std::to_string(c.probes) + " probes");
    set_trace_probe_threads(c.threads);
    for (RunParameters* p : {&beta, &alpha, &four, &six}) p->nbIt = c.probes;
    const std::size_t base = planned_bytes(beta, 1024);
    EXPECT_EQ(planned_bytes(alpha, 1024) - base, c.smoothness);
    EXPECT_EQ(planned_bytes(four, 1024) - base, c.smoothness);
    EXPECT_EQ(planned_bytes(six, 1024) - base, c.powers);
  }
  set_trace_probe_threads(0);
}

// The figure grows with the pixels: about four times for twice the side,
// and an estimate adds the probe buffers.
TEST(RunMemory, EstimateScalesWithTheTile) {
  RunParameters p;
  const double small = static_cast<double>(planned_bytes(p, 1024));
  const double large = static_cast<double>(planned_bytes(p, 2048));
  EXPECT_GT(large / small, 3.8);
  EXPECT_LT(large / small, 4.05);
  // The solver's arrays alone: the system and its factors (12 entries of
  // 12 bytes per pixel each) and the seven CGS vectors of two unknowns.
  EXPECT_GT(small, (2 * 144.0 + 7 * 16.0) * 1024 * 1024);
  p.sigmaAlphaEstim = p.sigmaBetaEstim = true;
  EXPECT_GT(static_cast<double>(planned_bytes(p, 1024)), small);
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
    const double estimate = static_cast<double>(planned_bytes(p, c.side));
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

// An estimated 1024 x 1024 run on 8 probe threads needs about 2.8 GiB of
// address space with the threads' reserves; under a limit of 2 GiB it goes
// on with fewer threads and says so, while under 768 MiB even one thread's
// vectors and images (about 1 GiB) do not fit and the run is refused.
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
  EXPECT_EXIT(plan_estimated_with_address_limit(768 * kMiB), ::testing::ExitedWithCode(1),
              "Refused: the run needs about [0-9.]+ MiB of memory, more than the [0-9.]+ MiB "
              "left under the address-space limit of 768 MiB\\.");
#endif
}

// Under a control group's limit of 64 MiB a 1024 x 1024 tile (about
// 700 MiB) is refused with both figures and the file of the limit; under
// a parent's limit of 16 GiB, above the run's need, it goes on.
[[noreturn]] void plan_under_cgroup(const std::string& root) {
  plan_run_memory(tile_of(1024), root);
  std::exit(0);
}

TEST(RunMemoryDeathTest, RunBeyondTheCgroupLimitIsRefused) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  FakeCgroups fake("cgroup_refusal");
  fake.cgroup_lines("0::/box/run\n");
  fake.limit("box/run", "memory.max", "max");
  fake.limit("box", "memory.max", "67108864");
  EXPECT_EXIT(plan_under_cgroup(fake.root()), ::testing::ExitedWithCode(1),
              "Refused: the run needs about [0-9]+ MiB of memory, more than the 64 MiB memory "
              "limit of its control group \\(.*/sys/fs/cgroup/box/memory\\.max\\)\\.");
  fake.limit("box", "memory.max", "17179869184");
  EXPECT_EXIT(plan_under_cgroup(fake.root()), ::testing::ExitedWithCode(0), "");
}

// An estimated run whose figure for 8 probe threads exceeds the control
// group's limit takes the most threads whose figure, sample images
// included, fits: a limit of exactly the figure for 3 threads of the
// six-trace update gives 3 threads, one byte less gives 2.
[[noreturn]] void plan_six_traces_under(const std::string& root) {
  set_trace_probe_threads(8);
  RunParameters p = tile_of(1024);
  p.norm = 0.0;
  p.normRegRob = 0;
  p.sigmaRobEstim = p.sigmaRegRobEstim = true;
  std::fflush(stdout);
  ::dup2(2, 1);
  plan_run_memory(p, root);
  std::fprintf(stderr, "threads now %d\n", trace_probe_threads(p.nbIt));
  std::exit(0);
}

TEST(RunMemoryDeathTest, FewerThreadsUnderTheCgroupLimitCountTheirSampleImages) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  RunParameters p = tile_of(1024);
  p.norm = 0.0;
  p.normRegRob = 0;
  p.sigmaRobEstim = p.sigmaRegRobEstim = true;
  set_trace_probe_threads(3);
  const std::size_t three = planned_bytes(p, 1024);
  set_trace_probe_threads(2);
  const std::size_t two = planned_bytes(p, 1024);
  set_trace_probe_threads(0);
  // The third thread adds at least its 9 sample images of 8 MiB.
  ASSERT_GE(three - two, 9 * 8 * kMiB);
  FakeCgroups fake("cgroup_threads");
  fake.cgroup_lines("0::/box\n");
  fake.limit("box", "memory.max", std::to_string(three));
  EXPECT_EXIT(plan_six_traces_under(fake.root()), ::testing::ExitedWithCode(0),
              "The probe solves use 3 of 8 threads(.|\n)*threads now 3\n");
  fake.limit("box", "memory.max", std::to_string(three - 1));
  EXPECT_EXIT(plan_six_traces_under(fake.root()), ::testing::ExitedWithCode(0),
              "The probe solves use 2 of 8 threads(.|\n)*threads now 2\n");
}

// The check made before any input is read refuses what the plan would
// refuse with one probe thread, and only that: under a control group's
// limit of exactly the one-thread figure it passes, one byte less it gives
// the plan's refusal. The thread count set before is left as it was.
[[noreturn]] void plan_estimated_under(const std::string& root) {
  RunParameters p = tile_of(1024);
  p.sigmaAlphaEstim = p.sigmaBetaEstim = true;
  plan_run_memory(p, root);
  std::exit(0);
}

TEST(RunMemoryDeathTest, CheckBeforeInputIsThePlansOneThreadCheck) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  RunParameters p = tile_of(1024);
  p.sigmaAlphaEstim = p.sigmaBetaEstim = true;
  set_trace_probe_threads(1);
  const std::size_t one = planned_bytes(p, 1024);
  set_trace_probe_threads(5);
  FakeCgroups fake("cgroup_before_input");
  fake.cgroup_lines("0::/box\n");
  fake.limit("box", "memory.max", std::to_string(one));
  EXPECT_EQ(memory_refusal_before_input(p, fake.root()), "");
  EXPECT_EQ(trace_probe_threads(p.nbIt), 5);
  fake.limit("box", "memory.max", std::to_string(one - 1));
  const std::string refusal = memory_refusal_before_input(p, fake.root());
  EXPECT_NE(refusal.find("memory limit of its control group"), std::string::npos) << refusal;
  EXPECT_EQ(trace_probe_threads(p.nbIt), 5);
  set_trace_probe_threads(0);
  // The same refusal but for the scratch folder, which the death test's
  // child makes anew.
  const std::size_t at = refusal.find(fake.root());
  ASSERT_NE(at, std::string::npos) << refusal;
  EXPECT_EXIT(plan_estimated_under(fake.root()), ::testing::ExitedWithCode(1),
              "^" + literal_regex(refusal.substr(0, at)) + ".*" +
                  literal_regex(refusal.substr(at + fake.root().size())) + "\n");
}

// The program refuses such a run before it reads its list file and before
// any level: nothing on standard output but what precedes the set-up. The
// largest tile whose Hessian fits, estimated, needs some 400 GB.
TEST(RunMemory, ProgramRefusesBeforeTheFirstLevel) {
  ScratchDir dir("run_memory_refusal");
  write_list(dir / "pair.list", dir / "missing1.pgm", dir / "missing2.pgm", dir / "");
  const RunResult r = run_program(dir.path().string(),
                                  {"-inPath", dir / "pair.list", "-dx", "13376", "-dy", "13376",
                                   "-Dx", "13376", "-Dy", "13376", "-sigmaAlphaEstim", "true"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Refused: the run needs about"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("level"), std::string::npos) << r.out;
}

// A tile whose finest Hessian has more entries than its arrays can count
// is refused before the list file is read and before any level, with the
// limit, whatever memory the machine has.
TEST(RunMemory, ProgramRefusesAnOversizedHessianBeforeTheFirstLevel) {
  ScratchDir dir("run_memory_hessian");
  write_list(dir / "pair.list", dir / "missing1.pgm", dir / "missing2.pgm", dir / "");
  const RunResult r = run_program(dir.path().string(),
                                  {"-inPath", dir / "pair.list", "-dx", "13378", "-dy", "13378",
                                   "-Dx", "13378", "-Dy", "13378", "-multiresol", "1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("gives a sparse Hessian of 2147543584 stored entries at its finest level, "
                       "more than the limit of 2147483647."),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.out.find("level"), std::string::npos) << r.out;
}

}  // namespace
