#include "gui/gui_images.hpp"

// The pictures live in a static library: its resources must be registered by hand, since
// nothing else references the object that would register them.
static void InitIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace sejfko {

namespace {

void EnsureResources() {
    static const bool initialised = [] {
        InitIconResources();
        return true;
    }();
    (void)initialised;
}

}  // namespace

QIcon Picture(TPicture picture) {
    EnsureResources();
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
    EnsureResources();
    QIcon icon;
    for (int size : {16, 32, 64}) {
        icon.addFile(QStringLiteral(":/icons/sejfko-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace sejfko
