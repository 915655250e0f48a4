#pragma once
// TTrayIcon: the notification-area icon as the main window uses it. Its picture is one image of
// an image list; cycling steps through the list on a timer (the animations); the tooltip is the
// hint cut to 127 characters; balloons carry a title of at most 63 and a text of at most 255
// characters (characters, not bytes or UTF-16 units). Where the desktop has no notification
// area the object still keeps its state, so the window's logic is the same. GUI thread only.

#include <QIcon>
#include <QList>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

class QMenu;

namespace sejfko {

struct TImageList {
    QString Name;
    QList<QIcon> Images;
};

enum class TBalloonKind { Information, Error };

struct TBalloon {
    QString Title;
    QString Text;
    TBalloonKind Kind = TBalloonKind::Information;
    int Seconds = 0;
};

// The first `count` characters of `text` (a character is a code point).
QString CutToCharacters(const QString& text, int count);

class TTrayIcon : public QObject {
    Q_OBJECT
public:
    static constexpr int HintLength = 127;
    static constexpr int BalloonTitleLength = 63;
    static constexpr int BalloonTextLength = 255;

    explicit TTrayIcon(QObject* parent = nullptr);
    ~TTrayIcon() override;

    // Whether the desktop offers a notification area at all.
    static bool Available();

    void SetVisible(bool visible);
    bool Visible() const { return FVisible; }

    // Sets the list and shows its image 0.
    void SetIconList(const TImageList& list);
    const TImageList& IconList() const { return FIconList; }
    // Shows image `index` (the last one when beyond the list).
    void SetIconIndex(int index);
    int IconIndex() const { return FIconIndex; }
    // The image shown now.
    int PictureIndex() const { return FPictureIndex; }
    // Period of the animation.
    void SetCycleInterval(int milliseconds);
    // On: index 0 and the timer starts; off: the timer stops and the picture stays.
    void SetCycleIcons(bool cycle);
    bool CycleIcons() const { return FTimer.isActive(); }
    // One tick of the animation (what the timer does).
    void Cycle();

    // The tooltip: the hint cut to HintLength characters.
    void SetHint(const QString& hint);
    QString ToolTip() const { return FToolTip; }

    // Removes a balloon still shown and shows a new one (recorded also where none can show).
    void ShowBalloon(const QString& title, const QString& text, TBalloonKind kind, int seconds);
    // The most recent balloon, as shown (tests and diagnostics).
    const TBalloon& LastBalloon() const { return FLastBalloon; }
    int BalloonCount() const { return FBalloonCount; }
    // Whether a balloon shown now reaches the user: the icon is visible in a notification area
    // that shows messages.
    bool ShowsBalloons() const;

    void SetContextMenu(QMenu* menu);

signals:
    // A double click with the left button.
    void DoubleClicked();
    // A single click with the left button (or the activation a StatusNotifierItem host
    // reports).
    void Clicked();

private:
    void ShowPicture(int index);

    QSystemTrayIcon FIcon;
    QTimer FTimer;
    TImageList FIconList;
    int FIconIndex = 0;
    int FPictureIndex = -1;
    bool FVisible = false;
    QString FToolTip;
    TBalloon FLastBalloon;
    int FBalloonCount = 0;
};

}  // namespace sejfko
