#include "report/run_summary.h"

#include <QStringList>

int PercentHalfUp(std::int64_t part, std::int64_t whole) {
    if (whole <= 0)
        return 0;
    // part / whole × 100 + ½, rounded down, in integers.
    return static_cast<int>((200 * part + whole) / (2 * whole));
}

const std::array<QString, kSummaryColumns>& ColumnNames() {
    static const std::array<QString, kSummaryColumns> names = {
        QStringLiteral("Имя/Название"), QStringLiteral("Категории специализации"),
        QStringLiteral("Услуги"),       QStringLiteral("Рейтинг"),
        QStringLiteral("Отзывов"),      QStringLiteral("Телефон"),
        QStringLiteral("Сайт"),         QStringLiteral("Email"),
        QStringLiteral("Город"),        QStringLiteral("Адрес")};
    return names;
}

void RunSummary::RowWritten(const CardRecord& card) {
    ++rows_;
    // The telephone's field is a space and the value: empty when the value is.
    const auto values = ColumnValues(card);
    for (int i = 0; i < kSummaryColumns; ++i)
        filled_[static_cast<std::size_t>(i)] +=
            values[static_cast<std::size_t>(i)]->isEmpty() ? 0 : 1;
}

void RunSummary::CardFailed(FetchFailure failure) {
    switch (failure) {
    case FetchFailure::NotFound:
        ++notFound_;
        break;
    case FetchFailure::ErrorStatus:
        ++errorStatus_;
        break;
    case FetchFailure::EmptyBody:
        ++emptyBody_;
        break;
    case FetchFailure::NoAnswer:
    case FetchFailure::None:
        ++noAnswer_;
        break;
    }
}

void RunSummary::EarlierRows(std::int64_t rows,
                             const std::array<std::int64_t, kSummaryColumns>& filled) {
    rows_ += rows;
    for (std::size_t i = 0; i < filled.size(); ++i)
        filled_[i] += filled[i];
}

void RunSummary::EarlierGone(std::int64_t cards) {
    notFound_ += cards;
}

std::int64_t RunSummary::Failed() const {
    return notFound_ + errorStatus_ + emptyBody_ + noAnswer_;
}

int RunSummary::FilledPercent(int column) const {
    return PercentHalfUp(filled_[static_cast<std::size_t>(column)], rows_);
}

std::vector<QString> RunSummary::Lines(std::int64_t found) const {
    std::vector<QString> lines;
    lines.push_back(QStringLiteral("Итог: найдено карточек %1, записано строк %2, не скачано %3")
                        .arg(found)
                        .arg(rows_)
                        .arg(Failed()));
    if (Failed() > 0) {
        QStringList kinds;
        const auto add = [&kinds](const char16_t* kind, std::int64_t count) {
            if (count > 0)
                kinds << QString::fromUtf16(kind) + QStringLiteral(" — ") + QString::number(count);
        };
        add(u"404", notFound_);
        add(u"другие ответы с ошибкой", errorStatus_);
        add(u"пустые ответы", emptyBody_);
        add(u"сбои связи", noAnswer_);
        lines.push_back(QStringLiteral("Не скачано: ") + kinds.join(QStringLiteral(", ")));
    }
    for (QString& line : LostPagesLines())
        lines.push_back(std::move(line));
    if (rows_ > 0) {
        QStringList shares;
        for (int i = 0; i < kSummaryColumns; ++i) {
            const auto column = static_cast<std::size_t>(i);
            shares << QStringLiteral("%1 %2%").arg(ColumnNames()[column]).arg(FilledPercent(i));
        }
        lines.push_back(QStringLiteral("Заполнено: ") + shares.join(QStringLiteral(", ")));
    }
    return lines;
}

std::vector<QString> RunSummary::LostPagesLines() const {
    if (lostPages_ == 0)
        return {};
    return {QStringLiteral("Не загружено страниц списка: %1 — карточки с них не собраны")
                .arg(lostPages_)};
}
