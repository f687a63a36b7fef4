#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/FileDescriptor.h"

namespace lanewright::store {

// The running executable's path; empty when it cannot be known.
std::string SelfPath();

// A helper program: beside the running executable once installed, else where this build
// put it (builtPath, may be null). Empty when neither is there and executable.
std::string FindHelperProgram(std::string_view name, const char* builtPath);

// Third-party readers of untrusted files (libmdb) may print to the terminal, crash, loop or
// allocate without bound on a damaged file. Such work runs in a child process that talks to
// us only through a pipe of framed messages (fd 3 in the child); whatever the child does,
// the parent sees either well-formed messages or a failure it can report.

struct IsolationLimits {
  // How long the child may go without sending a byte before it is presumed stuck and killed.
  int idleTimeoutMs = 20000;
  // The largest single message the parent accepts; anything larger counts as malformed.
  std::uint32_t maxMessageBytes = 64u << 20;
};

// The child's end of the channel. Messages are buffered and written in large chunks so
// that streaming many small rows stays cheap.
class ChildChannel {
 public:
  explicit ChildChannel(int fd) : fd_(fd) {}
  ChildChannel(const ChildChannel&) = delete;
  ChildChannel& operator=(const ChildChannel&) = delete;

  // False once the parent has gone away; the child should then stop.
  bool Send(std::uint8_t tag, std::string_view payload);
  bool Flush();

 private:
  int fd_;
  std::string buffer_;
  bool broken_ = false;
};

struct ChildMessage {
  std::uint8_t tag = 0;
  std::string payload;
};

class IsolatedProcess {
 public:
  // Starts the program args[0] (a path; no search) with args, by posix_spawn: stdin on
  // /dev/null, stdout and stderr captured, the channel on fd 3, no other descriptor of
  // ours, every signal at its default. The child is made the first victim of memory
  // pressure, leaves no core file, may use ten minutes of processor time and, outside
  // sanitizer builds, may map at most 2 GiB more than at its start. Null with failure filled when
  // the system refuses (no such program, no processes or descriptors left).
  static std::unique_ptr<IsolatedProcess> Spawn(const std::vector<std::string>& args,
                                                IsolationLimits limits, std::string& failure);
  ~IsolatedProcess();
  IsolatedProcess(const IsolatedProcess&) = delete;
  IsolatedProcess& operator=(const IsolatedProcess&) = delete;

  enum class Status {
    Message,  // message holds the next message
    End,      // the child closed the channel between messages and exited with code 0
    Failed,   // see failure(): stuck (killed), died by a signal, exited non-zero, malformed
  };
  // Waits for the next message. After End or Failed, keeps returning the same status.
  Status Receive(ChildMessage& message);

  const std::string& failure() const { return failure_; }
  // The first few kilobytes the child wrote to stdout and stderr.
  std::string CapturedOutput() const;

 private:
  IsolatedProcess(pid_t pid, int readFd, int outputFd, IsolationLimits limits);
  Status Fail(std::string why);
  // Reads whatever is available, waiting at most the idle timeout. 0 on EOF, -1 on failure.
  long Fill();
  void KillAndReap();
  // Reaps the child (waiting for it) and describes how it ended; empty when it exited 0.
  std::string Reap();

  pid_t pid_;
  FileDescriptor readFd_;
  FileDescriptor outputFd_;
  IsolationLimits limits_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // first unread byte of buffer_
  std::size_t end_ = 0;    // one past the last byte read into buffer_
  bool reaped_ = false;
  Status final_ = Status::Message;
  std::string failure_;
};

}  // namespace lanewright::store
