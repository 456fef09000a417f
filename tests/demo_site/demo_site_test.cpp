// The demo site against what the program reads from it: its pages are cut
// with the program's own marker and JSON functions.

#include "demo_site/site_client.h"
#include "support/demo_site_process.h"

#include "text/extract.h"
#include "text/html_text.h"
#include "text/json_reader.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <memory>
#include <set>

namespace {

using Json = nlohmann::json;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// One site with the faults on, shared by the tests of this file.
class DemoSite : public ::testing::Test {
protected:
    static constexpr int kScale = 53; // three pages: 25 + 25 + 3
    static constexpr int kSlowMs = 300;

    static void SetUpTestSuite() {
        site_ = new DemoSiteProcess({"--faults", "--scale", std::to_string(kScale), "--slow-ms",
                                     std::to_string(kSlowMs), "--seed", "11"});
        if (site_->started())
            expected_ =
                new Json(ParseJson(Fetch(site_->caFile(), site_->webUrl("/__demo/expected")).body));
    }
    static void TearDownTestSuite() {
        delete expected_;
        delete site_;
        expected_ = nullptr;
        site_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(site_->started()) << site_->error();
        ASSERT_TRUE(expected_ && expected_->is_object());
    }

    static Reply Get(const std::string& url, const FetchOptions& options = {}) {
        return Fetch(site_->caFile(), url, options);
    }
    static Reply Search(const std::string& body) {
        FetchOptions options;
        options.post = body;
        options.headers = {"Content-Type: application/json", "Connection: keep-alive"};
        options.http10 = true;
        return Fetch(site_->caFile(), site_->apiUrl("/api/v2/professionals:search"), options);
    }
    static const Json& Pair(const std::string& category, const std::string& city) {
        for (const Json& pair : (*expected_)["pairs"]) {
            if (pair["category"] == category && pair["city"] == city)
                return pair;
        }
        static const Json none;
        ADD_FAILURE() << "no pair " << category << " / " << city;
        return none;
    }
    static std::string SlugOf(const QString& url) {
        return url.mid(url.indexOf(QStringLiteral("/pro/")) + 5).toStdString();
    }

    static DemoSiteProcess* site_;
    static Json* expected_;
};

DemoSiteProcess* DemoSite::site_ = nullptr;
Json* DemoSite::expected_ = nullptr;

TEST(DemoSiteStart, PrintsItsLineReusesItsCertificatesAndStopsOnSigterm) {
    QTemporaryDir certs;
    ASSERT_TRUE(certs.isValid());
    const std::string dir = certs.path().toStdString() + "/certs";
    QByteArray firstCa;
    {
        DemoSiteProcess first({"--cert-dir", dir});
        ASSERT_TRUE(first.started()) << first.error();
        EXPECT_EQ(first.webHost(), "127.0.0.1:" + std::to_string(first.webPort()));
        EXPECT_EQ(first.apiHost(), "127.0.0.1:" + std::to_string(first.apiPort()));
        EXPECT_NE(first.webPort(), first.apiPort());
        EXPECT_EQ(first.caFile(), dir + "/ca.pem");
        QFile ca(QString::fromStdString(first.caFile()));
        ASSERT_TRUE(ca.open(QIODevice::ReadOnly));
        firstCa = ca.readAll();
        EXPECT_TRUE(firstCa.startsWith("-----BEGIN CERTIFICATE-----"));
        // Verified against the CA, by IP address.
        const Reply reply = Fetch(first.caFile(), first.webUrl("/professionals"));
        EXPECT_EQ(reply.code, CURLE_OK);
        EXPECT_EQ(reply.status, 200);

        DemoSiteProcess second({"--cert-dir", dir});
        ASSERT_TRUE(second.started()) << second.error();
        EXPECT_NE(second.webPort(), first.webPort());
        EXPECT_EQ(Fetch(second.caFile(), second.apiUrl("/api/v2/reference/regions")).status, 200);
        EXPECT_EQ(first.stop(), 0);
        EXPECT_EQ(first.stop(), -1);
    }
    DemoSiteProcess third({"--cert-dir", dir});
    ASSERT_TRUE(third.started()) << third.error();
    QFile ca(QString::fromStdString(third.caFile()));
    ASSERT_TRUE(ca.open(QIODevice::ReadOnly));
    EXPECT_EQ(ca.readAll(), firstCa);
    // The certificate also names localhost.
    const Reply byName =
        Fetch(third.caFile(), "https://localhost:" + std::to_string(third.webPort()) + "/");
    EXPECT_EQ(byName.code, CURLE_OK);
    EXPECT_EQ(byName.status, 200);
    EXPECT_EQ(third.stop(), 0);
}

TEST_F(DemoSite, ProfessionalsPageCarriesTheCategoriesAsTheProgramCutsThem) {
    const QString page = Get(site_->webUrl("/professionals"), {.http10 = true}).text();
    QString cut = ExtractBetween(page, u"\\\"categoriesData\\\":{", {}, u"],");
    ASSERT_FALSE(cut.isEmpty());
    cut = ReplaceAll(QStringLiteral("{") + cut + QStringLiteral("]}"), u"\\\"", u"\"");
    const auto data = JsonParse(cut);
    ASSERT_TRUE(data.has_value());
    const JsonValue* categories = JsonAsArray(JsonMember(&*data, "categories"));
    ASSERT_NE(categories, nullptr);
    const Json& want = (*expected_)["categories"];
    ASSERT_EQ(JsonCount(*categories), want.size());
    std::set<bool> idKinds;
    for (std::size_t i = 0; i < want.size(); ++i) {
        const JsonValue* category = JsonElement(*categories, i);
        EXPECT_EQ(JsonMemberText(category, "name") + QStringLiteral(" (") +
                      JsonMemberText(category, "slug") + QStringLiteral(")"),
                  Q(want[i]["row"]));
        EXPECT_EQ(JsonMemberText(category, "id"), Q(want[i]["id"]));
        idKinds.insert(JsonMember(category, "id")->is_number());
    }
    EXPECT_EQ(idKinds.size(), 2u) << "numeric and text ids";
}

TEST_F(DemoSite, CitiesAndRegionsGiveTheDocumentedRows) {
    std::vector<std::string> rows;
    const auto cities = JsonParse(Get(site_->apiUrl("/api/v2/reference/cities")).text());
    ASSERT_TRUE(cities.has_value());
    const JsonValue* list = JsonAsArray(JsonMember(&*cities, "resources"));
    ASSERT_NE(list, nullptr);
    for (std::size_t i = 0; i < JsonCount(*list); ++i) {
        const JsonValue* city = JsonElement(*list, i);
        QString row = JsonMemberText(city, "name");
        if (const JsonValue* region = JsonMember(city, "region"))
            row += QStringLiteral("--") + JsonMemberText(region, "name");
        rows.push_back(row.toStdString());
    }
    const auto regions = JsonParse(Get(site_->apiUrl("/api/v2/reference/regions")).text());
    ASSERT_TRUE(regions.has_value());
    list = JsonAsArray(JsonMember(&*regions, "resources"));
    ASSERT_NE(list, nullptr);
    for (std::size_t i = 0; i < JsonCount(*list); ++i)
        rows.push_back(JsonMemberText(JsonElement(*list, i), "name").toStdString());

    std::vector<std::string> want;
    for (const Json& row : (*expected_)["cityRows"])
        want.push_back(row["row"]);
    EXPECT_EQ(rows, want);
    for (const char* row : {"Москва--Москва и Московская область", "Севастополь--", "Байконур",
                            "Свердловская область"})
        EXPECT_NE(std::find(rows.begin(), rows.end(), row), rows.end()) << row;
}

TEST_F(DemoSite, ListingAndSearchPageThroughEveryCardOfEachPair) {
    int pairsChecked = 0;
    int noticePairs = 0;
    for (const Json& pair : (*expected_)["pairs"]) {
        // Three categories over every city row: cities, regions, and the
        // city whose region is null.
        if (pair["categoryIndex"] > 2 || !pair["fault"].get<std::string>().empty())
            continue;
        SCOPED_TRACE(pair["category"].get<std::string>() + " / " + pair["city"].get<std::string>());
        const Reply listing = Get(site_->webUrl(pair["path"]), {.acceptEncoding = "gzip, deflate"});
        ASSERT_EQ(listing.status, 200);
        const QString page = listing.text();
        const QString key = ExtractBetween(
            page, u"\"defaultValues\\\":{\\\"location\\\":[{\\\"key\\\":\\\"", {}, u"\\\"");
        const QString index =
            ExtractBetween(page, u"\\\"activeCategory\\\":", u":categories:", u"\\");
        QString token = ExtractBetween(page, u"\\\"nextPageToken\\\":\\\"", {}, u"\\\"");
        EXPECT_EQ(key, Q(pair["cityKey"]));
        ASSERT_EQ(index, QString::number(pair["categoryIndex"].get<int>()));
        const QString categoryId =
            Q((*expected_)["categories"][static_cast<std::size_t>(index.toInt())]["id"]);

        std::vector<std::string> slugs;
        for (const QString& url : ListingCardUrls(page)) {
            EXPECT_TRUE(url.startsWith(Q("https://" + site_->webHost() + "/pro/")))
                << url.toStdString();
            slugs.push_back(SlugOf(url));
        }
        EXPECT_EQ(slugs.size(), 25u);
        std::vector<std::string> skipped;
        for (const QString& url : CardUrlsAfterNotice(page))
            skipped.push_back(SlugOf(url));
        EXPECT_EQ(!skipped.empty(), pair["notice"].get<bool>());
        noticePairs += pair["notice"].get<bool>() ? 1 : 0;

        int searches = 0;
        while (!token.isEmpty()) {
            const Reply reply = Search(SearchBody(categoryId, key, token));
            ASSERT_EQ(reply.status, 200) << reply.body.toStdString();
            ++searches;
            const QString text = reply.text();
            token = ExtractBetween(text, u"\"nextPageToken\":\"", {}, u"\"");
            const auto json = JsonParse(text);
            ASSERT_TRUE(json.has_value());
            const JsonValue* resources = JsonAsArray(JsonMember(&*json, "resources"));
            ASSERT_NE(resources, nullptr);
            for (std::size_t i = 0; i < JsonCount(*resources); ++i)
                slugs.push_back(JsonMemberText(JsonElement(*resources, i), "slug").toStdString());
        }
        EXPECT_EQ(searches, 2);
        EXPECT_EQ(slugs.size(), static_cast<std::size_t>(kScale));
        EXPECT_EQ(slugs, pair["cards"].get<std::vector<std::string>>());
        for (const std::string& slug : skipped)
            EXPECT_EQ(std::count(slugs.begin(), slugs.end(), slug), 0) << slug;
        ++pairsChecked;
    }
    EXPECT_EQ(pairsChecked, 3 * 18 - 1); // less the pair without the category index
    EXPECT_GT(noticePairs, 0);
}

TEST_F(DemoSite, CardAddressesFollowTheHostHeader) {
    const Json& pair = Pair("psihologi", "Байконур");
    const Reply listing = Get(site_->webUrl(pair["path"]),
                              {.headers = {"Host: localhost:" + std::to_string(site_->webPort())}});
    ASSERT_EQ(listing.status, 200);
    const std::vector<QString> urls = ListingCardUrls(listing.text());
    ASSERT_FALSE(urls.empty());
    for (const QString& url : urls)
        EXPECT_TRUE(
            url.startsWith(Q("https://localhost:" + std::to_string(site_->webPort()) + "/pro/")));
}

TEST_F(DemoSite, CardPagesCutToTheExpectedValues) {
    std::set<std::string> seen; // features the checked cards must cover
    int checked = 0;
    for (const char* city :
         {"Москва--Москва и Московская область", "Севастополь--", "Республика Татарстан"}) {
        for (const Json& listed : Pair("santehniki", city)["cards"]) {
            const std::string lower = Q(listed.get<std::string>()).toLower().toStdString();
            const Json& card = expected_->at("cards").at(lower);
            if (!card["row"].get<bool>() || card["fault"] != "")
                continue;
            const Reply reply = Get(site_->webUrl("/pro/" + listed.get<std::string>()),
                                    {.acceptEncoding = "gzip, deflate"});
            ASSERT_EQ(reply.status, 200) << listed;
            EXPECT_EQ(reply.contentEncoding, "gzip");
            EXPECT_GT(reply.body.size(), 20000);
            EXPECT_LT(reply.body.size(), 400000);
            const QString page = reply.text();
            const QString block =
                ExtractBetween(page, u"\"@type\": \"LocalBusiness\"", {}, u"</script>");
            QStringList services;
            QString rest = block;
            const QString offer = QStringLiteral("\"@type\": \"Offer\",");
            qsizetype p;
            while ((p = rest.indexOf(offer)) >= 0) {
                const qsizetype close = rest.indexOf(u'}', p + offer.size());
                const QString text =
                    close < 0 ? QString() : rest.mid(p + offer.size(), close - p - offer.size());
                rest.remove(0, p + 4);
                const QString name = ExtractBetween(text, u"\"name\": \"", {}, u"\"");
                if (!name.isEmpty())
                    services << name;
                else
                    seen.insert("unnamed offer");
            }
            const Json& want = card["values"];
            SCOPED_TRACE(listed.get<std::string>());
            EXPECT_EQ(ReplaceAll(ExtractBetween(block, u"\"name\": \"", {}, u"\","), u"\\", u""),
                      Q(want["name"]));
            EXPECT_EQ(
                TrimControl(CleanHtmlText(ExtractBetween(page, u"data-order=\"5\">", {}, u"<")))
                    .toString(),
                Q(want["categories"]));
            EXPECT_EQ(services.join(QStringLiteral("; ")), Q(want["services"]));
            EXPECT_EQ(ExtractBetween(block, u"\"ratingValue\": ", {}, u","), Q(want["rating"]));
            EXPECT_EQ(ExtractBetween(block, u"\"reviewCount\": ", {}, u","), Q(want["reviews"]));
            EXPECT_EQ(ExtractBetween(block, u"\"telephone\": \"", {}, u"\""), Q(want["telephone"]));
            EXPECT_EQ(
                ExtractBetween(ExtractBetween(block, u"\"sameAs\":", {}, u"]"), u"\"", {}, u"\""),
                Q(want["site"]));
            EXPECT_EQ(ExtractBetween(block, u"\"email\": \"", {}, u"\""), Q(want["email"]));
            EXPECT_EQ(ExtractBetween(block, u"\"addressLocality\": \"", {}, u"\""),
                      Q(want["city"]));
            EXPECT_EQ(
                ReplaceAll(ExtractBetween(block, u"\"streetAddress\": \"", {}, u"\","), u"\\", u""),
                Q(want["address"]));
            if (Q(want["name"]).contains(u'"'))
                seen.insert("quote in name");
            if (ExtractBetween(block, u"\"streetAddress\": \"", {}, u"\",").contains(u'\\'))
                seen.insert("backslash in address");
            if (Q(want["categories"]).contains(u'«'))
                seen.insert("angle quotes");
            if (Q(want["services"]).contains(u';'))
                seen.insert("several services");
            if (want["rating"] == "")
                seen.insert("no rating");
            if (want["site"] == "")
                seen.insert("no site");
            ++checked;
        }
    }
    EXPECT_GT(checked, 100);
    EXPECT_EQ(seen.size(), 7u) << "features covered: " << seen.size();
}

TEST_F(DemoSite, CardAddressesIgnoreLetterCaseAndUnknownOnesAnswer404) {
    std::string capitalised;
    for (const Json& slug : Pair("yuristy", "Свердловская область")["cards"]) {
        const std::string text = slug;
        if (text != QString::fromStdString(text).toLower().toStdString())
            capitalised = text;
    }
    ASSERT_FALSE(capitalised.empty());
    const std::string lower = QString::fromStdString(capitalised).toLower().toStdString();
    const Reply upper = Get(site_->webUrl("/pro/" + capitalised));
    const Reply plain = Get(site_->webUrl("/pro/" + lower));
    ASSERT_EQ(upper.status, 200);
    EXPECT_EQ(upper.body, plain.body);
    EXPECT_EQ(Get(site_->webUrl("/pro/" + lower + "x")).status, 404);
    EXPECT_EQ(Get(site_->webUrl("/pro/ivanov-ivan-00000")).status, 404);
    EXPECT_EQ(
        Get(site_->webUrl("/professionals/santehniki/c/%D0%9B%D0%B8%D0%BC%D0%B1/probr-0~")).status,
        404);
    EXPECT_EQ(Get(site_->webUrl("/professionals/nobody/c/"
                                "%D0%91%D0%B0%D0%B9%D0%BA%D0%BE%D0%BD%D1%83%D1%80/probr-0~"))
                  .status,
              404);
}

TEST_F(DemoSite, SearchRejectsBadBodiesAndForeignTokens) {
    const Json& pair = Pair("elektriki", "Москва--Москва и Московская область");
    const Json& other = Pair("elektriki", "Химки--Москва и Московская область");
    const QString page = Get(site_->webUrl(pair["path"])).text();
    const QString token = ExtractBetween(page, u"\\\"nextPageToken\\\":\\\"", {}, u"\\\"");
    ASSERT_FALSE(token.isEmpty());
    const QString id = Q(pair["categoryId"]);
    const QString key = Q(pair["cityKey"]);
    EXPECT_EQ(Search(SearchBody(id, key, token)).status, 200);

    const Reply broken = Search("{\"filter\":");
    EXPECT_EQ(broken.status, 400);
    EXPECT_TRUE(ParseJson(broken.body).contains("error")) << broken.body.toStdString();
    EXPECT_EQ(Search(SearchBody(id, key, QStringLiteral("pt_0123456789abcdef"))).status, 400);
    EXPECT_EQ(Search(SearchBody(id, Q(other["cityKey"]), token)).status, 400);
    std::string small = SearchBody(id, key, token);
    small.replace(small.find("\"pageSize\":25"), 13, "\"pageSize\":10");
    EXPECT_EQ(Search(small).status, 400);
    // A service filter is accepted and does not narrow the list.
    const std::string withService =
        (QStringLiteral("{\"filter\":{\"categoryId\":{\"eq\":\"") + id +
         QStringLiteral("\"},\"cityId\":{\"eq\":\"") + key +
         QStringLiteral("\"},\"serviceId\":{\"all\":[\"77\"]}},\"pageSize\":25,\"pageToken\":\"") +
         token + QStringLiteral("\"}"))
            .toStdString();
    const Reply filtered = Search(withService);
    EXPECT_EQ(filtered.status, 200);
    EXPECT_EQ(filtered.body, Search(SearchBody(id, key, token)).body);
}

TEST_F(DemoSite, BodiesAreCompressedOnlyWhenTheRequestAllowsIt) {
    const std::string card = Pair("fotografy", "Казань--Республика Татарстан")["cards"][0];
    const Reply plain = Get(site_->webUrl("/pro/" + card));
    ASSERT_EQ(plain.status, 200);
    EXPECT_EQ(plain.contentEncoding, "");

    const Reply raw =
        Get(site_->webUrl("/pro/" + card), {.acceptEncoding = "gzip, deflate", .decode = false});
    EXPECT_EQ(raw.contentEncoding, "gzip");
    ASSERT_GT(raw.body.size(), 2);
    EXPECT_EQ(static_cast<unsigned char>(raw.body[0]), 0x1f);
    EXPECT_EQ(static_cast<unsigned char>(raw.body[1]), 0x8b);
    EXPECT_LT(raw.body.size(), plain.body.size() / 2);
    EXPECT_EQ(Get(site_->webUrl("/pro/" + card), {.acceptEncoding = "gzip, deflate"}).body,
              plain.body);

    EXPECT_EQ(Get(site_->webUrl("/pro/" + card), {.acceptEncoding = "deflate"}).contentEncoding,
              "deflate");
    EXPECT_EQ(
        Get(site_->webUrl("/pro/" + card), {.acceptEncoding = "gzip;q=0, deflate"}).contentEncoding,
        "deflate");
    EXPECT_EQ(Get(site_->apiUrl("/api/v2/reference/cities"), {.acceptEncoding = "gzip, deflate"})
                  .contentEncoding,
              "gzip");
    FetchOptions search;
    search.post = SearchBody(QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z"));
    search.acceptEncoding = "gzip, deflate";
    const Reply rejected =
        Fetch(site_->caFile(), site_->apiUrl("/api/v2/professionals:search"), search);
    EXPECT_EQ(rejected.status, 400);
    EXPECT_EQ(rejected.contentEncoding, "gzip");
    EXPECT_TRUE(ParseJson(rejected.body).contains("error"));

    // The page client's form: HTTP/1.0, no Accept-Encoding, one answer per
    // connection.
    const Reply old = Get(site_->webUrl("/professionals"), {.http10 = true});
    EXPECT_EQ(old.status, 200);
    EXPECT_EQ(old.contentEncoding, "");
    EXPECT_EQ(old.connection, "close");
}

TEST_F(DemoSite, FaultCardsBehaveAsDocumented) {
    ASSERT_EQ(Get(site_->webUrl("/__demo/reset"), {.post = "{}"}).status, 200);
    const Json& pair = Pair("santehniki", "Москва--Москва и Московская область");
    const std::vector<std::string> faults = {
        "fault-404-a",   "fault-500x3-a",    "fault-empty",    "fault-404-b",
        "fault-slow",    "fault-500-always", "fault-redirect", "fault-blank",
        "fault-500x3-b", "fault-404-c",      "fault-500x9",    "fault-redirect-long"};
    for (std::size_t i = 0; i < faults.size(); ++i)
        EXPECT_EQ(pair["cards"][4 * i + 1], faults[i]) << i;

    for (const char* slug : {"fault-404-a", "fault-404-b", "Fault-404-C"})
        EXPECT_EQ(Get(site_->webUrl(std::string("/pro/") + slug)).status, 404) << slug;
    std::vector<long> statuses;
    for (int i = 0; i < 5; ++i)
        statuses.push_back(Get(site_->webUrl("/pro/fault-500x3-a")).status);
    EXPECT_EQ(statuses, (std::vector<long>{500, 500, 500, 200, 200}));
    statuses.clear();
    for (int i = 0; i < 10; ++i)
        statuses.push_back(Get(site_->webUrl("/pro/fault-500x9")).status);
    EXPECT_EQ(statuses, (std::vector<long>{500, 500, 500, 500, 500, 500, 500, 500, 500, 200}));
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(Get(site_->webUrl("/pro/fault-500-always")).statusLines.back(),
                  "HTTP/1.1 500 Internal Server Error");

    const Reply empty = Get(site_->webUrl("/pro/fault-empty"), {.acceptEncoding = "gzip, deflate"});
    EXPECT_EQ(empty.status, 200);
    EXPECT_TRUE(empty.body.isEmpty());
    const Reply blank = Get(site_->webUrl("/pro/fault-blank"));
    EXPECT_EQ(blank.status, 200);
    EXPECT_FALSE(blank.body.isEmpty());
    EXPECT_TRUE(TrimControl(blank.text()).isEmpty());

    const auto started = std::chrono::steady_clock::now();
    const Reply slow = Get(site_->webUrl("/pro/fault-slow"));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(kSlowMs));
    EXPECT_EQ(slow.status, 200);
    EXPECT_TRUE(slow.text().contains(QStringLiteral("\"@type\": \"LocalBusiness\"")));

    const Reply redirect = Get(site_->webUrl("/pro/fault-redirect"), {.follow = true});
    EXPECT_EQ(redirect.status, 200);
    EXPECT_EQ(redirect.redirects, 3);
    ASSERT_EQ(redirect.statusLines.size(), 4u);
    EXPECT_EQ(redirect.statusLines[0], "HTTP/1.1 301 Moved Permanently");
    EXPECT_EQ(redirect.statusLines[1], "HTTP/1.1 302 Found");
    EXPECT_EQ(redirect.statusLines[2], "HTTP/1.1 307 Temporary Redirect");
    EXPECT_TRUE(redirect.text().contains(QStringLiteral("\"@type\": \"LocalBusiness\"")));
    // The fetch worker follows 14 redirects at most.
    const Reply tooLong =
        Get(site_->webUrl("/pro/fault-redirect-long"), {.follow = true, .maxRedirects = 14});
    EXPECT_EQ(tooLong.code, CURLE_TOO_MANY_REDIRECTS);
    const Reply longChain = Get(site_->webUrl("/pro/fault-redirect-long"), {.follow = true});
    EXPECT_EQ(longChain.status, 200);
    EXPECT_EQ(longChain.redirects, 20);

    const Json stats = ParseJson(Get(site_->webUrl("/__demo/stats")).body);
    EXPECT_EQ(stats["cards"]["fault-500x3-a"], 5);
    EXPECT_EQ(stats["cards"]["fault-500-always"], 12);
    EXPECT_EQ(stats["cards"]["fault-404-c"], 1);
    EXPECT_EQ(stats["cards"]["fault-redirect-long"], 2); // hops are not counted

    // The one listing page without the category index.
    const Json& broken = Pair("elektriki", "Казань--Республика Татарстан");
    EXPECT_EQ(broken["fault"], "no-active-category");
    const QString page = Get(site_->webUrl(broken["path"])).text();
    EXPECT_TRUE(ExtractBetween(page, u"\\\"activeCategory\\\":", u":categories:", u"\\").isEmpty());
    EXPECT_FALSE(ExtractBetween(page, u"\\\"nextPageToken\\\":\\\"", {}, u"\\\"").isEmpty());
    EXPECT_EQ(ListingCardUrls(page).size(), 25u);
}

TEST(DemoSiteContent, FollowsTheSeedAndHasNoFaultsByDefault) {
    const auto dump = [](const std::string& args) {
        std::string out;
        FILE* pipe =
            ::popen((std::string(DEMO_SITE_EXE) + " --dump-expected " + args).c_str(), "r");
        if (pipe == nullptr)
            return out;
        char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        ::pclose(pipe);
        return out;
    };
    const std::string seven = dump("--scale 4 --seed 7");
    ASSERT_FALSE(seven.empty());
    EXPECT_EQ(dump("--scale 4 --seed 7"), seven);
    const Json a = Json::parse(seven);
    const Json b = Json::parse(dump("--scale 4 --seed 8"));
    EXPECT_NE(a["pairs"][0]["cards"], b["pairs"][0]["cards"]);
    EXPECT_EQ(a["pairs"].size(), 12u * 18u);
    EXPECT_FALSE(a["faults"].get<bool>());

    DemoSiteProcess site({"--scale", "4", "--seed", "7"});
    ASSERT_TRUE(site.started()) << site.error();
    EXPECT_EQ(Json(ParseJson(Fetch(site.caFile(), site.webUrl("/__demo/expected")).body)), a);
    for (const Json& pair : a["pairs"]) {
        for (const Json& slug : pair["cards"])
            EXPECT_EQ(slug.get<std::string>().rfind("fault-", 0), std::string::npos);
    }
    EXPECT_EQ(Fetch(site.caFile(), site.webUrl("/pro/fault-404-a")).status, 404);
    EXPECT_EQ(Fetch(site.caFile(), site.webUrl("/pro/fault-500-always")).status, 404);
    const std::string path = a["pairs"][std::size_t{6 * 12 + 1}]["path"]; // Казань, Электрики
    const QString page = Fetch(site.caFile(), site.webUrl(path)).text();
    EXPECT_EQ(ExtractBetween(page, u"\\\"activeCategory\\\":", u":categories:", u"\\"),
              QStringLiteral("1"));
    // Four cards: one page, no token.
    EXPECT_TRUE(ExtractBetween(page, u"\\\"nextPageToken\\\":\\\"", {}, u"\\\"").isEmpty());
    EXPECT_EQ(ListingCardUrls(page).size(), 4u);
}

// The site counts per host the TLS connections that carried a request of
// the site (not the /__demo/ ones) and those that resumed a session; an
// HTTP/1.0 answer says "Connection: close" unless asked for "Keep-Alive"
// exactly, as cpp-httplib then closes the connection.
TEST(DemoSiteConnections, AreCountedPerHostAndHttp10OnesSayWhenTheyClose) {
    DemoSiteProcess site({"--scale", "4"});
    ASSERT_TRUE(site.started()) << site.error();
    const auto connections = [&] {
        return ParseJson(Fetch(site.caFile(), site.webUrl("/__demo/stats")).body)["connections"];
    };
    EXPECT_EQ(Fetch(site.caFile(), site.webUrl("/")).connection, "");
    const std::string cities = site.apiUrl("/api/v2/reference/cities");
    const std::pair<std::string, std::string> asked[] = {{"keep-alive", "close"},
                                                         {"Keep-Alive", ""}};
    for (const auto& [keepAlive, answer] : asked) {
        const FetchOptions http10{.headers = {"Connection: " + keepAlive}, .http10 = true};
        EXPECT_EQ(Fetch(site.caFile(), cities, http10).connection, answer) << keepAlive;
    }
    EXPECT_EQ(connections(), Json::parse(R"({"web":{"tls":1,"resumed":0},)"
                                         R"("api":{"tls":2,"resumed":0}})"));
    ASSERT_EQ(Fetch(site.caFile(), site.webUrl("/__demo/reset"), {.post = "{}"}).status, 200);
    EXPECT_EQ(connections()["api"]["tls"], 0);
}

} // namespace
