// The XRDML reader on any text (cut at a NUL), read twice: as it is, and as the content of <dataPoints> in a
// fixed XRDML document, so that mutations reach the axis, count and counting-time rules without having to
// rebuild the document around them; each with the checks of measured_pattern_check.hpp.
#include "measured_pattern_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    readAndCheckMeasuredPattern(text, "fuzz.xrdml");
    readAndCheckMeasuredPattern(
        "<?xml version=\"1.0\"?>\n<xrdMeasurements><xrdMeasurement><usedWavelength><kAlpha1>1.5406</kAlpha1>"
        "</usedWavelength><scan><dataPoints>" +
            text.substr(0, text.find('\0')) + "</dataPoints></scan></xrdMeasurement></xrdMeasurements>",
        "fuzz.xrdml");
    return 0;
}
