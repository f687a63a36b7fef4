#pragma once

#include <cstdint>
#include <string>

namespace lanewright::store {

// Result codes are the ones a COM database provider returns, kept as signed 32-bit
// numbers because that is how users see them ("failed with hr=-2147467259").
using HResult = std::int32_t;

inline constexpr HResult S_OK = 0;
// Reported by MoveNext when the table has no more rows.
inline constexpr HResult DB_S_ENDOFROWSET = 0x00040EC6;
inline constexpr HResult E_FAIL = static_cast<HResult>(0x80004005u);
inline constexpr HResult DB_E_NOTABLE = static_cast<HResult>(0x80040E37u);
inline constexpr HResult DB_E_BADORDINAL = static_cast<HResult>(0x80040E55u);
inline constexpr HResult DB_E_UNSUPPORTEDCONVERSION = static_cast<HResult>(0x80040E1Du);

// A failure as the store reports it: the code the user sees in the output box and a
// sentence that says in words what went wrong (for stderr and the status line).
struct StoreError {
  HResult code = S_OK;
  std::string reason;

  bool Failed() const { return code < 0; }
};

}  // namespace lanewright::store
