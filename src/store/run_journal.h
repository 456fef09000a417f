#pragma once
// The run journal: an append-only file in the program folder
// ("run-<tick>.journal") that lets an interrupted run continue where it
// stopped, with every card exactly once in its result file.
//
// It holds the run's settings, then one record per handled phase-1 item (the
// item, the requests its answer queued and the card URLs it added), the
// hand-over to phase 2, the result file's path, and the cards that ended with
// 404. The result file itself records the cards done. Each record checks
// itself (length and checksums), so a torn last record, left by a crash or a
// power cut, is recognised and ignored; damage anywhere else makes the whole
// journal untrusted.
//
// Record layout: u32 payload length, u32 CRC-32 of those four bytes, u32
// CRC-32 of the payload, the payload (a type byte, then its fields). All
// integers little-endian; texts as u32 byte length + UTF-8.

#include "store/seen_set.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

// What a run was started with; a run is continued only with the same.
struct RunSettings {
    QString webHost;
    QString apiHost;
    QStringList categoryRows; // the selected rows, in list order
    QStringList cityRows;
    QStringList categoryIds; // of every category row, as loaded
};

// A run's state rebuilt from its journal.
struct JournalState {
    RunSettings settings;
    WorkQueue listingQueue; // items queued and not handled, in queue order
    QueuedSearches queuedSearches;
    UrlQueue cardQueue; // every card URL collected, in order
    SeenSet seen;       // the same URLs, for the duplicate test
    std::int32_t handledItems = 0;
    bool handedOver = false;       // phase 1 ended
    QString resultPath;            // the result file, once phase 2 has named it
    SeenSet gone;                  // cards that ended with 404
    std::vector<QString> goneUrls; // the same, in the journal's order
    std::int64_t cards = 0;        // card URLs collected (also when only summed up)
    std::int64_t records = 0;
};

struct JournalRead {
    bool trusted = false;
    QString problem;         // why not, for the log
    std::int64_t length = 0; // bytes of whole records; a torn tail lies after
    JournalState state;
};

// How much of a journal to read: its settings only; every record checked and
// its cards counted, without rebuilding the queues (quick, for asking the
// user); or everything replayed.
enum class JournalReading { Settings, Summary, Replay };

// Reads a journal: the run's settings, and its state as far as `reading` asks.
JournalRead ReadJournal(QIODevice& device, JournalReading reading = JournalReading::Replay);
JournalRead ReadJournalFile(const QString& path, JournalReading reading = JournalReading::Replay);

// The journal files in `folder`, most recently written first.
QStringList JournalFiles(const QString& folder);

// A journal belongs to the process that writes it: it holds an advisory lock
// on the file from its creation or continuation to its removal, and the
// kernel drops the lock when the process ends, however it ends. Whether
// another process holds the journal at `path` now.
bool JournalInUse(const QString& path);

// Another process holds the journal a run was to continue.
struct JournalInUseError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The outcome of renaming an untrusted journal to "<path>.bad" (or ".bad2",
// ...): the new name, or why the rename failed. A journal another process
// holds is left alone (`inUse`).
struct SetAsideOutcome {
    bool inUse = false;
    bool renamed = false;
    QString target; // when renamed
    QString error;  // when not renamed, and not in use
};
SetAsideOutcome SetAsideJournal(const QString& path);

// Deletes the journal at `path` unless another process holds it; false then.
bool RemoveJournal(const QString& path);

// Writes a run's journal. Every record goes out with one write(2) on an
// append-only descriptor; the run syncs the file to disk at most once a
// second (Sync), and the records a continued run depends on most (settings,
// hand-over, result file) are synced at once. When a write fails, even in
// part, the journal stops: what it holds stays a consistent prefix of the
// run (a record written in part is a torn tail that nothing follows), and
// Failed() says why. Only the run thread uses it. While it exists it holds
// the journal's lock (see JournalInUse).
class RunJournal {
public:
    ~RunJournal();
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // A new journal "run-<tick>.journal" in `folder`, starting with
    // `settings`; when a file of that tick exists (see FreeRunTick) the next
    // free tick is taken, and Tick() tells which. The journal appears under
    // its name already locked and holding its settings, so that no other
    // process ever sees it half made. Throws std::runtime_error.
    static std::unique_ptr<RunJournal> Create(const QString& folder, std::uint32_t tick,
                                              const RunSettings& settings);
    // Takes the existing journal at `path` over to go on writing it: locks
    // it, or throws JournalInUseError when another process holds it, and
    // std::runtime_error when it cannot be opened. Read it after taking it,
    // then CutTo the end of its whole records.
    static std::unique_ptr<RunJournal> Take(const QString& path);
    // Take, then CutTo(length).
    static std::unique_ptr<RunJournal> Continue(const QString& path, std::int64_t length);

    // Cuts a torn tail after the whole records ending at `length`. Throws.
    void CutTo(std::int64_t length);

    void ItemHandled(const QString& item, const std::vector<QString>& queued,
                     const std::vector<QString>& cards);
    void HandedOver();
    // The result file, named relative to the journal's folder when it lies
    // there, so that the folder may move with its files.
    void ResultFile(const QString& path);
    void Gone(const QString& url);

    // Syncs the file to disk when something was written since the last sync.
    void Sync();
    // The run ended normally: nothing is left to continue.
    void Remove();
    // The journal cannot be trusted: renamed beside itself (see
    // SetAsideJournal) while still held, then let go.
    SetAsideOutcome SetAside();

    const QString& Path() const { return path_; }
    std::uint32_t Tick() const { return tick_; }
    // Empty while every record went out; else the reason of the failed write.
    const QString& Failed() const { return failed_; }
    // The reason of the failed write, the first time it is asked for after
    // the failure; empty otherwise (the run warns once).
    QString FailureNotice();

    // How the file is synced to disk (fdatasync); tests observe it.
    static inline int (*SyncFile)(int fd) = nullptr;

private:
    RunJournal(int fd, QString path, std::uint32_t tick);
    void Append(const QByteArray& payload, bool syncNow);
    void Close();

    int fd_ = -1;
    QString path_;
    std::uint32_t tick_ = 0;
    QString failed_;
    bool failureNoticed_ = false;
    bool dirty_ = false;
};

// A record's payload and its framing, for tests and tools that build
// journals of their own.
QByteArray JournalSettingsPayload(const RunSettings& settings, std::uint32_t version = 1);
QByteArray JournalItemPayload(const QString& item, const std::vector<QString>& queued,
                              const std::vector<QString>& cards);
QByteArray JournalHandedOverPayload();
QByteArray JournalResultFilePayload(const QString& path);
QByteArray JournalGonePayload(const QString& url);
QByteArray JournalFrame(const QByteArray& payload);
