// A site whose listing pages no longer carry what phase 1 reads: the run says
// once that the layout may have changed, before the error of the first page.
#include "run/recording_events.h"
#include "run/run_support.h"
#include "run/scraper.h"

#include "support/https_server.h"
#include "support/test_certs.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace runtest;

TEST(LayoutWarning, ListingPagesWithoutCityKeyOrCardsAreWarnedAboutOnce) {
    Workspace ws;
    ASSERT_TRUE(ws.valid());
    LocalHttpsServer redesigned;
    redesigned.Routes().Get(R"(/professionals/.*)",
                            [](const httplib::Request&, httplib::Response& res) {
                                res.set_content("<html><body><h1>Новый сайт</h1></body></html>",
                                                "text/html; charset=utf-8");
                            });
    redesigned.Start();
    Config().CaFile = QString::fromStdString(TestCertificates().caCert);
    RunRequest request;
    request.webHost = QString::fromStdString(redesigned.HostPort());
    request.cityRows = {QStringLiteral("Екатеринбург--Свердловская область")};
    request.categoryRows = {QStringLiteral("Фотографы (fotografy)"),
                            QStringLiteral("Психологи (psihologi)")};
    RecordingEvents events;
    // Each page also lacks the category index: an error and its pause each;
    // the test plays the resume timer.
    std::shared_ptr<TScraper> run = std::make_shared<TScraper>(request, events);
    run->Start();
    for (int pause = 1; pause <= 2; ++pause) {
        ASSERT_TRUE(WaitUntil([&] { return events.lines.count(kErrorPause) == pause; }, 30000))
            << events.lines.join('\n').toStdString();
        ASSERT_TRUE(WaitUntil([&] { return run->Suspended(); }, 30000));
        run->Resume();
    }
    ASSERT_TRUE(WaitUntil([&] { return run->Finished(); }, 30000));

    const QStringList& lines = events.lines;
    const QStringList warnings = lines.filter(QStringLiteral("Внимание"));
    const QStringList errors = lines.filter(QStringLiteral("Ошибка: The category index"));
    ASSERT_EQ(warnings.size(), 1) << lines.join('\n').toStdString();
    ASSERT_EQ(errors.size(), 2);
    EXPECT_EQ(events.armed, 2);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Внимание: на странице https://%1/professionals/"
                                                  "\\S+/probr-0~ не найдены ни ключ города, ни "
                                                  "карточки. Возможно, сайт изменил разметку "
                                                  "страниц.$")
                                       .arg(QRegularExpression::escape(request.webHost)))
                    .match(warnings[0])
                    .hasMatch())
        << warnings[0].toStdString();
    EXPECT_LT(lines.indexOf(warnings[0]), lines.indexOf(errors[0]));
    // Nothing was found: no phase 2 and no summary.
    EXPECT_TRUE(lines.filter(QStringLiteral("Итог: ")).isEmpty());
    EXPECT_TRUE(events.ending.errorShown);
}
