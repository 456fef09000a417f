#pragma once
// The run thread: one per press of START. Turns the selected city and
// category pairs into listing URLs, drives fetch workers through phase 1
// (listing pages and search requests, collecting card URLs) and phase 2 (card
// pages into the result file), and shows everything through the six
// notifications of RunEvents, each run on the window thread while the run
// waits. It touches no widget.

#include "core/thread_base.h"
#include "report/run_summary.h"
#include "run/run_events.h"
#include "run/run_output.h"
#include "run/run_request.h"
#include "run/start_gate.h"
#include "site/layout_watch.h"
#include "store/seen_set.h"

#include <QDateTime>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class ResultFile;
class RunJournal;
class TScrapingThread2;
class WorkerLists;
struct SetAsideOutcome;

// The tick of the last progress display, shared by all runs.
extern std::uint32_t LastProgressTick;

// Where a run is, in order; a continued run may go back to listing once to
// fetch the pages it could not load before.
enum class RunStage {
    Starting, // start display, seeding or continuing a journal
    Listing,  // phase 1
    Cards,    // phase 2, after the hand-over
    Ending,   // the summary is shown; the result and the finish follow
    Ended,    // the end display has been shown
};

class TScraper : public TThread {
public:
    // `events` must outlive the run's thread; `outputs` are told of the
    // run's cards as it goes, and asked at its end what to log.
    TScraper(RunRequest request, RunEvents& events, RunOutputs outputs = {});
    ~TScraper() override;

    // What the notifications show, set just before each of them. The outcome
    // text: "ok", or "ERROR_" + message. (The worker's `result` is a number.)
    QString result;
    QString LogMessageText;
    std::int32_t ProgressBarPosition = 0;
    std::int32_t ProgressBarMax = 0;
    std::int32_t firmscounter = 0;
    std::int32_t Limit = 5;

    RunStage Stage() const { return stage_.load(); }
    // Whether the run has shown its end display. Nothing of the run is left
    // to pause or stop then, even while its thread is still returning.
    bool Ended() const { return Stage() == RunStage::Ended; }

    // Shows the outcome, and after an error pauses the run for 30 seconds
    // (unless it has been told to stop, or is paused already). The run calls
    // it from its thread, through the blocking hand-off; called on the
    // window thread it runs at once.
    void PostResult(RunOutcome outcome);

    // The tick count the run names its files by and the window throttles its
    // progress by; tests replace its source.
    static std::uint32_t Tick();
    static inline std::uint32_t (*TickSource)() = nullptr;
    // Tests: called on the window thread at the end of each notification,
    // with the notification's name, to act from inside it.
    static inline void (*NotificationHook)(TScraper& run, const char* notification) = nullptr;

protected:
    void Execute() override;
    void TerminatedBeforeStart() override;

private:
    enum class PhaseEnd { Done, Stopped };
    // Phase 1 goes on after an error (only the failing item is lost); an
    // error in phase 2 ends the phase.
    enum class OnError { Continue, EndPhase };
    enum class Resumed { Continued, StartAnew, InUse };
    using FinishedHandler = std::function<void(TScrapingThread2&)>;

    void SetStage(RunStage stage) { stage_.store(stage); }

    // The notifications, from the run thread: each runs on the window thread
    // and blocks the run until it is done (and holds it at the pause gate
    // afterwards while it is paused).
    void Notify(const char* name, const std::function<void()>& show);
    void Log(const QString& text);
    void ShowFoundCount();
    void ShowProgress();
    void PostError(const std::exception& error);
    void PostOk();

    void Seed();
    Resumed ContinueJournal();
    void LogSetAside(const QString& journalPath, const QString& problem,
                     const SetAsideOutcome& outcome);
    void JournalFailed();
    void SyncFiles();
    template <typename Queue>
    PhaseEnd RunPhase(Queue& queue, int sleepAfterStartMs, const FinishedHandler& handle,
                      OnError onError);
    template <typename Queue>
    void StartNextWorker(Queue& queue, WorkerLists& lists, int sleepAfterStartMs);
    void CollectFinishedWorker(WorkerLists& lists, const FinishedHandler& handle);
    void HandleListingWorker(TScrapingThread2& worker);
    void StartCardPhase(bool recordHandOver);
    void RunPhase2();
    QString OpenNewResultFile(ResultFile& file,
                              const std::function<void(const QString&)>& announce = {});
    void HandleCardWorker(TScrapingThread2& worker, ResultFile& file);
    std::int32_t SkipDoneCards(const std::vector<QString>& rowUrls);
    void LogSummary(bool complete);
    void BeginOutputs(bool continued);
    void FinishOutputs(bool complete);
    QString RunLogPath();
    StatusFigures BatchFigures() const;

    const RunRequest request_;
    RunEvents& events_;
    RunOutputs outputs_;
    QDateTime started_;
    QString openInstead_; // what an output asked to open instead of the result file
    std::atomic<RunStage> stage_{RunStage::Starting};
    RunEnding ending_;

    WorkQueue ListingQueue;
    UrlQueue CardQueue;
    SeenSet Seen;
    QueuedSearches QueuedRequests;
    // The tick that names the run's files (see FreeRunTick), once chosen.
    std::uint32_t tick_ = 0;
    bool tickChosen_ = false;
    // The run's journal (none when it could not be written), what the
    // journal of a continued run says, and the result file of phase 2.
    std::unique_ptr<RunJournal> journal_;
    std::int32_t handledItems_ = 0;
    QString resultPath_;
    SeenSet gone_;
    std::vector<QString> goneUrls_; // the same, for the outputs
    ResultFile* resultFile_ = nullptr;
    std::chrono::steady_clock::time_point lastSync_{};
    QString decimalSeparator_;
    // What the run did, for the summary at its end, and the watch for a
    // changed page layout.
    RunSummary summary_;
    LayoutWatch layoutWatch_;
    // Holds new work items back while a host asks to wait, and sets the pace.
    StartGate gate_;
};
