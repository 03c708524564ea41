// Instrument parameter files of the GSAS family, read into one pk_instrument
// and one pk_profile. Two layouts, told apart by content:
//
//  - INS records (.prm, .inst): lines "INS" + the bank in columns 4–6 (blank
//    for the whole file) + a keyword in columns 7–12 + values from column 13.
//    HTYPE (global): P, then X or N (radiation), then C or T (constant
//    wavelength or time of flight). ICONS, in 10-column fields: constant
//    wavelength λ1 λ2 zero (centidegrees); time of flight DIFC DIFA ZERO (µs).
//    BNKPAR: secondary flight path, then the bank's 2θ (its sign names the
//    side of the beam: the angle taken is |2θ|). PRCFn: profile type t, term
//    count, cut-off; then PRCFnk lines of four 15-column terms.
//      constant wavelength, t = 1: GU GV GW asym F1 F2 (Gaussian);
//        t = 2: GU GV GW LX LY trns asym shft GP …;
//        t = 3: GU GV GW GP LX LY S/L H/L trns shft … (pseudo-Voigt, used
//        first when a bank gives several types);
//      time of flight, t = 3: alp bet-0 bet-1 sig-0 sig-1 sig-2 gam-0 gam-1
//        gam-2 ….
//  - key:value lines (.instprm), '#' comments. Type (PXC, PNC, PNT), Lam or
//    Lam1 Lam2 I(L2)/I(L1), Zero, U V W X Y Z SH/L Polariz. Azimuth for
//    constant wavelength; difC difA difB Zero 2-theta fltPath alpha beta-0
//    beta-1 beta-q sig-0 sig-1 sig-2 sig-q X Y Z for time of flight. A file
//    may hold several entries, each opened by a '#' line (or by a key met
//    again) and labelled by its Bank key.
//
// Units: the Gaussian terms are variances σ² in centidegrees²; the layer's
// U V W give the FWHM², so U = 8 ln 2 · GU / 10⁴ degrees²; the Lorentzian
// terms are FWHM in centidegrees, X = LX / 100 degrees. Time of flight: α =
// alp/d (the layer's α1, with α0 = 0), β = β0 + β1/d⁴, σ² = σ0 + σ1 d² + σ2 d⁴,
// γ = γ0 + γ1 d + γ2 d² (instprm: Z, X, Y), TOF = difC·d + difA·d² + zero.
// A term the layer does not model is named in a warning when it is not zero
// (a polarisation of 0.5, an unpolarised beam, is the layer's own).
#include "io/instrument_gsas.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "boundary/boundary.hpp"
#include "io/measured_pattern.hpp"

namespace powderkit::phase {
namespace {

constexpr double kEightLnTwo = 5.545177444479562;  // 8 ln 2: FWHM² = 8 ln 2 · σ²

// One value of the file, with the line it stands on.
struct Entry {
    std::string value;
    long line = 0;
};
using Keys = std::map<std::string, Entry>;

// One bank's values, and the terms of it the layer cannot use.
class BankValues {
public:
    BankValues(const std::string &name, Keys keys) : name_(name), keys_(std::move(keys)) {}

    bool has(const std::string &key) const { return keys_.count(key) != 0; }

    double number(const std::string &key, double otherwise = 0.0) const {
        const auto found = keys_.find(key);
        if (found == keys_.end()) return otherwise;
        double value = 0.0;
        const std::string_view text = trimmed(found->second.value);
        const char *problem = parseNumber(text, value);
        if (*problem != '\0' || !std::isfinite(value)) {
            failFormat(name_, found->second.line, key + " " + quoted(text) + " " + (*problem ? problem : "is not finite"));
        }
        return value;
    }

    std::string text(const std::string &key) const {
        const auto found = keys_.find(key);
        return found == keys_.end() ? std::string() : std::string(trimmed(found->second.value));
    }

    long lineOf(const std::string &key) const {
        const auto found = keys_.find(key);
        return found == keys_.end() ? 0 : found->second.line;
    }

    // Names `key` among the unused terms when its value differs from `neutral`.
    void unused(const std::string &key, const std::string &why, double neutral = 0.0) {
        const double value = number(key, neutral);
        if (value != neutral) unused_ += (unused_.empty() ? "" : ", ") + key + " " + shortest(value) + why;
    }

    const std::string &unusedTerms() const { return unused_; }

private:
    const std::string &name_;
    Keys keys_;
    std::string unused_;
};

// The kind of pattern from a type code: "PXC", "PNCR", "PNT" ….
void readKind(const std::string &type, const std::string &name, long line, pk_instrument &instrument) {
    if (type.size() < 3 || type[0] != 'P' || (type[1] != 'X' && type[1] != 'N') || (type[2] != 'C' && type[2] != 'T') ||
        (type[1] == 'X' && type[2] == 'T')) {
        failFormat(name, line,
                   "type " + quoted(type) + " is not read: PXC (X-ray), PNC (neutron) at constant wavelength, or PNT "
                   "(neutron time of flight)");
    }
    instrument.radiation = type[1] == 'X' ? PK_RADIATION_XRAY : PK_RADIATION_NEUTRON;
    instrument.axis = type[2] == 'T' ? PK_AXIS_TOF : PK_AXIS_TWO_THETA;
}

// The records from a bank's values, the same for both layouts once their keys are the instprm names.
void fillRecords(BankValues &bank, const std::string &name, pk_instrument &instrument, pk_profile &profile,
                 double &difB, std::string &warnings) {
    pk_instrument_default(&instrument);
    if (!bank.has("Type")) failFormat(name, 0, "no Type (HTYPE): the kind of pattern is not said");
    readKind(bank.text("Type"), name, bank.lineOf("Type"), instrument);
    const bool tof = instrument.axis == PK_AXIS_TOF;
    pk_profile_default(&profile, tof ? PK_PROFILE_TOF_EXP_PSEUDO_VOIGT : PK_PROFILE_PSEUDO_VOIGT, nullptr);
    for (double *term : {&profile.U, &profile.V, &profile.W, &profile.X, &profile.Y, &profile.asymmetry,
                         &profile.axial_sl, &profile.axial_hl,
                         &profile.sigma0, &profile.sigma1, &profile.sigma2, &profile.gamma0, &profile.gamma1,
                         &profile.gamma2, &profile.alpha0, &profile.alpha1, &profile.beta0, &profile.beta1}) {
        *term = 0.0;
    }
    instrument.zero = bank.number("Zero");
    difB = 0.0;
    if (tof) {
        if (!bank.has("difC")) failFormat(name, 0, "no difC (DIFC) for the time-of-flight bank");
        instrument.dtt1 = bank.number("difC");
        instrument.dtt2 = bank.number("difA");
        instrument.tof_two_theta = std::fabs(bank.number("2-theta", instrument.tof_two_theta));
        profile.alpha1 = bank.number("alpha");
        profile.beta0 = bank.number("beta-0");
        profile.beta1 = bank.number("beta-1");
        profile.sigma0 = bank.number("sig-0");
        profile.sigma1 = bank.number("sig-1");
        profile.sigma2 = bank.number("sig-2");
        profile.gamma0 = bank.number("Z");
        profile.gamma1 = bank.number("X");
        profile.gamma2 = bank.number("Y");
        difB = bank.number("difB");
        bank.unused("beta-q", " (a 1/d² term of β)");
        bank.unused("sig-q", " (a d term of σ²)");
    } else {
        if (!bank.has("Lam") && !bank.has("Lam1")) failFormat(name, 0, "no wavelength (Lam, Lam1 or ICONS)");
        instrument.wavelength = bank.has("Lam") ? bank.number("Lam") : bank.number("Lam1");
        instrument.wavelength2 = bank.has("Lam") ? 0.0 : bank.number("Lam2");
        instrument.ratio2 = instrument.wavelength2 > 0.0 ? bank.number("I(L2)/I(L1)") : 0.0;
        profile.U = kEightLnTwo * bank.number("U") / 1e4;
        profile.V = kEightLnTwo * bank.number("V") / 1e4;
        profile.W = kEightLnTwo * bank.number("W") / 1e4;
        profile.X = bank.number("X") / 100.0;
        profile.Y = bank.number("Y") / 100.0;
        bank.unused("Z", " (a constant Lorentzian width)");
        // The axial divergence: an INS profile of type 3 gives S/L and H/L (keys SH/L and H/L), a key:value file
        // one SH/L = (S + H)/L, split evenly here.
        const bool both = bank.has("H/L");
        const double sl = both ? bank.number("SH/L") : bank.number("SH/L") / 2.0;
        const double hl = both ? bank.number("H/L") : bank.number("SH/L") / 2.0;
        if (sl >= 0.0 && hl >= 0.0 && sl <= PK_AXIAL_MAX && hl <= PK_AXIAL_MAX) {
            profile.axial_sl = sl;
            profile.axial_hl = hl;
        } else {
            bank.unused("SH/L", " (beyond the axial divergence the layer takes, 0 … 0.1)");
            bank.unused("H/L", " (beyond the axial divergence the layer takes, 0 … 0.1)");
        }
        bank.unused("GP", " (a Gaussian 1/cos²θ term)");
        bank.unused("asym", " (an asymmetry in another model's units)");
        bank.unused("trns", " (transparency in another model's units)");
        bank.unused("shft", " (displacement in another model's units)");
        if (instrument.radiation == PK_RADIATION_XRAY) {
            bank.unused("Polariz.", " (a polarised beam: the layer takes an unpolarised one, or a monochromator)", 0.5);
        }
    }
    bank.unused("Azimuth", " (a detector azimuth)");
    if (!bank.unusedTerms().empty()) warnings += name + ": not used: " + bank.unusedTerms() + "\n";
}

// ---- key:value files ------------------------------------------------------

// Keys a time-of-flight or constant-wavelength entry holds; any other is named in a warning.
const char *const kKnownKeys[] = {"Type",  "Bank",   "Lam",    "Lam1",   "Lam2",   "I(L2)/I(L1)", "Zero",  "U",
                                  "V",     "W",      "X",      "Y",      "Z",      "SH/L",        "Polariz.",
                                  "Azimuth", "difC", "difA",   "difB",   "2-theta", "fltPath",    "alpha", "beta-0",
                                  "beta-1", "beta-q", "sig-0", "sig-1",  "sig-2",  "sig-q",       "Source"};

void readKeyValues(std::string_view text, const std::string &name, int32_t bank, pk_instrument &instrument,
                   pk_profile &profile, double &difB, std::string &warnings) {
    std::vector<Keys> entries(1);
    std::vector<long> firstLines(1, 0);
    bool commentOpens = false;
    long number = 0;
    std::size_t start = 0;
    std::string unknown;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = trimmed(text.substr(start, end - start));
        start = end + 1;
        number += 1;
        if (line.empty()) continue;
        if (line.front() == '#') {
            commentOpens = true;
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) failFormat(name, number, "expected key:value, not " + quoted(line));
        const std::string key(trimmed(line.substr(0, colon)));
        // A comment after values, or a key met again, opens the next entry.
        if (!entries.back().empty() && (commentOpens || entries.back().count(key) != 0)) {
            entries.emplace_back();
            firstLines.push_back(number);
        }
        if (entries.back().empty()) firstLines.back() = number;
        commentOpens = false;
        bool known = false;
        for (const char *k : kKnownKeys) known = known || key == k;
        if (!known && unknown.find("'" + key + "'") == std::string::npos) {
            unknown += (unknown.empty() ? "" : ", ") + ("'" + key + "'");
        }
        entries.back()[key] = Entry{std::string(line.substr(colon + 1)), number};
    }
    if (entries.back().empty()) failFormat(name, 0, "no key:value lines");
    // Each entry's label: its Bank key, a whole number, or its position in the file.
    std::vector<long> labels;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        BankValues values(name, entries[i]);
        const double label = values.number("Bank", static_cast<double>(i + 1));
        if (label != std::floor(label) || label < 0 || label > 1e9) {
            failFormat(name, values.lineOf("Bank"), "Bank " + quoted(values.text("Bank")) + " is not a whole number");
        }
        labels.push_back(static_cast<long>(label));
    }
    const std::size_t chosen = chooseBank(labels, bank, name, "bank", warnings);
    BankValues values(name, entries[chosen]);
    fillRecords(values, name, instrument, profile, difB, warnings);
    if (!unknown.empty()) warnings += name + ": keys not read: " + unknown + "\n";
}

// ---- INS records ----------------------------------------------------------

struct InsRecord {
    long bank;  // 0 for the whole file
    std::string keyword;
    std::string_view values;
    long line;
};

std::vector<double> fixedNumbers(const InsRecord &record, std::size_t width, std::size_t count,
                                 const std::string &name) {
    std::vector<double> numbers;
    for (std::size_t k = 0; k < count; ++k) {
        const std::string_view field = trimmed(record.values.substr(std::min(record.values.size(), k * width), width));
        double value = 0.0;
        if (field.empty()) {
            numbers.push_back(0.0);  // a blank field is zero
            continue;
        }
        const char *problem = parseNumber(field, value);
        if (*problem != '\0' || !std::isfinite(value)) {
            failFormat(name, record.line,
                       record.keyword + " value " + std::to_string(k + 1) + " " + quoted(field) + " " +
                           (*problem ? problem : "is not finite"));
        }
        numbers.push_back(value);
    }
    return numbers;
}

void readInsRecords(std::string_view text, const std::string &name, int32_t bank, pk_instrument &instrument,
                    pk_profile &profile, double &difB, std::string &warnings) {
    std::vector<InsRecord> records;
    std::vector<long> banks;
    std::size_t start = 0;
    long number = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        start = end + 1;
        number += 1;
        if (line.substr(0, 3) != "INS") continue;  // comments, the column ruler
        const std::string_view bankField = trimmed(line.substr(3, 3));
        long recordBank = 0;
        if (!bankField.empty()) {
            double value = 0.0;
            if (*parseNumber(bankField, value) != '\0' || value < 1 || value != std::floor(value)) {
                failFormat(name, number, "bank " + quoted(bankField) + " in columns 4-6 is not a whole number");
            }
            recordBank = static_cast<long>(value);
            if (std::find(banks.begin(), banks.end(), recordBank) == banks.end()) banks.push_back(recordBank);
        }
        records.push_back(InsRecord{recordBank, std::string(trimmed(line.substr(6, 6))),
                                    line.size() > 12 ? line.substr(12) : std::string_view(), number});
    }
    const long chosen = banks[chooseBank(banks, bank, name, "bank", warnings)];
    Keys keys;
    std::map<int, std::vector<double>> profiles;  // type → terms
    std::vector<std::string> notRead;
    const auto set = [&keys](const char *key, double value, long line) { keys[key] = Entry{shortest(value), line}; };
    for (const InsRecord &r : records) {
        if (r.bank != 0 && r.bank != chosen) continue;
        if (r.keyword == "HTYPE") {
            keys["Type"] = Entry{std::string(trimmed(r.values)), r.line};
        } else if (r.keyword == "ICONS") {
            const std::vector<double> v = fixedNumbers(r, 10, 3, name);
            keys["ICONS"] = Entry{"", r.line};
            set("difC", v[0], r.line);  // renamed below for constant wavelength
            set("difA", v[1], r.line);
            set("Zero", v[2], r.line);
            InsRecord ratio = r;  // KRATIO, after POLA (F10) and IPOLA (I5)
            ratio.values = r.values.substr(std::min(r.values.size(), std::size_t{45}));
            set("I(L2)/I(L1)", fixedNumbers(ratio, 10, 1, name)[0], r.line);
        } else if (r.keyword == "BNKPAR") {
            set("2-theta", fixedNumbers(r, 10, 2, name)[1], r.line);
        } else if (r.keyword.size() == 5 && r.keyword.substr(0, 4) == "PRCF") {
            const std::vector<std::string_view> fields = blankSeparatedFields(r.values);
            double type = 0.0, count = 0.0;
            if (fields.size() < 2 || *parseNumber(fields[0], type) != '\0' || *parseNumber(fields[1], count) != '\0' ||
                count < 0 || count > 100) {
                failFormat(name, r.line, r.keyword + ": expected the profile type and the number of terms");
            }
            profiles[r.keyword[4] - '0'].assign(static_cast<std::size_t>(count) + 1, 0.0);
            profiles[r.keyword[4] - '0'][0] = type;
        } else if (r.keyword.size() >= 6 && r.keyword.substr(0, 4) == "PRCF") {
            auto &terms = profiles[r.keyword[4] - '0'];
            const int part = std::atoi(r.keyword.c_str() + 5);  // PRCF3k holds terms 4k − 3 … 4k
            if (terms.empty() || part < 1) {
                failFormat(name, r.line, r.keyword + ": not a continuation of a PRCF" + r.keyword.substr(4, 1) +
                                             " record before it");
            }
            const std::size_t first = 1 + 4 * static_cast<std::size_t>(part - 1);
            const std::vector<double> v = fixedNumbers(r, 15, 4, name);
            for (std::size_t k = 0; k < 4 && first + k < terms.size(); ++k) terms[first + k] = v[k];
        } else if (r.keyword != "BANK" && r.keyword != "I HEAD" && r.keyword != "INAME" && r.keyword != "MFIL" &&
                   r.keyword != "FPATH1" && r.keyword != "NSPEC" && r.keyword != "IRAD" && r.keyword != "I ITYP") {
            // Named once, without the continuation digit (BAKGD, BAKGD1, BAKGD2: BAKGD).
            std::string word = r.keyword;
            while (!word.empty() && word.back() >= '0' && word.back() <= '9') word.pop_back();
            if (std::find(notRead.begin(), notRead.end(), word) == notRead.end()) notRead.push_back(word);
        }
    }
    if (!keys.count("Type")) failFormat(name, 0, "no HTYPE record (the kind of pattern)");
    if (!keys.count("ICONS")) failFormat(name, 0, "no ICONS record for bank " + std::to_string(chosen));
    const bool tof = keys["Type"].value.size() > 2 && keys["Type"].value[2] == 'T';
    if (!tof) {  // ICONS holds λ1 λ2 zero, the zero in centidegrees
        keys["Lam1"] = keys["difC"];
        keys["Lam2"] = keys["difA"];
        keys.erase("difC");
        keys.erase("difA");
        keys["Zero"].value = shortest(std::stod(keys["Zero"].value) / 100.0);
    }
    // The profile: the pseudo-Voigt (type 3) first, then type 2, then the Gaussian (type 1).
    static const char *const kTermNames[4][10] = {
        {},
        {"U", "V", "W", "asym"},
        {"U", "V", "W", "X", "Y", "trns", "asym", "shft", "GP"},
        {"U", "V", "W", "GP", "X", "Y", "SH/L", "H/L", "trns", "shft"}};
    static const char *const kTofTermNames[] = {"alpha", "beta-0", "beta-1", "sig-0", "sig-1",
                                                 "sig-2", "Z",      "X",      "Y"};
    int used = 0;
    std::string others;
    for (auto it = profiles.rbegin(); it != profiles.rend(); ++it) {
        const int type = static_cast<int>(it->second[0]);
        const bool readable = tof ? type == 3 : type >= 1 && type <= 3;
        if (used == 0 && readable) {
            used = it->first;
            const std::size_t count = tof ? 9 : (type == 1 ? 4 : type == 2 ? 9 : 10);
            for (std::size_t k = 0; k < count && k + 1 < it->second.size(); ++k) {
                set(tof ? kTofTermNames[k] : kTermNames[type][k], it->second[k + 1], 0);
            }
        } else {
            others += (others.empty() ? "" : ", ") + ("PRCF" + std::to_string(it->first));
        }
    }
    if (used == 0) failFormat(name, 0, "no profile (PRCF) record of a type this layer reads for bank " +
                                           std::to_string(chosen));
    BankValues values(name, keys);
    fillRecords(values, name, instrument, profile, difB, warnings);
    if (!others.empty()) warnings += name + ": profile PRCF" + std::to_string(used) + " read; " + others + " not read\n";
    if (!notRead.empty()) {
        std::string list;
        for (const std::string &word : notRead) list += (list.empty() ? "" : ", ") + word;
        warnings += name + ": records not read: " + list + "\n";
    }
}

}  // namespace

bool looksLikeGsasInstrument(std::string_view text) {
    std::size_t first = 0;
    while (first < text.size() && (isBlank(text[first]) || text[first] == '\n')) ++first;
    return first < text.size() && text[first] != '{' && text[first] != '[';
}

void readGsasInstrument(std::string_view text, const std::string &name, int32_t bank, pk_instrument &instrument,
                        pk_profile &profile, double &difB, std::string &warnings) {
    bool records = false;
    std::size_t start = 0;
    while (start < text.size() && !records) {
        records = text.substr(start, 3) == "INS";
        const std::size_t end = text.find('\n', start);
        start = end == std::string_view::npos ? text.size() : end + 1;
    }
    if (records) {
        readInsRecords(text, name, bank, instrument, profile, difB, warnings);
    } else {
        readKeyValues(text, name, bank, instrument, profile, difB, warnings);
    }
}

}  // namespace powderkit::phase
