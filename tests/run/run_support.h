#pragma once
// Helpers shared by the run tests and the end-to-end tests: a private program
// folder, the demo site's expected data, the log's lines and the result
// file's rows.

#include "core/config.h"
#include "core/platform.h"
#include "site/requests.h"
#include "support/demo_site_process.h"
#include "support/log_lines.h"
#include "support/print_qstring.h"
#include "support/wait.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <curl/curl.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace runtest {

// A temporary folder that is the program folder and the current directory
// for the life of the object; the configuration is restored at the end.
class Workspace {
public:
    Workspace() : savedConfig_(Config()), savedCwd_(QDir::currentPath()) {
        if (!dir_.isValid())
            return;
        folder_ = dir_.path() + QLatin1Char('/');
        SetProgramFolder(folder_);
        QDir::setCurrent(dir_.path());
    }
    ~Workspace() {
        QDir::setCurrent(savedCwd_);
        SetProgramFolder({});
        Config() = savedConfig_;
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    bool valid() const { return dir_.isValid(); }
    // With a trailing "/".
    const QString& folder() const { return folder_; }
    QString path(const QString& name) const { return folder_ + name; }
    // Names in the folder matching `pattern` ("data*.csv"), sorted.
    QStringList files(const QString& pattern) const {
        return QDir(folder_).entryList({pattern}, QDir::Files, QDir::Name);
    }

private:
    QTemporaryDir dir_;
    AppConfig savedConfig_;
    QString savedCwd_;
    QString folder_;
};

// Points the configuration at `site`; the result file is never handed to the
// desktop in tests.
inline void UseSite(const DemoSiteProcess& site) {
    Config().WebHost = QString::fromStdString(site.webHost());
    Config().ApiHost = QString::fromStdString(site.apiHost());
    Config().CaFile = QString::fromStdString(site.caFile());
    Config().NoOpen = true;
}

// The page client's client certificate and key, made by the demo site in
// `folder`.
inline bool MakeClientCert(const DemoSiteProcess& site, const QString& folder) {
    const int code = RunDemoSiteTool(
        {"--cert-dir", site.certDir(), "--make-client-cert", folder.toStdString()}, 30000);
    return code == 0 && QFile::exists(folder + QStringLiteral("/01cert.pem")) &&
           QFile::exists(folder + QStringLiteral("/01key.pem"));
}

inline std::size_t CollectBody(char* data, std::size_t size, std::size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

// GET of a demo-site URL trusting the site's CA; empty on any failure.
inline std::string HttpsGet(const DemoSiteProcess& site, const std::string& url) {
    CURL* curl = curl_easy_init();
    if (curl == nullptr)
        return {};
    std::string body;
    const std::string ca = site.caFile();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CollectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    return code == CURLE_OK ? body : std::string();
}

inline std::string Escaped(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    char* escaped = curl_easy_escape(nullptr, utf8.constData(), static_cast<int>(utf8.size()));
    std::string result = escaped != nullptr ? escaped : "";
    curl_free(escaped);
    return result;
}

// The site's expected data (GET /__demo/expected), whole or for one pair.
inline nlohmann::json Expected(const DemoSiteProcess& site, const QString& categorySlug = {},
                               const QString& cityRow = {}) {
    std::string path = "/__demo/expected";
    std::string sep = "?";
    if (!categorySlug.isEmpty()) {
        path += sep + "category=" + Escaped(categorySlug);
        sep = "&";
    }
    if (!cityRow.isEmpty())
        path += sep + "city=" + Escaped(cityRow);
    const std::string body = HttpsGet(site, site.webUrl(path));
    return nlohmann::json::parse(body, nullptr, false);
}

inline QString Str(const nlohmann::json& value) {
    return value.is_string() ? QString::fromStdString(value.get<std::string>()) : QString();
}

// The expected entry of the pair of a category slug and a city row.
inline const nlohmann::json* FindPair(const nlohmann::json& expected, const QString& slug,
                                      const QString& cityRow) {
    for (const auto& pair : expected["pairs"]) {
        if (Str(pair["category"]) == slug && Str(pair["city"]) == cityRow)
            return &pair;
    }
    return nullptr;
}

// The eleven fields of a card's CSV row as the site expects them, from the
// URL the card was collected under.
inline QStringList ExpectedRow(const nlohmann::json& expected, const QString& url,
                               const QString& decimalSeparator) {
    const QString slug = url.mid(url.lastIndexOf(QLatin1Char('/')) + 1).toLower();
    const auto& cards = expected["cards"];
    const auto found = cards.find(slug.toStdString());
    if (found == cards.end())
        return {};
    const auto& v = (*found)["values"];
    // Double quotes become apostrophes; a value a spreadsheet would run as a
    // formula gets an apostrophe in front.
    const auto quoteSafe = [](QString text) {
        return text.replace(QLatin1Char('"'), QLatin1Char('\''));
    };
    const auto safe = [&quoteSafe](const QString& value) {
        const QString text = quoteSafe(value);
        const bool formula = !text.isEmpty() && QStringLiteral("=+-@\t\r").contains(text.front());
        return formula ? QLatin1Char('\'') + text : text;
    };
    QString rating = Str(v["rating"]);
    rating.replace(QLatin1Char('.'), decimalSeparator);
    return {url,
            safe(Str(v["name"])),
            safe(Str(v["categories"])),
            safe(Str(v["services"])),
            safe(rating),
            safe(Str(v["reviews"])),
            QLatin1Char(' ') + quoteSafe(Str(v["telephone"])),
            safe(Str(v["site"])),
            safe(Str(v["email"])),
            safe(Str(v["city"])),
            safe(Str(v["address"]))};
}

// The lower-case slugs of the cards the site lists for these pairs of a
// category slug and a city row; empty when a pair is unknown.
inline QSet<QString> PairCardSlugs(const nlohmann::json& expected,
                                   const std::vector<std::pair<QString, QString>>& pairs) {
    QSet<QString> slugs;
    for (const auto& [category, city] : pairs) {
        const nlohmann::json* pair = FindPair(expected, category, city);
        if (pair == nullptr)
            return {};
        for (const auto& card : (*pair)["cards"])
            slugs.insert(Str(card).toLower());
    }
    return slugs;
}

// The "Заполнено" line the rows should give: the share of rows with each
// value, rounded half up, from the site's own values of the cards.
inline QString ExpectedFillLine(const std::vector<QStringList>& rows) {
    static const QStringList names = {
        QStringLiteral("Имя/Название"), QStringLiteral("Категории специализации"),
        QStringLiteral("Услуги"),       QStringLiteral("Рейтинг"),
        QStringLiteral("Отзывов"),      QStringLiteral("Телефон"),
        QStringLiteral("Сайт"),         QStringLiteral("Email"),
        QStringLiteral("Город"),        QStringLiteral("Адрес")};
    QStringList shares;
    for (int column = 1; column <= 10; ++column) {
        int filled = 0;
        for (const QStringList& row : rows) {
            // The telephone field is a space and the value.
            const QString value = column == 6 ? row[column].mid(1) : row[column];
            filled += value.isEmpty() ? 0 : 1;
        }
        const double percent = 100.0 * filled / static_cast<double>(rows.size());
        shares << QStringLiteral("%1 %2%").arg(names[column - 1]).arg(std::floor(percent + 0.5));
    }
    return QStringLiteral("Заполнено: ") + shares.join(QStringLiteral(", "));
}

inline const QString& ExpectedHeader() {
    static const QString header =
        QStringLiteral("\"URL\";\"Имя/Название\";\"Категории специализации\";\"Услуги\";"
                       "\"Рейтинг\";\"Отзывов\";\"Телефон\";\"Сайт\";\"Email\";\"Город\";"
                       "\"Адрес\"");
    return header;
}

// A result file read back. `wellFormed` holds when it starts with the byte
// order mark, every line (the last included) ends with CR LF, no line holds
// a lone CR or LF, and every row after the header is eleven quoted fields.
struct CsvFile {
    bool exists = false;
    bool wellFormed = false;
    QByteArray bytes;
    QString header;
    std::vector<QStringList> rows;
    QString problem; // why it is not well formed
};

inline CsvFile ReadCsv(const QString& path) {
    CsvFile csv;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return csv;
    csv.exists = true;
    csv.bytes = file.readAll();
    const QByteArray bom("\xEF\xBB\xBF");
    if (!csv.bytes.startsWith(bom)) {
        csv.problem = QStringLiteral("no byte order mark");
        return csv;
    }
    const QByteArray body = csv.bytes.mid(bom.size());
    if (!body.endsWith("\r\n")) {
        csv.problem = QStringLiteral("the last line does not end with CR LF");
        return csv;
    }
    QList<QByteArray> lines = body.split('\n');
    lines.removeLast(); // after the final LF
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (!line.endsWith('\r')) {
            csv.problem = QStringLiteral("line %1 ends with a lone LF").arg(i + 1);
            return csv;
        }
        line.chop(1);
        if (line.contains('\r')) {
            csv.problem = QStringLiteral("line %1 holds a lone CR").arg(i + 1);
            return csv;
        }
        const QString text = QString::fromUtf8(line);
        if (i == 0) {
            csv.header = text;
            continue;
        }
        if (text.size() < 2 || !text.startsWith(QLatin1Char('"')) ||
            !text.endsWith(QLatin1Char('"'))) {
            csv.problem = QStringLiteral("row %1 is not quoted: %2").arg(i).arg(text);
            return csv;
        }
        const QStringList fields = text.mid(1, text.size() - 2).split(QStringLiteral("\";\""));
        if (fields.size() != 11) {
            csv.problem =
                QStringLiteral("row %1 has %2 fields: %3").arg(i).arg(fields.size()).arg(text);
            return csv;
        }
        csv.rows.push_back(fields);
    }
    if (lines.isEmpty()) {
        csv.problem = QStringLiteral("no header");
        return csv;
    }
    csv.wellFormed = true;
    return csv;
}

// The log's lines.
// The lower-case slugs of a result file's rows (the last part of their URL).
inline QSet<QString> RowSlugs(const CsvFile& csv) {
    QSet<QString> slugs;
    for (const QStringList& row : csv.rows)
        slugs.insert(row[0].mid(row[0].lastIndexOf(QLatin1Char('/')) + 1).toLower());
    return slugs;
}

// A run line without its time stamp: the text after the stamp's ": ".
inline QString Unstamped(const QString& line) {
    const qsizetype at = line.indexOf(QStringLiteral(": "));
    return at < 0 ? line : line.mid(at + 2);
}

inline QStringList Unstamped(const QStringList& lines) {
    QStringList out;
    for (const QString& line : lines)
        out.append(Unstamped(line));
    return out;
}

// Whether some line satisfies `match`.
template <typename Match> bool AnyLine(const QStringList& lines, Match match) {
    for (const QString& line : lines) {
        if (match(line))
            return true;
    }
    return false;
}

// Lets the window thread run for `ms` (the run's notifications need it).
inline void PumpEvents(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}

inline const QString kStartLine =
    QStringLiteral("Начинаем работу по заданным городам и категориям");
inline const QString kEndPrefix = QStringLiteral("Работа завершена, лог записан в ");
inline const QString kFoundPrefix = QStringLiteral("Найдено карточек: ");
inline const QString kFilePrefix = QStringLiteral("Данные будут записываться в файл ");
inline const QString kCardPrefix = QStringLiteral("Карточка ");
inline const QString kDone = QStringLiteral("Сбор данных завершен");
inline const QString kNoEarlierRun =
    QStringLiteral("Прошлого сбора с такими настройками нет, сравнивать не с чем");
inline const QString kOpening = QStringLiteral("Открываем файл с результатами");
inline const QString kPauseOn = QStringLiteral("Включаем паузу");
inline const QString kPauseOff = QStringLiteral("Отключаем паузу, продолжаем работу");
inline const QString kErrorPause = QStringLiteral("Включаем паузу на 30 секунд");
inline const QString kStopping = QStringLiteral("Останавливаем работу");
inline const QString kNoNextPage =
    QStringLiteral("Следующей страницы нет, начинаем выгрузку карточек");
inline const QString kNoCity = QStringLiteral(
    "Ни один регион не выбран, старт невозможен. Кликните по нужному региону для его выбора.");
inline const QString kNoCategory = QStringLiteral(
    "Ни одна категория не выбрана, старт невозможен. Кликните по нужной категории для её выбора.");

inline QString NewCardsLine(int count) {
    return QStringLiteral("Найдено %1 новых карточек на странице").arg(count);
}

// The log lines one pair's pages give in phase 1, when its pages are handled
// in queue order, with `seen` the card slugs collected before (any letter
// case). `page` 0 is the listing page.
inline QStringList PairPageLines(const nlohmann::json& pair, int page, const QString& webHost,
                                 std::set<QString>& seenLower, int& collected) {
    QStringList lines;
    const int pages = pair["pages"].get<int>();
    if (page == 0) {
        lines << QStringLiteral("https://") + webHost + Str(pair["path"]) +
                     QStringLiteral(": успешно");
        if (pages == 1)
            lines << kNoNextPage;
    } else {
        lines << QStringLiteral("cityId/categoryId ") + Str(pair["cityKey"]) + QLatin1Char('/') +
                     Str(pair["categoryId"]) + QStringLiteral(": успешно");
        if (page == pages - 1)
            lines << QStringLiteral("categoryId/serviceId ") + Str(pair["categoryId"]) +
                         QStringLiteral("/ список закончился");
    }
    int fresh = 0;
    const auto& cards = pair["cards"];
    for (std::size_t i = static_cast<std::size_t>(page) * 25;
         i < cards.size() && i < static_cast<std::size_t>(page + 1) * 25; ++i) {
        if (seenLower.insert(Str(cards[i]).toLower()).second)
            ++fresh;
    }
    collected += fresh;
    lines << NewCardsLine(fresh);
    return lines;
}

} // namespace runtest
