// Output files written whole or not at all: the temporary file and its
// rename, the permission bits, links and devices, every output writer
// under a write that fails part-way (the file-size limit of the process),
// the temporary file removed by SIGINT, SIGTERM and SIGHUP (the process
// then ends by the signal), and the up-front check of the output names
// against the system's name-length limits.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
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

// Limits the files this process writes to 8 KiB; a write past the limit
// then fails with an error (its signal is ignored) instead of ending the
// process. Used inside death statements only.
void limit_file_size() {
  ::signal(SIGXFSZ, SIG_IGN);
  const struct rlimit limit = {8192, 8192};
  ::setrlimit(RLIMIT_FSIZE, &limit);
}

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

// Each writer stopped part-way by the file-size limit: the failure is
// reported, the earlier complete file stays as it was and no temporary
// file is left behind.
TEST(OutputFileDeathTest, WritersStoppedPartWay) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ScratchDir dir;
  const int W = 200, H = 100;  // every file below is larger than 8 KiB
  std::vector<float> U(W * H, 1.25f), V(W * H, -0.5f);
  CImg<double> weights(W, H, 1, 1, 0.5);
  const std::string motion = dir.file("UV_HS.motion"), motion5 = dir.file("five.motion"),
                    field = dir.file("f.vec"), pgm = dir.file("w.pgm");
  for (const std::string& p : {motion, motion5, field, pgm})
    dir.write(p.substr(p.rfind('/') + 1), "earlier complete file");

  EXPECT_EXIT((dir.remove_at_exit(), dup2(2, 1), limit_file_size(),
               write_champ(U.data(), V.data(), W, H, motion.c_str())),
              ::testing::ExitedWithCode(1), "Can't write .*UV_HS.motion !");
  EXPECT_EXIT((dir.remove_at_exit(), dup2(2, 1), limit_file_size(),
               write_champ_im(U.data(), V.data(), U.data(), W, H, motion5.c_str())),
              ::testing::ExitedWithCode(1), "Can't write .*five.motion !");
  EXPECT_EXIT((dir.remove_at_exit(), limit_file_size(),
               write_pgm255(weights, const_cast<char*>(pgm.c_str()), 0.0f, 1.0f)),
              ::testing::ExitedWithCode(1), "cannot write the PGM file .*w.pgm.*File too large");
  EXPECT_EXIT(
      {
        dir.remove_at_exit();
        limit_file_size();
        short error = -1;
        std::vector<float> big(300 * 300, 0.5f);
        write_field(field.c_str(), big.data(), big.data(), 300, 300, &error);
        std::exit(error == 1 ? 1 : 3);
      },
      ::testing::ExitedWithCode(1), "fichier vecteurs");
  for (const std::string& p : {motion, motion5, field, pgm})
    EXPECT_EQ(ScratchDir::read(p), "earlier complete file") << p;
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

// The longest file name the folder takes.
std::size_t name_max(const std::string& folder) {
  const long n = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  return n > 0 ? static_cast<std::size_t>(n) : NAME_MAX;
}

}  // namespace

// SIGINT, SIGTERM or SIGHUP while an output is being written: the
// temporary file is removed, the earlier complete file keeps its contents,
// and the program ends by that signal. Two writers at once lose both files.
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
                       Case{SIGTERM, true}, Case{SIGHUP, true}}) {
    SCOPED_TRACE(c.sig);
    EXPECT_EXIT(
        {
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

// Killed from outside while it writes an output, a process is seen by its
// parent as ended by that very signal (a calling shell loop stops, as it
// would for a process without a temporary file), and it leaves neither the
// temporary file nor a partial output behind.
TEST(OutputFile, KilledWhileWritingIsSeenAsSignalled) {
  ScratchDir dir;
  for (const int sig : {SIGINT, SIGHUP, SIGTERM}) {
    SCOPED_TRACE(sig);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(ready[0]);
      ::signal(sig, SIG_DFL);
      OutputFile f(dir.file("UV_HS.motion"));
      if (!f.ok()) ::_exit(3);
      std::fputs("half of the contents", f.stream());
      std::fflush(f.stream());
      if (::write(ready[1], "w", 1) != 1) ::_exit(3);
      for (;;) ::pause();  // the signal comes here, with the file half written
    }
    ::close(ready[1]);
    char byte = 0;
    const bool writing = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    EXPECT_TRUE(writing);
    if (writing) {
      EXPECT_EQ(entries(dir.file("")).size(), 1u);  // the temporary file
    }
    ::kill(child, sig);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status)) << "status " << status;
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(WTERMSIG(status), sig);
    }
    EXPECT_EQ(entries(dir.file("")), std::vector<std::string>{});
  }
}

// The handler takes over only from the default disposition, while a
// temporary file exists: an ignored signal stays ignored, another handler
// stays in charge, and each is back once the file is committed.
TEST(OutputFile, SignalHandlerOnlyOverTheDefault) {
  ScratchDir dir;
  struct sigaction saved_int, saved_term, saved_hup;
  ::sigaction(SIGINT, nullptr, &saved_int);
  ::sigaction(SIGTERM, nullptr, &saved_term);
  ::sigaction(SIGHUP, nullptr, &saved_hup);
  ::signal(SIGINT, SIG_IGN);
  ::signal(SIGHUP, SIG_IGN);
  ::signal(SIGTERM, someone_elses_handler);
  {
    OutputFile f(dir.file("a.txt"));
    ASSERT_TRUE(f.ok());
    EXPECT_EQ(disposition(SIGINT), SIG_IGN);
    EXPECT_EQ(disposition(SIGHUP), SIG_IGN);
    EXPECT_EQ(disposition(SIGTERM), someone_elses_handler);
    std::raise(SIGINT);  // ignored: the write goes on
    std::raise(SIGHUP);
    EXPECT_TRUE(f.commit());
  }
  EXPECT_EQ(ScratchDir::read(dir.file("a.txt")), "");
  EXPECT_EQ(disposition(SIGHUP), SIG_IGN);
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
  ::signal(SIGHUP, SIG_DFL);
  {
    OutputFile f(dir.file("b.txt"));
    EXPECT_NE(disposition(SIGINT), SIG_DFL);
    EXPECT_NE(disposition(SIGTERM), SIG_DFL);
    EXPECT_NE(disposition(SIGHUP), SIG_DFL);
    {
      OutputFile g(dir.file("c.txt"));
      EXPECT_TRUE(g.commit());
    }
    EXPECT_NE(disposition(SIGTERM), SIG_DFL);  // f's file still exists
    EXPECT_TRUE(f.commit());
  }
  EXPECT_EQ(disposition(SIGINT), SIG_DFL);
  EXPECT_EQ(disposition(SIGTERM), SIG_DFL);
  EXPECT_EQ(disposition(SIGHUP), SIG_DFL);
  {
    OutputFile bad(dir.file("none/x.txt"));  // no temporary file: nothing installed
    EXPECT_FALSE(bad.ok());
    EXPECT_EQ(disposition(SIGTERM), SIG_DFL);
  }
  ::sigaction(SIGINT, &saved_int, nullptr);
  ::sigaction(SIGTERM, &saved_term, nullptr);
  ::sigaction(SIGHUP, &saved_hup, nullptr);
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
