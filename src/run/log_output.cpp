#include "run/log_output.h"

#include "core/config.h"
#include "run/batch_progress.h"

#include <QAbstractTextDocumentLayout>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextDocument>

#include <cstdio>

void AppendLogLine(QPlainTextEdit* log, const QString& line) {
    if (!Config().Batch) {
        log->appendPlainText(line);
        return;
    }
    {
        // The window is never shown: the line goes into the document (the
        // run log file is written from it), but the document's layout tells
        // the widget nothing, which would otherwise lay out and shape every
        // line for its scroll bars and repaints.
        const QSignalBlocker quiet(log->document()->documentLayout());
        log->appendPlainText(line);
    }
    const QByteArray utf8 = line.toUtf8() + '\n';
    // A live status line on the same screen steps aside for the line.
    BatchStatus().BeforeLogLine();
    std::fwrite(utf8.constData(), 1, static_cast<std::size_t>(utf8.size()), stdout);
    std::fflush(stdout);
    BatchStatus().AfterLogLine();
}
