#include "layout/LayoutCache.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cassert>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "layout/LayoutParameters.h"
#include "store/JetProtocol.h"
#include "store/ReplaceFile.h"

namespace lanewright::layout {
namespace {

using store::jetwire::PayloadReader;
using store::jetwire::PutBytes;
using store::jetwire::PutU32;
using store::jetwire::PutU64;

constexpr char kMagic[8] = {'L', 'W', 'L', 'A', 'Y', 'O', 'U', 'T'};
constexpr std::uint32_t kFormat = 1;
// A galaxy's layout is a few megabytes; a larger file is not one of ours.
constexpr off_t kMaxFileBytes = 512 << 20;

// FNV-1a: not for security, only to name files and to notice a file damaged on disk.
std::uint64_t Fnv1a(std::string_view bytes, std::uint64_t hash = 0xcbf29ce484222325ULL) {
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

void PutText(std::string& out, std::string_view text) { PutBytes(out, text.data(), text.size()); }

void PutDouble(std::string& out, double v) { PutU64(out, std::bit_cast<std::uint64_t>(v)); }

bool ReadDouble(PayloadReader& in, double& v) {
  std::uint64_t bits = 0;
  if (!in.U64(bits)) return false;
  v = std::bit_cast<double>(bits);
  return std::isfinite(v);
}

bool ReadFile(const std::string& path, std::string& bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxFileBytes;
  if (ok) {
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0;
      if (ok) done += static_cast<std::size_t>(n);
    }
  }
  ::close(fd);
  return ok;
}

}  // namespace

CacheKey::CacheKey(std::vector<File> files) {
  for (File& file : files) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(file.path, ec);
    if (!ec) file.path = absolute.string();
  }
  std::sort(files.begin(), files.end(),
            [](const File& a, const File& b) { return a.path < b.path; });
  files.erase(std::unique(files.begin(), files.end(),
                          [](const File& a, const File& b) { return a.path == b.path; }),
              files.end());
  std::string paths;
  text_ = fmt::format("layout version {}\n", kLayoutVersion);
  for (const File& file : files) {
    paths += file.path;
    paths += '\0';
    const FileIdentity& id = file.identity;
    text_ += file.path;
    text_ += fmt::format("{}{} {} {} {}\n", '\0', id.device, id.inode, id.size, id.modifiedNs);
  }
  fileName_ = fmt::format("layout-{:016x}.bin", Fnv1a(paths));
}

std::optional<CacheKey> CacheKey::ForFiles(const std::vector<std::string>& paths) {
  std::vector<File> files;
  for (const std::string& path : paths) {
    const auto identity = IdentityOf(path);
    if (!identity) return std::nullopt;
    files.push_back({path, *identity});
  }
  return CacheKey(std::move(files));
}

std::string CacheFolder() {
  // Relative values are to be ignored, as if unset.
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/lanewright";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache/lanewright";
  return {};
}

std::optional<MapLayout> LoadCachedLayout(const std::string& path, const CacheKey& key,
                                          const std::string& requestBytes, const MapGraph& graph) {
  std::string bytes;
  if (!ReadFile(path, bytes) || bytes.size() < sizeof kMagic + 8 ||
      std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
    return std::nullopt;
  // The checksum comes first: whatever follows is only read from a file that is whole.
  const std::string_view body(bytes.data(), bytes.size() - 8);
  std::string tail = bytes.substr(body.size());
  PayloadReader tailReader(tail);
  std::uint64_t checksum = 0;
  if (!tailReader.U64(checksum) || checksum != Fnv1a(body)) return std::nullopt;

  const std::string content(body.substr(sizeof kMagic));
  PayloadReader in(content);
  std::uint32_t format = 0;
  std::string text;
  std::uint64_t requestHash = 0;
  MapLayout layout;
  std::uint32_t count = 0;
  if (!in.U32(format) || format != kFormat || !in.Bytes(text) || text != key.text() ||
      !in.U64(requestHash) || requestHash != Fnv1a(requestBytes) || !in.Bytes(layout.engine) ||
      !in.U32(count) || count != graph.nodes.size())
    return std::nullopt;
  layout.positions.resize(count);
  std::string name;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint8_t kind = 0;
    Point& p = layout.positions[i];
    if (!in.Bytes(name) || name != graph.nodes[i].name || !in.U8(kind) ||
        kind != static_cast<std::uint8_t>(graph.nodes[i].kind) || !ReadDouble(in, p.x) ||
        !ReadDouble(in, p.y))
      return std::nullopt;
  }
  if (!in.AtEnd()) return std::nullopt;
  layout.bounds = BoundsOf(layout.positions);
  layout.fromCache = true;
  return layout;
}

bool StoreCachedLayout(const std::string& path, const CacheKey& key,
                       const std::string& requestBytes, const MapGraph& graph,
                       const MapLayout& layout, std::string& failure) {
  assert(layout.positions.size() == graph.nodes.size());
  std::string bytes(kMagic, sizeof kMagic);
  PutU32(bytes, kFormat);
  PutText(bytes, key.text());
  PutU64(bytes, Fnv1a(requestBytes));
  PutText(bytes, layout.engine);
  PutU32(bytes, static_cast<std::uint32_t>(graph.nodes.size()));
  for (std::size_t i = 0; i < graph.nodes.size(); ++i) {
    PutText(bytes, graph.nodes[i].name);
    bytes += static_cast<char>(graph.nodes[i].kind);
    PutDouble(bytes, layout.positions[i].x);
    PutDouble(bytes, layout.positions[i].y);
  }
  PutU64(bytes, Fnv1a(bytes));

  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  const store::ReplaceFileResult result = store::ReplaceFile(path, bytes);
  if (result.status == store::ReplaceFileResult::Status::Written) return true;
  failure = result.reason;
  return false;
}

}  // namespace lanewright::layout
