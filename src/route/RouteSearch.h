#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "route/ExactHeap.h"

namespace lanewright {

enum class SearchStatus {
  NotStarted = 0,
  Searching = 1,
  Succeeded = 2,
  Failed = 3,
  OutOfMemory = 4
};

// Best-first search over values of State. Contract of State (all const):
//   bool ExpandInto(RouteSearch<State>& search, const State* parent)
//       offers every successor through search.Offer; false means it failed
//   bool ReachesGoal(const State& goal)
//   float EntryCost()       cost of the step into this state, not negative
//   float Estimate()        h of a new node, not negative
//   std::size_t SystemKey() a small dense number; two states stand for the same system
//                           (one node per system) exactly when their keys are equal
//
// Which of several equally cheap paths is found depends on the exact order of the open
// list, so it is kept with std::push_heap/pop_heap, make_heap's exact equivalent (ExactHeap.h)
// and the ordering "a is below b when f(a) > f(b)", and nothing else.
//
// The open and closed lists are mirrored by an index from SystemKey to nodes, so finding
// the node of a system costs O(1) instead of a scan, with the same result as the scan:
// the open list never holds two nodes of one system, and the closed nodes of one system
// (several only after a step back into the system being expanded) are kept in the order
// of the closed list. Nodes come from a pool that has no limit of its own.
template <typename State>
class RouteSearch {
 public:
  RouteSearch() = default;
  RouteSearch(const RouteSearch&) = delete;
  RouteSearch& operator=(const RouteSearch&) = delete;

  void Begin(const State& start, const State& goal) {
    // A search abandoned half-way (or a solution never released) must not leak into the
    // next one.
    if (status_ == SearchStatus::Searching) {
      DiscardLists();
      start_ = cursor_ = nullptr;
      FreeGoal();
    } else {
      ReleaseSolution();
    }
    start_ = NewNode(start);
    goal_ = NewNode(goal);
    status_ = SearchStatus::Searching;
    start_->g = 0.0f;
    start_->h = start.Estimate();
    start_->f = start_->g + start_->h;
    PushOpen(start_);
  }

  SearchStatus Step() {
    if (status_ == SearchStatus::Succeeded || status_ == SearchStatus::Failed) return status_;
    if (openList_.empty()) {
      DiscardLists();
      start_ = cursor_ = nullptr;  // freed with the lists (or by the step that ran out of memory)
      FreeGoal();
      status_ = SearchStatus::Failed;
      return status_;
    }

    std::pop_heap(openList_.begin(), openList_.end(), Below);
    Node* n = NodeAt(openList_.back().node);
    openList_.pop_back();
    SlotOf(n).open = nullptr;

    if (n->state.ReachesGoal(goal_->state)) {
      goal_->parent = n->parent;
      goal_->state = n->state;
      if (n != start_) {
        FreeNode(n);
        for (Node* node = goal_; node != start_; node = node->parent) node->parent->child = node;
      }
      DiscardLists();
      status_ = SearchStatus::Succeeded;
      return status_;
    }

    successorList_.clear();
    const State* parentState = n->parent ? &n->parent->state : nullptr;
    if (!n->state.ExpandInto(*this, parentState)) {
      for (Node* s : successorList_) FreeNode(s);
      successorList_.clear();
      FreeNode(n);
      DiscardLists();
      start_ = cursor_ = nullptr;
      FreeGoal();
      status_ = SearchStatus::OutOfMemory;
      return status_;
    }

    for (Node* s : successorList_) {
      const float newG = s->state.EntryCost() + n->g;
      Slot& slot = SlotOf(s);
      Node* oldOpen = slot.open;
      if (oldOpen && oldOpen->g <= newG) {
        FreeNode(s);
        continue;
      }
      Node* oldClosed = slot.closedFirst;
      if (oldClosed && oldClosed->g <= newG) {
        FreeNode(s);
        continue;
      }
      s->parent = n;
      s->g = newG;
      s->h = s->state.Estimate();
      s->f = s->g + s->h;
      if (oldClosed) {
        RemoveClosed(oldClosed);
        FreeNode(oldClosed);
      }
      if (oldOpen) {
        // A cheaper path to a node still waiting: the heap must end up exactly as erase +
        // std::make_heap leaves it (see ExactHeap.h).
        openList_.erase(
            std::find_if(openList_.begin(), openList_.end(),
                         [oldOpen](const OpenEntry& e) { return e.node == oldOpen->index; }));
        MakeHeapLikeStd(openList_.data(), static_cast<std::ptrdiff_t>(openList_.size()));
        slot.open = nullptr;
        FreeNode(oldOpen);
      }
      PushOpen(s);
    }
    successorList_.clear();
    AppendClosed(n);
    return status_;
  }

  // Called by State::ExpandInto for each successor. False when no node could be made.
  bool Offer(const State& state) {
    try {
      successorList_.push_back(nullptr);
      successorList_.back() = NewNode(state);
      return true;
    } catch (const std::bad_alloc&) {
      if (!successorList_.empty() && successorList_.back() == nullptr) successorList_.pop_back();
      return false;
    }
  }

  // The path walk after Succeeded: the start state, then each following state, then null.
  const State* SolutionFirst() {
    cursor_ = start_;
    return start_ ? &start_->state : nullptr;
  }
  const State* SolutionNext() {
    if (!cursor_ || !cursor_->child) return nullptr;
    cursor_ = cursor_->child;
    return &cursor_->state;
  }

  // Frees the nodes of the found path (the start and the goal node at least). Does
  // nothing when there is no solution to release.
  void ReleaseSolution() {
    if (status_ != SearchStatus::Succeeded) return;
    if (start_ && start_->child) {
      Node* node = start_;
      while (node && node != goal_) {
        Node* next = node->child;
        FreeNode(node);
        node = next;
      }
    } else if (start_) {
      FreeNode(start_);
    }
    if (goal_) FreeNode(goal_);
    start_ = goal_ = cursor_ = nullptr;
  }

  SearchStatus Status() const { return status_; }
  // Nodes held by the search right now (lists, path, start and goal): for tests.
  std::size_t LiveNodes() const { return liveNodes_; }

 private:
  struct Node {
    Node* parent = nullptr;
    Node* child = nullptr;
    float g = 0.0f;
    float h = 0.0f;
    float f = 0.0f;
    State state{};
    // Bookkeeping of the index: the next closed node of the same system (in closed-list
    // order) and this node's place in closedList_.
    Node* nextClosed = nullptr;
    std::size_t closedPos = 0;
    bool closed = false;
    std::uint32_t index = 0;  // where the pool keeps it (see NodeAt)
  };

  struct Slot {
    Node* open = nullptr;
    Node* closedFirst = nullptr;
    Node* closedLast = nullptr;
  };

  // The open list holds f beside each node, so that the heap algorithms compare within
  // the array instead of reaching into nodes spread over memory.
  struct OpenEntry {
    float f;
    std::uint32_t node;  // NodeAt(node); half the size of a pointer entry, twice the speed
  };
  struct BelowOrder {
    bool operator()(const OpenEntry& a, const OpenEntry& b) const { return a.f > b.f; }
  };
  static constexpr BelowOrder Below{};

  void FreeGoal() {
    if (goal_) FreeNode(goal_);
    goal_ = nullptr;
  }

  Slot& SlotOf(const Node* node) {
    const std::size_t key = node->state.SystemKey();
    if (key >= slots_.size()) slots_.resize(std::max(key + 1, slots_.size() * 2));
    return slots_[key];
  }

  void PushOpen(Node* node) {
    Slot& slot = SlotOf(node);
    assert(slot.open == nullptr);
    slot.open = node;
    openList_.push_back(OpenEntry{node->f, node->index});
    std::push_heap(openList_.begin(), openList_.end(), Below);
  }

  void AppendClosed(Node* node) {
    Slot& slot = SlotOf(node);
    node->closed = true;
    node->nextClosed = nullptr;
    node->closedPos = closedList_.size();
    closedList_.push_back(node);
    if (slot.closedLast) {
      slot.closedLast->nextClosed = node;
    } else {
      slot.closedFirst = node;
    }
    slot.closedLast = node;
  }

  // Only the first closed node of a system is ever removed: it is the one a scan of the
  // closed list would have found. closedList_ itself is unordered (swap-remove): only the
  // per-system order matters.
  void RemoveClosed(Node* node) {
    Slot& slot = SlotOf(node);
    assert(slot.closedFirst == node);
    slot.closedFirst = node->nextClosed;
    if (!slot.closedFirst) slot.closedLast = nullptr;
    Node* last = closedList_.back();
    closedList_[node->closedPos] = last;
    last->closedPos = node->closedPos;
    closedList_.pop_back();
    node->closed = false;
  }

  // Frees every node of both lists that is not on a found path, and empties the lists.
  void DiscardLists() {
    for (const OpenEntry& entry : openList_) {
      Node* node = NodeAt(entry.node);
      SlotOf(node) = Slot{};
      if (!node->child) FreeNode(node);
    }
    for (Node* node : closedList_) {
      SlotOf(node) = Slot{};
      if (!node->child) FreeNode(node);
    }
    openList_.clear();
    closedList_.clear();
  }

  Node* NewNode(const State& state) {
    Node* node;
    if (!freeNodes_.empty()) {
      node = freeNodes_.back();
      freeNodes_.pop_back();
      const std::uint32_t index = node->index;
      *node = Node{};
      node->index = index;
    } else {
      if (chunkUsed_ == kChunkSize || chunks_.empty()) {
        chunks_.push_back(std::make_unique<Node[]>(kChunkSize));
        chunkUsed_ = 0;
      }
      node = &chunks_.back()[chunkUsed_];
      node->index = static_cast<std::uint32_t>((chunks_.size() - 1) * kChunkSize + chunkUsed_++);
    }
    node->state = state;
    ++liveNodes_;
    return node;
  }

  Node* NodeAt(std::uint32_t index) const {
    return &chunks_[index / kChunkSize][index % kChunkSize];
  }

  void FreeNode(Node* node) {
    freeNodes_.push_back(node);
    --liveNodes_;
  }

  static constexpr std::size_t kChunkSize = 1024;

  std::vector<OpenEntry> openList_;
  std::vector<Node*> closedList_;
  std::vector<Node*> successorList_;
  SearchStatus status_ = SearchStatus::NotStarted;
  Node* start_ = nullptr;
  Node* goal_ = nullptr;
  Node* cursor_ = nullptr;

  std::vector<Slot> slots_;
  std::vector<std::unique_ptr<Node[]>> chunks_;
  std::size_t chunkUsed_ = 0;
  std::vector<Node*> freeNodes_;
  std::size_t liveNodes_ = 0;
};

}  // namespace lanewright
