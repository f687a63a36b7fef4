#pragma once

#include <string>
#include <string_view>

namespace lanewright {

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
// bytes, never a part: the bytes go to a new file beside it, which is flushed to disk and
// then renamed over path. An existing file keeps its permission bits; a symbolic link is
// followed, so the file it names is replaced. A file that cannot be opened for writing
// (read-only, or a folder) is refused as OpenFailed, as opening it for writing would be.
ReplaceFileResult ReplaceFile(const std::string& path, std::string_view bytes);

}  // namespace lanewright
