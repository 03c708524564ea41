// Checking a phase description and building the core's records from it. The
// layer reaches the core only through its exported make functions and
// operations; a NULL from a make function is an allocation failure.
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "boundary/constants.hpp"
#include "boundary/boundary.hpp"
#include "crystal/phase.hpp"

namespace powderkit::phase {

namespace {

// How far outside [0, 1] an occupancy may lie and still be taken as rounding.
constexpr double kOccupancyRounding = 1e-3;

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

// Appends `item` to a core array, failing when the array could not grow.
void append(DynamicArray *array, void *item) {
    const int32_t before = array->count;
    addObjectToDynamicArray(array, item);
    if (array->count == before) throw std::bad_alloc();
}

void addOperators(RefinementCrystal *crystal, const Symmetry &symmetry) {
    const auto count = static_cast<int32_t>(symmetry.operations.size());
    crystal->symmetryOperators = checked(makeDynamicArrayWithCapacity(count));
    for (int32_t n = 0; n < count; ++n) {
        const SymmetryOperation &operation = symmetry.operations[static_cast<std::size_t>(n)];
        RefinementSymmetryOperator *op = checked(makeRefinementSymmetryOperator());
        for (int i = 0; i < 9; ++i) op->rotation[i / 3][i % 3] = operation.rotation[static_cast<std::size_t>(i)];
        for (int i = 0; i < 3; ++i) {
            op->translation[i] = operation.translation[static_cast<std::size_t>(i)];
            op->coordinateExpressions[i] = operation.expressions[static_cast<std::size_t>(i)].c_str();
            crystal->symmetryTranslations[n][i] = operation.translation[static_cast<std::size_t>(i)];
        }
        try {
            append(crystal->symmetryOperators, op);
        } catch (...) {
            op->methods->freeRefinementSymmetryOperator(op);
            throw;
        }
    }
    crystal->latticeType = symmetry.latticeType;
    // The multiplicity counts h and −h: the operators supply −h only when the
    // group holds the inversion.
    crystal->addFriedelMates = symmetry.centrosymmetric ? 0 : 1;
}

RefinementAtomicScatteringFactor *scatteringFactorOf(const ElementData &element) {
    RefinementAtomicScatteringFactor *factor = checked(makeRefinementAtomicScatteringFactor());
    for (int i = 0; i < 9; ++i) factor->cromerMannCoefficients[i] = element.coefficients[static_cast<std::size_t>(i)];
    factor->hasCromerMannCoefficients = 1;
    factor->scatteringLength = element.scatteringLength;
    factor->hasNeutronScatteringLength = 1;
    return factor;
}

void addSite(RefinementCrystal *crystal, const SiteDescription &description) {
    Site *site = checked(makeEmptySite());
    try {
        append(crystal->sites, site);
    } catch (...) {
        site->methods->freeSite(site);
        throw;
    }
    site->x = description.x;
    site->y = description.y;
    site->z = description.z;
    site->isIncluded = 1;
    site->label = description.label.c_str();
    site->occupants = checked(makeDynamicArrayWithCapacity(1));
    RefinementAtomicScatteringFactor *factor = scatteringFactorOf(*description.element);
    RefinementSiteOccupant *occupant =
        makeRefinementSiteOccupant(description.element->symbol.c_str(), description.occupancy, factor);
    if (occupant == nullptr) {
        factor->methods->freeRefinementAtomicScatteringFactor(factor);
        throw std::bad_alloc();
    }
    try {
        append(site->occupants, occupant);
    } catch (...) {
        occupant->methods->freeRefinementSiteOccupant(occupant);
        throw;
    }
    RefinementThermalEllipsoidUij *displacement = checked(makeRefinementThermalEllipsoidUij());
    site->displacement = displacement;
    displacement->uIso = description.uIso;
    if (description.anisotropic) {
        // U11 U22 U33 U12 U13 U23 into the symmetric matrix.
        const auto &u = description.u;
        const double matrix[3][3] = {{u[0], u[3], u[4]}, {u[3], u[1], u[5]}, {u[4], u[5], u[2]}};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) displacement->u[i][j] = matrix[i][j];
        }
        displacement->isAnisotropic = 1;
    }
}

// Whether the core's unit-cell generation made every position of a site, by
// its own rules: images R·v + t folded into the cell (faces within 1e-5 taken
// as 0), positions within 0.00011 on every axis the same, each kept with the
// first operator that makes it. The core leaves out, silently, a position
// whose record cannot be allocated (a later operator may then make it
// instead): a list that differs from this one in length or in any recorded
// operator is such a failure.
bool positionsAreComplete(const RefinementCrystal *crystal, const Site *site) {
    if (site->atoms == nullptr) return false;
    const auto fold = [](double u) {
        double r = u;
        if (u > 1.0) {
            r = u - std::trunc(u);
        } else if (u < 0.0) {
            r = u - std::trunc(u) + 1.0;
        }
        return (r > 0.99999 || r < 0.00001) ? 0.0 : r;
    };
    std::vector<std::array<double, 3>> found;
    const double v[3] = {site->x, site->y, site->z};
    for (int32_t i = 0; i < crystal->symmetryOperators->count; ++i) {
        const auto *op = static_cast<const RefinementSymmetryOperator *>(crystal->symmetryOperators->items[i]);
        double p[3];
        op->methods->transformVectorWithDisplacedOrigin(p, op, v, crystal->originShift);
        const std::array<double, 3> q{fold(p[0]), fold(p[1]), fold(p[2])};
        bool seen = false;
        for (const auto &f : found) {
            if (std::fabs(f[0] - q[0]) < 0.00011 && std::fabs(f[1] - q[1]) < 0.00011 &&
                std::fabs(f[2] - q[2]) < 0.00011) {
                seen = true;
            }
        }
        if (seen) continue;
        const auto index = static_cast<int32_t>(found.size());
        if (index >= site->atoms->count ||
            static_cast<const RefinementAtom *>(site->atoms->items[index])->symmetryOperator != op) {
            return false;
        }
        found.push_back(q);
    }
    return static_cast<int32_t>(found.size()) == site->atoms->count;
}

}  // namespace

namespace {

// The cell must be one its space group's operators leave unchanged: a rotation R
// of fractional coordinates keeps every distance, xᵀGx = (Rx)ᵀG(Rx), only when
// RᵀGR = G, G the metric tensor (G_ij = a_i · a_j). The cell RᵀGR stands for is
// compared with the cell given, each length and angle to kCellSymmetry of itself
// (a CIF's rounding stays far below); the first that differs is named with the
// operator that moves it. A cubic group with b ≠ a, or γ ≠ 90°, fails here
// instead of giving multiplicities that no such crystal has.
constexpr double kCellSymmetry = 1e-4;

void requireSymmetricCell(const PhaseDescription &description, const std::string &where) {
    static const char *kCellNames[6] = {"a", "b", "c", "alpha", "beta", "gamma"};
    const auto &cell = description.cell;
    double cosines[3];
    for (int i = 0; i < 3; ++i) cosines[i] = std::cos(cell[static_cast<std::size_t>(3 + i)] * kDegreesToRadians);
    // G: lengths a b c, cos α between b and c, cos β between a and c, cos γ between a and b.
    double g[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            const double cosine = i == j ? 1.0 : cosines[3 - i - j];
            g[i][j] = cell[static_cast<std::size_t>(i)] * cell[static_cast<std::size_t>(j)] * cosine;
        }
    }
    for (const SymmetryOperation &op : description.symmetry.operations) {
        double moved[3][3] = {};  // RᵀGR
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                for (int k = 0; k < 3; ++k) {
                    for (int l = 0; l < 3; ++l) moved[i][j] += op.rotation[k * 3 + i] * g[k][l] * op.rotation[l * 3 + j];
                }
            }
        }
        double seen[6];
        for (int i = 0; i < 3; ++i) seen[i] = std::sqrt(moved[i][i]);
        for (int i = 0; i < 3; ++i) {
            const int j = (i + 1) % 3, k = (i + 2) % 3;  // the angle opposite length i lies between j and k
            seen[3 + i] = std::acos(std::clamp(moved[j][k] / (seen[j] * seen[k]), -1.0, 1.0)) / kDegreesToRadians;
        }
        for (int p = 0; p < 6; ++p) {
            const double given = cell[static_cast<std::size_t>(p)];
            if (std::fabs(seen[p] - given) > kCellSymmetry * given) {
                const std::string symbol =
                    description.symmetry.symbol.empty() ? "its symmetry operators" : description.symmetry.symbol;
                fail(PK_ERROR_CRYSTAL, where + ": the cell does not have the symmetry of " + symbol + ": " +
                                           kCellNames[p] + " = " + number(given) + ", which its operator " +
                                           op.expressions[0] + "," + op.expressions[1] + "," + op.expressions[2] +
                                           " turns into " + number(seen[p]));
            }
        }
    }
}

}  // namespace

void validateDescription(const PhaseDescription &description, const std::string &where) {
    static const char *kCellNames[6] = {"a", "b", "c", "alpha", "beta", "gamma"};
    const auto &cell = description.cell;
    for (int i = 0; i < 6; ++i) {
        const double value = cell[static_cast<std::size_t>(i)];
        if (!std::isfinite(value)) fail(PK_ERROR_CRYSTAL, where + ": the cell " + kCellNames[i] + " is not a number");
        if (i < 3 && !(value > 0.0)) {
            fail(PK_ERROR_CRYSTAL, where + ": the cell edge " + kCellNames[i] + " = " + number(value) +
                                       " is not positive");
        }
        if (i >= 3 && !(value > 0.0 && value < 180.0)) {
            fail(PK_ERROR_CRYSTAL, where + ": the cell angle " + kCellNames[i] + " = " + number(value) +
                                       " is not between 0 and 180 degrees");
        }
    }
    // V² / (abc)² = 1 − cos²α − cos²β − cos²γ + 2 cosα cosβ cosγ must be positive.
    const double ca = std::cos(cell[3] * kDegreesToRadians);
    const double cb = std::cos(cell[4] * kDegreesToRadians);
    const double cg = std::cos(cell[5] * kDegreesToRadians);
    if (!(1.0 - ca * ca - cb * cb - cg * cg + 2.0 * ca * cb * cg > 1e-10)) {
        fail(PK_ERROR_CRYSTAL, where + ": the cell angles " + number(cell[3]) + ", " + number(cell[4]) +
                                   ", " + number(cell[5]) + " make no cell");
    }
    if (description.symmetry.operations.empty()) fail(PK_ERROR_CRYSTAL, where + ": no symmetry operators");
    requireSymmetricCell(description, where);
    for (const SiteDescription &site : description.sites) {
        const std::string name = where + ": site " + site.label;
        if (site.element == nullptr) fail(PK_ERROR_CRYSTAL, name + " has no element");
        if (!std::isfinite(site.x) || !std::isfinite(site.y) || !std::isfinite(site.z)) {
            fail(PK_ERROR_CRYSTAL, name + " has a coordinate that is not a number");
        }
        if (!(site.occupancy >= -kOccupancyRounding && site.occupancy <= 1.0 + kOccupancyRounding)) {
            fail(PK_ERROR_CRYSTAL, name + ": the occupancy " + number(site.occupancy) + " is outside [0, 1]");
        }
        if (!std::isfinite(site.uIso)) fail(PK_ERROR_CRYSTAL, name + ": Uiso is not a number");
        // A negative mean-square displacement has no meaning, and its Debye–Waller factor grows without bound.
        if (site.uIso < 0.0) fail(PK_ERROR_CRYSTAL, name + ": Uiso = " + number(site.uIso) + " Å² is negative");
        for (double u : site.u) {
            if (!std::isfinite(u)) fail(PK_ERROR_CRYSTAL, name + ": a Uij is not a number");
        }
    }
}

CrystalPointer buildCrystal(const PhaseDescription &description) {
    CrystalPointer crystal(checked(makeEmptyRefinementCrystal()));
    RefinementCrystal *c = crystal.get();
    c->a = description.cell[0];
    c->b = description.cell[1];
    c->c = description.cell[2];
    c->alpha = description.cell[3];
    c->beta = description.cell[4];
    c->gamma = description.cell[5];
    c->methods->calculateReciprocalCell(c);
    c->methods->calculateMetricTensor(c);
    addOperators(c, description.symmetry);
    // Displacements always apply, isotropic or not.
    c->useAnisotropicDisplacement = 1;
    const auto siteCount = static_cast<int32_t>(description.sites.size());
    c->sites = checked(makeDynamicArrayWithCapacity(siteCount > 0 ? siteCount : 1));
    for (const SiteDescription &site : description.sites) addSite(c, site);
    if (siteCount > 0) {
        c->methods->generateUnitCell(c);
        for (int32_t i = 0; i < siteCount; ++i) {
            const auto *site = static_cast<const Site *>(c->sites->items[i]);
            if (!positionsAreComplete(c, site)) throw std::bad_alloc();
        }
        c->methods->calculateSimilarityIndices(c);
    }
    return crystal;
}

}  // namespace powderkit::phase
