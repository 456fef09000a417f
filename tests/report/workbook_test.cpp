// Workbooks written from result and changes files, read back with an
// independent reader (openpyxl) and compared with the files they came from.
#include "report/workbook.h"

#include "store/changes_file.h"
#include "support/print_qstring.h"
#include "support/workbook_reader.h"
#include "text/csv_row.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

CardRecord Card(const QString& slug, const QString& site = {}) {
    return {u"https://web.test/pro/"_s + slug, {}, {}, {}, {}, {}, {}, site, {}, {}, {}};
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool WriteResultFile(const QString& path, const std::vector<CardRecord>& cards) {
    QString text = CsvHeader() + u"\r\n"_s;
    for (const CardRecord& card : cards)
        text += FormatCsvRow(card) + u"\r\n"_s;
    return WriteFile(path, "\xEF\xBB\xBF" + text.toUtf8());
}

QString Str(const QJsonObject& cell) {
    const QJsonValue v = cell[u"v"_s];
    return v.isDouble() ? QString::number(v.toDouble()) : v.toString();
}

QString Link(const QJsonObject& cell) {
    return cell[u"link"_s].toString();
}

TEST(Workbook, SheetsHoldTheCardsTheSummaryAndTheChanges) {
    QTemporaryDir dir;
    const auto card = [](const QString& fields) {
        const QStringList f = fields.split(u'|');
        return CardRecord{f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10]};
    };
    const CardRecord full =
        card(u"https://web.test/pro/a|=HYPERLINK(\"x\")|Сантехники|Монтаж; "
             "Ремонт|4,8|12|+7 (900) 000-00-00|https://a.example/|a@b.ru|Москва|"
             "ул. Мира,\r\nд. 1"_s);
    const std::vector<CardRecord> cards{
        full,
        card(u"https://web.test/pro/b| -Скидка_x0041_ |||нет|007||javascript:alert(1)|"
             "a@b.ru, c@d.ru|\x01|"_s),
        Card(u"c"_s)};
    const QString csv = dir.filePath(u"data7.csv"_s);
    ASSERT_TRUE(WriteResultFile(csv, cards));
    CardRecord changed = full;
    changed.rating = u"4,9"_s;
    const QString changes = dir.filePath(u"changes7.csv"_s);
    WriteChangesFile(changes, {{changed, ChangeStatus::Changed, 0b11000},
                               {Card(u"gone"_s), ChangeStatus::Gone, 0}});
    WorkbookFacts facts{.webHost = u"web.test"_s,
                        .apiHost = u"api.test"_s,
                        .categories = {u"Сантехники (santehniki)"_s},
                        .cities = {u"Москва"_s, u"Казань"_s},
                        .started = QDateTime({2026, 3, 1}, {9, 5, 7}),
                        .ended = QDateTime({2026, 3, 1}, {10, 0}),
                        .found = 7,
                        .summary = {},
                        .comparison = RunComparison{1, 1, 1, 2, true, {}},
                        .comparedWith = QDateTime({2026, 2, 22}, {8, 0})};
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

    // The cards: the header in bold, frozen and filtered; each value as the
    // card had it (the CSV keeps no double quote), text unless typed.
    const QJsonObject sheet = back.Sheet(u"Карточки"_s);
    EXPECT_EQ(sheet[u"freeze"_s].toString() + sheet[u"filter"_s].toString(), u"A2A1:K4"_s);
    ASSERT_EQ(RowCount(sheet), 4);
    const QStringList header = CsvHeader().remove(u'"').split(u';');
    for (int col = 0; col < 11; ++col) {
        EXPECT_EQ(Str(CellAt(sheet, 0, col)), header[col]);
        EXPECT_TRUE(CellAt(sheet, 0, col)[u"bold"_s].toBool());
        const double width = sheet[u"widths"_s][QString(QChar(u'A' + col))].toDouble();
        EXPECT_TRUE(width >= header[col].size() + 3 && width < 48) << col << ": " << width;
    }
    for (int row = 1; row <= 3; ++row) {
        const CardRecord& c = cards[static_cast<std::size_t>(row - 1)];
        const QString values[] = {c.url,    c.name,    c.categories, c.services,
                                  c.rating, c.reviews, c.telephone,  c.site,
                                  c.email,  c.city,    c.address};
        for (int col = 0; col < 11; ++col) {
            const QString type = CellAt(sheet, row, col)[u"t"_s].toString();
            QString want = QString(values[col]).replace(u'"', u'\'');
            const bool number = row == 1 && (col == 4 || col == 5); // "4,8" as 4.8
            EXPECT_TRUE(want.isEmpty() || type == (number ? u"n"_s : u"s"_s)) << row << "," << col;
            EXPECT_EQ(Str(CellAt(sheet, row, col)),
                      type == u"n"_s ? want.replace(u',', u'.') : want)
                << row << "," << col;
        }
    }
    EXPECT_EQ(QStringList({Link(CellAt(sheet, 1, 0)), Link(CellAt(sheet, 1, 7)),
                           Link(CellAt(sheet, 1, 8)), Link(CellAt(sheet, 2, 7)),
                           Link(CellAt(sheet, 2, 8))}),
              (QStringList{full.url, full.site, u"mailto:a@b.ru"_s, {}, {}}));

    // The summary: settings, figures, the comparison, and the filled shares
    // of the summary's line, which the chart shows.
    const QJsonObject summary = back.Sheet(u"Сводка"_s);
    QStringList rows;
    for (int row = 0; row < RowCount(summary); ++row)
        rows << Str(CellAt(summary, row, 0)) + u"|"_s + Str(CellAt(summary, row, 1));
    const QString head = u"Начало|2026-03-01T09:05:07; Конец|2026-03-01T10:00:00; Сайт|web.test; "
                         "API сайта|api.test; |; Найдено карточек|7; Записано строк|3; Не "
                         "скачано|2; 404|1; другие ответы с ошибкой|0; пустые ответы|1; сбои "
                         "связи|0; Не загружено страниц списка|1; |; Сравнение со сбором от|"
                         "2026-02-22T08:00:00; Новых|1; Изменилось|1; Без изменений|1; Пропало|2; "
                         "|; Столбец|Заполнено"_s;
    ASSERT_EQ(rows.size(), 36);
    EXPECT_EQ(rows.mid(0, 21).join(u"; "_s), head);
    EXPECT_EQ(rows.mid(31).join(u"; "_s),
              u"|; Категории|Сантехники (santehniki); |; Города и регионы|Москва; |Казань"_s);
    QStringList shares;
    for (int row = 21; row < 31; ++row)
        shares << u"%1 %2%"_s.arg(Str(CellAt(summary, row, 0)))
                      .arg(qRound(CellAt(summary, row, 1)[u"v"_s].toDouble() * 100));
    EXPECT_EQ(u"Заполнено: "_s + shares.join(u", "_s), facts.summary.Lines(7).back());
    const QJsonArray charts = summary[u"charts"_s].toArray();
    ASSERT_EQ(charts.size(), 1);
    EXPECT_EQ(charts[0][u"direction"_s].toString(), u"bar"_s);
    EXPECT_EQ(charts[0][u"series"_s][0][u"categories"_s].toString(), u"str:'Сводка'!$A$22:$A$31"_s);
    EXPECT_EQ(charts[0][u"series"_s][0][u"values"_s].toString(), u"'Сводка'!$B$22:$B$31"_s);

    // The changes, typed like the cards, with their status and columns.
    const QJsonObject changesSheet = back.Sheet(u"Изменения"_s);
    ASSERT_EQ(RowCount(changesSheet), 3);
    EXPECT_EQ(Str(CellAt(changesSheet, 0, 12)), u"Что изменилось"_s);
    EXPECT_EQ(
        QStringList({Link(CellAt(changesSheet, 1, 0)), Str(CellAt(changesSheet, 1, 4)),
                     Str(CellAt(changesSheet, 1, 11)), Str(CellAt(changesSheet, 1, 12)),
                     Str(CellAt(changesSheet, 2, 11))}),
        (QStringList{full.url, u"4.9"_s, u"изменилась"_s, u"Рейтинг, Отзывов"_s, u"пропала"_s}));
}

// Past the row limit the rows go on to "Карточки 2", ..., each sheet with
// its header and filter; links are counted per sheet and past their limit
// written as text.
TEST(Workbook, RowsPastTheLimitGoOnToNumberedSheets) {
    QTemporaryDir dir;
    std::vector<CardRecord> cards;
    for (int i = 0; i < 7; ++i)
        cards.push_back(Card(u"card-%1"_s.arg(i), u"https://site%1.example/"_s.arg(i)));
    ASSERT_TRUE(WriteResultFile(dir.filePath(u"data1.csv"_s), cards));
    WriteWorkbook(dir.filePath(u"data1.xlsx"_s), dir.filePath(u"data1.csv"_s), {}, {}, {3, 5});

    const ReadBack back = ReadWorkbookBack(dir.filePath(u"data1.xlsx"_s));
    ASSERT_TRUE(back.error.isEmpty()) << back.error.toStdString();
    EXPECT_EQ(back.SheetNames(),
              (QStringList{u"Карточки"_s, u"Карточки 2"_s, u"Карточки 3"_s, u"Сводка"_s}));
    std::size_t card = 0;
    for (const QString& name : {u"Карточки"_s, u"Карточки 2"_s, u"Карточки 3"_s}) {
        const QJsonObject sheet = back.Sheet(name);
        const int rows = name.endsWith(u'3') ? 1 : 3;
        ASSERT_EQ(RowCount(sheet), rows + 1) << name.toStdString();
        EXPECT_EQ(Str(CellAt(sheet, 0, 0)) + sheet[u"freeze"_s].toString(), u"URLA2"_s);
        EXPECT_EQ(sheet[u"filter"_s].toString(), u"A1:K%1"_s.arg(rows + 1));
        for (int row = 1; row <= rows; ++row, ++card) {
            EXPECT_EQ(Str(CellAt(sheet, row, 0)), cards[card].url);
            EXPECT_EQ(Str(CellAt(sheet, row, 7)), cards[card].site);
            // Two links a row: the third row's site would be the sixth.
            EXPECT_EQ(Link(CellAt(sheet, row, 7)), row < 3 ? cards[card].site : QString());
            EXPECT_EQ(Link(CellAt(sheet, row, 0)), cards[card].url);
        }
    }
    EXPECT_EQ(card, 7u);
    EXPECT_TRUE(back.Sheet(u"Сводка"_s)[u"charts"_s].toArray().isEmpty()); // no rows, no shares
}

// A workbook that cannot be written throws with the reason, leaves nothing
// of itself behind, and an older workbook of that name as it was.
TEST(Workbook, WhatCannotBeWrittenLeavesNothingBehind) {
    QTemporaryDir dir;
    const QString csv = dir.filePath(u"data2.csv"_s);
    const QString older = dir.filePath(u"data2.xlsx"_s);
    ASSERT_TRUE(WriteResultFile(csv, {Card(u"a"_s)}) && WriteFile(older, "older") &&
                WriteFile(dir.filePath(u"bad.csv"_s), "id;name\r\n") &&
                QDir(dir.path()).mkdir(u"taken.xlsx"_s));
    const struct {
        QString path, result, changes, reason;
    } cases[] = {
        {dir.filePath(u"missing/data2.xlsx"_s), csv, {}, u"папки нет"_s},
        {dir.filePath(u"taken.xlsx"_s), csv, {}, u"Is a directory"_s},
        {older, csv, dir.filePath(u"changes2.csv"_s), u"не читается"_s},
        {older, dir.filePath(u"bad.csv"_s), {}, u"записан не этой программой"_s},
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
              (QStringList{u"bad.csv"_s, u"data2.csv"_s, u"data2.xlsx"_s}));
    QFile file(older);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly) && file.readAll() == "older");
}

} // namespace
