#include "layout/LayoutJob.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "layout/LayoutParameters.h"
#include "layout/LayoutWire.h"
#include "store/IsolatedProcess.h"

namespace lanewright::layout {
namespace {

constexpr char kProgramName[] = "lanewright-layout";

#ifdef LANEWRIGHT_LAYOUT_PROGRAM_PATH
constexpr const char* kBuiltProgram = LANEWRIGHT_LAYOUT_PROGRAM_PATH;
#else
constexpr const char* kBuiltProgram = nullptr;
#endif

// The only place that starts the child.
std::unique_ptr<store::IsolatedProcess> StartLayoutProcess(std::vector<std::string> args,
                                                           std::string& failure) {
  store::IsolationLimits limits;
  // The child is asked for its answer only once it has announced it (or has gone), so a
  // silence of this length means it hangs while sending.
  limits.idleTimeoutMs = 2000;
  return store::IsolatedProcess::Spawn(args, limits, failure);
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// The child's own words (a missing library, a crash report), for the failure reason.
std::string Detail(const std::string& captured) {
  std::string line = captured.substr(0, captured.find('\n'));
  if (line.size() > 300) line.resize(300);
  return line.empty() ? std::string() : " (" + line + ")";
}

}  // namespace

LayoutJob::LayoutJob(MapGraph graph, std::optional<CacheKey> key, LayoutOptions options)
    : graph_(std::move(graph)),
      key_(std::move(key)),
      options_(std::move(options)),
      started_(Clock::now()) {}

std::unique_ptr<LayoutJob> LayoutJob::Start(MapGraph graph, std::optional<CacheKey> key,
                                            LayoutOptions options) {
  std::unique_ptr<LayoutJob> job(new LayoutJob(std::move(graph), std::move(key), options));
  job->Begin();
  return job;
}

void LayoutJob::Begin() {
  const std::size_t nodes = graph_.nodes.size();
  for (std::size_t i = 0; i < graph_.edges.size(); ++i) {
    const MapEdge& e = graph_.edges[i];
    if (e.from >= nodes || e.to >= nodes) {
      Fail(fmt::format("edge {} joins a node that does not exist ({} to {} of {})", i, e.from, e.to,
                       nodes));
      return;
    }
  }
  LayoutRequest request = MakeLayoutRequest(graph_);
  if (!options_.engine.empty()) request.engine = options_.engine;
  engine_ = request.engine;
  requestBytes_ = EncodeRequest(request);

  if (key_) {
    const std::string folder = CacheFolder();
    if (!folder.empty()) cachePath_ = folder + "/" + key_->fileName();
    auto cached = cachePath_.empty() ? std::nullopt
                                     : LoadCachedLayout(cachePath_, *key_, requestBytes_, graph_);
    if (cached) {
      layout_ = std::move(*cached);
      End(State::Done);
      return;
    }
  }

  const std::string program = options_.program.empty()
                                  ? store::FindHelperProgram(kProgramName, kBuiltProgram)
                                  : options_.program;
  if (program.empty()) {
    Fail(fmt::format("the program {} is missing beside {}", kProgramName, store::SelfPath()));
    return;
  }
  // The request goes to the child through an anonymous file and the progress comes back
  // through a pipe; the child opens both by their /proc names, since it inherits no
  // descriptor of ours but its channel.
  requestFd_ = ::memfd_create("lanewright-layout-request", MFD_CLOEXEC);
  int progress[2] = {-1, -1};
  if (requestFd_ < 0 || store::WriteAll(requestFd_, requestBytes_) != 0 ||
      ::pipe2(progress, O_CLOEXEC | O_NONBLOCK) != 0) {
    Fail(fmt::format("cannot prepare the layout: {}", std::strerror(errno)));
    return;
  }
  progressRead_ = progress[0];
  progressWrite_ = progress[1];
  const auto self = ::getpid();
  std::string why;
  child_ = StartLayoutProcess({program, fmt::format("/proc/{}/fd/{}", self, requestFd_),
                               fmt::format("/proc/{}/fd/{}", self, progressWrite_)},
                              why);
  if (!child_) Fail("cannot start the layout: " + why);
}

LayoutJob::~LayoutJob() { Release(); }

void LayoutJob::Release() {
  child_.reset();  // kills the child if it is still there
  ReleaseRequest();
  CloseFd(progressRead_);
}

void LayoutJob::End(State state) {
  Release();
  state_ = state;
  ended_ = Clock::now();
}

// Once the child has read the request and opened its end of the progress pipe, ours are
// dropped: from then on the end of the pipe means the end of the child.
void LayoutJob::ReleaseRequest() {
  CloseFd(requestFd_);
  CloseFd(progressWrite_);
}

int LayoutJob::Milliseconds() const {
  const auto end = state_ == State::Running ? Clock::now() : ended_;
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(end - started_).count());
}

double LayoutJob::ElapsedSeconds() const { return Milliseconds() / 1000.0; }

LayoutJob::State LayoutJob::Fail(std::string why) {
  failure_ = std::move(why);
  End(State::Failed);
  return state_;
}

void LayoutJob::Cancel() {
  if (state_ == State::Running) End(State::Cancelled);
}

LayoutJob::State LayoutJob::Poll() {
  if (state_ != State::Running) return state_;
  char bytes[16];
  for (;;) {
    const ssize_t n = ::read(progressRead_, bytes, sizeof bytes);
    if (n == 0) return Finish();  // the child has gone, with or without an answer
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN) return Fail(fmt::format("lost the layout: {}", std::strerror(errno)));
      break;
    }
    for (ssize_t i = 0; i < n; ++i) {
      if (bytes[i] == kAnswering) return Finish();
      if (bytes[i] == kLayingOut) {
        phase_ = Phase::LayingOut;
        ReleaseRequest();
      }
    }
  }
  if (phase_ == Phase::Starting && Milliseconds() > options_.startTimeoutMs)
    return Fail("the layout program did not start" + Detail(child_->CapturedOutput()));
  if (Milliseconds() > options_.timeLimitMs)
    return Fail(fmt::format("the layout took longer than {:g} s and was stopped",
                            options_.timeLimitMs / 1000.0));
  return state_;
}

LayoutJob::State LayoutJob::Finish() {
  store::ChildMessage message;
  const auto status = child_->Receive(message);
  if (status == store::IsolatedProcess::Status::Failed)
    return Fail("the layout program " + child_->failure() + Detail(child_->CapturedOutput()));
  if (status == store::IsolatedProcess::Status::End)
    return Fail("the layout program stopped without an answer" + Detail(child_->CapturedOutput()));
  if (message.tag == kFailure) return Fail(message.payload);
  MapLayout layout;
  if (message.tag != kPositions ||
      !DecodePositions(message.payload, layout.positions, layout.peakMemoryKiB) ||
      layout.positions.size() != graph_.nodes.size())
    return Fail("the layout program sent a malformed answer");

  // GraphViz's y axis points up, the screen's down.
  for (Point& p : layout.positions) p.y = -p.y;
  layout.bounds = BoundsOf(layout.positions);
  layout.engine = engine_;
  layout_ = std::move(layout);
  End(State::Done);
  if (!cachePath_.empty())
    StoreCachedLayout(cachePath_, *key_, requestBytes_, graph_, layout_, cacheProblem_);
  return state_;
}

LayoutJob::State LayoutJob::Wait() {
  while (Poll() == State::Running) {
    pollfd p{progressRead_, POLLIN, 0};
    ::poll(&p, 1, 100);
  }
  return state_;
}

}  // namespace lanewright::layout
