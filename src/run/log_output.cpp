#include "run/log_output.h"

#include "core/config.h"
#include "run/batch_progress.h"

#include <QPlainTextEdit>

#include <cstdio>

void AppendLogLine(QPlainTextEdit* log, const QString& line) {
    log->appendPlainText(line);
    if (Config().Batch) {
        const QByteArray utf8 = line.toUtf8() + '\n';
        // A live status line on the same screen steps aside for the line.
        BatchStatus().BeforeLogLine();
        std::fwrite(utf8.constData(), 1, static_cast<std::size_t>(utf8.size()), stdout);
        std::fflush(stdout);
        BatchStatus().AfterLogLine();
    }
}
