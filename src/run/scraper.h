#pragma once
// The run thread: one per press of START. Turns the selected city and
// category pairs into listing URLs, drives fetch workers through phase 1
// (listing pages and search requests, collecting card URLs) and phase 2 (card
// pages into the result file), and shows everything through six
// notifications that run on the window thread while the run waits.

#include "core/thread_base.h"
#include "run/batch_progress.h"
#include "run/layout_watch.h"
#include "run/result_file.h"
#include "run/run_journal.h"
#include "run/run_summary.h"
#include "run/seen_set.h"
#include "run/start_gate.h"
#include "run/unfinished_runs.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class TScrapingThread2;
class WorkerLists;

// The tick of the last progress display, shared by all runs.
extern std::uint32_t LastProgressTick;

class TScraper : public TThread {
public:
    TScraper() = default;
    ~TScraper() override;

    // Run state read by the notifications, set just before each of them.
    // The outcome text PostResult shows: "ok", or "ERROR_" + message. (The
    // worker's `result` is a number.)
    QString result;
    QString LogMessageText;
    // Which display PostRunState makes: true the start of a run, false its
    // end (the design's name; no cursor is involved).
    bool CursorHourGlass = false;
    std::int32_t ProgressBarPosition = 0;
    std::int32_t ProgressBarMax = 0;
    std::int32_t firmscounter = 0;

    // The window's controls, handed over at START.
    QProgressBar* ProgressBar = nullptr;
    QPushButton* StartButton = nullptr;
    QPlainTextEdit* LogsMemo = nullptr;
    QTimer* ResumeTimer = nullptr;
    QListWidget* CitiesListBox = nullptr;
    QListWidget* CatsListBox = nullptr;
    std::int32_t Limit = 5;
    QLabel* Label4 = nullptr;

    // The category id of each category row, as loaded by the window.
    QStringList CategoryIds;

    // Set by the window before the start. ResumeJournal: the journal of an
    // interrupted run to continue instead of starting anew (an untrusted one
    // is reported and set aside, and the run starts anew; one that another
    // copy of the program holds meanwhile refuses the run); ResumeRows: the
    // rows its result file held when it was found. BadJournals: journals
    // found untrusted, with why; the run says so and renames them to
    // "<name>.bad". NoRunToResume: a run to continue was asked for and none
    // was found; the run says so.
    QString ResumeJournal;
    std::int64_t ResumeRows = 0;
    std::vector<UntrustedJournal> BadJournals;
    bool NoRunToResume = false;

    // Called on the window thread at the end of the last notification, with
    // the error text when the run log file could not be written, else empty.
    std::function<void(const QString& error)> OnRunEnded;

    // Whether the run has shown its end display. Nothing of the run is left
    // to pause or stop then, even while its thread is still returning.
    bool Ended() const { return ended_.load(); }

    // Whether an error was shown ("Ошибка: ...") during the run, or the run
    // ended on an error that escaped both phases.
    bool ErrorReported() const { return errorReported_.load(); }

    // Whether listing pages could not be loaded, so that cards of the
    // selection are missing although no error was shown.
    bool PagesLost() const { return pagesLost_.load(); }

    // Whether the run was refused because another copy of the program holds
    // the journal it was to continue. Nothing was collected then.
    bool Refused() const { return refused_.load(); }

    // The notifications. Each runs on the window thread; the run calls them
    // through Notify, which blocks the run until the window has run them
    // (and holds it at the pause gate afterwards while it is paused).
    // PostFoundCount and PostProgress handle the window's pending events, so
    // that the window stays usable while a run floods it with notifications;
    // a pause, stop or close may therefore run inside them.
    void PostLogLine();
    void PostFoundCount();
    void PostProgress();
    void PostRunState();
    void PostResult();
    void ArmResumeTimer();

    // Where the tick count comes from; tests replace it.
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
    using FinishedHandler = std::function<void(TScrapingThread2&)>;

    void Notify(void (TScraper::*notification)());
    void Log(const QString& text);
    void Seed();
    enum class Resumed { Continued, StartAnew, InUse };
    Resumed ContinueJournal();
    void LogSetAside(const QString& journalPath, const QString& problem,
                     const SetAsideOutcome& outcome);
    void JournalFailed();
    void SyncFiles();
    void PostError(const std::exception& error);
    template <typename Queue>
    PhaseEnd RunPhase(Queue& queue, int sleepAfterStartMs, const FinishedHandler& handle,
                      OnError onError);
    template <typename Queue>
    void StartNextWorker(Queue& queue, WorkerLists& lists, int sleepAfterStartMs);
    void CollectFinishedWorker(WorkerLists& lists, const FinishedHandler& handle);
    void HandleListingWorker(TScrapingThread2& worker);
    void StartCardPhase();
    void RunPhase2();
    QString OpenNewResultFile(ResultFile& file,
                              const std::function<void(const QString&)>& announce = {});
    void HandleCardWorker(TScrapingThread2& worker, ResultFile& file);
    std::int32_t SkipDoneCards(const std::vector<QString>& rowUrls);
    QString RunLogPath();
    void LogSummary();
    StatusFigures BatchFigures() const;

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
    bool journalWarned_ = false;
    std::int32_t handledItems_ = 0;
    bool handedOver_ = false;
    QString resultPath_;
    SeenSet gone_;
    ResultFile* resultFile_ = nullptr;
    std::chrono::steady_clock::time_point lastSync_{};
    QString webHost_;
    QString decimalSeparator_;
    // What phase 2 did, for the summary at its end, and the watch for a
    // changed page layout.
    RunSummary summary_;
    bool summaryLogged_ = false;
    LayoutWatch layoutWatch_;
    std::atomic<bool> ended_{false};
    std::atomic<bool> errorReported_{false};
    std::atomic<bool> pagesLost_{false};
    std::atomic<bool> refused_{false};
    // Holds new work items back while a host asks to wait, and sets the pace.
    StartGate gate_;
};
