#include "export/ReplaceFile.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace lanewright {
namespace {

namespace fs = std::filesystem;
using Status = ReplaceFileResult::Status;

ReplaceFileResult Fail(Status status, std::string reason) { return {status, std::move(reason)}; }

std::string ErrnoText(int error) { return std::strerror(error); }

// Closes the descriptor and removes the temporary file unless it was renamed into place.
class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }

  // Creates a file that did not exist before, in the target's folder so that the final
  // rename stays on one file system. Returns errno, or 0.
  int Create(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    for (int attempt = 0; attempt < 100; ++attempt) {
      const fs::path candidate =
          folder / fmt::format(".{}.{}-{}.tmp", target.filename().string(),
                               static_cast<long>(::getpid()), counter.fetch_add(1));
      fd_ = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0) {
        path_ = candidate.string();
        return 0;
      }
      if (errno != EEXIST) return errno;
    }
    return EEXIST;
  }

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

  // Returns errno of a failed close, or 0.
  int Close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
  }
  void Keep() { path_.clear(); }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace

ReplaceFileResult ReplaceFile(const std::string& path, std::string_view bytes) {
  if (path.empty()) return Fail(Status::OpenFailed, "no file name given");
  fs::path target(path);
  std::error_code ec;
  // Replace the file a link names, not the link.
  if (fs::is_symlink(fs::symlink_status(target, ec))) {
    const fs::path resolved = fs::weakly_canonical(target, ec);
    if (!ec) target = resolved;
  }

  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists) {
    if (S_ISDIR(existing.st_mode)) return Fail(Status::OpenFailed, "it is a folder");
    if (::access(target.c_str(), W_OK) != 0) return Fail(Status::OpenFailed, ErrnoText(errno));
  }

  TempFile temp;
  if (const int error = temp.Create(target); error != 0)
    return Fail(Status::OpenFailed, ErrnoText(error));
  if (exists) ::fchmod(temp.fd(), existing.st_mode & 07777);

  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(temp.fd(), bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(Status::WriteFailed, ErrnoText(errno));
    }
    done += static_cast<std::size_t>(n);
  }
  // EINVAL: a file system that cannot sync; the data is written all the same.
  if (::fsync(temp.fd()) != 0 && errno != EINVAL)
    return Fail(Status::WriteFailed, ErrnoText(errno));
  if (const int error = temp.Close(); error != 0)
    return Fail(Status::WriteFailed, ErrnoText(error));
  if (::rename(temp.path().c_str(), target.c_str()) != 0)
    return Fail(Status::WriteFailed, ErrnoText(errno));
  temp.Keep();
  return {};
}

}  // namespace lanewright
