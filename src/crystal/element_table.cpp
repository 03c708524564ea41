// Reading the element table text into a map by symbol. Every line that does
// not start with '!' is one species: "symbol Z weight a1 b1 a2 b2 a3 b3 a4 b4
// c b [note]", separated by spaces or tabs.
#include "crystal/element_table.hpp"

#include <cctype>
#include <cstddef>
#include <map>
#include <sstream>

#include "elements/elements.hpp"
#include "boundary/boundary.hpp"

namespace powderkit::phase {

namespace {

std::map<std::string, ElementData> parseTable() {
    std::map<std::string, ElementData> table;
    std::istringstream lines(std::string(kElementTableText, kElementTableTextLength));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '!' || line[0] == '\r') continue;
        std::istringstream fields(line);
        ElementData data;
        double atomicNumber = 0.0, weight = 0.0;
        fields >> data.symbol >> atomicNumber >> weight;
        for (double &c : data.coefficients) fields >> c;
        fields >> data.scatteringLength;
        if (!fields) fail(PK_ERROR_INTERNAL, "the element table row \"" + line + "\" is malformed");
        table.emplace(data.symbol, data);
    }
    return table;
}

const std::map<std::string, ElementData> &table() {
    static const std::map<std::string, ElementData> parsed = parseTable();
    return parsed;
}

const ElementData *find(const std::string &symbol) {
    const auto found = table().find(symbol);
    return found == table().end() ? nullptr : &found->second;
}

// "FE" → "Fe", "o" → "O": the first letter upper case, the rest lower.
std::string normalisedCase(const std::string &letters) {
    std::string out = letters;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        out[i] = static_cast<char>(i == 0 ? std::toupper(c) : std::tolower(c));
    }
    return out;
}

std::string leadingLetters(const std::string &text) {
    std::size_t n = 0;
    while (n < text.size() && std::isalpha(static_cast<unsigned char>(text[n]))) ++n;
    return text.substr(0, n);
}

}  // namespace

const ElementData &elementForType(const std::string &type) {
    if (const ElementData *exact = find(type)) return *exact;
    const std::string letters = leadingLetters(type);
    const std::string rest = type.substr(letters.size());
    // What may follow the element of an ionic symbol: a charge such as
    // "2-", "3+", "+" or "-".
    bool charge = true;
    for (char c : rest) {
        if (!std::isdigit(static_cast<unsigned char>(c)) && c != '+' && c != '-') charge = false;
    }
    if (!letters.empty() && charge) {
        const std::string element = normalisedCase(letters);
        if (!rest.empty()) {
            if (const ElementData *ion = find(element + rest)) return *ion;
        }
        if (const ElementData *neutral = find(element)) return *neutral;
    }
    fail(PK_ERROR_CRYSTAL, "unknown element or ion type symbol \"" + type + "\"");
}

const ElementData &elementForLabel(const std::string &label) {
    const std::string letters = normalisedCase(leadingLetters(label));
    for (std::size_t length = letters.size() < 2 ? letters.size() : 2; length > 0; --length) {
        if (const ElementData *element = find(normalisedCase(letters.substr(0, length)))) {
            // "OH" and "Wa" are species of their own, not elements a label names.
            if (element->symbol != "OH" && element->symbol != "Wa") return *element;
        }
    }
    fail(PK_ERROR_CRYSTAL, "no element can be read from the site label \"" + label +
                               "\" and the file gives no type symbol");
}

}  // namespace powderkit::phase
