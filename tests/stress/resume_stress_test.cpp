// Interrupted runs continued until they end: the program in batch mode killed
// (SIGKILL) at random moments and started again with --resume, and the
// window's run stopped at random moments and started again with "Да". Every
// chain must end with one result file holding exactly one row per card that
// an uninterrupted run of the selection writes, with that card's values, no
// line cut short, and no journal left behind.
#include "run/window_fixture.h"
#include "stress/stress_support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <cstdio>
#include <memory>

using namespace stresstest;

namespace {

// Moscow/plumbers holds the fault cards (404, 500 at first or always, empty,
// slow, redirects); electricians of the same city share some of its cards.
const QStringList kSlugs = {QStringLiteral("santehniki"), QStringLiteral("elektriki")};

// Checks what a chain of runs left in `folder`: the one result file and its
// rows, and that no journal remains.
void CheckChainEnd(const QString& folder, const nlohmann::json& expected,
                   const QStringList& cities) {
    const QDir dir(folder);
    EXPECT_TRUE(dir.entryList({QStringLiteral("run-*.journal*")}, QDir::Files).isEmpty())
        << dir.entryList(QDir::Files).join(' ').toStdString();
    const QStringList results = dir.entryList({QStringLiteral("data*.csv")}, QDir::Files);
    ASSERT_EQ(results.size(), 1) << results.join(' ').toStdString();
    const CsvFile csv = ReadCsv(folder + results[0]);
    ASSERT_TRUE(csv.wellFormed) << csv.problem.toStdString();
    std::set<QString> slugs;
    const QString separator = DecimalSeparator();
    for (const QStringList& row : csv.rows) {
        EXPECT_TRUE(slugs.insert(SlugOf(row[0])).second) << "two rows for " << row[0].toStdString();
        EXPECT_EQ(row, ExpectedRow(expected, row[0], separator));
    }
    EXPECT_EQ(slugs, RowSlugs(expected, kSlugs, cities));
}

// The last run's summary is of the whole run: its rows are the file's rows
// (earlier sessions included), and rows and failures add up to the cards
// found.
void CheckWholeRunSummary(const QStringList& lines, const QString& folder) {
    static const QRegularExpression total(QStringLiteral(
        "^Итог: найдено карточек (\\d+), записано строк (\\d+), не скачано (\\d+)$"));
    const QStringList totals = lines.filter(total);
    ASSERT_EQ(totals.size(), 1) << lines.join('\n').toStdString();
    const QRegularExpressionMatch m = total.match(totals[0]);
    const QStringList results = QDir(folder).entryList({QStringLiteral("data*.csv")}, QDir::Files);
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(m.captured(2).toULongLong(), ReadCsv(folder + results[0]).rows.size());
    EXPECT_EQ(m.captured(2).toLongLong() + m.captured(3).toLongLong(), m.captured(1).toLongLong());
}

// When the kills fall: after a random number (0 to `most`) of the log lines
// that start with `counted` (every line when empty), or, for the loading,
// after a random time of up to `most` ms before the first line.
struct KillMoment {
    const char* name;
    const char* counted;
    int most;
    bool beforeFirstLine;
};

void PrintTo(const KillMoment& moment, std::ostream* out) {
    *out << moment.name;
}

class KillAndResume : public ::testing::TestWithParam<KillMoment> {};

// Runs `process` until the moment comes (killed: true) or it ends by itself.
// `out` receives its standard output.
bool KillAtMoment(QProcess& process, const KillMoment& moment, std::mt19937& rng, QByteArray& out) {
    const int target = static_cast<int>(rng() % static_cast<unsigned>(moment.most + 1));
    if (moment.beforeFirstLine) {
        if (process.waitForFinished(target))
            return false;
    } else {
        const QString counted = QString::fromUtf8(moment.counted);
        int seen = 0;
        qsizetype scanned = 0;
        while (seen < target) {
            if (!process.waitForReadyRead(120000))
                return false; // ended by itself (or hangs: the caller sees it)
            out += process.readAllStandardOutput();
            for (qsizetype end; (end = out.indexOf('\n', scanned)) >= 0; scanned = end + 1) {
                const QString line = Unstamped(QString::fromUtf8(out.mid(scanned, end - scanned)));
                if (counted.isEmpty() || line.startsWith(counted))
                    ++seen;
            }
        }
    }
    process.kill();
    process.waitForFinished(10000);
    return true;
}

} // namespace

TEST_P(KillAndResume, EveryCardExactlyOnceInOneFile) {
    const KillMoment moment = GetParam();
    const int kills = Iterations(2);
    const unsigned seed = Seed();
    SCOPED_TRACE("STRESS_SEED=" + std::to_string(seed));
    std::mt19937 rng(seed);

    DemoSiteProcess site({"--faults", "--scale", "30", "--slow-ms", "300"});
    ASSERT_TRUE(site.started()) << site.error();
    const nlohmann::json expected = Expected(site);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path() + QLatin1Char('/');
    const QString exe = folder + QStringLiteral("directory-scraper");
    ASSERT_TRUE(QFile::copy(QStringLiteral(SCRAPER_EXE), exe));
    ASSERT_TRUE(QFile::setPermissions(exe, QFile::permissions(QStringLiteral(SCRAPER_EXE))));
    ASSERT_TRUE(MakeClientCert(site, folder));
    const QStringList cities = {kMoscow, kPiter};
    QStringList args = {QStringLiteral("--batch"),    QStringLiteral("--resume"),
                        QStringLiteral("--web-host"), QString::fromStdString(site.webHost()),
                        QStringLiteral("--api-host"), QString::fromStdString(site.apiHost()),
                        QStringLiteral("--ca-file"),  QString::fromStdString(site.caFile())};
    for (const QString& slug : kSlugs)
        args << QStringLiteral("--category") << slug;
    for (const QString& city : cities)
        args << QStringLiteral("--city") << city;

    // Rounds killed at their moment, then one left to end by itself.
    int killed = 0;
    bool resumable = false; // a journal was left for the next round
    for (int round = 0;; ++round) {
        ASSERT_LT(round, kills + 20) << "the chain does not end";
        QProcess process;
        process.setWorkingDirectory(folder);
        process.start(exe, args);
        ASSERT_TRUE(process.waitForStarted(10000));
        QByteArray raw;
        if (killed < kills && KillAtMoment(process, moment, rng, raw)) {
            ++killed;
            const QDir files(folder);
            const bool journal = !files.entryList({QStringLiteral("run-*.journal")}).isEmpty();
            // Killed after the run had gone through every card (its journal
            // removed, its file complete): the chain has ended.
            if (!journal && !files.entryList({QStringLiteral("data*.csv")}).isEmpty())
                break;
            resumable = resumable || journal;
            continue;
        }
        if (process.state() != QProcess::NotRunning) {
            ASSERT_TRUE(process.waitForFinished(120000)) << "a run left alone did not end";
        }
        raw += process.readAllStandardOutput();
        const QString out =
            Unstamped(QString::fromUtf8(raw).split(QLatin1Char('\n'))).join(QLatin1Char('\n'));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        SCOPED_TRACE("round " + std::to_string(round) + "\n" + out.toStdString());
        ASSERT_EQ(process.exitStatus(), QProcess::NormalExit) << err.toStdString();
        ASSERT_EQ(process.exitCode(), 0) << err.toStdString();
        EXPECT_TRUE(out.contains(kDone));
        EXPECT_EQ(out.contains(QStringLiteral("Продолжаем прерванный сбор: ")), resumable);
        EXPECT_EQ(out.contains(QStringLiteral(
                      "Прерванный сбор с такими настройками не найден, начинаем новый")),
                  !resumable);
        CheckWholeRunSummary(out.split(QLatin1Char('\n')), folder);
        std::printf("%s: %d kills, the last run %s\n", moment.name, killed,
                    resumable ? "continued the run" : "started anew");
        break;
    }
    CheckChainEnd(folder, expected, cities);
}

INSTANTIATE_TEST_SUITE_P(Moments, KillAndResume,
                         ::testing::Values(KillMoment{"Loading", "", 1500, true},
                                           KillMoment{"PhaseOne", "Найдено ", 6, false},
                                           KillMoment{"HandOver", "Найдено карточек: ", 1, false},
                                           KillMoment{"PhaseTwo", "Карточка ", 25, false},
                                           KillMoment{"Anywhere", "", 90, false}),
                         [](const ::testing::TestParamInfo<KillMoment>& info) {
                             return std::string(info.param.name);
                         });

// The window: stop at a random moment, START again and answer "Да", until a
// run ends by itself. The question comes each time with the run's figures.
TEST_F(RunWindowTest, StopAndStartAgainContinuesTheRunToOneCompleteFile) {
    const int stops = Iterations(2);
    const unsigned seed = Seed();
    SCOPED_TRACE("STRESS_SEED=" + std::to_string(seed));
    std::mt19937 rng(seed);
    Open({"--faults", "--scale", "30", "--slow-ms", "300"}, Lists::ByHand);
    const nlohmann::json expected = Expected(*site_);
    const QStringList cities = {kMoscow, kPiter};
    SelectPairs(cities, kSlugs);
    answer_ = ContinueAnswer::Continue;
    bool interrupted = false;
    for (int round = 0;; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_LT(round, stops + 5) << "the chain does not end";
        const int asked = questions_;
        form_->StartButtonClick();
        ASSERT_TRUE(form_->RunActive());
        EXPECT_EQ(questions_, asked + (interrupted ? 1 : 0))
            << "asked exactly when an interrupted run exists";
        if (round < stops) {
            PumpEvents(200 + static_cast<int>(rng() % 4000));
            form_->StopButtonClick();
        }
        ASSERT_TRUE(WaitRunEnd(120000));
        const QStringList lines = Lines();
        if (interrupted) {
            // The run's one line with the figures the question showed.
            const UnfinishedRun& q = lastQuestion_;
            const QString line =
                q.resultPath.isEmpty()
                    ? QStringLiteral("Продолжаем прерванный сбор: найдено карточек %1, продолжаем "
                                     "поиск")
                          .arg(q.cards)
                    : QStringLiteral("Продолжаем прерванный сбор: файл %1, записано карточек %2 "
                                     "из %3")
                          .arg(q.resultPath)
                          .arg(q.rows)
                          .arg(q.cards);
            EXPECT_EQ(lines.filter(QStringLiteral("Продолжаем прерванный сбор")), QStringList{line})
                << lines.join('\n').toStdString();
        }
        if (lines.contains(kDone)) {
            CheckWholeRunSummary(lines, ws_.folder());
            break; // ended by itself, before or without a stop
        }
        interrupted = true;
    }
    CheckChainEnd(ws_.folder(), expected, cities);
}
