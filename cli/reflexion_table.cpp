// Reflexion tables: the entries of a reflexion list with their indices and
// the quantities the phase layer computes (d, 2θ, multiplicity, |F|²,
// intensity and intensity relative to the strongest), or the observed lines
// with the indices of the reflexions that fall on each.
#include "reflexion_table.hpp"

namespace powderkit::cli {

ReflexionListHandle makeReflexionList(const pk_phase &phase, const pk_instrument &instrument,
                                      int32_t limit_kind, double limit) {
    pk_error error{};
    pk_reflexion_list *made = nullptr;
    const int32_t status =
        pk_reflexion_list_make(&phase, &instrument, limit_kind, limit, &made, &error);
    ReflexionListHandle list(made);
    check(status, error);
    return list;
}

std::vector<std::string> reflexionColumns(bool with_phase) {
    std::vector<std::string> columns;
    if (with_phase) columns.push_back("phase");
    for (const char *name :
         {"h", "k", "l", "d", "two_theta", "multiplicity", "F2", "intensity", "relative"}) {
        columns.push_back(name);
    }
    return columns;
}

// One quantity of every entry (lines = false) or every line (lines = true).
static std::vector<double> quantity(const pk_reflexion_list &list, int32_t which, bool lines) {
    const int32_t count =
        lines ? pk_reflexion_list_line_count(&list) : pk_reflexion_list_count(&list);
    std::vector<double> values(static_cast<size_t>(count > 0 ? count : 0));
    if (values.empty()) return values;
    pk_error error{};
    check(lines ? pk_reflexion_list_line_values(&list, which, values.data(), count, &error)
                : pk_reflexion_list_values(&list, which, values.data(), count, &error),
          error);
    return values;
}

static std::vector<int32_t> indices(const pk_reflexion_list &list) {
    const int32_t count = pk_reflexion_list_count(&list);
    std::vector<int32_t> hkl(3 * static_cast<size_t>(count > 0 ? count : 0));
    if (hkl.empty()) return hkl;
    pk_error error{};
    check(pk_reflexion_list_indices(&list, hkl.data(), count, &error), error);
    return hkl;
}

void addReflexionRows(Table &table, const pk_reflexion_list &list, const std::string *phase_name,
                      double x_from) {
    const std::vector<int32_t> hkl = indices(list);
    const std::vector<double> d = quantity(list, PK_QUANTITY_D, false);
    const std::vector<double> x = quantity(list, PK_QUANTITY_X, false);
    const std::vector<double> multiplicity = quantity(list, PK_QUANTITY_MULTIPLICITY, false);
    const std::vector<double> f2 = quantity(list, PK_QUANTITY_F2, false);
    const std::vector<double> intensity = quantity(list, PK_QUANTITY_INTENSITY, false);
    const std::vector<double> relative = quantity(list, PK_QUANTITY_RELATIVE, false);
    for (size_t i = 0; i < d.size(); ++i) {
        if (x[i] < x_from) continue;
        table.row();
        if (phase_name != nullptr) table.add(*phase_name);
        table.addInteger(hkl[3 * i]).addInteger(hkl[3 * i + 1]).addInteger(hkl[3 * i + 2]);
        table.add(d[i]).add(x[i]).add(multiplicity[i]).add(f2[i]).add(intensity[i]).add(relative[i]);
    }
}

std::string lineTable(const pk_reflexion_list &list) {
    const std::vector<int32_t> hkl = indices(list);
    const std::vector<double> d = quantity(list, PK_QUANTITY_D, true);
    const std::vector<double> x = quantity(list, PK_QUANTITY_X, true);
    const std::vector<double> intensity = quantity(list, PK_QUANTITY_INTENSITY, true);
    const std::vector<double> relative = quantity(list, PK_QUANTITY_RELATIVE, true);
    const int32_t count = static_cast<int32_t>(d.size());
    std::vector<int32_t> first(d.size()), members(d.size());
    if (count > 0) {
        pk_error error{};
        check(pk_reflexion_list_line_members(&list, first.data(), members.data(), count, &error),
              error);
    }
    const size_t entries = hkl.size() / 3;
    Table table({"d", "two_theta", "intensity", "relative", "reflexions"});
    for (size_t i = 0; i < d.size(); ++i) {
        std::string reflexions;
        for (int32_t m = 0; m < members[i]; ++m) {
            const size_t e = static_cast<size_t>(first[i]) + static_cast<size_t>(m);
            if (first[i] < 0 || e >= entries) throw InputError("line members out of the list");
            if (m > 0) reflexions += ';';
            reflexions += formatInteger(hkl[3 * e]) + ' ' + formatInteger(hkl[3 * e + 1]) + ' ' +
                          formatInteger(hkl[3 * e + 2]);
        }
        table.row().add(d[i]).add(x[i]).add(intensity[i]).add(relative[i]).add(reflexions);
    }
    return table.text();
}

}  // namespace powderkit::cli
