#include "demo_site/site_client.h"

#include "text/extract.h"
#include "text/html_text.h"

#include <QStringView>

#include <strings.h>

#include <cstring>

namespace {

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    static_cast<Reply*>(user)->body.append(data, static_cast<qsizetype>(size * count));
    return size * count;
}

std::string HeaderValue(const std::string& line, const char* name) {
    const std::size_t length = std::strlen(name);
    if (line.size() <= length || strncasecmp(line.c_str(), name, length) != 0)
        return {};
    std::string value = line.substr(length);
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' '))
        value.pop_back();
    while (!value.empty() && value.front() == ' ')
        value.erase(value.begin());
    return value;
}

size_t WriteHeader(char* data, size_t size, size_t count, void* user) {
    Reply* reply = static_cast<Reply*>(user);
    const std::string line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0) {
        reply->statusLines.push_back(HeaderValue(line, ""));
        reply->contentEncoding.clear();
        reply->location.clear();
        reply->connection.clear();
    }
    if (const std::string v = HeaderValue(line, "content-encoding:"); !v.empty())
        reply->contentEncoding = v;
    if (const std::string v = HeaderValue(line, "location:"); !v.empty())
        reply->location = v;
    if (const std::string v = HeaderValue(line, "connection:"); !v.empty())
        reply->connection = v;
    return size * count;
}

} // namespace

QString Reply::text() const {
    return StreamToText(body);
}

Reply Fetch(const std::string& caFile, const std::string& url, const FetchOptions& options) {
    Reply reply;
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    for (const std::string& header : options.headers)
        headers = curl_slist_append(headers, header.c_str());
    if (!options.acceptEncoding.empty())
        headers =
            curl_slist_append(headers, ("Accept-Encoding: " + options.acceptEncoding).c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, WriteHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 20000L);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION,
                     options.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
    if (!options.decode)
        curl_easy_setopt(curl, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    else if (!options.acceptEncoding.empty())
        curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, ""); // decode what arrives
    if (options.follow) {
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl, CURLOPT_MAXREDIRS, options.maxRedirects);
    }
    if (!options.post.empty()) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, options.post.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(options.post.size()));
    }
    reply.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_easy_getinfo(curl, CURLINFO_REDIRECT_COUNT, &reply.redirects);
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    return reply;
}

std::string SearchBody(const QString& categoryId, const QString& cityId, const QString& token) {
    return (QStringLiteral("{\"filter\":{\"categoryId\":{\"eq\":\"") + categoryId +
            QStringLiteral("\"},\"cityId\":{\"eq\":\"") + cityId +
            QStringLiteral("\"}},\"pageSize\":25,\"pageToken\":\"") + token + QStringLiteral("\"}"))
        .toStdString();
}

namespace {

const QString kNotice = QStringLiteral(">Убрали часть фильтров, чтобы показать больше экспертов");
const QString kAll = QStringLiteral("Все эксперты</a>");
const QString kBlock = QStringLiteral("\"@type\": \"LocalBusiness\",");

std::vector<QString> BlockUrls(QString s) {
    std::vector<QString> urls;
    qsizetype p;
    while ((p = s.indexOf(kBlock)) >= 0) {
        const qsizetype end = s.indexOf(QStringLiteral("</script>"), p + kBlock.size());
        const QString block = end < 0 ? QString() : s.mid(p, end - p);
        s.remove(0, p + 11);
        const QString list = ExtractBetween(block, u"\"sameAs\": [", {}, u"]");
        urls.push_back(ExtractBetween(list, u"\"", {}, u"\""));
    }
    return urls;
}

} // namespace

std::vector<QString> ListingCardUrls(const QString& page) {
    QString s = page;
    const qsizetype notice = s.indexOf(kNotice);
    if (notice >= 0)
        s.truncate(notice + 1);
    const qsizetype all = s.indexOf(kAll);
    if (all < 0)
        return {};
    return BlockUrls(s.mid(all + kAll.size()));
}

std::vector<QString> CardUrlsAfterNotice(const QString& page) {
    const qsizetype notice = page.indexOf(kNotice);
    return notice < 0 ? std::vector<QString>{} : BlockUrls(page.mid(notice));
}

nlohmann::json ParseJson(const QByteArray& body) {
    return nlohmann::json::parse(body.constData(), body.constData() + body.size(), nullptr, false);
}
