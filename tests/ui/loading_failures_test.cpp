// Reference loading against a site whose answers each test chooses: what an
// error at each step leaves in the lists and the log, the odd category data
// that is no error, and the window while a download waits.

#include "support/raw_server.h"
#include "ui_test_support.h"

#include <QCursor>
#include <QPushButton>

#include <atomic>

namespace {

class LoadingFailures : public UiTest {
protected:
    // Saved selections that would select a row in each list.
    void PutSelections() {
        PutFile(QStringLiteral("selection1.txt"), "электрики (elektriki)\r\n");
        PutFile(QStringLiteral("selection2.txt"), "байконур\r\n");
    }
};

TEST_F(LoadingFailures, AFailedProfessionalsPageEndsLoadingWithBothListsEmpty) {
    SiteAnswers answers;
    answers.professionals = {404, "<html>nothing here</html>"};
    ControlledSite site(answers);
    PutSelections();

    auto form = NewForm();
    bool succeeded = true;
    QObject::connect(form.get(), &TMainForm::ReferenceLoadingEnded,
                     [&](bool ok) { succeeded = ok; });
    Load(*form);

    EXPECT_EQ(form->CatsListBox->count(), 0);
    EXPECT_EQ(form->CitiesListBox->count(), 0);
    EXPECT_TRUE(form->CategoryIds.isEmpty());
    EXPECT_EQ(LogLines(*form), (QStringList{kLoadingLine, QStringLiteral("Ошибка Not Found")}));
    EXPECT_EQ(site.CitiesHits(), 0);
    EXPECT_EQ(site.RegionsHits(), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(succeeded);
    EXPECT_TRUE(form->LoadingEnded());
}

TEST_F(LoadingFailures, FailedCitiesKeepTheCategoriesButRestoreNothing) {
    SiteAnswers answers;
    answers.cities = {500, R"({"error":"down"})"};
    ControlledSite site(answers);
    PutSelections();

    auto form = NewForm();
    Load(*form);

    EXPECT_EQ(Rows(form->CatsListBox), kSmallCategoryRows);
    EXPECT_EQ(form->CategoryIds, (QStringList{QStringLiteral("101"), QStringLiteral("a1b2c3")}));
    EXPECT_EQ(form->CitiesListBox->count(), 0);
    EXPECT_TRUE(Selected(form->CatsListBox).isEmpty());
    EXPECT_EQ(LogLines(*form),
              (QStringList{kLoadingLine, QStringLiteral("Ошибка Internal Server Error")}));
    EXPECT_EQ(site.RegionsHits(), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(LoadingFailures, FailedOrOddRegionsLeaveNoTrace) {
    const Reply regions[] = {
        {404, "Not here"},
        {200, "<html>garbage</html>"},
        {200, R"({"resources":{"name":"not an array"}})"},
        {200, R"({"resources":[{"name":"Московская область"},)"}, // cut short
    };
    for (const Reply& reply : regions) {
        SCOPED_TRACE(reply.body);
        SiteAnswers answers;
        answers.regions = reply;
        ControlledSite site(answers);
        PutSelections();

        auto form = NewForm();
        Load(*form);

        EXPECT_EQ(Rows(form->CatsListBox), kSmallCategoryRows);
        EXPECT_EQ(Rows(form->CitiesListBox), kSmallCityRows.mid(0, 3));
        EXPECT_EQ(LogLines(*form), (QStringList{kLoadingLine, kReadyLine}));
        EXPECT_EQ(Selected(form->CatsListBox),
                  QStringList{QStringLiteral("Электрики (elektriki)")});
        EXPECT_EQ(Selected(form->CitiesListBox), QStringList{QStringLiteral("Байконур")});
        EXPECT_EQ(site.RegionsHits(), 1);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
}

TEST_F(LoadingFailures, AnUnreadableSelectionFileEndsLoadingAfterTheEarlierOnes) {
    {
        SCOPED_TRACE("cities file unreadable");
        ControlledSite site;
        PutFile(QStringLiteral("selection1.txt"), "электрики (elektriki)\r\n");
        PutFolder(QStringLiteral("selection2.txt"));
        auto form = NewForm();
        bool succeeded = true;
        QObject::connect(form.get(), &TMainForm::ReferenceLoadingEnded,
                         [&](bool ok) { succeeded = ok; });
        Load(*form);

        EXPECT_EQ(Rows(form->CatsListBox), kSmallCategoryRows);
        EXPECT_EQ(Rows(form->CitiesListBox), kSmallCityRows);
        EXPECT_EQ(Selected(form->CatsListBox),
                  QStringList{QStringLiteral("Электрики (elektriki)")});
        EXPECT_TRUE(Selected(form->CitiesListBox).isEmpty());
        const QStringList log = LogLines(*form);
        ASSERT_EQ(log.size(), 3);
        EXPECT_EQ(log[1], kReadyLine);
        EXPECT_TRUE(log[2].startsWith(QStringLiteral("Ошибка "))) << log[2].toStdString();
        EXPECT_TRUE(log[2].contains(QStringLiteral("selection2.txt"))) << log[2].toStdString();
        EXPECT_FALSE(succeeded);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
    ASSERT_TRUE(QDir(folder_.path()).rmdir(QStringLiteral("selection2.txt")));
    {
        SCOPED_TRACE("categories file unreadable");
        ControlledSite site;
        QFile::remove(PathOf(QStringLiteral("selection1.txt")));
        PutFolder(QStringLiteral("selection1.txt"));
        PutFile(QStringLiteral("selection2.txt"), "байконур\r\n");
        auto form = NewForm();
        Load(*form);

        EXPECT_TRUE(Selected(form->CatsListBox).isEmpty());
        EXPECT_TRUE(Selected(form->CitiesListBox).isEmpty());
        const QStringList log = LogLines(*form);
        ASSERT_EQ(log.size(), 3);
        EXPECT_TRUE(log[2].startsWith(QStringLiteral("Ошибка "))) << log[2].toStdString();
        EXPECT_TRUE(log[2].contains(QStringLiteral("selection1.txt"))) << log[2].toStdString();
    }
}

TEST_F(LoadingFailures, OddCategoryDataGivesNoCategoriesButLoadingGoesOn) {
    const struct {
        const char* name;
        std::string page;
    } pages[] = {
        // The marker must carry its escaped quotes.
        {"plain quotes",
         "<script>var s = " + CategoriesState(R"({"id":1,"name":"А","slug":"a"})") + ";</script>"},
        {"other member name",
         ProfessionalsPage(
             R"({"categoryData":{"categories":[{"id":1,"name":"А","slug":"a"}],"total":1}})")},
        // The cut ends at the first "]," after the marker, inside the array.
        {"inner bracket",
         ProfessionalsPage(CategoriesState(
             R"({"id":1,"name":"А","slug":"a","tags":["x","y"],"count":1},{"id":2,"name":"Б","slug":"b"})"))},
        {"categories not an array",
         ProfessionalsPage(R"({"categoriesData":{"categories":"none","popular":[1],"total":1}})")},
        {"cut that does not parse",
         ProfessionalsPage(R"({"categoriesData":{"categories":{"id":1}],"total":1}})")},
        {"empty page", ""},
    };
    for (const auto& page : pages) {
        SCOPED_TRACE(page.name);
        SiteAnswers answers;
        answers.professionals = {200, page.page};
        ControlledSite site(answers);

        auto form = NewForm();
        Load(*form);

        EXPECT_EQ(form->CatsListBox->count(), 0);
        EXPECT_TRUE(form->CategoryIds.isEmpty());
        EXPECT_EQ(Rows(form->CitiesListBox), kSmallCityRows);
        EXPECT_EQ(LogLines(*form), (QStringList{kLoadingLine, kReadyLine}));
    }
}

TEST_F(LoadingFailures, RowFormsKeepOddValuesAndDuplicates) {
    SiteAnswers answers;
    answers.professionals.body = ProfessionalsPage(CategoriesState(
        R"({"id":12345678901,"name":"Сантехники","slug":"santehniki"},)"
        R"({"id":"x","slug":"bez-imeni"},)"                      // no name
        R"({"id":7,"name":"Сантехники","slug":"santehniki"})")); // the same row again
    answers.cities.body = Resources(R"({"name":"Казань","region":{"name":"Татарстан"}},)"
                                    R"({"region":{"name":"Без города"}},)"
                                    R"({"name":"Казань","region":{"name":"Татарстан"}})");
    answers.regions.body = Resources(R"({"name":"Татарстан"},{"id":5})");
    ControlledSite site(answers);
    PutFile(QStringLiteral("selection1.txt"), "сантехники (SANTEHNIKI)\r\n");
    PutFile(QStringLiteral("selection2.txt"), "казань--татарстан\r\n\r\n");

    auto form = NewForm();
    Load(*form);

    EXPECT_EQ(Rows(form->CatsListBox), (QStringList{QStringLiteral("Сантехники (santehniki)"),
                                                    QStringLiteral(" (bez-imeni)"),
                                                    QStringLiteral("Сантехники (santehniki)")}));
    EXPECT_EQ(form->CategoryIds, (QStringList{QStringLiteral("12345678901"), QStringLiteral("x"),
                                              QStringLiteral("7")}));
    EXPECT_EQ(
        Rows(form->CitiesListBox),
        (QStringList{QStringLiteral("Казань--Татарстан"), QStringLiteral("--Без города"),
                     QStringLiteral("Казань--Татарстан"), QStringLiteral("Татарстан"), QString()}));
    // One line selects every row of its text; the empty line selects the
    // nameless region.
    EXPECT_EQ(Selected(form->CatsListBox),
              (QStringList{QStringLiteral("Сантехники (santehniki)"),
                           QStringLiteral("Сантехники (santehniki)")}));
    EXPECT_EQ(Selected(form->CitiesListBox),
              (QStringList{QStringLiteral("Казань--Татарстан"), QStringLiteral("Казань--Татарстан"),
                           QString()}));
}

// While the cities are awaited the window's events go on: a timer fires, a
// close saves nothing the user did not choose, and "все" works.
TEST_F(LoadingFailures, TheWindowHandlesEventsWhileADownloadWaits) {
    SiteAnswers answers;
    answers.cities.delayMs = 1200;
    ControlledSite site(answers);
    PutFile(QStringLiteral("selection2.txt"), "байконур\r\n");

    auto form = NewForm();
    bool handled = false;
    bool endedMeanwhile = true;
    int categoriesMeanwhile = -1;
    int citiesMeanwhile = -1;
    Qt::CursorShape cursorMeanwhile = Qt::ArrowCursor;
    bool closedMeanwhile = false;
    QTimer::singleShot(300, form.get(), [&] {
        handled = true;
        endedMeanwhile = form->LoadingEnded();
        categoriesMeanwhile = form->CatsListBox->count();
        citiesMeanwhile = form->CitiesListBox->count();
        if (QApplication::overrideCursor() != nullptr)
            cursorMeanwhile = QApplication::overrideCursor()->shape();
        closedMeanwhile = form->FormClose();
        form->Button1->click(); // "все" under the categories
    });
    Load(*form);

    ASSERT_TRUE(handled) << "the timer did not fire during loading";
    EXPECT_FALSE(endedMeanwhile);
    EXPECT_EQ(categoriesMeanwhile, 2);
    EXPECT_EQ(citiesMeanwhile, 0);
    EXPECT_EQ(cursorMeanwhile, Qt::WaitCursor);
    // The close came before the saved selections were restored.
    EXPECT_TRUE(closedMeanwhile);
    EXPECT_EQ(FileBytes(QStringLiteral("selection1.txt")), "<missing>");
    EXPECT_EQ(FileBytes(QStringLiteral("selection2.txt")), "байконур\r\n");
    // The click's selection stands (no categories file); the cities come back.
    EXPECT_EQ(Selected(form->CatsListBox), kSmallCategoryRows);
    EXPECT_EQ(Selected(form->CitiesListBox),
              (QStringList{QStringLiteral("Байконур"), QStringLiteral("Байконур")}));
    EXPECT_EQ(LogLines(*form), (QStringList{kLoadingLine, kReadyLine}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// A quit while the professionals page is awaited aborts the download, ends
// loading with its error line, and still ends the application's event loop.
// The loop is the application's own (QCoreApplication::exec), which clears the
// thread's quit state when it returns; a watchdog ends it should nothing else.
TEST_F(LoadingFailures, AQuitDuringADownloadEndsLoadingAndTheApplication) {
    std::atomic<bool> asked{false};
    RawServer silent([&asked](RawConnection& connection) {
        RawRequest request;
        if (connection.ReadRequest(request)) {
            asked = true;
            connection.Hold(5000);
        }
    });
    Config().WebHost = QString::fromStdString(silent.HostPort());
    Config().ApiHost = Config().WebHost;
    Config().CaFile = QString::fromStdString(TestCertificates().caCert);

    auto form = NewForm();
    bool returned = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    watchdog.start(15000);
    // The quit comes once the request has reached the site, while its
    // answer is awaited.
    QTimer quitWhenAsked;
    quitWhenAsked.setInterval(5);
    QObject::connect(&quitWhenAsked, &QTimer::timeout, [&] {
        if (asked) {
            quitWhenAsked.stop();
            QCoreApplication::exit(5);
        }
    });
    QTimer::singleShot(0, [&] {
        quitWhenAsked.start();
        form->Timer1Timer();
        returned = true;
    });
    const int code = QCoreApplication::exec();

    EXPECT_EQ(code, 5);
    EXPECT_TRUE(returned);
    EXPECT_EQ(LogLines(*form),
              (QStringList{kLoadingLine, QStringLiteral("Ошибка Request aborted")}));
    EXPECT_EQ(form->CatsListBox->count(), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(silent.Requests().size(), 1u);
}

} // namespace
