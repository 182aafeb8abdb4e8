#include "output_file.h"

#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

// The process's file-creation mask (read by setting it and putting it back).
mode_t creation_mask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// Temporary files that exist right now, for the handler of the signals
// that end the process, which removes them before the program ends. The
// handler reads only `active` (lock free) and the path behind it, which is
// written before `active` is set and left alone until it is cleared; it
// calls only async-signal-safe functions. Outputs are written one at a
// time; a few slots cover nested writers, and a temporary file that finds
// none is simply not removed by a signal.
constexpr int kTempSlots = 4;
struct TempSlot {
  std::atomic<bool> active{false};
  bool claimed = false;  // guarded by slots_mutex
  char path[PATH_MAX];
};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler reads it");
TempSlot temp_slots[kTempSlots];
std::mutex slots_mutex;
int claimed_slots = 0;

// The signals whose default action ends the process, with or without a
// core dump (signal(7)); SIGKILL ends it too but cannot be caught.
constexpr int kEndingSignals[] = {
    SIGHUP,  SIGINT,  SIGQUIT, SIGILL,    SIGTRAP,   SIGABRT, SIGBUS,  SIGFPE,
    SIGUSR1, SIGSEGV, SIGUSR2, SIGPIPE,   SIGALRM,   SIGTERM, SIGSTKFLT,
    SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,     SIGPWR,  SIGSYS};

// The signals the handler takes and SignalsHeld holds: those above and the
// real-time signals from SIGRTMIN to SIGRTMAX, which end the process too.
// The C library keeps the real-time signals below SIGRTMIN for its threads
// (cancellation, set-id calls) and sets SIGRTMIN above them, at run time:
// those are never touched.
const sigset_t& handled_signals() {
  static const sigset_t set = [] {
    sigset_t s;
    sigemptyset(&s);
    for (int sig : kEndingSignals) sigaddset(&s, sig);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaddset(&s, sig);
    return s;
  }();
  return set;
}

// The dispositions found when the handler was installed, by signal number.
struct sigaction previous_action[NSIG];
bool handler_installed[NSIG] = {};

// Removes the temporary files, then ends the process by the signal itself
// (its default action, raised again), so that a calling shell or program
// sees that the run was interrupted rather than ended with some status.
// The signal stays blocked until the default action is back, and is then
// delivered before the handler could return: a fault (SIGSEGV, SIGBUS,
// SIGFPE, SIGILL) ends the process here rather than run its instruction
// again.
extern "C" void remove_temporaries_and_die(int sig) {
  for (TempSlot& slot : temp_slots)
    if (slot.active.load()) ::unlink(slot.path);
  ::signal(sig, SIG_DFL);
  ::raise(sig);  // held back while the handler runs: pending until unblocked
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, sig);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::_exit(128 + sig);  // not reached: the default action of sig ends the process
}

// Installed only over the default disposition: an ignored signal stays
// ignored (a background job started by a shell ignores SIGINT, a caller
// may ignore SIGPIPE or SIGXFSZ, and a write then fails with an error),
// and a handler someone else installed (a sanitizer's SIGSEGV handler)
// stays in charge. While the handler runs, every handled signal waits.
void install_handler() {
  const sigset_t& handled = handled_signals();
  struct sigaction ours;
  std::memset(&ours, 0, sizeof ours);
  ours.sa_handler = remove_temporaries_and_die;
  ours.sa_mask = handled;
  for (int sig = 1; sig < NSIG; ++sig) {
    handler_installed[sig] = false;
    if (sigismember(&handled, sig) != 1) continue;
    if (::sigaction(sig, nullptr, &previous_action[sig]) != 0) continue;
    if ((previous_action[sig].sa_flags & SA_SIGINFO) || previous_action[sig].sa_handler != SIG_DFL)
      continue;
    handler_installed[sig] = ::sigaction(sig, &ours, nullptr) == 0;
  }
}

void restore_handler() {
  for (int sig = 1; sig < NSIG; ++sig) {
    if (handler_installed[sig]) ::sigaction(sig, &previous_action[sig], nullptr);
    handler_installed[sig] = false;
  }
}

// A free slot (-1 when none is left); the first one claimed installs the
// handler.
int claim_slot() {
  std::lock_guard<std::mutex> lock(slots_mutex);
  for (int i = 0; i < kTempSlots; ++i)
    if (!temp_slots[i].claimed) {
      temp_slots[i].claimed = true;
      if (claimed_slots++ == 0) install_handler();
      return i;
    }
  return -1;
}

// Shows path to the handler in slot i.
void publish_slot(int i, const std::string& path) {
  if (i < 0 || path.size() >= sizeof temp_slots[i].path) return;
  std::memcpy(temp_slots[i].path, path.c_str(), path.size() + 1);
  temp_slots[i].active.store(true);
}

// Hides slot i from the handler and frees it; the last one freed puts the
// previous dispositions back.
void release_slot(int i) {
  if (i < 0) return;
  temp_slots[i].active.store(false);
  std::lock_guard<std::mutex> lock(slots_mutex);
  temp_slots[i].claimed = false;
  if (--claimed_slots == 0) restore_handler();
}

}  // namespace

SignalsHeld::SignalsHeld() { ::pthread_sigmask(SIG_BLOCK, &handled_signals(), &old_); }

SignalsHeld::~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string check_folder_writable(const std::string& path) {
  const std::string pattern = folder_of(path) + ".velmora-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const SignalsHeld held;  // the probe never outlives a signal
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  ::unlink(name.data());
  return "";
}

// The limits are the ones the system applies when the file is created:
// PATH_MAX bytes for the path with its terminator, and the folder's own
// limit on one name (pathconf, which differs between file systems) for the
// last component. Reading them creates nothing, so an existing output stays
// as it is until the run replaces it.
std::string check_file_name(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (path.size() >= static_cast<std::size_t>(PATH_MAX))
    return std::string(std::strerror(ENAMETOOLONG)) + " (a path of " +
           std::to_string(path.size()) + " bytes; paths take at most " +
           std::to_string(PATH_MAX - 1) + ")";
  const std::string folder = folder_of(path);
  errno = 0;
  const long name_max = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  const long limit = name_max > 0 ? name_max : errno == 0 ? -1 : NAME_MAX;  // -1: no limit
  if (limit > 0 && base.size() > static_cast<std::size_t>(limit))
    return std::string(std::strerror(ENAMETOOLONG)) + " (a name of " +
           std::to_string(base.size()) + " bytes; the folder takes names of at most " +
           std::to_string(limit) + ")";
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
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
  const SignalsHeld held;
  slot_ = claim_slot();
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    const int error = errno;
    release_slot(slot_);
    slot_ = -1;
    errno = error;
    return;
  }
  temp_ = name.data();
  publish_slot(slot_, temp_);
  if (::fchmod(fd, mode) != 0 || !(stream_ = ::fdopen(fd, "wb"))) {
    const int error = errno;
    ::close(fd);
    release_temp(false);
    errno = error;
  }
}

int OutputFile::release_temp(bool rename) {
  const SignalsHeld held;
  int result = rename ? std::rename(temp_.c_str(), path_.c_str()) : ::unlink(temp_.c_str());
  const int error = errno;
  if (rename && result != 0) ::unlink(temp_.c_str());
  release_slot(slot_);
  slot_ = -1;
  temp_.clear();
  errno = error;
  return result;
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() {
  if (stream_) std::fclose(stream_);
  stream_ = nullptr;
  if (!temp_.empty()) release_temp(false);
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
  if (release_temp(written) != 0 && written) written = false, error = errno;
  if (!written && error == 0) error = EIO;
  errno = error;
  return written;
}
