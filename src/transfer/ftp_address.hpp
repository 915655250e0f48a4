#pragma once
// The server address as "Remote host" holds it: a host name or dotted IPv4 address, optionally
// followed by ":" and a port ("ftp.example.cz:2121"). Without a port the FTP port 21 applies.

#include <string>

namespace sejfko {

constexpr int DefaultFtpPort = 21;

struct TFtpAddress {
    std::string Host;
    int Port = DefaultFtpPort;
};

// False for an empty host, a host with blanks or control characters, more than one ":", or a
// port that is not a decimal number from 1 to 65535. Surrounding blanks are ignored.
bool ParseFtpAddress(const std::string& text, TFtpAddress& address);

}  // namespace sejfko
