#pragma once
// The run thread: one per press of START. Turns the selected city and
// category pairs into listing URLs, drives fetch workers through phase 1
// (listing pages and search requests, collecting card URLs) and phase 2 (card
// pages into the result file), and shows everything through six
// notifications that run on the window thread while the run waits.

#include "core/thread_base.h"
#include "run/seen_set.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class ResultFile;
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

    // Called on the window thread at the end of the last notification, with
    // the error text when the run log file could not be written, else empty.
    std::function<void(const QString& error)> OnRunEnded;

    // Whether the run has shown its end display. Nothing of the run is left
    // to pause or stop then, even while its thread is still returning.
    bool Ended() const { return ended_.load(); }

    // Whether an error was shown ("Ошибка: ...") during the run, or the run
    // ended on an error that escaped both phases.
    bool ErrorReported() const { return errorReported_.load(); }

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

private:
    enum class PhaseEnd { Done, Stopped };
    // Phase 1 goes on after an error (only the failing item is lost); an
    // error in phase 2 ends the phase.
    enum class OnError { Continue, EndPhase };
    using FinishedHandler = std::function<void(TScrapingThread2&)>;

    void Notify(void (TScraper::*notification)());
    void Log(const QString& text);
    void Seed();
    void PostError(const std::exception& error);
    PhaseEnd RunPhase(WorkQueue& queue, int sleepAfterStartMs, const FinishedHandler& handle,
                      OnError onError);
    void StartNextWorker(WorkQueue& queue, WorkerLists& lists, int sleepAfterStartMs);
    void CollectFinishedWorker(WorkerLists& lists, const FinishedHandler& handle);
    void HandleListingWorker(TScrapingThread2& worker);
    void StartCardPhase();
    void RunPhase2();
    void HandleCardWorker(TScrapingThread2& worker, ResultFile& file);

    WorkQueue ListingQueue;
    WorkQueue CardQueue;
    SeenSet Seen;
    QueuedSearches QueuedRequests;
    QString webHost_;
    QString decimalSeparator_;
    std::atomic<bool> ended_{false};
    std::atomic<bool> errorReported_{false};
};
