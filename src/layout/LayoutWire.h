#pragma once

// What the layout process (lanewright-layout) is given and what it answers. The request is
// a file the child reads whole; the answer comes back as IsolatedProcess messages.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "layout/MapLayout.h"

namespace lanewright::layout {

// Everything GraphViz needs and nothing it does not: nodes are numbered (their names never
// reach GraphViz, so no name needs quoting), sizes are fixed boxes (no font is measured,
// which keeps layouts the same on every machine), links are unique and undirected.
struct LayoutRequest {
  std::string engine;
  std::vector<std::pair<std::string, std::string>> graphAttributes;
  std::vector<Point> nodeSizes;  // width and height in inches, GraphViz's unit for them
  std::vector<std::pair<std::uint32_t, std::uint32_t>> links;
};

std::string EncodeRequest(const LayoutRequest& request);
// False when the bytes are not a whole, consistent request (links inside the node range).
bool DecodeRequest(const std::string& bytes, LayoutRequest& request);

// Messages from the child to the parent.
enum AnswerTag : std::uint8_t {
  kPositions = 'P',  // u32 count, per node f64 x, f64 y (points, GraphViz's y-up); u64 peak KiB
  kFailure = 'X',    // the reason, as text
};

std::string EncodePositions(const std::vector<Point>& positions, std::uint64_t peakKiB);
bool DecodePositions(const std::string& payload, std::vector<Point>& positions,
                     std::uint64_t& peakKiB);

// Bytes the child writes to its progress pipe, which the parent can watch without blocking.
enum ProgressByte : char {
  kLayingOut = 'L',  // the request has been read; GraphViz is at work
  kAnswering = 'A',  // the answer follows on the message channel at once
};

}  // namespace lanewright::layout
