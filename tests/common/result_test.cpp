#include "common/result.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace reel {
namespace {

Result<int> Half(int value) {
  if (value % 2 != 0) return MakeError(ErrorKind::kUsage, "half", std::to_string(value) + " is odd");
  return value / 2;
}

TEST(ResultTest, HoldsTheValueOrTheErrorWithItsKindAndMessage) {
  const Result<int> good = Half(8);
  ASSERT_TRUE(good);
  EXPECT_EQ(*good, 4);

  const Result<int> bad = Half(3);
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.kind(), ErrorKind::kUsage);
  EXPECT_EQ(bad.error().message, "half: 3 is odd");
}

TEST(ResultTest, MoveOnlyValuesAndVoidResults) {
  Result<std::unique_ptr<int>> owned = std::make_unique<int>(7);
  ASSERT_TRUE(owned);
  std::unique_ptr<int> taken = std::move(owned).value();
  EXPECT_EQ(*taken, 7);

  const Status fine;
  EXPECT_TRUE(fine);
  const Status failed = MakeError(ErrorKind::kCannotWrite, "", "disk full");
  ASSERT_FALSE(failed);
  EXPECT_TRUE(failed.error().Is(ErrorKind::kCannotWrite));
  EXPECT_EQ(failed.error().message, "disk full");
}

}  // namespace
}  // namespace reel
