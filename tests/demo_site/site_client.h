#pragma once
// A small libcurl client for the demo-site tests, trusting the site's CA.

#include <QByteArray>
#include <QString>

#include <curl/curl.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

struct FetchOptions {
    std::string post{};                 // sent as a POST body when not empty
    std::vector<std::string> headers{}; // extra request headers
    std::string acceptEncoding{};       // sent as Accept-Encoding when not empty
    bool decode = true;                 // let curl undo a content coding
    bool follow = false;
    long maxRedirects = -1;
    bool http10 = false;
};

struct Reply {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::vector<std::string> statusLines; // one per answer, redirects included
    std::string contentEncoding;          // of the last answer
    std::string location;                 // of the last answer
    std::string connection;               // of the last answer
    QByteArray body;
    long redirects = 0;
    QString text() const;
};

Reply Fetch(const std::string& caFile, const std::string& url, const FetchOptions& options = {});

// The body made with the listing page's values, as the program builds it.
std::string SearchBody(const QString& categoryId, const QString& cityId, const QString& token);

// Cuts the card URLs of a listing page the way the program does: after
// "Все эксперты</a>", before the "filters removed" notice, one per
// LocalBusiness block.
std::vector<QString> ListingCardUrls(const QString& page);

// What `ListingCardUrls` skips after the notice, for checking the page.
std::vector<QString> CardUrlsAfterNotice(const QString& page);

nlohmann::json ParseJson(const QByteArray& body);
