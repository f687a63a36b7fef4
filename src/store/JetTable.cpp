#include "store/JetTable.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "store/FileDescriptor.h"
#include "store/IsolatedProcess.h"
#include "store/JetProtocol.h"

namespace lanewright::store {
namespace {

using namespace jetwire;

std::string FirstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  if (line.size() > 200) line = line.substr(0, 200) + "...";
  return line;
}

class JetTableReader final : public TableReader {
 public:
  JetTableReader(std::unique_ptr<IsolatedProcess> child, std::vector<ColumnInfo> columns,
                 std::string path)
      : child_(std::move(child)), columns_(std::move(columns)), path_(std::move(path)) {}

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  const StoreError& error() const override { return error_; }

  // The child sends every column; only the limited ones are decoded and delivered.
  void LimitColumns(std::size_t n) override { width_ = std::min(n, columns_.size()); }

  HResult NextView(std::vector<CellView>& cells) override {
    if (done_ != S_OK) return done_;
    switch (child_->Receive(message_)) {
      case IsolatedProcess::Status::Failed:
        return Finish(ChildFailure(*child_, path_));
      case IsolatedProcess::Status::End:
        return Finish(
            {E_FAIL, path_ + ": damaged Jet file: the reader stopped before the last row"});
      case IsolatedProcess::Status::Message:
        break;
    }
    if (message_.tag == kRow) {
      if (DecodeRow(message_.payload, cells)) return S_OK;
      return Finish({E_FAIL, path_ + ": damaged Jet file: the reader sent a malformed row"});
    }
    if (message_.tag == kEnd) {
      if (child_->Receive(message_) == IsolatedProcess::Status::End) {
        child_.reset();
        return done_ = DB_S_ENDOFROWSET;
      }
      return Finish(ChildFailure(*child_, path_));
    }
    if (message_.tag == kError) {
      StoreError e = DecodeError(message_.payload, path_);
      e.code = E_FAIL;  // part-way through the rows, every failure is damage
      return Finish(std::move(e));
    }
    return Finish({E_FAIL, path_ + ": damaged Jet file: the reader sent a malformed message"});
  }

  static StoreError ChildFailure(const IsolatedProcess& child, const std::string& path) {
    std::string reason = fmt::format("{}: damaged Jet file: the reader {}", path, child.failure());
    const std::string said = FirstLine(child.CapturedOutput());
    if (!said.empty()) reason += fmt::format(" (its last words: \"{}\")", said);
    return {E_FAIL, std::move(reason)};
  }

  static StoreError DecodeError(const std::string& payload, const std::string& path) {
    PayloadReader in(payload);
    std::uint32_t code = 0;
    if (!in.U32(code) || static_cast<HResult>(code) >= 0)
      return {E_FAIL, path + ": damaged Jet file: the reader sent a malformed message"};
    std::string reason = payload.substr(4);
    if (reason.empty()) reason = "cannot be read";
    return {static_cast<HResult>(code), fmt::format("{}: {}", path, reason)};
  }

 private:
  HResult Finish(StoreError e) {
    error_ = std::move(e);
    child_.reset();
    return done_ = error_.code;
  }

  // Every column is checked, whether it is delivered or not: a malformed row is damage.
  bool DecodeRow(const std::string& payload, std::vector<CellView>& cells) const {
    PayloadReader in(payload);
    cells.resize(width_);
    CellView unused;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      CellView& cell = i < width_ ? cells[i] : unused;
      std::uint8_t kind = 0;
      if (!in.U8(kind)) return false;
      std::uint64_t v = 0;
      switch (kind) {
        case kNull:
          cell.kind = CellView::Kind::Null;
          break;
        case kInt:
          if (!in.U64(v)) return false;
          cell.kind = CellView::Kind::Integer;
          cell.integer = static_cast<std::int64_t>(v);
          break;
        case kReal:
          if (!in.U64(v)) return false;
          cell.kind = CellView::Kind::Real;
          cell.real = AsDouble(v);
          break;
        case kText:
        case kBytes:
          if (!in.Bytes(cell.bytes)) return false;
          cell.kind = kind == kText ? CellView::Kind::Text : CellView::Kind::Bytes;
          break;
        default:
          return false;
      }
    }
    return in.AtEnd();
  }

  std::unique_ptr<IsolatedProcess> child_;
  std::vector<ColumnInfo> columns_;
  std::string path_;
  std::size_t width_ = columns_.size();
  ChildMessage message_;  // the current row's bytes, which the cells point into
  StoreError error_;
  HResult done_ = S_OK;
};

bool DecodeColumns(const std::string& payload, std::vector<ColumnInfo>& columns) {
  PayloadReader in(payload);
  std::uint32_t count = 0;
  if (!in.U32(count) || count > 65536u) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint8_t type = 0;
    ColumnInfo info;
    if (!in.U8(type) || type > static_cast<std::uint8_t>(ColumnType::Binary) ||
        !in.Bytes(info.name))
      return false;
    info.type = static_cast<ColumnType>(type);
    columns.push_back(std::move(info));
  }
  return in.AtEnd();
}

#ifdef LANEWRIGHT_JET_READER_PATH
constexpr const char* kBuiltReader = LANEWRIGHT_JET_READER_PATH;
#else
constexpr const char* kBuiltReader = nullptr;
#endif

// Checks what can be checked without libmdb, so that plainly wrong files get a precise
// reason and no child process.
bool CheckHeader(const std::string& path, StoreError& err) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    err = {E_FAIL, fmt::format("{}: {}", path, std::strerror(errno))};
    return false;
  }
  struct stat st {};
  unsigned char head[0x18] = {};
  const bool statOk = ::fstat(fd.get(), &st) == 0;
  const ssize_t got = statOk && S_ISREG(st.st_mode) ? ::pread(fd.get(), head, sizeof head, 0) : -1;
  if (!statOk || !S_ISREG(st.st_mode) || got < 0) {
    err = {E_FAIL, fmt::format("{}: cannot be read as a file", path)};
    return false;
  }
  if (got < static_cast<ssize_t>(sizeof head) || head[0] != 0 || head[0x14] > 6) {
    err = {E_FAIL, fmt::format("{}: not a Jet database (damaged header)", path)};
    return false;
  }
  // Version 0 is Jet3 with 2 KiB pages; 1 (Jet4) to 6 (Access 2019) use 4 KiB pages.
  const long long pageSize = head[0x14] == 0 ? 2048 : 4096;
  if (st.st_size < pageSize * 3) {
    err = {E_FAIL, fmt::format("{}: damaged Jet file: {} bytes, too short for a database "
                               "(truncated?)",
                               path, static_cast<long long>(st.st_size))};
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<TableReader> OpenJetTable(const std::string& path, const std::string& table,
                                          StoreError& err) {
  return OpenJetTable(path, table, err, IsolationLimits{});
}

std::unique_ptr<TableReader> OpenJetTable(const std::string& path, const std::string& table,
                                          StoreError& err, const IsolationLimits& limits) {
  if (!CheckHeader(path, err)) return nullptr;
  const std::string program = FindHelperProgram("lanewright-jet-reader", kBuiltReader);
  if (program.empty()) {
    err = {E_FAIL, fmt::format("{}: Jet files cannot be read: the program lanewright-jet-reader "
                               "is missing beside {}",
                               path, SelfPath())};
    return nullptr;
  }
  std::string why;
  auto child = IsolatedProcess::Spawn({program, path, table}, limits, why);
  if (!child) {
    err = {E_FAIL, fmt::format("{}: {}", path, why)};
    return nullptr;
  }
  ChildMessage message;
  switch (child->Receive(message)) {
    case IsolatedProcess::Status::Failed:
      err = JetTableReader::ChildFailure(*child, path);
      return nullptr;
    case IsolatedProcess::Status::End:
      err = {E_FAIL, path + ": damaged Jet file: the reader stopped without an answer"};
      return nullptr;
    case IsolatedProcess::Status::Message:
      break;
  }
  if (message.tag == kError) {
    err = JetTableReader::DecodeError(message.payload, path);
    return nullptr;
  }
  std::vector<ColumnInfo> columns;
  if (message.tag != kColumns || !DecodeColumns(message.payload, columns)) {
    err = {E_FAIL, path + ": damaged Jet file: the reader sent a malformed message"};
    return nullptr;
  }
  return std::make_unique<JetTableReader>(std::move(child), std::move(columns), path);
}

}  // namespace lanewright::store