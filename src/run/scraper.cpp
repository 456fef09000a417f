#include "run/scraper.h"

#include "core/config.h"
#include "core/platform.h"
#include "net/fetch_worker.h"
#include "run/card_extractor.h"
#include "run/listing_handler.h"
#include "run/log_output.h"
#include "run/progress_text.h"
#include "run/requests.h"
#include "run/result_file.h"
#include "text/html_text.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <stdexcept>
#include <thread>

std::uint32_t LastProgressTick = 0;

namespace {

constexpr int kPhase1SleepAfterStartMs = 50;
constexpr int kPhase2SleepAfterStartMs = 30;
constexpr int kPassSleepMs = 10;
constexpr int kResumeAfterErrorMs = 30000;

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint32_t Tick() {
    return TScraper::TickSource != nullptr ? TScraper::TickSource() : TickCount();
}

QString ErrorText(const std::exception& e) {
    return QString::fromUtf8(e.what());
}

// Writes `text` to `path`, every line ended by CR LF, as UTF-8. Returns the
// system's reason when the file cannot be written, else an empty text.
QString SaveLog(const QString& text, const QString& path) {
    QByteArray bytes;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        bytes += line.toUtf8();
        bytes += "\r\n";
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size() || !file.flush()) {
        const QString reason = file.errorString();
        return reason.isEmpty() ? QStringLiteral("Unknown error") : reason;
    }
    return {};
}

void CallHook(TScraper& run, const char* notification) {
    if (TScraper::NotificationHook != nullptr)
        TScraper::NotificationHook(run, notification);
}

} // namespace

TScraper::~TScraper() = default;

// ---- Notifications (window thread) ----

void TScraper::PostLogLine() {
    AppendLogLine(LogsMemo, Timestamp() + QStringLiteral(": ") + LogMessageText);
    CallHook(*this, "PostLogLine");
}

void TScraper::PostFoundCount() {
    Label4->setText(QStringLiteral("Найдено карточек: ") + QString::number(firmscounter));
    QCoreApplication::processEvents();
    CallHook(*this, "PostFoundCount");
}

void TScraper::PostProgress() {
    if (ProgressDue(Tick(), LastProgressTick)) {
        const ProgressValues v = ClampProgress(ProgressBarPosition, ProgressBarMax);
        ProgressBar->setMaximum(v.maximum);
        ProgressBar->setValue(v.position);
        const int p = ProgressBar->value();
        const int m = ProgressBar->maximum();
        ProgressBar->setToolTip(ProgressHint(p, m));
        QCoreApplication::processEvents();
        LastProgressTick = Tick();
    }
    CallHook(*this, "PostProgress");
}

void TScraper::PostRunState() {
    if (CursorHourGlass) {
        LogsMemo->clear();
        AppendLogLine(LogsMemo,
                      Timestamp() +
                          QStringLiteral(": Начинаем работу по заданным городам и категориям"));
        CitiesListBox->setEnabled(false);
        CatsListBox->setEnabled(false);
        StartButton->setEnabled(false);
        CallHook(*this, "PostRunState");
        return;
    }
    ended_.store(true);
    const QString path = ProgramFolder() + TickFileName("log-%d.txt", Tick());
    // The end line is shown only once the file holding it has been written;
    // otherwise the last line says why it was not.
    const QString endLine =
        Timestamp() + QStringLiteral(": Работа завершена, лог записан в ") + path;
    const QString reason = SaveLog(LogsMemo->toPlainText() + QLatin1Char('\n') + endLine, path);
    if (reason.isEmpty())
        AppendLogLine(LogsMemo, endLine);
    else
        AppendLogLine(LogsMemo, Timestamp() +
                                    QStringLiteral(": Ошибка: не удалось записать лог в ") + path +
                                    QStringLiteral(": ") + reason);
    CitiesListBox->setEnabled(true);
    CatsListBox->setEnabled(true);
    StartButton->setEnabled(true);
    if (OnRunEnded)
        OnRunEnded(reason.isEmpty()
                       ? QString()
                       : QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason));
    CallHook(*this, "PostRunState");
}

void TScraper::PostResult() {
    if (!IsErrorResult(result)) {
        AppendLogLine(LogsMemo, Timestamp() + QStringLiteral(": Сбор данных завершен"));
        CallHook(*this, "PostResult");
        return;
    }
    errorReported_.store(true);
    AppendLogLine(LogsMemo, Timestamp() + QStringLiteral(": Ошибка: ") + ErrorResultLine(result));
    // A run that has been told to stop ends now: an error that reaches the
    // window after the stop would otherwise hold it for another 30 seconds.
    if (!Terminated()) {
        AppendLogLine(LogsMemo, Timestamp() + QStringLiteral(": Включаем паузу на 30 секунд"));
        ArmResumeTimer();
        // The run stays at its gate, inside this notification call, until the
        // timer or the pause button resumes it. A run paused already (pause
        // pressed just before the error) is paused once, not twice, so that
        // one resume ends the pause as the log says; a stop made meanwhile
        // (from inside the timer's arming) leaves it running to its end.
        if (!Terminated() && !Suspended())
            Suspend();
    }
    CallHook(*this, "PostResult");
}

void TScraper::ArmResumeTimer() {
    ResumeTimer->setInterval(kResumeAfterErrorMs);
    ResumeTimer->start();
    CallHook(*this, "ArmResumeTimer");
}

// ---- The run (run thread) ----

void TScraper::Notify(void (TScraper::*notification)()) {
    Synchronize([this, notification] { (this->*notification)(); });
}

void TScraper::Log(const QString& text) {
    LogMessageText = text;
    Notify(&TScraper::PostLogLine);
}

void TScraper::PostError(const std::exception& error) {
    result = QStringLiteral("ERROR_") + ErrorText(error);
    Notify(&TScraper::PostResult);
}

void TScraper::Execute() {
    LastProgressTick = 0;
    webHost_ = Config().WebHost;
    decimalSeparator_ = DecimalSeparator();
    CursorHourGlass = true;
    Notify(&TScraper::PostRunState);

    try {
        Log(QStringLiteral("Начинаем работу..."));
        Seed();
        firmscounter = 0;
        Notify(&TScraper::PostFoundCount);

        PhaseEnd end = PhaseEnd::Done;
        try {
            ProgressBarPosition = 0;
            ProgressBarMax = static_cast<std::int32_t>(ListingQueue.size());
            end = RunPhase(
                ListingQueue, kPhase1SleepAfterStartMs,
                [this](TScrapingThread2& w) { HandleListingWorker(w); }, OnError::Continue);
        } catch (const std::exception& e) {
            // Only an error that could not even be shown ends phase 1 here.
            ListingQueue.clear();
            PostError(e);
        }
        if (end == PhaseEnd::Done)
            StartCardPhase();
    } catch (...) {
        // An error outside the two guarded phases ends the run through the
        // final clean-up alone; no result is posted for it.
        errorReported_.store(true);
        ReportEscaped("the run", std::current_exception());
    }

    ListingQueue = {};
    CardQueue = {};
    Seen = SeenSet{};
    QueuedRequests = {};
    CursorHourGlass = false;
    // The last notification: the run has nothing left to do after it, so it
    // does not stop at the suspend gate (a pause made now would hold a run
    // that has already shown its end).
    RunOnWindowThread([this] { PostRunState(); });
}

// One listing URL per selected pair, the city order outermost. The lists are
// read on the window thread, in one snapshot.
void TScraper::Seed() {
    QStringList cities;
    QStringList categories;
    RunOnWindowThread([&] {
        for (int i = 0; i < CitiesListBox->count(); ++i) {
            if (CitiesListBox->item(i)->isSelected())
                cities.append(CitiesListBox->item(i)->text());
        }
        for (int i = 0; i < CatsListBox->count(); ++i) {
            if (CatsListBox->item(i)->isSelected())
                categories.append(CatsListBox->item(i)->text());
        }
    });
    for (const QString& city : cities) {
        const QString encoded = PercentEncodeCity(city);
        for (const QString& category : categories)
            ListingQueue.push_back(ListingUrl(webHost_, CategorySlug(category), encoded));
    }
}

// The polling loop both phases share: per pass start at most one worker,
// collect at most one finished worker, and end when nothing is queued,
// running or waiting. With OnError::Continue an error of a pass is shown
// (with its pause) and costs only the item it came from; otherwise it ends
// the phase.
TScraper::PhaseEnd TScraper::RunPhase(WorkQueue& queue, int sleepAfterStartMs,
                                      const FinishedHandler& handle, OnError onError) {
    const auto lists = std::make_shared<WorkerLists>();
    bool done = false;
    while (!Terminated() && !done) {
        CheckSuspended();
        try {
            StartNextWorker(queue, *lists, sleepAfterStartMs);
            CollectFinishedWorker(*lists, handle);
        } catch (const std::exception& e) {
            if (onError == OnError::EndPhase)
                throw;
            PostError(e);
        }
        done = lists->Idle() && queue.empty();
        SleepMs(kPassSleepMs);
    }
    if (!Terminated())
        return PhaseEnd::Done;
    // Stop: running workers are told to end; nobody waits for them, and the
    // lists live on for as long as a worker still holds them.
    lists->TerminateRunning();
    return PhaseEnd::Stopped;
}

// Takes the next item off `queue` and starts a worker for it, unless Limit
// workers are running; a blank item counts for the progress and is dropped.
void TScraper::StartNextWorker(WorkQueue& queue, WorkerLists& lists, int sleepAfterStartMs) {
    if (lists.RunningCount() >= static_cast<std::size_t>(Limit) || queue.empty())
        return;
    const QString item = std::move(queue.front());
    queue.pop_front();
    ++ProgressBarPosition;
    Notify(&TScraper::PostProgress);
    if (IsBlankWorkItem(item))
        return;
    lists.Start(std::make_shared<TScrapingThread2>(), item);
    SleepMs(sleepAfterStartMs);
}

// Handles the worker that finished earliest, if any, and then lets it go
// (waiting for its thread to end); an error of the handling is raised after.
void TScraper::CollectFinishedWorker(WorkerLists& lists, const FinishedHandler& handle) {
    std::shared_ptr<TScrapingThread2> worker = lists.TakeFinished();
    if (!worker)
        return;
    std::exception_ptr error;
    try {
        handle(*worker);
    } catch (...) {
        error = std::current_exception();
    }
    worker->WaitFor();
    worker.reset();
    if (error)
        std::rethrow_exception(error);
}

void TScraper::HandleListingWorker(TScrapingThread2& worker) {
    const QString response = StreamToText(worker.html);
    worker.html.clear();
    const QString item = worker.url;
    Log(FinishedItemLogLine(item, worker.statusText));
    if (worker.result != 1)
        return;
    const ResponseOutcome outcome = HandleListingResponse(
        item, response, webHost_, CategoryIds, ListingQueue, QueuedRequests, CardQueue, Seen);
    for (const QString& line : outcome.logLines)
        Log(line);
    firmscounter = outcome.firmscounter;
    Notify(&TScraper::PostFoundCount);
}

// The end of phase 1: the card count, then phase 2 when there are cards.
void TScraper::StartCardPhase() {
    ProgressBarPosition = 0;
    Notify(&TScraper::PostProgress);
    Log(QStringLiteral("Найдено карточек: ") + QString::number(CardQueue.size()));
    if (CardQueue.empty())
        return;
    RunPhase2();
}

void TScraper::RunPhase2() {
    ResultFile file;
    bool created = false;
    try {
        const QString path = ProgramFolder() + ResultFileName(Tick());
        Log(QStringLiteral("Данные будут записываться в файл ") + path);
        file.Open(path);
        created = true;
        ProgressBarPosition = 0;
        ProgressBarMax = static_cast<std::int32_t>(CardQueue.size());
        const PhaseEnd end = RunPhase(
            CardQueue, kPhase2SleepAfterStartMs,
            [this, &file](TScrapingThread2& w) { HandleCardWorker(w, file); }, OnError::EndPhase);
        if (end == PhaseEnd::Done) {
            result = QStringLiteral("ok");
            Notify(&TScraper::PostResult);
        }
    } catch (const std::exception& e) {
        CardQueue.clear();
        // The error is shown (with its pause), and then "ok" as well: the
        // rows written so far are the run's result and the file is finished
        // as on a normal end.
        PostError(e);
        result = QStringLiteral("ok");
        Notify(&TScraper::PostResult);
    }

    // The finish, on every way out: a file that was never created has
    // nothing to close or open.
    file.Close();
    if (created) {
        Log(QStringLiteral("Открываем файл с результатами"));
        if (!Config().Batch && !Config().NoOpen)
            OpenWithDesktop(file.Path());
    }
    ProgressBarPosition = 0;
    Notify(&TScraper::PostProgress);
}

void TScraper::HandleCardWorker(TScrapingThread2& worker, ResultFile& file) {
    const QString page = StreamToText(worker.html);
    worker.html.clear();
    const QString url = worker.url;
    Log(CardLogLine(url, worker.statusText));
    if (worker.result == 1)
        file.WriteCard(ExtractCard(page, url, decimalSeparator_));
}
