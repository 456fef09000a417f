// The changes file's rows and name, and the key that makes URLs one card.

#include "store/changes_file.h"
#include "store/url_key.h"
#include "text/csv_row.h"

#include "store_support.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

TEST(ChangesFile, RowsAreResultRowsWithStatusAndChangedColumns) {
    CardRecord card;
    card.url = u"https://web.test/pro/a"_s;
    card.name = u"=1+2"_s;
    card.telephone = u"+7 900"_s;
    card.address = u"ул. \"Мира\""_s;
    EXPECT_EQ(ChangesHeader(), CsvHeader() + u";\"Статус\";\"Что изменилось\""_s);
    EXPECT_EQ(FormatChangesRow({card, ChangeStatus::Changed, (1u << 5) | (1u << 9)}),
              FormatCsvRow(card) + u";\"изменилась\";\"Телефон, Адрес\""_s);
    EXPECT_EQ(
        FormatChangesRow({card, ChangeStatus::New, 0}),
        uR"("https://web.test/pro/a";"'=1+2";"";"";"";"";" +7 900";"";"";"";"ул. 'Мира'";"новая";"")"_s);

    EXPECT_EQ(ChangesPathFor(u"/opt/app/data-1294967296.csv"_s),
              u"/opt/app/changes-1294967296.csv"_s);
    EXPECT_EQ(ChangesPathFor(u"/opt/app/data42.csv"_s), u"/opt/app/changes42.csv"_s);
    EXPECT_EQ(ChangesFileName(3000000000u), u"changes-1294967296.csv"_s);

    QTemporaryDir dir;
    const QString path = dir.filePath(u"changes1.csv"_s);
    WriteChangesFile(path, {{card, ChangeStatus::Gone, 0}});
    EXPECT_EQ(ReadBytes(path),
              "\xEF\xBB\xBF" + (ChangesHeader() + u"\r\n"_s).toUtf8() +
                  (FormatChangesRow({card, ChangeStatus::Gone, 0}) + u"\r\n"_s).toUtf8());
    // A file that cannot be written is an error the store turns into a line.
    EXPECT_THROW(WriteChangesFile(dir.filePath(u"missing/changes1.csv"_s), {}), std::runtime_error);
}

// Two URLs get one key exactly when the run's duplicate test (a comparison
// without regard to case) takes them for one.
TEST(UrlKey, AgreesWithTheCaseInsensitiveComparison) {
    const std::vector<QString> texts = {
        u"https://web.test/pro/Vektor-Servis-Qre8xw"_s,
        u"https://web.test/pro/vektor-servis-qre8xw"_s,
        u"https://web.test/pro/vektor-servis-qre8xx"_s,
        u"HTTPS://WEB.TEST/PRO/ПОПОВА-Ёлка"_s,
        u"https://web.test/pro/попова-ёлка"_s,
        u"straße"_s,
        u"STRASSE"_s,
        u"STRAẞE"_s,
        u"ΣΊΣΥΦΟΣ"_s,
        u"σίσυφος"_s,
        u"σίσυφοσ"_s,
        u"İstanbul"_s,
        u"istanbul"_s,
        u"\U00010400\U00010401"_s, // Deseret capitals
        u"\U00010428\U00010429"_s, // and their small letters
        u"\xD801x"_s,              // a lone high surrogate
        u""_s,
    };
    for (const QString& a : texts) {
        for (const QString& b : texts) {
            SCOPED_TRACE(a.toStdString() + " / " + b.toStdString());
            EXPECT_EQ(UrlKey(a) == UrlKey(b), QString::compare(a, b, Qt::CaseInsensitive) == 0);
        }
    }
    EXPECT_EQ(UrlKey(texts[0]), UrlKey(texts[1]));
    EXPECT_EQ(UrlKey(texts[3]), UrlKey(texts[4]));
}

} // namespace
