#include "cli/option_keys.hpp"

#include "config/ini_file.hpp"
#include "platform/tls_channel.hpp"

namespace sejfko {

namespace {

[[noreturn]] void Invalid(const std::string& text, const char* expected) {
    throw EInvalidOptionValue("Neplatná hodnota \"" + text + "\": očekává se " + expected + ".");
}

int32_t ParseInteger(const std::string& text) {
    int32_t value = 0;
    if (!TryParseIniInteger(text, value)) {
        Invalid(text, "celé číslo");
    }
    return value;
}

template <int32_t (TOptions::*Getter)() const, void (TOptions::*Setter)(int32_t)>
TOptionKey IntegerKey(const char* section, const char* key) {
    return {section, key, TOptionType::Integer,
            [](const TOptions& o, const TLocaleFormat&) { return std::to_string((o.*Getter)()); },
            [](TOptions& o, const TLocaleFormat&, const std::string& text) {
                (o.*Setter)(ParseInteger(text));
            }};
}

template <TDateTime (TOptions::*Getter)() const, void (TOptions::*Setter)(TDateTime)>
TOptionKey DateTimeKey(const char* section, const char* key) {
    return {section, key, TOptionType::DateTime,
            [](const TOptions& o, const TLocaleFormat& locale) {
                return locale.FormatFloat((o.*Getter)());
            },
            [](TOptions& o, const TLocaleFormat& locale, const std::string& text) {
                double value = 0.0;
                if (!locale.TryParseFloat(text, value)) {
                    Invalid(text, locale.DecimalSeparator() == ',' ? "číslo (např. 0,875)"
                                                                   : "číslo (např. 0.875)");
                }
                (o.*Setter)(value);
            }};
}

template <std::string (TOptions::*Getter)() const, void (TOptions::*Setter)(const std::string&)>
TOptionKey TextKey(const char* section, const char* key, TOptionType type = TOptionType::Text) {
    return {section, key, type,
            [](const TOptions& o, const TLocaleFormat&) { return (o.*Getter)(); },
            [](TOptions& o, const TLocaleFormat&, const std::string& text) { (o.*Setter)(text); }};
}

// The command line refuses kinds outside the table, as the options dialog does; the store
// itself would keep any 8-bit value.
template <typename TEnum, TEnum (TOptions::*Getter)() const, void (TOptions::*Setter)(TEnum),
          int Highest>
TOptionKey KindKey(const char* section, const char* key, TOptionType type) {
    return {section, key, type,
            [](const TOptions& o, const TLocaleFormat&) {
                return std::to_string(static_cast<int>((o.*Getter)()));
            },
            [](TOptions& o, const TLocaleFormat&, const std::string& text) {
                int32_t value = 0;
                if (!TryParseIniInteger(text, value) || value < 0 || value > Highest) {
                    Invalid(text, Highest == 2 ? "0, 1 nebo 2" : "0 nebo 1");
                }
                (o.*Setter)(static_cast<TEnum>(value));
            }};
}

// A pin that is no fingerprint would fail every transfer later; the command line says so now.
TOptionKey CertificateKey(const char* section, const char* key) {
    return {section, key, TOptionType::Text,
            [](const TOptions& o, const TLocaleFormat&) { return o.FtpCertificate(); },
            [](TOptions& o, const TLocaleFormat&, const std::string& text) {
                std::string hex;
                if (!text.empty() && !ParseFingerprint(text, hex)) {
                    Invalid(text,
                            "otisk SHA-256 (64 šestnáctkových číslic, dvojtečky dovoleny) "
                            "nebo prázdná hodnota");
                }
                o.SetFtpCertificate(text);
            }};
}

std::vector<TOptionKey> MakeKeys() {
    const char* o = OptionsSection;
    const char* s = BackupStatusSection;
    using T = TOptions;
    return {
        IntegerKey<&T::RunEvery, &T::SetRunEvery>(o, KeyRunEvery),
        DateTimeKey<&T::InTime, &T::SetInTime>(o, KeyInTime),
        TextKey<&T::FileChoose, &T::SetFileChoose>(o, KeyFileChoose),
        KindKey<TBackupKind, &T::BackupKind, &T::SetBackupKind, bkIncMonth>(
            o, KeyBackupKind, TOptionType::BackupKind),
        IntegerKey<&T::CompletelyWeekBackupDay, &T::SetCompletelyWeekBackupDay>(o, KeyWeekDay),
        IntegerKey<&T::CompletelyMonthBackupDay, &T::SetCompletelyMonthBackupDay>(o, KeyMonthDay),
        KindKey<TSavingKind, &T::SavingKind, &T::SetSavingKind, skRemote>(o, KeySavingKind,
                                                                          TOptionType::SavingKind),
        TextKey<&T::LocalDirectory, &T::SetLocalDirectory>(o, KeyLocalDirectory),
        TextKey<&T::LocalTemporaryDirectory, &T::SetLocalTemporaryDirectory>(
            o, KeyLocalTemporaryDirectory),
        TextKey<&T::RemoteHost, &T::SetRemoteHost>(o, KeyRemoteHost),
        TextKey<&T::RemoteUser, &T::SetRemoteUser>(o, KeyRemoteUser),
        TextKey<&T::RemotePassword, &T::SetRemotePassword>(o, KeyRemotePassword,
                                                           TOptionType::Password),
        IntegerKey<&T::BackupCount, &T::SetBackupCount>(o, KeyBackupCount),
        IntegerKey<&T::PassiveMode, &T::SetPassiveMode>(o, KeyPassiveMode),
        TextKey<&T::ArchivePassword, &T::SetArchivePassword>(o, KeyArchivePassword,
                                                             TOptionType::Password),
        IntegerKey<&T::FtpSecurity, &T::SetFtpSecurity>(o, KeyFtpSecurity),
        CertificateKey(o, KeyFtpCertificate),
        DateTimeKey<&T::LastRun, &T::SetLastRun>(s, KeyLastRun),
        IntegerKey<&T::FileCountForTransfer, &T::SetFileCountForTransfer>(s, KeyFileCount),
        DateTimeKey<&T::LastTransfer, &T::SetLastTransfer>(s, KeyLastTransfer),
    };
}

}  // namespace

const std::vector<TOptionKey>& OptionKeys() {
    static const std::vector<TOptionKey> keys = MakeKeys();
    return keys;
}

const TOptionKey* FindOptionKey(std::string_view name) {
    for (const TOptionKey& key : OptionKeys()) {
        if (SameIniName(key.Key, name)) {
            return &key;
        }
    }
    return nullptr;
}

}  // namespace sejfko
