#pragma once
// The lines of a log box.

#include <QPlainTextEdit>
#include <QString>
#include <QStringList>

inline QStringList LogLines(const QPlainTextEdit* log) {
    const QString text = log->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}
