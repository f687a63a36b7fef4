#include "layout/MapLayout.h"

#include <algorithm>

namespace lanewright::layout {

Bounds BoundsOf(const std::vector<Point>& positions) {
  if (positions.empty()) return {};
  Bounds b{positions[0].x, positions[0].y, positions[0].x, positions[0].y};
  for (const Point& p : positions) {
    b.left = std::min(b.left, p.x);
    b.right = std::max(b.right, p.x);
    b.top = std::min(b.top, p.y);
    b.bottom = std::max(b.bottom, p.y);
  }
  return b;
}

}  // namespace lanewright::layout
