// Any bytes as a registry script, registered and then removed, against the in-memory
// store. The first byte chooses whether the store already holds the application's keys.
//
// Checked besides "no crash, no hang": every run ends with one of the interpreter's result
// codes and closes every key it opened; whatever it leaves reads back from the registry's
// text form unchanged; a script with a syntax error changes nothing when registered (the
// whole script is read before anything is entered); registering the same script twice
// gives the same registry; and a script that registered removes without an error.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server/FileRegistryStore.h"
#include "server/RegistryScript.h"
#include "server/RegistryStore.h"

namespace {

using namespace lanewright::server;

const ReplacementMap& Replacements() {
  static const ReplacementMap map = BuildReplacementMap("/opt/it's/lanewright");
  return map;
}

void Require(bool ok, const char* what, HResult hr = S_OK) {
  if (ok) return;
  std::fprintf(stderr, "registry script: %s (hr=0x%08X)\n", what, static_cast<unsigned>(hr));
  std::abort();
}

// Runs the script and checks what every run must leave behind.
HResult Apply(MemoryRegistryStore& store, std::string_view script, bool registering) {
  const HResult hr = ApplyRegistryScriptText(store, script, Replacements(), registering);
  Require(hr == S_OK || hr == DISP_E_EXCEPTION || hr == E_FAIL || hr == E_OUTOFMEMORY,
          "a result code the interpreter never gives", hr);
  Require(store.OpenHandleCount() == 0, "a key was left open", hr);
  const std::string text = WriteRegistryText(store);
  MemoryRegistryStore copy;
  std::string error;
  Require(ReadRegistryText(text, copy, &error), "the store's text form does not read back", hr);
  Require(WriteRegistryText(copy) == text, "the store's text form reads back differently", hr);
  return hr;
}

// Removal from an empty store only reads the script (every key is missing), so it fails
// exactly when the script cannot be read.
bool IsReadable(std::string_view script) {
  MemoryRegistryStore empty;
  return !Failed(ApplyRegistryScriptText(empty, script, Replacements(), false));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool startEmpty = (data[0] & 1) == 0;
  const std::string_view script(reinterpret_cast<const char*>(data + 1), size - 1);

  MemoryRegistryStore store;
  if (!startEmpty) {
    Require(ApplyRegistryScript(store, kApplicationScriptId, true, "/opt/lanewright") == S_OK,
            "the application's own script fails");
  }
  const std::string before = WriteRegistryText(store);
  const std::uint64_t changesBefore = store.ChangeCount();

  const HResult registered = Apply(store, script, true);
  if (Failed(registered) && !IsReadable(script)) {
    Require(store.ChangeCount() == changesBefore && WriteRegistryText(store) == before,
            "a script with a syntax error changed the store", registered);
  }
  if (!Failed(registered) && startEmpty) {
    const std::string once = WriteRegistryText(store);
    Require(Apply(store, script, true) == S_OK, "registering a second time fails");
    Require(WriteRegistryText(store) == once, "registering a second time changes the store");
  }

  const HResult removed = Apply(store, script, false);
  if (!Failed(registered))
    Require(!Failed(removed), "a registered script fails to remove", removed);
  return 0;
}
