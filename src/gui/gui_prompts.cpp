#include "gui/gui_prompts.hpp"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>

namespace sejfko {

namespace {

QString ApplicationCaption() {
    return QStringLiteral("Sejfko");
}

}  // namespace

TGuiPrompts DefaultGuiPrompts() {
    TGuiPrompts prompts;
    prompts.Information = [](QWidget* parent, const QString& text) {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Information"), text,
                        QMessageBox::NoButton, parent);
        box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box.exec();
    };
    prompts.Confirm = [](QWidget* parent, const QString& text) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text,
                        QMessageBox::NoButton, parent);
        QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
        QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes;
    };
    prompts.ShowError = [](QWidget* parent, const QString& text) {
        // A worker that fails the same way on every pass must not pile up boxes: a text that
        // is still shown is not shown again.
        static QSet<QString> shown;
        if (shown.contains(text)) {
            return;
        }
        shown.insert(text);
        // Not modal and not waited for: the code that raised the error goes on.
        auto* box = new QMessageBox(QMessageBox::Critical, ApplicationCaption(), text,
                                    QMessageBox::NoButton, parent);
        QObject::connect(box, &QObject::destroyed, [text] { shown.remove(text); });
        box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
        box->show();
    };
    prompts.ChooseDirectory = [](QWidget* parent, const QString& caption) {
        return QFileDialog::getExistingDirectory(parent, caption, QString(),
                                                 QFileDialog::ShowDirsOnly);
    };
    prompts.ChooseFile = [](QWidget* parent, const QString& caption, const QString& initialFile,
                            const QString& filter) {
        QFileDialog dialog(parent, caption, initialFile);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
#ifdef _WIN32
        dialog.setNameFilter(filter);
#else
        // "*.*" means every file on Windows; here it would hide the names without a dot.
        QString posixFilter = filter;
        posixFilter.replace(QStringLiteral("(*.*)"), QStringLiteral("(*)"));
        dialog.setNameFilter(posixFilter);
#endif
        if (!initialFile.isEmpty()) {
            dialog.selectFile(initialFile);
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return QString();
        }
        return dialog.selectedFiles().constFirst();
    };
    return prompts;
}

TGuiPrompts& GuiPrompts() {
    static TGuiPrompts prompts = DefaultGuiPrompts();
    return prompts;
}

}  // namespace sejfko
