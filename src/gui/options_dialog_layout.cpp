// The controls of the options dialog, group by group from top to bottom.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTimeEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <climits>

#include "gui/gui_images.hpp"
#include "gui/options_dialog.hpp"

namespace sejfko {

namespace {

// A group box with a bold caption over controls in the normal font.
struct TGroup {
    QGroupBox* Box;
    QGridLayout* Grid;
};

TGroup MakeGroup(QWidget* parent, const char* caption) {
    auto* box = new QGroupBox(QString::fromUtf8(caption), parent);
    // Weights set explicitly: a font equal to the parent's would inherit the bold caption.
    QFont normal = parent->font();
    normal.setBold(false);
    QFont bold = normal;
    bold.setBold(true);
    box->setFont(bold);
    auto* body = new QWidget(box);
    body->setFont(normal);
    auto* outer = new QVBoxLayout(box);
    outer->setContentsMargins(8, 0, 8, 3);
    outer->addWidget(body);
    auto* grid = new QGridLayout(body);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(2);
    return {box, grid};
}

QLabel* MakeLabel(QWidget* parent, const char* text, QWidget* buddy = nullptr) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    if (buddy != nullptr) {
        label->setBuddy(buddy);
    }
    return label;
}

// A text field set only through its button: read-only and grey.
QLineEdit* MakeReadOnlyEdit(QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setReadOnly(true);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    edit->setPalette(palette);
    return edit;
}

QToolButton* MakeBrowseButton(QWidget* parent, const char* hint) {
    auto* button = new QToolButton(parent);
    button->setText(QStringLiteral("..."));
    button->setToolTip(QString::fromUtf8(hint));
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

// A row of widgets with an optional stretch at the end.
QHBoxLayout* Row(std::initializer_list<QWidget*> widgets, bool stretch = true) {
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    for (QWidget* widget : widgets) {
        row->addWidget(widget);
    }
    if (stretch) {
        row->addStretch(1);
    }
    return row;
}

// Shows "*" for each character of a password, whatever the style would show.
class TPasswordStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter) {
            return '*';
        }
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

}  // namespace

void TDiOptions::CreateControls() {
    setWindowTitle(QStringLiteral("Nastavení zálohování"));
    setWindowIcon(ProgramIcon());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(5, 5, 5, 5);
    layout->setSpacing(3);

    // "Časový plán"
    TGroup schedule = MakeGroup(this, "Časový plán");
    EdEvery = new QSpinBox(schedule.Box);
    // No interval below one day: the schedule could never move forward.
    EdEvery->setRange(1, INT_MAX);
    EdEvery->setValue(1);
    DTTime = new QTimeEdit(schedule.Box);
    DTTime->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    auto* at = MakeLabel(schedule.Box, "&V", DTTime);
    at->setContentsMargins(24, 0, 0, 0);
    schedule.Grid->addLayout(Row({MakeLabel(schedule.Box, "&Spustit každých ", EdEvery), EdEvery,
                                  MakeLabel(schedule.Box, "dní"), at, DTTime}),
                             0, 0);
    // Accelerator "i": every other letter of the word is taken by another control.
    CBAutostart = new QCheckBox(QStringLiteral("Spouštět př&i přihlášení"), schedule.Box);
    schedule.Grid->addWidget(CBAutostart, 1, 0);
    layout->addWidget(schedule.Box);

    // "Výběr souborů"
    TGroup files = MakeGroup(this, "Výběr souborů");
    EdFile = MakeReadOnlyEdit(files.Box);
    BtnFile = MakeBrowseButton(files.Box, "Výběr souboru");
    files.Grid->addWidget(MakeLabel(files.Box, "S&oubor s výběrem:", BtnFile), 0, 0);
    files.Grid->addWidget(EdFile, 0, 1);
    files.Grid->addWidget(BtnFile, 0, 2);
    files.Grid->setColumnStretch(1, 1);
    layout->addWidget(files.Box);

    // "Způsob zálohování"
    TGroup kind = MakeGroup(this, "Způsob zálohování");
    RBFull = new QRadioButton(QStringLiteral("Vžd&y úplné zálohování"), kind.Box);
    RBIncWeek = new QRadioButton(QStringLiteral("&Týdení přírůstkové zálohování"), kind.Box);
    CBComplete = new QComboBox(kind.Box);
    CBComplete->addItems({QStringLiteral("Pondělí"), QStringLiteral("Úterý"),
                          QStringLiteral("Středa"), QStringLiteral("Čtvrtek"),
                          QStringLiteral("Pátek"), QStringLiteral("Sobota"),
                          QStringLiteral("Neděle")});
    CBComplete->setCurrentIndex(-1);
    LblComplete = MakeLabel(kind.Box, "D&en pro úplnou zálohu:", CBComplete);
    RBIncMonth = new QRadioButton(QStringLiteral("&Měsíční přírůstkové zálohování"), kind.Box);
    SEdComplete = new QSpinBox(kind.Box);
    SEdComplete->setRange(1, 31);
    SEdComplete->setValue(1);
    LblMonthComplete = MakeLabel(kind.Box, "Úpl&ná záloha vždy v", SEdComplete);
    LblMonthCompleteSuffix = MakeLabel(kind.Box, "den v měsíci");
    kind.Grid->addWidget(RBFull, 0, 0);
    kind.Grid->addWidget(RBIncWeek, 1, 0);
    kind.Grid->addLayout(Row({LblComplete, CBComplete}), 2, 0);
    kind.Grid->addWidget(RBIncMonth, 3, 0);
    kind.Grid->addLayout(Row({LblMonthComplete, SEdComplete, LblMonthCompleteSuffix}), 4, 0);
    kind.Grid->setColumnMinimumWidth(0, 0);
    for (int indentedRow : {2, 4}) {
        kind.Grid->itemAtPosition(indentedRow, 0)->layout()->setContentsMargins(20, 0, 0, 0);
    }
    layout->addWidget(kind.Box);

    // "Způsob ukládání"
    TGroup storage = MakeGroup(this, "Způsob ukládání");
    RBLocal = new QRadioButton(QStringLiteral("&Lokální počítač"), storage.Box);
    EdDir = MakeReadOnlyEdit(storage.Box);
    BtnDir = MakeBrowseButton(storage.Box, "Výběr adresáře");
    LblDir = MakeLabel(storage.Box, "&Adresářová cesta:", BtnDir);
    RBRemote = new QRadioButton(QStringLiteral("V&zdálený počítač (FTP)"), storage.Box);
    EdLocalTemp = MakeReadOnlyEdit(storage.Box);
    BtnLocalTemp = MakeBrowseButton(storage.Box, "Výběr adresáře");
    LblLocalTemp = MakeLabel(storage.Box, "&Dočasný lokální adresář:", BtnLocalTemp);
    EdHost = new QLineEdit(storage.Box);
    // "host" or "host:port".
    EdHost->setPlaceholderText(QStringLiteral("server[:port]"));
    LblHost = MakeLabel(storage.Box, "&Počítač:", EdHost);
    EdUser = new QLineEdit(storage.Box);
    LblUser = MakeLabel(storage.Box, "&Uživatelské jméno:", EdUser);
    EdPassword = new QLineEdit(storage.Box);
    auto* passwordStyle = new TPasswordStyle;
    passwordStyle->setParent(this);  // a widget does not own the style it is given
    EdPassword->setStyle(passwordStyle);
    EdPassword->setEchoMode(QLineEdit::Password);
    LblPassword = MakeLabel(storage.Box, "&Heslo:", EdPassword);
    // Accelerator "f": "p" is that of "&Počítač:".
    CBPassive = new QCheckBox(QStringLiteral("Pasivní režim &FTP"), storage.Box);
    // Accelerator "t" is shared with "&Týdení ...": the text is the one users were told of.
    CBTls = new QCheckBox(QStringLiteral("Šifrované spojení (&TLS)"), storage.Box);
    EdCertificate = new QLineEdit(storage.Box);
    EdCertificate->setPlaceholderText(QStringLiteral("SHA-256 (AB:CD:...), prázdné = systém"));
    EdCertificate->setToolTip(
        QStringLiteral("Otisk vypíše příkaz sejfko-cli transfer --show-certificate"));
    LblCertificate = MakeLabel(storage.Box, "Otisk certifi&kátu:", EdCertificate);

    QGridLayout* grid = storage.Grid;
    grid->addWidget(RBLocal, 0, 0, 1, 3);
    grid->addWidget(LblDir, 1, 0);
    grid->addWidget(EdDir, 1, 1);
    grid->addWidget(BtnDir, 1, 2);
    grid->addWidget(RBRemote, 2, 0);
    grid->addWidget(CBPassive, 2, 1);
    grid->addWidget(LblLocalTemp, 3, 0);
    grid->addWidget(EdLocalTemp, 3, 1);
    grid->addWidget(BtnLocalTemp, 3, 2);
    grid->addWidget(LblHost, 4, 0);
    grid->addWidget(EdHost, 4, 1);
    grid->addWidget(LblUser, 5, 0);
    grid->addWidget(EdUser, 5, 1);
    grid->addWidget(LblPassword, 6, 0);
    grid->addWidget(EdPassword, 6, 1);
    grid->addWidget(CBTls, 7, 1);
    grid->addWidget(LblCertificate, 8, 0);
    grid->addWidget(EdCertificate, 8, 1);
    for (QLabel* label : {LblDir, LblLocalTemp, LblHost, LblUser, LblPassword, LblCertificate}) {
        label->setContentsMargins(20, 0, 0, 0);
    }
    grid->setColumnStretch(1, 1);
    layout->addWidget(storage.Box);

    // "Správa záloh"
    TGroup keeping = MakeGroup(this, "Správa záloh");
    SEdBackupCount = new QSpinBox(keeping.Box);
    SEdBackupCount->setRange(1, 1000);
    SEdBackupCount->setValue(1);
    keeping.Grid->addLayout(Row({MakeLabel(keeping.Box, "U&chovávat pouze:", SEdBackupCount),
                                 SEdBackupCount, MakeLabel(keeping.Box, "posledních záloh")}),
                            0, 0);
    layout->addWidget(keeping.Box);

    // "Šifrování záloh"
    TGroup secrecy = MakeGroup(this, "Šifrování záloh");
    EdArchivePassword = new QLineEdit(secrecy.Box);
    EdArchivePasswordRepeat = new QLineEdit(secrecy.Box);
    for (QLineEdit* edit : {EdArchivePassword, EdArchivePasswordRepeat}) {
        edit->setStyle(passwordStyle);
        edit->setEchoMode(QLineEdit::Password);
    }
    EdArchivePassword->setPlaceholderText(QStringLiteral("prázdné = archivy se nešifrují"));
    LblArchivePassword = MakeLabel(secrecy.Box, "Heslo a&rchivů:", EdArchivePassword);
    LblArchivePasswordRepeat = MakeLabel(secrecy.Box, "Zopaku&jte heslo:", EdArchivePasswordRepeat);
    LblArchivePasswordWarning = MakeLabel(
        secrecy.Box, "Ztracené heslo znamená ztracené zálohy: bez něj archivy nikdo neobnoví.");
    LblArchivePasswordWarning->setWordWrap(true);
    secrecy.Grid->addWidget(LblArchivePassword, 0, 0);
    secrecy.Grid->addWidget(EdArchivePassword, 0, 1);
    secrecy.Grid->addWidget(LblArchivePasswordRepeat, 1, 0);
    secrecy.Grid->addWidget(EdArchivePasswordRepeat, 1, 1);
    secrecy.Grid->addWidget(LblArchivePasswordWarning, 2, 0, 1, 2);
    secrecy.Grid->setColumnStretch(1, 1);
    layout->addWidget(secrecy.Box);
    layout->addStretch(1);

    // Commands and buttons at the bottom right.
    AcApply = new QAction(QStringLiteral("&Apply"), this);
    AcOk = new QAction(QStringLiteral("OK"), this);
    BtnOk = new QPushButton(AcOk->text(), this);
    BtnOk->setDefault(true);
    BtnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    BtnApply = new QPushButton(AcApply->text(), this);
    AcApply->setEnabled(false);
    BtnApply->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BtnOk);
    buttons->addWidget(BtnCancel);
    buttons->addWidget(BtnApply);
    layout->addLayout(buttons);

    setFixedSize(QSize(519, 568).expandedTo(layout->sizeHint()));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

}  // namespace sejfko
