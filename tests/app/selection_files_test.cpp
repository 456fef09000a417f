#include "core/platform.h"
#include "ui/selection_files.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>

#include <stdexcept>

namespace {

QStringList Selected(const QListWidget& list) {
    QStringList rows;
    for (int i = 0; i < list.count(); ++i) {
        if (list.item(i)->isSelected())
            rows << list.item(i)->text();
    }
    return rows;
}

class SelectionFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        SetProgramFolder(dir_.path());
        list_.setSelectionMode(QAbstractItemView::ExtendedSelection);
        list_.addItems({QStringLiteral("Москва"), QStringLiteral("Санкт-Петербург--Ленинградская"),
                        QStringLiteral("Казань--"), QStringLiteral("Москва"),
                        QStringLiteral("Tver ")});
    }
    void TearDown() override { SetProgramFolder(QString()); }
    QByteArray read(const QString& name) {
        QFile f(dir_.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir dir_;
    QListWidget list_;
};

TEST_F(SelectionFilesTest, SavedLinesAreSelectedRowsInOrderWithCrLf) {
    list_.item(2)->setSelected(true);
    list_.item(0)->setSelected(true);
    SaveSelection(list_, QStringLiteral("selection2.txt"));
    EXPECT_EQ(read(QStringLiteral("selection2.txt")),
              QByteArray("\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0\r\n"
                         "\xD0\x9A\xD0\xB0\xD0\xB7\xD0\xB0\xD0\xBD\xD1\x8C--\r\n"));
}

TEST_F(SelectionFilesTest, NoSelectedRowWritesAnEmptyFileButAnEmptyListKeepsTheOldOne) {
    QFile old(dir_.filePath(QStringLiteral("selection1.txt")));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("saved\r\n");
    old.close();

    QListWidget never_filled;
    SaveSelection(never_filled, QStringLiteral("selection1.txt"));
    EXPECT_EQ(read(QStringLiteral("selection1.txt")), QByteArray("saved\r\n"));

    SaveSelection(list_, QStringLiteral("selection1.txt"));
    EXPECT_EQ(read(QStringLiteral("selection1.txt")), QByteArray());
}

TEST_F(SelectionFilesTest, AnUnwritableFileRaisesWithItsPath) {
    QDir(dir_.path()).mkdir(QStringLiteral("selection2.txt")); // a folder in the way
    list_.item(0)->setSelected(true);
    try {
        SaveSelection(list_, QStringLiteral("selection2.txt"));
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QStringLiteral("selection2.txt")));
    }
}

// A write that fails half-way (a file size limit plays the full disk) keeps
// the selection saved before, and leaves no temporary file behind.
TEST_F(SelectionFilesTest, AFailedWriteKeepsTheOldFile) {
    QFile old(dir_.filePath(QStringLiteral("selection2.txt")));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("saved\r\n");
    old.close();
    list_.selectAll();

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool raised = false;
    try {
        SaveSelection(list_, QStringLiteral("selection2.txt"));
    } catch (const std::runtime_error&) {
        raised = true;
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(raised);
    EXPECT_EQ(read(QStringLiteral("selection2.txt")), QByteArray("saved\r\n"));
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), QStringList{"selection2.txt"});
}

TEST_F(SelectionFilesTest, RestoreIgnoresLetterCaseButNotBlanks) {
    list_.item(4)->setSelected(true); // cleared by the restore
    RestoreSelection(list_, {QStringLiteral("МОСКВА"), QStringLiteral("tver"),
                             QStringLiteral("казань--"), QStringLiteral("Нет такого")});
    // Both rows named Москва are selected; "Tver " keeps its trailing blank.
    EXPECT_EQ(Selected(list_), (QStringList{QStringLiteral("Москва"), QStringLiteral("Казань--"),
                                            QStringLiteral("Москва")}));
}

TEST(SelectionFileDecoding, ByteOrderMarksPickTheEncoding) {
    const QStringList expected{QStringLiteral("Москва"), QStringLiteral("Казань")};
    const QString text = QStringLiteral("Москва\r\nКазань\r\n");
    EXPECT_EQ(DecodeSelectionLines(QByteArray("\xEF\xBB\xBF") + text.toUtf8()), expected);
    QStringEncoder le(QStringEncoder::Utf16LE);
    QStringEncoder be(QStringEncoder::Utf16BE);
    EXPECT_EQ(DecodeSelectionLines(QByteArray("\xFF\xFE") + QByteArray(le.encode(text))), expected);
    EXPECT_EQ(DecodeSelectionLines(QByteArray("\xFE\xFF") + QByteArray(be.encode(text))), expected);
    EXPECT_EQ(DecodeSelectionLines(text.toUtf8()), expected);
}

TEST(SelectionFileDecoding, LinesBreakAtCrLfLoneLfAndLoneCr) {
    EXPECT_EQ(DecodeSelectionLines("a\r\nb\nc\rd"),
              (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                           QStringLiteral("d")}));
    EXPECT_EQ(DecodeSelectionLines("a\r\n\r\nb\r\n"),
              (QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")}));
    EXPECT_EQ(DecodeSelectionLines("a\r"), QStringList{QStringLiteral("a")});
    EXPECT_TRUE(DecodeSelectionLines("").isEmpty());
    EXPECT_EQ(DecodeSelectionLines(EncodeSelectionLines({QStringLiteral(" x "), QString()})),
              (QStringList{QStringLiteral(" x "), QString()}));
}

} // namespace
