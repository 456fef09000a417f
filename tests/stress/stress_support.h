#pragma once
// What every stress run must leave behind, whichever way it ended: a result
// file (when the run got to write one) that is well formed, with one row per
// card whose log line says "успешно" and none for the others, each row the
// card's expected values.

#include "run/run_support.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>

namespace stresstest {

using namespace runtest;

// STRESS_ITERATIONS asks for more runs than `fallback`; STRESS_SEED repeats
// a sequence.
inline int Iterations(int fallback) {
    const int asked = qEnvironmentVariableIntValue("STRESS_ITERATIONS");
    return asked > 0 ? asked : fallback;
}

inline unsigned Seed() {
    return qEnvironmentVariableIsSet("STRESS_SEED")
               ? static_cast<unsigned>(qEnvironmentVariableIntValue("STRESS_SEED"))
               : std::random_device{}();
}

// The card URLs of the log's "Карточка <url>: <status>" lines (unstamped),
// with their status texts; a URL logged twice maps to "" so that it fails
// every check.
inline std::map<QString, QString> CardStatuses(const QStringList& lines) {
    std::map<QString, QString> statuses;
    for (const QString& line : lines) {
        if (!line.startsWith(kCardPrefix))
            continue;
        const qsizetype colon = line.lastIndexOf(QStringLiteral(": "));
        if (colon <= kCardPrefix.size())
            continue;
        const QString url = line.mid(kCardPrefix.size(), colon - kCardPrefix.size());
        const auto [at, fresh] = statuses.emplace(url, line.mid(colon + 2));
        if (!fresh)
            at->second.clear();
    }
    return statuses;
}

inline std::set<QString> SucceededUrls(const QStringList& lines) {
    std::set<QString> urls;
    for (const auto& [url, status] : CardStatuses(lines)) {
        if (status == QStringLiteral("успешно"))
            urls.insert(url);
    }
    return urls;
}

// Checks the result file at `path` (empty: the run wrote none) against the
// run's unstamped log lines. Returns the URLs of its rows.
inline std::set<QString> CheckResult(const QString& path, const QStringList& lines,
                                     const nlohmann::json& expected) {
    std::set<QString> rowUrls;
    const std::set<QString> succeeded = SucceededUrls(lines);
    for (const auto& [url, status] : CardStatuses(lines))
        EXPECT_FALSE(status.isEmpty()) << "logged twice or without a status: " << url.toStdString();
    if (path.isEmpty()) {
        EXPECT_TRUE(succeeded.empty()) << "cards succeeded but no result file was named";
        return rowUrls;
    }
    const CsvFile csv = ReadCsv(path);
    EXPECT_TRUE(csv.exists) << path.toStdString();
    EXPECT_TRUE(csv.wellFormed) << path.toStdString() << ": " << csv.problem.toStdString();
    if (!csv.wellFormed)
        return rowUrls;
    EXPECT_EQ(csv.header, ExpectedHeader());
    const QString separator = DecimalSeparator();
    for (const QStringList& row : csv.rows) {
        EXPECT_TRUE(rowUrls.insert(row[0]).second) << "two rows for " << row[0].toStdString();
        EXPECT_EQ(row, ExpectedRow(expected, row[0], separator));
    }
    for (const QString& url : succeeded)
        EXPECT_TRUE(rowUrls.count(url))
            << "no row for a card that succeeded: " << url.toStdString();
    for (const QString& url : rowUrls)
        EXPECT_TRUE(succeeded.count(url))
            << "a row for a card that did not succeed: " << url.toStdString();
    return rowUrls;
}

// The lower-case slugs of the cards that end with a row when the pairs of
// `slugs` x `cities` are collected whole.
inline std::set<QString> RowSlugs(const nlohmann::json& expected, const QStringList& slugs,
                                  const QStringList& cities) {
    std::set<QString> out;
    for (const QString& slug : slugs) {
        for (const QString& city : cities) {
            const nlohmann::json* pair = FindPair(expected, slug, city);
            if (pair == nullptr) {
                ADD_FAILURE() << "no pair " << slug.toStdString() << " / " << city.toStdString();
                continue;
            }
            for (const auto& card : (*pair)["cards"]) {
                const std::string key = Str(card).toLower().toStdString();
                if (expected["cards"][key]["row"].get<bool>())
                    out.insert(QString::fromStdString(key));
            }
        }
    }
    return out;
}

inline QString SlugOf(const QString& url) {
    return url.mid(url.lastIndexOf(QLatin1Char('/')) + 1).toLower();
}

// Zeroes the site's fault and request counters (POST /__demo/reset).
inline bool ResetCounters(const DemoSiteProcess& site) {
    CURL* curl = curl_easy_init();
    if (curl == nullptr)
        return false;
    std::string body;
    const std::string url = site.webUrl("/__demo/reset");
    const std::string ca = site.caFile();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, "");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CollectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    return code == CURLE_OK && body.find("\"ok\":true") != std::string::npos;
}

} // namespace stresstest
