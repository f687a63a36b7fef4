#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace lanewright::server {

// A file of resources/ compiled into the executable at build time.
struct ModuleResource {
  const char* type;  // "REGISTRY", "TYPELIB"
  int id;
  const unsigned char* bytes;
  std::size_t size;
};

// The resource of this type and identifier, or nullopt. The bytes live as long as the program.
std::optional<std::string_view> FindModuleResource(std::string_view type, int id);

}  // namespace lanewright::server
