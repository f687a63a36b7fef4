#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "server/FileRegistryStore.h"
#include "server/RegistryScript.h"
#include "server/RegistryStore.h"
#include "server/ServerCommand.h"
#include "server/TypeLibrary.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace lanewright::server {
namespace {

const std::string kAppId = "{61A7787A-4420-4020-A291-FC7A8913CB47}";
const std::string kLibId = "{8CC77DD9-3447-4484-AA49-A04BCBC872B2}";

std::string Dump(RegistryStore& store) { return WriteRegistryText(store); }

// Builds registry text from its key and value lines; "[HKCR" and "[HKCU" stand for the
// long root names the file has.
std::string Registry(const std::vector<std::string>& lines) {
  std::string text = "lanewright-registry 1\n";
  for (std::string line : lines) {
    if (line.starts_with("[HKCR")) line.replace(1, 4, "HKEY_CLASSES_ROOT");
    if (line.starts_with("[HKCU")) line.replace(1, 4, "HKEY_CURRENT_USER");
    text += line + "\n";
  }
  return text + "end\n";
}

void Load(RegistryStore& store, const std::vector<std::string>& lines) {
  std::string error;
  ASSERT_TRUE(ReadRegistryText(Registry(lines), store, &error)) << error;
}

HResult Apply(RegistryStore& store, const std::string& script, bool registering,
              const std::string& modulePath = "/opt/lanewright/bin/lanewright") {
  return ApplyRegistryScriptText(store, script, BuildReplacementMap(modulePath), registering);
}

// A store that cannot create one key, as a registry without the rights to it would.
struct FailingStore : MemoryRegistryStore {
  explicit FailingStore(std::string name) : name(std::move(name)) {}
  RegError CreateKey(KeyHandle parent, std::string_view subKey, KeyHandle* result) override {
    return NamesEqual(subKey, name) ? kRegAccessDenied
                                    : MemoryRegistryStore::CreateKey(parent, subKey, result);
  }
  std::string name;
};

// Removing first (nothing registered yet) changes nothing; registering twice gives the same
// keys; removing afterwards keeps the AppID key and whatever others put there.
TEST(ApplicationScript, RegistersOnceAndRemovesOnlyItsOwnKeys) {
  for (const bool foreign : {false, true}) {
    SCOPED_TRACE(foreign ? "with a foreign AppID" : "alone");
    MemoryRegistryStore store;
    if (foreign) Load(store, {"[HKCR\\AppID]", "[HKCR\\AppID\\{Other}]", "\"\"=string:\"Other\""});
    const std::string before = Dump(store);
    const std::uint64_t changes = store.ChangeCount();
    EXPECT_EQ(ApplyRegistryScript(store, kApplicationScriptId, false, "/x/lanewright"), S_OK);
    EXPECT_EQ(store.ChangeCount(), changes);
    for (int round = 0; round < 2; ++round) {
      ASSERT_EQ(ApplyRegistryScript(store, kApplicationScriptId, true, "/x/lanewright"), S_OK);
      if (!foreign) {
        EXPECT_EQ(Dump(store),
                  Registry({"[HKCR\\AppID]", "[HKCR\\AppID\\Lanewright.EXE]",
                            "\"AppID\"=string:\"" + kAppId + "\"", "[HKCR\\AppID\\" + kAppId + "]",
                            "\"\"=string:\"Lanewright\""}));
      }
    }
    EXPECT_EQ(ApplyRegistryScript(store, kApplicationScriptId, false, "/x/lanewright"), S_OK);
    EXPECT_EQ(Dump(store), foreign ? before : Registry({"[HKCR\\AppID]"}));
    EXPECT_NE(ApplyRegistryScript(store, 101, true, "/x/lanewright"), S_OK);  // no such script
  }
}

// Registry lines separated by blanks (none of these names holds one).
std::vector<std::string> Lines(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// Removing a script's keys: what was there before, the script, what is left.
TEST(Script, RemovalLeavesExactlyTheExpectedKeys) {
  const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
      {"foreign subkey keeps its parent", "[HKCR\\A] [HKCR\\A\\Mine] [HKCR\\A\\Theirs]",
       "HKCR { A { Mine } }", "[HKCR\\A] [HKCR\\A\\Theirs]"},
      {"missing key without block leaves the rest of its block", "[HKCR\\P] [HKCR\\P\\Later]",
       "HKCR { P { Missing Later } }", "[HKCR\\P] [HKCR\\P\\Later]"},
      {"missing key with block affects only that block", "[HKCR\\P] [HKCR\\P\\Later]",
       "HKCR { NoRemove P { Missing { Inner } Later } }", "[HKCR\\P]"},
      {"key with only a default value is deleted", "[HKCR\\K] \"\"=string:\"x\"",
       "HKCR { K = s 'ignored' { Never } }", ""},
      {"named value is deleted with its key", "[HKCR\\K] \"V\"=dword:1 \"Other\"=dword:2",
       "HKCR { K { val V = d 1 } }", ""},
      {"NoRemove keeps the key but not the value", "[HKCR\\K] \"V\"=dword:1 \"W\"=dword:2",
       "HKCR { NoRemove K { val V = d 1 } }", "[HKCR\\K] \"W\"=dword:2"},
      {"NoRemove protects the later entries of its block", "[HKCR\\A] [HKCR\\B] [HKCR\\C]",
       "HKCR { A NoRemove B C }", "[HKCR\\B] [HKCR\\C]"},
      {"ForceRemove and Delete name keys like any entry", "[HKCR\\F] [HKCR\\G]",
       "HKCR { ForceRemove F Delete G = s 'x' }", ""},
      {"an empty key's block ends where registration ended it", "[HKCR\\E] [HKCR\\Z]",
       "HKCR { E { R = s } Val { = s x } Z }", ""},
  };
  for (const auto& [name, before, script, after] : cases) {
    SCOPED_TRACE(name);
    MemoryRegistryStore store;
    Load(store, Lines(before));
    EXPECT_EQ(Apply(store, script, false), S_OK);
    EXPECT_EQ(Dump(store), Registry(Lines(after)));
    EXPECT_EQ(store.OpenHandleCount(), 0u);
  }
}

TEST(Script, RegistrationSemantics) {
  MemoryRegistryStore store;
  Load(store, {"[HKCR\\CLSID]", "[HKCR\\CLSID\\Keep]", "[HKCR\\Old]", "[HKCR\\Old\\Stale]",
               "[HKCR\\Gone]", "[HKCR\\Gone\\Deep]"});
  const std::string script =
      "hkey_classes_root {\r\n  delete CLSID  FORCEREMOVE Old { New }  Delete Gone = s 'x'\r\n"
      "  'Types' { VAL Str = S 'a b''c' val Num = D '4294967295' val Bin = b 'a1ZZ' }\r\n"
      "  'Path' = s '%MODULE%' '100%%' = s '%%' \r\n}";
  EXPECT_EQ(Apply(store, script, true, "/home/o'brien/lanewright"), S_OK);
  EXPECT_EQ(Dump(store), Registry({"[HKCR\\100%25]", "\"\"=string:\"%25\"", "[HKCR\\CLSID]",
                                   "[HKCR\\CLSID\\Keep]", "[HKCR\\Old]", "[HKCR\\Old\\New]",
                                   "[HKCR\\Path]", "\"\"=string:\"/home/o'brien/lanewright\"",
                                   "[HKCR\\Types]", "\"Bin\"=binary:a100",
                                   "\"Num\"=dword:4294967295", "\"Str\"=string:\"a b'c\""}));
}

// Every error in registration leaves the store as it was: the failed block is removed again.
TEST(Script, ErrorsGiveTheirCodeAndLeaveNothingBehind) {
  const std::tuple<const char*, std::string, HResult> cases[] = {
      {"UnknownRootKey", "HKXX { A }", DISP_E_EXCEPTION},
      {"MissingBrace", "HKCR A }", DISP_E_EXCEPTION},
      {"MissingEquals", "HKCR { A { val V s 'x' } }", DISP_E_EXCEPTION},
      {"UnexpectedEnd", "HKCR { A { B", DISP_E_EXCEPTION},
      {"UnterminatedQuote", "HKCR { A 'B }", DISP_E_EXCEPTION},
      {"TokenOver4094", "HKCR { A " + std::string(4095, 'k') + " }", DISP_E_EXCEPTION},
      {"LimitsAreInclusive",
       "HKCR { A { val " + std::string(259, 'v') + " = s '" + std::string(4094, 'x') + "' } }",
       S_OK},
      {"ValueNameOver259", "HKCR { A { val " + std::string(260, 'v') + " = s x } }",
       DISP_E_EXCEPTION},
      {"BackslashInKeyName", "HKCR { A { B\\C } }", DISP_E_EXCEPTION},
      {"UnknownValueType", "HKCR { A = q 'x' }", DISP_E_EXCEPTION},
      {"NumberNotDecimal", "HKCR { A = d '12x' }", DISP_E_EXCEPTION},
      {"NumberTooLarge", "HKCR { A = d 4294967296 }", DISP_E_EXCEPTION},
      {"NumberWithSign", "HKCR { A = d '-1' }", DISP_E_EXCEPTION},
      {"OddBinary", "HKCR { A = b 'abc' }", E_FAIL},
      {"ReplacementName32", "HKCR { A = s '%" + std::string(32, 'n') + "%' }", E_FAIL},
      {"UnknownReplacement", "HKCR { A = s '%" + std::string(31, 'n') + "%' }", DISP_E_EXCEPTION},
      {"UnclosedPercent", "HKCR { A = s '%MODULE' }", DISP_E_EXCEPTION},
      {"KeyTheStoreRefuses", "HKCR { A { " + std::string(256, 'n') + " } }", DISP_E_EXCEPTION},
      {"NestingBeyondTheRegistry",
       "HKCR {" + fmt::format("{}", fmt::join(std::vector<std::string>(600, " k {"), "")),
       DISP_E_EXCEPTION},
  };
  for (const auto& [name, script, expected] : cases) {
    SCOPED_TRACE(name);
    MemoryRegistryStore store;
    EXPECT_EQ(Apply(store, script, true), expected);
    EXPECT_EQ(store.OpenHandleCount(), 0u);
    if (expected == S_OK) continue;
    EXPECT_EQ(Dump(store), Registry({}));
  }
}

TEST(Script, FailedRegistrationRemovesItsRootBlockAgain) {
  FailingStore store("Broken");
  Load(store, {"[HKCR\\Shared]", "[HKCR\\Shared\\Theirs]", "[HKCU\\Earlier]"});
  const std::string script =
      "HKCU { Earlier { Mine } } "
      "HKCR { Fresh NoRemove Shared { Mine { Sub = s 'x' } } Broken Never }";
  EXPECT_EQ(Apply(store, script, true), DISP_E_EXCEPTION);
  // The first block succeeded and stays; the second is taken out again.
  EXPECT_EQ(Dump(store), Registry({"[HKCR\\Shared]", "[HKCR\\Shared\\Theirs]", "[HKCU\\Earlier]",
                                   "[HKCU\\Earlier\\Mine]"}));
  EXPECT_EQ(store.OpenHandleCount(), 0u);
}

TEST(RegistryStoreTest, BehavesLikeTheRegistry) {
  MemoryRegistryStore store;
  const KeyHandle root = RootHandle(RootKey::LocalMachine);
  KeyHandle a, again, b;
  ASSERT_EQ(store.CreateKey(root, "Software\\Lane", &a), kRegOk);
  ASSERT_EQ(store.OpenKey(root, "SOFTWARE\\lane", KeyAccess::Read, &again), kRegOk);
  ASSERT_EQ(store.CreateKey(a, "Child", &b), kRegOk);
  EXPECT_EQ(store.DeleteKey(root, "Software\\Lane"), kRegAccessDenied);  // still has a child
  EXPECT_EQ(store.DeleteKey(a, "child"), kRegOk);
  EXPECT_EQ(store.SetValue(b, "V", RegistryValue::Dword(1)), kRegKeyDeleted);
  EXPECT_EQ(store.DeleteKey(root, "Software\\Lane"), kRegOk);
  EXPECT_EQ(store.QueryInfoKey(again, nullptr, nullptr), kRegKeyDeleted);
  for (const char* bad : {"", "a\\\\b", "trailing\\"})
    EXPECT_EQ(store.CreateKey(root, bad, &b), kRegInvalidParameter) << bad;
  for (KeyHandle h : {a, again, b}) store.CloseKey(h);
  EXPECT_EQ(store.CloseKey(a), kRegInvalidHandle);
}

TEST(RegistryFile, RoundTripsAnyNamesAndValues) {
  testing::TempDir dir;
  const std::string path = dir.File("config/registry");
  const std::string oddKey = "a%\"]\n\t\x7f z\xc3\xa4";  // a key name holds no '\\'
  const std::string odd = oddKey + "\\";
  std::string error;
  auto store = FileRegistryStore::Open(path, &error);
  ASSERT_TRUE(store) << error;
  EXPECT_TRUE(store->Save(&error));
  EXPECT_FALSE(std::filesystem::exists(path)) << "nothing changed, nothing written";
  KeyHandle key;
  ASSERT_EQ(store->CreateKey(RootHandle(RootKey::Users), "[x]", &key), kRegOk);
  ASSERT_EQ(store->CreateKey(key, oddKey, &key), kRegOk);
  store->SetValue(key, odd, RegistryValue::String(odd));
  store->SetValue(key, "", RegistryValue::Binary({}));
  store->SetValue(RootHandle(RootKey::DynData), "n", RegistryValue::Dword(0));
  ASSERT_TRUE(store->Save(&error)) << error;
  store.reset();  // lets go of the lock
  auto reopened = FileRegistryStore::Open(path, &error);
  ASSERT_TRUE(reopened) << error;
  EXPECT_EQ(Dump(*reopened), testing::ReadFile(path));
  RegistryValue value;
  ASSERT_EQ(reopened->OpenKey(RootHandle(RootKey::Users), "[x]\\" + oddKey, KeyAccess::Read, &key),
            kRegOk);
  EXPECT_EQ(reopened->QueryValue(key, odd, &value), kRegOk);
  EXPECT_EQ(value.Text(), odd);
  EXPECT_EQ(reopened->QueryValue(RootHandle(RootKey::DynData), "n", &value), kRegOk);
  reopened->CloseKey(key);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("config")), {}), 2)
      << "only the registry and its lock file";
}

TEST(RegistryFile, DamagedFilesAreReportedAndLeftAlone) {
  const std::vector<std::pair<const char*, std::string>> damaged = {
      {"empty", ""},
      {"no header", "[HKEY_USERS\\A]\nend\n"},
      {"cut off", "lanewright-registry 1\n[HKEY_USERS\\A]\n"},
      {"after end", Registry({}) + "[HKEY_USERS\\A]\n"},
      {"unknown root", Registry({"[HKEY_NOWHERE\\A]"})},
      {"orphan key", Registry({"[HKEY_USERS\\A\\B]"})},
      {"key twice", Registry({"[HKEY_USERS\\A]", "[HKEY_USERS\\a]"})},
      {"value first", Registry({"\"v\"=dword:1"})},
      {"value twice", Registry({"[HKEY_USERS\\A]", "\"v\"=dword:1", "\"V\"=dword:2"})},
      {"bad escape", Registry({"[HKEY_USERS\\A%4]"})},
      {"raw quote", Registry({"[HKEY_USERS\\A]", "\"\"=string:\"a\"b\""})},
      {"number too big", Registry({"[HKEY_USERS\\A]", "\"\"=dword:4294967296"})},
      {"number not decimal", Registry({"[HKEY_USERS\\A]", "\"\"=dword:12x"})},
      {"odd binary", Registry({"[HKEY_USERS\\A]", "\"\"=binary:abc"})},
      {"unknown kind", Registry({"[HKEY_USERS\\A]", "\"\"=qword:1"})},
      {"garbage", "lanewright-registry 1\n\x01\x02\n"},
  };
  for (const auto& [what, text] : damaged) {
    SCOPED_TRACE(what);
    testing::TempDir dir;
    const std::string path = dir.File("registry");
    testing::WriteFile(path, text);
    std::string error;
    EXPECT_EQ(FileRegistryStore::Open(path, &error), nullptr);
    EXPECT_NE(error.find("damaged"), std::string::npos) << error;
    EXPECT_EQ(testing::ReadFile(path), text);
  }
}

TEST(CommandLine, FindsTheSwitchOnlyAtTheEnd) {
  const std::vector<std::pair<std::vector<const char*>, ServerCommand>> cases = {
      {{"lanewright", "-regserver"}, ServerCommand::Register},
      {{"lanewright", "/UNREGSERVER"}, ServerCommand::Unregister},
      {{"/usr/local/bin/lane-wright", "/RegServer"}, ServerCommand::Register},
      {{"/opt/x/-/RegServer"}, ServerCommand::Register},  // the path alone ends in the switch
      {{"lanewright", "/RegServer", "x"}, ServerCommand::None},
      {{"lanewright", "/RegServer", "/other"}, ServerCommand::None},
      {{"lanewright", "/RegServer "}, ServerCommand::None},  // quoted, ends in '"'
      {{"lanewright", "RegServer"}, ServerCommand::None},
      {{"lanewright", "//RegServe"}, ServerCommand::None},
      {{"/usr/bin/lanewright"}, ServerCommand::None},
  };
  for (const auto& [argv, expected] : cases) {
    const std::string line = RebuildCommandLine(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(ScanCommandLine(line), expected) << line;
  }
  const char* argv[] = {"/my dir/lanewright", "", "a\tb", "plain"};
  EXPECT_EQ(RebuildCommandLine(4, argv), "\"/my dir/lanewright\" \"\" \"a\tb\" plain");
}

// The type library registers fine here, but the AppID keys cannot be entered: the run
// must not report success, neither in its result nor in its exit code.
TEST(CommandLine, AFailureIsNeverReportedAsSuccess) {
  FailingStore store("Lanewright.EXE");
  EXPECT_EQ(PerformServerCommand(store, ServerCommand::Register, "/x/lanewright"),
            DISP_E_EXCEPTION);
  EXPECT_EQ(PerformServerCommand(store, ServerCommand::Unregister, "/x/lanewright"), S_OK);
  EXPECT_EQ(Dump(store), Registry({"[HKCR\\AppID]", "[HKCR\\TypeLib]"}));
  EXPECT_EQ(ProcessExitCode(static_cast<HResult>(0x80070100u)), 255);
}

TEST(TypeLibraryTest, RegisterAndUnregisterTheModule) {
  MemoryRegistryStore store;
  const std::string lib = "[HKCR\\TypeLib\\" + kLibId;
  Load(store, {"[HKCR\\TypeLib]", lib + "]", lib + "\\2.0]"});
  EXPECT_EQ(RegisterModule(store, "/opt/it's/lanewright"), S_OK);
  EXPECT_EQ(Dump(store),
            Registry({"[HKCR\\TypeLib]", lib + "]", lib + "\\1.0]",
                      "\"\"=string:\"Lanewright 1.0 Type Library\"", lib + "\\1.0\\409]",
                      lib + "\\1.0\\409\\win32]", "\"\"=string:\"/opt/it's/lanewright\"",
                      lib + "\\1.0\\FLAGS]", "\"\"=string:\"0\"", lib + "\\1.0\\HELPDIR]",
                      "\"\"=string:\"/opt/it's/\"", lib + "\\2.0]"}));
  EXPECT_EQ(UnregisterModule(store, "/opt/it's/lanewright"), S_OK);
  EXPECT_EQ(Dump(store), Registry({"[HKCR\\TypeLib]", lib + "]", lib + "\\2.0]"}));
}

TEST(TypeLibraryTest, FallsBackToTheTlbFileBesideTheProgram) {
  testing::TempDir dir;
  const std::string module = dir.File("lane.wright");
  MemoryRegistryStore store;
  EXPECT_EQ(RegisterTypeLibrary(store, module, "broken"), TYPE_E_CANTLOADLIBRARY);
  testing::WriteFile(dir.File("lane.tlb"),
                     "library L\nuuid {00000000-0000-0000-0000-00000000000A}\nversion 2.10\n"
                     "lcid 0x0\nhelpstring From disk\n");
  EXPECT_EQ(RegisterTypeLibrary(store, module, std::nullopt), S_OK);
  const std::string entry =
      "TypeLib\\{00000000-0000-0000-0000-00000000000A}\\2.a\\0\\win32]\n"
      "\"\"=string:\"" +
      dir.File("lane.tlb") + "\"";
  EXPECT_NE(Dump(store).find(entry), std::string::npos) << Dump(store);
}

// Runs the binary with its registry file in a fresh folder. Nothing else in this program
// reads the variable, so it is not put back.
class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1); }
  std::string RegistryFile() const { return dir_.File("lanewright/registry"); }
  testing::TempDir dir_;
};

// Unregistering leaves the two shared keys that only registration makes.
TEST_F(EndToEnd, RegServerThenUnregServer) {
  for (const char* command : {"/RegServer", "-unregserver"}) {
    const auto r = testing::RunLanewright({command});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(testing::ReadFile(RegistryFile()), Registry({"[HKCR\\AppID]", "[HKCR\\TypeLib]"}));
}

// Whatever step fails, stderr names the result code and the reason, the exit status is the
// code's low byte, and the registry file stays as it was.
TEST_F(EndToEnd, FailuresReportTheResultCode) {
  namespace fs = std::filesystem;
  const std::string registry = RegistryFile();
  const std::pair<std::function<void()>, const char*> cases[] = {
      {[&] { fs::create_directories(registry); }, "not a file"},
      {[&] { fs::create_directories(registry + ".lock"); }, "cannot open"},
      // The temporary file beside it would need too long a name.
      {[&] {
         testing::WriteFile(dir_.File("lanewright/" + std::string(250, 'r')), Registry({}));
         fs::create_symlink(std::string(250, 'r'), registry);
       },
       "cannot write"},
  };
  const auto content = [&] {
    return fs::is_regular_file(registry) ? testing::ReadFile(registry) : "";
  };
  for (const auto& [breakIt, reason] : cases) {
    SCOPED_TRACE(reason);
    fs::remove_all(dir_.File("lanewright"));
    fs::create_directories(dir_.File("lanewright"));
    breakIt();
    const std::string before = content();
    const auto r = testing::RunLanewright({"/RegServer"});
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_NE(r.err.find("failed with hr=0x80004005: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
    EXPECT_EQ(content(), before);
  }
}

}  // namespace
}  // namespace lanewright::server
