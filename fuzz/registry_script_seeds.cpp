// Seeds for registry_script_fuzzer: the application's own script and scripts that use
// every form of entry, each once against an empty store (first byte even) and once
// against the application's keys (odd).

#include <string>
#include <utility>
#include <vector>

#include "SeedFolder.h"
#include "server/ModuleResources.h"
#include "server/RegistryScript.h"

int main(int argc, char** argv) {
  const lanewright::fuzz::SeedFolder folder(argc, argv);
  const auto own =
      lanewright::server::FindModuleResource("REGISTRY", lanewright::server::kApplicationScriptId);
  const std::vector<std::pair<const char*, std::string>> scripts = {
      {"application", own ? std::string(*own) : std::string()},
      {"every-entry",
       "HKCR {\r\n"
       "  NoRemove AppID { ForceRemove 'Old Key' = s 'x' { Sub } Delete Gone = s 'y' }\r\n"
       "  'Types' { val Str = s 'a b''c' val Num = d '4294967295' val Bin = b '0aFf' }\r\n"
       "  Path = s '%MODULE%' '100%%' = s '%%'\r\n"
       "}\r\n"
       "HKEY_CURRENT_USER { Software { Lanewright { val Count = d 7 } } }\r\n"},
      {"never-delete", "HKCR { Delete CLSID ForceRemove TypeLib { Inner } NoRemove A { B } }"},
      {"removal-recovery", "HKCR { NoRemove P { Missing Later } Q { R { S } } val V = s v }"},
      {"value-errors", "HKCR { A { B = s 'ok' } C = b 'abc' } HKLM { D = d 99999999999 }"},
      {"roots", "HKCR { a } HKCU { b } HKLM { c } HKU { d } HKPD { e } HKDD { f } HKCC { g }"},
  };
  for (const auto& [name, script] : scripts) {
    folder.Write(std::string(name) + "-empty", '\0' + script);
    folder.Write(std::string(name) + "-registered", '\1' + script);
  }
}
