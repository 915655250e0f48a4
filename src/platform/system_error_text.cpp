#include "platform/system_error_text.hpp"

#include <cerrno>
#include <cstring>

namespace sejfko {

namespace {

struct TErrorText {
    int Code;
    const char* Text;
};

// The errors that file, archive and network work meets in practice.
constexpr TErrorText ErrorTexts[] = {
    {ENOSPC, "na disku není dost místa"},
    {EDQUOT, "byla překročena disková kvóta"},
    {EACCES, "přístup byl odepřen"},
    {EPERM, "operace není povolena"},
    {EROFS, "systém souborů je jen pro čtení"},
    {ENOENT, "soubor nebo složka neexistuje"},
    {ENOTDIR, "část cesty není složka"},
    {EISDIR, "je to složka"},
    {EEXIST, "soubor již existuje"},
    {ENOTEMPTY, "složka není prázdná"},
    {ELOOP, "cesta vede přes symbolický odkaz"},
    {ENAMETOOLONG, "název je příliš dlouhý"},
    {EIO, "chyba vstupu/výstupu"},
    {EFBIG, "soubor je příliš velký"},
    {EMFILE, "proces má otevřeno příliš mnoho souborů"},
    {ENFILE, "systém má otevřeno příliš mnoho souborů"},
    {ENOMEM, "nedostatek paměti"},
    {EBUSY, "soubor nebo zařízení se používá"},
    {ETXTBSY, "soubor se používá"},
    {EXDEV, "přesun mezi svazky není možný"},
    {EINVAL, "neplatný argument"},
    {EAGAIN, "prostředek je dočasně nedostupný"},
    {EINTR, "operace byla přerušena"},
    {ENXIO, "zařízení neexistuje"},
    {ENODEV, "zařízení neexistuje"},
    {ESTALE, "síťový soubor již není platný"},
};

// strerror_r comes in two flavours (XSI returns int, GNU returns char*); overloads pick the text.
[[maybe_unused]] std::string SystemText(int result, const char* buffer) {
    return result == 0 ? std::string(buffer) : std::string();
}
[[maybe_unused]] std::string SystemText(const char* result, const char*) {
    return result != nullptr ? std::string(result) : std::string();
}

}  // namespace

std::string CzechSystemErrorText(int code) {
    for (const TErrorText& entry : ErrorTexts) {
        if (entry.Code == code) {
            return entry.Text;
        }
    }
    char buffer[256] = {};
    const std::string system = SystemText(::strerror_r(code, buffer, sizeof buffer), buffer);
    return "chyba systému " + std::to_string(code) + (system.empty() ? "" : ": " + system);
}

}  // namespace sejfko
