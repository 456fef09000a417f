// The exact work of phase 1 for a selection of cities and categories: a run
// that records what it shows, with a single worker, so that items are handled
// in queue order and every line is known beforehand.
#include "run/recording_events.h"
#include "run/run_support.h"
#include "run/scraper.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <utility>

using namespace runtest;

// Seeding puts one listing URL per pair in the queue, cities outermost; each
// page queues the next one at the back, behind every other pair's; card URLs
// are collected once across pages, pairs and letter case (the region row
// repeats its city's cards, some with capitals, and neighbouring categories
// share cards), and nothing after the listing page's notice counts.
TEST(RunSequence, PhaseOneWorksThroughTheQueueInOrder) {
    Workspace ws;
    ASSERT_TRUE(ws.valid());
    DemoSiteProcess site({"--scale", "51"});
    ASSERT_TRUE(site.started()) << site.error();
    UseSite(site);
    const nlohmann::json expected = Expected(site);
    ASSERT_TRUE(expected.is_object());
    const QString web = Config().WebHost;

    RunRequest request;
    request.webHost = web;
    request.apiHost = Config().ApiHost;
    request.limit = 1;
    QStringList cities;
    QStringList cats;
    for (const auto& category : expected["categories"]) {
        cats << Str(category["row"]);
        request.categoryIds << Str(category["id"]);
    }
    for (const auto& city : expected["cityRows"])
        cities << Str(city["row"]);
    ASSERT_EQ(cats.size(), 12);
    ASSERT_EQ(cities.size(), 18);
    // Rows 1 and 4 are cities, row 13 the region of row 1; categories 2 and 3
    // are neighbours.
    const std::vector<int> cityRows = {1, 4, 13};
    const std::vector<int> catRows = {2, 3};
    for (const int row : cityRows)
        request.cityRows << cities[row];
    for (const int row : catRows)
        request.categoryRows << cats[row];

    // What the run must write: pages in queue order.
    std::deque<std::pair<const nlohmann::json*, int>> queue;
    for (const int city : cityRows) {
        for (const int cat : catRows) {
            const nlohmann::json* pair = FindPair(
                expected, Str(expected["categories"][static_cast<std::size_t>(cat)]["slug"]),
                cities[city]);
            ASSERT_NE(pair, nullptr);
            ASSERT_EQ((*pair)["pages"].get<int>(), 3);
            queue.emplace_back(pair, 0);
        }
    }
    QStringList want = {kStartLine, QStringLiteral("Начинаем работу...")};
    std::set<QString> seen;
    int collected = 0;
    int noticePairs = 0;
    for (const auto& [pair, page] : queue)
        noticePairs += (*pair)["notice"].get<bool>() ? 1 : 0;
    ASSERT_GT(noticePairs, 0);
    while (!queue.empty()) {
        const auto [pair, page] = queue.front();
        queue.pop_front();
        want << PairPageLines(*pair, page, web, seen, collected);
        if (page + 1 < (*pair)["pages"].get<int>())
            queue.emplace_back(pair, page + 1);
    }
    want << kFoundPrefix + QString::number(collected);
    // The region pairs give nothing new, and neighbours share cards.
    ASSERT_LT(collected, 4 * 51);
    ASSERT_TRUE(want.contains(NewCardsLine(0)));

    RecordingEvents events;
    auto run = std::make_shared<TScraper>(request, events);
    run->Start();

    // Phase 1 is what this test is about: stop once it has handed over.
    const bool handedOver = WaitUntil(
        [&] {
            return AnyLine(events.lines,
                           [](const QString& l) { return l.startsWith(kFoundPrefix); });
        },
        60000);
    run->Terminate();
    ASSERT_TRUE(WaitUntil([&] { return run->Finished(); }, 30000));
    ASSERT_TRUE(handedOver);

    const QStringList& lines = events.lines;
    ASSERT_GE(lines.size(), want.size());
    for (qsizetype i = 0; i < want.size(); ++i)
        ASSERT_EQ(lines[i], want[i]) << "line " << i;
    EXPECT_EQ(events.found, collected);
    EXPECT_TRUE(lines[want.size()].startsWith(kFilePrefix));
    EXPECT_TRUE(lines.last().startsWith(kEndPrefix));
    EXPECT_EQ(events.ends, 1);
}
