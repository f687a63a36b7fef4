#pragma once

#include <vector>

#include "starmap/WarpPoint.h"
#include "store/BoundReader.h"

namespace lanewright {

// Reads the "Warp Points" table of one empire file: its first five columns by position
// (number, number, text, text, number) into record. Set record.dbFile, Open, then call
// MoveNext while it returns S_OK.
class EmpireDatabase {
 public:
  WarpPoint record;

  store::HResult Open();
  // Unreadable rows are skipped (see SkippedRows); S_OK, DB_S_ENDOFROWSET or, when the
  // file turns out to be damaged part-way, a negative code.
  store::HResult MoveNext();
  void Release() { reader_.Release(); }

  int SkippedRows() const { return reader_.SkippedRows(); }
  const store::StoreError& error() const { return reader_.error(); }

 private:
  store::BoundReader reader_;
  std::vector<store::BoundField> values_;
};

}  // namespace lanewright
