// Whole runs in the window against the demo site: the log from START to the
// end line, the run log file, the result file, and the window's state.
#include "run/window_fixture.h"

#include <QLabel>

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

    const QStringList tail = lines.mid(head.size() + 9);
    ASSERT_EQ(tail.size(), 3) << tail.join('\n').toStdString();
    EXPECT_EQ(tail[0], kDone);
    EXPECT_EQ(tail[1], kOpening);
    ASSERT_TRUE(tail[2].startsWith(kEndPrefix + ws_.folder() + QStringLiteral("log-")));
    EXPECT_FALSE(activeAtEnd);
    EXPECT_TRUE(WaitUntil([&] { return form_->CurrentRun->Finished(); }, 10000));

    // The window is idle again and shows the count.
    EXPECT_TRUE(form_->StartButton->isEnabled());
    EXPECT_TRUE(form_->CitiesListBox->isEnabled());
    EXPECT_TRUE(form_->CatsListBox->isEnabled());
    EXPECT_EQ(form_->Label4->text(), QStringLiteral("Найдено карточек: 8"));

    // The run log file holds the whole log, its own line included.
    const QString logPath = tail[2].mid(kEndPrefix.size());
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

// Closing the window during a run stops it and waits for its files.
TEST_F(RunWindowTest, ClosingTheWindowStopsTheRunAndLetsItFinishItsFiles) {
    Open({"--scale", "6"}, Lists::ByHand);
    SelectPairs({kPiter}, {QStringLiteral("santehniki"), QStringLiteral("elektriki")});
    form_->StartButtonClick();
    ASSERT_TRUE(HoldAfterLine([](const QString& l) { return l.startsWith(kCardPrefix); }));
    Release();
    EXPECT_TRUE(form_->FormClose());
    EXPECT_FALSE(form_->RunActive());
    const QStringList lines = Lines();
    EXPECT_TRUE(lines.contains(kStopping));
    EXPECT_TRUE(lines.last().startsWith(kEndPrefix));
    EXPECT_FALSE(lines.contains(kDone));
    const CsvFile csv = ReadCsv(ResultPath());
    ASSERT_TRUE(csv.wellFormed) << csv.problem.toStdString();
    EXPECT_EQ(static_cast<int>(csv.rows.size()),
              lines.filter(QStringLiteral(": успешно")).filter(kCardPrefix).size());
    EXPECT_TRUE(QFile::exists(ws_.path(QStringLiteral("selection1.txt"))));
    EXPECT_TRUE(QFile::exists(ws_.path(QStringLiteral("selection2.txt"))));
}
