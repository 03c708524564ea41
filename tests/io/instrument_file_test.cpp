// Instrument files: every field of both records read back as written, keys left out take the defaults, and each
// kind of malformed file is refused with its status and a message naming the key.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "powderkit_phase.h"
#include "support/test_data.hpp"

namespace {

// Every field of both records, the codes and flags among them, in declaration order.
std::vector<double *> fieldsOf(pk_instrument &i, pk_profile &p) {
    return {&i.wavelength, &i.wavelength2, &i.ratio2, &i.zero, &i.displacement, &i.radius, &i.tof_two_theta,
            &i.dtt1,       &i.dtt2,        &i.monochromator, &i.absorption, &i.roughness_p, &i.roughness_q,
            &i.transparency, &p.U, &p.V, &p.W, &p.X, &p.Y, &p.asymmetry, &p.asymmetry_cutoff, &p.sigma0,
            &p.sigma1, &p.sigma2, &p.gamma0, &p.gamma1, &p.gamma2, &p.alpha0, &p.alpha1, &p.beta0, &p.beta1,
            &p.axial_sl, &p.axial_hl};
}

std::vector<double> valuesOf(pk_instrument i, pk_profile p) {
    std::vector<double> values{double(i.axis), double(i.radiation), double(i.dispersion), double(p.type)};
    for (double *field : fieldsOf(i, p)) values.push_back(*field);
    return values;
}

// Every field away from its default and from every other field, so that a field written under another's key or
// not read at all shows.
void uncommon(pk_instrument &i, pk_profile &p) {
    pk_instrument_default(&i);
    i.radiation = PK_RADIATION_NEUTRON;
    i.dispersion = 0;
    pk_profile_default(&p, PK_PROFILE_LORENTZIAN, nullptr);
    double value = 0.1234567890123;
    for (double *field : fieldsOf(i, p)) {
        *field = value;
        value += 0.0370370370370371;
    }
    p.asymmetry = 0.0;  // the axial divergence (at most 0.1) replaces P
    p.axial_sl = 0.0321;
    p.axial_hl = 0.0654;
}

TEST(InstrumentFile, ReadsBackEveryFieldAndLeavesNoTemporary) {
    pk_instrument written{}, read{};
    pk_profile shape{}, readShape{};
    uncommon(written, shape);
    const auto folder = std::filesystem::temp_directory_path() / ("pk_instrument_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "diffractometer.json").string();
    pk_error e{};
    ASSERT_EQ(pk_instrument_file_write(path.c_str(), &written, &shape, &e), PK_OK) << e.message;
    ASSERT_EQ(pk_instrument_file_read(path.c_str(), &read, &readShape, &e), PK_OK) << e.message;
    EXPECT_EQ(valuesOf(read, readShape), valuesOf(written, shape));
    EXPECT_EQ(read.radiation, PK_RADIATION_NEUTRON);
    EXPECT_EQ(read.dispersion, 0);
    EXPECT_EQ(readShape.type, PK_PROFILE_LORENTZIAN);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);  // the temporary renamed
    // A folder that cannot hold the file: a file error, nothing left behind.
    const std::string unwritable = (folder / "no-folder" / "x.json").string();
    EXPECT_EQ(pk_instrument_file_write(unwritable.c_str(), &written, &shape, &e), PK_ERROR_FILE);
    EXPECT_NE(std::string(e.message).find("no-folder/x.json: cannot write"), std::string::npos) << e.message;
    EXPECT_EQ(pk_instrument_file_read(unwritable.c_str(), &read, &readShape, &e), PK_ERROR_FILE);
    std::filesystem::remove_all(folder);
}

// The smallest file: the required keys alone, everything else the defaults.
TEST(InstrumentFile, KeysLeftOutTakeTheDefaults) {
    const char *text = R"({"format": "powderkit-instrument", "version": 1, "instrument": {"wavelength": 1.2},
                           "profile": {"type": "gaussian", "U": 0.01}})";
    pk_instrument read{}, expected{};
    pk_profile shape{}, expectedShape{};
    pk_error e{};
    ASSERT_EQ(pk_instrument_file_read_text(text, "small", &read, &shape, &e), PK_OK) << e.message;
    pk_instrument_default(&expected);
    expected.wavelength = 1.2;
    pk_profile_default(&expectedShape, PK_PROFILE_GAUSSIAN, nullptr);
    expectedShape.U = 0.01;
    EXPECT_EQ(valuesOf(read, shape), valuesOf(expected, expectedShape));
    // A file that gives an axial divergence and no asymmetry takes P = 0 (the default's 0.02 would clash).
    const char *axial = R"({"format": "powderkit-instrument", "version": 1, "instrument": {"wavelength": 1.2},
                            "profile": {"type": "gaussian", "axial_hl": 0.02}})";
    ASSERT_EQ(pk_instrument_file_read_text(axial, "axial", &read, &shape, &e), PK_OK) << e.message;
    EXPECT_EQ(shape.asymmetry, 0.0);
    EXPECT_EQ(shape.axial_hl, 0.02);
}

TEST(InstrumentFile, RefusesMalformedFilesNamingTheKey) {
    const std::string head = R"({"format": "powderkit-instrument", "version": 1, )";
    const std::string instrument = R"("instrument": {"wavelength": 1.54}, )";
    const std::string profile = R"("profile": {"type": "pseudo_voigt"}})";
    struct Bad {
        std::string text;
        std::string message;  // a part of it
    };
    const Bad cases[] = {
        {"{\"format\": ", "case: not valid JSON"},
        {"[1, 2]", "the top is not an object"},
        {R"({"format": "other", "version": 1})", "\"format\": must be \"powderkit-instrument\""},
        {R"({"format": "powderkit-instrument", "version": 2})", "\"version\": 2 is not supported"},
        {R"({"format": "powderkit-instrument", "version": "1"})", "\"version\": must be a whole number"},
        {R"({"format": "powderkit-instrument"})", "\"version\": is missing"},
        {head + profile, "\"instrument\": is missing"},
        {head + instrument + R"("profile": {"U": 1}})", "\"profile.type\": is missing"},
        {head + R"("instrument": {"zero": 0}, )" + profile, "\"instrument.wavelength\": is missing"},
        {head + R"("instrument": {"wavelenght": 1.5, "wavelength": 1.5, "zro": 0}, )" + profile,
         "unknown key \"instrument.wavelenght\", \"instrument.zro\""},
        {head + instrument + profile.substr(0, profile.size() - 1) + R"(, "extra": 1})", "unknown key \"extra\""},
        {head + instrument + R"("profile": {"type": "pseudo_voigt", "Z": 1}})", "unknown key \"profile.Z\""},
        {head + R"("instrument": {"wavelength": "1.54"}, )" + profile, "\"instrument.wavelength\": must be a number"},
        {head + R"("instrument": {"wavelength": 1.5, "dispersion": 1}, )" + profile,
         "\"instrument.dispersion\": must be true or false"},
        {head + R"("instrument": {"wavelength": 1.5, "axis": "theta"}, )" + profile,
         "\"instrument.axis\": must be one of \"two_theta\", \"tof\""},
        {head + instrument + R"("profile": {"type": "voigt"}})", "\"profile.type\": must be one of"},
        {head + instrument + R"("profile": {"type": "tof_exp_gaussian"}})",
         "\"profile.type\": a time-of-flight shape does not fit"},
        {head + R"("instrument": {"wavelength": -1}, )" + profile, "\"instrument.wavelength\": must be > 0, not -1"},
        {head + R"("instrument": {"wavelength": 1, "radius": 0}, )" + profile, "\"instrument.radius\": must be > 0"},
        {head + R"("instrument": {"wavelength": 1, "monochromator": 180}, )" + profile,
         "\"instrument.monochromator\": must lie in [0, 180), not 180"},
        {head + R"("instrument": {"wavelength": 1, "roughness_p": 1.5}, )" + profile,
         "\"instrument.roughness_p\": must lie in [0, 1]"},
        {head + R"("instrument": {"wavelength": 1, "absorption": 12}, )" + profile,
         "\"instrument.absorption\": must lie in [0, 10], not 12"},
        {head + instrument + R"("profile": {"type": "gaussian", "asymmetry": -0.1}})", "\"profile.asymmetry\""},
        {head + instrument + R"("profile": {"type": "gaussian", "U": 1e999}})", "not valid JSON"},
        {head + instrument + R"("profile": {"type": "gaussian", "axial_sl": 0.2}})",
         "\"profile.axial_sl\": must lie in [0, 0.1], not 0.2"},
        {head + instrument + R"("profile": {"type": "gaussian", "asymmetry": 0.01, "axial_hl": 0.02}})",
         "\"profile.axial_sl\": an axial divergence (axial_sl, axial_hl) and an asymmetry P"},
    };
    for (const Bad &bad : cases) {
        pk_instrument i{};
        pk_profile p{};
        i.zero = 7.0;  // left as it was
        pk_error e{};
        EXPECT_EQ(pk_instrument_file_read_text(bad.text.c_str(), "case", &i, &p, &e), PK_ERROR_FORMAT) << bad.text;
        EXPECT_NE(std::string(e.message).find(bad.message), std::string::npos) << e.message;
        EXPECT_EQ(i.zero, 7.0);
    }
    // What would be refused on reading is refused on writing.
    pk_instrument i{};
    pk_profile p{};
    pk_instrument_default(&i);
    pk_profile_default(&p, PK_PROFILE_PSEUDO_VOIGT, nullptr);
    i.ratio2 = -0.5;
    int32_t size = -1;
    pk_error e{};
    EXPECT_EQ(pk_instrument_file_write_text(&i, &p, nullptr, 0, &size, &e), PK_ERROR_FORMAT);
    EXPECT_NE(std::string(e.message).find("\"instrument.ratio2\""), std::string::npos) << e.message;
}


// GSAS-family parameter files (tests/data/formats, copied unchanged), values by hand from their text: Gaussian
// variances in centidegrees² become FWHM² in degrees² (× 8 ln 2 / 10⁴), Lorentzian centidegrees degrees (/ 100),
// the INS zero centidegrees (0.04 → 0.0004°); time of flight as written, |2θ| of the bank.
constexpr double kVariance = 5.545177444479562e-4;  // 8 ln 2 / 10⁴
using InstrumentValues = std::vector<std::pair<double pk_instrument::*, double>>;
using ProfileValues = std::vector<std::pair<double pk_profile::*, double>>;
struct GsasFile {
    const char *file;
    int32_t bank, axis, radiation;
    InstrumentValues instrument;
    ProfileValues profile;
    const char *warning;  // part of the warnings, "" for none
};

const GsasFile kGsasFiles[] = {
    {"BT1_Cu311.inst", 0, PK_AXIS_TWO_THETA, PK_RADIATION_NEUTRON,
     {{&pk_instrument::wavelength, 1.5403}, {&pk_instrument::wavelength2, 0}, {&pk_instrument::zero, 0.0004}},
     {{&pk_profile::U, 239.7 * kVariance}, {&pk_profile::V, -298.2 * kVariance}, {&pk_profile::W, 180.8 * kVariance},
      {&pk_profile::X, 0}, {&pk_profile::Y, 0}, {&pk_profile::axial_sl, 0.04}, {&pk_profile::axial_hl, 0.03},
      {&pk_profile::asymmetry, 0}},
     "BT1_Cu311.inst: profile PRCF3 read; PRCF2, PRCF1 not read"},
    {"Vulcan.prm", 2, PK_AXIS_TOF, PK_RADIATION_NEUTRON,
     {{&pk_instrument::dtt1, 16385.1}, {&pk_instrument::dtt2, 0.05}, {&pk_instrument::zero, 0},
      {&pk_instrument::tof_two_theta, 90}},
     {{&pk_profile::alpha0, 0}, {&pk_profile::alpha1, 1}, {&pk_profile::beta0, 0.0393652},
      {&pk_profile::beta1, 0.00913634}, {&pk_profile::sigma1, 604.307}, {&pk_profile::sigma2, 136.579},
      {&pk_profile::gamma0, 0}, {&pk_profile::gamma1, 6.32257}},
     "Vulcan.prm: read bank 2; bank 1 not read (choose one by its number)"},
    {"BNL-I.instprm", 0, PK_AXIS_TWO_THETA, PK_RADIATION_XRAY, {{&pk_instrument::wavelength, 1.148407}},
     {{&pk_profile::U, 5.9840407759 * kVariance}, {&pk_profile::V, -1.28771353531 * kVariance},
      {&pk_profile::W, 0.118521878603 * kVariance}, {&pk_profile::X, -0.000977791308891},
      {&pk_profile::Y, 0.0440147397286}, {&pk_profile::axial_sl, 0.0264356231583 / 2}},
     "Polariz. 0.99 (a polarised beam"},
    {"HB2A_ge113_op2112_Si_cycle866.instprm", 1, PK_AXIS_TWO_THETA, PK_RADIATION_NEUTRON,
     {{&pk_instrument::wavelength, 2.4062686168735197}, {&pk_instrument::zero, -0.009602591470493875}},
     {{&pk_profile::U, 798.889 * kVariance}, {&pk_profile::V, -444.367 * kVariance}, {&pk_profile::W, 242.406 * kVariance},
      {&pk_profile::axial_sl, 0.045}, {&pk_profile::axial_hl, 0.045}},  // SH/L 0.09 split evenly
     ""},
    {"Bank_2.instprm", 0, PK_AXIS_TOF, PK_RADIATION_NEUTRON,
     {{&pk_instrument::dtt1, 22586.9009385}, {&pk_instrument::dtt2, -0.981525860367}, {&pk_instrument::tof_two_theta, 90}},
     {{&pk_profile::alpha1, 4}, {&pk_profile::beta0, 0.001}, {&pk_profile::beta1, 3.63}, {&pk_profile::sigma0, 0},
      {&pk_profile::sigma1, 10}, {&pk_profile::sigma2, 403.353978439}},
     ""},
    {"GEM.instprm", 4, PK_AXIS_TOF, PK_RADIATION_NEUTRON,
     {{&pk_instrument::dtt1, 2813.36}, {&pk_instrument::dtt2, 1.96}, {&pk_instrument::zero, 7.32},
      {&pk_instrument::tof_two_theta, 34.96}},
     {{&pk_profile::beta1, -0.00207693844284}, {&pk_profile::sigma2, 12.0563569232}, {&pk_profile::gamma0, 0},
      {&pk_profile::gamma1, 0.01}, {&pk_profile::gamma2, 0.01}},
     "GEM.instprm: read bank 4; banks 6, 1, 2, 3, 6 not read"},
};

TEST(InstrumentFile, ReadsGsasParameterFilesByBank) {
    for (const GsasFile &c : kGsasFiles) {
        pk_instrument i{};
        pk_profile p{};
        char warnings[512];
        int32_t size = 0;
        pk_error e{};
        const std::string path = pk_test::testDataPath(std::string("formats/") + c.file);
        ASSERT_EQ(pk_instrument_file_read_bank(path.c_str(), c.bank, &i, &p, warnings, sizeof warnings, &size, &e), PK_OK)
            << c.file << ": " << e.message;
        EXPECT_EQ(i.axis, c.axis) << c.file;
        EXPECT_EQ(i.radiation, c.radiation) << c.file;
        for (const auto &[field, value] : c.instrument) EXPECT_NEAR(i.*field, value, 1e-12 * std::fabs(value)) << c.file;
        for (const auto &[field, value] : c.profile) EXPECT_NEAR(p.*field, value, 1e-12 * std::fabs(value)) << c.file;
        const std::string said = warnings;
        EXPECT_EQ(size, static_cast<int32_t>(said.size() + 1)) << c.file;
        EXPECT_TRUE(*c.warning == '\0' ? said.empty() : said.find(c.warning) != std::string::npos)
            << c.file << " warned: " << said;
    }
    // Two entries labelled bank 6: neither is guessed. Warnings cut to fit; a bank the file lacks.
    const std::string gem = pk_test::testDataPath("formats/GEM.instprm");
    pk_instrument i{};
    pk_profile p{};
    pk_error e{};
    EXPECT_EQ(pk_instrument_file_read(gem.c_str(), &i, &p, &e), PK_ERROR_FORMAT);
    EXPECT_NE(std::string(e.message).find("GEM.instprm: 2 entries are labelled bank 6; which one is meant cannot be told"),
              std::string::npos) << e.message;
    char cut[5];
    int32_t size = 0;
    EXPECT_EQ(pk_instrument_file_read_bank(gem.c_str(), 1, &i, &p, cut, sizeof cut, &size, &e), PK_OK);
    EXPECT_EQ(std::string(cut).size(), 4u);
    EXPECT_GT(size, 5);
    EXPECT_EQ(pk_instrument_file_read_bank(gem.c_str(), 5, &i, &p, nullptr, 0, nullptr, &e), PK_ERROR_ARGUMENT);
    EXPECT_NE(std::string(e.message).find("no bank 5; it holds banks 6, 1, 4, 2, 3, 6"), std::string::npos) << e.message;
    EXPECT_EQ(pk_instrument_file_read_text_bank("Type:PXC\nLam:abc\n", "t", 0, &i, &p, nullptr, 0, nullptr, &e),
              PK_ERROR_FORMAT);
    EXPECT_STREQ(e.message, "t:2: Lam 'abc' is not a number");
    EXPECT_EQ(pk_instrument_file_read_text_bank("Type:PXB\nLam:1\n", "t", 0, &i, &p, nullptr, 0, nullptr, &e),
              PK_ERROR_FORMAT);
    EXPECT_NE(std::string(e.message).find("t:1: type 'PXB' is not read"), std::string::npos) << e.message;
    // Terms of a profile whose header record (PRCF3: type and count) never came: refused, naming the record.
    const std::string orphan = "INS   BANK      1\nINS   HTYPE   PNCR\nINS  1 ICONS   1.54030   0.00000   0.04000\n"
                               "INS  1PRCF31   0.239700E+03  -0.298200E+03   0.180800E+03   0.000000E+00\n";
    EXPECT_EQ(pk_instrument_file_read_text_bank(orphan.c_str(), "t", 0, &i, &p, nullptr, 0, nullptr, &e),
              PK_ERROR_FORMAT);
    EXPECT_NE(std::string(e.message).find("t:4: PRCF31: not a continuation of a PRCF3 record"), std::string::npos)
        << e.message;
    // Keys the reader does not know are named, never dropped unsaid.
    const char *strange = "Type:PXC\nLam:1.54\nFoo:1\nZero:0\nU:2\nV:-2\nW:5\nBar:2\n";
    char said[256] = "";
    int32_t length = 0;
    EXPECT_EQ(pk_instrument_file_read_text_bank(strange, "t", 0, &i, &p, said, sizeof said, &length, &e), PK_OK)
        << e.message;
    EXPECT_STREQ(said, "t: keys not read: 'Foo', 'Bar'\n");
    // difB, which pk_instrument does not hold, is read apart: 0 where a file leaves it at 0 or has none.
    const auto folder = std::filesystem::temp_directory_path() / ("pk_difb_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string bank = (folder / "bank.instprm").string();
    std::ofstream(bank) << "Type:PNT\nBank:1\ndifC:5000\ndifA:-1.2\ndifB:-3.75\nZero:2\n2-theta:150\n";
    double difB = 99.0;
    EXPECT_EQ(pk_instrument_file_difb(bank.c_str(), 0, &difB, &e), PK_OK) << e.message;
    EXPECT_EQ(difB, -3.75);
    EXPECT_EQ(pk_instrument_file_read_bank(bank.c_str(), 0, &i, &p, cut, sizeof cut, &size, &e), PK_OK);
    EXPECT_EQ(size, 1);  // difB is no longer "not used"
    EXPECT_EQ(pk_instrument_file_difb(pk_test::testDataPath("formats/Bank_2.instprm").c_str(), 0, &difB, &e), PK_OK);
    EXPECT_EQ(difB, 0.0);
    difB = 99.0;
    EXPECT_EQ(pk_instrument_file_difb((folder / "none.instprm").string().c_str(), 0, &difB, &e), PK_ERROR_FILE);
    EXPECT_EQ(difB, 99.0);
    std::filesystem::remove_all(folder);
}

}  // namespace
