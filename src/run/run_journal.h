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

#include "run/seen_set.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
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
    bool handedOver = false; // phase 1 ended
    QString resultPath;      // the result file, once phase 2 has named it
    SeenSet gone;            // cards that ended with 404
    std::int64_t cards = 0;  // card URLs collected (also when only summed up)
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

// Writes a run's journal. Every record goes out with one write(2) on an
// append-only descriptor; the run syncs the file to disk at most once a
// second (Sync), and the records a continued run depends on most (settings,
// hand-over, result file) are synced at once. When a write fails the journal
// stops: what it holds stays a consistent prefix of the run, and Failed()
// says why. Only the run thread uses it.
class RunJournal {
public:
    ~RunJournal();
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // A new journal "run-<tick>.journal" in `folder` (another tick if that
    // name is taken), starting with `settings`. Throws std::runtime_error.
    static std::unique_ptr<RunJournal> Create(const QString& folder, std::uint32_t tick,
                                              const RunSettings& settings);
    // Goes on writing an existing journal whose whole records end at
    // `length`: a torn tail after them is cut off first. Throws.
    static std::unique_ptr<RunJournal> Continue(const QString& path, std::int64_t length);

    void ItemHandled(const QString& item, const std::vector<QString>& queued,
                     const std::vector<QString>& cards);
    void HandedOver();
    void ResultFile(const QString& path);
    void Gone(const QString& url);

    // Syncs the file to disk when something was written since the last sync.
    void Sync();
    // The run ended normally: nothing is left to continue.
    void Remove();

    const QString& Path() const { return path_; }
    // Empty while every record went out; else the reason of the failed write.
    const QString& Failed() const { return failed_; }

private:
    RunJournal(int fd, QString path);
    void Append(const QByteArray& payload, bool syncNow);

    int fd_ = -1;
    QString path_;
    QString failed_;
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
