// Closing the window: the two selection files it writes, the ones it must
// leave alone, and a file that cannot be written.

#include "ui_test_support.h"

#include <QMessageBox>

namespace {

class FormCloseTest : public UiTest {
protected:
    // The message box FormClose left open, if any.
    static QMessageBox* OpenBox(const TMainForm& form) {
        for (QMessageBox* box : form.findChildren<QMessageBox*>()) {
            if (box->isVisible())
                return box;
        }
        return nullptr;
    }
    static void Select(QListWidget* list, const QStringList& rows) {
        for (int i = 0; i < list->count(); ++i)
            list->item(i)->setSelected(rows.contains(list->item(i)->text()));
    }
};

TEST_F(FormCloseTest, SelectionsGoOutAsUtf8WithCrLfAndComeBack) {
    ControlledSite site;
    {
        auto form = NewForm();
        Load(*form);
        Select(form->CatsListBox, {QStringLiteral("Электрики (elektriki)")});
        Select(form->CitiesListBox, {QStringLiteral("Севастополь--"), QStringLiteral("Байконур")});
        EXPECT_TRUE(form->FormClose());
    }
    EXPECT_EQ(FileBytes(QStringLiteral("selection1.txt")),
              QStringLiteral("Электрики (elektriki)\r\n").toUtf8());
    // Both rows named Байконур were selected: each gives its line.
    EXPECT_EQ(FileBytes(QStringLiteral("selection2.txt")),
              QStringLiteral("Севастополь--\r\nБайконур\r\nБайконур\r\n").toUtf8());

    auto next = NewForm();
    Load(*next);
    EXPECT_EQ(Selected(next->CatsListBox), QStringList{QStringLiteral("Электрики (elektriki)")});
    EXPECT_EQ(Selected(next->CitiesListBox),
              (QStringList{QStringLiteral("Севастополь--"), QStringLiteral("Байконур"),
                           QStringLiteral("Байконур")}));
}

TEST_F(FormCloseTest, ListsWithRowsButNoSelectionWriteEmptyFiles) {
    ControlledSite site;
    PutFile(QStringLiteral("selection1.txt"), "Электрики (elektriki)\r\n");
    PutFile(QStringLiteral("selection2.txt"), "Байконур\r\n");
    auto form = NewForm();
    Load(*form);
    ASSERT_EQ(form->CatsListBox->selectedItems().size(), 1);
    form->CatsListBox->clearSelection();
    form->CitiesListBox->clearSelection();

    EXPECT_TRUE(form->FormClose());
    EXPECT_EQ(FileBytes(QStringLiteral("selection1.txt")), QByteArray());
    EXPECT_EQ(FileBytes(QStringLiteral("selection2.txt")), QByteArray());
}

TEST_F(FormCloseTest, ListsNeverFilledLeaveTheSavedFilesAlone) {
    PutFile(QStringLiteral("selection1.txt"), "Электрики (elektriki)\r\n");
    PutFile(QStringLiteral("selection2.txt"), "Байконур\r\n");
    {
        SCOPED_TRACE("closed before loading");
        auto form = NewForm();
        EXPECT_TRUE(form->FormClose());
    }
    {
        SCOPED_TRACE("loading failed");
        SiteAnswers answers;
        answers.professionals = {404, ""};
        ControlledSite site(answers);
        auto form = NewForm();
        Load(*form);
        ASSERT_EQ(form->CatsListBox->count(), 0);
        EXPECT_TRUE(form->FormClose());
    }
    EXPECT_EQ(FileBytes(QStringLiteral("selection1.txt")), "Электрики (elektriki)\r\n");
    EXPECT_EQ(FileBytes(QStringLiteral("selection2.txt")), "Байконур\r\n");
}

// Loading that ended before the saved selections were restored leaves the
// categories filled but unselected: that is not the user's choice, so the
// saved file stays, unless the user then selects rows.
TEST_F(FormCloseTest, AListWhoseSelectionWasNeverRestoredKeepsItsFile) {
    SiteAnswers answers;
    answers.cities = {404, ""};
    ControlledSite site(answers);
    PutFile(QStringLiteral("selection1.txt"), "Электрики (elektriki)\r\n");
    PutFile(QStringLiteral("selection2.txt"), "Байконур\r\n");
    auto form = NewForm();
    Load(*form);
    ASSERT_EQ(form->CatsListBox->count(), 2);

    EXPECT_TRUE(form->FormClose());
    EXPECT_EQ(FileBytes(QStringLiteral("selection1.txt")), "Электрики (elektriki)\r\n");
    EXPECT_EQ(FileBytes(QStringLiteral("selection2.txt")), "Байконур\r\n");

    Select(form->CatsListBox, {QStringLiteral("Сантехники (santehniki)")});
    EXPECT_TRUE(form->FormClose());
    EXPECT_EQ(FileBytes(QStringLiteral("selection1.txt")),
              QStringLiteral("Сантехники (santehniki)\r\n").toUtf8());
    EXPECT_EQ(FileBytes(QStringLiteral("selection2.txt")), "Байконур\r\n");
}

TEST_F(FormCloseTest, AFileThatCannotBeWrittenKeepsTheWindowOpen) {
    ControlledSite site;
    auto form = NewForm();
    Load(*form);
    Select(form->CatsListBox, {QStringLiteral("Сантехники (santehniki)")});
    Select(form->CitiesListBox, {QStringLiteral("Байконур")});
    const QByteArray categoriesLines = QStringLiteral("Сантехники (santehniki)\r\n").toUtf8();
    const QByteArray citiesLines = QStringLiteral("Байконур\r\nБайконур\r\n").toUtf8();
    {
        SCOPED_TRACE("cities file blocked: the categories file is not written either");
        PutFile(QStringLiteral("selection1.txt"), "old\r\n");
        PutFolder(QStringLiteral("selection2.txt"));

        EXPECT_FALSE(form->FormClose());
        EXPECT_EQ(FileBytes(QStringLiteral("selection1.txt")), "old\r\n");
        QMessageBox* box = OpenBox(*form);
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->text().contains(QStringLiteral("selection2.txt")))
            << box->text().toStdString();
        box->close();

        // Through the window's close: refused, so the window stays.
        EXPECT_FALSE(form->close());
        ASSERT_NE(OpenBox(*form), nullptr);
        OpenBox(*form)->close();
        ASSERT_TRUE(QDir(folder_.path()).rmdir(QStringLiteral("selection2.txt")));
    }
    {
        SCOPED_TRACE("categories file blocked: the cities file was written first");
        ASSERT_TRUE(QFile::remove(PathOf(QStringLiteral("selection1.txt"))));
        PutFolder(QStringLiteral("selection1.txt"));

        EXPECT_FALSE(form->FormClose());
        EXPECT_EQ(FileBytes(QStringLiteral("selection2.txt")), citiesLines);
        QMessageBox* box = OpenBox(*form);
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->text().contains(QStringLiteral("selection1.txt")))
            << box->text().toStdString();
        box->close();
        ASSERT_TRUE(QDir(folder_.path()).rmdir(QStringLiteral("selection1.txt")));
    }
    // With the way clear the window closes.
    EXPECT_TRUE(form->close());
    EXPECT_EQ(FileBytes(QStringLiteral("selection1.txt")), categoriesLines);
    EXPECT_EQ(FileBytes(QStringLiteral("selection2.txt")), citiesLines);
}

} // namespace
