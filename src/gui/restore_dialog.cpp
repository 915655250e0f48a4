#include "gui/restore_dialog.hpp"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <exception>
#include <set>

#include "config/options.hpp"
#include "gui/gui_images.hpp"
#include "gui/gui_prompts.hpp"
#include "gui/restore_file_tree.hpp"
#include "platform/data_directory.hpp"
#include "platform/file_system.hpp"
#include "restore/restore_path.hpp"
#include "restore/restore_session.hpp"

namespace sejfko {

namespace {

// A stamp from an archive's time has 2-second resolution.
constexpr std::time_t StampSlack = 2;

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToUtf8(const QString& text) {
    return text.toStdString();
}

QString Size(int64_t bytes) {
    return bytes < 0 ? QStringLiteral("?") : QLocale(QLocale::Czech).formattedDataSize(bytes);
}

bool RemoteSource() {
    return Options.SavingKind() == skRemote;
}

}  // namespace

TDiRestore::TDiRestore(const std::string& dataDirectory, QWidget* parent)
    : QDialog(parent), FDataDirectory(dataDirectory), FWorker(new TRestoreWorker(this)) {
    setObjectName(QStringLiteral("DiRestore"));
    setWindowTitle(QStringLiteral("Obnovit soubory"));
    setWindowIcon(ProgramIcon());
    CreateLayout();
    connect(FWorker, &TRestoreWorker::Progress, this, [this](int percent) {
        PbProgress->setValue(percent);
        if (FRestoring) {
            emit RestoreProgress(percent);
        }
    });
    connect(FWorker, &TRestoreWorker::Step, LblStep, &QLabel::setText);
    ReloadPoints();
}

TDiRestore::~TDiRestore() {
    FWorker->CancelAndWait();
}

void TDiRestore::CreateLayout() {
    auto* source = new QGroupBox(QStringLiteral("Zdroj záloh"), this);
    const QString own =
        RemoteSource()
            ? QStringLiteral("Server FTP z nastavení: ") + FromUtf8(Options.RemoteHost())
            : QStringLiteral("Složka záloh z nastavení: ") + FromUtf8(Options.LocalDirectory());
    RbOptionsSource = new QRadioButton(own, source);
    RbOptionsSource->setChecked(true);
    RbFolderSource = new QRadioButton(QStringLiteral("&Jiná složka:"), source);
    EdSourceFolder = new QLineEdit(source);
    EdSourceFolder->setReadOnly(true);
    BtnSourceFolder = new QPushButton(QStringLiteral("&Procházet..."), source);
    auto* sourceGrid = new QGridLayout(source);
    sourceGrid->addWidget(RbOptionsSource, 0, 0, 1, 3);
    sourceGrid->addWidget(RbFolderSource, 1, 0);
    sourceGrid->addWidget(EdSourceFolder, 1, 1);
    sourceGrid->addWidget(BtnSourceFolder, 1, 2);
    connect(RbOptionsSource, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            ReloadPoints();
        }
    });
    connect(RbFolderSource, &QRadioButton::toggled, this, [this](bool on) {
        if (on && !EdSourceFolder->text().isEmpty()) {
            ReloadPoints();
        }
    });
    connect(BtnSourceFolder, &QPushButton::clicked, this, [this] {
        const QString folder =
            GuiPrompts().ChooseDirectory(this, QStringLiteral("Složka s archivy záloh"));
        if (!folder.isEmpty()) {
            UseSourceFolder(folder);
        }
    });

    LvPoints = new QTreeWidget(this);
    LvPoints->setColumnCount(3);
    LvPoints->setHeaderLabels(
        {QStringLiteral("Okamžik"), QStringLiteral("Druh"), QStringLiteral("Velikost")});
    LvPoints->setRootIsDecorated(false);
    LvPoints->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connect(LvPoints, &QTreeWidget::currentItemChanged, this, [this] { LoadFiles(); });
    TvFiles = new TFileTree(this);
    auto* lists = new QHBoxLayout;
    LvPoints->setMinimumWidth(290);
    lists->addWidget(LvPoints, 3);
    lists->addWidget(TvFiles, 5);

    auto* target = new QGroupBox(QStringLiteral("Kam obnovit"), this);
    EdTarget = new QLineEdit(target);
    BtnTarget = new QPushButton(QStringLiteral("P&rocházet..."), target);
    CbOriginalPlace = new QCheckBox(QStringLiteral("Obnovit na původní &místo"), target);
    auto* targetGrid = new QGridLayout(target);
    auto* targetLabel = new QLabel(QStringLiteral("Cílová &složka:"), target);
    targetLabel->setBuddy(EdTarget);
    targetGrid->addWidget(targetLabel, 0, 0);
    targetGrid->addWidget(EdTarget, 0, 1);
    targetGrid->addWidget(BtnTarget, 0, 2);
    targetGrid->addWidget(CbOriginalPlace, 1, 0, 1, 3);
    connect(BtnTarget, &QPushButton::clicked, this, [this] {
        const QString folder = GuiPrompts().ChooseDirectory(this, QStringLiteral("Cílová složka"));
        if (!folder.isEmpty()) {
            EdTarget->setText(folder);
        }
    });
    connect(CbOriginalPlace, &QCheckBox::toggled, this, &TDiRestore::UpdateControls);

    PbProgress = new QProgressBar(this);
    PbProgress->setRange(0, 100);
    PbProgress->setValue(0);
    LblStep = new QLabel(this);
    MeResult = new QPlainTextEdit(this);
    MeResult->setReadOnly(true);
    MeResult->setMaximumHeight(110);

    BtnRestore = new QPushButton(QStringLiteral("&Obnovit"), this);
    BtnCancel = new QPushButton(QStringLiteral("Zrušit"), this);
    BtnClose = new QPushButton(QStringLiteral("&Zavřít"), this);
    for (QPushButton* button : {BtnRestore, BtnCancel, BtnClose}) {
        button->setAutoDefault(false);
    }
    connect(BtnRestore, &QPushButton::clicked, this, &TDiRestore::StartRestore);
    connect(BtnCancel, &QPushButton::clicked, this, [this] { FWorker->Cancel(); });
    connect(BtnClose, &QPushButton::clicked, this, &TDiRestore::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(PbProgress, 1);
    buttons->addWidget(BtnRestore);
    buttons->addWidget(BtnCancel);
    buttons->addWidget(BtnClose);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(source);
    layout->addLayout(lists, 1);
    layout->addWidget(target);
    layout->addWidget(LblStep);
    layout->addLayout(buttons);
    layout->addWidget(MeResult);
    resize(820, 580);
}

void TDiRestore::UseSourceFolder(const QString& folder) {
    EdSourceFolder->setText(folder);
    if (RbFolderSource->isChecked()) {
        ReloadPoints();
    } else {
        RbFolderSource->setChecked(true);  // reloads
    }
}

TRestoreSource TDiRestore::Source() {
    TRestoreSource source;
    if (RbFolderSource->isChecked()) {
        source.Folders.push_back(ToUtf8(EdSourceFolder->text()));
        return source;
    }
    if (!RemoteSource()) {
        source.Folders.push_back(Options.LocalDirectory());
        return source;
    }
    // Archives not sent yet wait in the temporary folder: the newest points are only there.
    std::string waiting = Options.LocalTemporaryDirectory();
    source.Folders.push_back(ResolveDataPath(
        FDataDirectory,
        waiting.empty() ? DefaultLocalTemporaryDirectory(FDataDirectory) : waiting));
    source.FromServer = true;
    source.Server = ServerSourceOf(Options);
    if (!FDownloads) {
        try {
            FDownloads = std::make_unique<TRestoreDownloads>(Options, FDataDirectory);
        } catch (const std::exception& failure) {
            LblStep->setText(QStringLiteral("Složku pro stažené archivy nelze vytvořit: ") +
                             FromUtf8(failure.what()));
        }
    }
    source.DownloadDirectory = FDownloads ? FDownloads->Path() : std::string();
    return source;
}

void TDiRestore::ReloadPoints() {
    FPoints.clear();
    FChain.clear();
    LvPoints->clear();
    TvFiles->SetFiles({});
    LblStep->setText(QStringLiteral("Načítám seznam záloh..."));
    FWorker->ListPoints(Source(), [this](std::vector<TArchiveRef> points, QString error) {
        FillPoints(std::move(points), error);
    });
    UpdateControls();
}

void TDiRestore::FillPoints(std::vector<TArchiveRef> points, const QString& error) {
    FPoints = std::move(points);
    LblStep->setText(error.isEmpty() && FPoints.empty()
                         ? QStringLiteral("Ve zdroji není žádná obnovitelná záloha.")
                         : error);
    const QSignalBlocker blocker(LvPoints);
    // Newest first: the usual wish is the latest state.
    for (std::size_t i = FPoints.size(); i-- > 0;) {
        const TArchiveRef& point = FPoints[i];
        auto* item = new QTreeWidgetItem(LvPoints);
        item->setText(0, FromUtf8(FormatStamp(point.Stamp)));
        item->setText(1, point.Full ? QStringLiteral("Úplná") : QStringLiteral("Přírůstková"));
        item->setText(2, Size(point.Size));
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        item->setData(0, Qt::UserRole, static_cast<qulonglong>(i));
        item->setToolTip(0, FromUtf8(point.Name));
    }
    UpdateControls();
    if (LvPoints->topLevelItemCount() > 0) {
        LvPoints->setCurrentItem(LvPoints->topLevelItem(0));
        LoadFiles();
    }
}

void TDiRestore::LoadFiles() {
    QTreeWidgetItem* current = LvPoints->currentItem();
    FChain.clear();
    TvFiles->SetFiles({});
    if (current == nullptr || FRestoring) {
        UpdateControls();
        return;
    }
    const TArchiveRef& point = FPoints[current->data(0, Qt::UserRole).toULongLong()];
    std::vector<TArchiveRef> chain;
    try {
        chain = SelectChain(FPoints, point.Stamp);
    } catch (const std::exception& failure) {
        LblStep->setText(FromUtf8(failure.what()));
        return;
    }
    LblStep->setText(QStringLiteral("Načítám soubory zálohy ") +
                     FromUtf8(FormatStamp(point.Stamp)) + QStringLiteral("..."));
    FWorker->ListFiles(
        Source(), std::move(chain),
        [this](std::vector<TArchiveRef> chain, std::vector<TPointFile> files, QStringList problems,
               QString error) {
            // Downloaded archives are read from here on; their size is known now.
            for (const TArchiveRef& ref : chain) {
                for (TArchiveRef& point : FPoints) {
                    if (point.Name == ref.Name) {
                        point = ref;
                    }
                }
            }
            for (int i = 0; i < LvPoints->topLevelItemCount(); ++i) {
                QTreeWidgetItem* item = LvPoints->topLevelItem(i);
                item->setText(2, Size(FPoints[item->data(0, Qt::UserRole).toULongLong()].Size));
            }
            if (error.isEmpty()) {
                FChain = std::move(chain);
                TvFiles->SetFiles(std::move(files));
            }
            LblStep->setText(
                error.isEmpty() ? QStringLiteral("Souborů: %1").arg(TvFiles->FileCount()) : error);
            MeResult->setPlainText(problems.join(QLatin1Char('\n')));
            UpdateControls();
        });
    UpdateControls();
}

void TDiRestore::UpdateControls() {
    const bool busy = FWorker->Busy();
    const bool original = CbOriginalPlace->isChecked();
    for (QWidget* widget :
         std::initializer_list<QWidget*>{RbOptionsSource, RbFolderSource, BtnSourceFolder, LvPoints,
                                         TvFiles, CbOriginalPlace}) {
        widget->setEnabled(!FRestoring);
    }
    EdTarget->setEnabled(!FRestoring && !original);
    BtnTarget->setEnabled(!FRestoring && !original);
    BtnRestore->setEnabled(!busy && !FChain.empty() && TvFiles->FileCount() > 0);
    BtnCancel->setEnabled(busy);
}

bool TDiRestore::AskRestoreOptions(TRestoreOptions& options, QStringList& keptNewer) {
    if (TvFiles->NoneChecked()) {
        GuiPrompts().ShowError(this, QStringLiteral("Nejsou vybrány žádné soubory k obnovení."));
        return false;
    }
    if (CbOriginalPlace->isChecked()) {
        options.Target = OriginalPlaceRoot;
        options.Force = true;
        // Files of the user's that the chain deleted, or made newer since, are the user's.
        options.KeepDeleted = true;
        std::set<std::string> newer;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        for (const TPointFile& file : TvFiles->CheckedFiles()) {
            const TFileStatus status = GetFileStatus(OriginalPlaceRoot + file.Relative);
            if (status.Kind == TEntryKind::Regular &&
                status.ModifiedSeconds > file.Modified + StampSlack) {
                newer.insert(file.Relative);
            }
        }
        QApplication::restoreOverrideCursor();
        if (!newer.empty() &&
            !GuiPrompts().Confirm(
                this, QStringLiteral("Na původním místě je %1 souborů novějších než v záloze "
                                     "(například %2). Nahradit je verzemi ze zálohy?\n\n"
                                     "Ne: novější soubory zůstanou, obnoví se jen ostatní.")
                          .arg(newer.size())
                          .arg(FromUtf8(OriginalPlaceRoot + *newer.begin())))) {
            TvFiles->Uncheck(newer);
            for (const std::string& relative : newer) {
                keptNewer.append(FromUtf8(OriginalPlaceRoot + relative));
            }
            if (TvFiles->NoneChecked()) {
                ShowOutcome(TRestoreOutcome{}, keptNewer);
                return false;
            }
        }
    } else {
        options.Target = ToUtf8(EdTarget->text().trimmed());
        if (options.Target.empty()) {
            GuiPrompts().ShowError(
                this, QStringLiteral("Zvolte cílovou složku, nebo obnovu na původní místo."));
            return false;
        }
        std::vector<TDirectoryEntry> entries;
        if (DirectoryExists(options.Target) && ListDirectory(options.Target, entries) &&
            !entries.empty()) {
            if (!GuiPrompts().Confirm(this, QStringLiteral("Cílová složka %1 není prázdná. "
                                                           "Soubory stejných jmen v ní budou "
                                                           "nahrazeny. Pokračovat?")
                                                .arg(EdTarget->text().trimmed()))) {
                return false;
            }
            options.Force = true;
        }
    }
    if (!TvFiles->AllChecked()) {
        options.Only = TvFiles->CheckedPaths();
    }
    return true;
}

void TDiRestore::StartRestore() {
    if (FWorker->Busy() || FChain.empty()) {
        return;
    }
    TRestoreOptions options;
    QStringList keptNewer;
    if (!AskRestoreOptions(options, keptNewer)) {
        return;
    }
    FRestoring = true;
    PbProgress->setValue(0);
    MeResult->clear();
    LblStep->setText(QStringLiteral("Obnovuji soubory..."));
    emit RestoreStarted();
    FWorker->Restore(FChain, options, FDataDirectory,
                     [this, keptNewer](const TRestoreOutcome& outcome) {
                         FRestoring = false;
                         ShowOutcome(outcome, keptNewer);
                         UpdateControls();
                     });
    UpdateControls();
}

void TDiRestore::ShowOutcome(const TRestoreOutcome& outcome, const QStringList& keptNewer) {
    const TRestoreSummary& summary = outcome.Summary;
    QString head;
    if (!outcome.Error.isEmpty()) {
        head = QStringLiteral("Obnova se nezdařila: ") + outcome.Error;
    } else {
        head = summary.Cancelled ? QStringLiteral("Obnova byla zrušena.")
               : summary.Stopped ? QStringLiteral("Obnova byla zastavena.")
                                 : QStringLiteral("Obnova je dokončena.");
        head += QStringLiteral(" Obnoveno souborů: %1 (%2).")
                    .arg(summary.FilesWritten)
                    .arg(Size(static_cast<int64_t>(summary.BytesWritten)));
        if (summary.FilesRemoved > 0) {
            head += QStringLiteral(" Smazáno souborů: %1.").arg(summary.FilesRemoved);
        }
    }
    QStringList lines{head};
    const qsizetype skipped = outcome.Problems.size() + keptNewer.size();
    if (skipped > 0) {
        lines.append(QStringLiteral("Vynecháno: %1").arg(skipped));
        lines.append(outcome.Problems);
        for (const QString& path : keptNewer) {
            lines.append(
                QStringLiteral("Soubor \"%1\" ponechán: na místě je novější verze.").arg(path));
        }
    }
    FResultText = lines.join(QLatin1Char('\n'));
    MeResult->setPlainText(FResultText);
    LblStep->setText(head);
    const bool succeeded = outcome.Error.isEmpty() && summary.Succeeded() && keptNewer.isEmpty();
    emit RestoreFinished(skipped > 0 ? head + QStringLiteral("\nVynecháno: %1").arg(skipped) : head,
                         succeeded);
}

void TDiRestore::reject() {
    if (FRestoring &&
        !GuiPrompts().Confirm(this, QStringLiteral("Obnova souborů právě probíhá. Chcete ji "
                                                   "zrušit?"))) {
        return;
    }
    CancelAndClose();
}

void TDiRestore::CancelAndClose() {
    if (FRestoring) {
        // Its outcome is still told (the tray shows the restore until then); the stop request
        // is seen at the next chunk.
        FWorker->Cancel();
        while (FWorker->Busy()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }
    FWorker->CancelAndWait();
    QDialog::reject();
}

}  // namespace sejfko
