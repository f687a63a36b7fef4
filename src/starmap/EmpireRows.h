#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "starmap/FileIdentity.h"
#include "starmap/NamePool.h"
#include "store/ResultCodes.h"

namespace lanewright {

using NameId = NamePool::Id;

// One row of the "Warp Points" table as everything above the store sees it: the two names
// interned into the file's pool. column1 is read with the rest and used by nothing, so it is
// not kept.
struct WarpPoint {
  NameId system = 0;
  // The stored destination without its class letter, exactly as read (a leading '?' kept):
  // for one character that is the empty name. Meaningless when !hasDestination.
  NameId destination = 0;
  std::int32_t empire = 0;
  std::int32_t warpPointId = 0;
  char warpClass = '\0';        // the last character of the stored destination (see ClassLetter)
  bool hasDestination = false;  // false: the stored destination has zero characters
};

// The readable rows of one empire file, read once and never changed afterwards: the load,
// the route graph, the range index and the map export all take their rows from here.
class EmpireRows {
 public:
  const std::string& Path() const { return path_; }
  const FileIdentity& Identity() const { return identity_; }
  const NamePool& Names() const { return names_; }
  std::string_view Name(NameId id) const { return names_.Name(id); }
  std::span<const WarpPoint> Rows() const { return rows_; }
  // Rows that did not convert (a missing value, a text over 50 characters, ...): skipped.
  int SkippedRows() const { return skipped_; }
  // The empires of the rows, ascending, and every (system, empire) pair once.
  std::span<const std::int32_t> Empires() const { return empires_; }
  std::span<const std::pair<NameId, std::int32_t>> SystemEmpires() const { return systemEmpires_; }

 private:
  friend std::shared_ptr<const EmpireRows> ReadEmpireRows(const std::string& path,
                                                          store::StoreError& err);
  std::string path_;
  FileIdentity identity_;
  NamePool names_;
  std::vector<WarpPoint> rows_;
  int skipped_ = 0;
  std::vector<std::int32_t> empires_;
  std::vector<std::pair<NameId, std::int32_t>> systemEmpires_;
};

// Reads the "Warp Points" table of one file. A file that cannot be opened, or that turns out
// to be damaged part-way, fails whole: null, with err saying why (nothing of it is kept).
std::shared_ptr<const EmpireRows> ReadEmpireRows(const std::string& path, store::StoreError& err);

// The rows of the files a program works on, each kept while its file stays the same: a file
// is read again exactly when its identity (device, inode, size, modification time) changed, so
// every request still sees the file as it is now, and a command reads each file once.
class EmpireRowSource {
 public:
  // The rows of path, read now if new or changed. A failure forgets rows kept from before:
  // a file that turned bad is never answered from an older reading.
  std::shared_ptr<const EmpireRows> Rows(const std::string& path, store::StoreError& err);

 private:
  std::map<std::string, std::shared_ptr<const EmpireRows>> kept_;
};

}  // namespace lanewright
