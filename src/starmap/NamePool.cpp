#include "starmap/NamePool.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace lanewright {
namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;

std::size_t HashOf(std::string_view name) { return std::hash<std::string_view>{}(name); }

}  // namespace

std::size_t NamePool::SlotOf(std::string_view name, std::size_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  const auto low = static_cast<std::uint32_t>(hash);
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const Slot& s = slots_[slot];
    if (s.id == kEmptySlot || (s.hash == low && names_[s.id] == name)) return slot;
  }
}

void NamePool::Grow() {
  std::vector<Slot> slots(std::max<std::size_t>(64, slots_.size() * 2));
  const std::size_t mask = slots.size() - 1;
  for (const Slot& s : slots_) {
    if (s.id == kEmptySlot) continue;
    std::size_t slot = HashOf(names_[s.id]) & mask;
    while (slots[slot].id != kEmptySlot) slot = (slot + 1) & mask;
    slots[slot] = s;
  }
  slots_ = std::move(slots);
}

NamePool::Id NamePool::Intern(std::string_view name) {
  // Kept at most half full, so probes stay short.
  if (2 * (names_.size() + 1) > slots_.size()) Grow();
  const std::size_t hash = HashOf(name);
  const std::size_t slot = SlotOf(name, hash);
  if (slots_[slot].id != kEmptySlot) return slots_[slot].id;

  if (chunks_.empty() || name.size() > chunkSize_ - chunkUsed_) {
    chunkSize_ = std::max(kChunkBytes, name.size());
    chunks_.push_back(std::make_unique<char[]>(chunkSize_));
    chunkUsed_ = 0;
  }
  char* stored = chunks_.back().get() + chunkUsed_;
  if (!name.empty()) std::memcpy(stored, name.data(), name.size());
  chunkUsed_ += name.size();

  const auto id = static_cast<Id>(names_.size());
  names_.emplace_back(stored, name.size());
  slots_[slot] = {id, static_cast<std::uint32_t>(hash)};
  return id;
}

std::optional<NamePool::Id> NamePool::Find(std::string_view name) const {
  if (slots_.empty()) return std::nullopt;
  const Id id = slots_[SlotOf(name, HashOf(name))].id;
  if (id == kEmptySlot) return std::nullopt;
  return id;
}

}  // namespace lanewright
