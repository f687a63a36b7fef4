#include "server/FileRegistryStore.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "store/ReplaceFile.h"

namespace lanewright::server {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHeader = "lanewright-registry 1";
constexpr std::string_view kEnd = "end";
// A registry file is a few kilobytes; anything near this is not ours.
constexpr std::uintmax_t kMaxFileSize = 64u << 20;

bool NeedsEscape(unsigned char c) {
  return c < 0x20 || c == 0x7F || c == '%' || c == '"' || c == '\\';
}

std::string Encode(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (NeedsEscape(c)) {
      out += fmt::format("%{:02X}", c);
    } else {
      out += ch;
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Decode(std::string_view text, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      if (NeedsEscape(static_cast<unsigned char>(text[i]))) return false;
      *out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexDigit(text[i + 1]);
    const int low = HexDigit(text[i + 2]);
    if (high < 0 || low < 0) return false;
    *out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

void WriteValues(RegistryStore& store, KeyHandle key, std::string* out) {
  std::string name;
  for (std::uint32_t i = 0; store.EnumValueName(key, i, &name) == kRegOk; ++i) {
    RegistryValue value;
    if (store.QueryValue(key, name, &value) != kRegOk) continue;
    *out += '"' + Encode(name) + "\"=";
    switch (value.type) {
      case ValueType::String:
        *out += "string:\"" + Encode(value.Text()) + '"';
        break;
      case ValueType::Dword:
        *out += fmt::format("dword:{}", value.Number());
        break;
      case ValueType::Binary:
        *out += "binary:";
        for (const std::uint8_t b : value.data) *out += fmt::format("{:02x}", b);
        break;
    }
    *out += '\n';
  }
}

void WriteKey(RegistryStore& store, KeyHandle key, const std::string& path, bool isRoot,
              std::string* out) {
  std::uint32_t subKeys = 0, values = 0;
  store.QueryInfoKey(key, &subKeys, &values);
  if (!isRoot || values > 0) {
    *out += '[' + path + "]\n";
    WriteValues(store, key, out);
  }
  std::vector<std::string> names;
  std::string name;
  for (std::uint32_t i = 0; store.EnumKey(key, i, &name) == kRegOk; ++i) names.push_back(name);
  for (const auto& child : names) {
    KeyHandle handle;
    if (store.OpenKey(key, child, KeyAccess::Read, &handle) != kRegOk) continue;
    ScopedKey guard(store, handle);
    WriteKey(store, handle, path + '\\' + Encode(child), false, out);
  }
}

// Reads the text form line by line; every error names its line.
class RegistryTextReader {
 public:
  RegistryTextReader(RegistryStore& store, std::string* error) : store_(store), error_(error) {}

  bool Read(std::string_view text) {
    bool sawHeader = false, sawEnd = false;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
      ++lineNumber;
      const std::size_t cut = text.find('\n');
      std::string_view line = text.substr(0, cut);
      text.remove_prefix(cut == std::string_view::npos ? text.size() : cut + 1);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      line_ = lineNumber;
      if (!sawHeader) {
        if (line != kHeader) return Fail("it does not start with \"" + std::string(kHeader) + "\"");
        sawHeader = true;
        continue;
      }
      if (line.empty() || line.front() == '#') continue;
      if (sawEnd) return Fail("text after the closing \"end\" line");
      if (line == kEnd) {
        sawEnd = true;
      } else if (line.front() == '[') {
        if (!ReadKeyLine(line)) return false;
      } else if (line.front() == '"') {
        if (!ReadValueLine(line)) return false;
      } else {
        return Fail("a line that is neither a key nor a value");
      }
    }
    if (!sawHeader) return Fail("the file is empty");
    if (!sawEnd) return Fail("the file ends before its closing \"end\" line (cut off?)");
    return true;
  }

 private:
  bool Fail(const std::string& reason) {
    *error_ = line_ ? fmt::format("line {}: {}", line_, reason) : reason;
    return false;
  }

  bool ReadKeyLine(std::string_view line) {
    if (line.size() < 2 || line.back() != ']') return Fail("a key line must end with ']'");
    std::vector<std::string_view> parts;
    for (std::string_view path = line.substr(1, line.size() - 2);;) {
      const std::size_t cut = path.find('\\');
      parts.push_back(path.substr(0, cut));
      if (cut == std::string_view::npos) break;
      path.remove_prefix(cut + 1);
    }
    const auto root = LookupRootKey(parts.front());
    if (!root) return Fail("unknown root key");
    std::vector<std::string> names;
    for (std::size_t i = 1; i < parts.size(); ++i) {
      std::string name;
      if (!Decode(parts[i], &name)) return Fail("a bad %XX escape in a key name");
      if (name.empty() || name.find('\\') != std::string::npos)
        return Fail("a key name that is empty or holds a backslash");
      names.push_back(std::move(name));
    }
    current_.reset();
    if (names.empty()) {
      current_.emplace(store_, RootHandle(*root));
      return true;
    }
    std::string upper;
    for (std::size_t i = 0; i + 1 < names.size(); ++i) upper += (i ? "\\" : "") + names[i];
    KeyHandle handle;
    if (!upper.empty()) {
      if (store_.OpenKey(RootHandle(*root), upper, KeyAccess::Read, &handle) != kRegOk)
        return Fail("a key listed before its parent");
      store_.CloseKey(handle);
    }
    std::string full = upper.empty() ? names.back() : upper + '\\' + names.back();
    if (store_.OpenKey(RootHandle(*root), full, KeyAccess::Read, &handle) == kRegOk) {
      store_.CloseKey(handle);
      return Fail("a key listed twice");
    }
    if (store_.CreateKey(RootHandle(*root), full, &handle) != kRegOk)
      return Fail("a key the registry cannot hold (name too long or nested too deep)");
    current_.emplace(store_, handle);
    return true;
  }

  bool ReadValueLine(std::string_view line) {
    if (!current_) return Fail("a value before the first key");
    const std::size_t close = line.find('"', 1);
    if (close == std::string_view::npos) return Fail("a value name without its closing '\"'");
    std::string name;
    if (!Decode(line.substr(1, close - 1), &name)) return Fail("a bad %XX escape in a value name");
    std::string_view rest = line.substr(close + 1);
    if (rest.empty() || rest.front() != '=') return Fail("'=' missing after the value name");
    rest.remove_prefix(1);
    RegistryValue value;
    if (rest.starts_with("string:\"") && rest.size() >= 9 && rest.back() == '"') {
      std::string text;
      if (!Decode(rest.substr(8, rest.size() - 9), &text)) return Fail("a bad string value");
      value = RegistryValue::String(text);
    } else if (rest.starts_with("dword:") && rest.size() > 6 && rest.size() <= 16) {
      std::uint32_t n = 0;
      const char* const end = rest.data() + rest.size();
      const auto [stop, error] = std::from_chars(rest.data() + 6, end, n);
      if (error == std::errc::result_out_of_range) return Fail("a number value out of range");
      if (error != std::errc() || stop != end) return Fail("a bad number value");
      value = RegistryValue::Dword(n);
    } else if (rest.starts_with("binary:") && rest.size() % 2 == 1) {
      std::vector<std::uint8_t> bytes;
      for (std::size_t i = 7; i < rest.size(); i += 2) {
        const int high = HexDigit(rest[i]);
        const int low = HexDigit(rest[i + 1]);
        if (high < 0 || low < 0) return Fail("a bad binary value");
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
      }
      value = RegistryValue::Binary(std::move(bytes));
    } else {
      return Fail("a value that is not string:\"...\", dword:N or binary:HEX");
    }
    RegistryValue existing;
    if (store_.QueryValue(current_->get(), name, &existing) == kRegOk)
      return Fail("a value listed twice");
    if (store_.SetValue(current_->get(), name, value) != kRegOk)
      return Fail("a value the registry cannot hold");
    return true;
  }

  RegistryStore& store_;
  std::string* error_;
  std::size_t line_ = 0;
  std::optional<ScopedKey> current_;
};

std::string ErrnoText(int error) { return std::strerror(error); }

}  // namespace

std::string WriteRegistryText(RegistryStore& store) {
  std::string out = std::string(kHeader) + '\n';
  for (int i = 0; i < kRootKeyCount; ++i) {
    const auto root = static_cast<RootKey>(i);
    WriteKey(store, RootHandle(root), RootKeyName(root), true, &out);
  }
  out += std::string(kEnd) + '\n';
  return out;
}

bool ReadRegistryText(std::string_view text, RegistryStore& store, std::string* error) {
  return RegistryTextReader(store, error).Read(text);
}

std::optional<std::string> DefaultRegistryPath(std::string* error) {
  fs::path base;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config && fs::path(config).is_absolute()) {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    std::string homeText = home && *home ? home : "";
    if (homeText.empty()) {
      if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        homeText = entry->pw_dir;
    }
    if (homeText.empty()) {
      *error = "neither XDG_CONFIG_HOME nor a home folder is known";
      return std::nullopt;
    }
    base = fs::path(homeText) / ".config";
  }
  return (base / "lanewright" / "registry").string();
}

FileRegistryStore::FileRegistryStore(std::string path, int lockFd)
    : path_(std::move(path)), lockFd_(lockFd) {}

FileRegistryStore::~FileRegistryStore() {
  if (lockFd_ >= 0) ::close(lockFd_);  // closing releases the lock
}

std::unique_ptr<FileRegistryStore> FileRegistryStore::Open(const std::string& path,
                                                           std::string* error) {
  const fs::path file(path);
  std::error_code ec;
  if (file.has_parent_path()) fs::create_directories(file.parent_path(), ec);
  if (ec) {
    *error = fmt::format("cannot create the folder of {}: {}", path, ec.message());
    return nullptr;
  }
  const std::string lockPath = path + ".lock";
  const int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd < 0) {
    *error = fmt::format("cannot open {}: {}", lockPath, ErrnoText(errno));
    return nullptr;
  }
  std::unique_ptr<FileRegistryStore> store(new FileRegistryStore(path, lockFd));
  while (::flock(lockFd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      *error = fmt::format("cannot lock {}: {}", lockPath, ErrnoText(errno));
      return nullptr;
    }
  }

  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return store;  // nothing registered yet
    *error = fmt::format("cannot read {}: {}", path, ErrnoText(errno));
    return nullptr;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = fmt::format("cannot read {}: it is not a file", path);
    return nullptr;
  }
  if (static_cast<std::uintmax_t>(info.st_size) > kMaxFileSize) {
    *error = fmt::format("the registry file {} is damaged: it is far too large", path);
    return nullptr;
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  if (in.is_open()) content << in.rdbuf();
  if (!in.is_open() || in.bad()) {
    *error = fmt::format("cannot read {}", path);
    return nullptr;
  }
  std::string reason;
  if (!ReadRegistryText(content.str(), *store, &reason)) {
    *error =
        fmt::format("the registry file {} is damaged ({}); it was left as it is", path, reason);
    return nullptr;
  }
  store->savedChanges_ = store->ChangeCount();
  return store;
}

bool FileRegistryStore::Save(std::string* error) {
  if (ChangeCount() == savedChanges_) return true;
  const store::ReplaceFileResult result = store::ReplaceFile(path_, WriteRegistryText(*this));
  if (result.status != store::ReplaceFileResult::Status::Written) {
    *error = fmt::format("cannot write {}: {}", path_, result.reason);
    return false;
  }
  savedChanges_ = ChangeCount();
  return true;
}

}  // namespace lanewright::server
