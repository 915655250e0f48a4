#include "transfer/net_ftp.hpp"

#include <cctype>

#include "transfer/net_errors.hpp"
#include "transfer/net_simple_server.hpp"

namespace sejfko {

namespace {

// One entry per line at CR, LF or CR LF; a final line break ends the last entry.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        if (lines.size() >= MaxListingLines) {
            // A listing of nothing but line breaks would otherwise cost far more than its bytes.
            throw ENetInvalidReply("Listing too long.");
        }
        lines.push_back(text.substr(start, end - start));
        start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    return lines;
}

}  // namespace

std::string PortCommandText(const std::string& ip, int port) {
    std::string address = ip;
    for (char& c : address) {
        if (c == '.') {
            c = ',';
        }
    }
    return "PORT " + address + "," + std::to_string(port / 256) + "," + std::to_string(port % 256);
}

bool ParsePassiveReply(const std::string& line, int& port) {
    // The numbers follow the code, in parentheses or not: take the first run of six.
    for (std::size_t start = 3; start < line.size(); ++start) {
        if (!std::isdigit(static_cast<unsigned char>(line[start]))) {
            continue;
        }
        int values[6] = {};
        std::size_t at = start;
        int count = 0;
        for (; count < 6; ++count) {
            std::size_t digits = 0;
            int value = 0;
            while (at < line.size() && std::isdigit(static_cast<unsigned char>(line[at])) &&
                   digits < 4) {
                value = value * 10 + (line[at++] - '0');
                ++digits;
            }
            if (digits == 0 || value > 255) {
                break;
            }
            values[count] = value;
            if (count < 5) {
                if (at >= line.size() || line[at] != ',') {
                    break;
                }
                ++at;
            }
        }
        if (count == 6) {
            port = values[4] * 256 + values[5];
            return port > 0;
        }
        // Not six numbers here: go on after this run of digits.
        while (start + 1 < line.size() &&
               std::isdigit(static_cast<unsigned char>(line[start + 1]))) {
            ++start;
        }
    }
    return false;
}

TNetFTP::TNetFTP() {
    Port = 21;
}

TNetFTP::~TNetFTP() = default;

void TNetFTP::Connect(bool autoLogin) {
    std::string pinned;
    if (UseTls && !PinnedFingerprint.empty() && !ParseFingerprint(PinnedFingerprint, pinned)) {
        throw ENetTlsError(
            "Otisk certifikátu v klíči \"FTP certificate\" není otisk SHA-256 "
            "(64 šestnáctkových číslic, dvojtečky jsou dovoleny).");
    }
    TNetTCPClient::Connect();
    try {
        ReadReply({220});
        if (UseTls) {
            SecureControlConnection(true);
        }
        if (autoLogin) {
            Login();
        }
        if (UseTls) {
            // Every data connection encrypted; PBSZ must come before PROT, and servers that
            // demand TLS take both only after the login.
            SendCommand("PBSZ 0", 200);
            SendCommand("PROT P", 200);
        }
        SendTransferType();
        const int code = SendCommand("syst", {200, 215, 500});
        SystemDesc = code == 500 ? "Unknown" : ReplyLines().back().substr(3);
    } catch (...) {
        try {
            Disconnect();
        } catch (...) {
        }
        throw;
    }
}

void TNetFTP::Login() {
    if (SendCommand("user " + User, {230, 331}) == 331) {
        SendCommand("pass " + Password, 230);
    }
}

void TNetFTP::SendTransferType() {
    SendCommand(std::string("type ") + (FTransferType == ftBinary ? "I" : "A"), 200);
}

void TNetFTP::SetTransferType(TNetFTPTransferType value) {
    if (value == FTransferType || FDataChannel) {
        return;
    }
    FTransferType = value;
    if (Connected()) {
        SendTransferType();
    }
}

void TNetFTP::Delete(const std::string& name) {
    SendCommand("DELE " + name, 250);
}

void TNetFTP::Rename(const std::string& from, const std::string& to) {
    SendCommand("RNFR " + from, {350});
    SendCommand("RNTO " + to, {250});
}

void TNetFTP::Put(const std::string& localPath, const std::string& remoteName, bool append) {
    TFileSource source(localPath);
    TransferData((append ? "APPE " : "STOR ") + remoteName,
                 [&](TNetTCPConnection& channel) { channel.SendStream(source, true); },
                 Timeouts.Completion);
}

void TNetFTP::Get(const std::string& remoteName, const std::string& localPath) {
    TFileSink sink(localPath);
    TransferData(
        "RETR " + remoteName,
        [&](TNetTCPConnection& channel) { channel.ReceiveStream(sink, -1, true); }, -1);
    sink.Commit();
}

void TNetFTP::List(std::vector<std::string>& entries, const std::string& specifier, bool details) {
    TStringSink sink(MaxListingBytes, "Listing too long.");
    TransferData(
        TrimControls((details ? "list " : "nlst ") + specifier),
        [&](TNetTCPConnection& channel) { channel.ReceiveStream(sink, -1, true); }, -1);
    entries = SplitLines(sink.Text());
}

void TNetFTP::ListNames(std::vector<std::string>& entries, const std::string& specifier) {
    try {
        List(entries, specifier, false);
    } catch (const ENetProtocolReplyError& error) {
        if (!FDataCommandRefused || (error.ReplyCode != 450 && error.ReplyCode != 550)) {
            throw;
        }
        List(entries, "", false);
    }
}

void TNetFTP::CopyEventsTo(TNetTCPConnection& channel) const {
    channel.OnWork = OnWork;
    channel.OnWorkBegin = OnWorkBegin;
    channel.OnWorkEnd = OnWorkEnd;
    channel.Timeouts = Timeouts;
    channel.CancelEvent = CancelEvent;
    channel.RecvBufferSize = RecvBufferSize;
    channel.SendBufferSize = SendBufferSize;
}

void TNetFTP::OpenActive(const std::string& command) {
    auto server = std::make_unique<TNetSimpleServer>();
    CopyEventsTo(*server);
    server->BoundIP = FSocket.IP;
    TNetSimpleServer& listener = *server;
    FDataChannel = std::move(server);
    listener.BeginListen();
    SendCommand(PortCommandText(listener.ListenIP(), listener.ListenPort()), 200);
    FDataCommandRefused = true;
    SendCommand(command, {125, 150});
    FDataCommandRefused = false;
    // Only the server may connect: anyone else reaching the port first would get the data.
    listener.AcceptConnection(FSocket.PeerIP);
    if (UseTls) {
        SecureDataConnection(listener);
    }
}

void TNetFTP::OpenPassive(const std::string& command) {
    SendCommand("PASV", 227);
    int port = 0;
    if (!ParsePassiveReply(ReplyLines().back(), port)) {
        throw ENetProtocolReplyError(ReplyCode(), ReplyLines().back());
    }
    auto client = std::make_unique<TNetTCPClient>();
    CopyEventsTo(*client);
    // The address in the reply is ignored: a server (or whoever tampered with the reply) could
    // otherwise send the data anywhere, and servers behind NAT often name a private address.
    client->Host = FSocket.PeerIP;
    client->Port = port;
    TNetTCPClient& data = *client;
    FDataChannel = std::move(client);
    data.Connect();
    FDataCommandRefused = true;
    SendCommand(command, {125, 150});
    FDataCommandRefused = false;
    // Not before the command: the server starts its side of the handshake only then.
    if (UseTls) {
        SecureDataConnection(data);
    }
}

template <typename TWork>
void TNetFTP::TransferData(const std::string& command, TWork&& work, int completionTimeoutMs) {
    FDataCommandRefused = false;
    try {
        if (Passive) {
            OpenPassive(command);
        } else {
            OpenActive(command);
        }
        work(*FDataChannel);
        if (UseTls) {
            EndDataTls(*FDataChannel);
        }
    } catch (...) {
        FDataChannel.reset();
        throw;
    }
    FDataChannel.reset();
    if (ReadReply({225, 226, 250, 426}, completionTimeoutMs) == 426) {
        ReadReply({226});
    }
}

}  // namespace sejfko
