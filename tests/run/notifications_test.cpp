// The run's six notifications, called on the window thread as the run calls
// them, with the tick count injected.
#include "run/run_support.h"
#include "run/scraper.h"

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>

using namespace runtest;

namespace {

std::atomic<std::uint32_t> gTick{0};
std::uint32_t FakeTick() {
    return gTick.load();
}

// Injects FakeTick for the life of the object.
struct FakeTicks {
    FakeTicks() { TScraper::TickSource = &FakeTick; }
    ~FakeTicks() { TScraper::TickSource = nullptr; }
};

// A run that is never started, wired to bare widgets.
struct BareRun {
    QPlainTextEdit log;
    QProgressBar bar;
    QPushButton start;
    QTimer resume;
    QListWidget cities;
    QListWidget cats;
    QLabel found;
    std::shared_ptr<TScraper> run = std::make_shared<TScraper>();

    BareRun() {
        bar.setRange(0, 100);
        bar.setValue(0);
        run->LogsMemo = &log;
        run->ProgressBar = &bar;
        run->StartButton = &start;
        run->ResumeTimer = &resume;
        run->CitiesListBox = &cities;
        run->CatsListBox = &cats;
        run->Label4 = &found;
    }
    ~BareRun() {
        while (run->Suspended())
            run->Resume();
    }
    void progress(int position, int maximum) {
        run->ProgressBarPosition = position;
        run->ProgressBarMax = maximum;
        run->PostProgress();
    }
    QString lastLine() const { return LogLines(&log).value(LogLines(&log).size() - 1); }
};

// A line as the notifications write it: a time stamp of this moment, ": ",
// then the text.
::testing::AssertionResult IsStamped(const QString& line, const QString& text,
                                     const QString& stampBefore) {
    const QString stampAfter = Timestamp();
    if (line == stampBefore + QStringLiteral(": ") + text ||
        line == stampAfter + QStringLiteral(": ") + text)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "line \"" << line.toStdString() << "\", expected \"" << stampAfter.toStdString()
           << ": " << text.toStdString() << "\"";
}

} // namespace

TEST(RunNotifications, ProgressIsShownAtMostOncePerSecondEvenAcrossTheTickWrap) {
    FakeTicks ticks;
    BareRun r;
    LastProgressTick = 0;
    gTick = 5000;
    r.progress(2, 5);
    EXPECT_EQ(r.bar.value(), 2);
    EXPECT_EQ(r.bar.maximum(), 5);
    EXPECT_EQ(r.bar.toolTip(), QStringLiteral("40%: 2 из 5, осталось 3"));
    EXPECT_EQ(LastProgressTick, 5000u);

    // 500 ms later nothing changes, not even the hint; exactly 1000 ms later
    // neither.
    for (const std::uint32_t tick : {5500u, 6000u}) {
        gTick = tick;
        r.progress(4, 8);
        EXPECT_EQ(r.bar.value(), 2) << tick;
        EXPECT_EQ(r.bar.maximum(), 5) << tick;
        EXPECT_EQ(r.bar.toolTip(), QStringLiteral("40%: 2 из 5, осталось 3")) << tick;
        EXPECT_EQ(LastProgressTick, 5000u) << tick;
    }
    gTick = 6001;
    r.progress(4, 8);
    EXPECT_EQ(r.bar.value(), 4);
    EXPECT_EQ(r.bar.toolTip(), QStringLiteral("50%: 4 из 8, осталось 4"));
    EXPECT_EQ(LastProgressTick, 6001u);

    // The tick counter wraps at 2^32: 768 ms after the last display is too
    // early, 1008 ms is not.
    LastProgressTick = 0xFFFFFD00u;
    gTick = 0x00000000u;
    r.progress(1, 8);
    EXPECT_EQ(r.bar.value(), 4);
    EXPECT_EQ(LastProgressTick, 0xFFFFFD00u);
    gTick = 0x000000F0u;
    r.progress(1, 8);
    EXPECT_EQ(r.bar.value(), 1);
    EXPECT_EQ(r.bar.toolTip(), QStringLiteral("12%: 1 из 8, осталось 7"));
    EXPECT_EQ(LastProgressTick, 0x000000F0u);

    // A tick far below the last one is a wrapped counter, i.e. far in the
    // future: shown.
    LastProgressTick = 4000000000u;
    gTick = 10;
    r.progress(3, 8);
    EXPECT_EQ(r.bar.value(), 3);
}

TEST(RunNotifications, ProgressHintRoundsHalvesToEvenAndKeepsToTheBar) {
    FakeTicks ticks;
    BareRun r;
    LastProgressTick = 0;
    std::uint32_t tick = 10000;
    const auto show = [&](int position, int maximum) {
        tick += 2000;
        gTick = tick;
        r.progress(position, maximum);
        return r.bar.toolTip();
    };
    EXPECT_EQ(show(1, 8), QStringLiteral("12%: 1 из 8, осталось 7"));
    EXPECT_EQ(show(3, 8), QStringLiteral("38%: 3 из 8, осталось 5"));
    EXPECT_EQ(show(5, 8), QStringLiteral("62%: 5 из 8, осталось 3"));
    EXPECT_EQ(show(7, 8), QStringLiteral("88%: 7 из 8, осталось 1"));
    EXPECT_EQ(show(2, 3), QStringLiteral("67%: 2 из 3, осталось 1"));
    EXPECT_EQ(show(1, 200), QStringLiteral("0%: 1 из 200, осталось 199"));
    EXPECT_EQ(show(3, 200), QStringLiteral("2%: 3 из 200, осталось 197"));
    EXPECT_EQ(show(5, 200), QStringLiteral("2%: 5 из 200, осталось 195"));

    // A position above the maximum shows the maximum.
    EXPECT_EQ(show(7, 5), QStringLiteral("100%: 5 из 5, осталось 0"));
    EXPECT_EQ(r.bar.value(), 5);
    EXPECT_EQ(r.bar.maximum(), 5);
    EXPECT_EQ(show(-3, 5), QStringLiteral("0%: 0 из 5, осталось 5"));

    // A maximum of 0 (or below) must not fail; the bar shows an empty range
    // and the next ordinary display is whole again.
    EXPECT_NO_THROW(show(3, 0));
    EXPECT_EQ(r.bar.maximum(), 0);
    EXPECT_EQ(r.bar.value(), 0);
    EXPECT_EQ(r.bar.toolTip(), QStringLiteral("0%: 0 из 0, осталось 0"));
    EXPECT_NO_THROW(show(0, -4));
    EXPECT_EQ(r.bar.maximum(), 0);
    EXPECT_EQ(show(2, 4), QStringLiteral("50%: 2 из 4, осталось 2"));
    EXPECT_EQ(r.bar.value(), 2);
    EXPECT_EQ(r.bar.maximum(), 4);
}

TEST(RunNotifications, LogLineAndFoundCount) {
    BareRun r;
    r.log.appendPlainText(QStringLiteral("earlier"));
    r.run->LogMessageText = QStringLiteral("Найдено 3 новых карточек на странице");
    const QString stamp = Timestamp();
    r.run->PostLogLine();
    ASSERT_EQ(LogLines(&r.log).size(), 2);
    EXPECT_TRUE(
        IsStamped(r.lastLine(), QStringLiteral("Найдено 3 новых карточек на странице"), stamp));

    r.run->firmscounter = 1234567;
    r.run->PostFoundCount();
    EXPECT_EQ(r.found.text(), QStringLiteral("Найдено карточек: 1234567"));
    r.run->firmscounter = 0;
    r.run->PostFoundCount();
    EXPECT_EQ(r.found.text(), QStringLiteral("Найдено карточек: 0"));
}

// The start display clears the log and locks the selection; the end display
// writes the run log file named from a wrapping tick, in UTF-8 with CR LF,
// its own line included, and unlocks again.
TEST(RunNotifications, StartAndEndDisplaysAndTheRunLogFile) {
    Workspace ws;
    ASSERT_TRUE(ws.valid());
    FakeTicks ticks;
    BareRun r;
    int ended = 0;
    QString endError = QStringLiteral("not called");
    r.run->OnRunEnded = [&](const QString& error) {
        ++ended;
        endError = error;
    };
    r.log.appendPlainText(QStringLiteral("Загружаем города и категории с сайта..."));

    r.run->CursorHourGlass = true;
    QString stamp = Timestamp();
    r.run->PostRunState();
    ASSERT_EQ(LogLines(&r.log).size(), 1);
    EXPECT_TRUE(IsStamped(r.lastLine(), kStartLine, stamp));
    EXPECT_FALSE(r.cities.isEnabled());
    EXPECT_FALSE(r.cats.isEnabled());
    EXPECT_FALSE(r.start.isEnabled());
    EXPECT_EQ(ended, 0);

    r.run->LogMessageText = QStringLiteral("Карточка https://web.test/pro/a: успешно");
    r.run->PostLogLine();
    gTick = 3000000000u;
    r.run->CursorHourGlass = false;
    stamp = Timestamp();
    r.run->PostRunState();
    const QString logPath = ws.path(QStringLiteral("log--1294967296.txt"));
    ASSERT_EQ(LogLines(&r.log).size(), 3);
    EXPECT_TRUE(IsStamped(r.lastLine(), kEndPrefix + logPath, stamp));
    EXPECT_TRUE(r.cities.isEnabled());
    EXPECT_TRUE(r.cats.isEnabled());
    EXPECT_TRUE(r.start.isEnabled());
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(endError.isEmpty());

    QFile file(logPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const QByteArray expected =
        (LogLines(&r.log).join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
    EXPECT_EQ(bytes, expected);
    EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF"));
    EXPECT_TRUE(bytes.contains("\xD0\x9D\xD0\xB0\xD1\x87\xD0\xB8\xD0\xBD\xD0\xB0\xD0\xB5\xD0\xBC"))
        << "Начинаем in UTF-8";
    EXPECT_EQ(ws.files(QStringLiteral("log-*.txt")), QStringList{"log--1294967296.txt"});
}

// A run log file that cannot be written: the last line says so instead of
// claiming it was written, the window is unlocked as after any run, and
// whoever waits for the run's end hears of it.
TEST(RunNotifications, RunLogFileThatCannotBeWritten) {
    Workspace ws;
    ASSERT_TRUE(ws.valid());
    FakeTicks ticks;
    gTick = 777;
    // A program folder that is a file by now: nothing can be made in it.
    QFile notAFolder(ws.path(QStringLiteral("gone")));
    ASSERT_TRUE(notAFolder.open(QIODevice::WriteOnly));
    notAFolder.close();
    SetProgramFolder(ws.path(QStringLiteral("gone/")));
    BareRun r;
    QStringList endErrors;
    r.run->OnRunEnded = [&](const QString& error) { endErrors << error; };
    r.run->CursorHourGlass = true;
    r.run->PostRunState();
    r.run->CursorHourGlass = false;
    EXPECT_NO_THROW(r.run->PostRunState());
    const QString path = ws.path(QStringLiteral("gone/log-777.txt"));
    const QStringList lines = Unstamped(LogLines(&r.log));
    ASSERT_EQ(lines.size(), 2);
    const QString failed =
        QStringLiteral("Ошибка: не удалось записать лог в ") + path + QStringLiteral(": ");
    EXPECT_TRUE(lines[1].startsWith(failed) && lines[1].size() > failed.size())
        << lines[1].toStdString();
    EXPECT_TRUE(r.cities.isEnabled());
    EXPECT_TRUE(r.cats.isEnabled());
    EXPECT_TRUE(r.start.isEnabled());
    ASSERT_EQ(endErrors.size(), 1);
    EXPECT_TRUE(endErrors[0].contains(path)) << endErrors[0].toStdString();
}

// START followed by a stop before the run's thread has begun: the run still
// shows its start and its end, writes its run log and gives START back.
TEST(RunNotifications, ARunStoppedBeforeItBeganStillEnds) {
    Workspace ws;
    ASSERT_TRUE(ws.valid());
    BareRun r;
    r.start.setEnabled(false); // as START leaves it
    r.run->Terminate();
    r.run->Start();
    ASSERT_TRUE(WaitUntil([&] { return r.run->Finished(); }));
    const QStringList lines = Unstamped(LogLines(&r.log));
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines.first(), kStartLine);
    EXPECT_TRUE(lines.last().startsWith(kEndPrefix));
    EXPECT_TRUE(QFile::exists(lines.last().mid(kEndPrefix.size())));
    EXPECT_TRUE(r.start.isEnabled());
    EXPECT_TRUE(r.run->Ended());
}

TEST(RunNotifications, ResultOkOrErrorWithTheThirtySecondPause) {
    BareRun r;
    r.run->result = QStringLiteral("ok");
    QString stamp = Timestamp();
    r.run->PostResult();
    EXPECT_TRUE(IsStamped(r.lastLine(), kDone, stamp));
    EXPECT_FALSE(r.resume.isActive());
    EXPECT_FALSE(r.run->Suspended());

    r.run->result = QStringLiteral("ERROR_Read timed out");
    stamp = Timestamp();
    r.run->PostResult();
    QStringList lines = LogLines(&r.log);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(IsStamped(lines[1], QStringLiteral("Ошибка: Read timed out"), stamp));
    EXPECT_TRUE(IsStamped(lines[2], kErrorPause, stamp));
    EXPECT_EQ(r.resume.interval(), 30000);
    EXPECT_TRUE(r.resume.isActive());
    EXPECT_TRUE(r.run->Suspended());
    r.run->Resume();
    EXPECT_FALSE(r.run->Suspended());

    // The message is cut to 200 characters.
    QString message;
    for (int i = 0; i < 300; ++i)
        message += QChar(i < 150 ? u'x' : u'Щ');
    r.run->result = QStringLiteral("ERROR_") + message;
    r.resume.stop();
    r.run->PostResult();
    lines = LogLines(&r.log);
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(Unstamped(lines[3]), QStringLiteral("Ошибка: ") + message.left(200));
    EXPECT_EQ(Unstamped(lines[4]), kErrorPause);
    EXPECT_TRUE(r.resume.isActive());
    r.run->Resume();

    // "ERROR" anywhere makes it an error; a cut never leaves half a
    // surrogate pair behind.
    r.run->result = QStringLiteral("ERROR_") + QString(199, u'a') + QStringLiteral("\U0001F600b");
    r.run->PostResult();
    lines = LogLines(&r.log);
    EXPECT_EQ(Unstamped(lines[5]), QStringLiteral("Ошибка: ") + QString(199, u'a'));
    r.run->Resume();
}

// A pause pressed just before the error's own pause: the run is paused once,
// so the timer's resume (or one press of pause) really lets it go on.
TEST(RunNotifications, APauseBeforeTheErrorPauseCountsOnce) {
    BareRun r;
    r.run->Suspend();
    r.run->result = QStringLiteral("ERROR_x");
    r.run->PostResult();
    EXPECT_TRUE(r.run->Suspended());
    r.run->Resume();
    EXPECT_FALSE(r.run->Suspended());
}

// An error that arrives after a stop is logged, but the stopped run is not
// paused again.
TEST(RunNotifications, ErrorAfterAStopDoesNotPause) {
    BareRun r;
    r.run->Terminate();
    r.run->result = QStringLiteral("ERROR_Read timed out");
    r.run->PostResult();
    const QStringList lines = LogLines(&r.log);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(Unstamped(lines[0]), QStringLiteral("Ошибка: Read timed out"));
    EXPECT_FALSE(r.resume.isActive());
    EXPECT_FALSE(r.run->Suspended());
}

// Arming restarts the 30 seconds, also when the timer already runs.
TEST(RunNotifications, ArmResumeTimerRestartsTheCount) {
    BareRun r;
    r.resume.setInterval(1000);
    r.resume.start();
    r.run->ArmResumeTimer();
    EXPECT_EQ(r.resume.interval(), 30000);
    EXPECT_TRUE(r.resume.isActive());
    EXPECT_GT(r.resume.remainingTime(), 29000);
    EXPECT_TRUE(LogLines(&r.log).isEmpty());
}
