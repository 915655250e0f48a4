#include "gui/gui_images.hpp"

namespace sejfko {

QIcon Picture(TPicture picture) {
    switch (picture) {
        case TPicture::Backup0:
            return QIcon(QStringLiteral(":/icons/backup-0.png"));
        case TPicture::Backup1:
            return QIcon(QStringLiteral(":/icons/backup-1.png"));
        case TPicture::Transfer0:
            return QIcon(QStringLiteral(":/icons/transfer-0.png"));
        case TPicture::Transfer1:
            return QIcon(QStringLiteral(":/icons/transfer-1.png"));
        case TPicture::Options:
            return QIcon(QStringLiteral(":/icons/options.png"));
        case TPicture::BackupNow:
            return QIcon(QStringLiteral(":/icons/backup-now.png"));
        case TPicture::About:
            return QIcon(QStringLiteral(":/icons/about.png"));
        case TPicture::Exit:
            return QIcon(QStringLiteral(":/icons/exit.png"));
    }
    return QIcon();
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 32, 64}) {
        icon.addFile(QStringLiteral(":/icons/sejfko-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace sejfko
