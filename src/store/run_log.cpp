#include "store/run_log.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>

QString SaveRunLog(const QString& text, const QString& path) {
    QByteArray bytes;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        bytes += line.toUtf8();
        bytes += "\r\n";
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        file.write(bytes) != bytes.size() || !file.flush()) {
        const QString reason = file.errorString();
        return reason.isEmpty() ? QStringLiteral("Unknown error") : reason;
    }
    return {};
}

QString RunLogError(const QString& path, const QString& reason) {
    return QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason);
}
