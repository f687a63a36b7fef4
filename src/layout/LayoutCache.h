#pragma once

#include <optional>
#include <string>
#include <vector>

#include "layout/MapLayout.h"
#include "starmap/FileIdentity.h"

namespace lanewright::layout {

// Names one set of empire files in one state. The cache keeps one file per set of files
// (named after their paths); the file is trusted only while every file still has the
// identity it had when the layout was made, and only for this layout version.
class CacheKey {
 public:
  struct File {
    std::string path;
    FileIdentity identity;
  };
  // From identities the caller already holds (the row source re-reads a file exactly when
  // its identity changes, so the map and the rows agree).
  explicit CacheKey(std::vector<File> files);
  // Looks the files up now; nothing when one of them cannot be looked at.
  static std::optional<CacheKey> ForFiles(const std::vector<std::string>& paths);

  const std::string& fileName() const { return fileName_; }
  // Everything that must match inside the cache file: layout version, paths, identities.
  const std::string& text() const { return text_; }

 private:
  std::string fileName_;
  std::string text_;
};

// $XDG_CACHE_HOME/lanewright, else ~/.cache/lanewright; empty when neither is known.
std::string CacheFolder();

// The layout cached in path, when the file is whole and was made under key for exactly
// this request (requestBytes: what the layout program was or would be given) and these
// nodes. A damaged, foreign or outdated file gives nothing; it is never trusted in part.
std::optional<MapLayout> LoadCachedLayout(const std::string& path, const CacheKey& key,
                                          const std::string& requestBytes, const MapGraph& graph);

// Replaces path atomically (a temporary file in the same folder, then a rename); on failure
// leaves no temporary file behind and says why in failure.
bool StoreCachedLayout(const std::string& path, const CacheKey& key,
                       const std::string& requestBytes, const MapGraph& graph,
                       const MapLayout& layout, std::string& failure);

}  // namespace lanewright::layout
