// Output files written whole or not at all: the temporary file and its
// rename, the permission bits, links and devices, every output writer
// under a write that fails part-way (the file-size limit of the process),
// the temporary file removed by every signal whose default action ends the
// process (the process then ends by the signal), and the up-front check of
// the output names against the system's name-length limits.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "CImg.h"
#include "image_utils.h"
#include "io_field.h"
#include "output_file.h"
#include "outputs.h"
#include "program_run.h"
#include "scratch_dir.h"

namespace fs = std::filesystem;
using cimg_library::CImg;

namespace {

std::vector<std::string> entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

mode_t permissions(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// No core file from this process (a child ended by SIGQUIT, SIGSEGV or
// SIGXFSZ would otherwise leave one in its working folder).
void no_core_dump() {
  const struct rlimit none = {0, 0};
  ::setrlimit(RLIMIT_CORE, &none);
}

// Limits the files this process writes to 8 KiB. With SIGXFSZ ignored, a
// write past the limit fails with an error (EFBIG); with its default
// disposition, the write ends the process by SIGXFSZ. Used inside death
// statements only.
void limit_file_size(bool ignore_signal) {
  no_core_dump();
  ::signal(SIGXFSZ, ignore_signal ? SIG_IGN : SIG_DFL);
  const struct rlimit limit = {8192, 8192};
  ::setrlimit(RLIMIT_FSIZE, &limit);
}

// The signals whose default action ends the process, with or without a
// core dump, as signal(7) lists them: all can be caught but SIGKILL. The
// real-time ones start at SIGRTMIN, above those the C library keeps.
std::vector<int> ending_signals() {
  std::vector<int> s = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE,
                        SIGUSR1, SIGSEGV, SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM,   SIGSTKFLT,
                        SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR,    SIGSYS};
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) s.push_back(sig);
  return s;
}

// Signals whose default action does not end the process (ignore, stop,
// continue): never taken over.
constexpr int kOtherSignals[] = {SIGCHLD, SIGCONT, SIGTSTP, SIGTTIN, SIGTTOU, SIGURG, SIGWINCH};

}  // namespace

TEST(OutputFile, CommitRenamesDiscardLeavesNothing) {
  ScratchDir dir;
  const std::string path = dir.file("out.txt");
  {
    OutputFile f(path);
    ASSERT_TRUE(f.ok());
    std::fputs("first", f.stream());
    // Until the commit, only the temporary file exists.
    const std::vector<std::string> during = entries(dir.file(""));
    ASSERT_EQ(during.size(), 1u);
    EXPECT_EQ(during[0].rfind(".velmora-", 0), 0u) << during[0];
    EXPECT_TRUE(f.commit());
  }
  EXPECT_EQ(ScratchDir::read(path), "first");
  EXPECT_EQ(entries(dir.file("")), std::vector<std::string>{"out.txt"});
  {
    OutputFile f(path);
    std::fputs("second, never committed", f.stream());
  }  // abandoned: removed
  {
    OutputFile f(path);
    std::fputs("third, discarded", f.stream());
    f.discard();
    EXPECT_FALSE(f.commit());
  }
  EXPECT_EQ(ScratchDir::read(path), "first");
  EXPECT_EQ(entries(dir.file("")), std::vector<std::string>{"out.txt"});
}

TEST(OutputFile, PermissionBits) {
  ScratchDir dir;
  const mode_t old = ::umask(022);
  {
    OutputFile f(dir.file("new.txt"));
    ASSERT_TRUE(f.commit());
    OutputFile g(dir.file("field.vec"), 0644);
    ASSERT_TRUE(g.commit());
  }
  EXPECT_EQ(permissions(dir.file("new.txt")), 0644u);
  EXPECT_EQ(permissions(dir.file("field.vec")), 0644u);
  // A replaced file keeps its bits.
  ::chmod(dir.file("new.txt").c_str(), 0640);
  {
    OutputFile f(dir.file("new.txt"));
    ASSERT_TRUE(f.commit());
  }
  EXPECT_EQ(permissions(dir.file("new.txt")), 0640u);
  ::umask(old);
}

TEST(OutputFile, LinksAndDevices) {
  ScratchDir dir;
  fs::create_directories(dir.file("real"));
  dir.write("real/target.txt", "old");
  fs::create_symlink(dir.file("real/target.txt"), dir.file("link.txt"));
  {
    OutputFile f(dir.file("link.txt"));
    std::fputs("new", f.stream());
    ASSERT_TRUE(f.commit());
  }
  // The link stays a link; its target holds the new contents.
  EXPECT_TRUE(fs::is_symlink(dir.file("link.txt")));
  EXPECT_EQ(ScratchDir::read(dir.file("real/target.txt")), "new");
  EXPECT_EQ(entries(dir.file("")), (std::vector<std::string>{"link.txt", "real"}));
  // A device is written to, never replaced.
  {
    OutputFile f("/dev/null");
    ASSERT_TRUE(f.ok());
    std::fputs("gone", f.stream());
    EXPECT_TRUE(f.commit());
  }
  struct stat st;
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  if (::access("/dev/full", W_OK) == 0) {
    OutputFile f("/dev/full");
    ASSERT_TRUE(f.ok());
    std::fputs("no room", f.stream());
    EXPECT_FALSE(f.commit());
    ASSERT_EQ(::stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
  }
  // A folder, or a file in a missing folder, cannot be created.
  EXPECT_FALSE(OutputFile(dir.file("real")).ok());
  EXPECT_FALSE(OutputFile(dir.file("none/x.txt")).ok());
  EXPECT_EQ(check_folder_writable(dir.file("x.txt")), "");
  EXPECT_EQ(check_folder_writable(dir.file("none/x.txt")), "No such file or directory");
}

TEST(OutputFile, FolderOf) {
  EXPECT_EQ(folder_of("out/run_UV_HS.motion"), "out/");
  EXPECT_EQ(folder_of("UV_HS.motion"), "");
  EXPECT_EQ(folder_of("/UV_HS.motion"), "/");
  EXPECT_EQ(folder_of("a/b/"), "a/b/");
}

// Each writer stopped part-way by the file-size limit, with SIGXFSZ ignored
// (the failure is reported) or left to its default (the process is killed
// by SIGXFSZ, as it would be without a temporary file): either way the
// earlier complete file stays as it was and no temporary file is left
// behind. The children write into this folder.
TEST(OutputFileDeathTest, WritersStoppedPartWay) {
  GTEST_FLAG_SET(death_test_style, "fast");
  ScratchDir dir;
  const int W = 200, H = 100;  // every file below is larger than 8 KiB
  std::vector<float> U(W * H, 1.25f), V(W * H, -0.5f);
  CImg<double> weights(W, H, 1, 1, 0.5);
  const std::string motion = dir.file("UV_HS.motion"), motion5 = dir.file("five.motion"),
                    field = dir.file("f.vec"), pgm = dir.file("w.pgm");
  for (const std::string& p : {motion, motion5, field, pgm})
    dir.write(p.substr(p.rfind('/') + 1), "earlier complete file");

  struct Writer {
    std::string path;
    std::function<void()> write;
    const char* report;  // what the failed write says
  };
  const Writer writers[] = {
      {motion, [&] { dup2(2, 1), write_champ(U.data(), V.data(), W, H, motion.c_str()); },
       "Can't write .*UV_HS.motion !"},
      {motion5,
       [&] { dup2(2, 1), write_champ_im(U.data(), V.data(), U.data(), W, H, motion5.c_str()); },
       "Can't write .*five.motion !"},
      {pgm, [&] { write_pgm255(weights, const_cast<char*>(pgm.c_str()), 0.0f, 1.0f); },
       "cannot write the PGM file .*w.pgm.*File too large"},
      {field,
       [&] {
         short error = -1;
         std::vector<float> big(300 * 300, 0.5f);
         write_field(field.c_str(), big.data(), big.data(), 300, 300, &error);
         std::exit(error == 1 ? 1 : 3);
       },
       "fichier vecteurs"},
  };
  for (const Writer& w : writers) {
    SCOPED_TRACE(w.path);
    EXPECT_EXIT((limit_file_size(true), w.write()), ::testing::ExitedWithCode(1), w.report);
    EXPECT_EQ(ScratchDir::read(w.path), "earlier complete file");
    EXPECT_EXIT((limit_file_size(false), w.write(), std::exit(4)),
                ::testing::KilledBySignal(SIGXFSZ), "");
    EXPECT_EQ(ScratchDir::read(w.path), "earlier complete file");
  }
  EXPECT_EQ(entries(dir.file("")),
            (std::vector<std::string>{"UV_HS.motion", "f.vec", "five.motion", "w.pgm"}));

  // Without the limit the same writes succeed.
  write_pgm255(weights, const_cast<char*>(pgm.c_str()), 0.0f, 1.0f);
  EXPECT_EQ(ScratchDir::read(pgm).size(), std::string("P5\n200 100\n255\n").size() + W * H);
}

namespace {

// The current handler of sig.
void (*disposition(int sig))(int) {
  struct sigaction now;
  ::sigaction(sig, nullptr, &now);
  return now.sa_handler;
}

extern "C" void someone_elses_handler(int) {}
extern "C" void someone_elses_siginfo_handler(int, siginfo_t*, void*) {}

// Whether sig is handled by someone_elses_siginfo_handler (as a sanitizer
// handles SIGSEGV: with SA_SIGINFO).
bool siginfo_handler_in_charge(int sig) {
  struct sigaction now;
  ::sigaction(sig, nullptr, &now);
  return (now.sa_flags & SA_SIGINFO) && now.sa_sigaction == someone_elses_siginfo_handler;
}

// The longest file name the folder takes.
std::size_t name_max(const std::string& folder) {
  const long n = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  return n > 0 ? static_cast<std::size_t>(n) : NAME_MAX;
}

}  // namespace

// A signal that ends the process, raised while an output is being written:
// the temporary file is removed, the earlier complete file keeps its
// contents, and the program ends by that signal. Two writers at once lose
// both files.
TEST(OutputFileDeathTest, SignalWhileWritingRemovesTheTemporaryFile) {
  GTEST_FLAG_SET(death_test_style, "fast");  // the child writes into this folder
  ScratchDir dir;
  dir.write("UV_HS.motion", "earlier complete file");
  const std::string big(1 << 20, 'x');
  struct Case {
    int sig;
    bool nested;
  };
  for (const Case c : {Case{SIGTERM, false}, Case{SIGINT, false}, Case{SIGHUP, false},
                       Case{SIGTERM, true}, Case{SIGHUP, true}, Case{SIGQUIT, true},
                       Case{SIGUSR1, false}, Case{SIGRTMIN, true}, Case{SIGRTMAX, false}}) {
    SCOPED_TRACE(c.sig);
    EXPECT_EXIT(
        {
          no_core_dump();
          ::signal(c.sig, SIG_DFL);
          OutputFile f(dir.file("UV_HS.motion"));
          OutputFile g(dir.file(c.nested ? "second.pgm" : "unused"));
          if (!c.nested) g.discard();
          std::fwrite(big.data(), 1, big.size(), f.stream());
          std::fwrite(big.data(), 1, big.size(), g.ok() ? g.stream() : f.stream());
          if (entries(dir.file("")).size() != (c.nested ? 3u : 2u)) std::exit(3);
          std::raise(c.sig);  // half-way through the writes
          std::fwrite(big.data(), 1, big.size(), f.stream());
          f.commit();
          std::exit(4);
        },
        ::testing::KilledBySignal(c.sig), "");
    EXPECT_EQ(entries(dir.file("")), std::vector<std::string>{"UV_HS.motion"});
    EXPECT_EQ(ScratchDir::read(dir.file("UV_HS.motion")), "earlier complete file");
  }
  // Through a writer of the program: a signal once the file is complete
  // finds the default disposition again and ends the process by the signal.
  EXPECT_EXIT(
      {
        std::vector<float> U(64, 0.5f);
        write_champ(U.data(), U.data(), 8, 8, dir.file("UV_HS.motion").c_str());
        std::raise(SIGTERM);
        std::exit(4);
      },
      ::testing::KilledBySignal(SIGTERM), "");
  EXPECT_EQ(entries(dir.file("")), std::vector<std::string>{"UV_HS.motion"});
  EXPECT_EQ(ScratchDir::read(dir.file("UV_HS.motion")).substr(0, 4), "8 8\n");
}

namespace {

// Faults of the writing thread itself, each of which raises its signal
// synchronously (the instruction that faulted would run again if the
// handler returned).
void write_to_a_page_without_access() {
  void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (page != MAP_FAILED) *static_cast<volatile char*>(page) = 1;  // SIGSEGV
}
void read_past_the_end_of_a_mapped_file() {
  const int fd = ::memfd_create("empty", 0);
  void* page = ::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
  if (page != MAP_FAILED) (void)*static_cast<volatile const char*>(page);  // SIGBUS
}
void execute_a_trap() { __builtin_trap(); }  // SIGILL
void abort_the_run() { std::abort(); }     // SIGABRT, as a failed assertion
void write_to_a_pipe_without_reader() {    // SIGPIPE
  int p[2];
  if (::pipe(p) != 0) return;
  ::close(p[0]);
  (void)!::write(p[1], "x", 1);
}

}  // namespace

// Ended by a signal while it writes an output, sent from outside (every
// signal whose default action ends the process) or raised by the writing
// thread itself (a fault, an abort, a pipe without reader), a process is
// seen by its parent as ended by that very signal (a calling shell loop
// stops, as it would for a process without a temporary file), and it
// leaves neither the temporary file, nor a partial output, nor a core file
// in its folder.
TEST(OutputFile, KilledWhileWritingIsSeenAsSignalled) {
  ScratchDir dir;
  struct Case {
    int sig;
    void (*cause)();  // null: the parent sends sig
  };
  std::vector<Case> cases;
  for (const int sig : ending_signals()) cases.push_back({sig, nullptr});
  for (const Case c : {Case{SIGSEGV, write_to_a_page_without_access},
                       Case{SIGBUS, read_past_the_end_of_a_mapped_file},
                       Case{SIGILL, execute_a_trap}, Case{SIGABRT, abort_the_run},
                       Case{SIGPIPE, write_to_a_pipe_without_reader}})
    cases.push_back(c);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.sig) + (c.cause ? " raised by the writer" : " sent"));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(ready[0]);
      if (::chdir(dir.file("").c_str()) != 0) ::_exit(3);  // where a core file would go
      no_core_dump();
      ::signal(c.sig, SIG_DFL);  // a sanitizer's handler of SIGSEGV, SIGBUS, SIGFPE too
      sigset_t none;
      sigemptyset(&none);
      ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
      OutputFile f(dir.file("UV_HS.motion"));
      if (!f.ok()) ::_exit(3);
      std::fputs("half of the contents", f.stream());
      std::fflush(f.stream());
      if (::write(ready[1], "w", 1) != 1) ::_exit(3);
      if (c.cause) {
        if (entries(dir.file("")).size() != 1u) ::_exit(3);  // the temporary file only
        c.cause();
        ::_exit(4);  // the fault did not end the process
      }
      for (;;) ::pause();  // the signal comes here, with the file half written
    }
    ::close(ready[1]);
    char byte = 0;
    const bool writing = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    EXPECT_TRUE(writing);
    if (!c.cause) {
      if (writing) {
        EXPECT_EQ(entries(dir.file("")).size(), 1u);  // the temporary file
      }
      ::kill(child, c.sig);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status)) << "status " << status;
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(WTERMSIG(status), c.sig);
    }
    EXPECT_EQ(entries(dir.file("")), std::vector<std::string>{});
  }
}

// The handler takes over only from the default disposition, while a
// temporary file exists, and only for the signals that end the process: an
// ignored signal stays ignored, another handler stays in charge, a signal
// that does not end the process keeps its default, and each is back once
// the file is committed.
TEST(OutputFile, SignalHandlerOnlyOverTheDefault) {
  ScratchDir dir;
  std::vector<int> all = ending_signals();
  all.insert(all.end(), std::begin(kOtherSignals), std::end(kOtherSignals));
  struct Saved {  // the test process's own dispositions, put back at the end
    std::vector<int> sigs;
    std::vector<struct sigaction> actions;
    explicit Saved(const std::vector<int>& s) : sigs(s), actions(s.size()) {
      for (std::size_t i = 0; i < sigs.size(); ++i) ::sigaction(sigs[i], nullptr, &actions[i]);
    }
    ~Saved() {
      for (std::size_t i = 0; i < sigs.size(); ++i) ::sigaction(sigs[i], &actions[i], nullptr);
    }
  } saved(all);
  const std::vector<int> ignored = {SIGINT, SIGHUP, SIGPIPE, SIGXFSZ};
  const std::vector<int> elsewhere = {SIGTERM, SIGUSR1};
  const auto in = [](const std::vector<int>& set, int sig) {
    return std::find(set.begin(), set.end(), sig) != set.end();
  };
  // What sig's disposition is before and after the file: ignored, someone
  // else's handler or the default.
  const auto set_before = [&](int sig) {
    return in(ignored, sig) ? SIG_IGN : in(elsewhere, sig) ? someone_elses_handler : SIG_DFL;
  };
  for (const int sig : all) ::signal(sig, set_before(sig));
  struct sigaction siginfo_handler;
  std::memset(&siginfo_handler, 0, sizeof siginfo_handler);
  siginfo_handler.sa_sigaction = someone_elses_siginfo_handler;
  siginfo_handler.sa_flags = SA_SIGINFO;
  sigemptyset(&siginfo_handler.sa_mask);
  ::sigaction(SIGSEGV, &siginfo_handler, nullptr);
  {
    OutputFile f(dir.file("a.txt"));
    ASSERT_TRUE(f.ok());
    EXPECT_TRUE(siginfo_handler_in_charge(SIGSEGV));
    for (const int sig : ending_signals()) {
      SCOPED_TRACE(sig);
      if (sig == SIGSEGV) continue;
      if (set_before(sig) != SIG_DFL) {
        EXPECT_EQ(disposition(sig), set_before(sig));
      } else {
        EXPECT_NE(disposition(sig), SIG_DFL);
        EXPECT_NE(disposition(sig), SIG_IGN);
        EXPECT_NE(disposition(sig), someone_elses_handler);
      }
    }
    for (const int sig : kOtherSignals) EXPECT_EQ(disposition(sig), SIG_DFL) << sig;
    for (const int sig : {SIGINT, SIGHUP, SIGPIPE, SIGXFSZ, SIGUSR1})
      std::raise(sig);  // ignored, or someone else's handler: the write goes on
    EXPECT_TRUE(f.commit());
  }
  EXPECT_EQ(ScratchDir::read(dir.file("a.txt")), "");
  EXPECT_TRUE(siginfo_handler_in_charge(SIGSEGV));
  for (const int sig : all) {
    if (sig != SIGSEGV) {
      EXPECT_EQ(disposition(sig), set_before(sig)) << sig;
    }
  }
  for (const int sig : all) ::signal(sig, SIG_DFL);
  {
    OutputFile f(dir.file("b.txt"));
    for (const int sig : ending_signals()) EXPECT_NE(disposition(sig), SIG_DFL) << sig;
    {
      OutputFile g(dir.file("c.txt"));
      EXPECT_TRUE(g.commit());
    }
    for (const int sig : ending_signals())  // f's file still exists
      EXPECT_NE(disposition(sig), SIG_DFL) << sig;
    EXPECT_TRUE(f.commit());
  }
  for (const int sig : all) EXPECT_EQ(disposition(sig), SIG_DFL) << sig;
  {
    OutputFile bad(dir.file("none/x.txt"));  // no temporary file: nothing installed
    EXPECT_FALSE(bad.ok());
    EXPECT_EQ(disposition(SIGTERM), SIG_DFL);
  }
}

// A thread started under SignalsHeld (a window's event thread) keeps every
// signal that ends the process blocked, and only those, so that one sent
// to the process reaches the thread that writes; the holder's own mask is
// back once it ends.
TEST(OutputFile, SignalsHeldInAThreadStartedMeanwhile) {
  sigset_t before, after, in_thread;
  ::pthread_sigmask(SIG_SETMASK, nullptr, &before);
  {
    const SignalsHeld held;
    std::thread([&] { ::pthread_sigmask(SIG_SETMASK, nullptr, &in_thread); }).join();
  }
  ::pthread_sigmask(SIG_SETMASK, nullptr, &after);
  for (const int sig : ending_signals()) {
    EXPECT_EQ(sigismember(&in_thread, sig), 1) << sig;
    EXPECT_EQ(sigismember(&after, sig), sigismember(&before, sig)) << sig;
  }
  for (const int sig : kOtherSignals)
    EXPECT_EQ(sigismember(&in_thread, sig), sigismember(&before, sig)) << sig;
  for (const int sig : {SIGKILL, SIGSTOP}) EXPECT_EQ(sigismember(&in_thread, sig), 0) << sig;
}

// Name limits, read without creating anything: the last component against
// the folder's NAME_MAX, the whole path against PATH_MAX, and a folder in
// place of the file.
TEST(OutputFile, FileNameCheck) {
  ScratchDir dir;
  const std::size_t limit = name_max(dir.file(""));
  fs::create_directories(dir.file("sub"));
  struct Case {
    const char* what;
    std::string path;
    std::string reason;  // "" when the name is fine
  };
  const Case cases[] = {
      {"short name", dir.file("UV_HS.motion"), ""},
      {"name of NAME_MAX bytes", dir.file(std::string(limit, 'n')), ""},
      {"name one byte too long", dir.file(std::string(limit + 1, 'n')),
       "File name too long (a name of " + std::to_string(limit + 1) +
           " bytes; the folder takes names of at most " + std::to_string(limit) + ")"},
      {"bare name in the current folder", std::string(name_max(".") + 1, 'n'), "File name too long"},
      {"path of PATH_MAX bytes", dir.file("") + std::string(PATH_MAX - dir.file("").size(), 'p'),
       "File name too long (a path of " + std::to_string(PATH_MAX) + " bytes"},
      {"existing folder", dir.file("sub"), "Is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string reason = check_file_name(c.path);
    if (c.reason.empty())
      EXPECT_EQ(reason, "");
    else
      EXPECT_EQ(reason.substr(0, c.reason.size()), c.reason) << reason;
  }
  EXPECT_EQ(entries(dir.file("")), std::vector<std::string>{"sub"});
}

// A prefix whose last component fits with the motion file's 12-byte suffix
// but not with the 16 bytes of the weight images: refused up front, naming
// the first weight image; nothing is created and an earlier output stays.
TEST(Outputs, EveryOutputNameCheckedUpFront) {
  ScratchDir dir;
  const std::size_t limit = name_max(dir.file(""));
  const std::string fits = dir.file(std::string(limit - 16, 'r'));
  const std::string too_long = dir.file(std::string(limit - 14, 'r'));
  dir.write(std::string(limit - 14, 'r') + "UV_HS.motion", "earlier run");
  EXPECT_EQ(check_output_folder(fits.c_str()), "");
  EXPECT_EQ(check_output_folder(too_long.c_str()),
            "Can't create the output file \"" + too_long +
                "UV_HSDataOut.pgm\": File name too long (a name of " + std::to_string(limit + 2) +
                " bytes; the folder takes names of at most " + std::to_string(limit) + ")");
  fs::create_directories(fits + "UV_HSRegOutY.pgm");
  EXPECT_EQ(check_output_folder(fits.c_str()),
            "Can't create the output file \"" + fits + "UV_HSRegOutY.pgm\": Is a directory");
  EXPECT_EQ(entries(dir.file("")),
            (std::vector<std::string>{std::string(limit - 16, 'r') + "UV_HSRegOutY.pgm",
                                      std::string(limit - 14, 'r') + "UV_HS.motion"}));
  EXPECT_EQ(ScratchDir::read(too_long + "UV_HS.motion"), "earlier run");
}

// The program refuses such a prefix before computing: exit status 1, the
// message on standard error, the earlier motion file untouched, no output.
TEST(Outputs, ProgramRefusesATooLongOutputNameBeforeComputing) {
  velmora_test::ScratchDir dir("outputs_name_length");
  const std::string folder = dir.path().string();
  const std::size_t limit = name_max(folder);
  const std::string leaf(limit - 14, 'r');
  velmora_test::Grey g{16, 16, std::vector<double>(256)};
  for (int k = 0; k < 256; ++k) g.v[k] = (k * 37) % 256;
  velmora_test::write_pgm(dir / "a.pgm", g, 255);
  velmora_test::write_pgm(dir / "b.pgm", g, 255);
  velmora_test::write_list(dir / "list", dir / "a.pgm", dir / "b.pgm", dir / leaf);
  velmora_test::write_text(dir / (leaf + "UV_HS.motion"), "earlier run");
  const velmora_test::RunResult r = velmora_test::run_program(
      folder, {"-inPath", dir / "list", "-dx", "16", "-dy", "16", "-Dx", "16", "-Dy", "16"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Can't create the output file \"" + dir / leaf +
                       "UV_HSDataOut.pgm\": File name too long"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.out.find("****"), std::string::npos) << r.out;  // no level started
  EXPECT_EQ(velmora_test::read_text(dir / (leaf + "UV_HS.motion")), "earlier run");
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    EXPECT_TRUE(name == "a.pgm" || name == "b.pgm" || name == "list" ||
                name == leaf + "UV_HS.motion" || name.rfind("velmora.", 0) == 0)
        << name;
  }
}
