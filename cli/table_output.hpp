// Tab-separated tables for standard output and files: a header line (never
// starting with '#') and rows of cells, every number written with "%.10g".
#ifndef POWDERKIT_CLI_TABLE_OUTPUT_HPP
#define POWDERKIT_CLI_TABLE_OUTPUT_HPP

#include <cstdint>
#include <string>
#include <vector>

namespace powderkit::cli {

// A number with "%.10g" (integral values therefore without a point; −0 as 0).
std::string formatNumber(double value);
std::string formatInteger(int64_t value);
// "4.75890(1)": the esd in units of the value's last digit, two digits when
// it starts with 1; "(?)" when the data cannot give one.
std::string withEsd(double value, double esd);

class Table {
public:
    explicit Table(std::vector<std::string> columns);

    // Starts a new row; the cells follow with add.
    Table &row();
    Table &add(const std::string &cell);
    Table &add(double number) { return add(formatNumber(number)); }
    Table &addInteger(int64_t number) { return add(formatInteger(number)); }

    // The header line and every row, each ending with a newline.
    std::string text() const;

private:
    std::vector<std::string> columns_;
    std::vector<std::vector<std::string>> rows_;
};

}  // namespace powderkit::cli

#endif
