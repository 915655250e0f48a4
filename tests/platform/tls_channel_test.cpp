// The TLS channel against an OpenSSL server on the other end of a socket pair: bytes both ways
// in random pieces, the session's end, resumption with a second channel, the certificate as
// the handshake found it, and the waits' limits and stop.

#include "platform/tls_channel.hpp"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <string>
#include <thread>

#include "platform/cancel_event.hpp"

namespace sejfko {
namespace {

// A server context with a fresh self-signed certificate for "localhost".
class TServerContext {
public:
    TServerContext() {
        Key = EVP_EC_gen("P-256");
        Certificate = X509_new();
        ASN1_INTEGER_set(X509_get_serialNumber(Certificate), 1);
        X509_gmtime_adj(X509_getm_notBefore(Certificate), 0);
        X509_gmtime_adj(X509_getm_notAfter(Certificate), 86400);
        X509_set_pubkey(Certificate, Key);
        X509_NAME* name = X509_get_subject_name(Certificate);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
        X509_set_issuer_name(Certificate, name);
        X509_sign(Certificate, Key, EVP_sha256());
        Context = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate(Context, Certificate);
        SSL_CTX_use_PrivateKey(Context, Key);
    }
    ~TServerContext() {
        SSL_CTX_free(Context);
        X509_free(Certificate);
        EVP_PKEY_free(Key);
    }
    std::string Fingerprint() const {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        X509_digest(Certificate, EVP_sha256(), digest, &length);
        std::string hex;
        for (unsigned int i = 0; i < length; ++i) {
            hex += "0123456789abcdef"[digest[i] >> 4];
            hex += "0123456789abcdef"[digest[i] & 15];
        }
        return hex;
    }

    EVP_PKEY* Key = nullptr;
    X509* Certificate = nullptr;
    SSL_CTX* Context = nullptr;
};

// Lets a waiting peer go on every way out of a test, before its thread is joined.
struct TReleaser {
    TCancelEvent& Done;
    ~TReleaser() { Done.Set(); }
};

struct TPair {
    TPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, Fds), 0); }
    ~TPair() {
        ::close(Fds[0]);
        ::close(Fds[1]);
    }
    int Fds[2] = {-1, -1};
};

// Sends everything, waiting as the layers above do (a send that would block is offered again
// with the same bytes).
void SendAll(TTlsChannel& channel, const std::string& data, std::mt19937& random) {
    std::size_t done = 0;
    std::size_t piece = 0;
    while (done < data.size()) {
        if (piece == 0) {
            piece = std::min<std::size_t>(data.size() - done, 1 + random() % 70000);
        }
        const std::ptrdiff_t sent = channel.Send(data.data() + done, piece);
        if (sent < 0) {
            ASSERT_EQ(LastSocketError(), WsaWouldBlock);
            ASSERT_EQ(channel.WaitWritable(60000), 1);
            continue;
        }
        done += static_cast<std::size_t>(sent);
        piece = 0;
    }
}

std::string ReceiveAll(TTlsChannel& channel, std::size_t size, std::mt19937& random) {
    std::string got;
    std::string buffer(70000, '\0');
    while (got.size() < size) {
        EXPECT_EQ(channel.WaitReadable(60000), 1);
        const std::ptrdiff_t received = channel.Receive(buffer.data(), 1 + random() % 70000);
        if (received <= 0) {
            ADD_FAILURE() << "ended after " << got.size() << " bytes";
            break;
        }
        got.append(buffer.data(), static_cast<std::size_t>(received));
    }
    return got;
}

TEST(TlsChannel, CarriesBytesBothWaysEndsCleanlyAndResumesItsSession) {
    TServerContext server;
    std::mt19937 random(11);
    std::string upload(3 << 20, '\0');
    std::string download(1 << 20, '\0');
    for (char& c : upload) {
        c = static_cast<char>(random());
    }
    for (char& c : download) {
        c = static_cast<char>(random());
    }
    TTlsContext context("localhost");

    TPair first;
    std::string received;
    bool ended = false;
    std::jthread peer([&] {
        SSL* ssl = SSL_new(server.Context);
        SSL_set_fd(ssl, first.Fds[1]);
        if (SSL_accept(ssl) == 1) {
            SSL_write(ssl, download.data(), static_cast<int>(download.size()));
            char chunk[16384];
            int got;
            while ((got = SSL_read(ssl, chunk, sizeof chunk)) > 0) {
                received.append(chunk, static_cast<std::size_t>(got));
            }
            ended = SSL_get_error(ssl, got) == SSL_ERROR_ZERO_RETURN;
            SSL_shutdown(ssl);
        }
        SSL_free(ssl);
    });
    TTlsChannel channel(first.Fds[0], context);
    ASSERT_EQ(channel.Handshake(60000), 0) << channel.ErrorText();
    EXPECT_EQ(ReceiveAll(channel, download.size(), random), download);
    SendAll(channel, upload, random);
    EXPECT_EQ(channel.Shutdown(60000), 0);
    peer.join();
    EXPECT_TRUE(ended);
    EXPECT_EQ(received, upload);
    EXPECT_FALSE(channel.SessionReused());

    const TTlsPeerCertificate certificate = channel.PeerCertificate();
    EXPECT_EQ(certificate.Fingerprint, server.Fingerprint());
    EXPECT_EQ(certificate.Subject, "CN=localhost");
    EXPECT_FALSE(certificate.Trusted);  // self-signed, in no store
    EXPECT_FALSE(certificate.TrustError.empty());

    // A second connection offers the first one's session, as data connections do.
    TPair second;
    std::jthread again([&] {
        SSL* ssl = SSL_new(server.Context);
        SSL_set_fd(ssl, second.Fds[1]);
        if (SSL_accept(ssl) == 1) {
            SSL_write(ssl, "x", 1);
        }
        SSL_free(ssl);
    });
    TTlsChannel resumed(second.Fds[0], context, &channel);
    ASSERT_EQ(resumed.Handshake(60000), 0) << resumed.ErrorText();
    again.join();
    EXPECT_TRUE(resumed.SessionReused());
    EXPECT_EQ(resumed.PeerCertificate().Fingerprint, server.Fingerprint());
}

TEST(TlsChannel, WaitsEndAtTheirLimitAndAtOnceOnAStop) {
    TServerContext server;
    TTlsContext context("localhost");
    TPair pair;
    TCancelEvent done;
    std::jthread peer([&] {
        SSL* ssl = SSL_new(server.Context);
        SSL_set_fd(ssl, pair.Fds[1]);
        SSL_accept(ssl);
        // Neither reads nor writes until the test is over.
        pollfd entry{done.Handle(), POLLIN, 0};
        ::poll(&entry, 1, -1);
        SSL_free(ssl);
    });
    TReleaser release{done};
    TTlsChannel channel(pair.Fds[0], context);
    ASSERT_EQ(channel.Handshake(60000), 0) << channel.ErrorText();
    EXPECT_EQ(channel.WaitReadable(50), 0);

    // Fill everything the socket and the silent peer take.
    const std::string block(65536, 'z');
    while (channel.Send(block.data(), block.size()) > 0) {
    }
    ASSERT_EQ(LastSocketError(), WsaWouldBlock);
    EXPECT_EQ(channel.WaitWritable(50), 0);

    TCancelEvent stop;
    stop.Set();
    EXPECT_EQ(channel.WaitReadable(600000, &stop), -1);
    EXPECT_EQ(LastSocketError(), WsaInterrupted);
    EXPECT_EQ(channel.WaitWritable(600000, &stop), -1);
    EXPECT_EQ(LastSocketError(), WsaInterrupted);
    EXPECT_EQ(channel.Shutdown(600000, &stop), -1);
    EXPECT_EQ(LastSocketError(), WsaInterrupted);
}

TEST(TlsChannel, APeerThatIsNoTlsServerFailsTheHandshakeWithAReason) {
    TTlsContext context("localhost");
    TPair pair;
    std::jthread peer([&] {
        char hello[4096];
        if (::recv(pair.Fds[1], hello, sizeof hello, 0) > 0) {
            ::send(pair.Fds[1], "220 plain text\r\n", 16, MSG_NOSIGNAL);
        }
    });
    TTlsChannel channel(pair.Fds[0], context);
    EXPECT_EQ(channel.Handshake(60000), -1);
    EXPECT_EQ(LastSocketError(), TlsProtocolError);
    EXPECT_FALSE(channel.ErrorText().empty());
}

}  // namespace
}  // namespace sejfko
