#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/RegistryStore.h"
#include "server/ServerResult.h"

namespace lanewright::server {

// What the type library says about itself (read from resources/registry/*.typelib).
struct TypeLibraryInfo {
  struct CoClass {
    std::string name;
    std::string clsid;
    std::string helpString;
  };
  std::string name;
  std::string libid;  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
  unsigned major = 0;
  unsigned minor = 0;
  std::uint32_t lcid = 0;
  std::string helpString;
  std::vector<CoClass> coclasses;
};

// Reads a type library description; nullopt when anything in it is missing or malformed.
std::optional<TypeLibraryInfo> ParseTypeLibrary(std::string_view description);

// Loads the type library of the executable at modulePath: the description compiled into it
// (embedded), else the file beside it with the extension ".tlb". Sets *loadedFrom to the
// path of the file the library came from. TYPE_E_CANTLOADLIBRARY when neither can be read.
HResult LoadTypeLibrary(std::string_view modulePath, std::optional<std::string_view> embedded,
                        TypeLibraryInfo* info, std::string* loadedFrom);

// Enters the library under HKCR\TypeLib\{libid}\<major>.<minor> as the platform's type
// library registration does: the help text as default value, <lcid in hex>\win32 = the file's path,
// FLAGS = 0 and HELPDIR = the file's folder.
HResult RegisterTypeLibrary(RegistryStore& store, std::string_view modulePath,
                            std::optional<std::string_view> embedded);
// Removes that version's key, and the library's key when no other version is left.
HResult UnregisterTypeLibrary(RegistryStore& store, std::string_view modulePath,
                              std::optional<std::string_view> embedded);

// The server's class table is empty, so registering the module means registering the type
// library compiled into the executable. RegisterModule returns that step's result;
// UnregisterModule always gives S_OK.
HResult RegisterModule(RegistryStore& store, std::string_view modulePath);
HResult UnregisterModule(RegistryStore& store, std::string_view modulePath);

}  // namespace lanewright::server
