#include "site/reference_lists.h"

#include "text/extract.h"
#include "text/json_reader.h"

namespace {

// The elements of a reference answer's "resources" array.
template <typename RowOf> QStringList ResourceRows(const QString& body, RowOf rowOf) {
    QStringList rows;
    const std::optional<JsonValue> doc = JsonParse(body);
    if (!doc)
        return rows;
    const JsonValue* resources = JsonAsArray(JsonMember(&*doc, "resources"));
    if (resources == nullptr)
        return rows;
    for (std::size_t i = 0; i < JsonCount(*resources); ++i)
        rows.append(rowOf(JsonElement(*resources, i)));
    return rows;
}

} // namespace

void AddCategories(const QString& page, QStringList& rows, QStringList& ids) {
    QString data = ExtractBetween(page, u"\\\"categoriesData\\\":{", u"", u"],");
    if (!data.isEmpty())
        data = QLatin1Char('{') + data + QStringLiteral("]}");
    data = ReplaceAll(data, u"\\\"", u"\"");
    const std::optional<JsonValue> doc = JsonParse(data);
    if (!doc)
        return;
    const JsonValue* categories = JsonAsArray(JsonMember(&*doc, "categories"));
    if (categories == nullptr)
        return;
    for (std::size_t i = 0; i < JsonCount(*categories); ++i) {
        const JsonValue* category = JsonElement(*categories, i);
        rows.append(JsonMemberText(category, "name") + QStringLiteral(" (") +
                    JsonMemberText(category, "slug") + QLatin1Char(')'));
        ids.append(JsonMemberText(category, "id"));
    }
}

QStringList CityRows(const QString& answer) {
    return ResourceRows(answer, [](const JsonValue* city) {
        QString row = JsonMemberText(city, "name");
        if (const JsonValue* region = JsonMember(city, "region"))
            row += QStringLiteral("--") + JsonMemberText(region, "name");
        return row;
    });
}

QStringList RegionRows(const QString& answer) {
    return ResourceRows(answer,
                        [](const JsonValue* region) { return JsonMemberText(region, "name"); });
}

void LoadReferenceLists(const FetchText& fetch, const QString& webHost, const QString& apiHost,
                        const ReferenceSink& sink) {
    QStringList rows;
    QStringList ids;
    AddCategories(fetch(QStringLiteral("https://") + webHost + QStringLiteral("/professionals")),
                  rows, ids);
    sink.categories(rows, ids);
    sink.cities(CityRows(
        fetch(QStringLiteral("https://") + apiHost + QStringLiteral("/api/v2/reference/cities"))));
    QStringList regions;
    try {
        regions = RegionRows(fetch(QStringLiteral("https://") + apiHost +
                                   QStringLiteral("/api/v2/reference/regions")));
    } catch (...) {
        return; // the regions are a bonus: their failure leaves no trace
    }
    sink.cities(regions);
}

QStringList NamedCategoryRows(const QStringList& rows, const QStringList& names,
                              QStringList& unknown) {
    QStringList named;
    for (const QString& name : names) {
        bool found = false;
        for (const QString& row : rows) {
            const QString slug = ExtractBetween(row, u"(", u"", u")");
            if (row.compare(name, Qt::CaseInsensitive) == 0 ||
                slug.compare(name, Qt::CaseInsensitive) == 0) {
                named.append(row);
                found = true;
            }
        }
        if (!found)
            unknown.append(name);
    }
    return named;
}

QStringList UnknownCityNames(const QStringList& rows, const QStringList& names) {
    QStringList unknown;
    for (const QString& name : names) {
        bool found = false;
        for (qsizetype i = 0; i < rows.size() && !found; ++i)
            found = rows[i].compare(name, Qt::CaseInsensitive) == 0;
        if (!found)
            unknown.append(name);
    }
    return unknown;
}
