#include "config/options.hpp"

#include <mutex>

#include "platform/data_directory.hpp"
#include "platform/message_sink.hpp"
#include "platform/temp_file.hpp"

namespace sejfko {

struct TOptions::TFields {
    int32_t RunEvery = 0;
    TDateTime InTime = 0.0;
    std::string FileChoose;
    TBackupKind BackupKind = bkFull;
    int32_t CompletelyWeekBackupDay = 1;
    int32_t CompletelyMonthBackupDay = 1;
    TSavingKind SavingKind = skLocal;
    std::string LocalDirectory;
    std::string LocalTemporaryDirectory;
    std::string RemoteHost;
    std::string RemoteUser;
    std::string RemotePassword;
    int32_t BackupCount = 0;
    int32_t PassiveMode = 0;
    std::string ArchivePassword;
    int32_t FtpSecurity = 0;
    std::string FtpCertificate;
    TDateTime LastRun = 0.0;
    int32_t FileCountForTransfer = 0;
    TDateTime LastTransfer = 0.0;
};

namespace {

std::string JoinPath(const std::string& directory, const char* name) {
    if (directory.empty()) {
        return name;
    }
    return directory.back() == '/' ? directory + name : directory + "/" + name;
}

std::string DefaultTemporaryDirectory(const std::string& directory) {
#ifdef _WIN32
    (void)directory;
    return "C:\\Temp";
#else
    // Not /tmp: it is emptied at boot and would lose archives waiting for transfer.
    return DefaultLocalTemporaryDirectory(directory);
#endif
}

// Reads one key of a snapshot with the stored encodings; missing or unconvertible values give
// the default.
class TKeyReader {
public:
    TKeyReader(const TIniSnapshot& snapshot, const TLocaleFormat& locale)
        : FSnapshot(snapshot), FLocale(locale) {}

    int32_t Integer(const char* section, const char* key, int32_t defaultValue) const {
        std::string text;
        int32_t value = 0;
        if (FSnapshot.Find(section, key, text) && TryParseIniInteger(text, value)) {
            return value;
        }
        return defaultValue;
    }
    // Enumerations keep the low 8 bits of the stored integer, in range or not.
    uint8_t Ordinal(const char* section, const char* key, int32_t defaultValue) const {
        return static_cast<uint8_t>(Integer(section, key, defaultValue) & 0xFF);
    }
    TDateTime DateTime(const char* section, const char* key, TDateTime defaultValue) const {
        std::string text;
        double value = 0.0;
        if (FSnapshot.Find(section, key, text) && FLocale.TryParseFloat(text, value)) {
            return value;
        }
        return defaultValue;
    }
    std::string String(const char* section, const char* key, std::string defaultValue) const {
        std::string text;
        return FSnapshot.Find(section, key, text) ? text : defaultValue;
    }

private:
    const TIniSnapshot& FSnapshot;
    const TLocaleFormat& FLocale;
};

}  // namespace

TOptions Options;

TOptions::TOptions(const TLocaleFormat& locale)
    : FLocale(locale), FFields(std::make_unique<TFields>()) {}

TOptions::~TOptions() = default;

void TOptions::Load(const std::string& directory) {
    std::unique_lock lock(FLock);
    FDirectory = directory;
    FIniFile.reset();
    FIniFile = std::make_unique<TIniFile>(JoinPath(directory, OptionsFileName));
    ReadFields(FIniFile->Read());
    // A write killed half way left its temporary file; the next write clears it, but a process
    // that only reads would leave it for good.
    RemoveStaleTemporaries(directory, std::string(".") + OptionsFileName + ".", 6);
}

void TOptions::ReadFields(const TIniSnapshot& snapshot) {
    const TKeyReader read(snapshot, FLocale);
    TFields& f = *FFields;
    const char* o = OptionsSection;
    const char* s = BackupStatusSection;
    f.RunEvery = read.Integer(o, KeyRunEvery, 1);
    f.InTime = read.DateTime(o, KeyInTime, 0.0);
    f.FileChoose = read.String(o, KeyFileChoose, "");
    f.BackupKind = static_cast<TBackupKind>(read.Ordinal(o, KeyBackupKind, bkFull));
    f.CompletelyWeekBackupDay = read.Integer(o, KeyWeekDay, 1);
    f.CompletelyMonthBackupDay = read.Integer(o, KeyMonthDay, 1);
    f.SavingKind = static_cast<TSavingKind>(read.Ordinal(o, KeySavingKind, skLocal));
    f.LocalDirectory = read.String(o, KeyLocalDirectory, "");
    f.LocalTemporaryDirectory =
        read.String(o, KeyLocalTemporaryDirectory, DefaultTemporaryDirectory(FDirectory));
    f.RemoteHost = read.String(o, KeyRemoteHost, "");
    f.RemoteUser = read.String(o, KeyRemoteUser, "");
    f.RemotePassword = read.String(o, KeyRemotePassword, "");
    f.BackupCount = read.Integer(o, KeyBackupCount, 10);
    f.PassiveMode = read.Integer(o, KeyPassiveMode, 0);
    f.ArchivePassword = read.String(o, KeyArchivePassword, "");
    f.FtpSecurity = read.Integer(o, KeyFtpSecurity, 0);
    f.FtpCertificate = read.String(o, KeyFtpCertificate, "");
    f.LastRun = read.DateTime(s, KeyLastRun, 0.0);
    f.FileCountForTransfer = read.Integer(s, KeyFileCount, 0);
    f.LastTransfer = read.DateTime(s, KeyLastTransfer, 0.0);
}

bool TOptions::ReloadIfChanged() {
    std::unique_lock lock(FLock);
    if (!FIniFile || !FIniFile->Changed()) {
        return false;
    }
    TIniSnapshot snapshot;
    // A file that cannot be read now keeps the values in memory; the next check tries again.
    if (!FIniFile->TryRead(snapshot)) {
        return false;
    }
    const TFields before = *FFields;
    ReadFields(snapshot);
    const TFields& after = *FFields;
    // The front end shows these three; it learns of a change as a setter would tell it.
    if (after.LastRun != before.LastRun) {
        PostToMain(WM_LAST_RUN_CHANGED, 0, 0);
    }
    if (after.LastTransfer != before.LastTransfer) {
        PostToMain(WM_LAST_TRANSFER_CHANGED, 0, 0);
    }
    if (after.FileCountForTransfer != before.FileCountForTransfer) {
        PostToMain(WM_TRANSFER_COUNT_CHANGED, 0, 0);
    }
    return true;
}

bool TOptions::Loaded() const {
    std::shared_lock lock(FLock);
    return FIniFile != nullptr;
}

std::string TOptions::Directory() const {
    std::shared_lock lock(FLock);
    return FDirectory;
}

std::string TOptions::FileName() const {
    std::shared_lock lock(FLock);
    return FIniFile ? FIniFile->FileName() : std::string();
}

template <typename T, typename Encode>
void TOptions::Store(T TFields::*field, T value, const char* section, const char* key,
                     Encode encode, unsigned notification) {
    // Checked under the lock (a concurrent Load could otherwise race with the check); the
    // field is left alone either way.
    std::unique_lock lock(FLock);
    if (!FIniFile) {
        throw EOptionsInvalidUsing("Invalid using of TOptions");
    }
    (*FFields).*field = std::move(value);
    if (notification != 0) {
        PostToMain(notification, 0, 0);
    }
    FIniFile->WriteString(section, key, encode((*FFields).*field));
}

namespace {

auto EncodeInteger = [](int32_t value) { return std::to_string(value); };
auto EncodeString = [](const std::string& value) -> const std::string& { return value; };
template <typename TEnum>
std::string EncodeOrdinal(TEnum value) {
    return std::to_string(static_cast<int>(value));
}

}  // namespace

#define SEJFKO_OPTION_GETTER(Type, Name) \
    Type TOptions::Name() const {        \
        std::shared_lock lock(FLock);    \
        return FFields->Name;            \
    }

SEJFKO_OPTION_GETTER(int32_t, RunEvery)
SEJFKO_OPTION_GETTER(TDateTime, InTime)
SEJFKO_OPTION_GETTER(std::string, FileChoose)
SEJFKO_OPTION_GETTER(TBackupKind, BackupKind)
SEJFKO_OPTION_GETTER(int32_t, CompletelyWeekBackupDay)
SEJFKO_OPTION_GETTER(int32_t, CompletelyMonthBackupDay)
SEJFKO_OPTION_GETTER(TSavingKind, SavingKind)
SEJFKO_OPTION_GETTER(std::string, LocalDirectory)
SEJFKO_OPTION_GETTER(std::string, LocalTemporaryDirectory)
SEJFKO_OPTION_GETTER(std::string, RemoteHost)
SEJFKO_OPTION_GETTER(std::string, RemoteUser)
SEJFKO_OPTION_GETTER(std::string, RemotePassword)
SEJFKO_OPTION_GETTER(int32_t, BackupCount)
SEJFKO_OPTION_GETTER(int32_t, PassiveMode)
SEJFKO_OPTION_GETTER(std::string, ArchivePassword)
SEJFKO_OPTION_GETTER(int32_t, FtpSecurity)
SEJFKO_OPTION_GETTER(std::string, FtpCertificate)
SEJFKO_OPTION_GETTER(TDateTime, LastRun)
SEJFKO_OPTION_GETTER(int32_t, FileCountForTransfer)
SEJFKO_OPTION_GETTER(TDateTime, LastTransfer)

#undef SEJFKO_OPTION_GETTER

void TOptions::SetRunEvery(int32_t value) {
    Store(&TFields::RunEvery, value, OptionsSection, KeyRunEvery, EncodeInteger, 0);
}
void TOptions::SetInTime(TDateTime value) {
    Store(
        &TFields::InTime, value, OptionsSection, KeyInTime,
        [this](TDateTime v) { return FLocale.FormatFloat(v); }, 0);
}
void TOptions::SetFileChoose(const std::string& value) {
    Store(&TFields::FileChoose, value, OptionsSection, KeyFileChoose, EncodeString, 0);
}
void TOptions::SetBackupKind(TBackupKind value) {
    Store(&TFields::BackupKind, value, OptionsSection, KeyBackupKind, EncodeOrdinal<TBackupKind>,
          0);
}
void TOptions::SetCompletelyWeekBackupDay(int32_t value) {
    Store(&TFields::CompletelyWeekBackupDay, value, OptionsSection, KeyWeekDay, EncodeInteger, 0);
}
void TOptions::SetCompletelyMonthBackupDay(int32_t value) {
    Store(&TFields::CompletelyMonthBackupDay, value, OptionsSection, KeyMonthDay, EncodeInteger, 0);
}
void TOptions::SetSavingKind(TSavingKind value) {
    Store(&TFields::SavingKind, value, OptionsSection, KeySavingKind, EncodeOrdinal<TSavingKind>,
          0);
}
void TOptions::SetLocalDirectory(const std::string& value) {
    Store(&TFields::LocalDirectory, value, OptionsSection, KeyLocalDirectory, EncodeString, 0);
}
void TOptions::SetLocalTemporaryDirectory(const std::string& value) {
    Store(&TFields::LocalTemporaryDirectory, value, OptionsSection, KeyLocalTemporaryDirectory,
          EncodeString, 0);
}
void TOptions::SetRemoteHost(const std::string& value) {
    Store(&TFields::RemoteHost, value, OptionsSection, KeyRemoteHost, EncodeString, 0);
}
void TOptions::SetRemoteUser(const std::string& value) {
    Store(&TFields::RemoteUser, value, OptionsSection, KeyRemoteUser, EncodeString, 0);
}
void TOptions::SetRemotePassword(const std::string& value) {
    // Plain text, as the file has always held it.
    Store(&TFields::RemotePassword, value, OptionsSection, KeyRemotePassword, EncodeString, 0);
}
void TOptions::SetBackupCount(int32_t value) {
    Store(&TFields::BackupCount, value, OptionsSection, KeyBackupCount, EncodeInteger, 0);
}
void TOptions::SetPassiveMode(int32_t value) {
    Store(&TFields::PassiveMode, value, OptionsSection, KeyPassiveMode, EncodeInteger, 0);
}
void TOptions::SetArchivePassword(const std::string& value) {
    Store(&TFields::ArchivePassword, value, OptionsSection, KeyArchivePassword, EncodeString, 0);
}
void TOptions::SetFtpSecurity(int32_t value) {
    Store(&TFields::FtpSecurity, value, OptionsSection, KeyFtpSecurity, EncodeInteger, 0);
}
void TOptions::SetFtpCertificate(const std::string& value) {
    Store(&TFields::FtpCertificate, value, OptionsSection, KeyFtpCertificate, EncodeString, 0);
}
void TOptions::SetLastRun(TDateTime value) {
    Store(
        &TFields::LastRun, value, BackupStatusSection, KeyLastRun,
        [this](TDateTime v) { return FLocale.FormatFloat(v); }, WM_LAST_RUN_CHANGED);
}
void TOptions::SetFileCountForTransfer(int32_t value) {
    Store(&TFields::FileCountForTransfer, value, BackupStatusSection, KeyFileCount, EncodeInteger,
          WM_TRANSFER_COUNT_CHANGED);
}
void TOptions::SetLastTransfer(TDateTime value) {
    Store(
        &TFields::LastTransfer, value, BackupStatusSection, KeyLastTransfer,
        [this](TDateTime v) { return FLocale.FormatFloat(v); }, WM_LAST_TRANSFER_CHANGED);
}

}  // namespace sejfko
