// Output files written whole or not at all: the contents go to a temporary
// file in the destination's folder, which is renamed to the final name only
// once every byte is written and flushed, so that the final name never holds
// a partial file and an earlier complete file is never replaced by one.
// A final name that is a symbolic link to a file is replaced at the link's
// target; one that names an existing file other than a regular one (a
// device, a pipe) is written to directly, as it cannot be replaced.
#ifndef VELMORA_OUTPUT_FILE_H
#define VELMORA_OUTPUT_FILE_H

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
  std::string path_, temp_;  // temp_ is empty when writing to path_ directly
  std::FILE* stream_ = nullptr;
};

// Folder part of path, up to and including its last '/' ("" for a bare
// file name, which lies in the current folder).
std::string folder_of(const std::string& path);

// "" when a file can be created in the folder of path (tried by creating
// and removing a temporary file there), else the system's reason.
std::string check_folder_writable(const std::string& path);

#endif
