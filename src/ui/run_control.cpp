// START, pause, stop and the automatic resume after an error pause.

#include "ui/main_form.h"

#include "core/config.h"
#include "core/platform.h"
#include "run/scraper.h"
#include "run/standard_outputs.h"
#include "ui/window_view.h"

#include <QCheckBox>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

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
    RunRequest request = SelectedRequest();
    if (const QString refusal = SelectionRefusal(request); !refusal.isEmpty()) {
        AppendLog(refusal);
        return;
    }
    StartButton->setEnabled(false);
    // An interrupted run of the same hosts and selection may be continued.
    if (const QString refusal = ChooseRunToContinue(request, ProgramFolder(), AskToContinue);
        !refusal.isEmpty()) {
        AppendLog(refusal);
        StartButton->setEnabled(true);
        return;
    }
    RunOutputs outputs = StandardOutputs(request, ProgramFolder());
    auto run = std::make_shared<TScraper>(std::move(request), *view_, std::move(outputs));
    CurrentRun = run;
    // The choice holds for the run started; the box waits for its end.
    XlsxCheckBox->setEnabled(false);
    run->Start();
}

// What a run of the current selection is asked to do; the lists are read
// here, once, on the window thread.
RunRequest TMainForm::SelectedRequest() const {
    RunRequest request;
    request.webHost = Config().WebHost;
    request.apiHost = Config().ApiHost;
    request.categoryIds = CategoryIds;
    request.limit = kRunLimit;
    request.openResult = !Config().NoOpen;
    request.workbook = XlsxCheckBox->isChecked();
    for (int i = 0; i < CatsListBox->count(); ++i) {
        if (CatsListBox->item(i)->isSelected())
            request.categoryRows << CatsListBox->item(i)->text();
    }
    for (int i = 0; i < CitiesListBox->count(); ++i) {
        if (CitiesListBox->item(i)->isSelected())
            request.cityRows << CitiesListBox->item(i)->text();
    }
    return request;
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

// Called on the window thread by a run's end display: a close that waited for
// the run goes on now.
void TMainForm::RunEnded() {
    XlsxCheckBox->setEnabled(true);
    if (closeWhenRunEnds_)
        QTimer::singleShot(0, this, [this] { close(); });
}
