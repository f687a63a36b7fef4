#include <gtest/gtest.h>

namespace {
TEST(CliTest, Placeholder) { SUCCEED(); }
}  // namespace
