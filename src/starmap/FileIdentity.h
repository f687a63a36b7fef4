#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lanewright {

// What tells one state of a file from another without reading it: a file replaced, rewritten
// or touched gets another identity. Rows, graphs and layouts made from a file are kept only
// while its identity stays the same.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modifiedNs = 0;  // modification time, nanoseconds since the epoch

  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file at path (symbolic links followed), or nothing when it cannot be
// looked at.
std::optional<FileIdentity> IdentityOf(const std::string& path);

}  // namespace lanewright
