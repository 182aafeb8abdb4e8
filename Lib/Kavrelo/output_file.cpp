#include "output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The process's file-creation mask (read by setting it and putting it back).
mode_t creation_mask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

}  // namespace

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string check_folder_writable(const std::string& path) {
  const std::string pattern = folder_of(path) + ".velmora-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  ::unlink(name.data());
  return "";
}

OutputFile::OutputFile(const std::string& path, mode_t mode) : path_(path) {
  mode &= ~creation_mask();
  struct stat target;
  if (::stat(path.c_str(), &target) == 0) {
    if (!S_ISREG(target.st_mode)) {
      stream_ = std::fopen(path.c_str(), "wb");  // a device or a pipe (a folder fails)
      return;
    }
    struct stat link;
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      char* resolved = ::realpath(path.c_str(), nullptr);
      if (!resolved) return;
      path_ = resolved;
      std::free(resolved);
    }
    mode = target.st_mode & 07777;  // a replaced file keeps its permissions
  }
  const std::string pattern = folder_of(path_) + ".velmora-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return;
  temp_ = name.data();
  if (::fchmod(fd, mode) != 0 || !(stream_ = ::fdopen(fd, "wb"))) {
    const int error = errno;
    ::close(fd);
    ::unlink(temp_.c_str());
    temp_.clear();
    errno = error;
  }
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() {
  if (stream_) std::fclose(stream_);
  stream_ = nullptr;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

bool OutputFile::commit() {
  if (!stream_) return false;
  bool written = std::ferror(stream_) == 0 && std::fflush(stream_) == 0;
  int error = errno;
  if (temp_.empty()) {  // a device or a pipe
    if (std::fclose(stream_) != 0 && written) written = false, error = errno;
    stream_ = nullptr;
    errno = written ? 0 : (error ? error : EIO);
    return written;
  }
  if (written && ::fsync(::fileno(stream_)) != 0) written = false, error = errno;
  if (std::fclose(stream_) != 0 && written) written = false, error = errno;
  stream_ = nullptr;
  if (written && std::rename(temp_.c_str(), path_.c_str()) != 0) written = false, error = errno;
  if (!written) {
    ::unlink(temp_.c_str());
    if (error == 0) error = EIO;
  }
  temp_.clear();
  errno = error;
  return written;
}
