#include "server/TypeLibrary.h"

#include <fmt/format.h>

#include <fstream>
#include <sstream>

#include "server/ModuleResources.h"

namespace lanewright::server {
namespace {

constexpr int kTypeLibraryResourceId = 1;

bool IsGuid(std::string_view text) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    const char c = text[i];
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (dash ? c != '-' : !hex) return false;
  }
  return true;
}

// Splits "word rest of line" at the first blank.
std::pair<std::string_view, std::string_view> SplitWord(std::string_view line) {
  const std::size_t cut = line.find(' ');
  if (cut == std::string_view::npos) return {line, {}};
  return {line.substr(0, cut), line.substr(cut + 1)};
}

bool ParseUnsigned(std::string_view text, int base, std::uint32_t* out) {
  if (text.empty() || text.size() > 8) return false;
  std::uint32_t n = 0;
  for (const char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0 || digit >= base) return false;
    n = n * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(digit);
  }
  *out = n;
  return true;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return content.str();
}

// The ".tlb" file beside the executable. Only the file name's own extension is replaced,
// never a dot in a folder name.
std::string TypeLibraryFilePath(std::string_view modulePath) {
  const std::size_t slash = modulePath.find_last_of('/');
  const std::size_t dot = modulePath.rfind('.');
  const bool hasExtension =
      dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash);
  return std::string(hasExtension ? modulePath.substr(0, dot) : modulePath) + ".tlb";
}

// The folder of the library's file, cut after its last separator.
std::string HelpDirectory(std::string_view path) {
  const std::size_t cut = path.find_last_of("\\/:");
  return cut == std::string_view::npos ? std::string() : std::string(path.substr(0, cut + 1));
}

std::string VersionKey(const TypeLibraryInfo& info) {
  return fmt::format("TypeLib\\{}\\{:x}.{:x}", info.libid, info.major, info.minor);
}

HResult SetDefault(RegistryStore& store, KeyHandle parent, const std::string& subKey,
                   std::string_view text) {
  KeyHandle key;
  if (store.CreateKey(parent, subKey, &key) != kRegOk) return E_FAIL;
  ScopedKey guard(store, key);
  return store.SetValue(key, "", RegistryValue::String(text)) == kRegOk ? S_OK : E_FAIL;
}

}  // namespace

std::optional<TypeLibraryInfo> ParseTypeLibrary(std::string_view description) {
  TypeLibraryInfo info;
  bool hasVersion = false, hasLcid = false;
  while (!description.empty()) {
    const std::size_t cut = description.find('\n');
    std::string_view line = description.substr(0, cut);
    description.remove_prefix(cut == std::string_view::npos ? description.size() : cut + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    const auto [keyword, rest] = SplitWord(line);
    if (keyword == "library") {
      info.name = rest;
    } else if (keyword == "uuid" && IsGuid(rest)) {
      info.libid = rest;
    } else if (keyword == "version") {
      const std::size_t dot = rest.find('.');
      std::uint32_t a = 0, b = 0;
      if (dot == std::string_view::npos || !ParseUnsigned(rest.substr(0, dot), 10, &a) ||
          !ParseUnsigned(rest.substr(dot + 1), 10, &b) || a > 0xFFFF || b > 0xFFFF)
        return std::nullopt;
      info.major = a;
      info.minor = b;
      hasVersion = true;
    } else if (keyword == "lcid" && rest.starts_with("0x") &&
               ParseUnsigned(rest.substr(2), 16, &info.lcid)) {
      hasLcid = true;
    } else if (keyword == "helpstring") {
      info.helpString = rest;
    } else if (keyword == "coclass") {
      const auto [name, tail] = SplitWord(rest);
      const auto [clsid, help] = SplitWord(tail);
      if (name.empty() || !IsGuid(clsid)) return std::nullopt;
      info.coclasses.push_back({std::string(name), std::string(clsid), std::string(help)});
    } else {
      return std::nullopt;
    }
  }
  if (info.name.empty() || info.libid.empty() || !hasVersion || !hasLcid) return std::nullopt;
  return info;
}

HResult LoadTypeLibrary(std::string_view modulePath, std::optional<std::string_view> embedded,
                        TypeLibraryInfo* info, std::string* loadedFrom) {
  if (embedded) {
    if (auto parsed = ParseTypeLibrary(*embedded)) {
      *info = std::move(*parsed);
      *loadedFrom = modulePath;
      return S_OK;
    }
  }
  const std::string fallback = TypeLibraryFilePath(modulePath);
  if (const auto text = ReadWholeFile(fallback)) {
    if (auto parsed = ParseTypeLibrary(*text)) {
      *info = std::move(*parsed);
      *loadedFrom = fallback;
      return S_OK;
    }
  }
  return TYPE_E_CANTLOADLIBRARY;
}

HResult RegisterTypeLibrary(RegistryStore& store, std::string_view modulePath,
                            std::optional<std::string_view> embedded) {
  TypeLibraryInfo info;
  std::string path;
  if (const HResult hr = LoadTypeLibrary(modulePath, embedded, &info, &path); Failed(hr)) return hr;
  const KeyHandle root = RootHandle(RootKey::ClassesRoot);
  const std::string version = VersionKey(info);
  // The platform files the library's path under its locale in hex ("409" for 0x409).
  const std::string win32 = fmt::format("{}\\{:x}\\win32", version, info.lcid);
  for (const auto& [subKey, text] : {std::pair{version, info.helpString}, std::pair{win32, path},
                                     std::pair{version + "\\FLAGS", std::string("0")},
                                     std::pair{version + "\\HELPDIR", HelpDirectory(path)}}) {
    if (const HResult hr = SetDefault(store, root, subKey, text); Failed(hr)) return hr;
  }
  return S_OK;
}

HResult UnregisterTypeLibrary(RegistryStore& store, std::string_view modulePath,
                              std::optional<std::string_view> embedded) {
  TypeLibraryInfo info;
  std::string path;
  if (const HResult hr = LoadTypeLibrary(modulePath, embedded, &info, &path); Failed(hr)) return hr;
  const KeyHandle root = RootHandle(RootKey::ClassesRoot);
  KeyHandle library;
  if (store.OpenKey(root, "TypeLib\\" + info.libid, KeyAccess::All, &library) != kRegOk)
    return S_OK;
  ScopedKey guard(store, library);
  DeleteKeyTree(store, library, fmt::format("{:x}.{:x}", info.major, info.minor));
  std::uint32_t subKeys = 0;
  if (store.QueryInfoKey(library, &subKeys, nullptr) == kRegOk && subKeys == 0) {
    guard.Close();
    store.DeleteKey(root, "TypeLib\\" + info.libid);
  }
  return S_OK;
}

HResult RegisterModule(RegistryStore& store, std::string_view modulePath) {
  return RegisterTypeLibrary(store, modulePath,
                             FindModuleResource("TYPELIB", kTypeLibraryResourceId));
}

HResult UnregisterModule(RegistryStore& store, std::string_view modulePath) {
  UnregisterTypeLibrary(store, modulePath, FindModuleResource("TYPELIB", kTypeLibraryResourceId));
  return S_OK;
}

}  // namespace lanewright::server
