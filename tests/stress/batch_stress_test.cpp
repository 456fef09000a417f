// The program in batch mode, as processes, against the demo site with its
// fault set: many runs over random selections, a few at a time, each in a
// copy of the executable of its own. Every run must end within its bound
// (else it is killed and fails), exit with 0, report no sanitizer finding,
// and leave a well-formed result file with exactly the rows of the cards it
// logged as "успешно", which for a whole run are the selection's row cards.
#include "stress/stress_support.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>

#include <memory>
#include <vector>

using namespace stresstest;

namespace {

constexpr int kRunBoundMs = 90000;
constexpr int kAtOnce = 3;

const QString kMoscow = QStringLiteral("Москва--Москва и Московская область");
const QString kMoscowRegion = QStringLiteral("Москва и Московская область");
const QString kKhimki = QStringLiteral("Химки--Москва и Московская область");

// One batch run of its own copy of the program.
struct BatchRun {
    QTemporaryDir dir;
    QString folder;
    QStringList slugs;
    QStringList cities;
    std::unique_ptr<QProcess> process;
    QDeadlineTimer deadline;
    bool timedOut = false;
};

bool Prepare(BatchRun& run, const DemoSiteProcess& site) {
    if (!run.dir.isValid())
        return false;
    run.folder = run.dir.path() + QLatin1Char('/');
    const QString exe = run.folder + QStringLiteral("directory-scraper");
    return QFile::copy(QStringLiteral(SCRAPER_EXE), exe) &&
           QFile::setPermissions(exe, QFile::permissions(QStringLiteral(SCRAPER_EXE))) &&
           MakeClientCert(site, run.folder);
}

void Start(BatchRun& run, const DemoSiteProcess& site) {
    QStringList args = {QStringLiteral("--batch"),
                        QStringLiteral("--web-host"),
                        QString::fromStdString(site.webHost()),
                        QStringLiteral("--api-host"),
                        QString::fromStdString(site.apiHost()),
                        QStringLiteral("--ca-file"),
                        QString::fromStdString(site.caFile())};
    for (const QString& slug : run.slugs)
        args << QStringLiteral("--category") << slug;
    for (const QString& city : run.cities)
        args << QStringLiteral("--city") << city;
    run.process = std::make_unique<QProcess>();
    run.process->setWorkingDirectory(run.folder);
    run.process->start(run.folder + QStringLiteral("directory-scraper"), args);
    run.deadline = QDeadlineTimer(kRunBoundMs);
}

} // namespace

// Moscow/plumbers holds every fault card at this scale (the slow one, the
// redirects, the ones that fail for good or only at first), and the Moscow
// region repeats them with capitals. The failing listing page is left out:
// its error pause (30 s) would dominate every run.
TEST(BatchStress, ManyRunsOverRandomSelectionsWithFaults) {
    const int iterations = Iterations(3);
    const unsigned seed = Seed();
    SCOPED_TRACE("STRESS_SEED=" + std::to_string(seed));
    std::mt19937 rng(seed);

    DemoSiteProcess site({"--faults", "--scale", "46", "--slow-ms", "300"});
    ASSERT_TRUE(site.started()) << site.error();
    const nlohmann::json expected = Expected(site);
    ASSERT_TRUE(expected.is_object());

    const QStringList otherSlugs = {QStringLiteral("yuristy"), QStringLiteral("psihologi"),
                                    QStringLiteral("elektriki")};
    const QStringList cityPool = {kMoscow, kMoscowRegion, kKhimki};

    for (int first = 0; first < iterations; first += kAtOnce) {
        std::vector<std::unique_ptr<BatchRun>> runs;
        for (int i = first; i < iterations && i < first + kAtOnce; ++i) {
            auto run = std::make_unique<BatchRun>();
            ASSERT_TRUE(Prepare(*run, site));
            if (rng() % 4 != 0)
                run->slugs << QStringLiteral("santehniki");
            if (run->slugs.isEmpty() || rng() % 2 == 0)
                run->slugs << otherSlugs[static_cast<qsizetype>(rng() % otherSlugs.size())];
            for (const QString& city : cityPool) {
                if (rng() % 2 == 0)
                    run->cities << city;
            }
            if (run->cities.isEmpty())
                run->cities << kMoscow;
            runs.push_back(std::move(run));
        }
        // Fresh fault counters for each round, so that the cards that fail at
        // first (500 three or nine times) go through their retries again.
        // Runs of one round share the counters, which only makes those cards
        // succeed sooner, never fail.
        ASSERT_TRUE(ResetCounters(site));
        for (auto& run : runs)
            Start(*run, site);

        for (std::size_t r = 0; r < runs.size(); ++r) {
            BatchRun& run = *runs[r];
            SCOPED_TRACE("run " + std::to_string(first + static_cast<int>(r)) + ": " +
                         run.slugs.join(',').toStdString() + " x " +
                         run.cities.join(',').toStdString());
            const int left = static_cast<int>(std::max<qint64>(0, run.deadline.remainingTime()));
            if (!run.process->waitForFinished(left)) {
                run.timedOut = true;
                run.process->kill();
                run.process->waitForFinished(5000);
            }
            const QString out = QString::fromUtf8(run.process->readAllStandardOutput());
            const QString err = QString::fromUtf8(run.process->readAllStandardError());
            ASSERT_FALSE(run.timedOut) << "no end within " << kRunBoundMs << " ms\n"
                                       << out.toStdString();
            EXPECT_EQ(run.process->exitStatus(), QProcess::NormalExit) << err.toStdString();
            EXPECT_EQ(run.process->exitCode(), 0) << err.toStdString();
            EXPECT_FALSE(err.contains(QStringLiteral("Sanitizer")) ||
                         err.contains(QStringLiteral("runtime error:")))
                << err.toStdString();

            QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            lines = Unstamped(lines);
            EXPECT_TRUE(lines.contains(kDone)) << out.toStdString();
            ASSERT_FALSE(lines.isEmpty());
            EXPECT_TRUE(lines.last().startsWith(kEndPrefix)) << lines.last().toStdString();

            QString path;
            for (const QString& line : lines) {
                if (line.startsWith(kFilePrefix))
                    path = line.mid(kFilePrefix.size());
            }
            const QStringList results =
                QDir(run.folder).entryList({QStringLiteral("data*.csv")}, QDir::Files);
            EXPECT_EQ(results.size(), path.isEmpty() ? 0 : 1);
            EXPECT_TRUE(path.isEmpty() || path == run.folder + results.value(0));
            const std::set<QString> rows = CheckResult(path, lines, expected);

            // A whole run: every row card of the selection, and only those.
            std::set<QString> rowSlugs;
            for (const QString& url : rows)
                rowSlugs.insert(SlugOf(url));
            EXPECT_EQ(rowSlugs, RowSlugs(expected, run.slugs, run.cities));
        }
    }
}
