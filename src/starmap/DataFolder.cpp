#include "starmap/DataFolder.h"

#include <cstdlib>

namespace lanewright {

std::string DataFolder(const std::string& override) {
  if (!override.empty()) return override;
  if (const char* env = std::getenv("LANEWRIGHT_DATA_DIR"); env && *env) return env;
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/KOLVEN";
}

std::string DefaultTurnEntryPath(const std::string& dataFolderOverride) {
  return DataFolder(dataFolderOverride) + "/" + kTurnEntryFileName;
}

}  // namespace lanewright
