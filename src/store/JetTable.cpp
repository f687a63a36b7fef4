#include "store/JetTable.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

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

  HResult Next(Row& row) override {
    if (done_ != S_OK) return done_;
    ChildMessage message;
    switch (child_->Receive(message)) {
      case IsolatedProcess::Status::Failed:
        return Finish(ChildFailure(*child_, path_));
      case IsolatedProcess::Status::End:
        return Finish(
            {E_FAIL, path_ + ": damaged Jet file: the reader stopped before the last row"});
      case IsolatedProcess::Status::Message:
        break;
    }
    if (message.tag == kRow) {
      if (DecodeRow(message.payload, row)) return S_OK;
      return Finish({E_FAIL, path_ + ": damaged Jet file: the reader sent a malformed row"});
    }
    if (message.tag == kEnd) {
      if (child_->Receive(message) == IsolatedProcess::Status::End) {
        child_.reset();
        return done_ = DB_S_ENDOFROWSET;
      }
      return Finish(ChildFailure(*child_, path_));
    }
    if (message.tag == kError) {
      StoreError e = DecodeError(message.payload, path_);
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

  bool DecodeRow(const std::string& payload, Row& row) const {
    PayloadReader in(payload);
    row.resize(columns_.size());
    for (auto& cell : row) {
      std::uint8_t kind = 0;
      if (!in.U8(kind)) return false;
      switch (kind) {
        case kNull:
          cell = std::monostate{};
          break;
        case kInt: {
          std::uint64_t v = 0;
          if (!in.U64(v)) return false;
          cell = static_cast<std::int64_t>(v);
          break;
        }
        case kReal: {
          std::uint64_t v = 0;
          if (!in.U64(v)) return false;
          cell = AsDouble(v);
          break;
        }
        case kText: {
          std::string s;
          if (!in.Bytes(s)) return false;
          cell = std::move(s);
          break;
        }
        case kBytes: {
          std::string s;
          if (!in.Bytes(s)) return false;
          cell = Blob{std::vector<std::uint8_t>(s.begin(), s.end())};
          break;
        }
        default:
          return false;
      }
    }
    return in.AtEnd();
  }

  std::unique_ptr<IsolatedProcess> child_;
  std::vector<ColumnInfo> columns_;
  std::string path_;
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

std::string SelfPath() {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  return n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string();
}

// The reader program sits beside the running executable once installed; in a build tree
// it is where this build put it.
std::string FindReaderProgram() {
  const std::string self = SelfPath();
  if (const auto slash = self.rfind('/'); slash != std::string::npos) {
    const std::string beside = self.substr(0, slash + 1) + "lanewright-jet-reader";
    if (::access(beside.c_str(), X_OK) == 0) return beside;
  }
#ifdef LANEWRIGHT_JET_READER_PATH
  if (::access(LANEWRIGHT_JET_READER_PATH, X_OK) == 0) return LANEWRIGHT_JET_READER_PATH;
#endif
  return {};
}

// Checks what can be checked without libmdb, so that plainly wrong files get a precise
// reason and no child process.
bool CheckHeader(const std::string& path, StoreError& err) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    err = {E_FAIL, fmt::format("{}: {}", path, std::strerror(errno))};
    return false;
  }
  struct stat st {};
  unsigned char head[0x18] = {};
  const bool statOk = ::fstat(fd, &st) == 0;
  const ssize_t got = statOk && S_ISREG(st.st_mode) ? ::pread(fd, head, sizeof head, 0) : -1;
  ::close(fd);
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
  const std::string program = FindReaderProgram();
  if (program.empty()) {
    err = {E_FAIL, fmt::format("{}: Jet files cannot be read: the program lanewright-jet-reader "
                               "is missing beside {}",
                               path, SelfPath())};
    return nullptr;
  }
  // Everything the child needs is prepared here: between fork and exec it may only make
  // system calls, since another thread of ours may have held a lock when we forked.
  std::vector<std::string> args = {program, path, table};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string why;
  auto child = IsolatedProcess::Start(
      [&](ChildChannel&) {
        ::execv(argv[0], argv.data());
        return 127;
      },
      limits, why);
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