#pragma once
// A main window, offscreen, whose lists are loaded from a demo site of the
// test's own, in a program folder of the test's own.

#include "run/run_support.h"
#include "run/scraper.h"
#include "run/unfinished_runs.h"
#include "ui/main_form.h"

#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace runtest {

inline const QString kMoscow = QStringLiteral("Москва--Москва и Московская область");
inline const QString kKazan = QStringLiteral("Казань--Республика Татарстан");
inline const QString kPiter =
    QStringLiteral("Санкт-Петербург--Санкт-Петербург и Ленинградская область");
inline const QString kEkb = QStringLiteral("Екатеринбург--Свердловская область");
inline const QString kPiterRegion = QStringLiteral("Санкт-Петербург и Ленинградская область");

class RunWindowTest : public ::testing::Test {
protected:
    void TearDown() override {
        EndRun();
        form_.reset();
        site_.reset();
        TScraper::TickSource = nullptr;
        // Workers a stopped run left behind end once the site is gone.
        EXPECT_TRUE(WaitUntil([] { return TThread::LiveCount() == 0; }, 30000))
            << TThread::LiveCount() << " threads still exist";
    }

    // Starts the demo site with `args`, points the program at it and fills
    // the lists: loaded as the window does (with the page client's
    // certificate), or by hand from the site's expected data.
    enum class Lists { Loaded, ByHand };
    void Open(const std::vector<std::string>& args, Lists lists = Lists::Loaded) {
        ASSERT_TRUE(ws_.valid());
        site_ = std::make_unique<DemoSiteProcess>(args);
        ASSERT_TRUE(site_->started()) << site_->error();
        UseSite(*site_);
        form_ = std::make_unique<TMainForm>();
        form_->Timer1->stop();
        // An interrupted run of the same selection is not continued unless a
        // test says so: a new run, as before there were journals.
        form_->AskToContinue = [this](const UnfinishedRun& run) {
            ++questions_;
            lastQuestion_ = run;
            return answer_;
        };
        if (lists == Lists::ByHand) {
            const nlohmann::json expected = Expected(*site_);
            ASSERT_TRUE(expected.is_object());
            for (const auto& category : expected["categories"]) {
                form_->CatsListBox->addItem(Str(category["row"]));
                form_->CategoryIds << Str(category["id"]);
            }
            for (const auto& city : expected["cityRows"])
                form_->CitiesListBox->addItem(Str(city["row"]));
        } else {
            ASSERT_TRUE(MakeClientCert(*site_, ws_.folder()));
            form_->Timer1Timer();
            ASSERT_TRUE(form_->LoadingEnded());
        }
        ASSERT_EQ(form_->CategoryIds.size(), 12)
            << LogLines(form_->LogsMemo).join('\n').toStdString();
        ASSERT_EQ(form_->CitiesListBox->count(), 18);
    }

    // Selects the rows with these texts (categories also by their slug).
    static void Select(QListWidget* list, const QStringList& names) {
        for (const QString& name : names) {
            bool found = false;
            for (int i = 0; i < list->count(); ++i) {
                const QString text = list->item(i)->text();
                if (text == name || text.endsWith(QLatin1Char('(') + name + QLatin1Char(')'))) {
                    list->item(i)->setSelected(true);
                    found = true;
                }
            }
            ASSERT_TRUE(found) << name.toStdString();
        }
    }
    void SelectPairs(const QStringList& cities, const QStringList& slugs) {
        Select(form_->CitiesListBox, cities);
        Select(form_->CatsListBox, slugs);
    }

    // The log's lines without their time stamps.
    QStringList Lines() const { return Unstamped(LogLines(form_->LogsMemo)); }

    template <typename Match> bool WaitForLine(Match match, int timeoutMs = 30000) {
        return WaitUntil([&] { return AnyLine(Lines(), match); }, timeoutMs);
    }
    bool WaitForLine(const QString& text, int timeoutMs = 30000) {
        return WaitForLine([&](const QString& line) { return line == text; }, timeoutMs);
    }
    // Holds the run at its suspend gate right after the notification that
    // writes the first line (without its stamp) that `match` accepts: the run
    // is suspended from inside that notification, while it waits for it.
    // Waiting for a line in the log is not that precise, since one round of
    // window events may run several notifications.
    template <typename Match> bool HoldAfterLine(Match match, int timeoutMs = 30000) {
        bool held = false;
        const QMetaObject::Connection connection =
            QObject::connect(form_->LogsMemo, &QPlainTextEdit::textChanged, form_.get(), [&] {
                if (held || !form_->RunActive())
                    return;
                if (match(Unstamped(form_->LogsMemo->document()->lastBlock().text()))) {
                    form_->CurrentRun->Suspend();
                    held = true;
                }
            });
        const bool ok = WaitUntil([&] { return held; }, timeoutMs);
        QObject::disconnect(connection);
        return ok;
    }
    bool HoldAfterLine(const QString& text, int timeoutMs = 30000) {
        return HoldAfterLine([&](const QString& line) { return line == text; }, timeoutMs);
    }
    // Lets a held run go; the window thread runs nothing else before the
    // caller's next step, so the run cannot get past its next notification
    // meanwhile.
    void Release() { form_->CurrentRun->Resume(); }

    // The run's end display has been shown and its thread has returned (the
    // thread returns just after the display, so a test may look at either).
    bool WaitRunEnd(int timeoutMs = 30000) {
        return WaitUntil(
            [&] {
                return !form_->RunActive() && (!form_->CurrentRun || form_->CurrentRun->Finished());
            },
            timeoutMs);
    }

    // Ends a run that a failed test left behind.
    void EndRun() {
        if (!form_ || !form_->RunActive())
            return;
        form_->CurrentRun->Terminate();
        WaitUntil(
            [&] {
                if (form_->CurrentRun->Suspended())
                    form_->CurrentRun->Resume();
                return !form_->RunActive();
            },
            30000);
    }

    // A run of the selection stopped after its first card; the path of the
    // journal it leaves.
    QString StoppedRun() {
        form_->StartButtonClick();
        EXPECT_TRUE(HoldAfterLine([](const QString& l) {
            return l.startsWith(kCardPrefix) && l.endsWith(QStringLiteral(": успешно"));
        }));
        Release();
        form_->StopButtonClick();
        EXPECT_TRUE(WaitRunEnd());
        const QStringList journals = ws_.files(QStringLiteral("run-*.journal"));
        EXPECT_EQ(journals.size(), 1);
        return ws_.path(journals.value(0));
    }

    // The path named by the "Данные будут записываться в файл " line.
    QString ResultPath() const {
        for (const QString& line : Lines()) {
            if (line.startsWith(kFilePrefix))
                return line.mid(kFilePrefix.size());
        }
        return {};
    }

    Workspace ws_;
    std::unique_ptr<DemoSiteProcess> site_;
    std::unique_ptr<TMainForm> form_;
    // The answer to the question whether to continue an interrupted run.
    ContinueAnswer answer_ = ContinueAnswer::StartAnew;
    int questions_ = 0;
    UnfinishedRun lastQuestion_;
};

} // namespace runtest
