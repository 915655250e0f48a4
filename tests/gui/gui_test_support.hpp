#pragma once
// Helpers of the window tests: a scripted worker, recorded prompts, a fresh options file, and a
// way to act on a modal dialog from inside its own event loop.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "config/options.hpp"
#include "gui/gui_prompts.hpp"
#include "gui/worker_control.hpp"
#include "support/temp_dir.hpp"

namespace sejfko::test {

class TFakeWorker final : public TWorkerControl {
public:
    bool Start(std::string& errorText) override {
        ++Starts;
        if (!StartError.empty()) {
            errorText = StartError;
            return false;
        }
        Running = true;
        return true;
    }
    void Stop() override {
        ++Stops;
        Running = false;
    }
    bool Exists() const override { return Running; }
    void Suspend(const std::function<void()>& processMessages) override {
        ++Suspends;
        if (processMessages) {
            processMessages();
        }
        Suspended = true;
    }
    void Resume() override {
        ++Resumes;
        Suspended = false;
    }
    bool BackupRunning() const override { return Backup; }
    bool TransferRunning() const override { return Transfer; }
    TDateTime NextRun() const override { return Next; }
    void SetNextRun(TDateTime value) override { Next = value; }

    std::string StartError;
    bool Running = false;
    bool Suspended = false;
    bool Backup = false;
    bool Transfer = false;
    TDateTime Next = 45000.75;
    int Starts = 0;
    int Stops = 0;
    int Suspends = 0;
    int Resumes = 0;
};

// Records every prompt and answers questions with `ConfirmAnswer`; restores the previous
// prompts when it goes.
class TRecordedPrompts {
public:
    TRecordedPrompts() : FSaved(GuiPrompts()) {
        TGuiPrompts& prompts = GuiPrompts();
        prompts.Information = [this](QWidget*, const QString& text) {
            Informations.push_back(text);
        };
        prompts.Confirm = [this](QWidget*, const QString& text) {
            Confirmations.push_back(text);
            return ConfirmAnswer;
        };
        prompts.ShowError = [this](QWidget*, const QString& text) { Errors.push_back(text); };
        prompts.ChooseDirectory = [this](QWidget*, const QString& caption) {
            Captions.push_back(caption);
            return ChosenDirectory;
        };
        prompts.ChooseFile = [this](QWidget*, const QString& caption, const QString& initial,
                                    const QString& filter) {
            Captions.push_back(caption);
            FileDialogInitial = initial;
            FileDialogFilter = filter;
            return ChosenFile;
        };
    }
    ~TRecordedPrompts() { GuiPrompts() = FSaved; }
    TRecordedPrompts(const TRecordedPrompts&) = delete;
    TRecordedPrompts& operator=(const TRecordedPrompts&) = delete;

    std::vector<QString> Informations;
    std::vector<QString> Confirmations;
    std::vector<QString> Errors;
    std::vector<QString> Captions;
    bool ConfirmAnswer = true;
    QString ChosenDirectory;
    QString ChosenFile;
    QString FileDialogInitial;
    QString FileDialogFilter;

private:
    TGuiPrompts FSaved;
};

// A data directory of its own with the global Options loaded from it.
class TOptionsFixture : public ::testing::Test {
protected:
    TOptionsFixture() { Options.Load(Data.Path()); }
    std::string OptionsFile() const { return Data / "Options.ini"; }

    TTempDir Data;
};

// Runs `action` with the first modal dialog that opens (from inside its event loop); call it
// just before the code that opens the dialog. Fails the test (and closes the dialog) when no
// dialog appears within a generous bound.
inline void WhenModalOpens(std::function<void(QWidget*)> action) {
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, action] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            action(modal);
            return;
        }
        if (clock->elapsed() > 20000) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            ADD_FAILURE() << "no modal dialog opened";
        }
    });
    timer->start();
}

// Processes queued events until `done` holds (or a generous bound passes).
inline bool ProcessEventsUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 20000) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

}  // namespace sejfko::test
