#pragma once
// One card's values, as the run extracts them and the result file writes them.

#include <QString>

#include <array>

// The values of one card in the result file's column order.
struct CardRecord {
    QString url;
    QString name;
    QString categories;
    QString services;
    QString rating;
    QString reviews;
    QString telephone;
    QString site;
    QString email;
    QString city;
    QString address;
};

// The ten values after the URL, in the result file's column order.
inline std::array<const QString*, 10> ColumnValues(const CardRecord& card) {
    return {&card.name,      &card.categories, &card.services, &card.rating, &card.reviews,
            &card.telephone, &card.site,       &card.email,    &card.city,   &card.address};
}
