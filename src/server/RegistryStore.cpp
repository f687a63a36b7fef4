#include "server/RegistryStore.h"

#include <algorithm>
#include <cassert>
#include <utility>

namespace lanewright::server {
namespace {

struct RootKeyRow {
  const char* name;
  RootKey root;
};

constexpr RootKeyRow kRootKeyTable[] = {
    {"HKCR", RootKey::ClassesRoot},
    {"HKEY_CLASSES_ROOT", RootKey::ClassesRoot},
    {"HKCU", RootKey::CurrentUser},
    {"HKEY_CURRENT_USER", RootKey::CurrentUser},
    {"HKLM", RootKey::LocalMachine},
    {"HKEY_LOCAL_MACHINE", RootKey::LocalMachine},
    {"HKU", RootKey::Users},
    {"HKEY_USERS", RootKey::Users},
    {"HKPD", RootKey::PerformanceData},
    {"HKEY_PERFORMANCE_DATA", RootKey::PerformanceData},
    {"HKDD", RootKey::DynData},
    {"HKEY_DYN_DATA", RootKey::DynData},
    {"HKCC", RootKey::CurrentConfig},
    {"HKEY_CURRENT_CONFIG", RootKey::CurrentConfig},
};

unsigned char Fold(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

// Characters, not bytes: UTF-8 continuation bytes do not start a character.
std::size_t CharacterCount(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

bool ValidKeyName(std::string_view name) {
  return !name.empty() && CharacterCount(name) <= kMaxKeyNameLength;
}

// Splits "a\b\c" into its levels; an empty level makes the whole path invalid.
bool SplitPath(std::string_view path, std::vector<std::string_view>* parts) {
  parts->clear();
  while (true) {
    const std::size_t cut = path.find('\\');
    const std::string_view part = path.substr(0, cut);
    if (!ValidKeyName(part)) return false;
    parts->push_back(part);
    if (cut == std::string_view::npos) return true;
    path.remove_prefix(cut + 1);
  }
}

constexpr std::uint32_t kFirstRootHandle = 1;

}  // namespace

const char* RootKeyName(RootKey root) {
  for (const auto& row : kRootKeyTable) {
    if (row.root == root && row.name[2] == 'E') return row.name;
  }
  assert(false && "every root has a long name");
  return "";
}

std::optional<RootKey> LookupRootKey(std::string_view name) {
  for (const auto& row : kRootKeyTable) {
    if (NamesEqual(name, row.name)) return row.root;
  }
  return std::nullopt;
}

KeyHandle RootHandle(RootKey root) {
  return KeyHandle{kFirstRootHandle + static_cast<std::uint32_t>(root)};
}

RegistryValue RegistryValue::String(std::string_view text) {
  RegistryValue v{ValueType::String, {text.begin(), text.end()}};
  v.data.push_back(0);
  return v;
}

RegistryValue RegistryValue::Dword(std::uint32_t number) {
  return {ValueType::Dword,
          {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
           static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)}};
}

RegistryValue RegistryValue::Binary(std::vector<std::uint8_t> bytes) {
  return {ValueType::Binary, std::move(bytes)};
}

std::string RegistryValue::Text() const {
  std::string text(data.begin(), data.end());
  if (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

std::uint32_t RegistryValue::Number() const {
  std::uint32_t n = 0;
  for (std::size_t i = 0; i < 4 && i < data.size(); ++i) n |= std::uint32_t{data[i]} << (8 * i);
  return n;
}

bool NamesEqual(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Fold(x) == Fold(y); });
}

void DeleteKeyTree(RegistryStore& store, KeyHandle parent, const std::string& name) {
  KeyHandle key;
  if (store.OpenKey(parent, name, KeyAccess::All, &key) != kRegOk) return;
  std::vector<std::string> subKeys;
  std::string subKey;
  for (std::uint32_t i = 0; store.EnumKey(key, i, &subKey) == kRegOk; ++i)
    subKeys.push_back(subKey);
  for (const auto& child : subKeys) DeleteKeyTree(store, key, child);
  store.CloseKey(key);
  store.DeleteKey(parent, name);
}

bool MemoryRegistryStore::NameLess::operator()(std::string_view a, std::string_view b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return Fold(x) < Fold(y); });
}

MemoryRegistryStore::MemoryRegistryStore() {
  for (auto& root : roots_) root = std::make_shared<Node>();
}

MemoryRegistryStore::~MemoryRegistryStore() = default;

std::shared_ptr<MemoryRegistryStore::Node> MemoryRegistryStore::Resolve(KeyHandle key,
                                                                        RegError* error) const {
  std::shared_ptr<Node> node;
  if (key.value >= kFirstRootHandle && key.value < kFirstRootHandle + kRootKeyCount) {
    node = roots_[key.value - kFirstRootHandle];
  } else if (const auto it = handles_.find(key.value); it != handles_.end()) {
    node = it->second;
  }
  if (!node) {
    *error = kRegInvalidHandle;
  } else if (node->deleted) {
    *error = kRegKeyDeleted;
    node.reset();
  } else {
    *error = kRegOk;
  }
  return node;
}

RegError MemoryRegistryStore::Walk(KeyHandle parent, std::string_view subKey, bool create,
                                   std::shared_ptr<Node>* result) {
  RegError error = kRegOk;
  std::shared_ptr<Node> node = Resolve(parent, &error);
  if (!node) return error;
  std::vector<std::string_view> parts;
  if (!SplitPath(subKey, &parts)) return kRegInvalidParameter;
  for (const std::string_view part : parts) {
    const auto it = node->children.find(part);
    if (it != node->children.end()) {
      node = it->second;
      continue;
    }
    if (!create) return kRegFileNotFound;
    if (node->depth + 1 > kMaxKeyDepth) return kRegInvalidParameter;
    auto child = std::make_shared<Node>();
    child->depth = node->depth + 1;
    node->children.emplace(std::string(part), child);
    ++changes_;
    node = std::move(child);
  }
  *result = std::move(node);
  return kRegOk;
}

KeyHandle MemoryRegistryStore::Register(std::shared_ptr<Node> node) {
  const KeyHandle handle{nextHandle_++};
  handles_.emplace(handle.value, std::move(node));
  return handle;
}

RegError MemoryRegistryStore::OpenKey(KeyHandle parent, std::string_view subKey, KeyAccess,
                                      KeyHandle* result) {
  // Files carry no per-key permissions, so read access and all access open the same way.
  std::shared_ptr<Node> node;
  const RegError error = Walk(parent, subKey, false, &node);
  if (error == kRegOk) *result = Register(std::move(node));
  return error;
}

RegError MemoryRegistryStore::CreateKey(KeyHandle parent, std::string_view subKey,
                                        KeyHandle* result) {
  std::shared_ptr<Node> node;
  const RegError error = Walk(parent, subKey, true, &node);
  if (error == kRegOk) *result = Register(std::move(node));
  return error;
}

RegError MemoryRegistryStore::SetValue(KeyHandle key, std::string_view name,
                                       const RegistryValue& value) {
  RegError error = kRegOk;
  const auto node = Resolve(key, &error);
  if (!node) return error;
  const bool wellFormed =
      (value.type == ValueType::String && !value.data.empty() && value.data.back() == 0) ||
      (value.type == ValueType::Dword && value.data.size() == 4) || value.type == ValueType::Binary;
  if (!wellFormed || CharacterCount(name) > kMaxValueNameLength) return kRegInvalidParameter;
  const auto it = node->values.find(name);
  if (it != node->values.end()) {
    it->second = value;
  } else {
    node->values.emplace(std::string(name), value);
  }
  ++changes_;
  return kRegOk;
}

RegError MemoryRegistryStore::QueryValue(KeyHandle key, std::string_view name,
                                         RegistryValue* value) {
  RegError error = kRegOk;
  const auto node = Resolve(key, &error);
  if (!node) return error;
  const auto it = node->values.find(name);
  if (it == node->values.end()) return kRegFileNotFound;
  *value = it->second;
  return kRegOk;
}

RegError MemoryRegistryStore::DeleteValue(KeyHandle key, std::string_view name) {
  RegError error = kRegOk;
  const auto node = Resolve(key, &error);
  if (!node) return error;
  const auto it = node->values.find(name);
  if (it == node->values.end()) return kRegFileNotFound;
  node->values.erase(it);
  ++changes_;
  return kRegOk;
}

RegError MemoryRegistryStore::DeleteKey(KeyHandle parent, std::string_view subKey) {
  std::vector<std::string_view> parts;
  if (!SplitPath(subKey, &parts)) return kRegInvalidParameter;
  std::shared_ptr<Node> above;
  RegError error = kRegOk;
  if (parts.size() == 1) {
    above = Resolve(parent, &error);
  } else {
    const std::string_view upper = subKey.substr(0, subKey.rfind('\\'));
    error = Walk(parent, upper, false, &above);
  }
  if (error != kRegOk) return error;
  const auto it = above->children.find(parts.back());
  if (it == above->children.end()) return kRegFileNotFound;
  if (!it->second->children.empty()) return kRegAccessDenied;
  // Handles still open on the key see it as deleted from now on.
  it->second->deleted = true;
  above->children.erase(it);
  ++changes_;
  return kRegOk;
}

RegError MemoryRegistryStore::EnumKey(KeyHandle key, std::uint32_t index, std::string* name) {
  RegError error = kRegOk;
  const auto node = Resolve(key, &error);
  if (!node) return error;
  if (index >= node->children.size()) return kRegNoMoreItems;
  *name = std::next(node->children.begin(), index)->first;
  return kRegOk;
}

RegError MemoryRegistryStore::EnumValueName(KeyHandle key, std::uint32_t index, std::string* name) {
  RegError error = kRegOk;
  const auto node = Resolve(key, &error);
  if (!node) return error;
  if (index >= node->values.size()) return kRegNoMoreItems;
  *name = std::next(node->values.begin(), index)->first;
  return kRegOk;
}

RegError MemoryRegistryStore::QueryInfoKey(KeyHandle key, std::uint32_t* subKeys,
                                           std::uint32_t* values) {
  RegError error = kRegOk;
  const auto node = Resolve(key, &error);
  if (!node) return error;
  if (subKeys) *subKeys = static_cast<std::uint32_t>(node->children.size());
  if (values) *values = static_cast<std::uint32_t>(node->values.size());
  return kRegOk;
}

RegError MemoryRegistryStore::CloseKey(KeyHandle key) {
  if (key.value >= kFirstRootHandle && key.value < kFirstRootHandle + kRootKeyCount) return kRegOk;
  return handles_.erase(key.value) ? kRegOk : kRegInvalidHandle;
}

}  // namespace lanewright::server
