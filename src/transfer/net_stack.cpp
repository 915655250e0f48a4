#include "transfer/net_stack.hpp"

#include <cctype>

#include "platform/socket_api.hpp"
#include "transfer/net_errors.hpp"

namespace sejfko {

namespace {

// Splits as the dotted-address rule reads: three parts at the first three dots, the fourth the
// whole rest. Each part's value goes to `parts`.
bool ParseDotted(const std::string& text, int parts[4]) {
    std::size_t start = 0;
    for (int index = 0; index < 4; ++index) {
        std::size_t end = index < 3 ? text.find('.', start) : text.size();
        if (end == std::string::npos) {
            return false;
        }
        const std::size_t length = end - start;
        if (length == 0 || length > 3) {
            return false;
        }
        int value = 0;
        for (std::size_t at = start; at < end; ++at) {
            if (!std::isdigit(static_cast<unsigned char>(text[at]))) {
                return false;
            }
            value = value * 10 + (text[at] - '0');
        }
        if (value > 255) {
            return false;
        }
        parts[index] = value;
        start = end + 1;
    }
    return true;
}

}  // namespace

bool TNetStack::IsIP(const std::string& text) {
    int parts[4];
    return ParseDotted(text, parts);
}

std::string TNetStack::ResolveHost(const std::string& host, const TCancelEvent* cancel) {
    std::string upper = host;
    for (char& c : upper) {
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    }
    if (upper == "LOCALHOST") {
        return "127.0.0.1";
    }
    int parts[4];
    if (ParseDotted(host, parts)) {
        return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." +
               std::to_string(parts[2]) + "." + std::to_string(parts[3]);
    }
    std::string ip;
    int error = ResolveHostAddress(host, ip, cancel);
    if (error != 0) {
        RaiseSocketError(error);
    }
    return ip;
}

bool TNetStack::CheckForSocketError(long result, std::initializer_list<int> tolerated) {
    if (result != -1) {
        return false;
    }
    const int error = LastSocketError();
    for (int code : tolerated) {
        if (code == error) {
            return true;
        }
    }
    RaiseSocketError(error);
}

void TNetStack::RaiseSocketError(int errorCode) {
    throw ENetSocketError(errorCode);
}

std::string TNetStack::TranslateSocketErrorMessage(int errorCode) {
    return SocketErrorText(errorCode);
}

}  // namespace sejfko
