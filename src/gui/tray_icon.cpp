#include "gui/tray_icon.hpp"

#include <QMenu>

namespace sejfko {

QString CutToCharacters(const QString& text, int count) {
    int units = 0;
    for (int characters = 0; characters < count && units < text.size(); ++characters) {
        // A character outside the basic plane takes two UTF-16 units; never split it.
        units += (text.at(units).isHighSurrogate() && units + 1 < text.size()) ? 2 : 1;
    }
    return text.left(units);
}

// The icon is a child, so that it can be found like every other part of the window.
TTrayIcon::TTrayIcon(QObject* parent) : QObject(parent), FIcon(this) {
    connect(&FTimer, &QTimer::timeout, this, &TTrayIcon::Cycle);
    connect(&FIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick) {
                    emit DoubleClicked();
                } else if (reason == QSystemTrayIcon::Trigger) {
                    emit Clicked();
                }
            });
}

TTrayIcon::~TTrayIcon() {
    FTimer.stop();
    FIcon.hide();
}

bool TTrayIcon::Available() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TTrayIcon::SetVisible(bool visible) {
    FVisible = visible;
    FIcon.setVisible(visible);
}

void TTrayIcon::SetIconList(const TImageList& list) {
    FIconList = list;
    FIconIndex = 0;
    ShowPicture(0);
}

void TTrayIcon::SetIconIndex(int index) {
    FIconIndex = index;
    ShowPicture(index);
}

void TTrayIcon::SetCycleInterval(int milliseconds) {
    FTimer.setInterval(milliseconds);
}

void TTrayIcon::SetCycleIcons(bool cycle) {
    if (cycle) {
        FIconIndex = 0;
        FTimer.start();
    } else {
        FTimer.stop();
    }
}

void TTrayIcon::Cycle() {
    ShowPicture(FIconIndex);
    ++FIconIndex;
    if (FIconIndex >= FIconList.Images.size()) {
        FIconIndex = 0;
    }
}

void TTrayIcon::ShowPicture(int index) {
    if (FIconList.Images.isEmpty()) {
        return;
    }
    const int last = static_cast<int>(FIconList.Images.size()) - 1;
    FPictureIndex = index < 0 ? 0 : (index > last ? last : index);
    FIcon.setIcon(FIconList.Images.at(FPictureIndex));
}

void TTrayIcon::SetHint(const QString& hint) {
    FToolTip = CutToCharacters(hint, HintLength);
    FIcon.setToolTip(FToolTip);
}

void TTrayIcon::ShowBalloon(const QString& title, const QString& text, TBalloonKind kind,
                            int seconds) {
    FLastBalloon.Title = CutToCharacters(title, BalloonTitleLength);
    FLastBalloon.Text = CutToCharacters(text, BalloonTextLength);
    FLastBalloon.Kind = kind;
    FLastBalloon.Seconds = seconds;
    ++FBalloonCount;
    if (!ShowsBalloons()) {
        return;
    }
    // A new message replaces the one still shown.
    FIcon.showMessage(
        FLastBalloon.Title, FLastBalloon.Text,
        kind == TBalloonKind::Error ? QSystemTrayIcon::Critical : QSystemTrayIcon::Information,
        seconds * 1000);
}

bool TTrayIcon::ShowsBalloons() const {
    return FVisible && Available() && QSystemTrayIcon::supportsMessages();
}

void TTrayIcon::SetContextMenu(QMenu* menu) {
    FIcon.setContextMenu(menu);
}

}  // namespace sejfko
