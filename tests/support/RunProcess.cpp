#include "support/RunProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace lanewright::testing {

namespace {

struct Child {
  pid_t pid = -1;
  int fds[2] = {-1, -1};  // stdout, stderr
  std::chrono::steady_clock::time_point started;
  ProcessResult result;
};

// Everything the child needs is made before the fork: between fork and exec only system
// calls run (another thread may hold a lock, such as malloc's, at the fork).
Child Start(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  Child child;
  child.started = std::chrono::steady_clock::now();
  child.pid = fork();
  if (child.pid < 0) throw std::runtime_error("fork failed");
  if (child.pid == 0) {
    const int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  child.fds[0] = out[0];
  child.fds[1] = err[0];
  return child;
}

void Finish(std::vector<Child>& children) {
  char buffer[65536];
  for (;;) {
    std::vector<pollfd> fds;
    std::vector<std::pair<Child*, int>> owners;
    for (Child& c : children)
      for (int i = 0; i < 2; ++i)
        if (c.fds[i] >= 0) {
          fds.push_back({c.fds[i], POLLIN, 0});
          owners.emplace_back(&c, i);
        }
    if (fds.empty()) break;
    if (poll(fds.data(), fds.size(), -1) < 0) break;
    for (std::size_t k = 0; k < fds.size(); ++k) {
      if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      auto [c, i] = owners[k];
      const ssize_t n = read(c->fds[i], buffer, sizeof buffer);
      if (n <= 0) {
        close(c->fds[i]);
        c->fds[i] = -1;
      } else {
        (i == 0 ? c->result.out : c->result.err).append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
  for (Child& c : children) {
    int status = 0;
    rusage usage{};
    wait4(c.pid, &status, 0, &usage);
    c.result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - c.started).count();
    c.result.maxRssKb = usage.ru_maxrss;
    c.result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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
