// Continuing an interrupted run from the window as a user does it: a run
// another copy of the program holds, the question answered with Escape, a
// result file that cannot be continued, and files of earlier runs that a new
// run must not overwrite.
#include "run/window_fixture.h"

#include <QApplication>
#include <QMessageBox>
#include <QTest>

using namespace runtest;

namespace {

QByteArray Bytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

std::uint32_t OldTick() {
    return 424242;
}

class ContinuedRunTest : public RunWindowTest {
protected:
    // START that starts nothing: the line it leaves, START enabled again.
    void ExpectRefused(const QString& line) {
        const auto run = form_->CurrentRun;
        form_->StartButtonClick();
        EXPECT_EQ(form_->CurrentRun, run) << "no run was started";
        EXPECT_FALSE(form_->RunActive());
        EXPECT_EQ(Unstamped(LogLines(form_->LogsMemo)).last(), line);
        EXPECT_TRUE(form_->StartButton->isEnabled());
    }
};

} // namespace

// A journal another copy of the program holds is not continued (and not
// asked about); Escape on the question keeps the journal and starts nothing;
// "Да" on a result file a spreadsheet saved again leaves that file alone and
// writes every card into a new one.
TEST_F(ContinuedRunTest, InUseEscapeAndAFileThatCannotBeContinued) {
    Open({"--scale", "12"}, Lists::ByHand);
    SelectPairs({kEkb}, {QStringLiteral("fotografy")});
    const QString journal = StoppedRun();
    const QString oldFile = ResultPath();
    const QByteArray journalBytes = Bytes(journal);

    {
        const auto otherCopy = RunJournal::Take(journal);
        ExpectRefused(QStringLiteral("Сбор с такими настройками уже идёт в другой копии "
                                     "программы, второй запуск отменён"));
        EXPECT_EQ(questions_, 0);
    }
    answer_ = ContinueAnswer::Cancel;
    ExpectRefused(QStringLiteral("Запуск отменён"));
    EXPECT_EQ(questions_, 1);
    EXPECT_EQ(Bytes(journal), journalBytes);

    QByteArray resaved = Bytes(oldFile);
    resaved.replace('"', "");
    WriteBytes(oldFile, resaved);
    answer_ = ContinueAnswer::Continue;
    form_->StartButtonClick();
    ASSERT_TRUE(WaitRunEnd());
    const QStringList lines = Lines();
    const QString newFile = ResultPath();
    EXPECT_NE(newFile, oldFile);
    EXPECT_TRUE(lines.contains(
        QStringLiteral("Файл %1 нельзя продолжить (он изменён или повреждён), карточки пишем в "
                       "новый файл %2")
            .arg(oldFile, newFile)))
        << lines.join('\n').toStdString();
    EXPECT_FALSE(lines.contains(kErrorPause));
    EXPECT_TRUE(lines.contains(kDone));
    EXPECT_TRUE(lines.contains(
        QStringLiteral("Итог: найдено карточек 12, записано строк 12, не скачано 0")));
    EXPECT_EQ(Bytes(oldFile), resaved);
    const CsvFile csv = ReadCsv(newFile);
    ASSERT_TRUE(csv.wellFormed) << csv.problem.toStdString();
    EXPECT_EQ(csv.rows.size(), 12u);
    EXPECT_EQ(RowSlugs(csv).size(), 12);
    EXPECT_TRUE(ws_.files(QStringLiteral("run-*")).isEmpty());
}

// Files of earlier runs with the run's tick are never overwritten: the run
// takes the next tick free for all three of its files.
TEST_F(ContinuedRunTest, ARunNeverOverwritesAnEarlierRunsFiles) {
    Open({"--scale", "3"}, Lists::ByHand);
    SelectPairs({kEkb}, {QStringLiteral("fotografy")});
    TScraper::TickSource = &OldTick;
    WriteBytes(ws_.path(QStringLiteral("data424242.csv")), "older result");
    WriteBytes(ws_.path(QStringLiteral("log-424243.txt")), "older log");
    form_->StartButtonClick();
    ASSERT_TRUE(WaitRunEnd());
    EXPECT_EQ(ResultPath(), ws_.path(QStringLiteral("data424244.csv")));
    EXPECT_EQ(Lines().last(), kEndPrefix + ws_.path(QStringLiteral("log-424244.txt")));
    EXPECT_EQ(Bytes(ws_.path(QStringLiteral("data424242.csv"))), "older result");
    EXPECT_EQ(Bytes(ws_.path(QStringLiteral("log-424243.txt"))), "older log");
    EXPECT_EQ(ReadCsv(ResultPath()).rows.size(), 3u);
}

// The question itself: Enter means "Да"; only "Нет" starts anew; Escape and
// closing the box cancel.
TEST(ContinueQuestion, EscapeAndCloseCancelOnlyNoStartsAnew) {
    const auto answer = [](const std::function<void(QMessageBox&)>& act) {
        QTimer::singleShot(0, [act] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box != nullptr)
                act(*box);
        });
        return AskToContinueRun(nullptr, UnfinishedRun{});
    };
    EXPECT_EQ(answer([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }),
              ContinueAnswer::Cancel);
    EXPECT_EQ(answer([](QMessageBox& box) { box.close(); }), ContinueAnswer::Cancel);
    EXPECT_EQ(answer([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); }),
              ContinueAnswer::Continue);
    EXPECT_EQ(answer([](QMessageBox& box) { box.button(QMessageBox::No)->click(); }),
              ContinueAnswer::StartAnew);
}
