#include "store/Table.h"

#include <fmt/format.h>
#include <sys/stat.h>

#include <array>
#include <cstring>
#include <fstream>

#include "store/JetTable.h"
#include "store/SqliteTable.h"

namespace lanewright::store {

FileFormat DetectFileFormat(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return FileFormat::Missing;
  if (!S_ISREG(st.st_mode)) return FileFormat::Unreadable;
  std::ifstream in(path, std::ios::binary);
  if (!in) return FileFormat::Unreadable;
  std::array<char, 20> head{};
  in.read(head.data(), head.size());
  const auto got = static_cast<std::size_t>(in.gcount());
  if (got >= 16 && std::memcmp(head.data(), "SQLite format 3\0", 16) == 0)
    return FileFormat::Sqlite;
  if (got >= 19 && (std::memcmp(head.data() + 4, "Standard Jet DB", 15) == 0 ||
                    std::memcmp(head.data() + 4, "Standard ACE DB", 15) == 0))
    return FileFormat::Jet;
  return FileFormat::Unknown;
}

std::unique_ptr<TableReader> OpenTable(const std::string& path, const std::string& table,
                                       StoreError& err) {
  switch (DetectFileFormat(path)) {
    case FileFormat::Missing:
      err = {E_FAIL, fmt::format("{}: no such file", path)};
      return nullptr;
    case FileFormat::Unreadable: {
      struct stat st {};
      const bool isDir = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      err = {E_FAIL, fmt::format("{}: {}", path,
                                 isDir ? "is a folder, not a database file"
                                       : "cannot be read (no permission?)")};
      return nullptr;
    }
    case FileFormat::Unknown:
      err = {E_FAIL, fmt::format("{}: not a Jet (.mdb) or SQLite database", path)};
      return nullptr;
    case FileFormat::Sqlite:
      return OpenSqliteTable(path, table, err);
    case FileFormat::Jet:
      return OpenJetTable(path, table, err);
  }
  err = {E_FAIL, fmt::format("{}: cannot be opened", path)};
  return nullptr;
}

}  // namespace lanewright::store
