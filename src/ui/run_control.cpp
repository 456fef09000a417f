// START, pause, stop and the automatic resume after an error pause.

#include "ui/main_form.h"

#include "core/config.h"
#include "core/platform.h"
#include "run/scraper.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QProgressBar>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace {
constexpr int kRunLimit = 5;
constexpr int kCloseWaitMs = 10000;
} // namespace

// A run that has shown its end display counts as finished, even while its
// thread is still returning.
bool TMainForm::RunActive() const {
    return CurrentRun && !CurrentRun->Finished() && !CurrentRun->Ended();
}

void TMainForm::StartButtonClick() {
    if (CitiesListBox->selectedItems().isEmpty()) {
        AppendLog(QStringLiteral("Ни один регион не выбран, старт невозможен. Кликните по нужному "
                                 "региону для его выбора."));
        return;
    }
    if (CatsListBox->selectedItems().isEmpty()) {
        AppendLog(QStringLiteral("Ни одна категория не выбрана, старт невозможен. Кликните по "
                                 "нужной категории для её выбора."));
        return;
    }
    auto run = std::make_shared<TScraper>();
    CurrentRun = run;
    run->LogsMemo = LogsMemo;
    run->ProgressBar = ProgressBar;
    run->StartButton = StartButton;
    run->ResumeTimer = ResumeTimer;
    run->CitiesListBox = CitiesListBox;
    run->CatsListBox = CatsListBox;
    run->Label4 = Label4;
    run->Limit = kRunLimit;
    run->CategoryIds = CategoryIds;
    if (Config().Batch) {
        run->OnRunEnded = [](const QString& error) {
            if (error.isEmpty()) {
                QCoreApplication::exit(kExitRunEnded);
                return;
            }
            std::fprintf(stderr, "%s\n", error.toUtf8().constData());
            std::fflush(stderr);
            QCoreApplication::exit(kExitRunLogNotSaved);
        };
    }
    run->Start();
}

void TMainForm::PauseButtonClick() {
    if (!RunActive())
        return;
    if (CurrentRun->Suspended()) {
        CurrentRun->Resume();
        AppendLog(Timestamp() + QStringLiteral(": Отключаем паузу, продолжаем работу"));
    } else {
        CurrentRun->Suspend();
        AppendLog(Timestamp() + QStringLiteral(": Включаем паузу"));
    }
}

void TMainForm::ResumeTimerTimer() {
    ResumeTimer->stop();
    if (RunActive() && CurrentRun->Suspended()) {
        CurrentRun->Resume();
        AppendLog(Timestamp() + QStringLiteral(": Отключаем паузу, продолжаем работу"));
    }
}

void TMainForm::StopButtonClick() {
    if (!RunActive())
        return;
    // The request is set before the resume, so that the run wakes up seeing
    // it; every suspension is lifted (a pause made just before an error
    // pause counts twice), or the run could not end.
    CurrentRun->Terminate();
    while (CurrentRun->Suspended())
        CurrentRun->Resume();
    AppendLog(Timestamp() + QStringLiteral(": Останавливаем работу"));
    ProgressBar->setValue(0);
}

// Closing during a run stops it and lets it finish its files, for a while.
// The window's events keep running meanwhile: the run's notifications need
// them.
void TMainForm::StopRunAndWait() {
    if (!RunActive())
        return;
    StopButtonClick();
    QElapsedTimer waited;
    waited.start();
    while (RunActive() && waited.elapsed() < kCloseWaitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

// Batch mode: START as soon as the lists are loaded and the selection is
// applied.
void TMainForm::StartBatchRun(bool loaded) {
    if (!loaded) {
        QCoreApplication::exit(kExitLoadingFailed);
        return;
    }
    StartButtonClick();
    if (!CurrentRun)
        QCoreApplication::exit(kExitStartRefused);
}
