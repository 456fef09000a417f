// A run asked for the workbook writes it after its summary and the card
// store's lines, beside its result file; one that cannot write it says why
// and counts as an error of the run.
#include "report/workbook.h"
#include "run/recording_events.h"
#include "run/run_support.h"
#include "run/scraper.h"
#include "run/standard_outputs.h"
#include "run/workbook_output.h"

#include "support/workbook_reader.h"

#include <gtest/gtest.h>

using namespace runtest;

namespace {

const QString kMoscow = QStringLiteral("Москва--Москва и Московская область");

// Takes the workbook's name before the workbook output comes to it.
class Obstacle final : public RunOutput {
public:
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
        ASSERT_TRUE(ws.valid());
        UseSite(site);
        RunRequest request = DemoRequest(Expected(site), {kMoscow}, {QStringLiteral("santehniki")});
        request.workbook = true;
        RunOutputs outputs;
        if (blocked) {
            outputs.push_back(std::make_unique<Obstacle>());
            outputs.push_back(std::make_unique<WorkbookOutput>());
        } else {
            outputs = StandardOutputs(request, ws.folder());
            ASSERT_EQ(outputs.size(), 2u);
        }
        RecordingEvents events;
        auto run = std::make_shared<TScraper>(request, events, std::move(outputs));
        run->Start();
        ASSERT_TRUE(WaitUntil([&] { return run->Finished(); }, 60000));

        const QStringList& lines = events.lines;
        const QString csv = ResultPathOf(lines);
        const QString path = WorkbookPathFor(csv);
        const qsizetype done = lines.indexOf(kDone);
        ASSERT_GE(done, 2) << lines.join('\n').toStdString();
        EXPECT_TRUE(ReadCsv(csv).wellFormed);
        if (blocked) {
            EXPECT_EQ(lines[done - 1], QStringLiteral("Ошибка: не удалось записать %1: Is a "
                                                      "directory")
                                           .arg(path));
            EXPECT_TRUE(events.ending.errorShown); // batch mode exits 5
            continue;
        }
        EXPECT_EQ(lines.mid(done - 2, 2),
                  (QStringList{kNoEarlierRun, QStringLiteral("Книга Excel записана в ") + path}));
        EXPECT_FALSE(events.ending.errorShown);
        const ReadBack back = ReadWorkbookBack(path);
        ASSERT_TRUE(back.error.isEmpty()) << back.error.toStdString();
        EXPECT_EQ(RowCount(back.Sheet(QStringLiteral("Карточки"))),
                  static_cast<int>(ReadCsv(csv).rows.size()) + 1);
        // The found counter, as the summary line has it.
        const QJsonObject summary = back.Sheet(QStringLiteral("Сводка"));
        EXPECT_EQ(CellAt(summary, 7, 0)[QStringLiteral("v")].toString(),
                  QStringLiteral("Найдено карточек"));
        EXPECT_EQ(CellAt(summary, 7, 1)[QStringLiteral("v")].toInt(), 12);
    }
}

} // namespace
