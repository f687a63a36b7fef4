#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "server/RegistryStore.h"
#include "server/ServerResult.h"

namespace lanewright::server {

// The names a script may use as %NAME%, with their values; names compare without regard
// to case.
struct Replacement {
  std::string name;
  std::string value;
};
using ReplacementMap = std::vector<Replacement>;

// The one replacement Lanewright offers: "Module", the executable's path. Scripts put it
// inside apostrophes, so every apostrophe of the path is written twice.
ReplacementMap BuildReplacementMap(std::string_view modulePath);

// Replaces %NAME% by its value and "%%" by "%". A name of 32 or more characters is E_FAIL;
// an unknown name or a '%' without its closing '%' is DISP_E_EXCEPTION.
HResult PreprocessRegistryScript(std::string_view text, const ReplacementMap& replacements,
                                 std::string* out);

// Runs preprocessed script text against the store: registering enters its keys and values,
// otherwise they are removed. A registration that fails part-way removes the keys of the
// failed root block again and returns the registration's error. Text after a zero byte is
// not part of the script.
HResult InterpretRegistryScript(RegistryStore& store, std::string_view text, bool registering);

// Preprocessing and interpretation of one script text.
HResult ApplyRegistryScriptText(RegistryStore& store, std::string_view text,
                                const ReplacementMap& replacements, bool registering);

// Applies the "REGISTRY" resource with this identifier compiled into the executable, whose
// path is modulePath.
HResult ApplyRegistryScript(RegistryStore& store, int resourceId, bool registering,
                            std::string_view modulePath);

// The registry script that enters Lanewright's AppID.
inline constexpr int kApplicationScriptId = 100;

}  // namespace lanewright::server
