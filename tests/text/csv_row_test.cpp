// Reading a result file's rows back, as a continued run hands them to the
// card store.

#include "text/csv_row.h"

#include <gtest/gtest.h>

#include <QBuffer>

using namespace Qt::StringLiterals;

namespace {

std::vector<CardRecord> Read(QByteArray bytes, bool* valid = nullptr) {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    std::vector<CardRecord> cards;
    const bool ok = ReadCsvRows(buffer, [&](CardRecord&& card) { cards.push_back(card); });
    if (valid != nullptr)
        *valid = ok;
    return cards;
}

QString RowText(const CardRecord& card) {
    return FormatCsvRow(card);
}

TEST(ReadCsvRows, GivesBackEveryRowInItsRowForm) {
    CardRecord plain;
    plain.url = u"https://web.test/pro/a"_s;
    plain.name = u"Попова Алёна"_s;
    plain.services = u"Монтаж; Ремонт"_s;
    plain.telephone = u"+7 (900) 000-00-00"_s;
    plain.address = u"ул. Мира,\r\nд. 1"_s; // a line break inside a value
    CardRecord tricky;
    tricky.url = u"https://web.test/pro/\"b"_s;
    tricky.name = u"=HYPERLINK(\"x\")"_s;
    tricky.rating = u"-1"_s;
    tricky.telephone = u"=\"tel\""_s;
    CardRecord empty;
    empty.url = u"https://web.test/pro/c"_s;

    QByteArray bytes = "\xEF\xBB\xBF" + (CsvHeader() + u"\r\n"_s).toUtf8();
    for (const CardRecord* card : {&plain, &tricky, &empty})
        bytes += (FormatCsvRow(*card) + u"\r\n"_s).toUtf8();
    bool valid = false;
    const std::vector<CardRecord> cards = Read(bytes + "\"https://web.test/pro/torn\";\"x", &valid);
    EXPECT_TRUE(valid);
    ASSERT_EQ(cards.size(), 3u);
    EXPECT_EQ(RowText(cards[0]), RowText(plain));
    EXPECT_EQ(cards[0].address, plain.address);
    EXPECT_EQ(cards[0].telephone, plain.telephone);
    // A row read back is in its row form: written again it is the same row,
    // and its form is itself.
    EXPECT_EQ(RowText(cards[1]), RowText(tricky));
    EXPECT_EQ(RowText(CsvRowForm(cards[1])), RowText(tricky));
    EXPECT_EQ(cards[1].name, CsvRowForm(tricky).name);
    EXPECT_EQ(cards[1].name, u"'=HYPERLINK('x')"_s);
    EXPECT_EQ(cards[1].telephone, u"='tel'"_s);
    EXPECT_EQ(RowText(cards[2]), RowText(empty));

    // Only a header, or a header cut short: no rows; something else: not a
    // result file.
    EXPECT_TRUE(Read("\xEF\xBB\xBF" + (CsvHeader() + u"\r\n"_s).toUtf8()).empty());
    Read("\xEF\xBB\xBF\"URL\";", &valid);
    EXPECT_TRUE(valid);
    EXPECT_TRUE(Read("id;name\r\n", &valid).empty());
    EXPECT_FALSE(valid);
    Read(bytes + "\"a\";;\r\n", &valid);
    EXPECT_FALSE(valid);
}

} // namespace
