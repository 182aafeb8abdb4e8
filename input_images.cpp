#include "input_images.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "invalid_marker.h"
#include "refusal.h"

using cimg_library::CImg;

namespace {

std::string about(const std::string& path, const std::string& text) {
  return "The image " + path + " " + text;
}

// The PNM type of a file (1 to 6 for the magic numbers P1 to P6), 0 for a
// file that cannot be read or is no PNM file.
int pnm_type(const char* path) {
  std::ifstream in(path, std::ios::binary);
  char magic[2] = {0, 0};
  if (!in.read(magic, 2) || magic[0] != 'P' || magic[1] < '1' || magic[1] > '6') return 0;
  return magic[1] - '0';
}

// Reads one white-space separated token, skipping comments (from '#' to the
// line end). The one white-space byte that ends the token is consumed.
// Returns false at the end of the file.
bool pnm_token(std::istream& in, std::string& token) {
  token.clear();
  int c;
  while ((c = in.get()) != EOF) {
    if (c == '#') {
      while ((c = in.get()) != EOF && c != '\n') {
      }
      if (!token.empty()) return true;
      continue;
    }
    if (std::isspace(c)) {
      if (!token.empty()) return true;
      continue;
    }
    token.push_back(static_cast<char>(c));
  }
  return !token.empty();
}

// A decimal count made of digits only; values above `cap` read as cap + 1.
bool parse_count(const std::string& text, unsigned long cap, unsigned long& value) {
  if (text.empty()) return false;
  value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return false;
    value = value * 10 + static_cast<unsigned long>(ch - '0');
    if (value > cap) value = cap + 1;
  }
  return true;
}

std::string above_maximum(const std::string& path, unsigned long v, unsigned long maxval) {
  return about(path, "has a sample of " +
                         (v > 65535 ? std::string("more than 65535") : std::to_string(v)) +
                         ", above the maximum value " + std::to_string(maxval) + " of its header.");
}

// Bytes from the current position to the end of the file (0 when the
// stream has failed).
unsigned long long bytes_left(std::istream& in) {
  if (!in) return 0;
  const std::streampos start = in.tellg();
  in.seekg(0, std::ios::end);
  const std::streampos end = in.tellg();
  in.seekg(start);
  return start < 0 || end < start ? 0 : static_cast<unsigned long long>(end - start);
}

// Raster of a binary file: W x H x channels samples of one byte (maximum
// value below 256) or two (most significant first), or a packed bitmap.
// grey receives channel 0.
std::string read_binary_raster(std::istream& in, const std::string& path, int type, unsigned long W,
                               unsigned long H, unsigned long channels, unsigned long maxval,
                               std::vector<std::uint16_t>& grey) {
  const unsigned long long count = static_cast<unsigned long long>(W) * H * channels;
  const unsigned bytes = maxval < 256 ? 1 : 2;
  const unsigned long long row = (W + 7) / 8;
  const unsigned long long needed = type == 4 ? row * H : count * bytes;
  const unsigned long long present = bytes_left(in);
  if (present < needed)
    return about(path, "holds less data than its header announces (" + std::to_string(present) +
                           " of " + std::to_string(needed) + " bytes).");
  std::vector<unsigned char> raw(needed);
  if (needed > 0 &&
      !in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(needed)))
    return about(path, "could not be read.");
  grey.assign(static_cast<std::size_t>(W) * H, 0);
  if (type == 4) {
    for (unsigned long y = 0; y < H; ++y)
      for (unsigned long x = 0; x < W; ++x)
        grey[y * W + x] = (raw[y * row + x / 8] >> (7 - x % 8)) & 1u;
    return "";
  }
  for (unsigned long long k = 0; k < count; ++k) {
    const unsigned long v =
        bytes == 1 ? raw[k] : (static_cast<unsigned long>(raw[2 * k]) << 8) | raw[2 * k + 1];
    if (v > maxval) return above_maximum(path, v, maxval);
    if (k % channels == 0) grey[k / channels] = static_cast<std::uint16_t>(v);
  }
  return "";
}

// Raster of a text file: W x H x channels decimal samples separated by
// white space (a bitmap's digits may also follow each other without any).
// grey receives channel 0.
std::string read_text_raster(std::istream& in, const std::string& path, int type, unsigned long W,
                             unsigned long H, unsigned long channels, unsigned long maxval,
                             std::vector<std::uint16_t>& grey) {
  const unsigned long long count = static_cast<unsigned long long>(W) * H * channels;
  // Before allocating: a text sample takes at least one byte and, but for a
  // bitmap's digits, one separator before the next one, so r bytes hold at
  // most (r + 1) / 2 samples (r for a bitmap).
  const unsigned long long left = bytes_left(in);
  const unsigned long long room = type == 1 ? left : (left + 1) / 2;
  if (room < count)
    return about(path, "holds less data than its header announces (" + std::to_string(left) +
                           " bytes after the header, room for at most " + std::to_string(room) +
                           " of " + std::to_string(count) + " samples).");
  grey.assign(static_cast<std::size_t>(W) * H, 0);
  std::string token;
  unsigned long long k = 0;
  for (; k < count; ++k) {
    unsigned long v = 0;
    if (type == 1) {
      int c = in.get();
      while (c != EOF && (std::isspace(c) || c == '#')) {
        if (c == '#')
          while ((c = in.get()) != EOF && c != '\n') {
          }
        c = in.get();
      }
      if (c == EOF) break;
      if (c != '0' && c != '1')
        return about(path, "has a sample that is not 0 or 1 (\"" +
                               std::string(1, static_cast<char>(c)) + "\").");
      v = static_cast<unsigned long>(c - '0');
    } else {
      if (!pnm_token(in, token)) break;
      if (!parse_count(token, 65535, v))
        return about(
            path, "has a sample that is not a decimal integer (\"" + token.substr(0, 20) + "\").");
      if (v > maxval) return above_maximum(path, v, maxval);
    }
    if (k % channels == 0) grey[k / channels] = static_cast<std::uint16_t>(v);
  }
  if (k < count)
    return about(path, "holds less data than its header announces (" + std::to_string(k) + " of " +
                           std::to_string(count) + " samples).");
  return "";
}

// Reads a PNM image from in (see read_pnm_grey); path names the image in
// the messages.
std::string read_pnm(std::istream& in, const std::string& path, CImg<double>& image) {
  char magic[2] = {0, 0};
  if (!in.read(magic, 2) || magic[0] != 'P' || magic[1] < '1' || magic[1] > '6')
    return about(path, "is not a PNM file.");
  const int type = magic[1] - '0';
  const bool bitmap = type == 1 || type == 4;
  const unsigned long channels = (type == 3 || type == 6) ? 3 : 1;
  const std::string bad = about(path, "has an unreadable PNM header.");
  std::string token;
  unsigned long W = 0, H = 0, maxval = 1;
  if (!pnm_token(in, token) || !parse_count(token, kMaxImageSide, W)) return bad;
  if (!pnm_token(in, token) || !parse_count(token, kMaxImageSide, H)) return bad;
  if (W > static_cast<unsigned long>(kMaxImageSide) ||
      H > static_cast<unsigned long>(kMaxImageSide))
    return "Refused: the image " + path + " is larger than " +
           std::to_string(kMaxImageSide) + " pixels per side; images are limited to " +
           std::to_string(kMaxImageSide) + " pixels per side.";
  if (!bitmap) {
    if (!pnm_token(in, token) || !parse_count(token, 65535, maxval)) return bad;
    if (maxval < 1 || maxval > 65535)
      return about(path, "has the maximum value " + token.substr(0, 20) +
                             " in its header (accepted: 1 to 65535).");
  }

  std::vector<std::uint16_t> grey;
  const std::string failed = type >= 4
                                 ? read_binary_raster(in, path, type, W, H, channels, maxval, grey)
                                 : read_text_raster(in, path, type, W, H, channels, maxval, grey);
  if (!failed.empty()) return failed;
  image.assign(static_cast<int>(W), static_cast<int>(H), 1, 1);
  for (std::size_t k = 0; k < grey.size(); ++k)
    image[k] = bitmap ? (grey[k] ? 0.0 : 255.0) : static_cast<double>(grey[k]);
  return "";
}

// The argument that names path to the converter: a relative name starts
// with "./", so that it cannot be read as an option ("-x.png"), a list
// file ("@x"), a command ("|x") or a format prefix ("png:x"). ImageMagick
// reads a name that exists as a file as it is, even when it ends with a
// frame or crop suffix ("x[0]") or holds wildcards.
std::string converter_argument(const char* path) {
  return path[0] == '/' ? std::string(path) : "./" + std::string(path);
}

// While it lives, SIGCHLD has its default disposition, so that a child can
// be waited for: a caller that ignores SIGCHLD (a disposition inherited
// through exec) or sets SA_NOCLDWAIT has its children reaped as they end,
// and waitpid fails with ECHILD. The caller's disposition comes back after.
class ChildrenWaitable {
 public:
  ChildrenWaitable() {
    struct sigaction current;
    if (::sigaction(SIGCHLD, nullptr, &current) != 0) return;
    const bool ignored = !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN;
    if (!ignored && !(current.sa_flags & SA_NOCLDWAIT)) return;
    struct sigaction waitable = current;
    waitable.sa_flags &= ~SA_NOCLDWAIT;
    if (ignored) waitable.sa_handler = SIG_DFL;
    if (::sigaction(SIGCHLD, &waitable, nullptr) == 0) {
      saved_ = current;
      changed_ = true;
    }
  }
  ~ChildrenWaitable() {
    if (changed_) ::sigaction(SIGCHLD, &saved_, nullptr);
  }
  ChildrenWaitable(const ChildrenWaitable&) = delete;
  ChildrenWaitable& operator=(const ChildrenWaitable&) = delete;

 private:
  struct sigaction saved_ = {};
  bool changed_ = false;
};

// Runs converter on path with an argument vector (no shell): the command
// the image library ran, "convert [-density 400x400] <file> pnm:-", with
// the density kept for PDF files. Its standard output, the image as PNM,
// is read into pnm; its standard input is /dev/null and its standard error
// is ours. The converter gets no descriptor of ours but 0 to 2, and is
// waited for whatever happens, also when the caller ignores SIGCHLD. "" when
// it exited with status 0, else a one-line message naming path.
std::string run_converter(const std::string& converter, const char* path, std::ostream& pnm) {
  std::vector<std::string> args = {converter};
  if (!cimg_library::cimg::strcasecmp(cimg_library::cimg::split_filename(path), "pdf")) {
    args.push_back("-density");
    args.push_back("400x400");
  }
  args.push_back(converter_argument(path));
  args.push_back("pnm:-");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  const std::string failed = about(path, "could not be converted: " + converter + " ");
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0)
    return failed + "could not be given a pipe (" + std::strerror(errno) + ").";
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
  // No signal blocked, and SIGPIPE and SIGCHLD at their defaults even if
  // they are ignored here (the converter may wait for programs of its own).
  posix_spawnattr_t attributes;
  ::posix_spawnattr_init(&attributes);
  sigset_t signals;
  sigemptyset(&signals);
  ::posix_spawnattr_setsigmask(&attributes, &signals);
  sigaddset(&signals, SIGPIPE);
  sigaddset(&signals, SIGCHLD);
  ::posix_spawnattr_setsigdefault(&attributes, &signals);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::cout.flush();  // our lines before whatever the converter prints
  std::fflush(stdout);
  const ChildrenWaitable waitable;
  pid_t pid = 0;
  const int spawned =
      ::posix_spawn(&pid, converter.c_str(), &actions, &attributes, argv.data(), environ);
  ::posix_spawnattr_destroy(&attributes);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (spawned != 0) {
    ::close(out[0]);
    return failed + "could not be started (" + std::strerror(spawned) + ").";
  }

  // We only read: a converter that ends early gives the end of the data.
  // When we stop early (a read error, no memory left for the data), the
  // converter meets a closed pipe and ends.
  int read_error = 0;
  std::vector<char> chunk(1 << 16);
  while (read_error == 0) {
    const ssize_t n = ::read(out[0], chunk.data(), chunk.size());
    if (n > 0) {
      if (!pnm.write(chunk.data(), n)) read_error = ENOMEM;
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      read_error = errno;
    }
  }
  ::close(out[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return failed + "could not be waited for (" + std::strerror(errno) + ").";
  if (read_error != 0)
    return failed + "gave output that could not be read (" + std::strerror(read_error) + ").";
  if (WIFSIGNALED(status))
    return failed + "was ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
           strsignal(WTERMSIG(status)) + ").";
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return failed + "exited with status " + std::to_string(WEXITSTATUS(status)) + ".";
  return "";
}

// An image of a format other than PNM, read through the converter on PATH.
CImg<double> load_converted(const char* path) {
  const std::string converter = find_converter("convert");
  if (converter.empty())
    refuse(about(path,
                 "is not a PNM file, and the converter \"convert\" (ImageMagick) that reads "
                 "other formats was not found on PATH."));
  std::stringstream pnm(std::ios::in | std::ios::out | std::ios::binary);
  const std::string failed = run_converter(converter, path, pnm);
  if (!failed.empty()) refuse(failed);
  CImg<double> img;
  const std::string unread =
      read_pnm(pnm, std::string(path) + " (converted to PNM by " + converter + ")", img);
  if (!unread.empty()) refuse(unread);
  return img;
}

}  // namespace

std::string find_converter(const char* name) {
  const char* const path = std::getenv("PATH");
  if (!path) return "";
  std::string folders(path);
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = folders.substr(start, end - start);
    start = end + 1;
    // An empty or relative entry names the working folder or one below it.
    if (folder.empty() || folder[0] != '/') continue;
    const std::string candidate = folder + (folder.back() == '/' ? "" : "/") + name;
    struct stat st;
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return "";
}

std::string read_pnm_grey(const char* path, CImg<double>& image) {
  std::ifstream in(path, std::ios::binary);
  return read_pnm(in, path, image);
}

std::string check_samples(const char* path, const CImg<double>& image) {
  if (image.is_empty()) return "";
  std::ostringstream s;
  double largest = image[0], smallest = image[0];
  for (const double v : image) {
    if (std::isnan(v)) {
      s << "has a sample that is not a number";
      break;
    }
    largest = v > largest ? v : largest;
    smallest = v < smallest ? v : smallest;
  }
  if (s.tellp() == 0) {
    if (largest > kMaxSample)
      s << "has samples up to " << largest;
    else if (smallest < 0.0)
      s << "has a sample of " << smallest;
    else
      return "";
  }
  return about(path, s.str() +
                         "; samples must lie from 0 to " + grey_text(kMaxSample) +
                         " (8- or 10-bit images; " + grey_text(kInvalidMagnitude) + " and " +
                         grey_text(kMaxSample) + " mark invalid samples).");
}

CImg<double> load_grey_image(const char* path) {
  // A missing file, or one that cannot be read, is named before its format
  // is looked at.
  int error = 0;
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0)
    error = errno;
  else if (S_ISDIR(st.st_mode))
    error = EISDIR;
  if (fd >= 0) ::close(fd);
  if (error != 0)
    refuse(about(path, std::string("could not be opened (") + std::strerror(error) + ")."));
  CImg<double> img;
  if (pnm_type(path) != 0) {
    // Our own reader: the converter would lower about half of all 10-bit
    // values by one, and the library's reader refuses valid headers.
    const std::string failed = read_pnm_grey(path, img);
    if (!failed.empty()) refuse(failed);
  } else {
    img = load_converted(path);
  }
  const std::string samples = check_samples(path, img);
  if (!samples.empty()) refuse(samples);
  return img;
}
