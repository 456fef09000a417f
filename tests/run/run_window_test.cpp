// Whole runs in the window against the demo site: the log from START to the
// end line, the run log file, the result file, and the window's state.
#include "run/window_fixture.h"

#include <QLabel>
#include <QTest>

#include <cstring>

using namespace runtest;

namespace {

QStringList CardLines(const QStringList& lines) {
    QStringList out;
    for (const QString& line : lines) {
        if (line.startsWith(kCardPrefix))
            out << line;
    }
    return out;
}

} // namespace

// One pair with the notice on its listing page: every step in order, the
// rows equal to the site's data, in the order the cards were handled.
TEST_F(RunWindowTest, OnePairFromStartToTheResultFile) {
    Open({"--scale", "8"});
    SelectPairs({kMoscow}, {QStringLiteral("santehniki")});
    const nlohmann::json expected = Expected(*site_, QStringLiteral("santehniki"), kMoscow);
    const nlohmann::json* pair = FindPair(expected, QStringLiteral("santehniki"), kMoscow);
    ASSERT_NE(pair, nullptr);
    ASSERT_TRUE((*pair)["notice"].get<bool>());
    const QString web = Config().WebHost;

    form_->StartButtonClick();
    ASSERT_TRUE(form_->CurrentRun);
    // Pause and stop pressed while the end display is on the screen find a
    // run that has ended: they write nothing and hold nothing.
    bool activeAtEnd = true;
    form_->CurrentRun->OnRunEnded = [&](const QString&) {
        form_->PauseButtonClick();
        form_->StopButtonClick();
        activeAtEnd = form_->RunActive();
    };
    ASSERT_TRUE(WaitForLine(QStringLiteral("Начинаем работу...")));
    EXPECT_FALSE(form_->StartButton->isEnabled());
    EXPECT_FALSE(form_->CitiesListBox->isEnabled());
    EXPECT_FALSE(form_->CatsListBox->isEnabled());
    EXPECT_TRUE(form_->PauseButton->isEnabled());
    EXPECT_TRUE(form_->StopButton->isEnabled());
    ASSERT_TRUE(WaitRunEnd());

    const QStringList lines = Lines();
    std::set<QString> seen;
    int collected = 0;
    QStringList head = {kStartLine, QStringLiteral("Начинаем работу...")};
    head << PairPageLines(*pair, 0, web, seen, collected);
    ASSERT_EQ(collected, 8);
    head << kFoundPrefix + QStringLiteral("8");
    ASSERT_GE(lines.size(), head.size() + 12);
    EXPECT_EQ(lines.mid(0, head.size()), head);

    const QString resultPath = ResultPath();
    EXPECT_EQ(lines[head.size()], kFilePrefix + resultPath);
    EXPECT_TRUE(resultPath.startsWith(ws_.folder() + QStringLiteral("data")));
    EXPECT_TRUE(resultPath.endsWith(QStringLiteral(".csv")));

    QStringList wantCards;
    for (const auto& slug : (*pair)["cards"])
        wantCards << kCardPrefix + CardUrl(web, Str(slug)) + QStringLiteral(": успешно");
    const QStringList cardLines = CardLines(lines);
    EXPECT_EQ(cardLines.size(), 8);
    EXPECT_EQ(lines.mid(head.size() + 1, 8), cardLines) << "card lines follow the file line";
    QStringList sortedGot = cardLines, sortedWant = wantCards;
    sortedGot.sort();
    sortedWant.sort();
    EXPECT_EQ(sortedGot, sortedWant);

    // The summary of the eight rows, then the end lines.
    const CsvFile written = ReadCsv(resultPath);
    ASSERT_EQ(written.rows.size(), 8u);
    const QStringList tail = lines.mid(head.size() + 9);
    ASSERT_EQ(tail.size(), 5) << tail.join('\n').toStdString();
    EXPECT_EQ(tail[0], QStringLiteral("Итог: найдено карточек 8, записано строк 8, не скачано 0"));
    EXPECT_EQ(tail[1], ExpectedFillLine(written.rows));
    EXPECT_EQ(tail[2], kDone);
    EXPECT_EQ(tail[3], kOpening);
    ASSERT_TRUE(tail[4].startsWith(kEndPrefix + ws_.folder() + QStringLiteral("log-")));
    EXPECT_FALSE(activeAtEnd);
    EXPECT_TRUE(WaitUntil([&] { return form_->CurrentRun->Finished(); }, 10000));

    // The window is idle again and shows the count.
    EXPECT_TRUE(form_->StartButton->isEnabled());
    EXPECT_TRUE(form_->CitiesListBox->isEnabled());
    EXPECT_TRUE(form_->CatsListBox->isEnabled());
    EXPECT_EQ(form_->Label4->text(), QStringLiteral("Найдено карточек: 8"));

    // The run log file holds the whole log, its own line included.
    const QString logPath = tail[4].mid(kEndPrefix.size());
    QFile logFile(logPath);
    ASSERT_TRUE(logFile.open(QIODevice::ReadOnly)) << logPath.toStdString();
    EXPECT_EQ(
        logFile.readAll(),
        (LogLines(form_->LogsMemo).join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());

    // The result file: one row per card, in the order the cards were
    // handled, each with the site's values.
    const CsvFile csv = ReadCsv(resultPath);
    ASSERT_TRUE(csv.wellFormed) << csv.problem.toStdString();
    EXPECT_EQ(csv.header, ExpectedHeader());
    ASSERT_EQ(csv.rows.size(), 8u);
    for (std::size_t i = 0; i < csv.rows.size(); ++i) {
        const QString url = cardLines[static_cast<qsizetype>(i)]
                                .mid(kCardPrefix.size())
                                .chopped(QStringLiteral(": успешно").size());
        EXPECT_EQ(csv.rows[i], ExpectedRow(expected, url, DecimalSeparator())) << i;
    }
    EXPECT_EQ(ws_.files(QStringLiteral("data*.csv")).size(), 1);
}

// START with a list lacking a selection writes only its refusal line and
// starts nothing; with both lacking, only the city line.
TEST(RunControl, StartIsRefusedWithoutACityOrACategory) {
    Workspace ws;
    ASSERT_TRUE(ws.valid());
    TMainForm form;
    form.Timer1->stop();
    form.CitiesListBox->addItems({kMoscow, kKazan});
    form.CatsListBox->addItems({QStringLiteral("Сантехники (santehniki)")});
    form.CategoryIds = {QStringLiteral("1")};

    form.StartButtonClick();
    EXPECT_EQ(LogLines(form.LogsMemo), QStringList{kNoCity});
    EXPECT_FALSE(form.CurrentRun);

    form.CatsListBox->item(0)->setSelected(true);
    form.StartButtonClick();
    EXPECT_EQ(LogLines(form.LogsMemo), (QStringList{kNoCity, kNoCity}));
    EXPECT_FALSE(form.CurrentRun);

    form.CatsListBox->item(0)->setSelected(false);
    form.CitiesListBox->item(1)->setSelected(true);
    form.StartButtonClick();
    EXPECT_EQ(LogLines(form.LogsMemo), (QStringList{kNoCity, kNoCity, kNoCategory}));
    EXPECT_FALSE(form.CurrentRun);
    EXPECT_TRUE(form.StartButton->isEnabled());
}

// Pause, stop and the resume timer with no run write nothing.
TEST(RunControl, PauseStopAndTimerWithoutARunDoNothing) {
    TMainForm form;
    form.Timer1->stop();
    form.ProgressBar->setValue(40);
    form.PauseButtonClick();
    form.StopButtonClick();
    form.ResumeTimer->setInterval(30000);
    form.ResumeTimer->start();
    form.ResumeTimerTimer();
    EXPECT_FALSE(form.ResumeTimer->isActive());
    EXPECT_TRUE(LogLines(form.LogsMemo).isEmpty());
    EXPECT_FALSE(form.CurrentRun);
    EXPECT_EQ(form.ProgressBar->value(), 40);
}

// Pause holds the run at its next safe point; pause again lets it go on to
// its end.
TEST_F(RunWindowTest, PauseAndPauseAgain) {
    Open({"--scale", "3"}, Lists::ByHand);
    SelectPairs({kPiter}, {QStringLiteral("santehniki"), QStringLiteral("elektriki")});
    form_->StartButtonClick();
    ASSERT_TRUE(HoldAfterLine(QStringLiteral("Начинаем работу...")));
    Release();
    form_->PauseButtonClick();
    EXPECT_TRUE(form_->CurrentRun->Suspended());
    EXPECT_EQ(Lines().last(), kPauseOn);
    // Held: nothing more is written however long the window keeps running.
    PumpEvents(300);
    EXPECT_EQ(Lines().last(), kPauseOn);
    EXPECT_TRUE(form_->RunActive());

    form_->PauseButtonClick();
    EXPECT_FALSE(form_->CurrentRun->Suspended());
    EXPECT_EQ(Lines().last(), kPauseOff);
    ASSERT_TRUE(WaitRunEnd());
    const QStringList lines = Lines();
    EXPECT_EQ(lines.mid(0, 4),
              (QStringList{kStartLine, QStringLiteral("Начинаем работу..."), kPauseOn, kPauseOff}));
    EXPECT_TRUE(lines.contains(kFoundPrefix + QStringLiteral("6")));
    EXPECT_TRUE(lines.contains(kDone));
    EXPECT_TRUE(lines.last().startsWith(kEndPrefix));
}

// Stop in phase 1: the bar goes to 0 at once, the run ends with its end line
// and leaves no count line, no result file and no result.
TEST_F(RunWindowTest, StopWhileRunningInPhaseOne) {
    Open({"--scale", "3"}, Lists::ByHand);
    SelectPairs({kPiter, kEkb, kKazan},
                {QStringLiteral("santehniki"), QStringLiteral("repetitory-po-matematike")});
    form_->StartButtonClick();
    ASSERT_TRUE(HoldAfterLine(
        [](const QString& line) { return line.endsWith(QStringLiteral(": успешно")); }));
    Release();
    form_->StopButtonClick();
    EXPECT_EQ(Lines().last(), kStopping);
    EXPECT_EQ(form_->ProgressBar->value(), 0);
    ASSERT_TRUE(WaitRunEnd());
    const QStringList lines = Lines();
    EXPECT_TRUE(lines.last().startsWith(kEndPrefix));
    EXPECT_FALSE(AnyLine(lines, [](const QString& l) { return l.startsWith(kFoundPrefix); }));
    EXPECT_FALSE(lines.contains(kDone));
    EXPECT_FALSE(AnyLine(lines, [](const QString& l) { return l.startsWith(kFilePrefix); }));
    EXPECT_TRUE(ws_.files(QStringLiteral("data*.csv")).isEmpty());
    EXPECT_EQ(ws_.files(QStringLiteral("log-*.txt")).size(), 1);
    EXPECT_TRUE(form_->StartButton->isEnabled());

    // Pause and stop on the finished run write nothing.
    const int count = static_cast<int>(lines.size());
    form_->PauseButtonClick();
    form_->StopButtonClick();
    form_->ResumeTimerTimer();
    EXPECT_EQ(Lines().size(), count);
    EXPECT_FALSE(form_->CurrentRun->Suspended());
}

// Stop on a paused run resumes it so that it can see the request and end.
TEST_F(RunWindowTest, StopWhilePaused) {
    Open({"--scale", "3"}, Lists::ByHand);
    SelectPairs({kPiter}, {QStringLiteral("santehniki")});
    form_->StartButtonClick();
    ASSERT_TRUE(HoldAfterLine(QStringLiteral("Начинаем работу...")));
    Release();
    form_->PauseButtonClick();
    PumpEvents(100);
    form_->StopButtonClick();
    ASSERT_TRUE(WaitRunEnd());
    const QStringList lines = Lines();
    ASSERT_EQ(lines.size(), 5) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.mid(0, 4),
              (QStringList{kStartLine, QStringLiteral("Начинаем работу..."), kPauseOn, kStopping}));
    EXPECT_TRUE(lines[4].startsWith(kEndPrefix));
}

// A second START after a run has ended starts a new run and leaves the
// finished one alone.
TEST_F(RunWindowTest, StartAgainAfterARunHasEnded) {
    Open({"--scale", "2"}, Lists::ByHand);
    SelectPairs({kEkb}, {QStringLiteral("yuristy")});
    form_->StartButtonClick();
    ASSERT_TRUE(WaitRunEnd());
    const std::shared_ptr<TScraper> first = form_->CurrentRun;
    ASSERT_TRUE(first->Finished());
    ASSERT_TRUE(Lines().contains(kDone));

    form_->StartButtonClick();
    ASSERT_NE(form_->CurrentRun, first);
    ASSERT_TRUE(WaitRunEnd());
    const QStringList lines = Lines();
    EXPECT_EQ(lines.first(), kStartLine);
    EXPECT_EQ(lines.count(kStartLine), 1) << "the log starts afresh";
    EXPECT_TRUE(lines.contains(kFoundPrefix + QStringLiteral("2")));
    EXPECT_TRUE(lines.contains(kDone));
    EXPECT_TRUE(first->Finished());
    EXPECT_EQ(ws_.files(QStringLiteral("data*.csv")).size(), 2);
}

// A double click on START, and a click handled after it before the run's
// first notification, give one run: the button is disabled at once and a
// second START is refused while a run is active.
TEST_F(RunWindowTest, ADoubleClickOnStartGivesOneRun) {
    Open({"--scale", "3"}, Lists::ByHand);
    SelectPairs({kEkb}, {QStringLiteral("fotografy")});
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    // What a double click delivers: press, release, double-click press, release.
    QTest::mouseClick(form_->StartButton, Qt::LeftButton);
    QTest::mouseDClick(form_->StartButton, Qt::LeftButton);
    QTest::mouseRelease(form_->StartButton, Qt::LeftButton);
    ASSERT_TRUE(form_->RunActive());
    EXPECT_FALSE(form_->StartButton->isEnabled());
    const std::shared_ptr<TScraper> run = form_->CurrentRun;
    form_->StartButtonClick();
    EXPECT_EQ(form_->CurrentRun, run);
    ASSERT_TRUE(WaitRunEnd());
    EXPECT_EQ(Lines().count(kStartLine), 1);
    EXPECT_EQ(ws_.files(QStringLiteral("data*.csv")).size(), 1);
    EXPECT_EQ(ws_.files(QStringLiteral("log-*.txt")).size(), 1);
    EXPECT_TRUE(form_->StartButton->isEnabled());
}

// Closing the window at any moment of a run, from inside any of the six
// notifications too (the run waits for it then): the run stops, writes its
// end lines, its run log and its result file, and then the window closes.
struct CloseMoment {
    const char* notification;
    const char* afterLine; // the first call once the last log line starts so; null: the first
    bool withError;        // the selection holds the faulty listing page
};

void PrintTo(const CloseMoment& moment, std::ostream* out) {
    *out << moment.notification << (moment.afterLine != nullptr ? " in phase 2" : "");
}

class CloseDuringRun : public RunWindowTest, public ::testing::WithParamInterface<CloseMoment> {
protected:
    static inline TMainForm* form = nullptr;
    static inline const CloseMoment* moment = nullptr;
    static inline bool closed = false;
    static void Hook(TScraper& run, const char* notification) {
        if (closed || std::strcmp(notification, moment->notification) != 0)
            return;
        if (moment->afterLine != nullptr &&
            !run.LogMessageText.startsWith(QString::fromUtf8(moment->afterLine)))
            return;
        closed = true;
        form->close();
    }
    void TearDown() override {
        TScraper::NotificationHook = nullptr;
        RunWindowTest::TearDown();
    }
};

TEST_P(CloseDuringRun, StopsTheRunAndClosesOnceItsFilesAreWritten) {
    moment = &GetParam();
    // Kazan/electricians has the faulty listing page: an error and its pause.
    Open({"--faults", "--scale", "3"}, Lists::ByHand);
    SelectPairs({kKazan}, moment->withError ? QStringList{QStringLiteral("santehniki"),
                                                          QStringLiteral("elektriki")}
                                            : QStringList{QStringLiteral("santehniki")});
    form_->show();
    form = form_.get();
    closed = false;
    TScraper::NotificationHook = &Hook;
    form_->StartButtonClick();
    bool activeAtClose = true;
    ASSERT_TRUE(WaitUntil(
        [&] {
            if (form_->isVisible())
                return false;
            activeAtClose = form_->RunActive();
            return true;
        },
        30000))
        << Lines().join('\n').toStdString();
    EXPECT_TRUE(closed);
    EXPECT_FALSE(activeAtClose) << "closed before the run had ended";

    const QStringList lines = Lines();
    EXPECT_TRUE(lines.contains(kStopping)) << lines.join('\n').toStdString();
    EXPECT_FALSE(lines.contains(kPauseOff));
    ASSERT_TRUE(lines.last().startsWith(kEndPrefix)) << lines.join('\n').toStdString();
    QFile log(lines.last().mid(kEndPrefix.size()));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(
        log.readAll(),
        (LogLines(form_->LogsMemo).join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());
    const bool phase2 = moment->afterLine != nullptr;
    EXPECT_EQ(ws_.files(QStringLiteral("data*.csv")).size(), phase2 ? 1 : 0);
    if (phase2) {
        EXPECT_TRUE(lines.contains(kOpening));
        const CsvFile csv = ReadCsv(ResultPath());
        ASSERT_TRUE(csv.wellFormed) << csv.problem.toStdString();
        EXPECT_EQ(static_cast<int>(csv.rows.size()),
                  lines.filter(QStringLiteral(": успешно")).filter(kCardPrefix).size());
    }
    EXPECT_TRUE(QFile::exists(ws_.path(QStringLiteral("selection1.txt"))));
    EXPECT_TRUE(QFile::exists(ws_.path(QStringLiteral("selection2.txt"))));
}

INSTANTIATE_TEST_SUITE_P(EveryNotification, CloseDuringRun,
                         ::testing::Values(CloseMoment{"PostRunState", nullptr, false},
                                           CloseMoment{"PostFoundCount", nullptr, false},
                                           CloseMoment{"PostResult", nullptr, true},
                                           CloseMoment{"ArmResumeTimer", nullptr, true},
                                           CloseMoment{"PostLogLine", "Карточка ", false},
                                           CloseMoment{"PostProgress", "Данные будут записываться",
                                                       false}),
                         [](const ::testing::TestParamInfo<CloseMoment>& info) {
                             return std::string(info.param.notification) +
                                    (info.param.afterLine != nullptr ? "InPhase2" : "");
                         });

// START with an interrupted run of the same selection: the question carries
// its figures; "Нет" starts anew and deletes the old journal, but not its
// data file. A damaged journal is never continued: the run says so in one
// line, starts anew and keeps the journal renamed with ".bad".
TEST_F(RunWindowTest, AnInterruptedRunIsOfferedAndADamagedJournalIsSetAside) {
    Open({"--scale", "12"}, Lists::ByHand);
    SelectPairs({kEkb}, {QStringLiteral("fotografy")});
    const QString first = StoppedRun();
    const CsvFile firstCsv = ReadCsv(ResultPath());
    ASSERT_GE(firstCsv.rows.size(), 1u);

    answer_ = ContinueAnswer::StartAnew;
    form_->StartButtonClick();
    EXPECT_EQ(questions_, 1);
    EXPECT_EQ(lastQuestion_.journal, first);
    EXPECT_EQ(lastQuestion_.cards, 12);
    EXPECT_EQ(lastQuestion_.rows, static_cast<std::int64_t>(firstCsv.rows.size()));
    EXPECT_FALSE(QFile::exists(first));
    ASSERT_TRUE(WaitRunEnd());
    EXPECT_TRUE(Lines().contains(kDone));
    EXPECT_EQ(ws_.files(QStringLiteral("data*.csv")).size(), 2);
    EXPECT_TRUE(ws_.files(QStringLiteral("run-*")).isEmpty());

    // A flipped byte in the middle of the next stopped run's journal.
    const QString damaged = StoppedRun();
    {
        QFile file(damaged);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        bytes[bytes.size() / 3] = static_cast<char>(bytes[bytes.size() / 3] ^ 0x20);
        file.seek(0);
        file.write(bytes);
    }
    answer_ = ContinueAnswer::Continue;
    form_->StartButtonClick();
    EXPECT_EQ(questions_, 1) << "a damaged journal is not offered";
    ASSERT_TRUE(WaitRunEnd());
    const QStringList lines = Lines();
    EXPECT_EQ(lines.filter(QStringLiteral("Журнал прерванного сбора ")).size(), 1)
        << lines.join('\n').toStdString();
    EXPECT_FALSE(lines.filter(QStringLiteral(".journal.bad")).isEmpty());
    EXPECT_TRUE(lines.contains(kDone));
    EXPECT_TRUE(lines.contains(kFoundPrefix + QStringLiteral("12")));
    EXPECT_EQ(ws_.files(QStringLiteral("run-*")),
              QStringList{QFileInfo(damaged).fileName() + QStringLiteral(".bad")});
}
