// FTP over TLS against real servers: vsftpd forcing TLS for logins and data (and demanding that
// data connections resume the control connection's session) and pyftpdlib's TLS handler, in
// active and passive mode, with a certificate the test makes with the openssl command, whose
// own fingerprint is the oracle for ours. The servers' command logs prove what was (not) sent.

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <memory>
#include <random>

#include "backup/backup_thread.hpp"
#include "config/options.hpp"
#include "platform/clock.hpp"
#include "platform/file_system.hpp"
#include "platform/message_sink.hpp"
#include "platform/tls_channel.hpp"
#include "restore/restore_download.hpp"
#include "support/temp_dir.hpp"
#include "transfer/net_errors.hpp"
#include "transfer/net_ftp.hpp"
#include "transfer/real_ftp_server.hpp"
#include "transfer/transfer_backup.hpp"

namespace sejfko {
namespace {

using test::FtpTestPassword;
using test::FtpTestUser;
using test::ReadWholeFile;
using test::TRealFtpServer;
using test::TServerKind;
using test::TServerSetup;
using test::TTempDir;

std::string Output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char chunk[256];
        while (std::size_t got = std::fread(chunk, 1, sizeof chunk, pipe)) {
            text.append(chunk, got);
        }
        ::pclose(pipe);
    }
    return text;
}

struct TCertificate {
    std::string Certificate;
    std::string Key;
    std::string Fingerprint;  // as openssl prints it: "AB:CD:..."
};

// A self-signed certificate for "localhost" (and nothing else).
TCertificate MakeCertificate(const std::string& dir) {
    TCertificate made{dir + "/cert.pem", dir + "/key.pem", ""};
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
        "-subj /CN=localhost -addext subjectAltName=DNS:localhost -keyout '" +
        made.Key + "' -out '" + made.Certificate + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) {
        return made;
    }
    const std::string line =
        Output("openssl x509 -noout -fingerprint -sha256 -in '" + made.Certificate + "'");
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) {
        made.Fingerprint = line.substr(equals + 1, 95);
    }
    return made;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// The log names the command (vsftpd: "FTP command: ..., "USER x""; pyftpdlib: the verb alone).
bool Logged(const std::string& log, const std::string& verb) {
    return log.find("\"" + verb) != std::string::npos || log.find(verb + "\n") != std::string::npos;
}

class TSilentSink : public TMessageSink {
public:
    void Post(unsigned, intptr_t, intptr_t) override {}
    void ShowException(const std::string&) override {}
};

struct TParam {
    TServerKind Kind;
    bool Passive;
};

std::string ParamName(const testing::TestParamInfo<TParam>& info) {
    return std::string(info.param.Kind == TServerKind::Pyftpdlib ? "Pyftpdlib" : "Vsftpd") +
           (info.param.Passive ? "Passive" : "Active");
}

class FtpsIntegrationTest : public testing::TestWithParam<TParam> {
protected:
    void SetUp() override {
        FCertificate = MakeCertificate(FDir.MakeDir("pki"));
        if (FCertificate.Fingerprint.size() != 95) {
            GTEST_SKIP() << "the openssl command cannot make a certificate here";
        }
        FLog = FDir / "commands.log";
        TServerSetup setup{FCertificate.Certificate, FCertificate.Key, FLog};
        FServer = std::make_unique<TRealFtpServer>(GetParam().Kind, FDir.MakeDir("server"), setup);
        if (!FServer->Started()) {
            GTEST_SKIP() << FServer->Reason();
        }
    }
    int Port() const { return std::stoi(FServer->Address().substr(10)); }
    void Prepare(TNetFTP& ftp, const std::string& pin) const {
        ftp.Host = "127.0.0.1";
        ftp.Port = Port();
        ftp.User = FtpTestUser;
        ftp.Password = FtpTestPassword;
        ftp.Passive = GetParam().Passive;
        ftp.UseTls = true;
        ftp.PinnedFingerprint = pin;
    }
    std::string Log() const { return FileExists(FLog) ? ReadWholeFile(FLog) : ""; }

    TTempDir FDir;
    TCertificate FCertificate;
    std::string FLog;
    std::unique_ptr<TRealFtpServer> FServer;
};

TEST_P(FtpsIntegrationTest, UploadListDownloadAndDeleteOverTls) {
    std::string content(2500000, '\0');
    std::mt19937 random(7);
    for (char& c : content) {
        c = static_cast<char>(random());
    }
    const std::string local = FDir.WriteFile("a.fbk", content);
    TNetFTP ftp;
    // Lower case with colons, as a user may paste it.
    Prepare(ftp, Lower(FCertificate.Fingerprint));
    ftp.Connect(true);
    EXPECT_EQ(FormatFingerprint(ftp.ServerCertificate.Fingerprint), FCertificate.Fingerprint);
    EXPECT_NE(ftp.ServerCertificate.Subject.find("CN=localhost"), std::string::npos);
    ftp.Put(local, "a.fbk");
    std::vector<std::string> names;
    ftp.ListNames(names, "*.fbk");
    ftp.Get("a.fbk", FDir / "back.fbk");
    ftp.Put(local, "b.fbk");  // a second data connection on the same control session
    ftp.Delete("b.fbk");
    ftp.Disconnect();
    EXPECT_EQ(names, std::vector<std::string>{"a.fbk"});
    EXPECT_EQ(ReadWholeFile(FServer->Root() + "/a.fbk"), content);
    EXPECT_EQ(ReadWholeFile(FDir / "back.fbk"), content);
    const std::string log = Log();
    for (const char* verb : {"AUTH", "USER", "PASS", "PBSZ", "PROT"}) {
        EXPECT_TRUE(Logged(log, verb)) << verb << "\n" << log;
    }
}

TEST_P(FtpsIntegrationTest, PlainClientIsRefusedByTheServerThatDemandsTls) {
    TNetFTP ftp;
    Prepare(ftp, "");
    ftp.UseTls = false;
    EXPECT_THROW(ftp.Connect(true), ENetProtocolReplyError);
}

TEST_P(FtpsIntegrationTest, WrongPinFailsBeforeTheLoginWithTheServersFingerprint) {
    TNetFTP ftp;
    Prepare(ftp, std::string(64, '0'));
    try {
        ftp.Connect(true);
        FAIL() << "connected despite a wrong pin";
    } catch (const ENetTlsError& failure) {
        const std::string text = failure.what();
        EXPECT_NE(text.find("neodpovídá"), std::string::npos) << text;
        EXPECT_NE(text.find(FCertificate.Fingerprint), std::string::npos) << text;
    }
    const std::string log = Log();
    EXPECT_TRUE(Logged(log, "AUTH")) << log;
    EXPECT_FALSE(Logged(log, "USER")) << log;
    EXPECT_FALSE(Logged(log, "PASS")) << log;
}

TEST_P(FtpsIntegrationTest, TrustStoreAndHostNameDecideWithoutAPin) {
    TNetFTP untrusted;
    Prepare(untrusted, "");
    try {
        untrusted.Connect(true);
        FAIL() << "a self-signed certificate was trusted";
    } catch (const ENetTlsError& failure) {
        EXPECT_NE(std::string(failure.what()).find(FCertificate.Fingerprint), std::string::npos)
            << failure.what();
    }
    EXPECT_FALSE(Logged(Log(), "PASS"));

    // The certificate in the store: trusted under the name it carries, not under an address.
    ::setenv("SSL_CERT_FILE", FCertificate.Certificate.c_str(), 1);
    TNetFTP named;
    Prepare(named, "");
    named.Host = "localhost";
    EXPECT_NO_THROW(named.Connect(true));
    named.Disconnect();
    TNetFTP byAddress;
    Prepare(byAddress, "");
    EXPECT_THROW(byAddress.Connect(true), ENetTlsError);
    ::unsetenv("SSL_CERT_FILE");
}

TEST_P(FtpsIntegrationTest, WorkerAndRestoreFollowTheKeys) {
    TSilentSink sink;
    TScopedMessageSink scopedSink(sink);
    TManualClock clock(46000.25);
    TScopedClock scopedClock(clock);
    const std::string temp = FDir.MakeDir("Temp");
    Options.Load(FDir.Path());
    Options.SetLocalTemporaryDirectory(temp);
    Options.SetSavingKind(skRemote);
    Options.SetRemoteHost(FServer->Address());
    Options.SetRemoteUser(FtpTestUser);
    Options.SetRemotePassword(FtpTestPassword);
    Options.SetPassiveMode(GetParam().Passive ? 1 : 0);
    Options.SetFtpSecurity(1);
    Options.SetFtpCertificate(FCertificate.Fingerprint);
    const std::string archive = "Backup_20261208_1200_full.fbk";
    FDir.WriteFile("Temp/" + archive, "archive bytes");
    Options.SetFileCountForTransfer(1);
    TBackupThread worker;
    ASSERT_TRUE(worker.TransferBackup()) << LastTransferErrorText();
    EXPECT_EQ(ReadWholeFile(FServer->Root() + "/" + archive), "archive bytes");

    const std::string downloads = FDir.MakeDir("downloads");
    TServerSource source{FServer->Address(), FtpTestUser, FtpTestPassword,
                         GetParam().Passive, true,        FCertificate.Fingerprint};
    const std::vector<TArchiveRef> chain = DownloadChain(source, std::nullopt, downloads, nullptr);
    ASSERT_EQ(chain.size(), 1u);
    EXPECT_EQ(ReadWholeFile(downloads + "/" + archive), "archive bytes");

    // A wrong pin stops the worker before the password, silently as any failed login.
    Options.SetFtpCertificate(std::string(64, 'a'));
    FDir.WriteFile("Temp/Backup_20261209_1200.fbk", "next");
    Options.SetFileCountForTransfer(1);
    EXPECT_FALSE(worker.TransferBackup());
    EXPECT_NE(LastTransferErrorText().find(FCertificate.Fingerprint), std::string::npos);
    EXPECT_TRUE(FileExists(temp + "/Backup_20261209_1200.fbk"));
}

TEST_P(FtpsIntegrationTest, ShowCertificatePrintsTheFingerprintAndSendsNothingElse) {
    {
        TOptions options;
        options.Load(FDir.Path());
        options.SetRemoteHost(FServer->Address());
        options.SetFtpCertificate(Lower(FCertificate.Fingerprint));
    }
    const std::string command = std::string(SEJFKO_CLI_PATH) + " --config-dir '" + FDir.Path() +
                                "' transfer --show-certificate 2>&1; echo \"status=$?\"";
    const std::string out = Output(command);
    EXPECT_NE(out.find("Otisk certifikátu (SHA-256): " + FCertificate.Fingerprint),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("CN=localhost"), std::string::npos) << out;
    EXPECT_NE(out.find("souhlasí"), std::string::npos) << out;
    EXPECT_NE(out.find("status=0"), std::string::npos) << out;
    const std::string log = Log();
    EXPECT_TRUE(Logged(log, "AUTH")) << log;
    EXPECT_FALSE(Logged(log, "USER")) << log;
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpsIntegrationTest,
                         testing::Values(TParam{TServerKind::Pyftpdlib, false},
                                         TParam{TServerKind::Pyftpdlib, true},
                                         TParam{TServerKind::Vsftpd, false},
                                         TParam{TServerKind::Vsftpd, true}),
                         ParamName);

// Servers that do not speak TLS at all: the client stops at the refusal, and the password never
// crosses the network in clear text.
TEST(FtpsWithoutTls, RefusalFailsTheCallAndNoLoginIsSent) {
    for (const TServerKind kind : {TServerKind::Pyftpdlib, TServerKind::Vsftpd}) {
        TTempDir dir;
        const std::string log = dir / "commands.log";
        TRealFtpServer server(kind, dir.MakeDir("server"), TServerSetup{"", "", log});
        if (!server.Started()) {
            continue;  // vsftpd missing: pyftpdlib still ran
        }
        TNetFTP ftp;
        ftp.Host = "127.0.0.1";
        ftp.Port = std::stoi(server.Address().substr(10));
        ftp.User = FtpTestUser;
        ftp.Password = FtpTestPassword;
        ftp.UseTls = true;
        try {
            ftp.Connect(true);
            ADD_FAILURE() << "connected without TLS";
        } catch (const ENetTlsError& failure) {
            EXPECT_NE(std::string(failure.what()).find("odmítl šifrované spojení"),
                      std::string::npos)
                << failure.what();
        }
        EXPECT_FALSE(ftp.Connected());
        const std::string commands = FileExists(log) ? ReadWholeFile(log) : "";
        EXPECT_TRUE(Logged(commands, "AUTH")) << commands;
        EXPECT_FALSE(Logged(commands, "USER")) << commands;
        EXPECT_FALSE(Logged(commands, "PASS")) << commands;
    }
}

}  // namespace
}  // namespace sejfko
