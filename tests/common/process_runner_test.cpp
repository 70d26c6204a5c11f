// The tests' process runner: a program that cannot be started is never
// taken for one that ran and exited with some status.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

TEST(ProcessRunner, AFailedStartFailsTheTestWithItsReason) {
  static vt::TempDir dir;
  static vt::RunResult result;
  EXPECT_NONFATAL_FAILURE(result = vt::Run(dir / "NOSUCH.EXE", {}, dir.Path()), "could not start");
  EXPECT_EQ(result.status, vt::RunResult::kNotStarted);
  EXPECT_NE(result.error, "");
  EXPECT_EQ(result.out, "");
}

}  // namespace
