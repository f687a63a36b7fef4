#include "server/RegistryScript.h"

#include <charconv>
#include <cstdint>
#include <new>

#include "server/ModuleResources.h"

namespace lanewright::server {
namespace {

constexpr std::size_t kMaxTokenLength = 4094;
constexpr std::size_t kMaxValueNameTokenLength = 259;
constexpr std::size_t kMaxReplacementNameLength = 31;
// Blocks nest no deeper than keys can; the limit also bounds the interpreter's recursion.
constexpr int kMaxBlockDepth = kMaxKeyDepth;

const char* const kNeverDeleteKeys[] = {"CLSID", "TYPELIB"};

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

bool IsWhitespace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsNeverDeleteKey(std::string_view name) {
  for (const char* key : kNeverDeleteKeys) {
    if (NamesEqual(name, key)) return true;
  }
  return false;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;  // any other character counts as 0
}

// Turns the type letter and the text of an assignment into the value to store.
HResult MakeValue(std::string_view type, std::string_view text, RegistryValue* value) {
  if (NamesEqual(type, "S")) {
    *value = RegistryValue::String(text);
    return S_OK;
  }
  if (NamesEqual(type, "D")) {
    // A number the script cannot mean (empty, not decimal, above 4294967295) is refused
    // rather than stored as some other number.
    // At most ten digits, leading zeros included.
    std::uint32_t n = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, n);
    if (text.size() > 10 || error != std::errc() || stop != end) return DISP_E_EXCEPTION;
    *value = RegistryValue::Dword(n);
    return S_OK;
  }
  if (NamesEqual(type, "B")) {
    if (text.size() % 2 != 0) return E_FAIL;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2)
      bytes.push_back(static_cast<std::uint8_t>(HexValue(text[i]) * 16 + HexValue(text[i + 1])));
    *value = RegistryValue::Binary(std::move(bytes));
    return S_OK;
  }
  return DISP_E_EXCEPTION;
}

#define RETURN_IF_FAILED(expr)   \
  do {                           \
    const HResult hr_ = (expr);  \
    if (Failed(hr_)) return hr_; \
  } while (false)

class ScriptInterpreter {
 public:
  ScriptInterpreter(RegistryStore& store, std::string_view text) : store_(store), text_(text) {}

  HResult Run(bool registering) {
    if (registering) {
      // Removing a failed block again parses it again and would stop at the same syntax
      // error, leaving the keys around that point behind. So the whole script is read once
      // without touching the store (recovery mode only reads) before anything is entered.
      RETURN_IF_FAILED(Pass(false, true));
      pos_ = 0;
    }
    return Pass(registering, false);
  }

 private:
  HResult Pass(bool registering, bool readOnly) {
    std::string token;
    while (pos_ < text_.size()) {
      RETURN_IF_FAILED(NextToken(&token));
      const auto root = LookupRootKey(token);
      if (!root) return DISP_E_EXCEPTION;
      RETURN_IF_FAILED(NextToken(&token));
      if (token.empty() || token.front() != '{') return DISP_E_EXCEPTION;
      const std::size_t blockStart = pos_;
      if (readOnly) {
        RETURN_IF_FAILED(RemoveBlock(RootHandle(*root), true, 1));
      } else if (registering) {
        const HResult hr = RegisterBlock(RootHandle(*root), 1);
        if (Failed(hr)) {
          // Take out what this block entered before it failed.
          pos_ = blockStart;
          RemoveBlock(RootHandle(*root), false, 1);
          return hr;
        }
      } else {
        RETURN_IF_FAILED(RemoveBlock(RootHandle(*root), false, 1));
      }
      SkipWhitespace();
    }
    return S_OK;
  }

  void SkipWhitespace() {
    while (pos_ < text_.size() && IsWhitespace(text_[pos_])) ++pos_;
  }

  // Reads the next token; an apostrophe starts a quoted one, in which "''" stands for "'".
  HResult NextToken(std::string* token, std::size_t maxLength = kMaxTokenLength) {
    token->clear();
    SkipWhitespace();
    if (pos_ >= text_.size()) return DISP_E_EXCEPTION;
    std::size_t length = 0;
    auto append = [&](char c) {
      if (!IsContinuationByte(c)) ++length;
      token->push_back(c);
      return length <= maxLength;
    };
    if (text_[pos_] == '\'') {
      ++pos_;
      while (true) {
        if (pos_ >= text_.size()) return DISP_E_EXCEPTION;
        if (text_[pos_] == '\'') {
          if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
            ++pos_;
          } else {
            ++pos_;
            return S_OK;
          }
        }
        if (!append(text_[pos_++])) return DISP_E_EXCEPTION;
      }
    }
    while (pos_ < text_.size() && !IsWhitespace(text_[pos_])) {
      if (!append(text_[pos_++])) return DISP_E_EXCEPTION;
    }
    return S_OK;
  }

  // Reads a key name: the registry keeps levels apart with '\', so a name may not hold one.
  HResult NextKeyName(std::string* name) {
    RETURN_IF_FAILED(NextToken(name));
    return name->find('\\') == std::string::npos ? S_OK : DISP_E_EXCEPTION;
  }

  static bool IsKeyword(std::string_view token, const char* keyword) {
    return NamesEqual(token, keyword);
  }

  static bool EndsBlock(std::string_view token) { return !token.empty() && token.front() == '}'; }

  // With *token the token after a name: when it is "=", reads past the type and the value
  // and then the next token.
  HResult SkipAssignment(std::string* token) {
    if (*token != "=") return S_OK;
    RETURN_IF_FAILED(NextToken(token));
    RETURN_IF_FAILED(NextToken(token));
    return NextToken(token);
  }

  // "Val" has been read: reads the name, "=", the type and the text.
  HResult ReadValueEntry(std::string* name, std::string* type, std::string* text) {
    RETURN_IF_FAILED(NextToken(name, kMaxValueNameTokenLength));
    std::string equals;
    RETURN_IF_FAILED(NextToken(&equals));
    if (equals != "=") return DISP_E_EXCEPTION;
    RETURN_IF_FAILED(NextToken(type));
    return NextToken(text);
  }

  bool HasSubKeys(KeyHandle key) {
    std::uint32_t subKeys = 0;
    return store_.QueryInfoKey(key, &subKeys, nullptr) == kRegOk && subKeys > 0;
  }

  // A default value alone does not make a key worth keeping.
  bool HasNamedValues(KeyHandle key) {
    std::uint32_t values = 0;
    if (store_.QueryInfoKey(key, nullptr, &values) != kRegOk || values == 0) return false;
    if (values > 1) return true;
    std::string first;
    return store_.EnumValueName(key, 0, &first) == kRegOk && !first.empty();
  }

  HResult RegisterBlock(KeyHandle parent, int depth) {
    if (depth > kMaxBlockDepth) return DISP_E_EXCEPTION;
    std::string token;
    RETURN_IF_FAILED(NextToken(&token));
    while (!EndsBlock(token)) {
      std::string name;
      if (IsKeyword(token, "ForceRemove") || IsKeyword(token, "Delete")) {
        const bool isDelete = IsKeyword(token, "Delete");
        RETURN_IF_FAILED(NextKeyName(&name));
        if (!IsNeverDeleteKey(name)) DeleteKeyTree(store_, parent, name);
        if (isDelete) {
          RETURN_IF_FAILED(NextToken(&token));
          RETURN_IF_FAILED(SkipAssignment(&token));
          continue;
        }
      } else if (IsKeyword(token, "NoRemove")) {
        RETURN_IF_FAILED(NextKeyName(&name));
      } else if (IsKeyword(token, "Val")) {
        std::string type, text;
        RETURN_IF_FAILED(ReadValueEntry(&name, &type, &text));
        RegistryValue value;
        RETURN_IF_FAILED(MakeValue(type, text, &value));
        store_.SetValue(parent, name, value);
        RETURN_IF_FAILED(NextToken(&token));
        continue;
      } else {
        name = token;
        if (name.find('\\') != std::string::npos) return DISP_E_EXCEPTION;
      }

      KeyHandle key;
      if (store_.OpenKey(parent, name, KeyAccess::All, &key) != kRegOk &&
          store_.OpenKey(parent, name, KeyAccess::Read, &key) != kRegOk &&
          store_.CreateKey(parent, name, &key) != kRegOk)
        return DISP_E_EXCEPTION;
      ScopedKey opened(store_, key);
      RETURN_IF_FAILED(NextToken(&token));
      if (token == "=") {
        std::string type, text;
        RETURN_IF_FAILED(NextToken(&type));
        RETURN_IF_FAILED(NextToken(&text));
        RegistryValue value;
        RETURN_IF_FAILED(MakeValue(type, text, &value));
        store_.SetValue(key, "", value);
        RETURN_IF_FAILED(NextToken(&token));
      }
      if (token == "{") {
        RETURN_IF_FAILED(RegisterBlock(key, depth + 1));
        RETURN_IF_FAILED(NextToken(&token));
      }
    }
    return S_OK;
  }

  HResult RemoveBlock(KeyHandle parent, bool recoverAtStart, int depth) {
    if (depth > kMaxBlockDepth) return DISP_E_EXCEPTION;
    bool recover = recoverAtStart;
    bool deletionAllowed = true;
    std::string token;
    RETURN_IF_FAILED(NextToken(&token));
    while (!EndsBlock(token)) {
      std::string name;
      if (IsKeyword(token, "ForceRemove") || IsKeyword(token, "Delete")) {
        RETURN_IF_FAILED(NextKeyName(&name));
      } else if (IsKeyword(token, "NoRemove")) {
        deletionAllowed = false;  // for this entry and every later one of the block
        RETURN_IF_FAILED(NextKeyName(&name));
      } else if (IsKeyword(token, "Val")) {
        std::string type, text;
        RETURN_IF_FAILED(ReadValueEntry(&name, &type, &text));
        if (!recover) store_.DeleteValue(parent, name);
        RETURN_IF_FAILED(NextToken(&token));
        continue;
      } else {
        name = token;
        if (name.find('\\') != std::string::npos) return DISP_E_EXCEPTION;
      }

      KeyHandle key;
      if (!recover && store_.OpenKey(parent, name, KeyAccess::Read, &key) != kRegOk)
        recover = true;  // the key is missing: only read the script from here on
      std::optional<ScopedKey> opened;
      if (!recover) opened.emplace(store_, key);

      RETURN_IF_FAILED(NextToken(&token));
      if (recover || HasSubKeys(key) || HasNamedValues(key)) {
        const bool entryRecovers = recover;
        RETURN_IF_FAILED(SkipAssignment(&token));
        if (token == "{") {
          RETURN_IF_FAILED(RemoveBlock(key, recover, depth + 1));
          RETURN_IF_FAILED(NextToken(&token));
          recover = recoverAtStart;
        }
        if (entryRecovers) continue;
        if (HasSubKeys(key)) continue;  // keys the script does not name stay, and so does this one
        if (opened->Close() != kRegOk) return DISP_E_EXCEPTION;
        if (deletionAllowed) store_.DeleteKey(parent, name);
      } else {
        if (opened->Close() != kRegOk) return DISP_E_EXCEPTION;
        if (deletionAllowed) store_.DeleteKey(parent, name);
        RETURN_IF_FAILED(SkipAssignment(&token));
        if (token == "{") {
          // Read in recovery mode, not by counting braces: a brace can be a value's text or
          // name, and registration read it as one, so removal must end the block where
          // registration did.
          RETURN_IF_FAILED(RemoveBlock(parent, true, depth + 1));
          RETURN_IF_FAILED(NextToken(&token));
        }
      }
    }
    return S_OK;
  }

  RegistryStore& store_;
  std::string_view text_;
  std::size_t pos_ = 0;
};

#undef RETURN_IF_FAILED

}  // namespace

ReplacementMap BuildReplacementMap(std::string_view modulePath) {
  std::string doubled;
  for (const char c : modulePath) {
    doubled += c;
    if (c == '\'') doubled += '\'';
  }
  return {{"Module", std::move(doubled)}};
}

HResult PreprocessRegistryScript(std::string_view text, const ReplacementMap& replacements,
                                 std::string* out) {
  out->clear();
  out->reserve(text.size() * 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    // '%' never occurs inside a multi-byte UTF-8 character, so bytes are copied one by one.
    if (text[i] != '%') {
      *out += text[i];
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '%') {
      *out += '%';
      ++i;
      continue;
    }
    const std::size_t close = text.find('%', i + 1);
    if (close == std::string_view::npos) return DISP_E_EXCEPTION;
    const std::string_view name = text.substr(i + 1, close - i - 1);
    std::size_t length = 0;
    for (const char c : name) length += IsContinuationByte(c) ? 0 : 1;
    if (length > kMaxReplacementNameLength) return E_FAIL;
    const Replacement* found = nullptr;
    for (const auto& r : replacements) {
      if (NamesEqual(r.name, name)) {
        found = &r;
        break;
      }
    }
    if (!found) return DISP_E_EXCEPTION;
    *out += found->value;
    i = close;
  }
  return S_OK;
}

HResult InterpretRegistryScript(RegistryStore& store, std::string_view text, bool registering) {
  text = text.substr(0, text.find('\0'));
  return ScriptInterpreter(store, text).Run(registering);
}

HResult ApplyRegistryScriptText(RegistryStore& store, std::string_view text,
                                const ReplacementMap& replacements, bool registering) {
  try {
    text = text.substr(0, text.find('\0'));
    std::string preprocessed;
    const HResult hr = PreprocessRegistryScript(text, replacements, &preprocessed);
    if (Failed(hr)) return hr;
    return InterpretRegistryScript(store, preprocessed, registering);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HResult ApplyRegistryScript(RegistryStore& store, int resourceId, bool registering,
                            std::string_view modulePath) {
  constexpr int kResourceNameNotFound = 1814;
  const auto script = FindModuleResource("REGISTRY", resourceId);
  if (!script) return HResultFromError(kResourceNameNotFound);
  return ApplyRegistryScriptText(store, *script, BuildReplacementMap(modulePath), registering);
}

}  // namespace lanewright::server
