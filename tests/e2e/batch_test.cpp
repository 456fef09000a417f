// The program itself in batch mode, as a process, against the demo site. Each
// test runs its own copy of the executable, so that its program folder (the
// executable's folder, where the result and log files go) is its own.
#include "run/run_support.h"
#include "store/run_journal.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

using namespace runtest;

namespace {

const QString kMoscow = QStringLiteral("Москва--Москва и Московская область");

struct Outcome {
    bool finished = false;
    int exitCode = -1;
    QStringList out; // standard output, line by line
    QString err;
};

// A copy of the program in a folder of its own, which is also its current
// directory.
class ProgramCopy {
public:
    explicit ProgramCopy(const QString& subfolder = {}) {
        if (!dir_.isValid())
            return;
        folder_ = dir_.path() + QLatin1Char('/');
        if (!subfolder.isEmpty()) {
            folder_ += subfolder + QLatin1Char('/');
            if (!QDir().mkpath(folder_))
                return;
        }
        exe_ = folder_ + QStringLiteral("directory-scraper");
        ok_ = QFile::copy(QStringLiteral(SCRAPER_EXE), exe_) &&
              QFile::setPermissions(exe_, QFile::permissions(QStringLiteral(SCRAPER_EXE)));
    }
    bool ok() const { return ok_; }
    const QString& folder() const { return folder_; }
    QStringList files(const QString& pattern) const {
        return QDir(folder_).entryList({pattern}, QDir::Files, QDir::Name);
    }

    Outcome Run(const QStringList& args, int timeoutMs = 60000) const {
        Outcome outcome;
        QProcess process;
        process.setWorkingDirectory(folder_);
        process.start(exe_, args);
        if (!process.waitForStarted(10000))
            return outcome;
        outcome.finished = process.waitForFinished(timeoutMs);
        if (!outcome.finished) {
            process.kill();
            process.waitForFinished(5000);
        }
        outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        outcome.out = out.split(QLatin1Char('\n'));
        if (outcome.out.last().isEmpty())
            outcome.out.removeLast();
        outcome.err = QString::fromUtf8(process.readAllStandardError());
        return outcome;
    }

private:
    QTemporaryDir dir_;
    QString folder_;
    QString exe_;
    bool ok_ = false;
};

QStringList SiteArgs(const DemoSiteProcess& site) {
    return {QStringLiteral("--batch"),
            QStringLiteral("--web-host"),
            QString::fromStdString(site.webHost()),
            QStringLiteral("--api-host"),
            QString::fromStdString(site.apiHost()),
            QStringLiteral("--ca-file"),
            QString::fromStdString(site.caFile())};
}

const QString kLoading = QStringLiteral("Загружаем города и категории с сайта...");
const QString kReady = QStringLiteral("Всё готово к работе, выделите нужные города и категории");

} // namespace

// A whole batch run: exit code 0; standard output is the log, the loading
// lines included, and nothing else; the log file and the result file lie
// beside the program; one row per card that the site serves, none for the
// failing ones.
TEST(Batch, RunsTheSelectionAndWritesTheResultBesideTheProgram) {
    DemoSiteProcess site({"--faults", "--scale", "12"});
    ASSERT_TRUE(site.started()) << site.error();
    ProgramCopy program;
    ASSERT_TRUE(program.ok());
    ASSERT_TRUE(MakeClientCert(site, program.folder()));
    const nlohmann::json expected = Expected(site, QStringLiteral("santehniki"), kMoscow);
    const nlohmann::json* pair = FindPair(expected, QStringLiteral("santehniki"), kMoscow);
    ASSERT_NE(pair, nullptr);

    const Outcome run = program.Run(
        SiteArgs(site) + QStringList{QStringLiteral("--category"), QStringLiteral("santehniki"),
                                     QStringLiteral("--city"), kMoscow});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();

    const QStringList logs = program.files(QStringLiteral("log-*.txt"));
    ASSERT_EQ(logs.size(), 1);
    QFile logFile(program.folder() + logs[0]);
    ASSERT_TRUE(logFile.open(QIODevice::ReadOnly));
    QString logText = QString::fromUtf8(logFile.readAll());
    ASSERT_TRUE(logText.endsWith(QStringLiteral("\r\n")));
    logText.chop(2);
    const QStringList logLines = logText.split(QStringLiteral("\r\n"));
    EXPECT_EQ(run.out, QStringList({kLoading, kReady}) + logLines);

    const QStringList lines = Unstamped(logLines);
    EXPECT_EQ(lines.first(), kStartLine);
    EXPECT_TRUE(lines.contains(kFoundPrefix + QStringLiteral("12")));
    EXPECT_TRUE(lines.contains(kDone));
    EXPECT_TRUE(lines.contains(kOpening));
    EXPECT_EQ(lines.last(), kEndPrefix + program.folder() + logs[0]);

    const QStringList results = program.files(QStringLiteral("data*.csv"));
    ASSERT_EQ(results.size(), 1);
    EXPECT_TRUE(lines.contains(kFilePrefix + program.folder() + results[0]));
    const CsvFile csv = ReadCsv(program.folder() + results[0]);
    ASSERT_TRUE(csv.wellFormed) << csv.problem.toStdString();
    EXPECT_EQ(csv.header, ExpectedHeader());

    int wantRows = 0;
    for (const auto& slug : (*pair)["cards"])
        wantRows += expected["cards"][Str(slug).toLower().toStdString()]["row"].get<bool>() ? 1 : 0;
    EXPECT_EQ(wantRows, 10) << "12 cards, two of them failing at this scale";
    EXPECT_EQ(static_cast<int>(csv.rows.size()), wantRows);
    for (const QStringList& row : csv.rows)
        EXPECT_EQ(row, ExpectedRow(expected, row[0], QStringLiteral(".")));
    // Batch mode never touches the saved selections.
    EXPECT_TRUE(program.files(QStringLiteral("selection*.txt")).isEmpty());
}

// A selection that includes the faulty listing page: the error is logged and
// paused on as in the window, every other pair's cards are still collected,
// and the exit code tells a schedule that an error was reported (5).
TEST(Batch, AnErrorDuringTheRunExitsFiveWithEveryOtherPairsCards) {
    DemoSiteProcess site({"--faults", "--scale", "8"});
    ASSERT_TRUE(site.started()) << site.error();
    ProgramCopy program;
    ASSERT_TRUE(program.ok());
    ASSERT_TRUE(MakeClientCert(site, program.folder()));
    const QString kazan = QStringLiteral("Казань--Республика Татарстан");
    const QString nsk = QStringLiteral("Новосибирск--Новосибирская область");
    const Outcome run =
        program.Run(SiteArgs(site) +
                        QStringList{QStringLiteral("--category"), QStringLiteral("santehniki"),
                                    QStringLiteral("--category"), QStringLiteral("elektriki"),
                                    QStringLiteral("--city"), kazan, QStringLiteral("--city"), nsk},
                    120000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 5) << run.err.toStdString();
    const QStringList lines = Unstamped(run.out);
    EXPECT_EQ(lines.filter(QStringLiteral("Ошибка: ")).size(), 1);
    EXPECT_TRUE(lines.contains(kDone));

    const QSet<QString> want = PairCardSlugs(Expected(site), {{QStringLiteral("santehniki"), kazan},
                                                              {QStringLiteral("santehniki"), nsk},
                                                              {QStringLiteral("elektriki"), nsk}});
    ASSERT_FALSE(want.isEmpty());
    const QStringList results = program.files(QStringLiteral("data*.csv"));
    ASSERT_EQ(results.size(), 1);
    const CsvFile csv = ReadCsv(program.folder() + results[0]);
    ASSERT_TRUE(csv.wellFormed) << csv.problem.toStdString();
    const QSet<QString> got = RowSlugs(csv);
    EXPECT_EQ(static_cast<qsizetype>(csv.rows.size()), want.size());
    EXPECT_EQ(got, want);
}

// Without --resume a batch run leaves the journals it finds alone and starts
// anew; with it, it continues the one of its hosts and selection, and that
// run's journal goes when the run has ended.
TEST(Batch, JournalsAreContinuedOnlyWithResume) {
    DemoSiteProcess site({"--scale", "5"});
    ASSERT_TRUE(site.started()) << site.error();
    ProgramCopy program;
    ASSERT_TRUE(program.ok());
    ASSERT_TRUE(MakeClientCert(site, program.folder()));
    const nlohmann::json expected = Expected(site);
    RunSettings settings;
    settings.webHost = QString::fromStdString(site.webHost());
    settings.apiHost = QString::fromStdString(site.apiHost());
    settings.categoryRows = {QStringLiteral("Сантехники (santehniki)")};
    settings.cityRows = {kMoscow};
    for (const auto& category : expected["categories"])
        settings.categoryIds << Str(category["id"]);
    // An interrupted run that got as far as its settings.
    const QString journal = RunJournal::Create(program.folder(), 7, settings)->Path();
    QFile file(journal);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    const QStringList selection = {QStringLiteral("--category"), QStringLiteral("santehniki"),
                                   QStringLiteral("--city"), kMoscow};
    const QStringList resume = {QStringLiteral("--resume")};
    {
        // While another copy of the program runs it, --resume is refused.
        const auto otherCopy = RunJournal::Take(journal);
        const Outcome refused = program.Run(SiteArgs(site) + selection + resume);
        ASSERT_TRUE(refused.finished);
        EXPECT_EQ(refused.exitCode, 2);
        EXPECT_EQ(refused.out.last(),
                  QStringLiteral("Сбор с такими настройками уже идёт в другой копии программы, "
                                 "второй запуск отменён"));
        EXPECT_TRUE(program.files(QStringLiteral("data*.csv")).isEmpty());
    }
    Outcome run = program.Run(SiteArgs(site) + selection);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(Unstamped(run.out).contains(kDone));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before) << "left alone";
    file.close();
    EXPECT_EQ(program.files(QStringLiteral("run-*")), QStringList{QFileInfo(journal).fileName()});

    run = program.Run(SiteArgs(site) + selection + resume);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList lines = Unstamped(run.out);
    EXPECT_TRUE(lines.contains(
        QStringLiteral("Продолжаем прерванный сбор: найдено карточек 0, продолжаем поиск")))
        << run.out.join('\n').toStdString();
    EXPECT_TRUE(lines.contains(kFoundPrefix + QStringLiteral("5")));
    EXPECT_TRUE(lines.contains(kDone));
    EXPECT_TRUE(program.files(QStringLiteral("run-*")).isEmpty());
    EXPECT_EQ(program.files(QStringLiteral("data*.csv")).size(), 2);
}

// Exit codes: 1 when the lists cannot be loaded, 2 when START is refused,
// 64 for a bad command line.
TEST(Batch, ExitCodesForLoadingFailureRefusalAndBadOptions) {
    DemoSiteProcess site({"--scale", "2"});
    ASSERT_TRUE(site.started()) << site.error();
    ProgramCopy program;
    ASSERT_TRUE(program.ok());
    ASSERT_TRUE(MakeClientCert(site, program.folder()));

    // Nothing listens on a port that was just given up.
    int closedPort = 0;
    {
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_GE(probe, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
        closedPort = ntohs(address.sin_port);
        ::close(probe);
    }
    QStringList args = SiteArgs(site);
    args[2] = QStringLiteral("127.0.0.1:%1").arg(closedPort);
    Outcome run =
        program.Run(args + QStringList{QStringLiteral("--category"), QStringLiteral("santehniki"),
                                       QStringLiteral("--city"), kMoscow});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(run.out.size(), 2) << run.out.join('\n').toStdString();
    EXPECT_EQ(run.out[0], kLoading);
    EXPECT_TRUE(run.out[1].startsWith(QStringLiteral("Ошибка "))) << run.out[1].toStdString();

    run = program.Run(SiteArgs(site) +
                      QStringList{QStringLiteral("--category"), QStringLiteral("santehniki"),
                                  QStringLiteral("--city"), QStringLiteral("Атлантида")});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out,
              (QStringList{kLoading, kReady,
                           QStringLiteral("Город или регион не найден: Атлантида"), kNoCity}));

    run = program.Run(SiteArgs(site) + QStringList{QStringLiteral("--city"), kMoscow});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, (QStringList{kLoading, kReady, kNoCategory}));

    run = program.Run({QStringLiteral("--batch"), QStringLiteral("--no-such-option")});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 64);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_TRUE(run.err.contains(QStringLiteral("no-such-option"))) << run.err.toStdString();

    EXPECT_TRUE(program.files(QStringLiteral("data*.csv")).isEmpty());
    EXPECT_TRUE(program.files(QStringLiteral("log-*.txt")).isEmpty());
}

// A program started from inside an archive's temporary folder: exit code 3
// and the first message on standard error, nothing on standard output.
TEST(Batch, StartUpCheckFailsWithExitCodeThree) {
    ProgramCopy program(QStringLiteral("Rar$EXa1234.5678"));
    ASSERT_TRUE(program.ok());
    const Outcome run = program.Run({QStringLiteral("--batch"), QStringLiteral("--city"), kMoscow});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(run.out.isEmpty()) << run.out.join('\n').toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("Вы запустили программу изнутри архива!\r\n"
                                                "Для корректной работы программы извлеките файлы "
                                                "программы из архива в отдельную папку.")))
        << run.err.toStdString();
}

namespace {

// A batch run of one pair on a demo site started with `siteArgs`: its log
// lines without stamps, and the rows of its result file.
struct PairRun {
    QStringList lines;
    std::vector<QStringList> rows;
};
PairRun RunPair(const DemoSiteProcess& site, const QString& category, const QString& city) {
    ProgramCopy program;
    EXPECT_TRUE(program.ok() && MakeClientCert(site, program.folder()));
    const Outcome run =
        program.Run(SiteArgs(site) + QStringList{QStringLiteral("--category"), category,
                                                 QStringLiteral("--city"), city},
                    120000);
    EXPECT_TRUE(run.finished && run.exitCode == 0) << run.err.toStdString();
    const QStringList results = program.files(QStringLiteral("data*.csv"));
    const CsvFile csv = ReadCsv(program.folder() + results.value(0));
    EXPECT_TRUE(csv.wellFormed) << csv.problem.toStdString();
    return {Unstamped(run.out), csv.rows};
}

} // namespace

// A pair with every fault card: the summary just before the end line has the
// site's figures (failing cards by how the program meets them: the long
// redirect chain ends on a redirect without a body), no layout warning over
// the healthy cards, and the card named "=..." is written as text.
TEST(Batch, SummaryOfAFaultyRunHasTheSitesFigures) {
    DemoSiteProcess site({"--faults", "--scale", "300", "--slow-ms", "200"});
    ASSERT_TRUE(site.started()) << site.error();
    const nlohmann::json expected = Expected(site, QStringLiteral("santehniki"), kMoscow);
    int rows = 0, notFound = 0, errors = 0, empty = 0;
    for (const auto& slug : expected["pairs"][0]["cards"]) {
        const auto& card = expected["cards"][Str(slug).toLower().toStdString()];
        const QString fault = Str(card["fault"]);
        rows += card["row"].get<bool>() ? 1 : 0;
        notFound += !card["row"].get<bool>() && fault.startsWith(QStringLiteral("fault-404"));
        errors += fault == QStringLiteral("fault-500-always");
        empty += fault == QStringLiteral("fault-empty") || fault == QStringLiteral("fault-blank") ||
                 fault == QStringLiteral("fault-redirect-long");
    }
    ASSERT_EQ(rows + notFound + errors + empty, 300);

    const PairRun run = RunPair(site, QStringLiteral("santehniki"), kMoscow);
    ASSERT_EQ(static_cast<int>(run.rows.size()), rows);
    // The summary, then the comparison (a first run has none to compare
    // with), then the end.
    const qsizetype done = run.lines.indexOf(kDone);
    ASSERT_GE(done, 4);
    EXPECT_EQ(run.lines[done - 1], kNoEarlierRun);
    EXPECT_EQ(run.lines.mid(done - 4, 3),
              (QStringList{QStringLiteral("Итог: найдено карточек 300, записано строк %1, не "
                                          "скачано %2")
                               .arg(rows)
                               .arg(300 - rows),
                           QStringLiteral("Не скачано: 404 — %1, другие ответы с ошибкой — %2, "
                                          "пустые ответы — %3")
                               .arg(notFound)
                               .arg(errors)
                               .arg(empty),
                           ExpectedFillLine(run.rows)}));
    EXPECT_TRUE(run.lines.filter(QStringLiteral("Внимание")).isEmpty());
    const auto formula = std::find_if(run.rows.begin(), run.rows.end(), [](const QStringList& r) {
        return r[0].endsWith(QStringLiteral("/fault-500x3-a"));
    });
    ASSERT_NE(formula, run.rows.end());
    EXPECT_EQ((*formula)[1],
              QStringLiteral("'=HYPERLINK('https://mastera.example/';'Мастер на час')"));
}

// The site changes its card markup after 110 cards (not on a multiple of 50):
// one warning about the categories, within 50 rows of the first row without
// them (rows are written in the order of their card lines). The run passes
// its connections from card to card: the web host sees the reference
// loading's connection, the listing page's and at most one per card worker
// that ran at the same time (five), not one per card; each search still gets
// a connection of its own, since the site closes HTTP/1.0 connections after
// the answer.
TEST(Batch, LayoutChangeIsWarnedWithinFiftyRowsOverReusedConnections) {
    DemoSiteProcess site({"--scale", "200", "--layout-change", "110"});
    ASSERT_TRUE(site.started()) << site.error();
    const PairRun run = RunPair(site, QStringLiteral("yuristy"),
                                QStringLiteral("Новосибирск--Новосибирская область"));
    ASSERT_EQ(run.rows.size(), 200u);
    const auto firstEmpty = std::find_if(run.rows.begin(), run.rows.end(),
                                         [](const QStringList& r) { return r[2].isEmpty(); });
    const int changeRow = static_cast<int>(firstEmpty - run.rows.begin()) + 1;
    const QStringList warnings = run.lines.filter(QStringLiteral("Внимание"));
    ASSERT_EQ(warnings.size(), 1) << warnings.join('\n').toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Внимание: у (4\\d|50) из последних 50 "
                                                  "карточек пусто поле «Категории специализации». "
                                                  "Возможно, сайт изменил разметку страниц, "
                                                  "проверьте результат.$"))
                    .match(warnings[0])
                    .hasMatch())
        << warnings[0].toStdString();
    const QStringList before = run.lines.mid(0, run.lines.indexOf(warnings[0]));
    const int rowsBefore =
        static_cast<int>(before.filter(kCardPrefix).filter(QStringLiteral(": успешно")).size());
    EXPECT_GE(rowsBefore - changeRow + 1, 40);
    EXPECT_LE(rowsBefore - changeRow + 1, 50) << "first empty row " << changeRow;

    const nlohmann::json stats =
        nlohmann::json::parse(HttpsGet(site, site.webUrl("/__demo/stats")), nullptr, false);
    ASSERT_TRUE(stats.is_object());
    EXPECT_LE(stats["connections"]["web"]["tls"].get<int>(), 7) << stats["connections"].dump();
    // Cities, regions and the search pages after the first of 25 cards.
    EXPECT_EQ(stats["connections"]["api"]["tls"].get<int>(), 2 + (200 - 1) / 25)
        << stats["connections"].dump();
}

// A listing page that fails every attempt costs its pair's cards: the summary
// says so, the exit code is 5 and the journal stays; continuing the run
// fetches that page again and completes the same file.
TEST(Batch, AListingPageThatFailsIsFetchedAgainWhenContinued) {
    DemoSiteProcess site({"--scale", "6", "--failing-listing", "elektriki:10"});
    ASSERT_TRUE(site.started()) << site.error();
    ProgramCopy program;
    ASSERT_TRUE(program.ok());
    ASSERT_TRUE(MakeClientCert(site, program.folder()));
    const QStringList args =
        SiteArgs(site) + QStringList{QStringLiteral("--category"), QStringLiteral("santehniki"),
                                     QStringLiteral("--category"), QStringLiteral("elektriki"),
                                     QStringLiteral("--city"),     kMoscow,
                                     QStringLiteral("--resume")};
    Outcome run = program.Run(args);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 5) << run.err.toStdString();
    QStringList lines = Unstamped(run.out);
    EXPECT_TRUE(lines.contains(
        QStringLiteral("Не загружено страниц списка: 1 — карточки с них не собраны")))
        << lines.join('\n').toStdString();
    EXPECT_EQ(program.files(QStringLiteral("run-*")).size(), 1);

    run = program.Run(args);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    lines = Unstamped(run.out);
    EXPECT_EQ(lines.filter(QStringLiteral("/professionals/elektriki/")).size(), 1)
        << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.filter(QStringLiteral("/professionals/santehniki/")).isEmpty());
    EXPECT_TRUE(program.files(QStringLiteral("run-*")).isEmpty());
    const QStringList results = program.files(QStringLiteral("data*.csv"));
    ASSERT_EQ(results.size(), 1);
    const CsvFile csv = ReadCsv(program.folder() + results[0]);
    ASSERT_TRUE(csv.wellFormed) << csv.problem.toStdString();
    const QSet<QString> want =
        PairCardSlugs(Expected(site), {{QStringLiteral("santehniki"), kMoscow},
                                       {QStringLiteral("elektriki"), kMoscow}});
    EXPECT_EQ(RowSlugs(csv), want);
    EXPECT_EQ(csv.rows.size(), static_cast<std::size_t>(want.size()));
    EXPECT_TRUE(lines.contains(QStringLiteral("Итог: найдено карточек %1, записано строк %1, не "
                                              "скачано 0")
                                   .arg(want.size())));
}

// The same selection on the demo site's week 0, then twice on week 1 (same
// hosts): the first run has nothing to compare with; the second compares with
// it and finds what the site says changed, the changes file holding those
// cards; the third finds nothing new and writes a changes file with its
// header only.
TEST(Batch, TheCardStoreComparesWithTheLastCompleteRun) {
    DemoSiteProcess week0({"--scale", "60"});
    ASSERT_TRUE(week0.started()) << week0.error();
    ProgramCopy program;
    ASSERT_TRUE(program.ok());
    ASSERT_TRUE(MakeClientCert(week0, program.folder()));
    const QStringList args =
        SiteArgs(week0) + QStringList{QStringLiteral("--category"), QStringLiteral("santehniki"),
                                      QStringLiteral("--city"), kMoscow, QStringLiteral("--quiet")};
    const auto run = [&] {
        const Outcome outcome = program.Run(args, 120000);
        EXPECT_TRUE(outcome.finished && outcome.exitCode == 0) << outcome.err.toStdString();
        return Unstamped(outcome.out);
    };
    EXPECT_TRUE(run().contains(kNoEarlierRun));
    EXPECT_TRUE(program.files(QStringLiteral("changes*.csv")).isEmpty());
    const std::string ports[] = {std::to_string(week0.webPort()), std::to_string(week0.apiPort())};
    week0.stop();

    DemoSiteProcess week1(
        {"--scale", "60", "--week", "1", "--web-port", ports[0], "--api-port", ports[1]});
    ASSERT_TRUE(week1.started()) << week1.error();
    const nlohmann::json want = nlohmann::json::parse(
        HttpsGet(week1, week1.webUrl("/__demo/changes?since=0&category=santehniki&city=" +
                                     Escaped(kMoscow))),
        nullptr, false);
    ASSERT_TRUE(want.is_object());
    const auto check = [&](const QStringList& lines, int fresh, int changed, int gone) {
        const QRegularExpression line(
            QStringLiteral("^Сравнение со сбором от \\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d: новых "
                           "%1, изменилось %2, без изменений \\d+, пропало %3$")
                .arg(fresh)
                .arg(changed)
                .arg(gone));
        EXPECT_EQ(lines.filter(line).size(), 1) << lines.join('\n').toStdString();
        const QStringList written = lines.filter(QStringLiteral("Изменения записаны в "));
        EXPECT_EQ(written.size(), 1);
        QFile file(written.value(0).mid(written.value(0).indexOf(QLatin1Char('/'))));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll().count("\r\n") - 1; // rows after the header
    };
    const int fresh = want["new"].get<int>();
    const int changed = want["changed"].get<int>();
    const int gone = want["gone"].get<int>();
    ASSERT_GT(fresh + changed + gone, 0);
    EXPECT_EQ(check(run(), fresh, changed, gone), fresh + changed + gone);
    EXPECT_EQ(check(run(), 0, 0, 0), 0);
}
