// Any bytes as the registry file. A file that reads is written back, and what is written
// must read again into the same registry, byte for byte; a file that does not read must
// say why.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server/FileRegistryStore.h"
#include "server/RegistryStore.h"

namespace {

using namespace lanewright::server;

void Require(bool ok, const char* what, const std::string& detail = {}) {
  if (ok) return;
  std::fprintf(stderr, "registry file: %s %s\n", what, detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  MemoryRegistryStore store;
  std::string error;
  const bool read = ReadRegistryText(text, store, &error);
  Require(store.OpenHandleCount() == 0, "a key was left open");
  if (!read) {
    Require(!error.empty(), "a damaged file without a reason");
    return 0;
  }
  const std::string written = WriteRegistryText(store);
  MemoryRegistryStore again;
  Require(ReadRegistryText(written, again, &error), "the written file does not read:", error);
  Require(WriteRegistryText(again) == written, "the written file reads differently");
  return 0;
}
