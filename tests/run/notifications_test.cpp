// The run's side of its notifications, on a run that records what it shows:
// the pause after an error, and the start and end displays of a run stopped
// before it began.
#include "run/recording_events.h"
#include "run/run_support.h"
#include "run/scraper.h"

#include <gtest/gtest.h>

#include <memory>

using namespace runtest;

namespace {

std::uint32_t WrappedTick() {
    return 3000000000u;
}

// A run that is never started, showing through recorded events.
struct BareRun {
    RecordingEvents events;
    std::shared_ptr<TScraper> run = std::make_shared<TScraper>(RunRequest{}, events);
    ~BareRun() {
        while (run->Suspended())
            run->Resume();
    }
    RunOutcome Error() const { return {RunOutcome::Kind::Error, QStringLiteral("x"), false}; }
};

} // namespace

// An error shows its lines, arms the resume timer and pauses the run; "ok"
// does neither.
TEST(RunNotifications, AnErrorPausesTheRunForThirtySeconds) {
    BareRun r;
    r.run->PostResult({RunOutcome::Kind::Ok, {}, false});
    EXPECT_EQ(r.events.lines, QStringList{kDone});
    EXPECT_EQ(r.events.armed, 0);
    EXPECT_FALSE(r.run->Suspended());

    r.run->PostResult(r.Error());
    EXPECT_EQ(r.events.lines, (QStringList{kDone, QStringLiteral("Ошибка: x"), kErrorPause}));
    EXPECT_EQ(r.events.armed, 1);
    EXPECT_TRUE(r.run->Suspended());
    r.run->Resume();
    EXPECT_FALSE(r.run->Suspended());
}

// A pause pressed just before the error's own pause: the run is paused once,
// so the timer's resume (or one press of pause) really lets it go on.
TEST(RunNotifications, APauseBeforeTheErrorPauseCountsOnce) {
    BareRun r;
    r.run->Suspend();
    r.run->PostResult(r.Error());
    EXPECT_TRUE(r.run->Suspended());
    r.run->Resume();
    EXPECT_FALSE(r.run->Suspended());
}

// An error that arrives after a stop is logged, but the stopped run is not
// paused again.
TEST(RunNotifications, ErrorAfterAStopDoesNotPause) {
    BareRun r;
    r.run->Terminate();
    r.run->PostResult({RunOutcome::Kind::Error, QStringLiteral("Read timed out"), false});
    EXPECT_EQ(r.events.lines, QStringList{QStringLiteral("Ошибка: Read timed out")});
    EXPECT_EQ(r.events.armed, 0);
    EXPECT_FALSE(r.run->Suspended());
}

// START followed by a stop before the run's thread has begun: the run still
// shows its start and its end, the run log named by its tick (a wrapped one
// as a negative number).
TEST(RunNotifications, ARunStoppedBeforeItBeganStillEnds) {
    Workspace ws;
    ASSERT_TRUE(ws.valid());
    TScraper::TickSource = &WrappedTick;
    BareRun r;
    r.run->Terminate();
    r.run->Start();
    ASSERT_TRUE(WaitUntil([&] { return r.run->Finished(); }));
    TScraper::TickSource = nullptr;
    const QStringList& lines = r.events.lines;
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines.first(), kStartLine);
    EXPECT_EQ(r.events.ends, 1);
    EXPECT_EQ(r.events.ending.logPath, ws.path(QStringLiteral("log--1294967296.txt")));
    EXPECT_TRUE(r.run->Ended());
}
