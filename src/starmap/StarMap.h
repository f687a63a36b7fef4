#pragma once

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "starmap/NamePool.h"

namespace lanewright {

// Every (system name, empire) pair the loads have seen: order generation asks whether an
// empire has a row in a system. Names are kept once; pairs as numbers.
class SystemEmpireSet {
 public:
  void Insert(std::string_view system, std::int32_t empire) {
    pairs_.insert(Key(names_.Intern(system), empire));
  }
  bool Contains(std::string_view system, std::int32_t empire) const {
    const auto id = names_.Find(system);
    return id && pairs_.count(Key(*id, empire)) != 0;
  }
  std::size_t size() const { return pairs_.size(); }

 private:
  static std::uint64_t Key(NamePool::Id id, std::int32_t empire) {
    return std::uint64_t{id} << 32 | static_cast<std::uint32_t>(empire);
  }
  NamePool names_;
  std::unordered_set<std::uint64_t> pairs_;
};

// What the program knows of the empire data between two commands. Names and paths are
// ordered byte-wise (std::string compares bytes as unsigned values, a prefix first).
struct StarMap {
  std::set<std::string> avoidSystems;
  std::set<std::string> databaseFiles;
  // Grow over every load while the program runs; never emptied.
  std::set<std::int32_t> empires;
  SystemEmpireSet systemEmpire;
};

// The To list's entry that stands for any unsurveyed system, and the Visit list's entry that
// means no system to visit.
inline constexpr std::string_view kAnyUnsurveyed = "XX";
inline constexpr std::string_view kNoVisit = "[none]";

// What a load puts into the four system lists: every system and destination name once, in
// byte order. From and Avoid show exactly these; To also "XX", Visit also "[none]" (the lists
// sort themselves, so the extra entries land where their sort puts them).
struct SystemLists {
  std::vector<std::string> names;

  bool Contains(std::string_view name) const {
    return std::binary_search(names.begin(), names.end(), name, std::less<>());
  }
  bool InFrom(std::string_view name) const { return Contains(name); }
  bool InTo(std::string_view name) const { return name == kAnyUnsurveyed || Contains(name); }
  bool InVisit(std::string_view name) const { return name == kNoVisit || Contains(name); }
};

}  // namespace lanewright
