#include "store/IsolatedProcess.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstring>

#include "store/FileDescriptor.h"

extern char** environ;

namespace lanewright::store {
namespace {

constexpr std::size_t kHeaderBytes = 5;  // tag, then the payload length as 4 bytes LE
constexpr std::size_t kChunkBytes = 64 * 1024;
constexpr int kChannelFd = 3;

// Moves fd to 10 or above, so that none of the child's dup2s onto 0..3 can overwrite the
// source of another (the parent may run with 0, 1 or 2 closed). Keeps close-on-exec.
FileDescriptor MoveHigh(FileDescriptor fd) {
  if (!fd || fd.get() >= 10) return fd;
  return FileDescriptor(::fcntl(fd.get(), F_DUPFD_CLOEXEC, 10));
}

void WriteProcFile(pid_t pid, const char* name, std::string_view text) {
  FileDescriptor fd(::open(fmt::format("/proc/{}/{}", pid, name).c_str(), O_WRONLY | O_CLOEXEC));
  if (fd) (void)!::write(fd.get(), text.data(), text.size());
}

// Makes a runaway child the first victim of memory pressure, never the parent, and keeps
// its crashes from leaving core files behind. Set from outside right after the start: the
// child runs only its own code, and nothing of ours, once spawned.
void LimitChild(pid_t pid) {
  WriteProcFile(pid, "oom_score_adj", "1000");
  // A spawned child, unlike a forked one, cannot be told to die with us: should we die
  // first, a child that keeps writing ends on SIGPIPE, and one that spins ends here. No
  // table takes minutes of processor time to read.
  const rlimit cpu{600, 610};
  ::prlimit(pid, RLIMIT_CPU, &cpu, nullptr);
  // Only the soft limit: the program may have its own reasons to set it (the sanitizers do).
  rlimit core{};
  if (::prlimit(pid, RLIMIT_CORE, nullptr, &core) == 0) {
    core.rlim_cur = 0;
    ::prlimit(pid, RLIMIT_CORE, &core, nullptr);
  }
// GCC names AddressSanitizer with a macro, clang only through __has_feature.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LANEWRIGHT_ADDRESS_SANITIZER 1
#endif
#endif
#if !defined(__SANITIZE_ADDRESS__) && !defined(LANEWRIGHT_ADDRESS_SANITIZER)
  // The sanitizers reserve terabytes of address space up front; a limit would break them.
  // Elsewhere, cap new allocations at 2 GiB above what the program maps at its start.
  FileDescriptor statm(::open(fmt::format("/proc/{}/statm", pid).c_str(), O_RDONLY | O_CLOEXEC));
  char text[64];
  const ssize_t n = statm ? ::read(statm.get(), text, sizeof text) : -1;
  rlim_t pages = 0;
  if (n > 0) std::from_chars(text, text + n, pages);  // the first field: pages mapped
  if (pages > 0) {
    const rlim_t cap = pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (rlim_t{2} << 30);
    const rlimit as{cap, cap};
    ::prlimit(pid, RLIMIT_AS, &as, nullptr);
  }
#endif
}

// posix_spawn's descriptor plan and attributes, released whatever happens.
struct SpawnPlan {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  SpawnPlan() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnPlan() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnPlan(const SpawnPlan&) = delete;
  SpawnPlan& operator=(const SpawnPlan&) = delete;
};

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

std::string SelfPath() {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  return n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string();
}

std::string FindHelperProgram(std::string_view name, const char* builtPath) {
  const std::string self = SelfPath();
  if (const auto slash = self.rfind('/'); slash != std::string::npos) {
    std::string beside = self.substr(0, slash + 1);
    beside += name;
    if (::access(beside.c_str(), X_OK) == 0) return beside;
  }
  if (builtPath != nullptr && ::access(builtPath, X_OK) == 0) return builtPath;
  return {};
}

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

std::unique_ptr<IsolatedProcess> IsolatedProcess::Spawn(const std::vector<std::string>& args,
                                                        IsolationLimits limits,
                                                        std::string& failure) {
  if (args.empty()) {
    failure = "no program to start";
    return nullptr;
  }
  int fds[2] = {-1, -1};
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    failure = fmt::format("cannot create a pipe: {}", std::strerror(errno));
    return nullptr;
  }
  FileDescriptor readEnd(fds[0]);
  FileDescriptor writeEnd = MoveHigh(FileDescriptor(fds[1]));
  FileDescriptor output(::memfd_create("lanewright-child-output", MFD_CLOEXEC));
  if (!output) output.reset(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  output = MoveHigh(std::move(output));
  FileDescriptor null = MoveHigh(FileDescriptor(::open("/dev/null", O_RDONLY | O_CLOEXEC)));
  if (!writeEnd || !output || !null) {
    failure = fmt::format("cannot open /dev/null: {}", std::strerror(errno));
    return nullptr;
  }

  SpawnPlan plan;
  posix_spawn_file_actions_adddup2(&plan.actions, null.get(), 0);
  posix_spawn_file_actions_adddup2(&plan.actions, output.get(), 1);
  posix_spawn_file_actions_adddup2(&plan.actions, output.get(), 2);
  posix_spawn_file_actions_adddup2(&plan.actions, writeEnd.get(), kChannelFd);
  // Copies of the parent's other descriptors (another reader's pipe, a GUI connection)
  // must not outlive the parent's use of them just because this child hangs on to them.
  posix_spawn_file_actions_addclosefrom_np(&plan.actions, kChannelFd + 1);
  // Signals the parent ignores (SIGPIPE, typically) would stay ignored across exec.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&plan.attributes, &none);
  posix_spawnattr_setsigdefault(&plan.attributes, &all);
  posix_spawnattr_setflags(&plan.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc =
      ::posix_spawn(&pid, argv[0], &plan.actions, &plan.attributes, argv.data(), environ);
  if (rc != 0) {
    failure = fmt::format("cannot start {}: {}", args[0], std::strerror(rc));
    return nullptr;
  }
  LimitChild(pid);
  return std::unique_ptr<IsolatedProcess>(
      new IsolatedProcess(pid, readEnd.release(), output.release(), limits));
}

IsolatedProcess::IsolatedProcess(pid_t pid, int readFd, int outputFd, IsolationLimits limits)
    : pid_(pid), readFd_(readFd), outputFd_(outputFd), limits_(limits), buffer_(kChunkBytes) {}

IsolatedProcess::~IsolatedProcess() {
  // Closing our end first lets a child blocked on a full pipe die of SIGPIPE at once.
  readFd_.reset();
  KillAndReap();
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
    pollfd p{readFd_.get(), POLLIN, 0};
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
    const ssize_t n = ::read(readFd_.get(), buffer_.data() + end_, buffer_.size() - end_);
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
  const ssize_t n = ::pread(outputFd_.get(), text.data(), text.size(), 0);
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return text;
}

}  // namespace lanewright::store
