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
#include "run/run_files.h"
#include "text/extract.h"
#include "text/html_text.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
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

// Writes `text` to `path`, a new file, every line ended by CR LF, as UTF-8.
// Returns the system's reason when the file cannot be written, else an empty
// text.
QString SaveLog(const QString& text, const QString& path) {
    QByteArray bytes;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        bytes += line.toUtf8();
        bytes += "\r\n";
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        file.write(bytes) != bytes.size() || !file.flush()) {
        const QString reason = file.errorString();
        return reason.isEmpty() ? QStringLiteral("Unknown error") : reason;
    }
    return {};
}

// The selected rows of a list, counted on the window thread.
std::size_t CountSelected(QListWidget* list) {
    std::size_t count = 0;
    RunOnWindowThread([&] {
        for (int i = 0; i < list->count(); ++i)
            count += list->item(i)->isSelected() ? 1 : 0;
    });
    return count;
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
    BatchStatus().Update(BatchFigures());
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
    const QString path = RunLogPath();
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
    tick_ = FreeRunTick(ProgramFolder(), Tick());
    tickChosen_ = true;
    webHost_ = Config().WebHost;
    decimalSeparator_ = DecimalSeparator();
    CursorHourGlass = true;
    Notify(&TScraper::PostRunState);

    try {
        Log(QStringLiteral("Начинаем работу..."));
        for (const UntrustedJournal& bad : BadJournals) {
            const SetAsideOutcome outcome = SetAsideJournal(bad.path);
            if (!outcome.inUse)
                LogSetAside(bad.path, bad.problem, outcome);
        }
        if (NoRunToResume)
            Log(QStringLiteral("Прерванный сбор с такими настройками не найден, начинаем новый"));
        const std::int32_t seeded =
            static_cast<std::int32_t>(CountSelected(CitiesListBox) * CountSelected(CatsListBox));
        const Resumed resumed = ResumeJournal.isEmpty() ? Resumed::StartAnew : ContinueJournal();
        if (resumed == Resumed::InUse)
            throw JournalInUseError("refused");
        if (resumed == Resumed::StartAnew)
            Seed();
        firmscounter = static_cast<std::int32_t>(CardQueue.size());
        Notify(&TScraper::PostFoundCount);

        PhaseEnd end = PhaseEnd::Done;
        try {
            ProgressBarPosition = handledItems_;
            ProgressBarMax = seeded;
            // A continued run fetches again the listing pages it could not
            // load before, also after its hand-over.
            if (!handedOver_ || !ListingQueue.empty())
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
    } catch (const JournalInUseError&) {
        // Another copy of the program took the journal between the search
        // and now: this run collects nothing.
        refused_.store(true);
        Log(QStringLiteral("Сбор с такими настройками уже идёт в другой копии программы, второй "
                           "запуск отменён"));
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
    gone_ = SeenSet{};
    journal_.reset();
    CursorHourGlass = false;
    // The last notification: the run has nothing left to do after it, so it
    // does not stop at the suspend gate (a pause made now would hold a run
    // that has already shown its end).
    RunOnWindowThread([this] { PostRunState(); });
}

// A stop that came before the thread began ends the run at its first check,
// as any early stop does: the window still gets its start and end displays,
// its run log file and START back.
void TScraper::TerminatedBeforeStart() {
    Execute();
}

// One listing URL per selected pair, the city order outermost. The lists are
// read on the window thread, in one snapshot. The run's journal starts here.
void TScraper::Seed() {
    RunSettings settings;
    settings.webHost = webHost_;
    settings.apiHost = Config().ApiHost;
    settings.categoryIds = CategoryIds;
    RunOnWindowThread([&] {
        for (int i = 0; i < CitiesListBox->count(); ++i) {
            if (CitiesListBox->item(i)->isSelected())
                settings.cityRows.append(CitiesListBox->item(i)->text());
        }
        for (int i = 0; i < CatsListBox->count(); ++i) {
            if (CatsListBox->item(i)->isSelected())
                settings.categoryRows.append(CatsListBox->item(i)->text());
        }
    });
    ListingQueue = SeedListingQueue(webHost_, settings.cityRows, settings.categoryRows);
    try {
        journal_ = RunJournal::Create(ProgramFolder(), tick_, settings);
        tick_ = journal_->Tick();
    } catch (const std::exception& e) {
        journal_.reset();
        Log(QStringLiteral("Внимание: журнал сбора не создан (%1), прерванный сбор нельзя будет "
                           "продолжить")
                .arg(ErrorText(e)));
    }
}

// Continues the interrupted run of ResumeJournal: its queues, its cards and
// its phase, rebuilt from the journal, which the run takes over first (so
// that no other copy of the program writes it meanwhile). StartAnew when the
// journal cannot be trusted: it is set aside. InUse when another copy holds
// it.
TScraper::Resumed TScraper::ContinueJournal() {
    std::unique_ptr<RunJournal> taken;
    JournalRead read;
    try {
        taken = RunJournal::Take(ResumeJournal);
        read = ReadJournalFile(ResumeJournal);
        if (read.trusted)
            taken->CutTo(read.length);
    } catch (const JournalInUseError&) {
        return Resumed::InUse;
    } catch (const std::exception& e) {
        read.trusted = false;
        read.problem = ErrorText(e);
    }
    if (!read.trusted) {
        LogSetAside(ResumeJournal, read.problem,
                    taken ? taken->SetAside() : SetAsideJournal(ResumeJournal));
        return Resumed::StartAnew;
    }
    journal_ = std::move(taken);
    JournalState& state = read.state;
    ListingQueue = std::move(state.listingQueue);
    QueuedRequests = std::move(state.queuedSearches);
    CardQueue = std::move(state.cardQueue);
    Seen = std::move(state.seen);
    gone_ = std::move(state.gone);
    handledItems_ = state.handledItems;
    handedOver_ = state.handedOver;
    resultPath_ = state.resultPath;

    const QString found = QString::number(CardQueue.size());
    if (resultPath_.isEmpty()) {
        Log(QStringLiteral("Продолжаем прерванный сбор: найдено карточек %1, продолжаем поиск")
                .arg(found));
    } else {
        Log(QStringLiteral("Продолжаем прерванный сбор: файл %1, записано карточек %2 из %3")
                .arg(resultPath_)
                .arg(ResumeRows)
                .arg(found));
    }
    return Resumed::Continued;
}

// An untrusted journal: one line in the log, saying truthfully whether it was
// renamed beside itself (so that nothing of the user's is lost).
void TScraper::LogSetAside(const QString& journalPath, const QString& problem,
                           const SetAsideOutcome& outcome) {
    if (outcome.inUse)
        return;
    const QString why = problem.isEmpty() ? QString() : QStringLiteral(" (") + problem + u')';
    if (outcome.renamed) {
        Log(QStringLiteral("Журнал прерванного сбора %1 не читается%2, начинаем заново; он "
                           "сохранён как %3")
                .arg(journalPath, why, outcome.target));
    } else {
        Log(QStringLiteral("Журнал прерванного сбора %1 не читается%2 и не переименован: %3; "
                           "начинаем заново")
                .arg(journalPath, why, outcome.error));
    }
}

// Once per run: the journal stopped at a failed write; what it holds stays
// usable, but the rest of the run is not in it.
void TScraper::JournalFailed() {
    if (journal_ == nullptr || journal_->Failed().isEmpty() || journalWarned_)
        return;
    journalWarned_ = true;
    Log(QStringLiteral("Внимание: журнал сбора не записывается (%1), прерванный сбор можно будет "
                       "продолжить только с этого места")
            .arg(journal_->Failed()));
}

// At most once a second: the journal and the result file to the disk, so
// that a power cut costs about a second of progress.
void TScraper::SyncFiles() {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastSync_ < std::chrono::seconds(1))
        return;
    lastSync_ = now;
    if (journal_)
        journal_->Sync();
    if (resultFile_ != nullptr)
        resultFile_->Sync();
}

// The polling loop both phases share: per pass start at most one worker,
// collect at most one finished worker, and end when nothing is queued,
// running or waiting. With OnError::Continue an error of a pass is shown
// (with its pause) and costs only the item it came from; otherwise it ends
// the phase.
template <typename Queue>
TScraper::PhaseEnd TScraper::RunPhase(Queue& queue, int sleepAfterStartMs,
                                      const FinishedHandler& handle, OnError onError) {
    const auto lists = std::make_shared<WorkerLists>();
    gate_.SetCeiling(std::chrono::milliseconds(sleepAfterStartMs + kPassSleepMs));
    bool done = false;
    while (!Terminated() && !done) {
        CheckSuspended();
        try {
            StartNextWorker(queue, *lists, sleepAfterStartMs);
            CollectFinishedWorker(*lists, handle);
            for (const QString& line : gate_.Update(std::chrono::steady_clock::now()))
                Log(line);
        } catch (const std::exception& e) {
            if (onError == OnError::EndPhase)
                throw;
            PostError(e);
        }
        done = lists->Idle() && queue.empty();
        SyncFiles();
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
// workers are running or the gate holds the item back; a blank item counts
// for the progress and is dropped.
template <typename Queue>
void TScraper::StartNextWorker(Queue& queue, WorkerLists& lists, int sleepAfterStartMs) {
    if (lists.RunningCount() >= static_cast<std::size_t>(Limit) || queue.empty() ||
        !gate_.MayStart(queue.front(), std::chrono::steady_clock::now()))
        return;
    const QString item = std::move(queue.front());
    queue.pop_front();
    ++ProgressBarPosition;
    Notify(&TScraper::PostProgress);
    if (IsBlankWorkItem(item))
        return;
    const auto worker = std::make_shared<TScrapingThread2>();
    worker->Backoff = gate_.Backoff();
    lists.Start(worker, item);
    gate_.Started(std::chrono::steady_clock::now());
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
    // What the item added, for the journal; an item whose answer raised an
    // error is handled all the same (it is not fetched again).
    const std::size_t queuedBefore = ListingQueue.size();
    const std::size_t cardsBefore = CardQueue.size();
    const auto record = [&] {
        if (!journal_)
            return;
        journal_->ItemHandled(
            item, std::vector<QString>(ListingQueue.begin() + queuedBefore, ListingQueue.end()),
            std::vector<QString>(CardQueue.begin() + cardsBefore, CardQueue.end()));
        JournalFailed();
    };
    Log(FinishedItemLogLine(item, worker.statusText));
    if (worker.result != 1) {
        // Not recorded as handled: a continued run fetches it again.
        summary_.ListingPageLost();
        pagesLost_.store(true);
        return;
    }
    ResponseOutcome outcome;
    try {
        const QString layoutWarning = layoutWatch_.ListingAnswered(item, response);
        if (!layoutWarning.isEmpty())
            Log(layoutWarning);
        outcome = HandleListingResponse(item, response, webHost_, CategoryIds, ListingQueue,
                                        QueuedRequests, CardQueue, Seen);
    } catch (...) {
        record();
        throw;
    }
    record();
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
    if (journal_ && !handedOver_) {
        journal_->HandedOver();
        JournalFailed();
    }
    handedOver_ = true;
    if (CardQueue.empty()) {
        for (const QString& line : summary_.LostPagesLines())
            Log(line);
        // Nothing is left to continue, unless pages were lost.
        if (journal_ && summary_.LostPages() == 0)
            journal_->Remove();
        return;
    }
    RunPhase2();
}

void TScraper::RunPhase2() {
    ResultFile file;
    bool created = false;
    resultFile_ = &file;
    try {
        const std::int32_t total = static_cast<std::int32_t>(CardQueue.size());
        ProgressBarPosition = 0;
        if (resultPath_.isEmpty()) {
            OpenNewResultFile(file);
        } else {
            // A continued run goes on writing the file its journal names.
            try {
                const ResultRows rows = file.Continue(resultPath_);
                Log(QStringLiteral("Данные будут записываться в файл ") + file.Path());
                const std::int64_t gone = static_cast<std::int64_t>(gone_.size());
                ProgressBarPosition = SkipDoneCards(rows.urls);
                summary_.EarlierRows(rows.count, rows.filled);
                summary_.EarlierGone(gone);
            } catch (const ContinueRefused& refused) {
                // Left as it is; every card of the run goes into a new file,
                // as without a journal.
                gone_ = SeenSet{};
                const QString old = QFileInfo(resultPath_).absoluteFilePath();
                OpenNewResultFile(file, [&](const QString& next) {
                    Log(QStringLiteral("Файл %1 нельзя продолжить (%2), карточки пишем в новый "
                                       "файл %3")
                            .arg(old, refused.reason, next));
                });
            }
        }
        created = true;
        ProgressBarMax = total;
        const PhaseEnd end = RunPhase(
            CardQueue, kPhase2SleepAfterStartMs,
            [this, &file](TScrapingThread2& w) { HandleCardWorker(w, file); }, OnError::EndPhase);
        LogSummary();
        if (end == PhaseEnd::Done) {
            // Every card went through: nothing is left to continue, unless
            // listing pages were lost.
            if (journal_ && summary_.LostPages() == 0)
                journal_->Remove();
            result = QStringLiteral("ok");
            Notify(&TScraper::PostResult);
        }
    } catch (const std::exception& e) {
        CardQueue.clear();
        LogSummary();
        // The error is shown (with its pause), and then "ok" as well: the
        // rows written so far are the run's result and the file is finished
        // as on a normal end.
        PostError(e);
        result = QStringLiteral("ok");
        Notify(&TScraper::PostResult);
    }

    // The finish, on every way out: a file that was never created has
    // nothing to close or open.
    resultFile_ = nullptr;
    file.Sync();
    file.Close();
    if (journal_)
        journal_->Sync();
    if (created) {
        Log(QStringLiteral("Открываем файл с результатами"));
        if (!Config().Batch && !Config().NoOpen)
            OpenWithDesktop(file.Path());
    }
    ProgressBarPosition = 0;
    Notify(&TScraper::PostProgress);
}

// A new result file named by the run's tick (the next free one when a file of
// that name appeared meanwhile), named in the journal before it exists, so
// that a continued run never makes a second file. `announce` logs the path
// first; by default "Данные будут записываться в файл <path>".
QString TScraper::OpenNewResultFile(ResultFile& file,
                                    const std::function<void(const QString&)>& announce) {
    for (;;) {
        if (QFileInfo(ProgramFolder() + ResultFileName(tick_)).exists())
            tick_ = FreeRunTick(ProgramFolder(), tick_ + 1);
        const QString path = QFileInfo(ProgramFolder() + ResultFileName(tick_)).absoluteFilePath();
        if (announce)
            announce(path);
        Log(QStringLiteral("Данные будут записываться в файл ") + path);
        if (journal_) {
            journal_->ResultFile(path);
            JournalFailed();
        }
        try {
            file.Open(path);
            resultPath_ = path;
            return path;
        } catch (const ResultFileExists&) {
            tick_ = FreeRunTick(ProgramFolder(), tick_ + 1); // taken in between
        }
    }
}

// A continued run fetches only the cards without a row in its file (each URL
// as its field is written, compared as SeenSet compares) and not gone for
// good; returns how many it skipped.
std::int32_t TScraper::SkipDoneCards(const std::vector<QString>& rowUrls) {
    SeenSet done;
    for (const QString& url : rowUrls)
        done.Insert(url);
    const std::size_t before = CardQueue.size();
    CardQueue.Filter([&](QStringView url) {
        return !done.Contains(CsvFieldText(url.toString())) && !gone_.Contains(url);
    });
    return static_cast<std::int32_t>(before - CardQueue.size());
}

// The run log's path: named by the run's tick unless a log of that name
// exists already (then the next free tick).
QString TScraper::RunLogPath() {
    const QString folder = ProgramFolder();
    if (!tickChosen_) {
        tick_ = FreeRunTick(folder, Tick());
        tickChosen_ = true;
    }
    const QFileInfo log(folder + LogFileName(tick_));
    if (log.exists() || log.isSymLink())
        tick_ = FreeRunTick(folder, tick_ + 1);
    return folder + LogFileName(tick_);
}

void TScraper::HandleCardWorker(TScrapingThread2& worker, ResultFile& file) {
    const QString page = StreamToText(worker.html);
    worker.html.clear();
    const QString url = worker.url;
    Log(CardLogLine(url, worker.statusText));
    if (worker.result == 1) {
        const CardRecord card = ExtractCard(page, url, decimalSeparator_);
        file.WriteCard(card);
        summary_.RowWritten(card);
        for (const QString& line : layoutWatch_.RowWritten(card))
            Log(line);
        return;
    }
    summary_.CardFailed(worker.failure);
    if (worker.failure == FetchFailure::NotFound && journal_) {
        journal_->Gone(url);
        JournalFailed();
    }
}

// Once per phase 2, before its end lines (or its error's): what it found,
// wrote and could not download, and how full the columns are.
void TScraper::LogSummary() {
    if (summaryLogged_)
        return;
    summaryLogged_ = true;
    for (const QString& line : summary_.Lines(firmscounter))
        Log(line);
}

// The figures of the batch status line, read on the window thread while the
// run waits for a notification.
StatusFigures TScraper::BatchFigures() const {
    StatusFigures figures;
    figures.phase = handedOver_ ? 2 : 1;
    figures.done = ProgressBarPosition;
    figures.total = handedOver_
                        ? ProgressBarMax
                        : ProgressBarPosition + static_cast<std::int64_t>(ListingQueue.size());
    figures.count = handedOver_ ? summary_.Rows() : firmscounter;
    return figures;
}
