#include "site/layout_watch.h"

#include "site/listing_handler.h"
#include "site/requests.h"

namespace {

const QString& WatchedName(int column) {
    static const std::array<QString, 3> names = {QStringLiteral("Имя/Название"),
                                                 QStringLiteral("Категории специализации"),
                                                 QStringLiteral("Город")};
    return names[static_cast<std::size_t>(column)];
}

} // namespace

bool ListingPageUnreadable(const QString& item, QStringView page) {
    if (ContainsSearchFilter(item) || !ListingCityKey(page).isEmpty())
        return false;
    for (const QString& url : CardUrlsFromPage(page)) {
        if (!url.isEmpty())
            return false;
    }
    return true;
}

std::vector<QString> LayoutWatch::RowWritten(const CardRecord& card) {
    const std::array<const QString*, kWatched> values = {&card.name, &card.categories, &card.city};
    std::uint8_t bits = 0;
    for (int i = 0; i < kWatched; ++i)
        bits |= values[static_cast<std::size_t>(i)]->isEmpty() ? std::uint8_t(1u << i) : 0;

    // The row replaces the oldest one of the window.
    std::uint8_t& slot = window_[static_cast<std::size_t>(next_)];
    for (int i = 0; i < kWatched; ++i)
        empty_[static_cast<std::size_t>(i)] += ((bits >> i) & 1) - ((slot >> i) & 1);
    slot = bits;
    next_ = (next_ + 1) % kLayoutWindowRows;
    ++rows_;

    std::vector<QString> lines;
    if (rows_ < kLayoutWindowRows)
        return lines;
    for (int i = 0; i < kWatched; ++i) {
        const auto column = static_cast<std::size_t>(i);
        if (warned_[column] || empty_[column] < kLayoutAlarmRows)
            continue;
        warned_[column] = true;
        lines.push_back(QStringLiteral("Внимание: у %1 из последних %2 карточек пусто поле «%3». "
                                       "Возможно, сайт изменил разметку страниц, проверьте "
                                       "результат.")
                            .arg(empty_[column])
                            .arg(kLayoutWindowRows)
                            .arg(WatchedName(i)));
    }
    return lines;
}

QString LayoutWatch::ListingAnswered(const QString& item, QStringView page) {
    if (listingWarned_ || !ListingPageUnreadable(item, page))
        return {};
    listingWarned_ = true;
    return QStringLiteral("Внимание: на странице %1 не найдены ни ключ города, ни карточки. "
                          "Возможно, сайт изменил разметку страниц.")
        .arg(item);
}
