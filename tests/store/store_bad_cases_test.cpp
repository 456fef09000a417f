// A store that cannot be used: one line for the log, no exception, the run's
// calls harmless, and the user's file kept; two processes sharing a store.

#include "store_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QString Line(const QString& path, const QString& reason) {
    return u"База карточек %1 недоступна (%2), сравнение с прошлыми сборами пропущено"_s.arg(
        path, reason);
}

// Tells a whole small run to a store in `folder` and returns every line it
// gave.
std::vector<QString> TellRun(const QString& folder, int day = 1) {
    CardStore store(folder);
    std::vector<QString> lines = store.TakeLines();
    store.BeginRun(Settings(), u"run-1.journal"_s, Day(day));
    store.Found(Url(u"a"_s));
    store.Flush();
    store.RowWritten(Card(u"a"_s));
    for (const QString& line : store.TakeLines())
        lines.push_back(line);
    for (const QString& line :
         store.FinishRun(true, Day(day, 11), folder + u"/changes1.csv"_s).lines)
        lines.push_back(line);
    return lines;
}

TEST(CardStoreBadCases, OneLineEachAndTheFileKeptOrSetAside) {
    struct Case {
        const char* what;
        // Makes the bad store in `dir`; returns the folder to open.
        std::function<QString(const QTemporaryDir& dir)> make;
        std::function<QString(const QTemporaryDir& dir)> reason;
        bool setAside; // renamed to .bad and a new store made
    };
    const QByteArray text = "this is a note, not a database\n";
    const std::vector<Case> cases = {
        {"the folder is a file: cannot be opened",
         [](const QTemporaryDir& dir) {
             QFile file(dir.filePath(u"folder"_s));
             file.open(QIODevice::WriteOnly);
             return dir.filePath(u"folder"_s);
         },
         [](const QTemporaryDir&) {
             return u"файл не открывается: "_s + QString::fromLocal8Bit(std::strerror(ENOTDIR));
         },
         false},
        {"a file that is not a database",
         [&](const QTemporaryDir& dir) {
             QFile file(dir.filePath(CardStore::FileName()));
             file.open(QIODevice::WriteOnly);
             for (int i = 0; i < 200; ++i)
                 file.write(text);
             return dir.path();
         },
         [](const QTemporaryDir& dir) {
             return u"файл не является базой данных; он переименован в %1.bad, начата новая база"_s
                 .arg(dir.filePath(CardStore::FileName()));
         },
         true},
        {"a database of this program's newer version",
         [](const QTemporaryDir& dir) {
             Exec(dir.filePath(CardStore::FileName()),
                  "CREATE TABLE future(x); PRAGMA user_version=2");
             return dir.path();
         },
         [](const QTemporaryDir&) { return u"база записана более новой версией программы"_s; },
         false},
        {"another program's database",
         [](const QTemporaryDir& dir) {
             Exec(dir.filePath(CardStore::FileName()), "CREATE TABLE notes(x)");
             return dir.path();
         },
         [](const QTemporaryDir&) { return u"файл не является базой карточек"_s; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString folder = c.make(dir);
        const QString path = QDir(folder).filePath(CardStore::FileName());
        const QByteArray before = ReadBytes(path);

        const std::vector<QString> lines = TellRun(folder);
        EXPECT_EQ(lines, std::vector<QString>{Line(path, c.reason(dir))});
        EXPECT_FALSE(QFile::exists(folder + u"/changes1.csv"_s));
        if (c.setAside) {
            EXPECT_EQ(ReadBytes(path + u".bad"_s), before);
            // The new store recorded the run: the next one compares with it.
            EXPECT_EQ(TellRun(folder, 2).front().left(22), u"Сравнение со сбором от"_s);
        } else {
            EXPECT_EQ(ReadBytes(path), before);
            EXPECT_FALSE(QFile::exists(path + u".bad"_s));
        }
    }
}

// Damage found inside the file while a run writes: the file is set aside,
// and the rest of the run goes on without a store.
TEST(CardStoreBadCases, DamageFoundDuringTheRunSetsTheFileAside) {
    QTemporaryDir dir;
    const QString path = dir.filePath(CardStore::FileName());
    RunScript week;
    for (int i = 0; i < 300; ++i) {
        week.found.push_back(QString::number(i));
        week.rows.push_back(Card(QString::number(i)));
    }
    TellStore(dir.path(), week, 1);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        const qint64 size = file.size();
        ASSERT_GT(size, 4 * 4096);
        // Every page but the first (the header and the list of tables).
        file.seek(4096);
        file.write(QByteArray(static_cast<int>(size - 4096), '\x5A'));
    }
    const QByteArray damaged = ReadBytes(path);
    const std::vector<QString> lines = TellRun(dir.path());
    EXPECT_EQ(lines, std::vector<QString>{
                         Line(path, u"файл повреждён; он переименован в %1.bad"_s.arg(path))});
    EXPECT_EQ(ReadBytes(path + u".bad"_s), damaged);
    EXPECT_FALSE(QFile::exists(path));
}

// A full disk (a file size limit plays it) while the store writes.
TEST(CardStoreBadCases, FullDiskStopsTheStoreNotTheRun) {
    QTemporaryDir dir;
    const QString path = dir.filePath(CardStore::FileName());
    CardStore store(dir.path());
    store.BeginRun(Settings(), u"run-1.journal"_s, Day(1));
    ASSERT_TRUE(store.TakeLines().empty());
    for (int i = 0; i < 3000; ++i)
        store.RowWritten(Card(QString::number(i)));

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    // Room for the store's files as they are (the write-ahead log's index
    // takes 32 KiB), not for the 3000 rows.
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    store.Flush();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(store.TakeLines(), std::vector<QString>{Line(path, u"на диске нет места"_s)});
    EXPECT_FALSE(store.Available());
    store.RowWritten(Card(u"later"_s));
    store.Flush();
    const StoreReport report = store.FinishRun(true, Day(1, 11), dir.filePath(u"changes1.csv"_s));
    EXPECT_TRUE(report.lines.empty());
    EXPECT_FALSE(report.compared);
    // What was committed before stays readable.
    EXPECT_EQ(Query(path, "SELECT count(*) FROM runs"), 1);
}

// A folder the program may not write to, with and without a store in it. As
// root, permissions do not bind: the store is then opened by a child
// process that has given up root.
TEST(CardStoreBadCases, ReadOnlyFolderGivesOneLine) {
    QTemporaryDir dir;
    const QString withStore = dir.filePath(u"with"_s);
    const QString empty = dir.filePath(u"empty"_s);
    QDir().mkpath(withStore);
    QDir().mkpath(empty);
    TellStore(withStore, RunScript{{u"a"_s}, {Card(u"a"_s)}, {}, true, Settings()}, 1);
    const QString storePath = QDir(withStore).filePath(CardStore::FileName());
    const QByteArray before = ReadBytes(storePath);
    ASSERT_EQ(::chmod(dir.path().toUtf8().constData(), 0755), 0);
    ASSERT_EQ(::chmod(withStore.toUtf8().constData(), 0555), 0);
    ASSERT_EQ(::chmod(empty.toUtf8().constData(), 0555), 0);

    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(channel[0]);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(2);
        QByteArray out;
        for (const QString& folder : {withStore, empty}) {
            for (const QString& line : TellRun(folder))
                out += line.toUtf8() + '\n';
            out += "--\n";
        }
        const bool written = ::write(channel[1], out.constData(),
                                     static_cast<std::size_t>(out.size())) == out.size();
        ::_exit(written ? 0 : 3);
    }
    ::close(channel[1]);
    QByteArray got;
    char buffer[4096];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        got.append(buffer, n);
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::chmod(withStore.toUtf8().constData(), 0755);
    ::chmod(empty.toUtf8().constData(), 0755);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    const QString emptyPath = QDir(empty).filePath(CardStore::FileName());
    EXPECT_EQ(QString::fromUtf8(got).toStdString(),
              (Line(storePath, u"запись запрещена"_s) + u"\n--\n"_s +
               Line(emptyPath, u"запись запрещена"_s) + u"\n--\n"_s)
                  .toStdString());
    EXPECT_EQ(ReadBytes(storePath), before);
    EXPECT_FALSE(QFile::exists(emptyPath));
}

// Another process writing the same store: a flush waits at most the busy
// time-out, keeps its writes for the next flush, and no line is given while
// the store is only busy.
TEST(CardStoreBadCases, AnotherProcessHoldingTheStoreDelaysWritesWithoutLosingThem) {
    QTemporaryDir dir;
    const QString path = dir.filePath(CardStore::FileName());
    CardStore store(dir.path(), 50);
    store.BeginRun(Settings(), u"run-1.journal"_s, Day(1));

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    store.Found(Url(u"a"_s));
    store.RowWritten(Card(u"a"_s));
    store.Flush();
    EXPECT_TRUE(store.TakeLines().empty());
    EXPECT_TRUE(store.Available());
    ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);

    store.Flush();
    EXPECT_EQ(Query(path, "SELECT count(*) FROM run_cards"), 1);

    // Still held at the end: the run's end is not recorded, the run is not
    // held longer, and the line says why.
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    store.Gone(Url(u"b"_s));
    const StoreReport report = store.FinishRun(true, Day(1, 11), dir.filePath(u"c.csv"_s));
    EXPECT_EQ(report.lines,
              std::vector<QString>{Line(path, u"база занята другой копией программы"_s)});
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(Query(path, "SELECT count(*) FROM runs WHERE ended IS NULL"), 1);
}

} // namespace
