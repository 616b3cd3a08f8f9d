#include "report/listing.h"

#include <iomanip>

#include "luma/slider_names.h"
#include "report/labels.h"

namespace zeverive::cli {

void print_record(const PluginLibrary& library, std::ostream& out) {
    const FilterTable& table = library.table();
    out << cp932_to_utf8(table.display_name) << "  (" << library.name() << ")\n";
    if (table.information) out << cp932_to_utf8(table.information) << "\n";
    out << "\n";
    auto row = [&](const std::string& index, const std::string& option, const std::string& fallback,
                   const std::string& range, const std::string& label) {
        out << std::left << std::setw(7) << index << std::setw(17) << option << std::setw(9) << fallback
            << std::setw(9) << range << label << "\n";
    };
    // Labels go last: their width on a terminal is not their byte count.
    row("slider", "option", "default", "range", "label");
    for (int i = 0; i < table.slider_count; ++i) {
        row(std::to_string(i), std::string("--") + luma::kSliderOptionNames[i], std::to_string(table.slider_defaults[i]),
            std::to_string(table.slider_minimums[i]) + ".." + std::to_string(table.slider_maximums[i]),
            cp932_to_utf8(table.slider_labels[i]));
    }
    out << "\n";
    row("check", "option", "default", "values", "label");
    for (int i = 0; i < table.checkbox_count; ++i) {
        row(std::to_string(i), std::string("--") + luma::kCheckboxOptionName, std::to_string(table.checkbox_defaults[i]),
            "0, 1", cp932_to_utf8(table.checkbox_labels[i]));
    }
}

}  // namespace zeverive::cli
