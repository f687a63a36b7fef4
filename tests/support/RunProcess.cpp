#include "support/RunProcess.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace lanewright::testing {

namespace {

// A child's outputs go to anonymous files, read once it has ended: nothing needs draining
// while it runs, however much it writes.
struct Child {
  pid_t pid = -1;
  int out = -1, err = -1;
  std::chrono::steady_clock::time_point started;
  ProcessResult result;
};

std::string ReadAll(int fd) {
  std::string text;
  char buffer[65536];
  for (ssize_t n; (n = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0;)
    text.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  return text;
}

// Everything the child needs is made before the fork: between fork and exec only system
// calls run (another thread may hold a lock, such as malloc's, at the fork).
Child Start(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  Child child;
  child.out = ::memfd_create("stdout", MFD_CLOEXEC);
  child.err = ::memfd_create("stderr", MFD_CLOEXEC);
  if (child.out < 0 || child.err < 0) throw std::runtime_error("memfd_create failed");
  child.started = std::chrono::steady_clock::now();
  child.pid = ::fork();
  if (child.pid < 0) throw std::runtime_error("fork failed");
  if (child.pid == 0) {
    const int devnull = ::open("/dev/null", O_RDONLY);
    ::dup2(devnull, 0);
    ::dup2(child.out, 1);
    ::dup2(child.err, 2);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  return child;
}

void Finish(std::vector<Child>& children) {
  for (Child& c : children) {
    int status = 0;
    rusage usage{};
    ::wait4(c.pid, &status, 0, &usage);
    c.result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - c.started).count();
    c.result.maxRssKb = usage.ru_maxrss;
    c.result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    c.result.out = ReadAll(c.out);
    c.result.err = ReadAll(c.err);
  }
}

std::string Binary() {
  const char* binary = std::getenv("LANEWRIGHT_BINARY");
  if (!binary || !*binary) throw std::runtime_error("LANEWRIGHT_BINARY is not set");
  return binary;
}

}  // namespace

ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args) {
  std::vector<Child> children = {Start(program, args)};
  Finish(children);
  return children.front().result;
}

std::vector<ProcessResult> RunLanewrightAtOnce(const std::vector<std::vector<std::string>>& runs) {
  const std::string binary = Binary();
  std::vector<Child> children;
  for (const auto& args : runs) children.push_back(Start(binary, args));
  Finish(children);
  std::vector<ProcessResult> results;
  for (Child& c : children) results.push_back(std::move(c.result));
  return results;
}

ProcessResult RunLanewright(const std::vector<std::string>& args) {
  return RunProgram(Binary(), args);
}

}  // namespace lanewright::testing
