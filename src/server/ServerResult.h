#pragma once

#include <cstdint>

#include "store/ResultCodes.h"

namespace lanewright::server {

using store::E_FAIL;
using store::HResult;
using store::S_OK;

inline constexpr HResult DISP_E_EXCEPTION = static_cast<HResult>(0x80020009u);
inline constexpr HResult E_OUTOFMEMORY = static_cast<HResult>(0x8007000Eu);
inline constexpr HResult TYPE_E_CANTLOADLIBRARY = static_cast<HResult>(0x80029C4Au);

// A system error number as a result code, as the platform reports its errors; a missing
// number still gives a failure, never success.
inline HResult HResultFromError(int error) {
  if (error <= 0) return E_FAIL;
  return static_cast<HResult>(0x80070000u | (static_cast<std::uint32_t>(error) & 0xFFFFu));
}

inline bool Failed(HResult hr) { return hr < 0; }

}  // namespace lanewright::server
