#include "layout/LayoutWire.h"

#include <bit>
#include <cmath>

#include "store/JetProtocol.h"

namespace lanewright::layout {
namespace {

// The framing helpers are the Jet reader's; only the contents differ.
using store::jetwire::PayloadReader;
using store::jetwire::PutBytes;
using store::jetwire::PutU32;
using store::jetwire::PutU64;

constexpr std::uint32_t kRequestMagic = 0x514C574C;  // "LWLQ"
// Far more than any galaxy has; a count beyond it means the bytes are not a request.
constexpr std::uint32_t kMaxCount = 1u << 22;

void PutText(std::string& out, const std::string& text) { PutBytes(out, text.data(), text.size()); }

void PutDouble(std::string& out, double v) { PutU64(out, std::bit_cast<std::uint64_t>(v)); }

bool ReadDouble(PayloadReader& in, double& v) {
  std::uint64_t bits = 0;
  if (!in.U64(bits)) return false;
  v = std::bit_cast<double>(bits);
  return std::isfinite(v);
}

}  // namespace

std::string EncodeRequest(const LayoutRequest& request) {
  std::string out;
  PutU32(out, kRequestMagic);
  PutText(out, request.engine);
  PutU32(out, static_cast<std::uint32_t>(request.graphAttributes.size()));
  for (const auto& [key, value] : request.graphAttributes) {
    PutText(out, key);
    PutText(out, value);
  }
  PutU32(out, static_cast<std::uint32_t>(request.nodeSizes.size()));
  for (const Point& size : request.nodeSizes) {
    PutDouble(out, size.x);
    PutDouble(out, size.y);
  }
  PutU32(out, static_cast<std::uint32_t>(request.links.size()));
  for (const auto& [a, b] : request.links) {
    PutU32(out, a);
    PutU32(out, b);
  }
  return out;
}

bool DecodeRequest(const std::string& bytes, LayoutRequest& request) {
  PayloadReader in(bytes);
  std::uint32_t magic = 0;
  std::uint32_t count = 0;
  if (!in.U32(magic) || magic != kRequestMagic || !in.Bytes(request.engine)) return false;
  if (!in.U32(count) || count > kMaxCount) return false;
  request.graphAttributes.resize(count);
  for (auto& [key, value] : request.graphAttributes)
    if (!in.Bytes(key) || !in.Bytes(value)) return false;
  if (!in.U32(count) || count > kMaxCount) return false;
  request.nodeSizes.resize(count);
  for (Point& size : request.nodeSizes)
    if (!ReadDouble(in, size.x) || !ReadDouble(in, size.y)) return false;
  const std::uint32_t nodes = count;
  if (!in.U32(count) || count > kMaxCount) return false;
  request.links.resize(count);
  for (auto& [a, b] : request.links)
    if (!in.U32(a) || !in.U32(b) || a >= nodes || b >= nodes) return false;
  return in.AtEnd();
}

std::string EncodePositions(const std::vector<Point>& positions, std::uint64_t peakKiB) {
  std::string out;
  out.reserve(4 + positions.size() * 16 + 8);
  PutU32(out, static_cast<std::uint32_t>(positions.size()));
  for (const Point& p : positions) {
    PutDouble(out, p.x);
    PutDouble(out, p.y);
  }
  PutU64(out, peakKiB);
  return out;
}

bool DecodePositions(const std::string& payload, std::vector<Point>& positions,
                     std::uint64_t& peakKiB) {
  PayloadReader in(payload);
  std::uint32_t count = 0;
  // The size is exact, so a bad count is caught before anything is allocated for it.
  if (!in.U32(count) || payload.size() != 4 + std::size_t{count} * 16 + 8) return false;
  positions.resize(count);
  for (Point& p : positions)
    if (!ReadDouble(in, p.x) || !ReadDouble(in, p.y)) return false;
  return in.U64(peakKiB) && in.AtEnd();
}

}  // namespace lanewright::layout
