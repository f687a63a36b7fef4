#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace lanewright {

// Names stored once each and numbered densely in the order they were first added, so that
// everything built from rows compares and indexes small numbers instead of texts. Views
// handed out stay valid for the pool's lifetime (the characters never move).
class NamePool {
 public:
  using Id = std::uint32_t;

  NamePool() = default;
  NamePool(NamePool&&) = default;
  NamePool& operator=(NamePool&&) = default;
  NamePool(const NamePool&) = delete;
  NamePool& operator=(const NamePool&) = delete;

  Id Intern(std::string_view name);
  std::optional<Id> Find(std::string_view name) const;
  std::string_view Name(Id id) const { return names_[id]; }
  std::size_t size() const { return names_.size(); }

 private:
  static constexpr Id kEmptySlot = ~Id{0};
  std::size_t SlotOf(std::string_view name, std::size_t hash) const;
  void Grow();

  // Open addressing, linear probing, a power of two long; each slot holds an id and the low
  // bits of its name's hash, so that a probe compares names only when those agree.
  struct Slot {
    Id id = kEmptySlot;
    std::uint32_t hash = 0;
  };
  std::vector<std::string_view> names_;
  std::vector<Slot> slots_;
  std::vector<std::unique_ptr<char[]>> chunks_;
  std::size_t chunkUsed_ = 0;
  std::size_t chunkSize_ = 0;
};

}  // namespace lanewright
