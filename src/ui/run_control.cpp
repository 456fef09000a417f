// START, pause, stop and the automatic resume after an error pause.

#include "ui/main_form.h"

#include "core/config.h"
#include "core/platform.h"
#include "run/batch_progress.h"
#include "run/scraper.h"
#include "run/unfinished_runs.h"

#include <QCoreApplication>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {
constexpr int kRunLimit = 5;
} // namespace

// A run that has shown its end display counts as finished, even while its
// thread is still returning.
bool TMainForm::RunActive() const {
    return CurrentRun && !CurrentRun->Finished() && !CurrentRun->Ended();
}

void TMainForm::StartButtonClick() {
    // One run at a time: a second click handled before the run's first
    // notification (a double click, clicks queued while the window was busy)
    // is refused without a word.
    if (RunActive())
        return;
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
    StartButton->setEnabled(false);
    // An interrupted run of the same hosts and selection may be continued.
    // Batch mode looks for one only when --resume asks, and does not ask.
    QString resume;
    std::int64_t resumeRows = 0;
    std::vector<UntrustedJournal> untrusted;
    bool noRunToResume = false;
    if (!Config().Batch || Config().Resume) {
        const UnfinishedRun found = FindUnfinishedRun(ProgramFolder(), SelectedSettings());
        if (found.inUse) {
            // Two copies writing one run would damage its result file.
            AppendLog(QStringLiteral("Сбор с такими настройками уже идёт в другой копии "
                                     "программы, второй запуск отменён"));
            StartButton->setEnabled(true);
            return;
        }
        untrusted = found.untrusted;
        if (found.journal.isEmpty()) {
            noRunToResume = Config().Batch;
        } else {
            const ContinueAnswer answer =
                Config().Batch ? ContinueAnswer::Continue : AskToContinue(found);
            if (answer == ContinueAnswer::Cancel) {
                AppendLog(QStringLiteral("Запуск отменён"));
                StartButton->setEnabled(true);
                return;
            }
            if (answer == ContinueAnswer::Continue) {
                resume = found.journal;
                resumeRows = found.rows;
            } else {
                RemoveJournal(found.journal); // its result file stays
            }
        }
    }
    auto run = std::make_shared<TScraper>();
    CurrentRun = run;
    run->ResumeJournal = resume;
    run->ResumeRows = resumeRows;
    run->BadJournals = untrusted;
    run->NoRunToResume = noRunToResume;
    run->LogsMemo = LogsMemo;
    run->ProgressBar = ProgressBar;
    run->StartButton = StartButton;
    run->ResumeTimer = ResumeTimer;
    run->CitiesListBox = CitiesListBox;
    run->CatsListBox = CatsListBox;
    run->Label4 = Label4;
    run->Limit = kRunLimit;
    run->CategoryIds = CategoryIds;
    run->OnRunEnded = [this, ended = run.get()](const QString& error) { RunEnded(*ended, error); };
    run->Start();
}

// What a run of the current selection is started with.
RunSettings TMainForm::SelectedSettings() const {
    RunSettings settings;
    settings.webHost = Config().WebHost;
    settings.apiHost = Config().ApiHost;
    settings.categoryIds = CategoryIds;
    for (int i = 0; i < CatsListBox->count(); ++i) {
        if (CatsListBox->item(i)->isSelected())
            settings.categoryRows << CatsListBox->item(i)->text();
    }
    for (int i = 0; i < CitiesListBox->count(); ++i) {
        if (CitiesListBox->item(i)->isSelected())
            settings.cityRows << CitiesListBox->item(i)->text();
    }
    return settings;
}

// The question before continuing an interrupted run; "Да" is the default for
// Enter, and Escape or closing the box cancels the START (only "Нет" starts
// anew and so deletes the interrupted run's journal).
ContinueAnswer AskToContinueRun(QWidget* parent, const UnfinishedRun& run) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Прерванный сбор"),
                    QStringLiteral("Найден прерванный сбор по выбранным городам и категориям: "
                                   "найдено карточек %1, записано строк %2.\n\nПродолжить его?")
                        .arg(run.cards)
                        .arg(run.rows),
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
    box.setDefaultButton(QMessageBox::Yes);
    // Without an escape button of its own the box would take "Нет" for it.
    box.addButton(QMessageBox::Cancel)->hide();
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return ContinueAnswer::Continue;
    case QMessageBox::No:
        return ContinueAnswer::StartAnew;
    default:
        return ContinueAnswer::Cancel;
    }
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

// Called on the window thread by a run's end display. Batch mode exits with
// the run's outcome; a close that waited for the run goes on now.
void TMainForm::RunEnded(const TScraper& run, const QString& logError) {
    if (Config().Batch) {
        BatchStatus().Finish();
        if (!logError.isEmpty()) {
            std::fprintf(stderr, "%s\n", logError.toUtf8().constData());
            std::fflush(stderr);
            QCoreApplication::exit(kExitRunLogNotSaved);
            return;
        }
        QCoreApplication::exit(run.Refused()                            ? kExitStartRefused
                               : run.ErrorReported() || run.PagesLost() ? kExitRunError
                                                                        : kExitRunEnded);
        return;
    }
    if (closeWhenRunEnds_)
        QTimer::singleShot(0, this, [this] { close(); });
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
