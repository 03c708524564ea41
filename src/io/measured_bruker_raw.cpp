// Bruker RAW version 1 files: binary, little-endian, a file header of 712
// bytes and one or more ranges after it. The fields read (byte offsets):
//   file header   0  "RAW1.01" and a NUL, the magic
//                12  int32   number of ranges
//               624  double  Kα1 wavelength, Å   (632 Kα2, 648 the Kα2/Kα1 ratio;
//                            608 names the anode, 616 the mean Kα, 640 Kβ)
//   each range    0  int32   length of the range header (304)
//                 4  int32   number of steps
//                16  double  2θ of the first step, degrees (8 holds θ)
//               176  double  2θ step, degrees
//               256  int32   length of the supplementary header that follows
//                            the range header
//   then the counts, one float32 a step; the next range follows them.
// Checked against LaB6_Jan2018.raw: one range of 3,040 steps from 10° by
// 0.0197448° (to 70.0044°), a supplementary header of 40 bytes, so that the
// counts end at the file's last byte (712 + 304 + 40 + 4·3040 = 13216); LaB6
// 100 above 21° and 110, the strongest, at 30.40°; Cu Kα1 1.5406 Å, Kα2
// 1.54439 Å, ratio 0.5. Counts are taken as counted: σ = √y, 1 for none.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "boundary/boundary.hpp"
#include "io/measured_pattern.hpp"

namespace powderkit::phase {
namespace {

constexpr std::string_view kMagic("RAW1.01\0", 8);
constexpr std::size_t kFileHeader = 712, kRangeHeader = 304;

class BrukerRawReader {
public:
    BrukerRawReader(std::string_view bytes, const std::string &name) : bytes_(bytes), name_(name) {}

    std::unique_ptr<pk_measured_pattern> read(int32_t bank) {
        auto pattern = std::make_unique<pk_measured_pattern>();
        require(0, kFileHeader, "the file header");
        const std::int32_t declared = int32At(12);
        if (declared < 1) failAt(12, "number of ranges " + std::to_string(declared) + " is not positive");
        // Walk the ranges to find where each begins.
        std::vector<std::size_t> starts;
        std::vector<long> numbers;
        std::size_t at = kFileHeader;
        for (std::int32_t r = 0; r < declared; ++r) {
            starts.push_back(at);
            numbers.push_back(r + 1);
            at = countsAt(at, r + 1) + 4 * steps(at, r + 1);
        }
        if (at < bytes_.size()) {
            warn(*pattern, name_ + ": " + std::to_string(bytes_.size() - at) + " bytes after the " +
                               std::to_string(declared) + (declared == 1 ? " range" : " ranges") +
                               " the header names ignored (from byte " + std::to_string(at) + ")");
        }
        const std::size_t chosen = chooseBank(numbers, bank, name_, "range", pattern->warnings);
        const std::size_t range = starts[chosen];
        const long number = numbers[chosen];
        const std::size_t count = steps(range, number);
        const double start = doubleAt(range + 16), step = doubleAt(range + 176);
        if (!std::isfinite(start)) failAt(range + 16, "range " + std::to_string(number) + ": start 2θ is not finite");
        if (!(step > 0.0) || !std::isfinite(step)) {
            failAt(range + 176, "range " + std::to_string(number) + ": step " + shortest(step) + " is not positive");
        }
        const std::size_t counts = countsAt(range, number);
        pattern->x.reserve(count);
        pattern->y.reserve(count);
        pattern->sigma.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            const double y = floatAt(counts + 4 * i);
            appendPoint(*pattern, start + static_cast<double>(i) * step, y, countingSigma(y, 1.0),
                        name_ + ": byte " + std::to_string(counts + 4 * i) + " (range " + std::to_string(number) +
                            ", step " + std::to_string(i + 1) + ")",
                        "the step before");
        }
        requireTwoPoints(*pattern, name_);
        pattern->alpha1 = wavelengthAt(624);
        pattern->alpha2 = wavelengthAt(632);
        const double ratio = doubleAt(648);
        pattern->ratio = pattern->alpha2 > 0.0 && ratio >= 0.0 && ratio <= 1.0 ? ratio : 0.0;
        return pattern;
    }

private:
    [[noreturn]] void failAt(std::size_t offset, const std::string &what) const {
        fail(PK_ERROR_FORMAT, name_ + ": byte " + std::to_string(offset) + ": " + what);
    }

    // Fails unless `length` bytes from `offset` lie within the file.
    void require(std::size_t offset, std::size_t length, const std::string &what) const {
        if (offset > bytes_.size() || length > bytes_.size() - offset) {
            failAt(offset, "the file ends within " + what + " (" + std::to_string(length) + " bytes from here; " +
                               std::to_string(bytes_.size()) + " in the file)");
        }
    }

    std::uint64_t little(std::size_t offset, std::size_t size) const {
        std::uint64_t value = 0;
        for (std::size_t k = size; k-- > 0;) {
            value = (value << 8) | static_cast<unsigned char>(bytes_[offset + k]);
        }
        return value;
    }
    std::int32_t int32At(std::size_t offset) const {
        const auto bits = static_cast<std::uint32_t>(little(offset, 4));
        std::int32_t value = 0;
        std::memcpy(&value, &bits, 4);
        return value;
    }
    double doubleAt(std::size_t offset) const {
        const std::uint64_t bits = little(offset, 8);
        double value = 0.0;
        std::memcpy(&value, &bits, 8);
        return value;
    }
    double floatAt(std::size_t offset) const {
        const auto bits = static_cast<std::uint32_t>(little(offset, 4));
        float value = 0.0F;
        std::memcpy(&value, &bits, 4);
        return static_cast<double>(value);
    }
    // A wavelength of the header, or 0 where the field holds none.
    double wavelengthAt(std::size_t offset) const {
        const double value = doubleAt(offset);
        return value > 0.0 && value < 10.0 ? value : 0.0;
    }

    std::string rangeName(long number) const { return "range " + std::to_string(number); }

    // The number of steps of the range at `range`, its header checked to lie within the file.
    std::size_t steps(std::size_t range, long number) const {
        require(range, kRangeHeader, rangeName(number) + "'s header");
        const std::int32_t count = int32At(range + 4);
        if (count < 2) failAt(range + 4, rangeName(number) + ": " + std::to_string(count) + " steps; at least 2 are needed");
        return static_cast<std::size_t>(count);
    }

    // Where the counts of the range at `range` begin, all of them checked to lie within the file.
    std::size_t countsAt(std::size_t range, long number) const {
        const std::size_t count = steps(range, number);
        const std::int32_t header = int32At(range), extra = int32At(range + 256);
        if (header != static_cast<std::int32_t>(kRangeHeader)) {
            failAt(range, rangeName(number) + ": a range header of " + std::to_string(header) +
                              " bytes; version 1 has " + std::to_string(kRangeHeader));
        }
        if (extra < 0) failAt(range + 256, rangeName(number) + ": supplementary header length " + std::to_string(extra));
        const std::size_t counts = range + kRangeHeader + static_cast<std::size_t>(extra);
        require(counts, 4 * count, rangeName(number) + "'s " + std::to_string(count) + " counts");
        return counts;
    }

    std::string_view bytes_;
    const std::string &name_;
};

}  // namespace

bool looksLikeBrukerRaw(std::string_view bytes) { return bytes.substr(0, kMagic.size()) == kMagic; }

std::unique_ptr<pk_measured_pattern> readBrukerRaw(std::string_view bytes, const std::string &name, int32_t bank) {
    return BrukerRawReader(bytes, name).read(bank);
}

}  // namespace powderkit::phase
