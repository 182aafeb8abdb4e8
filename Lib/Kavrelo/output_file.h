// Output files written whole or not at all: the contents go to a temporary
// file in the destination's folder, which is renamed to the final name only
// once every byte is written and flushed, so that the final name never holds
// a partial file and an earlier complete file is never replaced by one.
// A final name that is a symbolic link to a file is replaced at the link's
// target; one that names an existing file other than a regular one (a
// device, a pipe) is written to directly, as it cannot be replaced.
// While a temporary file exists, every signal whose default action ends
// the process (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ, SIGSEGV,
// SIGABRT, the real-time signals, ...: all but SIGKILL, which cannot be
// caught), when its disposition is the default one, removes it, then ends
// the program by that signal (its default action), as it would without a
// temporary file; an ignored signal stays ignored and another handler stays
// in charge. The previous dispositions are put back when no temporary file
// is left. A signal sent to the process must reach the thread that writes:
// a thread the program starts for other work (a window's event thread)
// keeps these signals blocked.
#ifndef VELMORA_OUTPUT_FILE_H
#define VELMORA_OUTPUT_FILE_H

#include <signal.h>
#include <sys/types.h>

#include <cstdio>
#include <string>

class OutputFile {
 public:
  // Creates the temporary file beside path ("<folder>/.velmora-XXXXXX"),
  // with the permission bits mode less the process's umask, as a newly
  // created path would have, or those of the file it replaces (or opens a
  // device or pipe path for writing).
  // ok() tells whether that worked (errno is then the reason of the failure).
  explicit OutputFile(const std::string& path, mode_t mode = 0666);
  // Removes the temporary file unless commit() renamed it.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool ok() const { return stream_ != nullptr; }
  // The stream to write the contents to (null when !ok()).
  std::FILE* stream() const { return stream_; }

  // Flushes, syncs and closes the temporary file and renames it to the final
  // name. Returns false, with the temporary file removed and errno set, when
  // any write, the flush, the close or the rename failed (or !ok()).
  // A device or pipe is flushed and closed.
  bool commit();

  // Closes and removes the temporary file without touching the final name.
  void discard();

 private:
  // Renames (commit) or removes the temporary file, and forgets it for the
  // signal handler; returns the result of the rename or unlink.
  int release_temp(bool rename);

  std::string path_, temp_;  // temp_ is empty when writing to path_ directly
  std::FILE* stream_ = nullptr;
  int slot_ = -1;  // where the signal handler finds temp_ (-1: not there)
};

// Holds back, in the calling thread and for its lifetime, the signals
// output files catch (above): one that arrives meanwhile is delivered when
// it ends; a fault of the thread itself (SIGSEGV, SIGBUS) still ends the
// process at once, by the signal's default action.
// Output files use it so that a temporary file is never created, renamed
// or removed unseen by the handler; a thread created meanwhile starts with
// these signals blocked and keeps them so.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t old_;
};

// Folder part of path, up to and including its last '/' ("" for a bare
// file name, which lies in the current folder).
std::string folder_of(const std::string& path);

// "" when a file can be created in the folder of path (tried by creating
// and removing a temporary file there), else the system's reason.
std::string check_folder_writable(const std::string& path);

// "" when path can be created as a file once its folder exists: the whole
// path fits in PATH_MAX and its last component in the folder's file-name
// limit, and path is not an existing folder; else the reason (no line end).
// Reads only: nothing is created, truncated or removed.
std::string check_file_name(const std::string& path);

#endif
