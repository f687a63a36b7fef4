#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "store/FileDescriptor.h"

namespace lanewright::store {

struct ReplaceFileResult {
  enum class Status {
    Written,
    OpenFailed,   // the target cannot be written at all (no folder, no permission, a folder)
    WriteFailed,  // it could be opened, but writing, flushing or renaming failed
  };
  Status status = Status::Written;
  std::string reason;  // in words, for stderr and the status line; empty when written
};

// Writes bytes to path so that path afterwards holds either its old content or all of
// bytes, never a part: the bytes go to a copy beside it, which is flushed to disk and then
// renamed over path. An existing file keeps its permission bits; a symbolic link is
// followed, so the file it names is replaced. A file that cannot be opened for writing
// (read-only, or a folder) is refused as OpenFailed, as opening it for writing would be.
//
// A FIFO or a character device (a terminal, /dev/null, /dev/stdout on a pipe) is written
// straight into, since it cannot be replaced; other kinds of files (sockets, block
// devices) are refused.
ReplaceFileResult ReplaceFile(const std::string& path, std::string_view bytes);

// Writes bytes into an open descriptor (standard output, say), whole; a reader that went
// away is a write failure, not a signal.
ReplaceFileResult WriteToDescriptor(int fd, std::string_view bytes);

// The file a path names: a symbolic link is followed to the file it names, which is what
// a write must replace (replacing the link would silently fork the file).
std::string FileBehind(const std::string& path);

// A complete copy of a file's next content, written beside it as
// ".NAME.lanewright-PID-N.tmp" and then put in its place by a rename, so that the file is
// never seen half written. The copy is removed again unless it was put in place. Copies
// left behind by a process that was killed while writing are removed the next time a
// copy of the same file is made.
//
// Each step returns 0 or the errno of its failure (see ErrnoText).
class ReplacementFile {
 public:
  ReplacementFile() = default;
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Creates the copy beside target (which should be a FileBehind result). mode: the
  // permission bits to give it, or nullopt for a new file's default (0666 less the umask).
  int Create(const std::string& target, std::optional<mode_t> mode);
  // Writes all bytes, flushes them to the disk and closes the copy.
  int Write(std::string_view bytes);
  // Renames the copy over the target.
  int Replace();
  // Puts the copy at the target only when nothing is there: EEXIST otherwise.
  int PlaceNew();

  const std::string& path() const { return path_; }

 private:
  std::string target_;
  std::string path_;
  FileDescriptor fd_;
  bool placed_ = false;
};

std::string ErrnoText(int error);

}  // namespace lanewright::store
