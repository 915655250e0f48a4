#pragma once
// Start at login through the desktop's autostart folder (XDG autostart): the entry
// "sejfko.desktop" in $XDG_CONFIG_HOME/autostart (~/.config/autostart when that is not set)
// starts this program when the user logs in. The entry itself is the setting: it exists or it
// does not, so it is never out of step with what the desktop does. A backup tool that is not
// started makes no backups. GUI thread only.

#include <QString>
#include <QStringList>

namespace sejfko {

QString AutostartEntryPath();

// True when the entry exists and does not switch itself off ("Hidden=true").
bool AutostartEnabled();

// The text of the entry that starts `program` with `arguments`.
QString AutostartEntryText(const QString& program, const QStringList& arguments);

// One argument of an Exec line as the desktop reads it back: quoted when it holds a reserved
// character, "%" doubled, backslashes and line ends escaped as values of the file require.
QString DesktopExecArgument(const QString& argument);

// Writes the entry (replacing it whole, never leaving a torn file) or removes it. False, with
// a Czech `errorText`, when that fails.
bool SetAutostart(bool enabled, const QString& program, const QStringList& arguments,
                  QString& errorText);

}  // namespace sejfko
