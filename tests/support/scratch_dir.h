// A fresh directory under the test framework's temporary folder, removed
// with everything in it when the object goes out of scope. A death test's
// child process ends by exit() without running destructors: it calls
// remove_at_exit() inside the death statement so that its copy is removed too.
#ifndef VELMORA_TESTS_SCRATCH_DIR_H
#define VELMORA_TESTS_SCRATCH_DIR_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = ::testing::TempDir() + "velmora-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) ADD_FAILURE() << "cannot create a directory from " << pattern;
    path_ = name.data();
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // Removes the directory when the process ends through exit().
  void remove_at_exit() const {
    static std::vector<std::string> pending;
    static const bool registered = [] {
      std::atexit([] {
        std::error_code ignored;
        for (const std::string& p : pending) std::filesystem::remove_all(p, ignored);
      });
      return true;
    }();
    (void)registered;
    pending.push_back(path_);
  }

  // Path of the file called name inside the directory.
  std::string file(const std::string& name) const { return path_ + "/" + name; }

  // Writes bytes to the file called name; returns its path.
  std::string write(const std::string& name, const std::string& bytes) const {
    const std::string p = file(name);
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
  }

  // The whole content of a file.
  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::string path_;
};

#endif
