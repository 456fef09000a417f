#include "run/log_output.h"

#include "core/config.h"

#include <QPlainTextEdit>

#include <cstdio>

void AppendLogLine(QPlainTextEdit* log, const QString& line) {
    log->appendPlainText(line);
    if (Config().Batch) {
        const QByteArray utf8 = line.toUtf8() + '\n';
        std::fwrite(utf8.constData(), 1, static_cast<std::size_t>(utf8.size()), stdout);
        std::fflush(stdout);
    }
}
