// Operators from symbols and triplets. gemmi keeps rotations and translations
// as integers over a common denominator of 24; they are converted here to the
// core's integer R and fractional t, and written back as coordinate texts.
#include "crystal/space_group.hpp"

#include <algorithm>
#include <set>

#include <gemmi/symmetry.hpp>

#include "boundary/boundary.hpp"
#include "powderkit.h"

namespace powderkit::phase {

namespace {

using gemmi::Op;

// "+1/4", "+1/2", "+2/3": the fraction n/24 in lowest terms.
std::string fractionText(int numerator) {
    int denominator = Op::DEN;
    for (int divisor : {2, 2, 2, 3}) {
        if (numerator % divisor == 0 && denominator % divisor == 0) {
            numerator /= divisor;
            denominator /= divisor;
        }
    }
    return "+" + std::to_string(numerator) + (denominator == 1 ? "" : "/" + std::to_string(denominator));
}

std::string coordinateText(const Op &op, int row) {
    static const char kAxes[3] = {'x', 'y', 'z'};
    std::string text;
    for (int column = 0; column < 3; ++column) {
        const int entry = op.rot[row][column] / Op::DEN;
        if (entry == 0) continue;
        text += entry > 0 ? "+" : "-";
        if (entry != 1 && entry != -1) text += std::to_string(entry > 0 ? entry : -entry);
        text += kAxes[column];
    }
    if (op.tran[row] != 0) text += fractionText(op.tran[row]);
    return text;
}

SymmetryOperation operationOf(const Op &op) {
    SymmetryOperation operation;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) operation.rotation[3 * i + j] = op.rot[i][j] / Op::DEN;
        operation.translation[i] = static_cast<double>(op.tran[i]) / Op::DEN;
        operation.expressions[i] = coordinateText(op, i);
    }
    return operation;
}

// The core's centring letter of a group's pure translations; 'P' for a
// centring it has no letter for (the exact absence rule covers it anyway).
char latticeLetter(const gemmi::GroupOps &ops) {
    const char centring = ops.find_centering();
    switch (centring) {
    case 'A': case 'B': case 'C': case 'I': case 'F': case 'R': return centring;
    default: return 'P';
    }
}

Symmetry symmetryOf(const gemmi::GroupOps &ops, const std::string &symbol) {
    std::vector<Op> all = ops.all_ops_sorted();
    if (all.size() > static_cast<std::size_t>(PK_MAX_SYMMETRY_OPERATORS)) {
        fail(PK_ERROR_CRYSTAL, "the space group " + symbol + " has more operators than a crystal holds");
    }
    const auto identity = std::find(all.begin(), all.end(), Op::identity());
    if (identity != all.end()) std::rotate(all.begin(), identity, identity + 1);
    Symmetry symmetry;
    symmetry.symbol = symbol;
    for (const Op &op : all) symmetry.operations.push_back(operationOf(op));
    symmetry.latticeType = latticeLetter(ops);
    symmetry.centrosymmetric = ops.is_centrosymmetric();
    return symmetry;
}

// "R -3 c :H" → "R -3 c:H"; surrounding blanks dropped.
std::string normalisedSymbol(const std::string &symbol) {
    std::string text = symbol;
    const auto colon = text.find(':');
    if (colon != std::string::npos) {
        std::size_t start = colon;
        while (start > 0 && text[start - 1] == ' ') --start;
        std::size_t end = colon + 1;
        while (end < text.size() && text[end] == ' ') ++end;
        text = text.substr(0, start) + ":" + text.substr(end);
    }
    const auto first = text.find_first_not_of(" \t");
    const auto last = text.find_last_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

}  // namespace

Symmetry symmetryFromHall(const std::string &hall) {
    const std::string symbol = normalisedSymbol(hall);
    try {
        return symmetryOf(gemmi::symops_from_hall(symbol.c_str()), symbol);
    } catch (const Failure &) {
        throw;
    } catch (const std::exception &e) {
        fail(PK_ERROR_CRYSTAL, "unknown Hall symbol \"" + symbol + "\" (" + e.what() + ")");
    }
}

Symmetry symmetryFromSymbol(const std::string &symbol) {
    const std::string text = normalisedSymbol(symbol);
    if (text.empty()) fail(PK_ERROR_CRYSTAL, "the space-group symbol is empty");
    const gemmi::SpaceGroup *group = gemmi::find_spacegroup_by_name(text);
    if (group != nullptr) {
        Symmetry symmetry = symmetryOf(group->operations(), text);
        // The tables list origin choice 1 first; a symbol without a setting
        // means it, although origin 2 (at a centre of symmetry) is the more
        // common in structure reports.
        if (text.find(':') == std::string::npos && group->ext == '1') {
            symmetry.warning = "the space group " + text + " has two origin choices and the symbol names neither: " +
                               "origin choice 1 (" + text + ":1) is taken; write " + text +
                               ":2 for origin choice 2, at a centre of symmetry";
        }
        return symmetry;
    }
    try {
        return symmetryOf(gemmi::symops_from_hall(text.c_str()), text);
    } catch (const Failure &) {
        throw;
    } catch (const std::exception &) {
        fail(PK_ERROR_CRYSTAL, "unknown space-group symbol \"" + text + "\"");
    }
}

Symmetry symmetryFromTriplets(const std::vector<std::string> &triplets, const std::string &where) {
    if (triplets.empty()) fail(PK_ERROR_CRYSTAL, where + ": no symmetry operators");
    std::vector<Op> ops;
    std::set<Op> distinct;
    for (const std::string &triplet : triplets) {
        // Operator coefficients and translations are small numbers; a long
        // run of digits would overflow in the triplet parser.
        std::size_t digits = 0;
        for (char c : triplet) {
            digits = (c >= '0' && c <= '9') ? digits + 1 : 0;
            if (digits > 4) fail(PK_ERROR_CRYSTAL, where + ": the operator \"" + triplet + "\" holds a number out of range");
        }
        Op op;
        try {
            op = gemmi::parse_triplet(triplet);
        } catch (const std::exception &e) {
            fail(PK_ERROR_CRYSTAL, where + ": the operator \"" + triplet + "\" does not parse (" +
                                       e.what() + ")");
        }
        if (op.det_rot() != Op::DEN * Op::DEN * Op::DEN && op.det_rot() != -Op::DEN * Op::DEN * Op::DEN) {
            fail(PK_ERROR_CRYSTAL, where + ": the operator \"" + triplet + "\" is not a symmetry operation");
        }
        op.wrap();
        if (!distinct.insert(op).second) {
            fail(PK_ERROR_CRYSTAL, where + ": the operator \"" + triplet + "\" is listed twice");
        }
        ops.push_back(op);
    }
    if (distinct.count(Op::identity()) == 0) {
        fail(PK_ERROR_CRYSTAL, where + ": the operators do not include the identity x,y,z");
    }
    for (const Op &a : ops) {
        for (const Op &b : ops) {
            if (distinct.count(a * b) == 0) {
                fail(PK_ERROR_CRYSTAL, where + ": the operators do not form a group (the product of " +
                                           a.triplet() + " and " + b.triplet() + " is " +
                                           (a * b).triplet() + ", which is not listed)");
            }
        }
    }
    return symmetryOf(gemmi::split_centering_vectors(ops), "");
}

}  // namespace powderkit::phase
