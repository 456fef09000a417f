// A site whose listing pages no longer carry what phase 1 reads: the run says
// once that the layout may have changed, before the error of the first page.
#include "run/window_fixture.h"

#include "support/https_server.h"
#include "support/test_certs.h"

using namespace runtest;

TEST_F(RunWindowTest, ListingPagesWithoutCityKeyOrCardsAreWarnedAboutOnce) {
    Open({"--scale", "3"}, Lists::ByHand);
    LocalHttpsServer redesigned;
    redesigned.Routes().Get(R"(/professionals/.*)",
                            [](const httplib::Request&, httplib::Response& res) {
                                res.set_content("<html><body><h1>Новый сайт</h1></body></html>",
                                                "text/html; charset=utf-8");
                            });
    redesigned.Start();
    Config().WebHost = QString::fromStdString(redesigned.HostPort());
    Config().CaFile = QString::fromStdString(TestCertificates().caCert);
    SelectPairs({kEkb}, {QStringLiteral("fotografy"), QStringLiteral("psihologi")});

    form_->StartButtonClick();
    // Each page also lacks the category index: an error and its pause each.
    ASSERT_TRUE(WaitForLine(kErrorPause)) << Lines().join('\n').toStdString();
    form_->ResumeTimerTimer();
    ASSERT_TRUE(WaitUntil([&] { return Lines().count(kErrorPause) == 2; }, 30000))
        << Lines().join('\n').toStdString();
    form_->ResumeTimerTimer();
    ASSERT_TRUE(WaitRunEnd());

    const QStringList lines = Lines();
    const QStringList warnings = lines.filter(QStringLiteral("Внимание"));
    const QStringList errors = lines.filter(QStringLiteral("Ошибка: The category index"));
    ASSERT_EQ(warnings.size(), 1) << lines.join('\n').toStdString();
    ASSERT_EQ(errors.size(), 2);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Внимание: на странице https://%1/professionals/"
                                                  "\\S+/probr-0~ не найдены ни ключ города, ни "
                                                  "карточки. Возможно, сайт изменил разметку "
                                                  "страниц.$")
                                       .arg(QRegularExpression::escape(Config().WebHost)))
                    .match(warnings[0])
                    .hasMatch())
        << warnings[0].toStdString();
    EXPECT_LT(lines.indexOf(warnings[0]), lines.indexOf(errors[0]));
    // Nothing was found: no phase 2 and no summary.
    EXPECT_TRUE(lines.filter(QStringLiteral("Итог: ")).isEmpty());
}
