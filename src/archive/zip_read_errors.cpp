// Every message of the zip reader is worded here, so that they read alike.

#include <string>

#include "archive/zip_read_format.hpp"
#include "archive/zip_reader.hpp"
#include "platform/system_error_text.hpp"

namespace sejfko::zipread {

void FailArchive(int code, const std::string& archive, const std::string& detail) {
    std::string text;
    switch (code) {
        case 10103:
            text = "Archiv \"" + archive + "\" nelze číst: " + detail + ".";
            break;
        case 10201:
            text = "Soubor \"" + archive + "\" není archiv zip: " + detail + ".";
            break;
        case 10203:
            text = "Záznam Zip64 archivu \"" + archive + "\" je poškozený: " + detail + ".";
            break;
        default:
            text = "Centrální adresář archivu \"" + archive + "\" je poškozený: " + detail + ".";
            break;
    }
    throw EZipReadError(code, text);
}

void FailEntry(int code, const std::string& archive, const std::string& entry,
               const std::string& detail) {
    const std::string where = "\"" + entry + "\" v archivu \"" + archive + "\"";
    if (code == 11015) {
        throw EZipReadError(code, "Položka " + where + " je poškozená: " + detail + ".");
    }
    if (code == 11016) {
        throw EZipReadError(
            code, "Heslo k archivu \"" + archive + "\" není správné (položka \"" + entry + "\").");
    }
    if (code == 11017) {
        throw EZipReadError(code, "Položka " + where + " je zašifrovaná: je třeba zadat heslo.");
    }
    if (code == 10103) {
        throw EZipReadError(code, "Archiv \"" + archive + "\" nelze číst (položka \"" + entry +
                                      "\"): " + detail + ".");
    }
    throw EZipReadError(code, "Položku " + where + " nelze přečíst: " + detail + ".");
}

std::string SystemErrorText(int error) {
    return CzechSystemErrorText(error);
}

}  // namespace sejfko::zipread
