#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "starmap/LoadEmpireDatabase.h"
#include "starmap/NameRules.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"

namespace lanewright {
namespace {

using testing::EmpireRow;
using testing::FixtureFormat;
using testing::TempDir;

// The four lists as a load fills them: every name, "XX" in To, "[none]" in Visit.
std::vector<std::string> Names(const LoadResult& result) { return result.lists.names; }

TEST(NameRulesTest, DestinationNameAndClass) {
  struct Case {
    const char* destination;
    const char* name;
    const char* raw;
    char letter;
  };
  const Case cases[] = {
      {"?AB", "XA", "?A", 'B'},  // unexplored: leading '?' becomes 'X'
      {"A?B", "A?", "A?", 'B'},  // a '?' elsewhere stays
      {"??C", "X?", "??", 'C'},  // only the first one is replaced
      {"B", "", "", 'B'},        // one character: empty name
      {"", "", "", '\0'},        // nothing at all
      {"AlphaQ", "Alpha", "Alpha", 'Q'},
      {"Zoë\xC3\xA9", "Zoë", "Zoë", '?'},  // a non-ASCII last character is cut whole
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.destination);
    EXPECT_EQ(XName(RawDestinationNameView(c.destination)), c.name);
    EXPECT_EQ(RawDestinationNameView(c.destination), c.raw);
    EXPECT_EQ(ClassLetter(c.destination), c.letter);
  }
}

class LoadTest : public ::testing::TestWithParam<FixtureFormat> {
 protected:
  std::string Empire(const std::string& name, const std::vector<EmpireRow>& rows) {
    const std::string path = dir_.File(name);
    testing::WriteEmpireFile(GetParam(), path, rows);
    return path;
  }

  LoadResult Load(const FileChoice& choice) {
    return LoadEmpireDatabase(choice, starMap_, rows_, output_);
  }

  TempDir dir_;
  StarMap starMap_;
  EmpireRowSource rows_;
  StringOutputBox output_;
};

TEST_P(LoadTest, SingleFileFillsListsAndStarMap) {
  const auto path = Empire("one.mdb", {{1, 3, "Alpha", "BetaA", 10},
                                       {2, 3, "Beta", "?QB", 11},
                                       {3, 7, "Alpha", "GammaC", 12},
                                       {4, 3, "Alpha", "BetaD", 13}});
  const LoadResult result = Load(FileChoice{path, {}});
  ASSERT_TRUE(result.ok) << result.error.reason;
  EXPECT_EQ(output_.Text(), "one file selected: " + path + "\r\nopening dbfile " + path + "\r\n");
  EXPECT_EQ(Names(result), (std::vector<std::string>{"Alpha", "Beta", "Gamma", "XQ"}));
  EXPECT_TRUE(result.lists.InTo("XX") && result.lists.InVisit("[none]"));
  EXPECT_FALSE(result.lists.InFrom("XX") || result.lists.InFrom("[none]"));
  EXPECT_EQ(starMap_.databaseFiles, std::set<std::string>{path});
  EXPECT_EQ(starMap_.empires, (std::set<std::int32_t>{3, 7}));
  // Two rows of empire 3 in Alpha give one pair; empire 7 adds its own.
  EXPECT_EQ(starMap_.systemEmpire.size(), 3u);
  for (const auto& [system, empire] : {std::pair{"Alpha", 3}, {"Alpha", 7}, {"Beta", 3}})
    EXPECT_TRUE(starMap_.systemEmpire.Contains(system, empire)) << system << empire;
  EXPECT_FALSE(starMap_.systemEmpire.Contains("Gamma", 7));
}

TEST_P(LoadTest, SeveralFilesAreReadInByteOrder) {
  Empire("b.mdb", {{1, 4, "Zeta", "EtaA", 1}});
  Empire("a.mdb", {{1, 3, "Alpha", "BetaA", 2}});
  Empire("B.mdb", {{1, 5, "alpha", "XXB", 3}});  // "XX" arising from data is listed twice in To
  const std::string folder = dir_.path().string();
  const LoadResult result = Load(FileChoice{folder, {"b.mdb", "a.mdb", "B.mdb"}});
  ASSERT_TRUE(result.ok) << result.error.reason;
  EXPECT_EQ(output_.Text(), "multiple dbfiles on path " + folder + "\r\n" + "opening dbfile " +
                                folder + "/B.mdb\r\n" + "opening dbfile " + folder + "/a.mdb\r\n" +
                                "opening dbfile " + folder + "/b.mdb\r\n");
  // "XX" arising from the data is a name of its own (To then shows it twice).
  EXPECT_EQ(Names(result),
            (std::vector<std::string>{"Alpha", "Beta", "Eta", "XX", "Zeta", "alpha"}));
}

TEST_P(LoadTest, EmptyTableGivesOnlyTheSpecialEntries) {
  const auto path = Empire("empty.mdb", {});
  const LoadResult result = Load(FileChoice{path, {}});
  ASSERT_TRUE(result.ok);
  EXPECT_TRUE(Names(result).empty());
}

TEST_P(LoadTest, FailingFileInTheMiddleStopsTheLoad) {
  Empire("a.mdb", {{1, 3, "Alpha", "BetaA", 2}});
  testing::WriteFile(dir_.File("b.mdb"), "not a database at all");
  Empire("c.mdb", {{1, 9, "Gamma", "DeltaA", 3}});
  const std::string folder = dir_.path().string();
  const LoadResult result = Load(FileChoice{folder, {"c.mdb", "b.mdb", "a.mdb"}});
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(Names(result).empty());
  EXPECT_EQ(output_.Text(), "multiple dbfiles on path " + folder + "\r\nopening dbfile " + folder +
                                "/a.mdb\r\nopening dbfile " + folder +
                                "/b.mdb\r\nfailed with hr=-2147467259");
  EXPECT_NE(result.error.reason.find("b.mdb"), std::string::npos);
  // What was read before the failure stays; the file after it is never read.
  EXPECT_EQ(starMap_.empires, std::set<std::int32_t>{3});
  EXPECT_EQ(starMap_.databaseFiles.size(), 3u);
}

TEST_P(LoadTest, LaterLoadsKeepEmpiresButReplaceLists) {
  const auto first = Empire("a.mdb", {{1, 3, "Alpha", "BetaA", 2}});
  const auto second = Empire("b.mdb", {{1, 8, "Gamma", "DeltaA", 3}});
  ASSERT_TRUE(Load(FileChoice{first, {}}).ok);
  const LoadResult result = Load(FileChoice{second, {}});
  EXPECT_EQ(Names(result), (std::vector<std::string>{"Delta", "Gamma"}));
  EXPECT_EQ(starMap_.empires, (std::set<std::int32_t>{3, 8}));
  EXPECT_TRUE(starMap_.systemEmpire.Contains("Alpha", 3));
  EXPECT_EQ(starMap_.databaseFiles, std::set<std::string>{second});
}

INSTANTIATE_TEST_SUITE_P(Formats, LoadTest, ::testing::ValuesIn(testing::AllFixtureFormats()),
                         [](const auto& info) { return testing::FormatName(info.param); });

TEST(LoadEdgeTest, RootFolderChoiceJoinsWithASlash) {
  StarMap starMap;
  EmpireRowSource rows;
  StringOutputBox output;
  const LoadResult result =
      LoadEmpireDatabase(FileChoice{"/", {"lanewright-no-such-file.mdb"}}, starMap, rows, output);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(output.Text(),
            "multiple dbfiles on path /\r\nopening dbfile //lanewright-no-such-file.mdb\r\n"
            "failed with hr=-2147467259");
}

TEST(LoadEdgeTest, UnreadableRowsAreSkippedAndCounted) {
  TempDir dir;
  const auto path = dir.File("mixed.db");
  // Rows a reader must refuse: a NULL, a text of 51 characters, a number out of range,
  // and a text where a number belongs.
  testing::WriteTable(
      testing::FixtureFormat::Sqlite, path, "Warp Points",
      {{"a", "INTEGER"}, {"b", "INTEGER"}, {"c", "TEXT"}, {"d", "TEXT"}, {"e", "INTEGER"}},
      {{std::int64_t{1}, std::int64_t{3}, std::string("Alpha"), std::string("BetaA"),
        std::int64_t{1}},
       {std::int64_t{2}, std::monostate{}, std::string("Null"), std::string("NullA"),
        std::int64_t{2}},
       {std::int64_t{3}, std::int64_t{3}, std::string(51, 'L'), std::string("LongA"),
        std::int64_t{3}},
       {std::int64_t{4}, std::int64_t{3}, std::string("Big"), std::string("BigA"),
        std::int64_t{1} << 40},
       {std::int64_t{5}, std::string("seven"), std::string("Word"), std::string("WordA"),
        std::int64_t{5}},
       {std::int64_t{6}, std::string("7"), std::string(50, 'M'), std::string("GammaB"),
        std::int64_t{6}}});
  StarMap starMap;
  EmpireRowSource rows;
  StringOutputBox output;
  const LoadResult result = LoadEmpireDatabase(FileChoice{path, {}}, starMap, rows, output);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(output.Text(), "one file selected: " + path + "\r\nopening dbfile " + path +
                               "\r\nskipped 4 unreadable rows in " + path + "\r\n");
  EXPECT_EQ(Names(result),
            (std::vector<std::string>{"Alpha", "Beta", "Gamma", std::string(50, 'M')}));
  EXPECT_EQ(starMap.empires, (std::set<std::int32_t>{3, 7}));
}

// A command reads each file once; a changed file is read again on the next request, and one
// that turned bad fails instead of being answered from the rows read before.
TEST(EmpireRowSourceTest, KeepsRowsWhileTheFileIsUnchanged) {
  TempDir dir;
  const auto path = dir.File("e.db");
  testing::WriteEmpireFile(FixtureFormat::Sqlite, path, {{1, 3, "Alpha", "?B", 1}});
  EmpireRowSource source;
  store::StoreError err;
  const auto first = source.Rows(path, err);
  ASSERT_TRUE(first) << err.reason;
  EXPECT_EQ(source.Rows(path, err), first);
  ASSERT_EQ(first->Rows().size(), 1u);
  EXPECT_EQ(first->Name(first->Rows()[0].destination), "?");
  EXPECT_EQ(first->Rows()[0].warpClass, 'B');

  std::filesystem::remove(path);
  testing::WriteEmpireFile(FixtureFormat::Sqlite, path,
                           {{1, 3, "Alpha", "BetaA", 1}, {2, 4, "Beta", "", 2}});
  const auto second = source.Rows(path, err);
  ASSERT_TRUE(second);
  EXPECT_NE(second, first);
  EXPECT_EQ(second->Rows().size(), 2u);
  EXPECT_FALSE(second->Rows()[1].hasDestination);
  EXPECT_EQ(std::vector<std::int32_t>(second->Empires().begin(), second->Empires().end()),
            (std::vector<std::int32_t>{3, 4}));

  testing::WriteFile(path, "damaged");
  EXPECT_EQ(source.Rows(path, err), nullptr);
  EXPECT_EQ(err.code, store::E_FAIL);
}

}  // namespace
}  // namespace lanewright
