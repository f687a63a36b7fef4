#pragma once

#include <cstddef>

namespace lanewright {

// The open list's order decides which of several equally cheap routes is found, and it is
// defined as what the standard library's heap algorithms leave (with "a is below b when
// f(a) > f(b)"). Rebuilding after a removal is std::make_heap over the whole list; this
// computes exactly the same arrangement with less work.
//
// make_heap sifts every parent down, last parent first; a sift walks the hole down to a leaf
// along the cheaper child (the right one on a tie) and then lets the parent's entry climb back
// while the entry above it is strictly dearer. When the parent is strictly cheaper than both
// children (whose subtrees are heaps by then), every entry on that walk is strictly dearer, so
// everything climbs back to where it was: the sift changes nothing and is skipped. Any tie, or
// a dearer parent, takes the literal sift, so ties end up exactly where make_heap puts them.
// Entry needs a float member f; no NaN.
template <class Entry>
void SiftLikeMakeHeap(Entry* first, std::ptrdiff_t hole, std::ptrdiff_t len) {
  const Entry value = first[hole];
  const std::ptrdiff_t top = hole;
  std::ptrdiff_t child = hole;
  while (child < (len - 1) / 2) {
    child = 2 * (child + 1);
    if (first[child].f > first[child - 1].f) --child;
    first[hole] = first[child];
    hole = child;
  }
  if ((len & 1) == 0 && child == (len - 2) / 2) {
    child = 2 * (child + 1);
    first[hole] = first[child - 1];
    hole = child - 1;
  }
  std::ptrdiff_t parent = (hole - 1) / 2;
  while (hole > top && first[parent].f > value.f) {
    first[hole] = first[parent];
    hole = parent;
    parent = (hole - 1) / 2;
  }
  first[hole] = value;
}

template <class Entry>
void MakeHeapLikeStd(Entry* first, std::ptrdiff_t len) {
  if (len < 2) return;
  for (std::ptrdiff_t parent = (len - 2) / 2;; --parent) {
    const std::ptrdiff_t left = 2 * parent + 1;
    const float cheaperChild =
        left + 1 < len && first[left + 1].f < first[left].f ? first[left + 1].f : first[left].f;
    if (!(first[parent].f < cheaperChild)) SiftLikeMakeHeap(first, parent, len);
    if (parent == 0) return;
  }
}

}  // namespace lanewright
