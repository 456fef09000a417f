#include "site/requests.h"

#include "text/extract.h"

#include <QByteArray>

namespace {

constexpr QStringView kFilterPrefix = u"{\"filter\"";

bool IsAsciiAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

QString PercentEncodeCity(const QString& rowText) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const QByteArray utf8 = rowText.toUtf8();
    QString out;
    out.reserve(utf8.size() * 3);
    for (const char ch : utf8) {
        const auto byte = static_cast<unsigned char>(ch);
        if (IsAsciiAlnum(byte)) {
            out.append(QLatin1Char(static_cast<char>(byte)));
        } else {
            out.append(QLatin1Char('%'));
            out.append(QLatin1Char(kHex[byte >> 4]));
            out.append(QLatin1Char(kHex[byte & 0x0F]));
        }
    }
    return out;
}

QString CategorySlug(const QString& rowText) {
    return ExtractBetween(rowText, u"(", {}, u")");
}

QString ListingUrl(const QString& webHost, const QString& slug, const QString& encodedCity) {
    return QStringLiteral("https://") + webHost + QStringLiteral("/professionals/") + slug +
           QStringLiteral("/c/") + encodedCity + QStringLiteral("/probr-0~");
}

WorkQueue SeedListingQueue(const QString& webHost, const QStringList& selectedCityRows,
                           const QStringList& selectedCategoryRows) {
    WorkQueue queue;
    for (const QString& cityRow : selectedCityRows) {
        const QString city = PercentEncodeCity(cityRow);
        for (const QString& categoryRow : selectedCategoryRows)
            queue.push_back(ListingUrl(webHost, CategorySlug(categoryRow), city));
    }
    return queue;
}

QString SearchRequestBody(const QString& categoryId, const QString& cityId, const QString& token) {
    return QStringLiteral("{\"filter\":{\"categoryId\":{\"eq\":\"") + categoryId +
           QStringLiteral("\"},\"cityId\":{\"eq\":\"") + cityId +
           QStringLiteral("\"}},\"pageSize\":25,\"pageToken\":\"") + token + QStringLiteral("\"}");
}

QString SearchRequestBody(const QString& categoryId, const QString& cityId,
                          const QString& serviceId, const QString& token) {
    return QStringLiteral("{\"filter\":{\"categoryId\":{\"eq\":\"") + categoryId +
           QStringLiteral("\"},\"cityId\":{\"eq\":\"") + cityId +
           QStringLiteral("\"},\"serviceId\":{\"all\":[\"") + serviceId +
           QStringLiteral("\"]}},\"pageSize\":25,\"pageToken\":\"") + token + QStringLiteral("\"}");
}

QString CardUrl(const QString& webHost, const QString& slug) {
    return QStringLiteral("https://") + webHost + QStringLiteral("/pro/") + slug;
}

bool ContainsSearchFilter(QStringView item) {
    return item.contains(kFilterPrefix);
}

bool IsBlankWorkItem(QStringView item) {
    return TrimControl(item).isEmpty();
}

QString FinishedItemLogLine(const QString& item, const QString& statusText) {
    if (!IsSearchRequest(item))
        return item + QStringLiteral(": ") + statusText;
    const QString cityId = ExtractBetween(item, u"\"cityId\":{\"eq\":\"", {}, u"\"");
    const QString categoryId = ExtractBetween(item, u"categoryId\":{\"eq\":\"", {}, u"\"");
    return QStringLiteral("cityId/categoryId ") + cityId + QStringLiteral("/") + categoryId +
           QStringLiteral(": ") + statusText;
}

QString CardLogLine(const QString& url, const QString& statusText) {
    return QStringLiteral("Карточка ") + url + QStringLiteral(": ") + statusText;
}

bool IsSearchRequest(QStringView item) {
    return item.startsWith(u"{\"filter\"");
}

QByteArray SearchPostBody(const QString& item) {
    const QStringView body = TrimControl(item);
    QByteArray bytes;
    bytes.reserve(body.size());
    for (qsizetype i = 0; i < body.size(); ++i) {
        const char16_t c = body[i].unicode();
        if (c == u'\r' || c == u'\n') {
            bytes.append('&');
            if (c == u'\r' && i + 1 < body.size() && body[i + 1] == u'\n')
                ++i; // CR LF is one line break
        } else {
            bytes.append(c < 0x80 ? static_cast<char>(c) : '?');
        }
    }
    return bytes;
}

QString WorkItemHost(const QString& item, const QString& apiHost) {
    if (IsSearchRequest(item))
        return apiHost.toLower();
    const qsizetype scheme = item.indexOf(u"://");
    if (scheme < 0)
        return {};
    const qsizetype start = scheme + 3;
    qsizetype end = start;
    while (end < item.size() && item[end] != u'/' && item[end] != u'?' && item[end] != u'#')
        ++end;
    QStringView authority = QStringView(item).mid(start, end - start);
    const qsizetype at = authority.lastIndexOf(u'@');
    if (at >= 0)
        authority = authority.mid(at + 1); // user information is not the host
    return authority.toString().toLower();
}
