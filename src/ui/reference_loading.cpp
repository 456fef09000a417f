// Filling the two lists from the site, one second after start.

#include "ui/main_form.h"

#include "core/config.h"
#include "core/platform.h"
#include "net/page_client.h"
#include "text/extract.h"
#include "text/json_reader.h"
#include "ui/selection_files.h"

#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QScopeGuard>
#include <QTimer>

#include <exception>

namespace {

// Category rows "name (slug)" and their ids, from the professionals page,
// whose script carries the category data as JSON with escaped quotes.
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

// The elements of a reference response's "resources" array.
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

// "Город", "Город--Область", or "Город--" for a region that is null.
QString CityRow(const JsonValue* city) {
    QString row = JsonMemberText(city, "name");
    if (const JsonValue* region = JsonMember(city, "region"))
        row += QStringLiteral("--") + JsonMemberText(region, "name");
    return row;
}

QString RegionRow(const JsonValue* region) {
    return JsonMemberText(region, "name");
}

} // namespace

void TMainForm::Timer1Timer() {
    CategoryIds.clear();
    Timer1->stop();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool cursorShown = true;
    const auto restoreCursor = [&] {
        if (cursorShown)
            QApplication::restoreOverrideCursor();
        cursorShown = false;
    };
    const auto restoreAtEnd = qScopeGuard(restoreCursor);

    try {
        AppendLog(QStringLiteral("Загружаем города и категории с сайта..."));
        {
            // The client is released and the cursor restored whatever happens.
            TPageClient client;
            const auto release = qScopeGuard(restoreCursor);

            client.Get(QStringLiteral("https://") + Config().WebHost +
                       QStringLiteral("/professionals"));
            QStringList rows;
            AddCategories(client.BodyText(), rows, CategoryIds);
            CatsListBox->addItems(rows);

            client.Clear();
            client.Get(QStringLiteral("https://") + Config().ApiHost +
                       QStringLiteral("/api/v2/reference/cities"));
            CitiesListBox->addItems(ResourceRows(client.BodyText(), CityRow));

            try {
                client.Clear();
                client.Get(QStringLiteral("https://") + Config().ApiHost +
                           QStringLiteral("/api/v2/reference/regions"));
                CitiesListBox->addItems(ResourceRows(client.BodyText(), RegionRow));
            } catch (...) {
                // The regions are a bonus: their failure leaves no trace.
            }
        }
        AppendLog(QStringLiteral("Всё готово к работе, выделите нужные города и категории"));
        ApplyInitialSelection();
        loadingSucceeded_ = true;
    } catch (const std::exception& e) {
        AppendLog(QStringLiteral("Ошибка ") + QString::fromUtf8(e.what()));
    }
    loadingEnded_ = true;
    emit ReferenceLoadingEnded(loadingSucceeded_);
}

void TMainForm::ApplyInitialSelection() {
    // Each list takes the rows named on the command line, or else its saved
    // selection.
    const QString categoriesFile = ProgramFolder() + QStringLiteral("selection1.txt");
    if (!Config().Categories.isEmpty())
        SelectNamedCategories();
    else if (QFile::exists(categoriesFile))
        RestoreSelection(*CatsListBox, ReadSelectionFile(categoriesFile));
    const QString citiesFile = ProgramFolder() + QStringLiteral("selection2.txt");
    if (!Config().Cities.isEmpty())
        SelectNamedCities();
    else if (QFile::exists(citiesFile))
        RestoreSelection(*CitiesListBox, ReadSelectionFile(citiesFile));
}

// --category: a row named by its text or by its slug alone. Names that match
// no row are reported.
void TMainForm::SelectNamedCategories() {
    QStringList lines;
    for (const QString& name : Config().Categories) {
        bool found = false;
        for (int i = 0; i < CatsListBox->count(); ++i) {
            const QString row = CatsListBox->item(i)->text();
            const QString slug = ExtractBetween(row, u"(", u"", u")");
            if (row.compare(name, Qt::CaseInsensitive) == 0 ||
                slug.compare(name, Qt::CaseInsensitive) == 0) {
                lines.append(row);
                found = true;
            }
        }
        if (!found)
            AppendLog(QStringLiteral("Категория не найдена: ") + name);
    }
    RestoreSelection(*CatsListBox, lines);
}

// --city: a row named by its text.
void TMainForm::SelectNamedCities() {
    for (const QString& name : Config().Cities) {
        bool found = false;
        for (int i = 0; i < CitiesListBox->count() && !found; ++i)
            found = CitiesListBox->item(i)->text().compare(name, Qt::CaseInsensitive) == 0;
        if (!found)
            AppendLog(QStringLiteral("Город или регион не найден: ") + name);
    }
    RestoreSelection(*CitiesListBox, Config().Cities);
}
