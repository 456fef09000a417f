// A run asked for the workbook writes it after its summary and the card
// store's lines, beside its result file; one that cannot write it says why
// and counts as an error of the run.
#include "report/workbook.h"
#include "run/recording_events.h"
#include "run/scraper.h"
#include "run/standard_outputs.h"
#include "support/workbook_reader.h"

#include <gtest/gtest.h>

using namespace runtest;
using namespace Qt::StringLiterals;

namespace {

// Takes the workbook's name before the workbook output comes to it.
struct Obstacle final : RunOutput {
    std::vector<QString> Begin(const RunRequest&, const QString&, bool) override { return {}; }
    void Found(const QString&) override {}
    void RowWritten(const CardRecord&) override {}
    void Gone(const QString&) override {}
    std::vector<QString> Sync() override { return {}; }
    std::vector<QString> Finish(RunFinish& finish) override {
        QDir().mkpath(WorkbookPathFor(finish.resultPath));
        return {};
    }
};

TEST(WorkbookRun, WrittenAfterTheSummaryOrItsErrorCountsAgainstTheRun) {
    DemoSiteProcess site({"--faults", "--scale", "12", "--slow-ms", "100"});
    ASSERT_TRUE(site.started()) << site.error();
    for (const bool blocked : {false, true}) {
        Workspace ws;
        UseSite(site);
        RunRequest request = DemoRequest(Expected(site), {u"Москва--Москва и Московская область"_s},
                                         {u"santehniki"_s});
        request.workbook = true;
        RunOutputs outputs = StandardOutputs(request, ws.folder()); // the store, the workbook
        ASSERT_EQ(outputs.size(), 2u);
        if (blocked)
            outputs.insert(outputs.begin() + 1, std::make_unique<Obstacle>());
        RecordingEvents events;
        auto run = std::make_shared<TScraper>(request, events, std::move(outputs));
        run->Start();
        ASSERT_TRUE(WaitUntil([&] { return run->Finished(); }, 60000));

        const QString path = WorkbookPathFor(ResultPathOf(events.lines));
        const qsizetype done = events.lines.indexOf(kDone);
        ASSERT_GE(done, 2) << events.lines.join('\n').toStdString();
        EXPECT_EQ(events.lines.mid(done - 2, 2),
                  (QStringList{kNoEarlierRun, blocked ? u"Ошибка: не удалось записать "_s + path +
                                                            u": Is a directory"_s
                                                      : u"Книга Excel записана в "_s + path}));
        EXPECT_EQ(events.ending.errorShown, blocked); // batch mode exits 5
        if (blocked)
            continue;
        // Every row of the result file, and the found counter as the summary has it.
        const ReadBack back = ReadWorkbookBack(path);
        EXPECT_EQ(RowCount(back.Sheet(u"Карточки"_s)),
                  static_cast<int>(ReadCsv(ResultPathOf(events.lines)).rows.size()) + 1);
        const QJsonObject summary = back.Sheet(u"Сводка"_s);
        EXPECT_EQ(CellAt(summary, 5, 0)[u"v"_s].toString() +
                      QString::number(CellAt(summary, 5, 1)[u"v"_s].toInt()),
                  u"Найдено карточек12"_s)
            << back.error.toStdString();
    }
}

} // namespace
