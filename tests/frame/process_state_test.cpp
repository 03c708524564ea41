// The process-wide values and the three output routines.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "frame/frame.hpp"
#include "support/output_capture.hpp"

namespace {

TEST(Frame, MachineEpsilonIsTheUnitRoundoffOfDoubles) {
    EXPECT_EQ(powderkit::machineEpsilon, std::ldexp(1.0, -53));
    EXPECT_EQ(powderkit::zeroTolerance(), std::ldexp(1.0, -44));
}

TEST(Frame, ErrorBufferIsOneFixedZeroedBlock) {
    char *buffer = GetErrorBuffer();
    EXPECT_EQ(buffer, GetErrorBuffer());
    EXPECT_EQ(buffer, powderkit::errorBuffer());
    // Nothing in this executable has written it since load time.
    for (int i = 0; i < PK_ERROR_BUFFER_SIZE; ++i) EXPECT_EQ(buffer[i], '\0') << i;
}

TEST(Frame, CheckRefinementCrystalChangesNothing) {
    const std::string out = pk_test::captureStdout([] {
        const std::string err = pk_test::captureStderr([] { checkRefinementCrystal(); });
        EXPECT_EQ(err, "");
    });
    EXPECT_EQ(out, "");
    EXPECT_EQ(GetErrorBuffer()[0], '\0');
}

TEST(Frame, FormatIntoBufferCutsLongTextsAndReportsTheirLength) {
    char buffer[100];
    std::string longText(150, 'x');
    const int length = powderkit::formatIntoBuffer(buffer, sizeof buffer, "%s!", longText.c_str());
    EXPECT_EQ(length, 151);
    EXPECT_EQ(std::strlen(buffer), 99u);
    EXPECT_EQ(std::string(buffer), std::string(99, 'x'));

    EXPECT_EQ(powderkit::formatIntoBuffer(buffer, sizeof buffer, "%d-%s", 42, "ok"), 5);
    EXPECT_STREQ(buffer, "42-ok");
}

TEST(Frame, PrintRoutinesWriteToTheirStreams) {
    std::string out;
    const std::string err = pk_test::captureStderr([&] {
        out = pk_test::captureStdout([] {
            powderkit::printToStandardOutput("out %d\n", 1);
            EXPECT_EQ(powderkit::printToStream(stderr, "err %s\n", "two"), 8);
        });
    });
    EXPECT_EQ(out, "out 1\n");
    EXPECT_EQ(err, "err two\n");
}

TEST(Frame, Int32HelpersWrapAndClamp) {
    EXPECT_EQ(powderkit::multiplyInt32(3, -7), -21);
    EXPECT_EQ(powderkit::multiplyInt32(65536, 65536), 0);  // 2^32 wraps to 0
    EXPECT_EQ(powderkit::addInt32(2147483647, 1), -2147483647 - 1);
    EXPECT_EQ(powderkit::truncateToInt32(-2.9), -2);
    EXPECT_EQ(powderkit::truncateToInt32(1e300), 2147483647);
    EXPECT_EQ(powderkit::truncateToInt32(-1e300), -2147483647 - 1);
    EXPECT_EQ(powderkit::truncateToInt32(std::nan("")), 0);
}

}  // namespace
