#include "gui/about_dialog.hpp"

#include <QDesktopServices>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

#include "gui/gui_images.hpp"
#include "gui/version_info.hpp"

namespace sejfko {

namespace {

QFont SerifBold(int pixelSize) {
    QFont font(QStringLiteral("Serif"));
    font.setStyleHint(QFont::Serif);
    font.setBold(true);
    font.setPixelSize(pixelSize);
    return font;
}

QLabel* Centred(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    return label;
}

}  // namespace

TVersionValues ProgramVersionValues() {
    return {QString::fromUtf8(version::CompanyName), QString::fromUtf8(version::ProductName),
            QString::fromUtf8(version::FileVersion), QString::fromUtf8(version::LegalCopyright),
            QString::fromUtf8(version::Comments)};
}

TDiAbout::TDiAbout(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("DiAbout"));
    setWindowTitle(QStringLiteral("O programu"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    ImgAbout = new QLabel(this);
    ImgAbout->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    ImgAbout->setLineWidth(2);
    ImgAbout->setPixmap(ProgramIcon().pixmap(32, 32));
    ImgAbout->setFixedSize(40, 40);
    ImgAbout->setAlignment(Qt::AlignCenter);
    LblFirm = Centred(this);
    LblFirm->setFont(SerifBold(19));
    LblProduct = Centred(this);
    LblProduct->setFont(SerifBold(29));
    LblVersion = new QLabel(this);
    QFont bold = font();
    bold.setBold(true);
    LblVersion->setFont(bold);
    LblCopyright = new QLabel(this);
    LblAddress = new QLabel(QString::fromUtf8(version::HomePage), this);
    QPalette navy = LblAddress->palette();
    navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
    LblAddress->setPalette(navy);
    QFont underlined = font();
    underlined.setUnderline(true);
    LblAddress->setFont(underlined);
    LblAddress->setCursor(Qt::PointingHandCursor);
    LblAddress->installEventFilter(this);
    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    LblWarning = new QLabel(this);
    LblWarning->setWordWrap(true);
    BtnOk = new QPushButton(QStringLiteral("OK"), this);
    BtnOk->setDefault(true);
    connect(BtnOk, &QPushButton::clicked, this, &QDialog::accept);

    auto* top = new QHBoxLayout;
    top->addWidget(ImgAbout, 0, Qt::AlignTop);
    auto* names = new QVBoxLayout;
    names->setSpacing(0);
    names->addWidget(LblFirm);
    names->addWidget(LblProduct);
    top->addLayout(names, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(5, 5, 5, 5);
    layout->setSpacing(3);
    layout->addLayout(top);
    layout->addSpacing(4);
    layout->addWidget(LblVersion);
    layout->addWidget(LblCopyright);
    layout->addWidget(LblAddress);
    layout->addStretch(1);
    layout->addWidget(separator);
    layout->addWidget(LblWarning);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BtnOk);
    layout->addLayout(buttons);

    Fill(ProgramVersionValues());
    setFixedSize(QSize(280, 225).expandedTo(layout->sizeHint()));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void TDiAbout::Fill(const TVersionValues& values) {
    auto put = [](QLabel* label, const QString& value, const QString& prefix = QString()) {
        if (!value.isEmpty()) {
            label->setText(prefix + value);
        }
    };
    put(LblFirm, values.CompanyName);
    put(LblProduct, values.ProductName);
    put(LblVersion, values.FileVersion, QStringLiteral("Verze "));
    put(LblCopyright, values.LegalCopyright);
    put(LblWarning, values.Comments);
}

bool TDiAbout::eventFilter(QObject* watched, QEvent* event) {
    if (watched == LblAddress && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        QDesktopServices::openUrl(QUrl(LblAddress->text()));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace sejfko
