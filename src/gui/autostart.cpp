#include "gui/autostart.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace sejfko {

namespace {

constexpr qint64 MaxEntrySize = 64 * 1024;
const QString ExecReserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");

QString ConfigHome() {
    // As for the data directory: a relative XDG_CONFIG_HOME is to be ignored.
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured)) {
        return QDir::cleanPath(configured);
    }
    return QDir::homePath() + QStringLiteral("/.config");
}

// The escapes of a string value, which the desktop undoes before it reads the quoting.
QString EscapeValue(const QString& text) {
    QString escaped;
    for (const QChar c : text) {
        if (c == QLatin1Char('\\')) {
            escaped += QStringLiteral("\\\\");
        } else if (c == QLatin1Char('\n')) {
            escaped += QStringLiteral("\\n");
        } else if (c == QLatin1Char('\t')) {
            escaped += QStringLiteral("\\t");
        } else if (c == QLatin1Char('\r')) {
            escaped += QStringLiteral("\\r");
        } else {
            escaped += c;
        }
    }
    return escaped;
}

}  // namespace

QString AutostartEntryPath() {
    return ConfigHome() + QStringLiteral("/autostart/sejfko.desktop");
}

bool AutostartEnabled() {
    QFile file(AutostartEntryPath());
    if (!QFileInfo(file.fileName()).isFile() || !file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QList<QByteArray> lines = file.read(MaxEntrySize).split('\n');
    for (const QByteArray& line : lines) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0 && line.left(equals).trimmed() == "Hidden" &&
            line.mid(equals + 1).trimmed() == "true") {
            return false;
        }
    }
    return true;
}

QString DesktopExecArgument(const QString& argument) {
    QString quoted;
    bool reserved = argument.isEmpty();
    for (const QChar c : argument) {
        if (ExecReserved.contains(c)) {
            reserved = true;
        }
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\')) {
            quoted += QLatin1Char('\\');
        }
        // A lone "%" would be taken for a field code.
        quoted += c == QLatin1Char('%') ? QStringLiteral("%%") : QString(c);
    }
    if (reserved) {
        quoted = QLatin1Char('"') + quoted + QLatin1Char('"');
    } else {
        // Unquoted, nothing but "%" needed escaping.
        quoted = argument;
        quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    }
    return EscapeValue(quoted);
}

QString AutostartEntryText(const QString& program, const QStringList& arguments) {
    QStringList exec{DesktopExecArgument(program)};
    for (const QString& argument : arguments) {
        exec << DesktopExecArgument(argument);
    }
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Sejfko\n"
               "GenericName=Zálohování souborů\n"
               "Comment=Pravidelné zálohování vybraných souborů do archivů zip, lokálně nebo na "
               "server FTP\n"
               "Exec=") +
           exec.join(QLatin1Char(' ')) +
           QStringLiteral(
               "\n"
               "Icon=sejfko\n"
               "Terminal=false\n"
               "X-GNOME-Autostart-enabled=true\n");
}

bool SetAutostart(bool enabled, const QString& program, const QStringList& arguments,
                  QString& errorText) {
    const QString path = AutostartEntryPath();
    if (!enabled) {
        QFile file(path);
        if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) {
            return true;
        }
        if (!file.remove()) {
            errorText =
                QStringLiteral("Nelze odstranit soubor %1 (%2).").arg(path, file.errorString());
            return false;
        }
        return true;
    }
    const QString directory = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(directory)) {
        errorText = QStringLiteral("Nelze vytvořit adresář %1.").arg(directory);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(AutostartEntryText(program, arguments).toUtf8()) < 0 || !file.commit()) {
        errorText = QStringLiteral("Nelze zapsat soubor %1 (%2).").arg(path, file.errorString());
        return false;
    }
    return true;
}

}  // namespace sejfko
