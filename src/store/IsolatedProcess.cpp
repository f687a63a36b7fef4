#include "store/IsolatedProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <fmt/format.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace lanewright::store {
namespace {

constexpr std::size_t kHeaderBytes = 5;  // tag, then the payload length as 4 bytes LE
constexpr std::size_t kChunkBytes = 64 * 1024;
constexpr int kChannelFd = 3;

void CloseQuietly(int fd) {
  if (fd >= 0) ::close(fd);
}

// Moves fd out of the range 0..9, so that it cannot be overwritten by the dup2 calls
// that set up the child's standard descriptors (the parent may run with 0, 1 or 2 closed).
int MoveHigh(int fd) {
  if (fd < 0 || fd >= 10) return fd;
  return ::fcntl(fd, F_DUPFD, 10);
}

void WriteAll(int fd, const char* text) {
  std::size_t left = std::strlen(text);
  while (left > 0) {
    const ssize_t n = ::write(fd, text, left);
    if (n <= 0) return;
    text += n;
    left -= static_cast<std::size_t>(n);
  }
}

// Makes a runaway child the first victim of memory pressure, never the parent, and keeps
// its crashes from leaving core files behind.
void LimitChild() {
  const int oom = ::open("/proc/self/oom_score_adj", O_WRONLY | O_CLOEXEC);
  if (oom >= 0) {
    WriteAll(oom, "1000");
    ::close(oom);
  }
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
#if !defined(__SANITIZE_ADDRESS__)
  // The sanitizers reserve terabytes of address space up front; a limit would break them.
  // Elsewhere, cap new allocations at 2 GiB above what the process already maps. Read
  // with plain system calls: the child may not allocate before it has exec'd.
  const int statm = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
  if (statm >= 0) {
    char text[64];
    const ssize_t n = ::read(statm, text, sizeof text - 1);
    ::close(statm);
    rlim_t pages = 0;
    for (ssize_t i = 0; i < n && text[i] >= '0' && text[i] <= '9'; ++i)
      pages = pages * 10 + static_cast<rlim_t>(text[i] - '0');
    if (pages > 0) {
      const rlim_t cap = pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (rlim_t{2} << 30);
      const rlimit as{cap, cap};
      ::setrlimit(RLIMIT_AS, &as);
    }
  }
#endif
}

[[noreturn]] void RunChild(const IsolatedProcess::Work& work, int writeFd, int outputFd, int nullFd,
                           pid_t parent) {
#ifdef __linux__
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(127);
#else
  (void)parent;
#endif
  ::signal(SIGPIPE, SIG_DFL);
  writeFd = MoveHigh(writeFd);
  outputFd = MoveHigh(outputFd);
  nullFd = MoveHigh(nullFd);
  if (writeFd < 0 || outputFd < 0 || nullFd < 0) ::_exit(126);
  if (::dup2(nullFd, 0) < 0 || ::dup2(outputFd, 1) < 0 || ::dup2(outputFd, 2) < 0 ||
      ::dup2(writeFd, kChannelFd) < 0)
    ::_exit(126);
  // Copies of the parent's other descriptors (another reader's pipe, a GUI connection) must
  // not outlive the parent's use of them just because this child hangs on to them.
  if (::close_range(kChannelFd + 1, ~0U, 0) != 0) {
    for (int fd = kChannelFd + 1; fd < 65536; ++fd) ::close(fd);
  }
  LimitChild();

  int code = 125;
  try {
    ChildChannel channel(kChannelFd);
    code = work(channel);
    if (!channel.Flush() && code == 0) code = 124;
  } catch (...) {
    code = 125;
  }
  ::_exit(code);
}

std::string DescribeStatus(int status) {
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    const char* name = ::sigabbrev_np(sig);
    return fmt::format("was stopped by signal {}{}{}", sig, name ? " SIG" : "", name ? name : "");
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
    return fmt::format("gave up with exit code {}", WEXITSTATUS(status));
  return {};
}

}  // namespace

bool ChildChannel::Send(std::uint8_t tag, std::string_view payload) {
  if (broken_) return false;
  const auto n = static_cast<std::uint32_t>(payload.size());
  const char header[kHeaderBytes] = {
      static_cast<char>(tag), static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
      static_cast<char>((n >> 16) & 0xFF), static_cast<char>((n >> 24) & 0xFF)};
  buffer_.append(header, kHeaderBytes);
  buffer_.append(payload);
  return buffer_.size() < kChunkBytes || Flush();
}

bool ChildChannel::Flush() {
  std::size_t done = 0;
  while (!broken_ && done < buffer_.size()) {
    const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      broken_ = true;
    } else {
      done += static_cast<std::size_t>(n);
    }
  }
  buffer_.clear();
  return !broken_;
}

std::unique_ptr<IsolatedProcess> IsolatedProcess::Start(const Work& work, IsolationLimits limits,
                                                        std::string& failure) {
  int fds[2] = {-1, -1};
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    failure = fmt::format("cannot create a pipe: {}", std::strerror(errno));
    return nullptr;
  }
  int outputFd = ::memfd_create("lanewright-child-output", MFD_CLOEXEC);
  if (outputFd < 0) outputFd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (outputFd < 0 || nullFd < 0) {
    failure = fmt::format("cannot open /dev/null: {}", std::strerror(errno));
    for (int fd : {fds[0], fds[1], outputFd, nullFd}) CloseQuietly(fd);
    return nullptr;
  }
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    RunChild(work, fds[1], outputFd, nullFd, parent);
  }
  const int forkErrno = errno;
  ::close(fds[1]);
  ::close(nullFd);
  if (pid < 0) {
    failure = fmt::format("cannot start a reader process: {}", std::strerror(forkErrno));
    ::close(fds[0]);
    ::close(outputFd);
    return nullptr;
  }
  return std::unique_ptr<IsolatedProcess>(new IsolatedProcess(pid, fds[0], outputFd, limits));
}

IsolatedProcess::IsolatedProcess(pid_t pid, int readFd, int outputFd, IsolationLimits limits)
    : pid_(pid), readFd_(readFd), outputFd_(outputFd), limits_(limits), buffer_(kChunkBytes) {}

IsolatedProcess::~IsolatedProcess() {
  // Closing our end first lets a child blocked on a full pipe die of SIGPIPE at once.
  CloseQuietly(readFd_);
  KillAndReap();
  CloseQuietly(outputFd_);
}

void IsolatedProcess::KillAndReap() {
  if (reaped_) return;
  ::kill(pid_, SIGKILL);
  Reap();
}

std::string IsolatedProcess::Reap() {
  if (reaped_) return {};
  reaped_ = true;
  int status = 0;
  for (;;) {
    const pid_t r = ::waitpid(pid_, &status, 0);
    if (r == pid_) return DescribeStatus(status);
    if (r < 0 && errno == EINTR) continue;
    // ECHILD: someone else reaped it (SIGCHLD ignored). The stream's own end marker is
    // then the only witness of a clean finish, which the callers require anyway.
    return {};
  }
}

IsolatedProcess::Status IsolatedProcess::Fail(std::string why) {
  final_ = Status::Failed;
  failure_ = std::move(why);
  KillAndReap();
  return final_;
}

long IsolatedProcess::Fill() {
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (buffer_.size() - end_ < kChunkBytes) buffer_.resize(end_ + kChunkBytes);
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(limits_.idleTimeoutMs);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{readFd_, POLLIN, 0};
    const int r = left > 0 ? ::poll(&p, 1, static_cast<int>(left)) : 0;
    if (r == 0) {
      Fail(fmt::format("stopped making progress for {} s and was stopped",
                       limits_.idleTimeoutMs / 1000.0));
      return -1;
    }
    if (r < 0) {
      if (errno == EINTR) continue;
      Fail(fmt::format("could not be waited for: {}", std::strerror(errno)));
      return -1;
    }
    const ssize_t n = ::read(readFd_, buffer_.data() + end_, buffer_.size() - end_);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      Fail(fmt::format("could not be read from: {}", std::strerror(errno)));
      return -1;
    }
    end_ += static_cast<std::size_t>(n);
    return static_cast<long>(n);
  }
}

IsolatedProcess::Status IsolatedProcess::Receive(ChildMessage& message) {
  if (final_ != Status::Message) return final_;
  std::size_t need = kHeaderBytes;
  std::uint32_t length = 0;
  for (;;) {
    const std::size_t have = end_ - begin_;
    if (have >= kHeaderBytes && need == kHeaderBytes) {
      const auto* h = reinterpret_cast<const unsigned char*>(buffer_.data() + begin_);
      length = static_cast<std::uint32_t>(h[1]) | static_cast<std::uint32_t>(h[2]) << 8 |
               static_cast<std::uint32_t>(h[3]) << 16 | static_cast<std::uint32_t>(h[4]) << 24;
      if (length > limits_.maxMessageBytes)
        return Fail(fmt::format("sent a malformed message ({} bytes long)", length));
      need = kHeaderBytes + length;
      if (buffer_.size() < begin_ + need) {
        // Make room for the whole message before reading the rest of it.
        std::memmove(buffer_.data(), buffer_.data() + begin_, have);
        begin_ = 0;
        end_ = have;
        buffer_.resize(need + kChunkBytes);
      }
    }
    if (have >= need) break;
    const long n = Fill();
    if (n < 0) return final_;
    if (n == 0) {
      const bool between = end_ == begin_;
      std::string how = Reap();
      if (between && how.empty()) {
        final_ = Status::End;
        return final_;
      }
      if (how.empty()) how = "ended in the middle of a message";
      return Fail(std::move(how));
    }
  }
  const char* h = buffer_.data() + begin_;
  message.tag = static_cast<std::uint8_t>(h[0]);
  message.payload.assign(h + kHeaderBytes, length);
  begin_ += need;
  return Status::Message;
}

std::string IsolatedProcess::CapturedOutput() const {
  std::string text(4096, '\0');
  const ssize_t n = ::pread(outputFd_, text.data(), text.size(), 0);
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return text;
}

}  // namespace lanewright::store
