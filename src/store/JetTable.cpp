#include "store/JetTable.h"

#include <fmt/format.h>

namespace lanewright::store {

std::unique_ptr<TableReader> OpenJetTable(const std::string& path, const std::string&,
                                          StoreError& err) {
  err = {E_FAIL, fmt::format("{}: Jet files cannot be read yet", path)};
  return nullptr;
}

}  // namespace lanewright::store
