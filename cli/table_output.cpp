// Tab-separated tables: the header line first, then one line a row, cells
// joined by tabs, numbers written with "%.10g" so that a reader gets ten
// significant digits and integers look like integers.
#include "table_output.hpp"

#include <cmath>
#include <cstdio>

namespace powderkit::cli {

std::string formatNumber(double value) {
    if (value == 0.0) value = 0.0;  // −0 prints as 0
    char text[64];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

std::string formatInteger(int64_t value) { return std::to_string(value); }

std::string withEsd(double value, double esd) {
    if (!std::isfinite(esd)) return formatNumber(value) + "(?)";
    if (esd <= 0.0) return formatNumber(value);
    int decimals = static_cast<int>(-std::floor(std::log10(esd)));
    if (esd * std::pow(10.0, decimals) < 1.95) ++decimals;
    if (decimals < 0) decimals = 0;
    char text[64];
    std::snprintf(text, sizeof text, "%.*f(%.0f)", decimals, value, esd * std::pow(10.0, decimals));
    return text;
}

Table::Table(std::vector<std::string> columns) : columns_(std::move(columns)) {}

Table &Table::row() {
    rows_.emplace_back();
    return *this;
}

Table &Table::add(const std::string &cell) {
    if (rows_.empty()) rows_.emplace_back();
    rows_.back().push_back(cell);
    return *this;
}

static void appendLine(std::string &text, const std::vector<std::string> &cells) {
    for (size_t i = 0; i < cells.size(); ++i) {
        if (i > 0) text += '\t';
        text += cells[i];
    }
    text += '\n';
}

std::string Table::text() const {
    std::string text;
    appendLine(text, columns_);
    for (const auto &cells : rows_) appendLine(text, cells);
    return text;
}

}  // namespace powderkit::cli
