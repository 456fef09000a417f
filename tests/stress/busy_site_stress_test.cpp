// Whole batch runs against a demo site in trouble, as a new user would make
// them: one pair of N cards, the site refusing every connection for a while
// (--outage) or answering 429 beyond ten requests a second (--rate-limit).
// Every run must end with exactly the pair's rows (none lost to the trouble),
// and its log must show the waits. Small by default; BUSY_SITE_FULL=1 makes
// them full size (1,000 cards through a 20-second outage, 500 cards at ten
// requests a second), which takes a few minutes. Figures go to standard
// output.
#include "stress/stress_support.h"

#include <QProcess>

#include <iostream>

using namespace stresstest;

namespace {

const QString kCategory = QStringLiteral("yuristy");
const QString kCity = QStringLiteral("Новосибирск--Новосибирская область");
constexpr int kRunBoundMs = 600000;

bool Full() {
    return qEnvironmentVariableIntValue("BUSY_SITE_FULL") > 0;
}

struct Outcome {
    QStringList lines; // unstamped log lines
    std::set<QString> rowSlugs;
    std::set<QString> expectedSlugs;
    nlohmann::json stats;
};

// Runs a copy of the program in batch mode over the pair and checks what
// every run must leave: exit code 0, the end line, a well-formed file with
// the values of exactly the pair's cards.
Outcome RunOverThePair(DemoSiteProcess& site, const nlohmann::json& expected) {
    Outcome outcome;
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    const QString exe = folder + QStringLiteral("directory-scraper");
    EXPECT_TRUE(QFile::copy(QStringLiteral(SCRAPER_EXE), exe) &&
                QFile::setPermissions(exe, QFile::permissions(QStringLiteral(SCRAPER_EXE))) &&
                MakeClientCert(site, folder));
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(exe, {QStringLiteral("--batch"), QStringLiteral("--web-host"),
                        QString::fromStdString(site.webHost()), QStringLiteral("--api-host"),
                        QString::fromStdString(site.apiHost()), QStringLiteral("--ca-file"),
                        QString::fromStdString(site.caFile()), QStringLiteral("--category"),
                        kCategory, QStringLiteral("--city"), kCity});
    const bool ended = process.waitForFinished(kRunBoundMs);
    if (!ended) {
        process.kill();
        process.waitForFinished(5000);
    }
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError());
    EXPECT_TRUE(ended) << "no end within " << kRunBoundMs << " ms\n" << out.toStdString();
    EXPECT_EQ(process.exitCode(), 0) << err.toStdString();
    outcome.lines = Unstamped(out.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
    EXPECT_TRUE(outcome.lines.contains(kDone));
    EXPECT_TRUE(!outcome.lines.isEmpty() && outcome.lines.last().startsWith(kEndPrefix));

    QString path;
    for (const QString& line : outcome.lines) {
        if (line.startsWith(kFilePrefix))
            path = line.mid(kFilePrefix.size());
    }
    for (const QString& url : CheckResult(path, outcome.lines, expected))
        outcome.rowSlugs.insert(SlugOf(url));
    outcome.expectedSlugs = RowSlugs(expected, {kCategory}, {kCity});
    outcome.stats =
        nlohmann::json::parse(HttpsGet(site, site.webUrl("/__demo/stats")), nullptr, false);
    return outcome;
}

QStringList LinesStarting(const QStringList& lines, const QString& prefix) {
    QStringList found;
    for (const QString& line : lines) {
        if (line.startsWith(prefix))
            found << line;
    }
    return found;
}

void Print(const char* what, int cards, const Outcome& outcome, const QStringList& waits) {
    std::cout << what << ": " << cards << " cards, rows expected " << outcome.expectedSlugs.size()
              << ", rows written " << outcome.rowSlugs.size() << "\n";
    for (const QString& line : waits)
        std::cout << "  " << line.toStdString() << "\n";
    if (outcome.stats.is_object())
        std::cout << "  /__demo/stats: " << outcome.stats["requests"].dump() << " "
                  << outcome.stats["rateLimit"].dump() << "\n";
}

} // namespace

// The site refuses every connection for a while during phase 2 (from five
// seconds after its start: the lists are loaded by then, which the window
// lets fail once, as a user would see it). No card is lost: the workers wait,
// doubling, until the site is back, and the run starts nothing meanwhile.
TEST(BusySite, AnOutageCostsNoCard) {
    const int cards = Full() ? 1000 : 300;
    const std::string outage = Full() ? "5:20" : "5:3";
    DemoSiteProcess site({"--scale", std::to_string(cards), "--outage", outage});
    ASSERT_TRUE(site.started()) << site.error();
    const nlohmann::json expected = Expected(site, kCategory, kCity);
    ASSERT_TRUE(expected.is_object());

    const Outcome outcome = RunOverThePair(site, expected);
    const QStringList waits =
        LinesStarting(outcome.lines, QStringLiteral("Сайт недоступен, повторяем через "));
    Print("outage", cards, outcome, waits);
    EXPECT_EQ(outcome.expectedSlugs.size(), static_cast<std::size_t>(cards));
    EXPECT_EQ(outcome.rowSlugs, outcome.expectedSlugs);
    EXPECT_FALSE(waits.isEmpty()) << "the outage never reached the run";
}

// The site answers 429 beyond ten requests a second. No card is lost, and
// once the first wait is over the run keeps under the limit: fewer than 5 %
// of the requests from then on are answered 429.
TEST(BusySite, ARateLimitCostsNoCardAndIsSoonRespected) {
    const int cards = Full() ? 500 : 150;
    DemoSiteProcess site({"--scale", std::to_string(cards), "--rate-limit", "10"});
    ASSERT_TRUE(site.started()) << site.error();
    const nlohmann::json expected = Expected(site, kCategory, kCity);
    ASSERT_TRUE(expected.is_object());

    const Outcome outcome = RunOverThePair(site, expected);
    QStringList waits;
    for (const QString& line : outcome.lines) {
        if (line.startsWith(QStringLiteral("Сайт просит подождать: пауза ")) ||
            line.startsWith(QStringLiteral("Темп ")))
            waits << line;
    }
    Print("rate limit", cards, outcome, waits);
    EXPECT_EQ(outcome.expectedSlugs.size(), static_cast<std::size_t>(cards));
    EXPECT_EQ(outcome.rowSlugs, outcome.expectedSlugs);
    EXPECT_FALSE(LinesStarting(waits, QStringLiteral("Сайт просит подождать: пауза ")).isEmpty());
    EXPECT_FALSE(LinesStarting(waits, QStringLiteral("Темп снижен до ")).isEmpty());

    ASSERT_TRUE(outcome.stats.is_object());
    const nlohmann::json& after = outcome.stats["rateLimit"]["afterFirstWait"];
    const long requests = after["requests"].get<long>();
    const long limited = after["rateLimited"].get<long>();
    EXPECT_GT(requests, cards / 2);
    EXPECT_LT(limited * 20, requests) << limited << " of " << requests << " answered 429";
}
