#pragma once
// One card's values, as the run extracts them and the result file writes them.

#include <QString>

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
