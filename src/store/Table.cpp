#include "store/Table.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "store/FileDescriptor.h"
#include "store/JetTable.h"
#include "store/SqliteTable.h"

namespace lanewright::store {
namespace {

std::atomic<std::int64_t> lockWaitMs{5000};

FileFormat Refuse(FileFormat format, StoreError* err, const std::string& path,
                  std::string_view why) {
  if (err) *err = {E_FAIL, fmt::format("{}: {}", path, why)};
  return format;
}

}  // namespace

FileFormat DetectFileFormat(const std::string& path, StoreError* err) {
  // A FIFO or a device is never opened: opening a FIFO waits for a writer, and opening a
  // device may do something. stat first, then check the opened file is what stat saw.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR || path.empty())
      return Refuse(FileFormat::Missing, err, path, "no such file");
    return Refuse(FileFormat::Unreadable, err, path,
                  fmt::format("cannot be read ({})", std::strerror(error)));
  }
  if (S_ISDIR(st.st_mode))
    return Refuse(FileFormat::Folder, err, path, "is a folder, not a database file");
  if (!S_ISREG(st.st_mode)) return Refuse(FileFormat::NotRegular, err, path, "not a regular file");
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd || ::fstat(fd.get(), &st) != 0)
    return Refuse(FileFormat::Unreadable, err, path,
                  fmt::format("cannot be read ({})", std::strerror(errno)));
  if (!S_ISREG(st.st_mode)) return Refuse(FileFormat::NotRegular, err, path, "not a regular file");
  char head[20] = {};
  ssize_t got = 0;
  do {
    got = ::pread(fd.get(), head, sizeof head, 0);
  } while (got < 0 && errno == EINTR);
  if (got < 0)
    return Refuse(FileFormat::Unreadable, err, path,
                  fmt::format("cannot be read ({})", std::strerror(errno)));
  if (got >= 16 && std::memcmp(head, "SQLite format 3\0", 16) == 0) return FileFormat::Sqlite;
  if (got >= 19 && (std::memcmp(head + 4, "Standard Jet DB", 15) == 0 ||
                    std::memcmp(head + 4, "Standard ACE DB", 15) == 0))
    return FileFormat::Jet;
  return Refuse(FileFormat::Unknown, err, path, "not a Jet (.mdb) or SQLite database");
}

CellView ViewOf(const Cell& cell) {
  CellView v;
  if (const auto* i = std::get_if<std::int64_t>(&cell)) {
    v.kind = CellView::Kind::Integer;
    v.integer = *i;
  } else if (const auto* d = std::get_if<double>(&cell)) {
    v.kind = CellView::Kind::Real;
    v.real = *d;
  } else if (const auto* s = std::get_if<std::string>(&cell)) {
    v.kind = CellView::Kind::Text;
    v.bytes = *s;
  } else if (const auto* b = std::get_if<Blob>(&cell)) {
    v.kind = CellView::Kind::Bytes;
    v.bytes = {reinterpret_cast<const char*>(b->bytes.data()), b->bytes.size()};
  }
  return v;
}

Cell CopyOf(const CellView& cell) {
  switch (cell.kind) {
    case CellView::Kind::Null:
      return std::monostate{};
    case CellView::Kind::Integer:
      return cell.integer;
    case CellView::Kind::Real:
      return cell.real;
    case CellView::Kind::Text:
      return std::string(cell.bytes);
    case CellView::Kind::Bytes:
      return Blob{{cell.bytes.begin(), cell.bytes.end()}};
  }
  return std::monostate{};
}

HResult TableReader::Next(Row& row) {
  const HResult hr = NextView(cells_);
  if (hr != S_OK) return hr;
  row.resize(cells_.size());
  for (std::size_t i = 0; i < cells_.size(); ++i) row[i] = CopyOf(cells_[i]);
  return hr;
}

std::unique_ptr<TableReader> OpenTable(const std::string& path, const std::string& table,
                                       StoreError& err) {
  switch (DetectFileFormat(path, &err)) {
    case FileFormat::Sqlite:
      return OpenSqliteTable(path, table, err);
    case FileFormat::Jet:
      return OpenJetTable(path, table, err);
    default:
      return nullptr;
  }
}

std::chrono::milliseconds LockWait() { return std::chrono::milliseconds(lockWaitMs.load()); }
void SetLockWait(std::chrono::milliseconds wait) { lockWaitMs = wait.count(); }

}  // namespace lanewright::store
