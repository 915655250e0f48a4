// No OpenSSL for this target: FTP over TLS is not in the Windows build. A context cannot be
// made, with a Czech text that says so; the rest is never reached.

#include "platform/tls_channel.hpp"

#include <cctype>
#include <stdexcept>

namespace sejfko {

TTlsContext::TTlsContext(const std::string& hostName) : FHostName(hostName) {
    throw std::runtime_error("FTP přes TLS není v tomto sestavení k dispozici.");
}

TTlsContext::~TTlsContext() = default;

TTlsChannel::TTlsChannel(TSocket socket, const TTlsContext&, const TTlsChannel*) : FSocket(socket) {
    throw std::runtime_error("FTP přes TLS není v tomto sestavení k dispozici.");
}

TTlsChannel::~TTlsChannel() = default;

int TTlsChannel::Classify(int) {
    return -1;
}

int TTlsChannel::Handshake(int, const TCancelEvent*) {
    SetLastSocketError(TlsProtocolError);
    return -1;
}

int TTlsChannel::WaitReadable(int, const TCancelEvent*) {
    SetLastSocketError(TlsProtocolError);
    return -1;
}

int TTlsChannel::WaitWritable(int, const TCancelEvent*) {
    SetLastSocketError(TlsProtocolError);
    return -1;
}

std::ptrdiff_t TTlsChannel::Send(const void*, std::size_t) {
    SetLastSocketError(TlsProtocolError);
    return -1;
}

std::ptrdiff_t TTlsChannel::Receive(void*, std::size_t) {
    SetLastSocketError(TlsProtocolError);
    return -1;
}

int TTlsChannel::Shutdown(int, const TCancelEvent*) {
    return -1;
}

void TTlsChannel::ShutdownNow() {}

TTlsPeerCertificate TTlsChannel::PeerCertificate() const {
    return {};
}

bool TTlsChannel::SessionReused() const {
    return false;
}

std::string TTlsChannel::Version() const {
    return {};
}

}  // namespace sejfko
