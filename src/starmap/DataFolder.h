#pragma once

#include <string>

namespace lanewright {

// The folder the empire files and the turn entry database live in: the given override
// (--data-dir), else $LANEWRIGHT_DATA_DIR, else ~/KOLVEN.
std::string DataFolder(const std::string& override = {});

// The turn entry database's fixed name inside the data folder.
inline constexpr const char* kTurnEntryFileName = "Starmere Turn Entry Data.mdb";
std::string DefaultTurnEntryPath(const std::string& dataFolderOverride = {});

}  // namespace lanewright
