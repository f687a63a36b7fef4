#include "store/ReplaceFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <fmt/format.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace lanewright::store {
namespace {

namespace fs = std::filesystem;
using Status = ReplaceFileResult::Status;

constexpr std::string_view kCopyTag = ".lanewright-";
constexpr std::string_view kCopyEnd = ".tmp";

ReplaceFileResult Fail(Status status, std::string reason) { return {status, std::move(reason)}; }

// Writing into a pipe whose reader has gone raises SIGPIPE, which would end the whole
// program; here it is an error like any other (EPIPE).
int WriteAllWithoutSigpipe(int fd, std::string_view bytes) {
  sigset_t pipe, old;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  sigset_t pending;
  sigpending(&pending);
  const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipe, &old);
  const int error = WriteAll(fd, bytes);
  if (error == EPIPE && !wasPending) {
    const timespec none{0, 0};
    sigtimedwait(&pipe, nullptr, &none);
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return error;
}

// "PID-N.tmp" from a copy's name; the PID, or 0 when the rest is not of that shape.
pid_t CopyOwner(std::string_view rest) {
  if (!rest.ends_with(kCopyEnd)) return 0;
  rest.remove_suffix(kCopyEnd.size());
  const auto dash = rest.find('-');
  if (dash == std::string_view::npos) return 0;
  pid_t pid = 0;
  unsigned counter = 0;
  const char* end = rest.data() + rest.size();
  const auto [pidEnd, pidError] = std::from_chars(rest.data(), rest.data() + dash, pid);
  const auto [counterEnd, counterError] = std::from_chars(rest.data() + dash + 1, end, counter);
  if (pidError != std::errc() || pidEnd != rest.data() + dash || counterError != std::errc() ||
      counterEnd != end || pid <= 0)
    return 0;
  return pid;
}

// Copies of target whose writer no longer runs can only be leftovers of a killed write.
// A PID that runs again (reused) keeps its copy; such a copy goes on a later write.
void RemoveStaleCopies(const fs::path& target) {
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const std::string prefix = "." + target.filename().string() + std::string(kCopyTag);
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (!name.starts_with(prefix)) continue;
    const pid_t owner = CopyOwner(name.substr(prefix.size()));
    if (owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH)
      ::unlinkat(::dirfd(dir), entry->d_name, 0);
  }
  ::closedir(dir);
}

// The rename itself is only durable once the folder is.
void SyncFolderOf(const std::string& path) {
  const fs::path folder = fs::path(path).parent_path();
  FileDescriptor fd(
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd) ::fsync(fd.get());
}

const char* Kind(mode_t mode) {
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISBLK(mode)) return "a block device";
  return "not a regular file";
}

}  // namespace

std::string ErrnoText(int error) { return std::strerror(error); }

std::string FileBehind(const std::string& path) {
  std::error_code ec;
  if (!fs::is_symlink(fs::symlink_status(path, ec))) return path;
  const fs::path resolved = fs::weakly_canonical(path, ec);
  return ec ? path : resolved.string();
}

ReplacementFile::~ReplacementFile() {
  fd_.reset();
  if (!path_.empty() && !placed_) ::unlink(path_.c_str());
}

int ReplacementFile::Create(const std::string& target, std::optional<mode_t> mode) {
  static std::atomic<unsigned> counter{0};
  target_ = target;
  const fs::path t(target);
  RemoveStaleCopies(t);
  const fs::path folder = t.has_parent_path() ? t.parent_path() : fs::path(".");
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate =
        folder / fmt::format(".{}{}{}-{}{}", t.filename().string(), kCopyTag,
                             static_cast<long>(::getpid()), counter.fetch_add(1), kCopyEnd);
    fd_.reset(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd_) {
      path_ = candidate.string();
      if (mode && ::fchmod(fd_.get(), *mode) != 0) return errno;
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

int ReplacementFile::Write(std::string_view bytes) {
  if (const int error = WriteAll(fd_.get(), bytes); error != 0) return error;
  // EINVAL: a file system that cannot sync; the data is written all the same.
  if (::fsync(fd_.get()) != 0 && errno != EINVAL) return errno;
  return fd_.close();
}

int ReplacementFile::Replace() {
  if (::rename(path_.c_str(), target_.c_str()) != 0) return errno;
  placed_ = true;
  SyncFolderOf(target_);
  return 0;
}

int ReplacementFile::PlaceNew() {
  if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) == 0) {
    placed_ = true;
    SyncFolderOf(target_);
    return 0;
  }
  // File systems without renameat2's flags: a hard link never replaces either.
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (::link(path_.c_str(), target_.c_str()) != 0) return errno;
  placed_ = true;
  ::unlink(path_.c_str());
  SyncFolderOf(target_);
  return 0;
}

ReplaceFileResult WriteToDescriptor(int fd, std::string_view bytes) {
  if (const int error = WriteAllWithoutSigpipe(fd, bytes); error != 0)
    return Fail(Status::WriteFailed, ErrnoText(error));
  return {};
}

ReplaceFileResult ReplaceFile(const std::string& path, std::string_view bytes) {
  if (path.empty()) return Fail(Status::OpenFailed, "no file name given");
  const std::string target = FileBehind(path);

  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) return Fail(Status::OpenFailed, "it is a folder");
  if (exists && (S_ISFIFO(existing.st_mode) || S_ISCHR(existing.st_mode))) {
    FileDescriptor fd(::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
    if (!fd) return Fail(Status::OpenFailed, ErrnoText(errno));
    if (const int error = WriteAllWithoutSigpipe(fd.get(), bytes); error != 0)
      return Fail(Status::WriteFailed, ErrnoText(error));
    if (const int error = fd.close(); error != 0)
      return Fail(Status::WriteFailed, ErrnoText(error));
    return {};
  }
  if (exists && !S_ISREG(existing.st_mode))
    return Fail(Status::OpenFailed,
                fmt::format("it is {}; it is not written", Kind(existing.st_mode)));
  if (exists && ::access(target.c_str(), W_OK) != 0)
    return Fail(Status::OpenFailed, ErrnoText(errno));

  ReplacementFile copy;
  const std::optional<mode_t> mode =
      exists ? std::optional<mode_t>(existing.st_mode & 07777) : std::nullopt;
  if (const int error = copy.Create(target, mode); error != 0)
    return Fail(Status::OpenFailed, ErrnoText(error));
  if (const int error = copy.Write(bytes); error != 0)
    return Fail(Status::WriteFailed, ErrnoText(error));
  if (const int error = copy.Replace(); error != 0)
    return Fail(Status::WriteFailed, ErrnoText(error));
  return {};
}

}  // namespace lanewright::store
