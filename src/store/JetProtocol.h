#pragma once

// The messages by which the Jet reader program (lanewright-jet-reader) hands a table to
// OpenJetTable: each is a tag and a payload (see IsolatedProcess.h for the framing).

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace lanewright::store::jetwire {

// Messages from the reading child to the parent.
enum Tag : std::uint8_t {
  kColumns = 'C',  // u32 count, then per column: u8 ColumnType, u32 length, name
  kRow = 'R',      // one cell per column: u8 kind, then the value
  kEnd = 'E',      // every row has been sent
  kError = 'X',    // i32 code, then the reason (without the path)
};
enum CellKind : std::uint8_t { kNull = 0, kInt = 1, kReal = 2, kText = 3, kBytes = 4 };

inline void PutU32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void PutU64(std::string& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void PutBytes(std::string& out, const void* data, std::size_t n) {
  PutU32(out, static_cast<std::uint32_t>(n));
  out.append(static_cast<const char*>(data), n);
}

// Reads a payload front to back; every read checks the bytes are there.
class PayloadReader {
 public:
  explicit PayloadReader(const std::string& payload) : p_(payload) {}
  bool U8(std::uint8_t& v) {
    if (p_.size() - pos_ < 1) return false;
    v = static_cast<std::uint8_t>(p_[pos_++]);
    return true;
  }
  bool U32(std::uint32_t& v) {
    std::uint64_t w = 0;
    if (!Little(4, w)) return false;
    v = static_cast<std::uint32_t>(w);
    return true;
  }
  bool U64(std::uint64_t& v) { return Little(8, v); }
  bool Bytes(std::string& out) {
    std::string_view view;
    if (!Bytes(view)) return false;
    out.assign(view);
    return true;
  }
  // The bytes in place: valid as long as the payload.
  bool Bytes(std::string_view& out) {
    std::uint32_t n = 0;
    if (!U32(n) || p_.size() - pos_ < n) return false;
    out = std::string_view(p_).substr(pos_, n);
    pos_ += n;
    return true;
  }
  bool AtEnd() const { return pos_ == p_.size(); }

 private:
  bool Little(int bytes, std::uint64_t& v) {
    if (p_.size() - pos_ < static_cast<std::size_t>(bytes)) return false;
    v = 0;
    for (int i = 0; i < bytes; ++i)
      v |= static_cast<std::uint64_t>(static_cast<unsigned char>(p_[pos_ + i])) << (8 * i);
    pos_ += static_cast<std::size_t>(bytes);
    return true;
  }
  const std::string& p_;
  std::size_t pos_ = 0;
};

inline double AsDouble(std::uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

}  // namespace lanewright::store::jetwire
