#pragma once
// The category and city lists the site offers: read from its professionals
// page and its two reference answers, and the rows a user names on the
// command line.

#include <QString>
#include <QStringList>

#include <functional>

// Category rows "name (slug)" and their ids, appended from the professionals
// page, whose script carries the category data as JSON with escaped quotes.
// A page without it, or whose cut does not parse, adds nothing.
void AddCategories(const QString& page, QStringList& rows, QStringList& ids);

// The rows of a cities answer: "Город", "Город--Область", or "Город--" for a
// region that is null; and of a regions answer: the region's name. An
// answer that is not an object with a "resources" array gives none.
QStringList CityRows(const QString& answer);
QStringList RegionRows(const QString& answer);

// The body text of a GET of `url`; throws when it cannot be had.
using FetchText = std::function<QString(const QString& url)>;

// Where the lists go as they arrive: the categories with their ids, then the
// cities, then the regions.
struct ReferenceSink {
    std::function<void(const QStringList& rows, const QStringList& ids)> categories;
    std::function<void(const QStringList& rows)> cities;
};

// Downloads the professionals page, the cities and the regions, in that
// order, and hands each list on as it arrives. An error of the first two
// ends the loading (it is raised); the regions are a bonus, and their
// failure leaves no trace.
void LoadReferenceLists(const FetchText& fetch, const QString& webHost, const QString& apiHost,
                        const ReferenceSink& sink);

// --category: the rows named by their text or by their slug alone, letter
// case ignored; names that match no row go to `unknown`.
QStringList NamedCategoryRows(const QStringList& rows, const QStringList& names,
                              QStringList& unknown);

// --city: the names that match no row, letter case ignored.
QStringList UnknownCityNames(const QStringList& rows, const QStringList& names);
