#include "archive/archive_space.hpp"

#include <cmath>
#include <cstdio>

#include "platform/file_system.hpp"
#include "platform/locale_format.hpp"

namespace sejfko {

std::string FormatByteCount(double value) {
    const char decimal = UserLocale().DecimalSeparator();
    const std::string group = decimal == ',' ? "\xC2\xA0" : ",";
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.2f", std::fabs(value));
    const std::string text = digits;
    const std::size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    std::string out = value < 0 ? "-" : "";
    for (std::size_t index = 0; index < whole.size(); ++index) {
        if (index > 0 && (whole.size() - index) % 3 == 0) {
            out += group;
        }
        out += whole[index];
    }
    out += decimal;
    out += text.substr(point + 1);
    return out;
}

std::string VolumeLabel(const std::string& path) {
    const std::string directory = ExtractFileDir(path);
    return directory.empty() ? path : directory;
}

std::string TempSpaceMessage(const std::string& volume, double shortfall) {
    return "Není dostatek místa pro dočasné soubory na disku '" + volume + "'! Uvolněte alespoň " +
           FormatByteCount(shortfall) + " bytů.";
}

}  // namespace sejfko
