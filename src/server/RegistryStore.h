#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lanewright::server {

// Registry operations report the registry's own error numbers (0 is success).
using RegError = std::int32_t;
inline constexpr RegError kRegOk = 0;
inline constexpr RegError kRegFileNotFound = 2;
inline constexpr RegError kRegAccessDenied = 5;
inline constexpr RegError kRegInvalidHandle = 6;
inline constexpr RegError kRegInvalidParameter = 87;
inline constexpr RegError kRegNoMoreItems = 259;
inline constexpr RegError kRegKeyDeleted = 1018;

// The registry's limits: a key name has at most 255 characters, keys nest at most 512 deep.
inline constexpr std::size_t kMaxKeyNameLength = 255;
inline constexpr std::size_t kMaxValueNameLength = 16383;
inline constexpr int kMaxKeyDepth = 512;

enum class RootKey : std::uint8_t {
  ClassesRoot,
  CurrentUser,
  LocalMachine,
  Users,
  PerformanceData,
  DynData,
  CurrentConfig,
};
inline constexpr int kRootKeyCount = 7;

// The long name of a root key ("HKEY_CLASSES_ROOT").
const char* RootKeyName(RootKey root);
// Looks a name up in the root key table: the short ("HKCR") and the long form of each
// root, compared without regard to case.
std::optional<RootKey> LookupRootKey(std::string_view name);

// An open key. Root keys have fixed handles that are always open.
struct KeyHandle {
  std::uint32_t value = 0;
  friend bool operator==(KeyHandle, KeyHandle) = default;
};
KeyHandle RootHandle(RootKey root);

enum class KeyAccess { All, Read };

enum class ValueType : std::uint32_t { String = 1, Binary = 3, Dword = 4 };

struct RegistryValue {
  ValueType type = ValueType::String;
  std::vector<std::uint8_t>
      data;  // a string ends with its zero byte; a number is 4 bytes, little-endian

  static RegistryValue String(std::string_view text);
  static RegistryValue Dword(std::uint32_t number);
  static RegistryValue Binary(std::vector<std::uint8_t> bytes);
  // The text of a string value without its terminating zero byte.
  std::string Text() const;
  std::uint32_t Number() const;
  friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

// ASCII case folding, as key and value names compare.
bool NamesEqual(std::string_view a, std::string_view b);

// The operations the script interpreter and the type library registration need, with the
// registry's semantics: names compare without regard to case and keep the case they were
// created with; a subkey path may name several levels separated by '\'; a key that still
// has subkeys cannot be deleted; the empty value name is the key's default value.
class RegistryStore {
 public:
  virtual ~RegistryStore() = default;

  virtual RegError OpenKey(KeyHandle parent, std::string_view subKey, KeyAccess access,
                           KeyHandle* result) = 0;
  // Opens the key, creating it (and any missing level above it) when it does not exist.
  virtual RegError CreateKey(KeyHandle parent, std::string_view subKey, KeyHandle* result) = 0;
  virtual RegError SetValue(KeyHandle key, std::string_view name, const RegistryValue& value) = 0;
  virtual RegError QueryValue(KeyHandle key, std::string_view name, RegistryValue* value) = 0;
  virtual RegError DeleteValue(KeyHandle key, std::string_view name) = 0;
  virtual RegError DeleteKey(KeyHandle parent, std::string_view subKey) = 0;
  // Subkeys and values are numbered from 0 in an order that stays the same while the key
  // is not changed; past the last one the result is kRegNoMoreItems.
  virtual RegError EnumKey(KeyHandle key, std::uint32_t index, std::string* name) = 0;
  virtual RegError EnumValueName(KeyHandle key, std::uint32_t index, std::string* name) = 0;
  // The number of subkeys and of values (a set default value counts as a value).
  virtual RegError QueryInfoKey(KeyHandle key, std::uint32_t* subKeys, std::uint32_t* values) = 0;
  virtual RegError CloseKey(KeyHandle key) = 0;
};

// Closes the key it holds when it goes out of scope, unless Close() was called.
class ScopedKey {
 public:
  ScopedKey(RegistryStore& store, KeyHandle key) : store_(&store), key_(key) {}
  ~ScopedKey() {
    if (open_) store_->CloseKey(key_);
  }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;

  KeyHandle get() const { return key_; }
  RegError Close() {
    open_ = false;
    return store_->CloseKey(key_);
  }

 private:
  RegistryStore* store_;
  KeyHandle key_;
  bool open_ = true;
};

// Deletes parent\name with every key below it, depth first. Failures are not reported:
// whatever cannot be deleted stays.
void DeleteKeyTree(RegistryStore& store, KeyHandle parent, const std::string& name);

// Keys and values held in memory. Tests use it directly; the file-backed store adds loading
// and saving. Every operation is virtual so that a test can make one of them fail.
class MemoryRegistryStore : public RegistryStore {
 public:
  MemoryRegistryStore();
  ~MemoryRegistryStore() override;

  RegError OpenKey(KeyHandle parent, std::string_view subKey, KeyAccess access,
                   KeyHandle* result) override;
  RegError CreateKey(KeyHandle parent, std::string_view subKey, KeyHandle* result) override;
  RegError SetValue(KeyHandle key, std::string_view name, const RegistryValue& value) override;
  RegError QueryValue(KeyHandle key, std::string_view name, RegistryValue* value) override;
  RegError DeleteValue(KeyHandle key, std::string_view name) override;
  RegError DeleteKey(KeyHandle parent, std::string_view subKey) override;
  RegError EnumKey(KeyHandle key, std::uint32_t index, std::string* name) override;
  RegError EnumValueName(KeyHandle key, std::uint32_t index, std::string* name) override;
  RegError QueryInfoKey(KeyHandle key, std::uint32_t* subKeys, std::uint32_t* values) override;
  RegError CloseKey(KeyHandle key) override;

  // Counts the changes made since construction; the file store saves only after a change.
  std::uint64_t ChangeCount() const { return changes_; }
  // Keys opened and not yet closed (roots excluded).
  std::size_t OpenHandleCount() const { return handles_.size(); }

 private:
  struct NameLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };
  struct Node {
    int depth = 0;  // a root is at depth 0
    bool deleted = false;
    std::map<std::string, std::shared_ptr<Node>, NameLess> children;
    std::map<std::string, RegistryValue, NameLess> values;
  };

  std::shared_ptr<Node> Resolve(KeyHandle key, RegError* error) const;
  RegError Walk(KeyHandle parent, std::string_view subKey, bool create,
                std::shared_ptr<Node>* result);
  KeyHandle Register(std::shared_ptr<Node> node);

  std::shared_ptr<Node> roots_[kRootKeyCount];
  std::map<std::uint32_t, std::shared_ptr<Node>> handles_;
  std::uint32_t nextHandle_ = 0x100;
  std::uint64_t changes_ = 0;
};

}  // namespace lanewright::server
