// Seeds for registry_file_fuzzer: registry files as Lanewright writes them (after
// /RegServer, and with names and values that need escapes) and as a person might edit
// them (comments, blank lines, CRLF, lower-case escapes).

#include <string>

#include "FuzzFiles.h"
#include "server/FileRegistryStore.h"
#include "server/RegistryStore.h"
#include "server/ServerCommand.h"

using namespace lanewright::server;

int main(int argc, char** argv) {
  const lanewright::fuzz::SeedFolder folder(argc, argv);

  MemoryRegistryStore store;
  folder.Write("empty", WriteRegistryText(store));
  PerformServerCommand(store, ServerCommand::Register, "/opt/it's/lane wright");
  folder.Write("registered", WriteRegistryText(store));

  MemoryRegistryStore odd;
  KeyHandle key;
  if (odd.CreateKey(RootHandle(RootKey::Users), "a%\"]\t\x7f z\xc3\xa4\\[x]", &key) == kRegOk) {
    odd.SetValue(key, "", RegistryValue::Binary({0x00, 0xff}));
    odd.SetValue(key, "n\n", RegistryValue::Dword(4294967295u));
    odd.SetValue(key, "s", RegistryValue::String("line\r\nend \"q\" 100%"));
    odd.CloseKey(key);
  }
  odd.SetValue(RootHandle(RootKey::CurrentConfig), "root", RegistryValue::String(""));
  folder.Write("escapes", WriteRegistryText(odd));

  folder.Write("edited",
               "lanewright-registry 1\r\n# entered by hand\r\n\r\n[HKCU]\r\n\"x\"=dword:0\r\n"
               "[HKCU\\Software]\r\n[hkcu\\Software\\A%25B%2a]\r\n\"\"=binary:\r\nend\r\n");
}
