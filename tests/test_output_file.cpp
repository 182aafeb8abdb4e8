// Output files written whole or not at all: the temporary file and its
// rename, the permission bits, links and devices, and every output writer
// under a write that fails part-way (the file-size limit of the process).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "CImg.h"
#include "image_utils.h"
#include "io_field.h"
#include "output_file.h"
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
