// The run journal: what a continued run rebuilds from it, and that a torn or
// damaged journal never leads to a wrong continuation.
#include "run/requests.h"
#include "run/result_file.h"
#include "run/run_journal.h"
#include "run/unfinished_runs.h"

#include "print_qstring.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

const RunSettings kSettings{u"web.test"_s,
                            u"api.test"_s,
                            {u"Сантехники (santehniki)"_s},
                            {u"Москва"_s, u"Казань"_s},
                            {u"6280"_s, u"de49"_s}};
const QString kMoscow = ListingUrl(u"web.test"_s, u"santehniki"_s, PercentEncodeCity(u"Москва"_s));
const QString kKazan = ListingUrl(u"web.test"_s, u"santehniki"_s, PercentEncodeCity(u"Казань"_s));
const QString kPage2 = SearchRequestBody(u"6280"_s, u"msk"_s, u"T2"_s);

// A whole run's journal, record by record: the Kazan page fails, Moscow's
// first page queues a second one, the hand-over, the file, a card gone.
std::vector<QByteArray> RunRecords() {
    return {JournalFrame(JournalSettingsPayload(kSettings)),
            JournalFrame(JournalItemPayload(kKazan, {}, {})),
            JournalFrame(JournalItemPayload(
                kMoscow, {kPage2}, {u"https://web.test/pro/a"_s, u"https://web.test/pro/b"_s})),
            JournalFrame(JournalItemPayload(kPage2, {}, {u"https://web.test/pro/c"_s})),
            JournalFrame(JournalHandedOverPayload()),
            JournalFrame(JournalResultFilePayload(u"/data/data1.csv"_s)),
            JournalFrame(JournalGonePayload(u"https://web.test/pro/b"_s))};
}

JournalRead Read(const QByteArray& bytes, JournalReading reading = JournalReading::Replay) {
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return ReadJournal(buffer, reading);
}

// What a continued run takes from a journal, in a comparable form.
struct Taken {
    std::vector<QString> listing;
    std::vector<QString> cards;
    int handled = 0;
    bool handedOver = false;
    QString resultPath;
    bool goneB = false;
    bool operator==(const Taken&) const = default;
};

Taken Take(const JournalRead& read) {
    const JournalState& s = read.state;
    return {{s.listingQueue.begin(), s.listingQueue.end()},
            {s.cardQueue.begin(), s.cardQueue.end()},
            s.handledItems,
            s.handedOver,
            s.resultPath,
            s.gone.Contains(u"https://web.test/pro/b"_s)};
}

// The state after the first `records` records, read from a journal cut there.
Taken After(int records) {
    QByteArray bytes;
    const std::vector<QByteArray> all = RunRecords();
    for (int i = 0; i < records; ++i)
        bytes += all[static_cast<size_t>(i)];
    const JournalRead read = Read(bytes);
    EXPECT_TRUE(read.trusted) << read.problem.toStdString();
    return Take(read);
}

} // namespace

TEST(RunJournal, ReplayRebuildsQueuesCardsAndPhase) {
    QByteArray bytes;
    for (const QByteArray& record : RunRecords())
        bytes += record;
    const JournalRead read = Read(bytes);
    ASSERT_TRUE(read.trusted) << read.problem.toStdString();
    EXPECT_EQ(read.length, bytes.size());
    EXPECT_EQ(read.state.settings.cityRows, kSettings.cityRows);
    EXPECT_EQ(read.state.settings.categoryIds, kSettings.categoryIds);
    const Taken taken = Take(read);
    EXPECT_TRUE(taken.listing.empty());
    EXPECT_EQ(taken.cards,
              (std::vector<QString>{u"https://web.test/pro/a"_s, u"https://web.test/pro/b"_s,
                                    u"https://web.test/pro/c"_s}));
    EXPECT_EQ(taken.handled, 3);
    EXPECT_TRUE(taken.handedOver);
    EXPECT_EQ(taken.resultPath, u"/data/data1.csv"_s);
    EXPECT_TRUE(taken.goneB);
    EXPECT_TRUE(read.state.queuedSearches.contains(kPage2));

    // Midway through phase 1: the item in flight is still queued, in its place.
    EXPECT_EQ(After(2).listing, (std::vector<QString>{kMoscow}));
    EXPECT_EQ(After(3).listing, (std::vector<QString>{kPage2}));

    // The quick reading counts the same cards without rebuilding anything.
    const JournalRead summary = Read(bytes, JournalReading::Summary);
    ASSERT_TRUE(summary.trusted);
    EXPECT_EQ(summary.state.cards, 3);
    EXPECT_EQ(summary.state.resultPath, u"/data/data1.csv"_s);
    EXPECT_TRUE(summary.state.cardQueue.empty());
}

// Cut anywhere inside the last records (as a crash leaves it), or with a tail
// a power cut filled with zeros: the records before the cut are replayed, the
// rest is ignored, and the whole records end where the cut record began.
TEST(RunJournal, ATornTailIsIgnoredWhereverTheCutFalls) {
    const std::vector<QByteArray> records = RunRecords();
    QByteArray whole;
    std::vector<qsizetype> starts;
    for (const QByteArray& record : records) {
        starts.push_back(whole.size());
        whole += record;
    }
    for (int last = 1; last < static_cast<int>(records.size()); ++last) {
        const Taken before = After(last);
        const qsizetype start = starts[static_cast<size_t>(last)];
        for (qsizetype cut = start; cut < start + records[static_cast<size_t>(last)].size();
             ++cut) {
            for (const bool zeros : {false, true}) {
                QByteArray bytes = whole.left(cut);
                if (zeros)
                    bytes += QByteArray(4096, '\0');
                // Zeros that happen to be the missing end of the record
                // complete it: then it counts, as it should.
                const QByteArray missing =
                    whole.mid(cut, start + records[static_cast<size_t>(last)].size() - cut);
                const bool completed = zeros && missing.count('\0') == missing.size();
                const JournalRead read = Read(bytes);
                ASSERT_TRUE(read.trusted) << "cut at " << cut << " zeros " << zeros;
                EXPECT_EQ(read.length,
                          completed ? start + records[static_cast<size_t>(last)].size() : start);
                EXPECT_EQ(Take(read), completed ? After(last + 1) : before) << "cut at " << cut;
            }
        }
    }
}

// A changed byte anywhere before the last record is damage: the journal is
// never trusted, whatever the byte was. In the last record it is damage or a
// torn tail, never a wrong record.
TEST(RunJournal, AFlippedByteBeforeTheLastRecordMakesItUntrusted) {
    const std::vector<QByteArray> records = RunRecords();
    QByteArray whole;
    for (const QByteArray& record : records)
        whole += record;
    const qsizetype lastStart = whole.size() - records.back().size();
    for (qsizetype at = 0; at < whole.size(); ++at) {
        for (const char mask : {'\x01', '\x80'}) {
            QByteArray bytes = whole;
            bytes[at] = static_cast<char>(bytes[at] ^ mask);
            const JournalRead read = Read(bytes);
            if (at < lastStart) {
                EXPECT_FALSE(read.trusted) << "byte " << at;
            } else if (read.trusted) {
                EXPECT_EQ(Take(read), After(6)) << "byte " << at;
            }
        }
    }
}

TEST(RunJournal, ForeignFilesOtherVersionsAndInconsistentRecordsAreUntrusted) {
    struct Case {
        const char* what;
        QByteArray bytes;
    };
    const QByteArray csv = "\xEF\xBB\xBF\"URL\";\"Имя\"\r\n\"https://a\";\"b\"\r\n";
    const Case cases[] = {
        {"empty", {}},
        {"a CSV file", csv.repeated(20)},
        {"another version", JournalFrame(JournalSettingsPayload(kSettings, 2))},
        {"no settings first", JournalFrame(JournalItemPayload(kKazan, {}, {}))},
        {"settings cut inside their fields",
         JournalFrame(JournalSettingsPayload(kSettings).left(12))},
        {"an item never queued", JournalFrame(JournalSettingsPayload(kSettings)) +
                                     JournalFrame(JournalItemPayload(kPage2, {}, {}))},
        {"an unknown record",
         JournalFrame(JournalSettingsPayload(kSettings)) + JournalFrame(QByteArray("Zzz"))},
    };
    for (const Case& c : cases) {
        const JournalRead read = Read(c.bytes);
        EXPECT_FALSE(read.trusted) << c.what;
        EXPECT_FALSE(read.problem.isEmpty()) << c.what;
    }
}

// The writer: records as they come, a continued journal cut back to its whole
// records, removal at a normal end, and a failed write that stops it.
TEST(RunJournal, WrittenContinuedAndRemoved) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto journal = RunJournal::Create(dir.path(), 42, kSettings);
    EXPECT_EQ(journal->Path(), dir.filePath(u"run-42.journal"_s));
    journal->ItemHandled(kKazan, {}, {});
    journal->Sync();
    auto second = RunJournal::Create(dir.path(), 42, kSettings);
    EXPECT_EQ(second->Path(), dir.filePath(u"run-43.journal"_s)) << "a name in use is not reused";
    const QString path = journal->Path();
    journal.reset();

    // A torn record at the end goes when the journal is continued.
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write(RunRecords()[2].left(9));
    }
    const JournalRead read = ReadJournalFile(path);
    ASSERT_TRUE(read.trusted);
    EXPECT_EQ(read.state.handledItems, 1);
    journal = RunJournal::Continue(path, read.length);
    journal->ItemHandled(kMoscow, {kPage2}, {u"https://web.test/pro/a"_s});
    journal->HandedOver();
    const JournalRead again = ReadJournalFile(path);
    ASSERT_TRUE(again.trusted) << again.problem.toStdString();
    EXPECT_EQ(again.state.handledItems, 2);
    EXPECT_TRUE(again.state.handedOver);
    EXPECT_EQ(again.state.listingQueue, WorkQueue({kPage2}));

    // A write that fails (a file size limit plays the full disk) stops the
    // journal: what it holds is still a consistent beginning of the run.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = static_cast<rlim_t>(QFileInfo(path).size() + 20);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    journal->ItemHandled(kPage2, {}, {u"https://web.test/pro/a-long-card-name"_s});
    // The record went out in part; once the medium has room again nothing
    // may follow its torn bytes.
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(journal->Failed().isEmpty());
    journal->Gone(u"https://web.test/pro/a"_s);
    const JournalRead afterFailure = ReadJournalFile(path);
    ASSERT_TRUE(afterFailure.trusted) << afterFailure.problem.toStdString();
    EXPECT_EQ(afterFailure.state.handledItems, 2);
    EXPECT_EQ(afterFailure.state.gone.size(), 0u);

    journal->Remove();
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(JournalFiles(dir.path()), QStringList{dir.filePath(u"run-43.journal"_s)});
}

// A result file read back to be continued: its rows' URL fields, and where its
// last complete line ends, wherever the last line was cut.
TEST(ResultRowsScan, CompleteLinesAndTheTornLast) {
    const QByteArray head = "\xEF\xBB\xBF" + CsvHeader().toUtf8() + "\r\n";
    CardRecord one;
    one.url = u"https://web.test/pro/one"_s;
    one.address = u"строка 1\r\nстрока 2; и ещё"_s; // a value with a line break of its own
    CardRecord two;
    two.url = u"https://web.test/pro/two"_s;
    const QByteArray rowOne = (FormatCsvRow(one) + u"\r\n"_s).toUtf8();
    const QByteArray rowTwo = (FormatCsvRow(two) + u"\r\n"_s).toUtf8();
    const QByteArray whole = head + rowOne + rowTwo;
    for (qsizetype cut = 0; cut <= whole.size(); ++cut) {
        QByteArray bytes = whole.left(cut);
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        const ResultRows rows = ScanResultRows(buffer);
        ASSERT_TRUE(rows.valid) << "cut at " << cut;
        const qsizetype complete = cut < head.size()                   ? 0
                                   : cut < head.size() + rowOne.size() ? head.size()
                                   : cut < whole.size()                ? head.size() + rowOne.size()
                                                                       : whole.size();
        EXPECT_EQ(rows.complete, complete) << "cut at " << cut;
        EXPECT_EQ(rows.count, static_cast<std::int64_t>(rows.urls.size()));
        if (cut == whole.size()) {
            EXPECT_EQ(rows.urls, (std::vector<QString>{one.url, two.url}));
        }
    }
    QByteArray other = "id;name\r\n1;x\r\n";
    QBuffer buffer(&other);
    buffer.open(QIODevice::ReadOnly);
    EXPECT_FALSE(ScanResultRows(buffer).valid);
}

// The records a continued run depends on most reach the disk before the call
// returns; the others wait for the next Sync.
TEST(RunJournal, SettingsHandOverAndResultFileAreSyncedAtOnce) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    static std::vector<qint64> synced; // the file's size at each sync
    synced.clear();
    RunJournal::SyncFile = [](int fd) {
        synced.push_back(static_cast<qint64>(::lseek(fd, 0, SEEK_END)));
        return 0;
    };
    auto journal = RunJournal::Create(dir.path(), 1, kSettings);
    const auto size = [&] { return QFileInfo(journal->Path()).size(); };
    const auto syncedAll = [&] { return !synced.empty() && synced.back() == size(); };
    EXPECT_TRUE(syncedAll()) << "settings";
    journal->ItemHandled(kKazan, {}, {});
    EXPECT_FALSE(syncedAll()) << "an item waits for the next sync";
    journal->HandedOver();
    EXPECT_TRUE(syncedAll()) << "hand-over";
    journal->Gone(u"https://web.test/pro/b"_s);
    EXPECT_FALSE(syncedAll());
    journal->ResultFile(dir.filePath(u"data1.csv"_s));
    EXPECT_TRUE(syncedAll()) << "result file";
    const std::size_t syncs = synced.size();
    journal->Sync();
    EXPECT_EQ(synced.size(), syncs) << "nothing new to sync";
    RunJournal::SyncFile = nullptr;
}

// A journal belongs to the process writing it: others see it in use, can
// neither take, set aside nor delete it, and the lock goes with the process
// however it ends.
TEST(RunJournal, AJournalInUseIsLeftToItsProcess) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto held = RunJournal::Create(dir.path(), 1, kSettings);
    const QString path = held->Path();
    EXPECT_TRUE(JournalInUse(path));
    EXPECT_THROW(RunJournal::Take(path), JournalInUseError);
    EXPECT_TRUE(SetAsideJournal(path).inUse);
    EXPECT_FALSE(RemoveJournal(path));
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_EQ(JournalFiles(dir.path()), QStringList{path}) << "nothing made beside it";
    held.reset();
    EXPECT_FALSE(JournalInUse(path));
    EXPECT_NO_THROW(RunJournal::Take(path));

    // Held by a child process until it is killed.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto journal = RunJournal::Take(path);
        if (write(ready[1], "x", 1) != 1)
            _exit(1);
        pause();
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    EXPECT_TRUE(JournalInUse(path));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_FALSE(JournalInUse(path)) << "no stale lock after SIGKILL";
    close(ready[0]);
    close(ready[1]);

    EXPECT_TRUE(RemoveJournal(path));
    EXPECT_FALSE(QFile::exists(path));
}

// The result file is named relative to the journal, so the folder may move
// with its files; journals of earlier versions named it absolutely.
TEST(RunJournal, TheResultFileMovesWithTheFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString before = dir.filePath(u"before"_s);
    ASSERT_TRUE(QDir().mkpath(before));
    auto journal = RunJournal::Create(before, 3, kSettings);
    journal->ResultFile(before + u"/data3.csv"_s);
    const QString name = QFileInfo(journal->Path()).fileName();
    journal.reset();
    const QString after = dir.filePath(u"after"_s);
    ASSERT_TRUE(QDir().rename(before, after));
    EXPECT_EQ(ReadJournalFile(after + u"/"_s + name).state.resultPath, after + u"/data3.csv"_s);

    const QString old = after + u"/run-9.journal"_s;
    QFile file(old);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(RunRecords()[0] + RunRecords()[5]);
    file.close();
    EXPECT_EQ(ReadJournalFile(old).state.resultPath, u"/data/data1.csv"_s);
}

// An untrusted journal that cannot be renamed is said to be so.
TEST(RunJournal, ASetAsideThatFailsSaysWhy) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"run-5.journal"_s);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a journal");
    file.close();
    const std::string folder = dir.path().toStdString();
    if (std::system(("chattr +i '" + folder + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no chattr +i here";
    const SetAsideOutcome outcome = SetAsideJournal(path);
    std::system(("chattr -i '" + folder + "'").c_str());
    EXPECT_FALSE(outcome.renamed);
    EXPECT_FALSE(outcome.inUse);
    EXPECT_EQ(outcome.error, u"Operation not permitted"_s);
    EXPECT_TRUE(QFile::exists(path));

    const SetAsideOutcome renamed = SetAsideJournal(path);
    EXPECT_TRUE(renamed.renamed);
    EXPECT_EQ(renamed.target, path + u".bad"_s);
}

// The search for a run to continue: a run another process holds is found in
// use (and START is refused); a journal another process holds is never
// listed to be set aside, however it reads; an untrusted one carries why.
TEST(UnfinishedRuns, JournalsInUseAreFoundButNeverTouched) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto junk = [&](const QString& name) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("junk");
        return dir.filePath(name);
    };
    const QString heldJunk = junk(u"run-1.journal"_s);
    const QString freeJunk = junk(u"run-2.journal"_s);
    auto heldJunkLock = RunJournal::Take(heldJunk);
    RunSettings other = kSettings;
    other.cityRows = {u"Казань"_s};
    auto otherRun = RunJournal::Create(dir.path(), 3, other);

    UnfinishedRun found = FindUnfinishedRun(dir.path(), kSettings);
    EXPECT_TRUE(found.journal.isEmpty());
    ASSERT_EQ(found.untrusted.size(), 1u);
    EXPECT_EQ(found.untrusted[0].path, freeJunk);
    EXPECT_EQ(found.untrusted[0].problem, u"нет настроек сбора"_s);

    auto running = RunJournal::Create(dir.path(), 4, kSettings);
    found = FindUnfinishedRun(dir.path(), kSettings);
    EXPECT_TRUE(found.inUse);
    EXPECT_EQ(found.journal, running->Path());
    const QString path = running->Path();
    running.reset();
    found = FindUnfinishedRun(dir.path(), kSettings);
    EXPECT_FALSE(found.inUse);
    EXPECT_EQ(found.journal, path);
}
