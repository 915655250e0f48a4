#include "transfer/ftp_address.hpp"

#include <algorithm>

namespace sejfko {

bool ParseFtpAddress(const std::string& text, TFtpAddress& address) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return false;
    }
    const std::string trimmed = text.substr(first, text.find_last_not_of(" \t") - first + 1);
    const std::size_t colon = trimmed.find(':');
    std::string host = trimmed.substr(0, colon);
    int port = DefaultFtpPort;
    if (colon != std::string::npos) {
        const std::string digits = trimmed.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
            return false;
        }
        port = std::stoi(digits);
        if (port < 1 || port > 65535) {
            return false;
        }
    }
    if (host.empty() || std::any_of(host.begin(), host.end(), [](char c) {
            return static_cast<unsigned char>(c) <= 32 || c == 127;
        })) {
        return false;
    }
    address.Host = std::move(host);
    address.Port = port;
    return true;
}

}  // namespace sejfko
