#pragma once
// TOptions: every setting and the three status values, kept in `Options.ini` of the data
// directory, section "Options" and "Backup status". Each getter copies its field under the read
// lock; each setter stores the field, posts its notification (LastRun, LastTransfer,
// FileCountForTransfer) and writes its one key through to the file under the write lock. A
// setter before Load raises EOptionsInvalidUsing; a failed write raises EIniFileException
// ("Unable to write to %s") after the field has changed. Safe to call from any thread.
// Another process may change the file meanwhile: ReloadIfChanged takes its values in.

#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>

#include "config/ini_file.hpp"
#include "platform/date_time.hpp"
#include "platform/exceptions.hpp"
#include "platform/locale_format.hpp"

namespace sejfko {

enum TBackupKind : uint8_t { bkFull = 0, bkIncWeek = 1, bkIncMonth = 2 };
enum TSavingKind : uint8_t { skLocal = 0, skRemote = 1 };

// "Invalid using of TOptions"
class EOptionsInvalidUsing : public Exception {
public:
    using Exception::Exception;
};

constexpr const char* OptionsFileName = "Options.ini";
constexpr const char* OptionsSection = "Options";
constexpr const char* BackupStatusSection = "Backup status";

// Key names in Options.ini, spelled as existing files have them.
constexpr const char* KeyRunEvery = "Run every(Days)";
constexpr const char* KeyInTime = "In time";
constexpr const char* KeyFileChoose = "File choose";
constexpr const char* KeyBackupKind = "Backup kind";
constexpr const char* KeyWeekDay = "Completely week backup day";
constexpr const char* KeyMonthDay = "Completely month backup day";
constexpr const char* KeySavingKind = "Saving kind";
constexpr const char* KeyLocalDirectory = "Local directory";
constexpr const char* KeyLocalTemporaryDirectory = "Local temporary directory";
constexpr const char* KeyRemoteHost = "Remote host";
constexpr const char* KeyRemoteUser = "Remote user";
constexpr const char* KeyRemotePassword = "Remote password";
constexpr const char* KeyBackupCount = "Backup count";
constexpr const char* KeyLastRun = "Last run";
constexpr const char* KeyFileCount = "File count for transfer";
constexpr const char* KeyLastTransfer = "Last transfer";
// Added later than the others: 0 = active data connections (the default), any other value =
// passive, for clients behind routers that refuse incoming connections.
constexpr const char* KeyPassiveMode = "Passive mode";
// Added later too: the password every archive is encrypted with (AES-256); empty = archives are
// not encrypted.
constexpr const char* KeyArchivePassword = "Archive password";
// Added with FTP over TLS: 0 = plain FTP (the default); any other value = TLS required for the
// control and every data connection ("AUTH TLS" before the login).
constexpr const char* KeyFtpSecurity = "FTP security";
// The server certificate's SHA-256 fingerprint (hex, colons and letter case as the user wrote
// them); when set it decides instead of the system's trust store. Empty = not pinned.
constexpr const char* KeyFtpCertificate = "FTP certificate";

class TOptions {
public:
    // Construction values; no file. `locale` decides the decimal separator of date-times.
    explicit TOptions(const TLocaleFormat& locale = UserLocale());
    ~TOptions();
    TOptions(const TOptions&) = delete;
    TOptions& operator=(const TOptions&) = delete;

    // Opens directory/Options.ini and reads every key with its default. Creates no file.
    void Load(const std::string& directory);
    // Reads every key again when the file is no longer the one this object last read or wrote
    // (another process or an editor changed it); true when it did. Posts the notifications of
    // LastRun, LastTransfer and FileCountForTransfer whose value changed. A file that exists but
    // cannot be read keeps the values in memory. False before Load.
    bool ReloadIfChanged();
    bool Loaded() const;
    std::string Directory() const;
    std::string FileName() const;

    int32_t RunEvery() const;
    void SetRunEvery(int32_t value);
    TDateTime InTime() const;
    void SetInTime(TDateTime value);
    std::string FileChoose() const;
    void SetFileChoose(const std::string& value);
    TBackupKind BackupKind() const;
    void SetBackupKind(TBackupKind value);
    int32_t CompletelyWeekBackupDay() const;
    void SetCompletelyWeekBackupDay(int32_t value);
    int32_t CompletelyMonthBackupDay() const;
    void SetCompletelyMonthBackupDay(int32_t value);
    TSavingKind SavingKind() const;
    void SetSavingKind(TSavingKind value);
    std::string LocalDirectory() const;
    void SetLocalDirectory(const std::string& value);
    std::string LocalTemporaryDirectory() const;
    void SetLocalTemporaryDirectory(const std::string& value);
    std::string RemoteHost() const;
    void SetRemoteHost(const std::string& value);
    std::string RemoteUser() const;
    void SetRemoteUser(const std::string& value);
    std::string RemotePassword() const;
    void SetRemotePassword(const std::string& value);
    int32_t BackupCount() const;
    void SetBackupCount(int32_t value);
    // Stored as written; the client treats every non-zero value as passive mode.
    int32_t PassiveMode() const;
    void SetPassiveMode(int32_t value);
    std::string ArchivePassword() const;
    void SetArchivePassword(const std::string& value);
    // Stored as written; the client treats every non-zero value as TLS required.
    int32_t FtpSecurity() const;
    void SetFtpSecurity(int32_t value);
    std::string FtpCertificate() const;
    void SetFtpCertificate(const std::string& value);
    TDateTime LastRun() const;
    void SetLastRun(TDateTime value);
    int32_t FileCountForTransfer() const;
    void SetFileCountForTransfer(int32_t value);
    TDateTime LastTransfer() const;
    void SetLastTransfer(TDateTime value);

private:
    // implementation fields: see options.cpp
    struct TFields;
    void ReadFields(const TIniSnapshot& snapshot);
    template <typename T, typename Encode>
    void Store(T TFields::*field, T value, const char* section, const char* key, Encode encode,
               unsigned notification);

    mutable std::shared_mutex FLock;
    const TLocaleFormat FLocale;
    std::string FDirectory;
    std::unique_ptr<TIniFile> FIniFile;
    std::unique_ptr<TFields> FFields;
};

// The program's single options object: constructed before anything else, destroyed last.
extern TOptions Options;

}  // namespace sejfko
