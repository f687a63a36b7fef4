// lanewright-layout REQUEST PROGRESS: lays out the graph in the file REQUEST with GraphViz and
// answers on fd 3 (LayoutWire messages), writing progress bytes to the pipe PROGRESS.
// LayoutJob runs it in a child process: GraphViz cannot be interrupted, prints to stderr,
// and one GraphViz context is all a process may ever have; the child has exactly one and
// leaves without freeing it.

#include <fcntl.h>
#include <gvc.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "layout/LayoutWire.h"
#include "store/IsolatedProcess.h"

namespace lanewright::layout {
namespace {

// GraphViz's errors and warnings, kept for the failure reason instead of going to stderr.
std::string graphvizMessages;

int KeepMessage(char* text) {
  if (graphvizMessages.size() < 2000) graphvizMessages += text;
  return 0;
}

bool ReadWholeFile(const char* path, std::string& bytes) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n == 0) break;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

// The high-water mark of this process's resident memory (not of the parent it was forked
// from, which getrusage would include).
std::uint64_t PeakMemoryKiB() {
  std::string status;
  if (!ReadWholeFile("/proc/self/status", status)) return 0;
  const auto at = status.find("VmHWM:");
  return at == std::string::npos ? 0 : std::strtoull(status.c_str() + at + 6, nullptr, 10);
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// Runs GraphViz on the request; false with why filled when it refuses.
bool Layout(const LayoutRequest& request, std::vector<Point>& positions, std::string& why) {
  agseterrf(KeepMessage);
  GVC_t* gvc = gvContext();
  Agraph_t* g = agopen(const_cast<char*>("map"), Agundirected, nullptr);
  if (gvc == nullptr || g == nullptr) {
    why = "GraphViz could not be started";
    return false;
  }
  for (const auto& [key, value] : request.graphAttributes)
    agattr(g, AGRAPH, const_cast<char*>(key.c_str()), const_cast<char*>(value.c_str()));
  agattr(g, AGNODE, const_cast<char*>("shape"), const_cast<char*>("box"));
  agattr(g, AGNODE, const_cast<char*>("fixedsize"), const_cast<char*>("true"));
  agattr(g, AGNODE, const_cast<char*>("label"), const_cast<char*>(""));
  Agsym_t* width = agattr(g, AGNODE, const_cast<char*>("width"), const_cast<char*>("0.75"));
  Agsym_t* height = agattr(g, AGNODE, const_cast<char*>("height"), const_cast<char*>("0.5"));

  std::vector<Agnode_t*> nodes;
  nodes.reserve(request.nodeSizes.size());
  char text[64];
  for (std::size_t i = 0; i < request.nodeSizes.size(); ++i) {
    std::snprintf(text, sizeof text, "n%zu", i);
    Agnode_t* n = agnode(g, text, 1);
    std::snprintf(text, sizeof text, "%.4f", request.nodeSizes[i].x);
    agxset(n, width, text);
    std::snprintf(text, sizeof text, "%.4f", request.nodeSizes[i].y);
    agxset(n, height, text);
    nodes.push_back(n);
  }
  for (const auto& [a, b] : request.links) agedge(g, nodes[a], nodes[b], nullptr, 1);

  if (gvLayout(gvc, g, request.engine.c_str()) != 0) {
    why = "GraphViz could not lay out the map";
    if (!graphvizMessages.empty()) why += ": " + Trimmed(graphvizMessages);
    return false;
  }
  positions.reserve(nodes.size());
  for (Agnode_t* n : nodes) positions.push_back({ND_coord(n).x, ND_coord(n).y});
  return true;
}

void Answer(int progressFd, store::ChildChannel& channel, std::uint8_t tag,
            const std::string& payload) {
  const char byte = kAnswering;
  if (progressFd >= 0) (void)::write(progressFd, &byte, 1);
  channel.Send(tag, payload);
  channel.Flush();
}

int Run(const char* requestPath, const char* progressPath) {
  store::ChildChannel channel(3);
  const int progressFd = ::open(progressPath, O_WRONLY | O_CLOEXEC);
  std::string bytes;
  const bool read = ReadWholeFile(requestPath, bytes);
  if (progressFd < 0 || !read) {
    Answer(progressFd, channel, kFailure, "the layout request could not be read");
    return 0;
  }
  const char byte = kLayingOut;
  (void)::write(progressFd, &byte, 1);
  LayoutRequest request;
  if (!DecodeRequest(bytes, request)) {
    Answer(progressFd, channel, kFailure, "the layout request is malformed");
    return 0;
  }
  std::vector<Point> positions;
  std::string why;
  if (!Layout(request, positions, why)) {
    Answer(progressFd, channel, kFailure, why);
    return 0;
  }
  Answer(progressFd, channel, kPositions, EncodePositions(positions, PeakMemoryKiB()));
  return 0;
}

}  // namespace
}  // namespace lanewright::layout

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: lanewright-layout REQUEST PROGRESS (run by Lanewright, not by hand)\n",
               stderr);
    return 64;
  }
  const int code = lanewright::layout::Run(argv[1], argv[2]);
  // Leave without tearing GraphViz down: freeing its context is unsafe, and the process ends.
  std::fflush(stdout);
  ::_exit(code);
}
