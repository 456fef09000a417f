// Errors of a run against the demo site's faults: the error pause in either
// phase, failed card downloads, a stop in phase 2, and a result file that
// cannot be created or written.
#include "run/window_fixture.h"

#include <QDir>

#include <sys/resource.h>

#include <csignal>

using namespace runtest;

namespace {

const QString kPhase1Error =
    QStringLiteral("Ошибка: The category index \"\" on the listing page is not an integer");

const QString kNovosibirsk = QStringLiteral("Новосибирск--Новосибирская область");

std::uint32_t FixedTick() {
    return 424242;
}

} // namespace

// A listing page without its category marker is an error of phase 1: the run
// pauses itself for 30 seconds; once the timer's tick lets it go on, phase 1
// goes on: only that page is lost (its cards and its next page), every other
// pair is collected in full, queued pages and running requests alike.
TEST_F(RunWindowTest, ErrorInPhaseOneCostsOnlyItsOwnPage) {
    // Two pages a pair; the failing listing page (Kazan, electricians) is the
    // second of four items.
    Open({"--faults", "--scale", "30"}, Lists::ByHand);
    SelectPairs({kKazan, kNovosibirsk},
                {QStringLiteral("santehniki"), QStringLiteral("elektriki")});
    form_->StartButtonClick();
    ASSERT_TRUE(WaitForLine(kErrorPause));
    QStringList lines = Lines();
    const qsizetype error = lines.indexOf(kPhase1Error);
    ASSERT_GE(error, 0) << lines.join('\n').toStdString();
    EXPECT_EQ(lines[error + 1], kErrorPause);
    EXPECT_TRUE(lines[error - 1].contains(QStringLiteral("/professionals/elektriki/c/%D0%9A")) &&
                lines[error - 1].endsWith(QStringLiteral(": успешно")))
        << lines[error - 1].toStdString();
    EXPECT_EQ(form_->ResumeTimer->interval(), 30000);
    EXPECT_TRUE(form_->ResumeTimer->isActive());
    EXPECT_TRUE(form_->CurrentRun->Suspended());
    PumpEvents(200);
    EXPECT_EQ(Lines().last(), kErrorPause) << "held inside the error notification";

    form_->ResumeTimerTimer();
    EXPECT_FALSE(form_->ResumeTimer->isActive());
    EXPECT_EQ(Lines().last(), kPauseOff);
    ASSERT_TRUE(WaitRunEnd(60000));
    lines = Lines();
    EXPECT_EQ(lines.filter(QStringLiteral("Ошибка")).size(), 1);
    EXPECT_EQ(lines.count(kDone), 1);
    EXPECT_TRUE(lines.last().startsWith(kEndPrefix));

    // Every card of the three other pairs, each once.
    const nlohmann::json expected = Expected(*site_);
    const QSet<QString> want =
        PairCardSlugs(expected, {{QStringLiteral("santehniki"), kKazan},
                                 {QStringLiteral("santehniki"), kNovosibirsk},
                                 {QStringLiteral("elektriki"), kNovosibirsk}});
    ASSERT_FALSE(want.isEmpty());
    EXPECT_TRUE(lines.contains(kFoundPrefix + QString::number(want.size())));
    const CsvFile csv = ReadCsv(ResultPath());
    ASSERT_TRUE(csv.wellFormed) << csv.problem.toStdString();
    for (const QStringList& row : csv.rows)
        EXPECT_EQ(row, ExpectedRow(expected, row[0], DecimalSeparator()));
    const QSet<QString> got = RowSlugs(csv);
    EXPECT_EQ(static_cast<qsizetype>(csv.rows.size()), got.size());
    EXPECT_EQ(got, want);
}

// Pause during the error pause resumes at once; the timer's later tick finds
// the run going and only disables itself.
TEST_F(RunWindowTest, PauseDuringTheErrorPauseResumesAtOnce) {
    Open({"--faults", "--scale", "2"}, Lists::ByHand);
    SelectPairs({kKazan}, {QStringLiteral("elektriki")});
    form_->StartButtonClick();
    ASSERT_TRUE(WaitForLine(kErrorPause));
    form_->PauseButtonClick();
    EXPECT_FALSE(form_->CurrentRun->Suspended());
    EXPECT_EQ(Lines().last(), kPauseOff);
    ASSERT_TRUE(WaitRunEnd());
    form_->ResumeTimerTimer();
    EXPECT_FALSE(form_->ResumeTimer->isActive());
    const QStringList lines = Lines();
    EXPECT_EQ(lines.count(kPauseOff), 1);
    // Nothing was collected before the error: no phase 2, no result file.
    const qsizetype found = lines.indexOf(kFoundPrefix + QStringLiteral("0"));
    ASSERT_GE(found, 0);
    EXPECT_EQ(lines.size(), found + 2);
    EXPECT_TRUE(ws_.files(QStringLiteral("data*.csv")).isEmpty());
}

// Stop while paused after a phase-1 error: the error no longer ends phase 1,
// so this is a stop in phase 1 (no card count, no result file). The run is
// suspended twice here, as a test's pause that reaches it just before its
// error leaves it: stop must end it all the same.
TEST_F(RunWindowTest, StopWhilePausedAfterAnError) {
    Open({"--faults", "--scale", "3"}, Lists::ByHand);
    SelectPairs({kMoscow, kPiter, kKazan},
                {QStringLiteral("santehniki"), QStringLiteral("elektriki")});
    form_->StartButtonClick();
    ASSERT_TRUE(WaitForLine(kErrorPause));
    form_->CurrentRun->Suspend();
    form_->StopButtonClick();
    EXPECT_FALSE(form_->CurrentRun->Suspended());
    ASSERT_TRUE(WaitRunEnd());
    const QStringList lines = Lines();
    const qsizetype stop = lines.indexOf(kStopping);
    ASSERT_GE(stop, 0);
    EXPECT_EQ(lines[stop - 1], kErrorPause);
    ASSERT_EQ(lines.size(), stop + 2) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[stop + 1].startsWith(kEndPrefix));
    EXPECT_FALSE(lines.contains(kPauseOff));
    EXPECT_TRUE(ws_.files(QStringLiteral("data*.csv")).isEmpty());
    // Stop leaves the timer armed; its tick after the end changes nothing.
    EXPECT_TRUE(form_->ResumeTimer->isActive());
    form_->ResumeTimerTimer();
    EXPECT_EQ(Lines().size(), lines.size());
}

// Card downloads that fail leave their log line and no row; the others give
// exactly the site's rows.
TEST_F(RunWindowTest, FailedCardsLeaveNoRow) {
    Open({"--faults", "--scale", "46", "--slow-ms", "300"}, Lists::ByHand);
    SelectPairs({kMoscow}, {QStringLiteral("santehniki")});
    const nlohmann::json expected = Expected(*site_, QStringLiteral("santehniki"), kMoscow);
    const nlohmann::json* pair = FindPair(expected, QStringLiteral("santehniki"), kMoscow);
    ASSERT_NE(pair, nullptr);
    form_->StartButtonClick();
    ASSERT_TRUE(WaitRunEnd(60000));
    const QStringList lines = Lines();
    EXPECT_TRUE(lines.contains(kFoundPrefix + QStringLiteral("46")));
    EXPECT_TRUE(lines.contains(kDone));

    const QString web = Config().WebHost;
    QStringList succeeded;
    int faultCards = 0;
    for (const auto& slugJson : (*pair)["cards"]) {
        const QString slug = Str(slugJson);
        const QString url = CardUrl(web, slug);
        const QStringList mine = lines.filter(kCardPrefix + url + QStringLiteral(": "));
        ASSERT_EQ(mine.size(), 1) << slug.toStdString();
        const bool wantsRow = expected["cards"][slug.toLower().toStdString()]["row"].get<bool>();
        faultCards += slug.startsWith(QStringLiteral("fault-")) ? 1 : 0;
        if (wantsRow) {
            EXPECT_EQ(mine[0], kCardPrefix + url + QStringLiteral(": успешно"));
            succeeded << url;
        } else {
            EXPECT_TRUE(mine[0].startsWith(kCardPrefix + url + QStringLiteral(": ERROR")))
                << mine[0].toStdString();
        }
    }
    EXPECT_EQ(faultCards, 12);
    EXPECT_EQ(lines.filter(kCardPrefix).size(), 46);

    const CsvFile csv = ReadCsv(ResultPath());
    ASSERT_TRUE(csv.wellFormed) << csv.problem.toStdString();
    ASSERT_EQ(static_cast<qsizetype>(csv.rows.size()), succeeded.size());
    QStringList rowUrls;
    for (const QStringList& row : csv.rows) {
        rowUrls << row[0];
        EXPECT_EQ(row, ExpectedRow(expected, row[0], DecimalSeparator()));
    }
    rowUrls.sort();
    succeeded.sort();
    EXPECT_EQ(rowUrls, succeeded);
}

// Stop in phase 2: no card is started after it, the file ends with a
// complete line and holds one row per card logged as successful.
TEST_F(RunWindowTest, StopInPhaseTwoLeavesACompleteFile) {
    Open({"--scale", "12"}, Lists::ByHand);
    SelectPairs({kEkb}, {QStringLiteral("psihologi")});
    form_->StartButtonClick();
    ASSERT_TRUE(HoldAfterLine([](const QString& l) {
        return l.startsWith(kCardPrefix) && l.endsWith(QStringLiteral(": успешно"));
    }));
    Release();
    form_->StopButtonClick();
    ASSERT_TRUE(WaitRunEnd());
    const QStringList lines = Lines();
    EXPECT_FALSE(lines.contains(kDone));
    const qsizetype stop = lines.indexOf(kStopping);
    ASSERT_GE(stop, 0);
    EXPECT_EQ(lines[lines.size() - 2], kOpening);
    EXPECT_TRUE(lines.last().startsWith(kEndPrefix));
    EXPECT_LT(lines.filter(kCardPrefix).size(), 12);
    const CsvFile csv = ReadCsv(ResultPath());
    ASSERT_TRUE(csv.wellFormed) << csv.problem.toStdString();
    EXPECT_EQ(csv.header, ExpectedHeader());
    EXPECT_GE(csv.rows.size(), 1u);
    EXPECT_EQ(static_cast<qsizetype>(csv.rows.size()),
              lines.filter(kCardPrefix).filter(QStringLiteral(": успешно")).size());
    // The summary comes after the stop and before the file is opened; the
    // cards the stop left unfetched are not counted as failed.
    ASSERT_GE(lines.size(), stop + 5);
    EXPECT_EQ(lines[lines.size() - 4],
              QStringLiteral("Итог: найдено карточек 12, записано строк %1, не скачано 0")
                  .arg(csv.rows.size()));
    EXPECT_EQ(lines[lines.size() - 3], ExpectedFillLine(csv.rows));
}

// A result file that cannot be created: the error line names it, the run
// pauses, and once resumed reports its end without a file to open.
TEST_F(RunWindowTest, ResultFileThatCannotBeCreated) {
    Open({"--scale", "3"}, Lists::ByHand);
    SelectPairs({kEkb}, {QStringLiteral("fotografy")});
    TScraper::TickSource = &FixedTick;
    const QString path = ws_.path(QStringLiteral("data424242.csv"));
    // Between the phases the program folder turns into a file, and back
    // once the error has been shown.
    form_->StartButtonClick();
    ASSERT_TRUE(HoldAfterLine(kFoundPrefix + QStringLiteral("3")));
    const QString folder = ws_.folder().chopped(1);
    ASSERT_TRUE(QDir().rename(folder, folder + QStringLiteral(".away")));
    QFile notAFolder(folder);
    ASSERT_TRUE(notAFolder.open(QIODevice::WriteOnly));
    notAFolder.close();
    Release();
    const bool paused = WaitForLine(kErrorPause);
    ASSERT_TRUE(QFile::remove(folder));
    ASSERT_TRUE(QDir().rename(folder + QStringLiteral(".away"), folder));
    ASSERT_TRUE(paused);
    QStringList lines = Lines();
    const qsizetype file = lines.indexOf(kFilePrefix + path);
    ASSERT_GE(file, 0) << lines.join('\n').toStdString();
    EXPECT_EQ(lines[file - 1], kFoundPrefix + QStringLiteral("3"));
    // The summary comes before the error's lines.
    EXPECT_EQ(lines[file + 1],
              QStringLiteral("Итог: найдено карточек 3, записано строк 0, не скачано 0"));
    EXPECT_EQ(lines[file + 2], QStringLiteral("Ошибка: Cannot create file \"") + path +
                                   QStringLiteral("\". Not a directory"));
    EXPECT_EQ(lines[file + 3], kErrorPause);
    EXPECT_TRUE(form_->CurrentRun->Suspended());
    EXPECT_TRUE(form_->ResumeTimer->isActive());

    form_->ResumeTimerTimer();
    ASSERT_TRUE(WaitRunEnd());
    lines = Lines();
    ASSERT_EQ(lines.size(), file + 7) << lines.join('\n').toStdString();
    EXPECT_EQ(lines[file + 4], kPauseOff);
    EXPECT_EQ(lines[file + 5], kDone);
    EXPECT_EQ(lines[file + 6], kEndPrefix + ws_.path(QStringLiteral("log-424242.txt")));
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_TRUE(form_->StartButton->isEnabled());
}

// A row that cannot be written (a file size limit plays the full disk) is an
// error of phase 2: the log names it with the system's reason, the run
// pauses, and the file keeps only complete lines.
TEST_F(RunWindowTest, RowThatCannotBeWrittenIsAnError) {
    Open({"--scale", "3"}, Lists::ByHand);
    SelectPairs({kEkb}, {QStringLiteral("massazhisty")});
    TScraper::TickSource = &FixedTick;
    const QString path = ws_.path(QStringLiteral("data424242.csv"));
    const QByteArray head = "\xEF\xBB\xBF" + ExpectedHeader().toUtf8() + "\r\n";

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = static_cast<rlim_t>(head.size() + 40);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    form_->StartButtonClick();
    const bool paused = WaitForLine(kErrorPause);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    ASSERT_TRUE(paused) << Lines().join('\n').toStdString();

    QStringList lines = Lines();
    const qsizetype error = lines.indexOf(QStringLiteral("Ошибка: Cannot write to file \"") + path +
                                          QStringLiteral("\". File too large"));
    ASSERT_GE(error, 0) << lines.join('\n').toStdString();
    // The card whose row failed, then the summary without its row.
    ASSERT_GE(error, 2);
    EXPECT_TRUE(lines[error - 2].startsWith(kCardPrefix));
    EXPECT_EQ(lines[error - 1],
              QStringLiteral("Итог: найдено карточек 3, записано строк 0, не скачано 0"));
    EXPECT_EQ(lines[error + 1], kErrorPause);

    form_->ResumeTimerTimer();
    ASSERT_TRUE(WaitRunEnd());
    lines = Lines();
    EXPECT_EQ(lines.mid(error + 2, 3), (QStringList{kPauseOff, kDone, kOpening}));
    EXPECT_TRUE(lines.last().startsWith(kEndPrefix));
    const CsvFile csv = ReadCsv(path);
    ASSERT_TRUE(csv.wellFormed) << csv.problem.toStdString();
    EXPECT_EQ(csv.bytes, head);
}
