#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "layout/LayoutCache.h"
#include "layout/MapLayout.h"

namespace lanewright::store {
class IsolatedProcess;
}

namespace lanewright::layout {

struct LayoutOptions {
  // The layout program; empty: lanewright-layout beside the running executable, else the one
  // this build made.
  std::string program;
  // The GraphViz engine; empty: chosen by the size of the map (for measuring the choice).
  std::string engine;
  // A program that has not reported within this time after its start is presumed broken.
  int startTimeoutMs = 5000;
  // A layout still running after this time is presumed stuck, stopped and reported as
  // failed. GraphViz reports no progress, so this is generous: the largest galaxies
  // measured (100,000 warp points) took five CPU minutes.
  int timeLimitMs = 60 * 60 * 1000;
};

// Lays out a map in a child process, for an event loop: Start returns at once, Poll never
// waits for GraphViz, Cancel ends the child at once. A layout found in the cache is Done
// from the start without any child. A finished layout is written to the cache; a failed or
// cancelled one leaves the cache as it was.
//
// From a Qt event loop: watch NotifyFd() with a QSocketNotifier (it becomes readable when
// the child makes progress or ends) and call Poll() from it and from a timer that shows
// the elapsed time; the timer also lets Poll enforce the time limits.
class LayoutJob {
 public:
  enum class State { Running, Done, Failed, Cancelled };
  enum class Phase { Starting, LayingOut };

  // key: the empire files the graph was made from; nothing means no caching.
  static std::unique_ptr<LayoutJob> Start(MapGraph graph, std::optional<CacheKey> key,
                                          LayoutOptions options = {});
  ~LayoutJob();
  LayoutJob(const LayoutJob&) = delete;
  LayoutJob& operator=(const LayoutJob&) = delete;

  // Takes in what the child has reported so far. Returns at once, except that a finished
  // answer is read whole (a few milliseconds, even for the largest galaxies).
  State Poll();
  // Polls until the job is no longer Running.
  State Wait();
  // Ends the child at once. A Running job becomes Cancelled; others stay as they are.
  void Cancel();

  State state() const { return state_; }
  Phase phase() const { return phase_; }
  // Since Start; stops counting when the job ends.
  double ElapsedSeconds() const;
  // The engine that lays (or laid) the map out.
  const std::string& engine() const { return engine_; }
  const MapGraph& graph() const { return graph_; }
  // Valid when Done.
  const MapLayout& layout() const { return layout_; }
  // Why the job Failed.
  const std::string& failure() const { return failure_; }
  // When the cache could not be written, why (the layout is good all the same).
  const std::string& cacheProblem() const { return cacheProblem_; }
  // Readable when Poll has something to take in; -1 once the job is no longer Running, so a
  // socket notifier on it must be switched off when Poll returns anything but Running.
  int NotifyFd() const { return progressRead_; }

 private:
  using Clock = std::chrono::steady_clock;
  LayoutJob(MapGraph graph, std::optional<CacheKey> key, LayoutOptions options);
  void Begin();
  State Finish();
  State Fail(std::string why);
  // Drops the child and every descriptor; End also records how the job ended.
  void Release();
  void End(State state);
  void ReleaseRequest();
  int Milliseconds() const;

  MapGraph graph_;
  std::optional<CacheKey> key_;
  LayoutOptions options_;
  std::string requestBytes_;
  std::string cachePath_;
  std::string engine_;
  State state_ = State::Running;
  Phase phase_ = Phase::Starting;
  Clock::time_point started_;
  Clock::time_point ended_;
  std::unique_ptr<store::IsolatedProcess> child_;
  int requestFd_ = -1;
  int progressRead_ = -1;
  int progressWrite_ = -1;
  MapLayout layout_;
  std::string failure_;
  std::string cacheProblem_;
};

}  // namespace lanewright::layout
