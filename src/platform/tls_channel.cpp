#include "platform/tls_channel.hpp"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <stdexcept>

#include "platform/cancel_event.hpp"

namespace sejfko {

namespace {

SSL* Ssl(void* ssl) {
    return static_cast<SSL*>(ssl);
}

// The socket under a channel and the errno of its last failed call (OpenSSL's own calls may
// change errno before we look).
struct TBioState {
    int Fd = -1;
    int Errno = 0;
};

// OpenSSL's socket BIO writes with write(), which raises SIGPIPE on a closed connection, and
// reads as the descriptor's mode says; ours sends without signals and never blocks either way,
// so the descriptor keeps the blocking mode the plain layers expect.
int BioWrite(BIO* bio, const char* data, int size) {
    auto* state = static_cast<TBioState*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    for (;;) {
        const ssize_t sent =
            send(state->Fd, data, static_cast<std::size_t>(size), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) {
            return static_cast<int>(sent);
        }
        if (errno == EINTR) {
            continue;
        }
        state->Errno = errno;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            BIO_set_retry_write(bio);
        }
        return -1;
    }
}

int BioRead(BIO* bio, char* buffer, int size) {
    auto* state = static_cast<TBioState*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    for (;;) {
        const ssize_t received =
            recv(state->Fd, buffer, static_cast<std::size_t>(size), MSG_DONTWAIT);
        if (received >= 0) {
            return static_cast<int>(received);
        }
        if (errno == EINTR) {
            continue;
        }
        state->Errno = errno;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            BIO_set_retry_read(bio);
        }
        return -1;
    }
}

int BioPuts(BIO* bio, const char* text) {
    return BioWrite(bio, text, static_cast<int>(std::char_traits<char>::length(text)));
}

long BioControl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO_METHOD* SocketMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "sejfko");
        if (made != nullptr) {
            BIO_meth_set_write(made, BioWrite);
            BIO_meth_set_read(made, BioRead);
            BIO_meth_set_puts(made, BioPuts);
            BIO_meth_set_ctrl(made, BioControl);
        }
        return made;
    }();
    return method;
}

std::string OpenSslText() {
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        char line[256];
        ERR_error_string_n(code, line, sizeof line);
        if (!text.empty()) {
            text += "; ";
        }
        text += line;
    }
    return text;
}

bool IsDottedAddress(const std::string& host) {
    in_addr address{};
    return inet_pton(AF_INET, host.c_str(), &address) == 1;
}

int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What is left of a limit begun at `startMs` (negative `timeoutMs`: no limit).
int Left(int timeoutMs, int64_t startMs) {
    if (timeoutMs < 0) {
        return -1;
    }
    const int64_t left = startMs + timeoutMs - SteadyMs();
    return left > 0 ? static_cast<int>(left) : 0;
}

constexpr const char* HexDigits = "0123456789abcdef";

}  // namespace

TTlsContext::TTlsContext(const std::string& hostName) : FHostName(hostName) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr) {
        throw std::runtime_error("TLS nelze připravit: " + OpenSslText());
    }
    FContext = context;
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    // Judged after the handshake by the caller (see the header); the result is still computed.
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_default_verify_paths(context);
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // Many servers close data connections without ending the session; the FTP completion reply
    // and the archives' own checks tell a whole transfer from a cut one.
    SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
}

TTlsContext::~TTlsContext() {
    SSL_CTX_free(static_cast<SSL_CTX*>(FContext));
}

TTlsChannel::TTlsChannel(TSocket socket, const TTlsContext& context, const TTlsChannel* resume)
    : FSocket(socket) {
    ERR_clear_error();
    SSL* ssl = SSL_new(static_cast<SSL_CTX*>(context.Native()));
    BIO_METHOD* method = SocketMethod();
    BIO* bio = method != nullptr ? BIO_new(method) : nullptr;
    if (ssl == nullptr || bio == nullptr) {
        SSL_free(ssl);
        BIO_free(bio);
        throw std::runtime_error("TLS nelze připravit: " + OpenSslText());
    }
    FSsl = ssl;
    auto* state = new TBioState{static_cast<int>(socket), 0};
    BIO_set_data(bio, state);
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl, bio, bio);
    const std::string& host = context.HostName();
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    if (IsDottedAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else if (!host.empty()) {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
        SSL_set_tlsext_host_name(ssl, host.c_str());
    }
    if (resume != nullptr && resume->FSsl != nullptr) {
        if (SSL_SESSION* session = SSL_get1_session(Ssl(resume->FSsl))) {
            SSL_set_session(ssl, session);
            SSL_SESSION_free(session);
        }
    }
}

TTlsChannel::~TTlsChannel() {
    if (FSsl != nullptr) {
        BIO* bio = SSL_get_rbio(Ssl(FSsl));
        TBioState* state = bio != nullptr ? static_cast<TBioState*>(BIO_get_data(bio)) : nullptr;
        SSL_free(Ssl(FSsl));
        delete state;
    }
}

int TTlsChannel::Classify(int result) {
    const int error = SSL_get_error(Ssl(FSsl), result);
    switch (error) {
        case SSL_ERROR_NONE:
            return 1;
        case SSL_ERROR_WANT_READ:
            FWantWrite = false;
            return 0;
        case SSL_ERROR_WANT_WRITE:
            FWantWrite = true;
            return 0;
        case SSL_ERROR_ZERO_RETURN:
            FEnded = true;
            return -1;
        case SSL_ERROR_SYSCALL: {
            BIO* bio = SSL_get_rbio(Ssl(FSsl));
            const int saved = static_cast<TBioState*>(BIO_get_data(bio))->Errno;
            FErrorText = OpenSslText();
            if (FErrorText.empty() && saved != 0) {
                FFailure = SocketErrorFromErrno(saved);
            } else {
                FFailure = TlsProtocolError;
                if (FErrorText.empty()) {
                    FErrorText = "spojení skončilo uprostřed šifrovaného přenosu";
                }
            }
            FFailed = true;
            SetLastSocketError(FFailure);
            return -1;
        }
        default:
            FErrorText = OpenSslText();
            if (FErrorText.empty()) {
                FErrorText = "chyba TLS " + std::to_string(error);
            }
            FFailure = TlsProtocolError;
            FFailed = true;
            SetLastSocketError(FFailure);
            return -1;
    }
}

int TTlsChannel::Handshake(int timeoutMs, const TCancelEvent* cancel) {
    const int64_t start = SteadyMs();
    for (;;) {
        ERR_clear_error();
        const int result = SSL_connect(Ssl(FSsl));
        if (result == 1) {
            return 0;
        }
        const int state = Classify(result);
        if (state < 0) {
            if (FEnded) {
                FFailure = TlsProtocolError;
                FErrorText = "server ukončil spojení během navazování TLS";
                SetLastSocketError(FFailure);
            }
            return -1;
        }
        const int ready = FWantWrite ? SocketWaitWritable(FSocket, Left(timeoutMs, start), cancel)
                                     : SocketWaitReadable(FSocket, Left(timeoutMs, start), cancel);
        if (ready < 0) {
            return -1;
        }
        if (ready == 0) {
            SetLastSocketError(WsaTimedOut);
            return -1;
        }
    }
}

int TTlsChannel::WaitReadable(int timeoutMs, const TCancelEvent* cancel) {
    const int64_t start = SteadyMs();
    for (;;) {
        if (cancel != nullptr && cancel->IsSet()) {
            SetLastSocketError(WsaInterrupted);
            return -1;
        }
        if (FEnded || FFailed || SSL_pending(Ssl(FSsl)) > 0) {
            return 1;
        }
        // A socket that is readable may hold only part of a record (or a session ticket): peek
        // until a whole record of data is there.
        ERR_clear_error();
        char byte = 0;
        const int result = SSL_peek(Ssl(FSsl), &byte, 1);
        if (result > 0) {
            return 1;
        }
        if (Classify(result) < 0) {
            return 1;  // Receive tells the end or the failure
        }
        const int ready = FWantWrite ? SocketWaitWritable(FSocket, Left(timeoutMs, start), cancel)
                                     : SocketWaitReadable(FSocket, Left(timeoutMs, start), cancel);
        if (ready <= 0) {
            return ready;
        }
    }
}

int TTlsChannel::WaitWritable(int timeoutMs, const TCancelEvent* cancel) {
    return FWriteWantsRead ? SocketWaitReadable(FSocket, timeoutMs, cancel)
                           : SocketWaitWritable(FSocket, timeoutMs, cancel);
}

std::ptrdiff_t TTlsChannel::Send(const void* data, std::size_t size) {
    if (FFailed) {
        SetLastSocketError(FFailure);
        return -1;
    }
    if (FEnded) {
        SetLastSocketError(WsaShutdown);
        return -1;
    }
    if (size == 0) {
        return 0;
    }
    ERR_clear_error();
    const int result =
        SSL_write(Ssl(FSsl), data, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
    if (result > 0) {
        FWriteWantsRead = false;
        return result;
    }
    const int state = Classify(result);
    if (state == 0) {
        FWriteWantsRead = !FWantWrite;
        SetLastSocketError(WsaWouldBlock);
        return -1;
    }
    if (FEnded) {
        SetLastSocketError(WsaShutdown);
    }
    return -1;
}

std::ptrdiff_t TTlsChannel::Receive(void* buffer, std::size_t size) {
    if (FFailed) {
        SetLastSocketError(FFailure);
        return -1;
    }
    if (FEnded || size == 0) {
        return 0;
    }
    ERR_clear_error();
    const int result =
        SSL_read(Ssl(FSsl), buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
    if (result > 0) {
        return result;
    }
    const int state = Classify(result);
    if (state == 0) {
        SetLastSocketError(WsaWouldBlock);
        return -1;
    }
    return FEnded ? 0 : -1;
}

int TTlsChannel::Shutdown(int timeoutMs, const TCancelEvent* cancel) {
    const int64_t start = SteadyMs();
    auto wait = [&]() {
        const int ready = FWantWrite ? SocketWaitWritable(FSocket, Left(timeoutMs, start), cancel)
                                     : SocketWaitReadable(FSocket, Left(timeoutMs, start), cancel);
        if (ready == 0) {
            SetLastSocketError(WsaTimedOut);
        }
        return ready > 0;
    };
    if (FFailed) {
        SetLastSocketError(FFailure);
        return -1;
    }
    if (FEnded) {
        // The peer ended first (a download): answer in kind if the socket takes it, no more.
        ShutdownNow();
        return 0;
    }
    for (;;) {
        ERR_clear_error();
        const int result = SSL_shutdown(Ssl(FSsl));
        if (result >= 0) {
            break;
        }
        if (Classify(result) < 0) {
            return FEnded ? 0 : -1;
        }
        if (!wait()) {
            return -1;
        }
    }
    // A server that waits for the connection's end rather than the session's gets it too.
    SocketShutdownSend(FSocket);
    char scratch[4096];
    while (!FFailed && !FEnded) {
        ERR_clear_error();
        const int result = SSL_read(Ssl(FSsl), scratch, sizeof scratch);
        if (result > 0) {
            continue;
        }
        if (Classify(result) < 0) {
            break;
        }
        if (!wait()) {
            return -1;
        }
    }
    if (FFailed) {
        SetLastSocketError(FFailure);
        return -1;
    }
    return 0;
}

void TTlsChannel::ShutdownNow() {
    if (!FFailed && SSL_is_init_finished(Ssl(FSsl))) {
        ERR_clear_error();
        SSL_shutdown(Ssl(FSsl));
        ERR_clear_error();
    }
}

TTlsPeerCertificate TTlsChannel::PeerCertificate() const {
    TTlsPeerCertificate peer;
    X509* certificate = SSL_get1_peer_certificate(Ssl(FSsl));
    if (certificate == nullptr) {
        peer.TrustError = "server neukázal žádný certifikát";
        return peer;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) == 1) {
        for (unsigned int index = 0; index < length; ++index) {
            peer.Fingerprint += HexDigits[digest[index] >> 4];
            peer.Fingerprint += HexDigits[digest[index] & 15];
        }
    }
    if (BIO* text = BIO_new(BIO_s_mem())) {
        X509_NAME_print_ex(text, X509_get_subject_name(certificate), 0,
                           XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
        char* data = nullptr;
        const long size = BIO_get_mem_data(text, &data);
        if (size > 0) {
            peer.Subject.assign(data, static_cast<std::size_t>(size));
        }
        BIO_free(text);
    }
    X509_free(certificate);
    const long verified = SSL_get_verify_result(Ssl(FSsl));
    peer.Trusted = verified == X509_V_OK;
    if (!peer.Trusted) {
        peer.TrustError = X509_verify_cert_error_string(verified);
    }
    ERR_clear_error();
    return peer;
}

bool TTlsChannel::SessionReused() const {
    return SSL_session_reused(Ssl(FSsl)) == 1;
}

std::string TTlsChannel::Version() const {
    return SSL_get_version(Ssl(FSsl));
}

}  // namespace sejfko
