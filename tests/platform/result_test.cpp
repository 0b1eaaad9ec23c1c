// SPDX-License-Identifier: MIT
#include "platform/result.h"

#include <gtest/gtest.h>

#include <string>

namespace brivelton {
namespace {

Result<void> WriteFile(bool full) {
  if (full) return Error("No space left on device");
  return {};
}

Result<void> SaveAddress(bool full) { return WriteFile(full).In("writing /x/y.tmp"); }

Result<int> ReadCount(bool full) {
  if (auto saved = SaveAddress(full); !saved)
    return Error(saved.error()).In("saving the address for COM3");
  return 3;
}

TEST(Result, ContextGoesInFrontAsTheErrorRises) {
  const auto count = ReadCount(true);
  ASSERT_FALSE(count);
  EXPECT_EQ(count.error().text(),
            "saving the address for COM3: writing /x/y.tmp: No space left on device");
  // The reason alone, for a text that says it its own way.
  EXPECT_EQ(count.error().reason(), "No space left on device");
}

TEST(Result, AValuePassesContextUntouched) {
  auto count = ReadCount(false).In("never said");
  ASSERT_TRUE(count);
  EXPECT_EQ(*count, 3);
  EXPECT_TRUE(SaveAddress(false));
}

}  // namespace
}  // namespace brivelton
