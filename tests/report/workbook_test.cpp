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

// A card from its eleven values joined by "|".
CardRecord Card(const QString& fields) {
    QStringList f = fields.split(u'|');
    f.resize(11);
    return {f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10]};
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

// A cell's value as text (numbers as QString::number gives them), or its link.
QString Str(const QJsonObject& sheet, int row, int col) {
    const QJsonValue v = CellAt(sheet, row, col)[u"v"_s];
    return v.isDouble() ? QString::number(v.toDouble()) : v.toString();
}
QString Link(const QJsonObject& sheet, int row, int col) {
    return CellAt(sheet, row, col)[u"link"_s].toString();
}

// Two rows and three links a sheet, so that the cards go on to "Карточки 2"
// and the fourth link is plain text.
TEST(Workbook, SheetsHoldTheCardsTheSummaryAndTheChanges) {
    QTemporaryDir dir;
    const QString raw[] = {
        u"https://web.test/pro/a|=HYPERLINK(\"x\")|Сантехники|Монтаж; Ремонт|4,8|12|+7 (900) "
        "000-00-00|https://a.example/|a@b.ru|Москва|ул. Мира,\r\nд. 1"_s,
        u"https://web.test/pro/b| -Скидка_x0041_ |||нет|007||javascript:alert(1)|a@b.ru, "
        "c@d.ru|\x01|"_s,
        u"https://web.test/pro/c||||||||||"_s};
    const std::vector<CardRecord> cards{Card(raw[0]), Card(raw[1]), Card(raw[2])};
    const QString csv = dir.filePath(u"data7.csv"_s);
    ASSERT_TRUE(WriteResultFile(csv, cards));
    CardRecord changed = cards[0];
    changed.rating = u"4,9"_s;
    const QString changes = dir.filePath(u"changes7.csv"_s);
    WriteChangesFile(changes, {{changed, ChangeStatus::Changed, 0b11000},
                               {Card(u"https://web.test/pro/d"_s), ChangeStatus::Gone, 0}});
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
    WriteWorkbook(path, csv, changes, facts, {2, 3});
    // Nothing of the writing is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              (QStringList{u"changes7.csv"_s, u"data7.csv"_s, u"data7.xlsx"_s}));
    const ReadBack back = ReadWorkbookBack(path);
    ASSERT_TRUE(back.error.isEmpty()) << back.error.toStdString();
    EXPECT_EQ(back.SheetNames(),
              (QStringList{u"Карточки"_s, u"Карточки 2"_s, u"Сводка"_s, u"Изменения"_s}));

    // The cards: each sheet's header bold, frozen, filtered, its columns wide
    // enough; each value as the card had it (the CSV keeps no double quote),
    // text unless typed.
    const QJsonObject sheets[] = {back.Sheet(u"Карточки"_s), back.Sheet(u"Карточки 2"_s)};
    EXPECT_EQ(sheets[0][u"freeze"_s].toString() + sheets[0][u"filter"_s].toString() +
                  sheets[1][u"freeze"_s].toString() + sheets[1][u"filter"_s].toString(),
              u"A2A1:K3A2A1:K2"_s);
    ASSERT_EQ(RowCount(sheets[0]) + RowCount(sheets[1]), 5);
    const QStringList header = CsvHeader().remove(u'"').split(u';');
    for (int col = 0; col < 11; ++col) {
        for (const QJsonObject& sheet : sheets) {
            EXPECT_TRUE(Str(sheet, 0, col) == header[col] &&
                        CellAt(sheet, 0, col)[u"bold"_s].toBool());
            const double width = sheet[u"widths"_s][QString(QChar(u'A' + col))].toDouble();
            EXPECT_TRUE(width >= header[col].size() + 3 && width < 48) << col << ": " << width;
        }
        for (int card = 0; card < 3; ++card) {
            const QJsonObject& sheet = sheets[card / 2];
            const int row = card % 2 + 1;
            QString want = raw[card].split(u'|')[col].replace(u'"', u'\'');
            const bool number = card == 0 && (col == 4 || col == 5); // "4,8" as 4.8
            EXPECT_TRUE(want.isEmpty() ||
                        CellAt(sheet, row, col)[u"t"_s].toString() == (number ? u"n"_s : u"s"_s));
            EXPECT_EQ(Str(sheet, row, col), number ? want.replace(u',', u'.') : want) << card;
        }
    }
    EXPECT_EQ((QStringList{Link(sheets[0], 1, 0), Link(sheets[0], 1, 7), Link(sheets[0], 1, 8),
                           Link(sheets[0], 2, 0), Link(sheets[0], 2, 7), Link(sheets[1], 1, 0)}),
              (QStringList{cards[0].url, cards[0].site, u"mailto:a@b.ru"_s, {}, {}, cards[2].url}));

    // The summary: settings, figures, the comparison, the filled shares of
    // the summary's line with the chart over them, and the selection.
    const QJsonObject summary = back.Sheet(u"Сводка"_s);
    QStringList rows;
    for (int row = 0; row < RowCount(summary); ++row)
        rows << Str(summary, row, 0) + u"|"_s + Str(summary, row, 1);
    EXPECT_EQ(rows.join(u"; "_s),
              u"Начало|2026-03-01T09:05:07; Конец|2026-03-01T10:00:00; Сайт|web.test; API "
              "сайта|api.test; |; Найдено карточек|7; Записано строк|3; Не скачано|2; 404|1; "
              "другие ответы с ошибкой|0; пустые ответы|1; сбои связи|0; Не загружено страниц "
              "списка|1; |; Сравнение со сбором от|2026-02-22T08:00:00; Новых|1; Изменилось|1; "
              "Без изменений|1; Пропало|2; |; Столбец|Заполнено; Имя/Название|0.67; Категории "
              "специализации|0.33; Услуги|0.33; Рейтинг|0.67; Отзывов|0.67; Телефон|0.33; "
              "Сайт|0.67; Email|0.67; Город|0.67; Адрес|0.33; |; Категории|Сантехники "
              "(santehniki); |; Города и регионы|Москва; |Казань"_s);
    const QJsonValue chart = summary[u"charts"_s][0];
    EXPECT_EQ(chart[u"direction"_s].toString() + chart[u"series"_s][0][u"categories"_s].toString() +
                  chart[u"series"_s][0][u"values"_s].toString(),
              u"barstr:'Сводка'!$A$22:$A$31'Сводка'!$B$22:$B$31"_s);

    // The changes, typed like the cards, with their status and columns.
    const QJsonObject changesSheet = back.Sheet(u"Изменения"_s);
    ASSERT_EQ(RowCount(changesSheet), 3);
    EXPECT_EQ(
        (QStringList{Str(changesSheet, 0, 12), Link(changesSheet, 1, 0), Str(changesSheet, 1, 4),
                     Str(changesSheet, 1, 11), Str(changesSheet, 1, 12), Str(changesSheet, 2, 11)}),
        (QStringList{u"Что изменилось"_s, cards[0].url, u"4.9"_s, u"изменилась"_s,
                     u"Рейтинг, Отзывов"_s, u"пропала"_s}));
}

// A workbook that cannot be written throws with the reason, leaves nothing
// of itself behind, and an older workbook of that name as it was.
TEST(Workbook, WhatCannotBeWrittenLeavesNothingBehind) {
    QTemporaryDir dir;
    const QString csv = dir.filePath(u"data2.csv"_s);
    const QString older = dir.filePath(u"data2.xlsx"_s);
    ASSERT_TRUE(WriteResultFile(csv, {Card(u"a"_s)}) && WriteFile(older, "older") &&
                QDir(dir.path()).mkdir(u"taken.xlsx"_s));
    const struct {
        QString path, result, changes, reason;
    } cases[] = {
        {dir.filePath(u"missing/data2.xlsx"_s), csv, {}, u"папки нет"_s},
        {dir.filePath(u"taken.xlsx"_s), csv, {}, u"Is a directory"_s},
        {older, csv, dir.filePath(u"changes2.csv"_s), u"не читается"_s},
        {older, older, {}, u"записан не этой программой"_s},
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
              (QStringList{u"data2.csv"_s, u"data2.xlsx"_s}));
    QFile file(older);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly) && file.readAll() == "older");
}

} // namespace
