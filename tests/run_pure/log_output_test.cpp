// Batch mode: every log line lands in the hidden window's document (the run
// log file is written from it), and none is laid out for the window but the
// first, which Qt lays out in an empty document anyway.
#include "run/log_output.h"

#include "core/config.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextLayout>

#include <gtest/gtest.h>

TEST(LogOutput, BatchLinesGoIntoTheDocumentWithoutLayout) {
    const bool batch = std::exchange(Config().Batch, true);
    QPlainTextEdit log;
    QStringList lines;
    for (int i = 0; i < 50; ++i)
        AppendLogLine(&log, lines.emplace_back(QStringLiteral("строка %1").arg(i)));
    Config().Batch = batch;
    EXPECT_EQ(log.toPlainText(), lines.join(u'\n'));
    int laidOut = 0;
    for (QTextBlock block = log.document()->firstBlock(); block.isValid(); block = block.next())
        laidOut += block.layout()->lineCount() > 0 ? 1 : 0;
    EXPECT_LE(laidOut, 1);
}
