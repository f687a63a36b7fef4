#include "server/ModuleResources.h"

namespace lanewright::server {

// Generated from resources/ by EmbedResources.cmake.
extern const ModuleResource kModuleResources[];
extern const std::size_t kModuleResourceCount;

std::optional<std::string_view> FindModuleResource(std::string_view type, int id) {
  for (std::size_t i = 0; i < kModuleResourceCount; ++i) {
    const ModuleResource& r = kModuleResources[i];
    if (r.id == id && type == r.type)
      return std::string_view(reinterpret_cast<const char*>(r.bytes), r.size);
  }
  return std::nullopt;
}

}  // namespace lanewright::server
