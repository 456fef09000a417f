// Workbooks written from result and changes files, read back with an
// independent reader (openpyxl) and compared with the files they came from.
#include "report/workbook.h"

#include "store/changes_file.h"
#include "support/print_qstring.h"
#include "support/workbook_reader.h"
#include "text/csv_row.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

CardRecord Card(const QString& slug) {
    return {u"https://web.test/pro/"_s + slug, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}};
}

bool WriteResultFile(const QString& path, const std::vector<CardRecord>& cards) {
    QByteArray bytes = "\xEF\xBB\xBF" + (CsvHeader() + u"\r\n"_s).toUtf8();
    for (const CardRecord& card : cards)
        bytes += (FormatCsvRow(card) + u"\r\n"_s).toUtf8();
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QString Str(const QJsonObject& cell) {
    return cell[u"v"_s].toString();
}

// Column A and B of each row: the summary's labels and values.
std::vector<std::pair<QString, QJsonValue>> Pairs(const QJsonObject& sheet) {
    std::vector<std::pair<QString, QJsonValue>> pairs;
    for (int row = 0; row < RowCount(sheet); ++row)
        pairs.emplace_back(Str(CellAt(sheet, row, 0)), CellAt(sheet, row, 1)[u"v"_s]);
    return pairs;
}

TEST(Workbook, SheetsHoldTheCardsTheSummaryAndTheChanges) {
    QTemporaryDir dir;
    CardRecord full{u"https://web.test/pro/a"_s,
                    u"=HYPERLINK(\"x\")"_s,
                    u"Сантехники"_s,
                    u"Монтаж; Ремонт"_s,
                    u"4,8"_s,
                    u"12"_s,
                    u"+7 (900) 000-00-00"_s,
                    u"https://a.example/"_s,
                    u"a@b.ru"_s,
                    u"Москва"_s,
                    u"ул. Мира,\r\nд. 1"_s};
    CardRecord odd{
        u"https://web.test/pro/b"_s, u" -Скидка_x0041_ "_s, {},        {}, u"нет"_s, u"007"_s, {},
        u"javascript:alert(1)"_s,    u"a@b.ru, c@d.ru"_s,   u"\x01"_s, {}};
    const std::vector<CardRecord> cards{full, odd, Card(u"c"_s)};
    const QString csv = dir.filePath(u"data7.csv"_s);
    ASSERT_TRUE(WriteResultFile(csv, cards));
    CardRecord changed = full;
    changed.rating = u"4,9"_s;
    const QString changes = dir.filePath(u"changes7.csv"_s);
    WriteChangesFile(changes, {{Card(u"c"_s), ChangeStatus::New, 0},
                               {changed, ChangeStatus::Changed, 0b11000},
                               {Card(u"gone"_s), ChangeStatus::Gone, 0}});

    WorkbookFacts facts{u"web.test"_s,
                        u"api.test"_s,
                        {u"Сантехники (santehniki)"_s},
                        {u"Москва--Москва и Московская область"_s, u"Казань"_s},
                        QDateTime({2026, 3, 1}, {9, 5, 7}),
                        QDateTime({2026, 3, 1}, {10, 0, 0}),
                        7,
                        {},
                        RunComparison{1, 1, 1, 2, true, {}},
                        QDateTime({2026, 2, 22}, {8, 0, 0})};
    for (const CardRecord& card : cards)
        facts.summary.RowWritten(card);
    facts.summary.CardFailed(FetchFailure::NotFound);
    facts.summary.CardFailed(FetchFailure::EmptyBody);
    facts.summary.ListingPageLost();
    const QString path = WorkbookPathFor(csv);
    ASSERT_EQ(path, dir.filePath(u"data7.xlsx"_s));
    WriteWorkbook(path, csv, changes, facts);
    // Nothing of the writing is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              (QStringList{u"changes7.csv"_s, u"data7.csv"_s, u"data7.xlsx"_s}));

    const ReadBack back = ReadWorkbookBack(path);
    ASSERT_TRUE(back.error.isEmpty()) << back.error.toStdString();
    EXPECT_EQ(back.SheetNames(), (QStringList{u"Карточки"_s, u"Сводка"_s, u"Изменения"_s}));

    // The cards: the CSV's header in bold, frozen and filtered; every value
    // as the card had it, but for the double quote the CSV cannot hold.
    const QJsonObject sheet = back.Sheet(u"Карточки"_s);
    EXPECT_EQ(sheet[u"freeze"_s].toString(), u"A2"_s);
    EXPECT_EQ(sheet[u"filter"_s].toString(), u"A1:K4"_s);
    ASSERT_EQ(RowCount(sheet), 4);
    const QStringList header = CsvHeader().remove(u'"').split(u';');
    for (int col = 0; col < 11; ++col) {
        EXPECT_EQ(Str(CellAt(sheet, 0, col)), header[col]);
        EXPECT_TRUE(CellAt(sheet, 0, col)[u"bold"_s].toBool());
        const double width = sheet[u"widths"_s][QString(QChar(u'A' + col))].toDouble();
        EXPECT_TRUE(width >= header[col].size() && width < 63) << col << ": " << width;
    }
    for (int row = 1; row <= 3; ++row) {
        const CardRecord& card = cards[static_cast<std::size_t>(row - 1)];
        const QString values[] = {card.url,    card.name,    card.categories, card.services,
                                  card.rating, card.reviews, card.telephone,  card.site,
                                  card.email,  card.city,    card.address};
        for (int col = 0; col < 11; ++col) {
            const QJsonObject cell = CellAt(sheet, row, col);
            if (row == 1 && (col == 4 || col == 5))
                continue; // numbers, below
            EXPECT_EQ(Str(cell), QString(values[col]).replace(u'"', u'\'')) << row << "," << col;
            if (!values[col].isEmpty()) {
                EXPECT_EQ(cell[u"t"_s].toString(), u"s"_s) << row << "," << col;
            }
        }
    }
    EXPECT_EQ(CellAt(sheet, 1, 4)[u"v"_s].toDouble(), 4.8);
    EXPECT_EQ(CellAt(sheet, 1, 5)[u"v"_s].toDouble(), 12);
    EXPECT_EQ(CellAt(sheet, 1, 0)[u"link"_s].toString(), full.url);
    EXPECT_EQ(CellAt(sheet, 1, 7)[u"link"_s].toString(), full.site);
    EXPECT_EQ(CellAt(sheet, 1, 8)[u"link"_s].toString(), u"mailto:a@b.ru"_s);
    for (const int col : {1, 7, 8})
        EXPECT_TRUE(CellAt(sheet, 2, col)[u"link"_s].isNull()) << col;

    // The summary: settings, figures, the comparison, and the filled shares
    // of the summary's line, which the chart shows.
    const QJsonObject summary = back.Sheet(u"Сводка"_s);
    const auto pairs = Pairs(summary);
    const std::vector<std::pair<QString, QJsonValue>> head{
        {u"Начало"_s, u"2026-03-01T09:05:07"_s},
        {u"Конец"_s, u"2026-03-01T10:00:00"_s},
        {u"Сайт"_s, u"web.test"_s},
        {u"API сайта"_s, u"api.test"_s},
        {u"Категории"_s, u"Сантехники (santehniki)"_s},
        {u"Города и регионы"_s, u"Москва--Москва и Московская область; Казань"_s},
        {u""_s, {}},
        {u"Найдено карточек"_s, 7},
        {u"Записано строк"_s, 3},
        {u"Не скачано"_s, 2},
        {u"404"_s, 1},
        {u"другие ответы с ошибкой"_s, 0},
        {u"пустые ответы"_s, 1},
        {u"сбои связи"_s, 0},
        {u"Не загружено страниц списка"_s, 1},
        {u""_s, {}},
        {u"Сравнение со сбором от"_s, u"2026-02-22T08:00:00"_s},
        {u"Новых"_s, 1},
        {u"Изменилось"_s, 1},
        {u"Без изменений"_s, 1},
        {u"Пропало"_s, 2},
        {u""_s, {}},
        {u"Столбец"_s, u"Заполнено"_s}};
    ASSERT_EQ(pairs.size(), head.size() + 10);
    for (std::size_t i = 0; i < head.size(); ++i)
        EXPECT_EQ(pairs[i], head[i]) << i;
    const QJsonArray charts = summary[u"charts"_s].toArray();
    ASSERT_EQ(charts.size(), 1);
    EXPECT_EQ(charts[0][u"direction"_s].toString(), u"bar"_s);
    const QJsonObject series = charts[0][u"series"_s][0].toObject();
    EXPECT_EQ(series[u"categories"_s].toString(), u"str:'Сводка'!$A$24:$A$33"_s);
    EXPECT_EQ(series[u"values"_s].toString(), u"'Сводка'!$B$24:$B$33"_s);
    QStringList shares;
    for (std::size_t i = head.size(); i < pairs.size(); ++i)
        shares << u"%1 %2%"_s.arg(pairs[i].first).arg(qRound(pairs[i].second.toDouble() * 100));
    EXPECT_EQ(u"Заполнено: "_s + shares.join(u", "_s), facts.summary.Lines(7).back());

    // The changes: their status and changed columns after the card's.
    const QJsonObject changesSheet = back.Sheet(u"Изменения"_s);
    ASSERT_EQ(RowCount(changesSheet), 4);
    EXPECT_EQ(Str(CellAt(changesSheet, 0, 12)), u"Что изменилось"_s);
    EXPECT_EQ(CellAt(changesSheet, 2, 0)[u"link"_s].toString(), full.url);
    EXPECT_EQ(CellAt(changesSheet, 2, 4)[u"v"_s].toDouble(), 4.9);
    EXPECT_EQ(Str(CellAt(changesSheet, 2, 11)), u"изменилась"_s);
    EXPECT_EQ(Str(CellAt(changesSheet, 2, 12)), u"Рейтинг, Отзывов"_s);
    EXPECT_EQ(Str(CellAt(changesSheet, 3, 11)), u"пропала"_s);
}

// Past the row limit the rows go on to "Карточки 2", ..., each sheet with
// its header and filter; links are counted per sheet and, past their limit,
// written as plain text.
TEST(Workbook, RowsPastTheLimitGoOnToNumberedSheets) {
    QTemporaryDir dir;
    std::vector<CardRecord> cards;
    for (int i = 0; i < 7; ++i) {
        cards.push_back(Card(u"card-%1"_s.arg(i)));
        cards.back().site = u"https://site%1.example/"_s.arg(i);
    }
    const QString csv = dir.filePath(u"data1.csv"_s);
    ASSERT_TRUE(WriteResultFile(csv, cards));
    WriteWorkbook(dir.filePath(u"data1.xlsx"_s), csv, {}, {}, {3, 5});

    const ReadBack back = ReadWorkbookBack(dir.filePath(u"data1.xlsx"_s));
    ASSERT_TRUE(back.error.isEmpty()) << back.error.toStdString();
    EXPECT_EQ(back.SheetNames(),
              (QStringList{u"Карточки"_s, u"Карточки 2"_s, u"Карточки 3"_s, u"Сводка"_s}));
    int card = 0;
    for (const QString& name : {u"Карточки"_s, u"Карточки 2"_s, u"Карточки 3"_s}) {
        const QJsonObject sheet = back.Sheet(name);
        const int rows = name.endsWith(u'3') ? 1 : 3;
        ASSERT_EQ(RowCount(sheet), rows + 1) << name.toStdString();
        EXPECT_EQ(Str(CellAt(sheet, 0, 0)), u"URL"_s);
        EXPECT_EQ(sheet[u"freeze"_s].toString(), u"A2"_s);
        EXPECT_EQ(sheet[u"filter"_s].toString(), u"A1:K%1"_s.arg(rows + 1));
        for (int row = 1; row <= rows; ++row, ++card) {
            EXPECT_EQ(Str(CellAt(sheet, row, 0)), cards[card].url);
            EXPECT_EQ(Str(CellAt(sheet, row, 7)), cards[card].site);
            // Two links a row: the third row's site is the sheet's sixth.
            EXPECT_EQ(CellAt(sheet, row, 7)[u"link"_s].isString(), row < 3) << card;
            EXPECT_TRUE(CellAt(sheet, row, 0)[u"link"_s].isString()) << card;
        }
    }
    EXPECT_EQ(card, 7);
    // No rows, no shares: no chart.
    EXPECT_TRUE(back.Sheet(u"Сводка"_s)[u"charts"_s].toArray().isEmpty());
}

// A workbook that cannot be written throws with the reason, leaves nothing
// of itself behind, and an older workbook of that name as it was.
TEST(Workbook, WhatCannotBeWrittenLeavesNothingBehind) {
    QTemporaryDir dir;
    const QString csv = dir.filePath(u"data2.csv"_s);
    ASSERT_TRUE(WriteResultFile(csv, {Card(u"a"_s)}));
    const QString older = dir.filePath(u"data2.xlsx"_s);
    QFile file(older);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("older") == 5);
    file.close();
    ASSERT_TRUE(QDir(dir.path()).mkdir(u"taken.xlsx"_s));
    QFile garbage(dir.filePath(u"garbage.csv"_s));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly) && garbage.write("id;name\r\n") == 9);
    garbage.close();

    const struct {
        QString path, result, changes, reason;
    } cases[] = {
        {dir.filePath(u"missing/data2.xlsx"_s), csv, {}, u"папки нет"_s},
        {dir.filePath(u"taken.xlsx"_s), csv, {}, u"Is a directory"_s},
        {older, csv, dir.filePath(u"changes2.csv"_s), u"не читается"_s},
        {older, garbage.fileName(), {}, u"записан не этой программой"_s},
    };
    for (const auto& c : cases) {
        try {
            WriteWorkbook(c.path, c.result, c.changes, {});
            ADD_FAILURE() << "written: " << c.path.toStdString();
        } catch (const std::runtime_error& error) {
            EXPECT_TRUE(QString::fromUtf8(error.what()).contains(c.reason)) << error.what();
        }
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              (QStringList{u"data2.csv"_s, u"data2.xlsx"_s, u"garbage.csv"_s}));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("older"));
}

} // namespace
