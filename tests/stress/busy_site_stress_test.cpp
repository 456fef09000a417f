// Whole batch runs over one pair of N cards against a demo site in trouble:
// refusing every connection for a while (--outage, from five seconds after
// its start, once the lists are loaded) or answering 429 beyond ten requests
// a second (--rate-limit). No card may be lost, and the log must show the
// waits. Small by default; BUSY_SITE_FULL=1 runs them full size (1,000 cards
// through a 20-second outage, 500 cards rate-limited: minutes). Figures go to
// standard output.
#include "stress/stress_support.h"

#include <QProcess>

#include <iostream>

using namespace stresstest;
using Json = nlohmann::json;

namespace {

const bool kFull = qEnvironmentVariableIntValue("BUSY_SITE_FULL") > 0;

// The run's wait and pace lines, and the site's counters after it.
std::pair<QStringList, Json> RunOverThePair(int cards, const std::string& trouble,
                                            const std::string& value) {
    const QString category = QStringLiteral("yuristy");
    const QString city = QStringLiteral("Новосибирск--Новосибирская область");
    DemoSiteProcess site({"--scale", std::to_string(cards), trouble, value});
    EXPECT_TRUE(site.started()) << site.error();
    const Json expected = Expected(site, category, city);
    QTemporaryDir dir;
    const QString exe = dir.filePath(QStringLiteral("directory-scraper"));
    EXPECT_TRUE(QFile::copy(QStringLiteral(SCRAPER_EXE), exe) &&
                QFile::setPermissions(exe, QFile::permissions(QStringLiteral(SCRAPER_EXE))) &&
                MakeClientCert(site, dir.path()));
    QProcess run;
    run.setWorkingDirectory(dir.path());
    run.start(exe, {"--batch", "--web-host", QString::fromStdString(site.webHost()), "--api-host",
                    QString::fromStdString(site.apiHost()), "--ca-file",
                    QString::fromStdString(site.caFile()), "--category", category, "--city", city});
    EXPECT_TRUE(run.waitForFinished(600000)) << "no end within 10 minutes";
    EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
    const QStringList lines =
        Unstamped(QString::fromUtf8(run.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts));
    EXPECT_TRUE(lines.contains(kDone) && lines.last().startsWith(kEndPrefix));

    QString path;
    QStringList waits;
    for (const QString& line : lines) {
        if (line.startsWith(kFilePrefix))
            path = line.mid(kFilePrefix.size());
        if (line.startsWith(QStringLiteral("Сайт ")) || line.startsWith(QStringLiteral("Темп ")))
            waits << line;
    }
    std::set<QString> rows;
    for (const QString& url : CheckResult(path, lines, expected))
        rows.insert(SlugOf(url));
    const std::set<QString> want = RowSlugs(expected, {category}, {city});
    EXPECT_EQ(want.size(), static_cast<std::size_t>(cards));
    EXPECT_EQ(rows, want) << "cards lost";
    const Json stats = Json::parse(HttpsGet(site, site.webUrl("/__demo/stats")), nullptr, false);
    std::cout << cards << " cards, " << trouble << " " << value << ": rows expected " << want.size()
              << ", written " << rows.size() << "\n  " << waits.join("\n  ").toStdString() << "\n  "
              << stats.value("requests", Json()).dump() << " "
              << stats.value("rateLimit", Json()).dump() << std::endl;
    return {waits, stats.value("rateLimit", Json::object())};
}

} // namespace

TEST(BusySite, AnOutageCostsNoCard) {
    const auto [waits, limit] =
        RunOverThePair(kFull ? 1000 : 300, "--outage", kFull ? "5:20" : "5:3");
    EXPECT_FALSE(waits.filter(QStringLiteral("Сайт недоступен, повторяем через ")).isEmpty())
        << "the outage never reached the run";
}

// Once the first wait is over the run keeps under the limit: fewer than 5 %
// of the requests from then on are answered 429.
TEST(BusySite, ARateLimitCostsNoCardAndIsSoonRespected) {
    const auto [waits, limit] = RunOverThePair(kFull ? 500 : 150, "--rate-limit", "10");
    EXPECT_FALSE(waits.filter(QStringLiteral("Сайт просит подождать: пауза 1 секунд")).isEmpty());
    EXPECT_FALSE(waits.filter(QStringLiteral("Темп снижен до ")).isEmpty());
    const Json after = limit.value("afterFirstWait", Json::object());
    EXPECT_LT(after.value("rateLimited", 0L) * 20, after.value("requests", 0L));
}
