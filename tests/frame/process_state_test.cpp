// The process-wide values, the buffer formatting and the int32 helpers (the two
// stream routines carry every message that the other suites compare).
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "frame/frame.hpp"
#include "support/output_capture.hpp"

namespace {

TEST(Frame, ProcessWideValuesAndTheSilentCheck) {
    EXPECT_EQ(powderkit::machineEpsilon, std::ldexp(1.0, -53));
    EXPECT_EQ(powderkit::zeroTolerance(), std::ldexp(1.0, -44));
    char *buffer = GetErrorBuffer();
    EXPECT_EQ(buffer, powderkit::errorBuffer());
    std::string err;
    const std::string out = pk_test::captureStdout(
        [&] { err = pk_test::captureStderr([] { checkRefinementCrystal(); }); });
    EXPECT_EQ(out + err, "");
    EXPECT_EQ(GetErrorBuffer(), buffer);
    // Nothing in this executable writes the buffer: it is as zeroed at load time.
    for (int i = 0; i < PK_ERROR_BUFFER_SIZE; ++i) ASSERT_EQ(buffer[i], '\0') << i;
}

TEST(Frame, FormatIntoBufferCutsLongTextsAndReportsTheirLength) {
    char buffer[100];
    EXPECT_EQ(powderkit::formatIntoBuffer(buffer, sizeof buffer, "%s!", std::string(150, 'x').c_str()), 151);
    EXPECT_EQ(std::string(buffer), std::string(99, 'x'));
    EXPECT_EQ(powderkit::formatIntoBuffer(buffer, sizeof buffer, "%d-%s", 42, "ok"), 5);
    EXPECT_STREQ(buffer, "42-ok");
}

TEST(Frame, Int32HelpersWrapAndClamp) {
    EXPECT_EQ(powderkit::multiplyInt32(3, -7), -21);
    EXPECT_EQ(powderkit::multiplyInt32(65536, 65536), 0);  // 2^32 wraps to 0
    EXPECT_EQ(powderkit::addInt32(2147483647, 1), -2147483647 - 1);
    const double inputs[] = {-2.9, 1e300, -1e300, std::nan("")};
    const int32_t truncated[] = {-2, 2147483647, -2147483647 - 1, 0};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(powderkit::truncateToInt32(inputs[i]), truncated[i]) << inputs[i];
}

}  // namespace
