#include "run/scraper.h"

#include "core/platform.h"
#include "net/fetch_worker.h"
#include "net/worker_lists.h"
#include "site/card_extractor.h"
#include "site/listing_handler.h"
#include "site/requests.h"
#include "store/result_file.h"
#include "store/run_files.h"
#include "store/run_journal.h"
#include "text/html_text.h"

#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <stdexcept>
#include <thread>

std::uint32_t LastProgressTick = 0;

namespace {

constexpr int kPhase1SleepAfterStartMs = 50;
constexpr int kPhase2SleepAfterStartMs = 30;
constexpr int kPassSleepMs = 10;

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

QString ErrorText(const std::exception& e) {
    return QString::fromUtf8(e.what());
}

} // namespace

TScraper::TScraper(RunRequest request, RunEvents& events, RunOutputs outputs)
    : Limit(request.limit), request_(std::move(request)), events_(events),
      outputs_(std::move(outputs)) {}

TScraper::~TScraper() = default;

std::uint32_t TScraper::Tick() {
    return TickSource != nullptr ? TickSource() : TickCount();
}

// ---- Notifications ----

void TScraper::Notify(const char* name, const std::function<void()>& show) {
    Synchronize([&] {
        show();
        if (NotificationHook != nullptr)
            NotificationHook(*this, name);
    });
}

void TScraper::Log(const QString& text) {
    LogMessageText = text;
    Notify("PostLogLine", [this] { events_.PostLogLine(LogMessageText); });
}

void TScraper::ShowFoundCount() {
    Notify("PostFoundCount", [this] { events_.PostFoundCount(firmscounter); });
}

void TScraper::ShowProgress() {
    Notify("PostProgress",
           [this] { events_.PostProgress(ProgressBarPosition, ProgressBarMax, BatchFigures()); });
}

// The result, and after an error the 30-second pause: the run stays at its
// gate, inside this notification, until the timer or the pause button
// resumes it. A run that has been told to stop is not paused: an error that
// reaches the window after the stop would otherwise hold it for another 30
// seconds. A run paused already (pause pressed just before the error) is
// paused once, not twice, so that one resume ends the pause as the log says;
// a stop made meanwhile (from inside the timer's arming) leaves it running.
void TScraper::PostResult(RunOutcome outcome) {
    result = outcome.kind == RunOutcome::Kind::Ok ? QStringLiteral("ok")
                                                  : QStringLiteral("ERROR_") + outcome.text;
    Notify("PostResult", [this, &outcome] {
        if (outcome.kind == RunOutcome::Kind::Error) {
            ending_.errorShown = true;
            outcome.pauses = !Terminated();
        }
        events_.PostResult(outcome);
        if (outcome.pauses) {
            events_.ArmResumeTimer();
            if (NotificationHook != nullptr)
                NotificationHook(*this, "ArmResumeTimer");
            if (!Terminated() && !Suspended())
                Suspend();
        }
    });
}

void TScraper::PostError(const std::exception& error) {
    PostResult({RunOutcome::Kind::Error, ErrorText(error), false});
}

void TScraper::PostOk() {
    PostResult({RunOutcome::Kind::Ok, {}, false});
}

// ---- The run ----

void TScraper::Execute() {
    LastProgressTick = 0;
    tick_ = FreeRunTick(ProgramFolder(), Tick());
    tickChosen_ = true;
    started_ = QDateTime::currentDateTime();
    decimalSeparator_ = DecimalSeparator();
    Notify("PostRunState", [this] { events_.PostRunState(true, ending_); });

    try {
        Log(QStringLiteral("Начинаем работу..."));
        for (const UntrustedJournal& bad : request_.badJournals)
            LogSetAside(bad.path, bad.problem, SetAsideJournal(bad.path));
        if (request_.noRunToResume)
            Log(QStringLiteral("Прерванный сбор с такими настройками не найден, начинаем новый"));
        const std::int32_t seeded =
            static_cast<std::int32_t>(request_.cityRows.size() * request_.categoryRows.size());
        bool handedOver = false;
        const Resumed resumed =
            request_.resumeJournal.isEmpty() ? Resumed::StartAnew : ContinueJournal();
        if (resumed == Resumed::InUse)
            throw JournalInUseError("refused");
        if (resumed == Resumed::StartAnew)
            Seed();
        else
            handedOver = Stage() == RunStage::Cards;
        BeginOutputs(resumed == Resumed::Continued);
        firmscounter = static_cast<std::int32_t>(CardQueue.size());
        ShowFoundCount();

        PhaseEnd end = PhaseEnd::Done;
        try {
            ProgressBarPosition = handledItems_;
            ProgressBarMax = seeded;
            // A continued run fetches again the listing pages it could not
            // load before, also after its hand-over.
            if (!handedOver || !ListingQueue.empty()) {
                SetStage(RunStage::Listing);
                end = RunPhase(
                    ListingQueue, kPhase1SleepAfterStartMs,
                    [this](TScrapingThread2& w) { HandleListingWorker(w); }, OnError::Continue);
            }
        } catch (const std::exception& e) {
            // Only an error that could not even be shown ends phase 1 here.
            ListingQueue.clear();
            PostError(e);
        }
        if (end == PhaseEnd::Done)
            StartCardPhase(!handedOver);
    } catch (const JournalInUseError&) {
        // Another copy of the program took the journal between the search
        // and now: this run collects nothing.
        ending_.refused = true;
        Log(QStringLiteral("Сбор с такими настройками уже идёт в другой копии программы, второй "
                           "запуск отменён"));
    } catch (...) {
        // An error outside the two guarded phases ends the run through the
        // final clean-up alone; no result is posted for it.
        ending_.errorShown = true;
        ReportEscaped("the run", std::current_exception());
    }

    ListingQueue = {};
    CardQueue = {};
    Seen = SeenSet{};
    QueuedRequests = {};
    gone_ = SeenSet{};
    journal_.reset();
    ending_.pagesLost = summary_.LostPages() > 0;
    // The last notification: the run has nothing left to do after it, so it
    // does not stop at the suspend gate (a pause made now would hold a run
    // that has already shown its end).
    RunOnWindowThread([this] {
        SetStage(RunStage::Ended);
        ending_.logPath = RunLogPath();
        events_.PostRunState(false, ending_);
        if (NotificationHook != nullptr)
            NotificationHook(*this, "PostRunState");
    });
}

// A stop that came before the thread began ends the run at its first check,
// as any early stop does: the window still gets its start and end displays,
// its run log file and START back.
void TScraper::TerminatedBeforeStart() {
    Execute();
}

// One listing URL per selected pair, the city order outermost. The run's
// journal starts here.
void TScraper::Seed() {
    ListingQueue = SeedListingQueue(request_.webHost, request_.cityRows, request_.categoryRows);
    try {
        journal_ = RunJournal::Create(ProgramFolder(), tick_, request_.Settings());
        tick_ = journal_->Tick();
    } catch (const std::exception& e) {
        journal_.reset();
        Log(QStringLiteral("Внимание: журнал сбора не создан (%1), прерванный сбор нельзя будет "
                           "продолжить")
                .arg(ErrorText(e)));
    }
}

// Continues the interrupted run of the request's journal: its queues, its
// cards and its phase, rebuilt from the journal, which the run takes over
// first (so that no other copy of the program writes it meanwhile).
// StartAnew when the journal cannot be trusted: it is set aside. InUse when
// another copy holds it.
TScraper::Resumed TScraper::ContinueJournal() {
    const QString& path = request_.resumeJournal;
    std::unique_ptr<RunJournal> taken;
    JournalRead read;
    try {
        taken = RunJournal::Take(path);
        read = ReadJournalFile(path);
        if (read.trusted)
            taken->CutTo(read.length);
    } catch (const JournalInUseError&) {
        return Resumed::InUse;
    } catch (const std::exception& e) {
        read.trusted = false;
        read.problem = ErrorText(e);
    }
    if (!read.trusted) {
        LogSetAside(path, read.problem, taken ? taken->SetAside() : SetAsideJournal(path));
        return Resumed::StartAnew;
    }
    journal_ = std::move(taken);
    JournalState& state = read.state;
    ListingQueue = std::move(state.listingQueue);
    QueuedRequests = std::move(state.queuedSearches);
    CardQueue = std::move(state.cardQueue);
    Seen = std::move(state.seen);
    gone_ = std::move(state.gone);
    goneUrls_ = std::move(state.goneUrls);
    handledItems_ = state.handledItems;
    if (state.handedOver)
        SetStage(RunStage::Cards);
    resultPath_ = state.resultPath;

    const QString found = QString::number(CardQueue.size());
    if (resultPath_.isEmpty()) {
        Log(QStringLiteral("Продолжаем прерванный сбор: найдено карточек %1, продолжаем поиск")
                .arg(found));
    } else {
        Log(QStringLiteral("Продолжаем прерванный сбор: файл %1, записано карточек %2 из %3")
                .arg(resultPath_)
                .arg(request_.resumeRows)
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
    if (journal_ == nullptr)
        return;
    const QString failure = journal_->FailureNotice();
    if (!failure.isEmpty())
        Log(QStringLiteral("Внимание: журнал сбора не записывается (%1), прерванный сбор можно "
                           "будет продолжить только с этого места")
                .arg(failure));
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
    for (const auto& output : outputs_)
        for (const QString& line : output->Sync())
            Log(line);
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
    ShowProgress();
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
        return;
    }
    ResponseOutcome outcome;
    try {
        const QString layoutWarning = layoutWatch_.ListingAnswered(item, response);
        if (!layoutWarning.isEmpty())
            Log(layoutWarning);
        CardQueueCollector cards(CardQueue, Seen);
        outcome = HandleListingResponse(item, response, request_.webHost, request_.categoryIds,
                                        ListingQueue, QueuedRequests, cards);
    } catch (...) {
        record();
        throw;
    }
    record();
    for (std::size_t i = cardsBefore; i < CardQueue.size(); ++i)
        for (const auto& output : outputs_)
            output->Found(CardQueue[i].toString());
    for (const QString& line : outcome.logLines)
        Log(line);
    firmscounter = outcome.firmscounter;
    ShowFoundCount();
}

// The end of phase 1: the card count, then phase 2 when there are cards.
void TScraper::StartCardPhase(bool recordHandOver) {
    ProgressBarPosition = 0;
    ShowProgress();
    Log(QStringLiteral("Найдено карточек: ") + QString::number(CardQueue.size()));
    if (journal_ && recordHandOver) {
        journal_->HandedOver();
        JournalFailed();
    }
    SetStage(RunStage::Cards);
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
        LogSummary(end == PhaseEnd::Done && summary_.LostPages() == 0 && !ending_.errorShown);
        if (end == PhaseEnd::Done) {
            // Every card went through: nothing is left to continue, unless
            // listing pages were lost.
            if (journal_ && summary_.LostPages() == 0)
                journal_->Remove();
            PostOk();
        }
    } catch (const std::exception& e) {
        CardQueue.clear();
        LogSummary(false);
        // The error is shown (with its pause), and then "ok" as well: the
        // rows written so far are the run's result and the file is finished
        // as on a normal end.
        PostError(e);
        PostOk();
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
        if (request_.openResult)
            OpenWithDesktop(openInstead_.isEmpty() ? file.Path() : openInstead_);
    }
    ProgressBarPosition = 0;
    ShowProgress();
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
        for (const auto& output : outputs_)
            output->RowWritten(card);
        for (const QString& line : layoutWatch_.RowWritten(card))
            Log(line);
        return;
    }
    summary_.CardFailed(worker.failure);
    if (worker.failure != FetchFailure::NotFound)
        return;
    for (const auto& output : outputs_)
        output->Gone(url);
    if (journal_) {
        journal_->Gone(url);
        JournalFailed();
    }
}

// Once per phase 2, before its end lines (or its error's): what it found,
// wrote and could not download, and how full the columns are; then what the
// outputs say of the run.
void TScraper::LogSummary(bool complete) {
    if (Stage() >= RunStage::Ending)
        return;
    SetStage(RunStage::Ending);
    for (const QString& line : summary_.Lines(firmscounter))
        Log(line);
    FinishOutputs(complete);
}

// The outputs learn of the run; a continued one tells them again what its
// journal and its result file hold (they take it only once).
void TScraper::BeginOutputs(bool continued) {
    const QString key = journal_ ? QFileInfo(journal_->Path()).fileName() : QString();
    for (const auto& output : outputs_) {
        for (const QString& line : output->Begin(request_, key, continued))
            Log(line);
        if (!continued)
            continue;
        for (const QString& url : CardQueue)
            output->Found(url);
        for (const QString& url : goneUrls_)
            output->Gone(url);
        QFile file(resultPath_);
        if (!resultPath_.isEmpty() && file.open(QIODevice::ReadOnly))
            ReadCsvRows(file, [&output](CardRecord&& card) { output->RowWritten(card); });
    }
}

void TScraper::FinishOutputs(bool complete) {
    RunFinish finish;
    finish.complete = complete;
    finish.resultPath = resultFile_ != nullptr ? resultFile_->Path() : QString();
    finish.tick = tick_;
    finish.found = firmscounter;
    finish.summary = &summary_;
    finish.started = started_;
    finish.ended = QDateTime::currentDateTime();
    for (const auto& output : outputs_)
        for (const QString& line : output->Finish(finish))
            Log(line);
    openInstead_ = finish.openInstead;
    if (finish.failed)
        ending_.errorShown = true;
}

// The figures of the batch status line, read on the window thread while the
// run waits for a notification.
StatusFigures TScraper::BatchFigures() const {
    const bool cards = Stage() >= RunStage::Cards;
    StatusFigures figures;
    figures.phase = cards ? 2 : 1;
    figures.done = ProgressBarPosition;
    figures.total = cards ? ProgressBarMax
                          : ProgressBarPosition + static_cast<std::int64_t>(ListingQueue.size());
    figures.count = cards ? summary_.Rows() : firmscounter;
    return figures;
}
