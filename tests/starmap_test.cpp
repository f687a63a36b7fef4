#include <gtest/gtest.h>

#include "starmap/LoadEmpireDatabase.h"
#include "starmap/NameRules.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"

namespace lanewright {
namespace {

TEST(NameRulesTest, DestinationNames) {
  EXPECT_EQ(DestinationName("?AB"), "XA");
  EXPECT_EQ(DestinationName("A?B"), "A?");
  EXPECT_EQ(DestinationName("B"), "");
  EXPECT_EQ(DestinationName(""), "");
  EXPECT_EQ(ClassLetter("AlphaQ"), 'Q');
}

}  // namespace
}  // namespace lanewright
