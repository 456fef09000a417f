// Reference loading against the bundled demo site: the rows, ids and log lines
// of a full load, and the selections that follow it.

#include "support/demo_site_process.h"
#include "ui_test_support.h"

#include <nlohmann/json.hpp>

#include <QStringConverter>

namespace {

class DemoSiteLoading : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        ASSERT_TRUE(site_.started()) << site_.error();
        Config().WebHost = QString::fromStdString(site_.webHost());
        Config().ApiHost = QString::fromStdString(site_.apiHost());
        Config().CaFile = QString::fromStdString(site_.caFile());
    }

    // The site's own account of its categories and city rows.
    nlohmann::json Expected() {
        TPageClient client;
        client.Get(QString::fromStdString(site_.webUrl("/__demo/expected")));
        return nlohmann::json::parse(client.Buffer().toStdString());
    }

    DemoSiteProcess site_{{"--scale", "1"}};
};

TEST_F(DemoSiteLoading, FillsBothListsInSiteOrderWithTheirIds) {
    const nlohmann::json expected = Expected();
    QStringList categoryRows, ids, cityRows;
    for (const auto& category : expected["categories"]) {
        categoryRows << QString::fromStdString(category["row"].get<std::string>());
        ids << QString::fromStdString(category["id"].get<std::string>());
    }
    for (const auto& row : expected["cityRows"])
        cityRows << QString::fromStdString(row["row"].get<std::string>());
    ASSERT_EQ(categoryRows.size(), 12);
    ASSERT_EQ(cityRows.size(), 18);

    auto form = NewForm();
    bool ended = false, succeeded = false;
    QObject::connect(form.get(), &TMainForm::ReferenceLoadingEnded, [&](bool ok) {
        ended = true;
        succeeded = ok;
    });
    Load(*form);

    EXPECT_EQ(Rows(form->CatsListBox), categoryRows);
    EXPECT_EQ(form->CatsListBox->item(0)->text(), QStringLiteral("Сантехники (santehniki)"));
    EXPECT_EQ(form->CatsListBox->item(10)->text(), QStringLiteral("Клининг (kliningovye-uslugi)"));
    // Numeric ids (even rows) give their digits, text ids (odd rows) their characters.
    EXPECT_EQ(form->CategoryIds, ids);
    for (qsizetype i = 0; i < form->CategoryIds.size(); ++i) {
        bool digitsOnly = false;
        form->CategoryIds[i].toLongLong(&digitsOnly);
        EXPECT_EQ(digitsOnly, i % 2 == 0) << i << " " << form->CategoryIds[i].toStdString();
    }

    // Cities first, in the site's order, then regions.
    EXPECT_EQ(Rows(form->CitiesListBox), cityRows);
    EXPECT_EQ(form->CitiesListBox->item(0)->text(),
              QStringLiteral("Москва--Москва и Московская область"));
    EXPECT_EQ(form->CitiesListBox->item(9)->text(), QStringLiteral("Севастополь--"));
    EXPECT_EQ(form->CitiesListBox->item(10)->text(), QStringLiteral("Байконур"));
    EXPECT_EQ(form->CitiesListBox->item(12)->text(), QStringLiteral("Москва и Московская область"));

    // The two lines as they stand, without time stamps; the ready line last.
    EXPECT_EQ(LogLines(*form), (QStringList{kLoadingLine, kReadyLine}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(form->CatsListBox->selectedItems().isEmpty());
    EXPECT_TRUE(ended);
    EXPECT_TRUE(succeeded);
    EXPECT_TRUE(form->LoadingEnded());
}

TEST_F(DemoSiteLoading, SavedSelectionsComeBackWhateverTheirMarkAndLetterCase) {
    // Categories: UTF-8 with a byte-order mark. A line with a trailing blank
    // and a line naming no row match nothing.
    PutFile(QStringLiteral("selection1.txt"),
            QByteArray("\xEF\xBB\xBF") +
                QStringLiteral("ЭЛЕКТРИКИ (ELEKTRIKI)\r\nюристы (yuristy)\r\n"
                               "Сантехники (santehniki) \r\nСтоляры (stolyary)\r\n")
                    .toUtf8());
    // Cities: UTF-16 LE with its mark, lone LF line ends, no break at the end.
    QStringEncoder utf16(QStringEncoder::Utf16LE);
    PutFile(QStringLiteral("selection2.txt"),
            QByteArray("\xFF\xFE") +
                QByteArray(utf16.encode(
                    QStringLiteral("свердловская область\nМосква\nбайконур\nСЕВАСТОПОЛЬ--"))));

    auto form = NewForm();
    Load(*form);

    EXPECT_EQ(Selected(form->CatsListBox), (QStringList{QStringLiteral("Электрики (elektriki)"),
                                                        QStringLiteral("Юристы (yuristy)")}));
    // "Москва" is no row: the city rows carry their region.
    EXPECT_EQ(Selected(form->CitiesListBox),
              (QStringList{QStringLiteral("Севастополь--"), QStringLiteral("Байконур"),
                           QStringLiteral("Свердловская область")}));
    // Lines that match nothing are ignored quietly.
    EXPECT_EQ(LogLines(*form), (QStringList{kLoadingLine, kReadyLine}));
}

TEST_F(DemoSiteLoading, FilesWithoutMarkAreUtf8) {
    PutFile(QStringLiteral("selection1.txt"), QStringLiteral("Клининг (kliningovye-uslugi)\r\n"
                                                             "фотографы (fotografy)")
                                                  .toUtf8());
    PutFile(QStringLiteral("selection2.txt"),
            QStringLiteral("Казань--Республика Татарстан\rРостов-на-Дону--Ростовская область\r")
                .toUtf8());

    auto form = NewForm();
    Load(*form);

    EXPECT_EQ(Selected(form->CatsListBox),
              (QStringList{QStringLiteral("Фотографы (fotografy)"),
                           QStringLiteral("Клининг (kliningovye-uslugi)")}));
    EXPECT_EQ(Selected(form->CitiesListBox),
              (QStringList{QStringLiteral("Казань--Республика Татарстан"),
                           QStringLiteral("Ростов-на-Дону--Ростовская область")}));
}

TEST_F(DemoSiteLoading, CommandLineNamesSelectRowsInsteadOfTheFiles) {
    PutFile(QStringLiteral("selection1.txt"), "Сантехники (santehniki)\r\n");
    PutFile(QStringLiteral("selection2.txt"), "Байконур\r\nСевастополь--\r\n");
    Config().Categories = {QStringLiteral("фотографы (FOTOGRAFY)"), QStringLiteral("Psihologi"),
                           QStringLiteral("Столяры")};
    Config().Cities = {QStringLiteral("казань--республика татарстан"),
                       QStringLiteral("Свердловская область"), QStringLiteral("Атлантида")};

    auto form = NewForm();
    Load(*form);

    EXPECT_EQ(Selected(form->CatsListBox), (QStringList{QStringLiteral("Психологи (psihologi)"),
                                                        QStringLiteral("Фотографы (fotografy)")}));
    EXPECT_EQ(Selected(form->CitiesListBox),
              (QStringList{QStringLiteral("Казань--Республика Татарстан"),
                           QStringLiteral("Свердловская область")}));
    // Each name that matched nothing: one line, after the ready line.
    const QStringList log = LogLines(*form);
    ASSERT_EQ(log.size(), 4) << log.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(log.mid(0, 2), (QStringList{kLoadingLine, kReadyLine}));
    EXPECT_TRUE(log[2].contains(QStringLiteral("Столяры"))) << log[2].toStdString();
    EXPECT_TRUE(log[3].contains(QStringLiteral("Атлантида"))) << log[3].toStdString();
    for (const QString& line : log.mid(2))
        EXPECT_FALSE(line.front().isDigit()) << "time stamp in " << line.toStdString();
}

TEST_F(DemoSiteLoading, ANamedListLeavesTheOtherListToItsFile) {
    PutFile(QStringLiteral("selection1.txt"), "Сантехники (santehniki)\r\n");
    PutFile(QStringLiteral("selection2.txt"), "Байконур\r\n");
    Config().Cities = {QStringLiteral("Свердловская область")};

    auto form = NewForm();
    Load(*form);

    EXPECT_EQ(Selected(form->CatsListBox), QStringList{QStringLiteral("Сантехники (santehniki)")});
    EXPECT_EQ(Selected(form->CitiesListBox), QStringList{QStringLiteral("Свердловская область")});
}

} // namespace
