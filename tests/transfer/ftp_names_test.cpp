#include <gtest/gtest.h>

#include "transfer/ftp_address.hpp"
#include "transfer/ftp_listing.hpp"

namespace sejfko {
namespace {

TEST(FtpAddress, HostWithOptionalPort) {
    struct TCase {
        const char* Text;
        const char* Host;
        int Port;
    };
    for (const TCase& c : {TCase{"ftp.example.cz", "ftp.example.cz", 21},
                           TCase{"ftp.example.cz:2121", "ftp.example.cz", 2121},
                           TCase{" 10.0.0.1:21 ", "10.0.0.1", 21}, TCase{"h:65535", "h", 65535},
                           TCase{"h:00021", "h", 21}}) {
        TFtpAddress address;
        ASSERT_TRUE(ParseFtpAddress(c.Text, address)) << c.Text;
        EXPECT_EQ(address.Host, c.Host);
        EXPECT_EQ(address.Port, c.Port);
    }
    for (const char* bad : {"", "   ", ":21", "h:", "h:0", "h:65536", "h:21x", "h:-1", "h:2:3",
                            "::1", "a b", "h:1234567", "h\r\n"}) {
        TFtpAddress address;
        EXPECT_FALSE(ParseFtpAddress(bad, address)) << bad;
    }
}

TEST(FtpListing, OnlyBareArchiveNamesPassOnceInOrder) {
    const std::vector<std::string> lines = {"Backup_20261203_1200.fbk",
                                            "backup_20261202_1200_full.fbk",
                                            "Backup_20261203_1200.fbk",
                                            "../x.fbk",
                                            "/etc/y.fbk",
                                            "dir/z.fbk",
                                            "C:\\w.fbk",
                                            ".",
                                            "..",
                                            ".fbk",
                                            "a.FBK",
                                            "a.fbk.txt",
                                            "tab\t.fbk",
                                            "",
                                            "Backup_20261201_1200_full.fbk"};
    EXPECT_EQ(RemoteArchiveNames(lines), (std::vector<std::string>{"Backup_20261201_1200_full.fbk",
                                                                   "backup_20261202_1200_full.fbk",
                                                                   "Backup_20261203_1200.fbk"}));
}

}  // namespace
}  // namespace sejfko
