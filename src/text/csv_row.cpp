#include "text/csv_row.h"

#include "text/extract.h"
#include "text/formula_guard.h"

#include <QByteArray>

#include <array>

namespace {

void AppendField(QString& row, const QString& value) {
    row.append(QLatin1Char('"'));
    row.append(CsvFieldText(value));
    row.append(QLatin1Char('"'));
}

std::array<QString*, 11> Fields(CardRecord& card) {
    return {&card.url,    &card.name,    &card.categories, &card.services,
            &card.rating, &card.reviews, &card.telephone,  &card.site,
            &card.email,  &card.city,    &card.address};
}

constexpr int kTelephone = 6;

} // namespace

QString CsvHeader() {
    return QStringLiteral("\"URL\";\"Имя/Название\";\"Категории специализации\";\"Услуги\";"
                          "\"Рейтинг\";\"Отзывов\";\"Телефон\";\"Сайт\";\"Email\";\"Город\";"
                          "\"Адрес\"");
}

QString CsvFieldText(const QString& value) {
    return FormulaSafe(QuoteSafe(value));
}

QString FormatCsvRow(const CardRecord& card) {
    QString row;
    row.reserve(card.url.size() + card.name.size() + card.categories.size() + card.services.size() +
                card.rating.size() + card.reviews.size() + card.telephone.size() +
                card.site.size() + card.email.size() + card.city.size() + card.address.size() + 50);
    // The URL too: a slug is the site's text, and a double quote in it would
    // break the row's framing.
    AppendField(row, card.url);
    row.append(QLatin1Char(';'));
    for (const QString* value :
         {&card.name, &card.categories, &card.services, &card.rating, &card.reviews}) {
        AppendField(row, *value);
        row.append(QLatin1Char(';'));
    }
    row.append(u"\" ");
    row.append(QuoteSafe(card.telephone));
    row.append(u"\";");
    for (const QString* value : {&card.site, &card.email, &card.city}) {
        AppendField(row, *value);
        row.append(QLatin1Char(';'));
    }
    AppendField(row, card.address);
    return row;
}

CardRecord CsvRowForm(const CardRecord& card) {
    CardRecord form = card;
    const auto fields = Fields(form);
    for (int i = 0; i < 11; ++i) {
        QString& value = *fields[static_cast<std::size_t>(i)];
        value = i == kTelephone ? QuoteSafe(value) : CsvFieldText(value);
    }
    return form;
}

bool ReadCsvRows(QIODevice& device, const std::function<void(CardRecord&&)>& row,
                 qint64* complete) {
    return ReadQuotedRows(
        device, CsvHeader(), 11,
        [&row](std::vector<QString>&& values) {
            CardRecord card;
            const auto fields = Fields(card);
            for (std::size_t f = 0; f < fields.size(); ++f)
                *fields[f] = std::move(values[f]);
            if (card.telephone.startsWith(QLatin1Char(' ')))
                card.telephone.remove(0, 1);
            row(std::move(card));
        },
        complete);
}

bool ReadQuotedRows(QIODevice& device, const QString& header, int fields,
                    const std::function<void(std::vector<QString>&&)>& row, qint64* complete) {
    qint64 ignored = 0;
    qint64& end = complete != nullptr ? *complete : ignored;
    end = 0;
    const QByteArray head = QByteArray("\xEF\xBB\xBF") + (header + QStringLiteral("\r\n")).toUtf8();
    const QByteArray start = device.read(head.size());
    if (!head.startsWith(start))
        return false;
    if (start.size() < head.size())
        return true;
    end = head.size();
    qint64 offset = end;

    // No field holds a double quote, so a field is everything between two;
    // values may hold ";" and line breaks of their own.
    enum class At { FieldStart, InField, AfterField, Cr } at = At::FieldStart;
    std::vector<QByteArray> texts(static_cast<std::size_t>(fields));
    int field = 0;
    char buffer[65536];
    for (;;) {
        const qint64 got = device.read(buffer, sizeof buffer);
        if (got <= 0)
            return true; // whatever follows the last complete line is torn
        for (qint64 i = 0; i < got; ++i, ++offset) {
            const char c = buffer[i];
            switch (at) {
            case At::FieldStart:
                if (c != '"')
                    return false;
                at = At::InField;
                break;
            case At::InField:
                if (c == '"') {
                    at = At::AfterField;
                    ++field;
                } else {
                    texts[static_cast<std::size_t>(field)].append(c);
                }
                break;
            case At::AfterField:
                if (field < fields && c == ';')
                    at = At::FieldStart;
                else if (field == fields && c == '\r')
                    at = At::Cr;
                else
                    return false;
                break;
            case At::Cr: {
                if (c != '\n')
                    return false;
                std::vector<QString> values;
                values.reserve(texts.size());
                for (QByteArray& text : texts) {
                    values.push_back(QString::fromUtf8(text));
                    text.clear();
                }
                row(std::move(values));
                end = offset + 1;
                field = 0;
                at = At::FieldStart;
                break;
            }
            }
        }
    }
}
