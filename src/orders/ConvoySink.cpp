#include "orders/ConvoySink.h"

#include <fmt/format.h>

#include <algorithm>
#include <limits>
#include <utility>

namespace lanewright {
namespace {

constexpr const char* kBlank = " ";

}  // namespace

ConvoySink::ConvoySink(OutputBox& output, std::int32_t empire, std::int64_t startOrder,
                       std::string fleet, bool survey, bool backSurvey)
    : output_(output),
      nextOrder_(startOrder),
      empire_(empire),
      fleet_(std::move(fleet)),
      survey_(survey),
      backSurvey_(backSurvey) {}

void ConvoySink::Append(const std::string& text) {
  if (text.empty()) return;
  output_.Append(text);
  atLineStart_ = text.back() == '\n';
}

void ConvoySink::ReportFailure(const std::string& text) { Append(text); }

void ConvoySink::Clear() {
  if (cleared_) return;
  cleared_ = true;
  output_.SetText("");
  atLineStart_ = true;
}

void ConvoySink::WriteOrder(const char* code, const std::string& argument1,
                            const std::string& argument2, const std::string& argument3,
                            const std::string& lineTail, std::string& buffer) {
  const std::int64_t number = nextOrder_;
  nextOrder_ += 10;
  buffer += fmt::format("{}, {}, {}, {}\r\n", empire_, code, number, lineTail);
  // The line still shows the number the player would expect; such a run is never stored.
  const bool fits = number <= std::numeric_limits<std::int32_t>::max();
  if (!fits) overflowed_ = true;
  orders_.push_back(OrderRow{empire_, code, fits ? static_cast<std::int32_t>(number) : 0, argument1,
                             argument2, argument3});
}

void ConvoySink::WarpStep(const std::string& system, const std::string& destination,
                          std::int32_t warpPointId, char warpClass,
                          std::span<const std::int32_t> empires, std::int32_t fuelSoFar,
                          const SystemEmpireSet& systemEmpire) {
  (void)destination, (void)warpClass, (void)fuelSoFar;
  std::string buffer;
  const std::string id = fmt::format("{}", warpPointId);
  // Both tests look at the empire data as loaded, never at orders of this run.
  const bool knowsWarpPoint = std::find(empires.begin(), empires.end(), empire_) != empires.end();
  if (survey_ && !systemEmpire.Contains(system, empire_))
    WriteOrder("SS", fleet_, kBlank, kBlank, fleet_, buffer);
  WriteOrder("MOVE", fleet_, system, id, fmt::format("{}, {}, {}", fleet_, system, id), buffer);
  if (survey_ && !knowsWarpPoint) WriteOrder("SURV", fleet_, kBlank, kBlank, fleet_, buffer);
  WriteOrder("WARP", fleet_, kBlank, kBlank, fleet_, buffer);
  if (survey_ && backSurvey_ && !knowsWarpPoint)
    WriteOrder("SURV", fleet_, kBlank, kBlank, fleet_, buffer);
  Append(buffer);
}

void ConvoySink::WriteConvoyOrder(const std::string& name) {
  std::string line;
  WriteOrder("CNVR", name, kBlank, kBlank, name, line);
  Append(line);
}

}  // namespace lanewright
