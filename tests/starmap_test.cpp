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

class LoadFixture : public ::testing::Test {
 protected:
  LoadResult Load(const FileChoice& choice) {
    return LoadEmpireDatabase(choice, starMap_, rows_, output_);
  }

  TempDir dir_;
  StarMap starMap_;
  EmpireRowSource rows_;
  StringOutputBox output_;
};

class LoadTest : public LoadFixture, public ::testing::WithParamInterface<FixtureFormat> {
 protected:
  std::string Empire(const std::string& name, const std::vector<EmpireRow>& rows) {
    const std::string path = dir_.File(name);
    testing::WriteEmpireFile(GetParam(), path, rows);
    return path;
  }
};

TEST_P(LoadTest, SingleFileFillsListsAndStarMap) {
  const auto path = Empire("one.mdb", {{1, 3, "Alpha", "BetaA", 10},
                                       {2, 3, "Beta", "?QB", 11},
                                       {3, 7, "Alpha", "GammaC", 12},
                                       {4, 3, "Alpha", "BetaD", 13}});
  const LoadResult result = Load(FileChoice{path, {}});
  ASSERT_TRUE(result.ok) << result.error.reason;
  EXPECT_EQ(output_.Text(), "one file selected: " + path + "\r\nopening dbfile " + path + "\r\n");
  EXPECT_EQ(result.lists.names, (std::vector<std::string>{"Alpha", "Beta", "Gamma", "XQ"}));
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
  EXPECT_EQ(result.lists.names,
            (std::vector<std::string>{"Alpha", "Beta", "Eta", "XX", "Zeta", "alpha"}));
}

TEST_P(LoadTest, FailingFileInTheMiddleStopsTheLoad) {
  Empire("a.mdb", {{1, 3, "Alpha", "BetaA", 2}});
  testing::WriteFile(dir_.File("b.mdb"), "not a database at all");
  Empire("c.mdb", {{1, 9, "Gamma", "DeltaA", 3}});
  const std::string folder = dir_.path().string();
  const LoadResult result = Load(FileChoice{folder, {"c.mdb", "b.mdb", "a.mdb"}});
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(result.lists.names.empty());
  EXPECT_EQ(output_.Text(), "multiple dbfiles on path " + folder + "\r\nopening dbfile " + folder +
                                "/a.mdb\r\nopening dbfile " + folder +
                                "/b.mdb\r\nfailed with hr=-2147467259");
  EXPECT_NE(result.error.reason.find("b.mdb"), std::string::npos);
  // What was read before the failure stays; the file after it is never read.
  EXPECT_EQ(starMap_.empires, std::set<std::int32_t>{3});
  EXPECT_EQ(starMap_.databaseFiles.size(), 3u);
}

// An empty table gives only the special entries.
TEST_P(LoadTest, LaterLoadsKeepEmpiresButReplaceLists) {
  const auto first = Empire("a.mdb", {{1, 3, "Alpha", "BetaA", 2}});
  const auto second = Empire("b.mdb", {});
  ASSERT_TRUE(Load(FileChoice{first, {}}).ok);
  const LoadResult result = Load(FileChoice{second, {}});
  ASSERT_TRUE(result.ok);
  EXPECT_TRUE(result.lists.names.empty());
  EXPECT_EQ(starMap_.empires, std::set<std::int32_t>{3});
  EXPECT_TRUE(starMap_.systemEmpire.Contains("Alpha", 3));
  EXPECT_EQ(starMap_.databaseFiles, std::set<std::string>{second});
}

INSTANTIATE_TEST_SUITE_P(Formats, LoadTest, ::testing::ValuesIn(testing::AllFixtureFormats()),
                         [](const auto& info) { return testing::FormatName(info.param); });

TEST_F(LoadFixture, RootFolderChoiceJoinsWithASlash) {
  EXPECT_FALSE(Load(FileChoice{"/", {"lanewright-no-such-file.mdb"}}).ok);
  EXPECT_EQ(output_.Text(),
            "multiple dbfiles on path /\r\nopening dbfile //lanewright-no-such-file.mdb\r\n"
            "failed with hr=-2147467259");
}

TEST_F(LoadFixture, UnreadableRowsAreSkippedAndCounted) {
  const auto path = dir_.File("mixed.db");
  // Rows a reader must refuse: a NULL, a text of 51 characters, a number out of range,
  // and a text where a number belongs.
  testing::WriteTable(
      testing::FixtureFormat::Sqlite, path, "Warp Points",
      {{"a", "INTEGER"}, {"b", "INTEGER"}, {"c", "TEXT"}, {"d", "TEXT"}, {"e", "INTEGER"}},
      {{1, 3, "Alpha", "BetaA", 1},
       {2, {}, "Null", "NullA", 2},
       {3, 3, std::string(51, 'L'), "LongA", 3},
       {4, 3, "Big", "BigA", std::int64_t{1} << 40},
       {5, "seven", "Word", "WordA", 5},
       {6, "7", std::string(50, 'M'), "GammaB", 6}});
  const LoadResult result = Load(FileChoice{path, {}});
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(output_.Text(), "one file selected: " + path + "\r\nopening dbfile " + path +
                                "\r\nskipped 4 unreadable rows in " + path + "\r\n");
  EXPECT_EQ(result.lists.names,
            (std::vector<std::string>{"Alpha", "Beta", "Gamma", std::string(50, 'M')}));
  EXPECT_EQ(starMap_.empires, (std::set<std::int32_t>{3, 7}));
}

}  // namespace
}  // namespace lanewright
