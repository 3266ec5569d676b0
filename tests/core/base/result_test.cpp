#include "core/base/result.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

namespace logdesk {
namespace {

// A message box shows the reason under the caller's heading and the path; a
// terminal line puts the path first. Parts left empty leave no separator.
TEST(ErrorTest, ReasonAndLineJoinOnlyWhatIsThere) {
    const Error full{"cannot create", "/tmp/out.csv", "Permission denied", EACCES};
    EXPECT_EQ(full.reason(), "cannot create: Permission denied");
    EXPECT_EQ(full.line(), "/tmp/out.csv: cannot create: Permission denied");

    const Error causeOnly{"", "a.log", "No such file or directory", ENOENT};
    EXPECT_EQ(causeOnly.reason(), "No such file or directory");
    EXPECT_EQ(causeOnly.line(), "a.log: No such file or directory");

    const Error whatOnly{"the value cannot be stored", "x.ini", "", 0};
    EXPECT_EQ(whatOnly.reason(), "the value cannot be stored");

    const Error noPath{"write failed", "", "Broken pipe", EPIPE};
    EXPECT_EQ(noPath.line(), "write failed: Broken pipe");
    EXPECT_EQ(Error{}.line(), "");
}

TEST(ErrorTest, SystemErrorsCarryTheSystemsText) {
    const Error error = SystemError(ENOSPC, "write failed", "out.csv");
    EXPECT_EQ(error.code, ENOSPC);
    EXPECT_EQ(error.cause, std::strerror(ENOSPC));
    EXPECT_EQ(error.line(), std::string("out.csv: write failed: ") + std::strerror(ENOSPC));
    // An unknown value still reads as something.
    EXPECT_FALSE(SystemError(99999).cause.empty());
}

} // namespace
} // namespace logdesk
