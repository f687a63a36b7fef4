#include <gtest/gtest.h>

#include "store/BoundReader.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"

namespace lanewright::store {
namespace {

using testing::TempDir;

TEST(StoreTest, ReadsSqliteTableInRowOrder) {
  TempDir dir;
  const auto path = dir.File("a.db");
  testing::WriteTable(testing::FixtureFormat::Sqlite, path, "T",
                      {{"a", "INTEGER"}, {"b", "TEXT"}},
                      {{std::int64_t{1}, std::string("x")}, {std::int64_t{2}, std::string("y")}});
  StoreError err;
  auto reader = OpenTable(path, "t", err);
  ASSERT_TRUE(reader) << err.reason;
  Row row;
  ASSERT_EQ(reader->Next(row), S_OK);
  EXPECT_EQ(std::get<std::string>(row[1]), "x");
  ASSERT_EQ(reader->Next(row), S_OK);
  EXPECT_EQ(reader->Next(row), DB_S_ENDOFROWSET);
}

}  // namespace
}  // namespace lanewright::store
