#pragma once
// The program's pictures, drawn for 16 x 16 and kept as resources: the two frames of each tray
// animation, the four command images and the program's own icon.

#include <QIcon>

namespace sejfko {

enum class TPicture { Backup0, Backup1, Transfer0, Transfer1, Options, BackupNow, About, Exit };

QIcon Picture(TPicture picture);
// The window and About icon, in every size it is drawn in.
QIcon ProgramIcon();

}  // namespace sejfko
