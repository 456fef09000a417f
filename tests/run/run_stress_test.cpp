// Many short runs with pause, resume and stop at random moments: every run
// ends (nothing deadlocks), its log ends with the end line, and every result
// file is well formed. RUN_STRESS_ITERATIONS asks for more runs (the
// ThreadSanitizer pass uses it), RUN_STRESS_SEED repeats a sequence.
#include "run/window_fixture.h"

#include <random>

using namespace runtest;

TEST_F(RunWindowTest, ManyShortRunsWithRandomPauseResumeAndStop) {
    const int iterations = qEnvironmentVariableIsSet("RUN_STRESS_ITERATIONS")
                               ? qEnvironmentVariableIntValue("RUN_STRESS_ITERATIONS")
                               : 5;
    const unsigned seed =
        qEnvironmentVariableIsSet("RUN_STRESS_SEED")
            ? static_cast<unsigned>(qEnvironmentVariableIntValue("RUN_STRESS_SEED"))
            : std::random_device{}();
    SCOPED_TRACE("RUN_STRESS_SEED=" + std::to_string(seed));
    std::mt19937 rng(seed);
    const auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };

    // Moscow/plumbers has failing cards, Kazan/electricians the listing page
    // that makes phase 1 fail.
    Open({"--faults", "--scale", "3"}, Lists::ByHand);
    SelectPairs({kMoscow, kKazan}, {QStringLiteral("santehniki"), QStringLiteral("elektriki")});

    for (int i = 0; i < iterations; ++i) {
        SCOPED_TRACE("run " + std::to_string(i));
        form_->StartButtonClick();
        ASSERT_TRUE(form_->CurrentRun);
        const std::shared_ptr<TScraper> run = form_->CurrentRun;

        for (int action = 0; action < 6 && form_->RunActive(); ++action) {
            PumpEvents(static_cast<int>(rng() % 120));
            const int what = static_cast<int>(rng() % 10);
            if (what < 5)
                form_->PauseButtonClick();
            else if (what < 8)
                form_->ResumeTimerTimer();
            else if (what == 8 && chance(50))
                form_->StopButtonClick();
        }

        // Either stop, which alone must end the run wherever it is, or let
        // the run finish, resuming any pause it is in.
        bool ended = false;
        if (chance(50)) {
            form_->StopButtonClick();
            ended = WaitRunEnd(30000);
        } else {
            ended = WaitUntil(
                [&] {
                    if (form_->RunActive() && run->Suspended()) {
                        if (form_->ResumeTimer->isActive())
                            form_->ResumeTimerTimer();
                        else
                            form_->PauseButtonClick();
                    }
                    return !form_->RunActive();
                },
                30000);
        }
        ASSERT_TRUE(ended) << Lines().join('\n').toStdString();
        ASSERT_TRUE(WaitUntil([&] { return run->Finished(); }, 10000));

        const QStringList lines = Lines();
        EXPECT_EQ(lines.first(), kStartLine);
        EXPECT_EQ(lines.count(kStartLine), 1);
        EXPECT_TRUE(lines.last().startsWith(kEndPrefix)) << lines.join('\n').toStdString();
        EXPECT_EQ(lines.filter(kEndPrefix).size(), 1);
        EXPECT_TRUE(form_->StartButton->isEnabled());
        // A result file, when there is one, is opened after being written.
        EXPECT_EQ(lines.filter(kFilePrefix).size(), lines.count(kOpening));
        form_->ResumeTimer->stop();
    }

    for (const QString& name : ws_.files(QStringLiteral("data*.csv"))) {
        const CsvFile csv = ReadCsv(ws_.path(name));
        EXPECT_TRUE(csv.wellFormed) << name.toStdString() << ": " << csv.problem.toStdString();
        EXPECT_EQ(csv.header, ExpectedHeader()) << name.toStdString();
    }
}
