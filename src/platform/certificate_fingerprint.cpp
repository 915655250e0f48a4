// Certificate fingerprints as users read and type them; the same with or without TLS support.

#include <cctype>
#include <string>

#include "platform/tls_channel.hpp"

namespace sejfko {

std::string FormatFingerprint(const std::string& hex) {
    if (hex.size() != 64) {
        return hex;
    }
    std::string text;
    for (std::size_t index = 0; index < hex.size(); index += 2) {
        if (index > 0) {
            text += ':';
        }
        text += static_cast<char>(std::toupper(static_cast<unsigned char>(hex[index])));
        text += static_cast<char>(std::toupper(static_cast<unsigned char>(hex[index + 1])));
    }
    return text;
}

bool ParseFingerprint(const std::string& text, std::string& hex) {
    std::string digits;
    for (const char c : text) {
        if (c == ':' || c == ' ' || c == '-' || c == '\t') {
            continue;
        }
        const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!((lower >= '0' && lower <= '9') || (lower >= 'a' && lower <= 'f'))) {
            return false;
        }
        digits += lower;
    }
    if (digits.size() != 64) {
        return false;
    }
    hex = digits;
    return true;
}

}  // namespace sejfko
