#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "server/RegistryStore.h"

namespace lanewright::server {

// The text form of a registry, one line per key and per value:
//
//   lanewright-registry 1
//   [HKEY_CLASSES_ROOT\AppID\Lanewright.EXE]
//   "AppID"=string:"{61A7787A-...}"
//   ""=dword:7                    (the empty name is the key's default value)
//   "Data"=binary:00ff
//   end
//
// A key line comes after the line of its parent. In names and string data the bytes '%',
// '"', '\', the control characters and DEL are written as %XX. The closing "end" line tells
// a complete file from a cut-off one.
std::string WriteRegistryText(RegistryStore& store);
// Adds the keys and values of text to an empty store. On damaged text returns false and
// says why (with the line number); the store may then hold part of the text.
bool ReadRegistryText(std::string_view text, RegistryStore& store, std::string* error);

// $XDG_CONFIG_HOME/lanewright/registry, or ~/.config/lanewright/registry when that variable
// is unset, empty or not an absolute path. Nullopt (with a reason) when there is no home.
std::optional<std::string> DefaultRegistryPath(std::string* error);

// A registry kept in a text file. The file is read when the store is opened and written by
// Save(): into a temporary file in the same folder that is then renamed over the old one,
// so the file on disk is always either the old or the new registry, never a mixture. While
// the object lives it holds a lock (on "<path>.lock") that keeps other Lanewright processes
// from interleaving their read-change-write with ours.
class FileRegistryStore : public MemoryRegistryStore {
 public:
  // A missing file is an empty registry. A file that cannot be read or is damaged gives
  // nullptr and the reason; the file is left as it is.
  static std::unique_ptr<FileRegistryStore> Open(const std::string& path, std::string* error);
  ~FileRegistryStore() override;

  // Writes the registry when anything changed since it was read or last saved.
  bool Save(std::string* error);
  const std::string& path() const { return path_; }

 private:
  FileRegistryStore(std::string path, int lockFd);

  std::string path_;
  int lockFd_;
  std::uint64_t savedChanges_ = 0;
};

}  // namespace lanewright::server
