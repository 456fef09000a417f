// The program itself in batch mode, as a process, against the demo site. Each
// test runs its own copy of the executable, so that its program folder (the
// executable's folder, where the result and log files go) is its own.
#include "run/run_support.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

const QString kNsk = QStringLiteral("Новосибирск--Новосибирская область");

} // namespace

// A pair with every fault card, as a user runs it: the summary just before
// the end line has the site's own figures (cards listed, cards with a row,
// failing cards by kind), the filled shares of the rows written, no layout
// warning over healthy cards, and the card named "=..." is written as text.
TEST(Batch, SummaryOfAFaultyRunHasTheSitesFigures) {
    DemoSiteProcess site({"--faults", "--scale", "300", "--slow-ms", "200"});
    ASSERT_TRUE(site.started()) << site.error();
    ProgramCopy program;
    ASSERT_TRUE(program.ok());
    ASSERT_TRUE(MakeClientCert(site, program.folder()));
    const nlohmann::json expected = Expected(site, QStringLiteral("santehniki"), kMoscow);
    const nlohmann::json* pair = FindPair(expected, QStringLiteral("santehniki"), kMoscow);
    ASSERT_NE(pair, nullptr);

    // How each failing fault card ends in the program: the last answer of
    // the long redirect chain is a redirect without a body.
    int rows = 0;
    int notFound = 0;
    int errors = 0;
    int empty = 0;
    for (const auto& slug : (*pair)["cards"]) {
        const auto& card = expected["cards"][Str(slug).toLower().toStdString()];
        if (card["row"].get<bool>()) {
            ++rows;
            continue;
        }
        const QString fault = Str(card["fault"]);
        if (fault.startsWith(QStringLiteral("fault-404")))
            ++notFound;
        else if (fault == QStringLiteral("fault-500-always"))
            ++errors;
        else if (fault == QStringLiteral("fault-empty") || fault == QStringLiteral("fault-blank") ||
                 fault == QStringLiteral("fault-redirect-long"))
            ++empty;
        else
            ADD_FAILURE() << "unexpected failing card " << fault.toStdString();
    }
    const int cards = static_cast<int>((*pair)["cards"].size());
    ASSERT_EQ(cards, 300);
    ASSERT_EQ(notFound + errors + empty, 7);

    const Outcome run = program.Run(SiteArgs(site) + QStringList{QStringLiteral("--category"),
                                                                 QStringLiteral("santehniki"),
                                                                 QStringLiteral("--city"), kMoscow},
                                    120000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList lines = Unstamped(run.out);

    const QStringList results = program.files(QStringLiteral("data*.csv"));
    ASSERT_EQ(results.size(), 1);
    const CsvFile csv = ReadCsv(program.folder() + results[0]);
    ASSERT_TRUE(csv.wellFormed) << csv.problem.toStdString();
    ASSERT_EQ(static_cast<int>(csv.rows.size()), rows);

    const qsizetype done = lines.indexOf(kDone);
    ASSERT_GE(done, 3);
    EXPECT_EQ(lines.mid(done - 3, 3),
              (QStringList{QStringLiteral("Итог: найдено карточек %1, записано строк %2, не "
                                          "скачано %3")
                               .arg(cards)
                               .arg(rows)
                               .arg(cards - rows),
                           QStringLiteral("Не скачано: 404 — %1, другие ответы с ошибкой — %2, "
                                          "пустые ответы — %3")
                               .arg(notFound)
                               .arg(errors)
                               .arg(empty),
                           ExpectedFillLine(csv.rows)}));
    EXPECT_EQ(lines.filter(QStringLiteral("Итог: ")).size(), 1);
    EXPECT_TRUE(lines.filter(QStringLiteral("Внимание")).isEmpty())
        << lines.filter(QStringLiteral("Внимание")).join('\n').toStdString();

    bool formulaSeen = false;
    for (const QStringList& row : csv.rows) {
        EXPECT_EQ(row, ExpectedRow(expected, row[0], QStringLiteral(".")));
        if (row[0].endsWith(QStringLiteral("/fault-500x3-a"))) {
            formulaSeen = true;
            EXPECT_EQ(row[1],
                      QStringLiteral("'=HYPERLINK('https://mastera.example/';'Мастер на час')"));
        }
    }
    EXPECT_TRUE(formulaSeen);
}

// The site changes its card markup after 110 cards (not on a multiple of 50):
// the warning about the categories comes once, within 50 rows of the first
// row without them, and the summary shows the emptied column.
TEST(Batch, LayoutChangeIsWarnedWithinFiftyRows) {
    DemoSiteProcess site({"--scale", "200", "--layout-change", "110"});
    ASSERT_TRUE(site.started()) << site.error();
    ProgramCopy program;
    ASSERT_TRUE(program.ok());
    ASSERT_TRUE(MakeClientCert(site, program.folder()));
    const Outcome run = program.Run(SiteArgs(site) + QStringList{QStringLiteral("--category"),
                                                                 QStringLiteral("yuristy"),
                                                                 QStringLiteral("--city"), kNsk},
                                    120000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList lines = Unstamped(run.out);

    const QStringList results = program.files(QStringLiteral("data*.csv"));
    ASSERT_EQ(results.size(), 1);
    const CsvFile csv = ReadCsv(program.folder() + results[0]);
    ASSERT_TRUE(csv.wellFormed) << csv.problem.toStdString();
    ASSERT_EQ(csv.rows.size(), 200u);
    int changeRow = 0; // from 1
    int emptied = 0;
    for (std::size_t i = 0; i < csv.rows.size(); ++i) {
        if (!csv.rows[i][2].isEmpty())
            continue;
        ++emptied;
        if (changeRow == 0)
            changeRow = static_cast<int>(i) + 1;
    }
    EXPECT_EQ(emptied, 90);
    ASSERT_GT(changeRow, 0);

    const QStringList warnings = lines.filter(QStringLiteral("Внимание"));
    ASSERT_EQ(warnings.size(), 1) << warnings.join('\n').toStdString();
    EXPECT_TRUE(QRegularExpression(
                    QStringLiteral("^Внимание: у (4\\d|50) из последних 50 карточек пусто поле "
                                   "«Категории специализации». Возможно, сайт изменил "
                                   "разметку страниц, проверьте результат.$"))
                    .match(warnings[0])
                    .hasMatch())
        << warnings[0].toStdString();
    // Rows are written in the order of their card lines.
    int rowsBefore = 0;
    for (const QString& line : lines) {
        if (line == warnings[0])
            break;
        rowsBefore += line.startsWith(kCardPrefix) && line.endsWith(QStringLiteral(": успешно"));
    }
    EXPECT_GE(rowsBefore - changeRow + 1, 40);
    EXPECT_LE(rowsBefore - changeRow + 1, 50) << "the first empty row is row " << changeRow
                                              << ", the warning came after row " << rowsBefore;
    EXPECT_TRUE(lines.filter(QStringLiteral("Заполнено: "))
                    .value(0)
                    .contains(QStringLiteral("Категории специализации 55%")));
}
