// The window's log in batch mode: every line lands in the document the run
// log file is written from, and the lines are not laid out for a window
// nobody sees (Qt lays out the first line of an empty document anyway).
#include "run/log_output.h"

#include "core/config.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextLayout>

#include <gtest/gtest.h>

TEST(LogOutput, BatchLinesGoIntoTheDocumentWithoutLayout) {
    const bool batch = Config().Batch;
    Config().Batch = true;
    QPlainTextEdit log;
    log.setLineWrapMode(QPlainTextEdit::NoWrap);
    QStringList lines;
    for (int i = 0; i < 50; ++i) {
        lines.append(QStringLiteral("строка %1: ok").arg(i));
        AppendLogLine(&log, lines.back());
    }
    Config().Batch = batch;

    EXPECT_EQ(log.toPlainText(), lines.join(u'\n'));
    int laidOut = 0;
    for (QTextBlock block = log.document()->firstBlock(); block.isValid(); block = block.next())
        laidOut += block.layout()->lineCount() > 0 ? 1 : 0;
    EXPECT_LE(laidOut, 1);
}
