#include "core/config.h"
#include "core/platform.h"
#include "ui/main_form.h"
#include "ui/workbook_choice.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = Config();
        Config().WebHost = QStringLiteral("example.test");
        form_ = std::make_unique<TMainForm>();
        form_->Timer1->stop(); // reference loading is not part of these tests
    }
    void TearDown() override {
        form_.reset();
        Config() = saved_;
    }
    void fill(QListWidget* list, int rows) {
        for (int i = 0; i < rows; ++i)
            list->addItem(QStringLiteral("row %1").arg(i));
    }
    static int selectedCount(QListWidget* list) { return list->selectedItems().size(); }

    AppConfig saved_;
    std::unique_ptr<TMainForm> form_;
};

TEST_F(MainWindowTest, CaptionNamesTheHostWithACapitalFirstLetter) {
    EXPECT_EQ(form_->windowTitle(), QStringLiteral("Парсер сайта Example.test"));
    EXPECT_EQ(WindowCaption(QStringLiteral("localhost:8443")),
              QStringLiteral("Парсер сайта Localhost:8443"));
    EXPECT_EQ(WindowCaption(QStringLiteral("мастера.рф")),
              QStringLiteral("Парсер сайта Мастера.рф"));
}

TEST_F(MainWindowTest, ControlsStartInTheirInitialState) {
    EXPECT_EQ(form_->StartButton->text(), QStringLiteral("СТАРТ"));
    EXPECT_EQ(form_->PauseButton->text(), QStringLiteral("пауза"));
    EXPECT_EQ(form_->StopButton->text(), QStringLiteral("стоп"));
    EXPECT_EQ(form_->Button1->text(), QStringLiteral("все"));
    EXPECT_EQ(form_->SelectAllCitiesButton->text(), QStringLiteral("все"));
    EXPECT_EQ(form_->Label1->text(), QStringLiteral("Города/Регионы"));
    EXPECT_EQ(form_->Label2->text(), QStringLiteral("Логи"));
    EXPECT_EQ(form_->Label3->text(), QStringLiteral("Категории"));
    EXPECT_EQ(form_->Label4->text(), QStringLiteral("Найдено карточек: 0"));
    EXPECT_TRUE(form_->StartButton->isEnabled());
    EXPECT_TRUE(form_->CitiesListBox->isEnabled());
    EXPECT_TRUE(form_->CatsListBox->isEnabled());
    EXPECT_EQ(form_->CitiesListBox->count(), 0);
    EXPECT_EQ(form_->CatsListBox->count(), 0);
    EXPECT_EQ(form_->CatsListBox->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(form_->CitiesListBox->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_TRUE(form_->LogsMemo->toPlainText().isEmpty());
    EXPECT_FALSE(form_->LogsMemo->isReadOnly());
    EXPECT_EQ(form_->LogsMemo->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(form_->ProgressBar->minimum(), 0);
    EXPECT_EQ(form_->ProgressBar->maximum(), 100);
    EXPECT_EQ(form_->ProgressBar->value(), 0);
    EXPECT_FALSE(form_->ResumeTimer->isActive());
    EXPECT_EQ(form_->Timer1->interval(), 1000);
}

TEST(MainWindowTimers, Timer1FiresOnceAfterASecond) {
    TMainForm form;
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_EQ(form.Timer1->interval(), 1000);
    form.Timer1Timer();
    EXPECT_FALSE(form.Timer1->isActive());
}

TEST_F(MainWindowTest, LogFillsTheRestAndGrowsWithTheWindow) {
    form_->show();
    const QRect memo = form_->LogsMemo->geometry();
    const QRect cats = form_->CatsListBox->geometry();
    const QRect cities = form_->CitiesListBox->geometry();
    form_->resize(form_->width() + 200, form_->height() + 100);
    EXPECT_EQ(form_->LogsMemo->width(), memo.width() + 200);
    EXPECT_EQ(form_->LogsMemo->height(), memo.height() + 100);
    EXPECT_EQ(form_->CatsListBox->width(), cats.width()); // the lists keep their column
    EXPECT_EQ(form_->CatsListBox->height(), cats.height() + 100);
    EXPECT_EQ(form_->CitiesListBox->y(), cities.y() + 100);
    EXPECT_EQ(form_->ProgressBar->width(), form_->width());
    EXPECT_EQ(form_->ProgressBar->geometry().bottom(), form_->height() - 1);
    // The "все" buttons stay over the lower right corners of their lists.
    EXPECT_TRUE(form_->CatsListBox->geometry().contains(form_->Button1->geometry().center()));
    EXPECT_TRUE(form_->CitiesListBox->geometry().contains(
        form_->SelectAllCitiesButton->geometry().center()));
}

TEST_F(MainWindowTest, SelectAllButtonsSelectEveryRowOfTheirOwnList) {
    fill(form_->CatsListBox, 4);
    fill(form_->CitiesListBox, 3);
    form_->CatsListBox->item(1)->setSelected(true);
    QTest::mouseClick(form_->Button1, Qt::LeftButton);
    EXPECT_EQ(selectedCount(form_->CatsListBox), 4);
    EXPECT_EQ(selectedCount(form_->CitiesListBox), 0);
    QTest::mouseClick(form_->SelectAllCitiesButton, Qt::LeftButton);
    EXPECT_EQ(selectedCount(form_->CitiesListBox), 3);
    EXPECT_TRUE(form_->LogsMemo->toPlainText().isEmpty());
}

TEST_F(MainWindowTest, SelectAllOnAnEmptyListDoesNothing) {
    form_->Button1Click();
    form_->SelectAllCitiesButtonClick();
    EXPECT_EQ(form_->CatsListBox->count(), 0);
    EXPECT_EQ(selectedCount(form_->CatsListBox), 0);
}

TEST_F(MainWindowTest, CtrlAWithOrWithoutShiftSelectsTheWholeLog) {
    form_->show();
    form_->AppendLog(QStringLiteral("первая строка"));
    form_->AppendLog(QStringLiteral("вторая строка"));
    form_->LogsMemo->setFocus();
    const QString whole = form_->LogsMemo->toPlainText();

    QTest::keyClick(form_->LogsMemo, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(form_->LogsMemo->textCursor().selectedText().size(), whole.size());

    QTextCursor cursor = form_->LogsMemo->textCursor();
    cursor.clearSelection();
    form_->LogsMemo->setTextCursor(cursor);
    QTest::keyClick(form_->LogsMemo, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(form_->LogsMemo->textCursor().selectedText().size(), whole.size());

    // Without Ctrl the key types its letter.
    cursor.movePosition(QTextCursor::End);
    form_->LogsMemo->setTextCursor(cursor);
    QTest::keyClicks(form_->LogsMemo, QStringLiteral("a"));
    EXPECT_TRUE(form_->LogsMemo->toPlainText().endsWith(QStringLiteral("строкаa")));
}

TEST_F(MainWindowTest, FocusOrderFollowsTheControls) {
    const QList<QWidget*> expected{
        form_->CitiesListBox, form_->StartButton,           form_->PauseButton, form_->StopButton,
        form_->LogsMemo,      form_->SelectAllCitiesButton, form_->CatsListBox, form_->Button1};
    // Walk the chain from the first control and keep the eight in the order met.
    QList<QWidget*> met;
    QWidget* w = expected.first();
    for (int steps = 0; steps < 200 && met.size() < expected.size(); ++steps) {
        if (expected.contains(w) && !met.contains(w))
            met.append(w);
        w = w->nextInFocusChain();
    }
    EXPECT_EQ(met, expected);
}

} // namespace

// "Также Excel (.xlsx)" lies clear of every other control and starts as the
// program folder remembers it; a click is remembered at once.
TEST(MainWindowWorkbook, CheckBoxIsRememberedInTheProgramFolder) {
    EXPECT_TRUE(WorkbookWanted("\xEF\xBB\xBFother=0\nxlsx=1"));
    EXPECT_FALSE(WorkbookWanted("xlsx=yes\r\n"));
    QTemporaryDir dir;
    SetProgramFolder(dir.path() + QLatin1Char('/'));
    SaveWorkbookChoice(dir.path(), true);
    {
        TMainForm form;
        form.Timer1->stop();
        QCheckBox* box = form.XlsxCheckBox;
        EXPECT_TRUE(box->isChecked() && box->text() == QStringLiteral("Также Excel (.xlsx)"));
        for (const QWidget* other : form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            EXPECT_TRUE(other == box || !other->geometry().intersects(box->geometry()));
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    }
    QFile file(dir.filePath(OptionsFileName()));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly) && file.readAll() == "xlsx=0\r\n");
    SetProgramFolder({});
}
