#pragma once
// A workbook read back by an independent reader: openpyxl (Debian's
// python3-openpyxl) through read_workbook.py beside this file, which prints
// it as JSON.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>

// The JSON of read_workbook.py; `error` says why there is none.
struct ReadBack {
    QJsonObject book;
    QString error;

    // The sheet of that name; empty when there is none.
    QJsonObject Sheet(const QString& name) const {
        for (const QJsonValue& sheet : book[QStringLiteral("sheets")].toArray()) {
            if (sheet[QStringLiteral("name")].toString() == name)
                return sheet.toObject();
        }
        return {};
    }
    QStringList SheetNames() const {
        QStringList names;
        for (const QJsonValue& sheet : book[QStringLiteral("sheets")].toArray())
            names << sheet[QStringLiteral("name")].toString();
        return names;
    }
};

inline ReadBack ReadWorkbookBack(const QString& path) {
    ReadBack back;
    QProcess reader;
    reader.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(WORKBOOK_READER), path});
    if (!reader.waitForFinished(60000) || reader.exitStatus() != QProcess::NormalExit ||
        reader.exitCode() != 0) {
        back.error = QStringLiteral("the reader failed (python3-openpyxl installed?): ") +
                     QString::fromUtf8(reader.readAllStandardError());
        return back;
    }
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(reader.readAllStandardOutput(), &parse);
    if (!doc.isObject())
        back.error = QStringLiteral("the reader's output is no JSON: ") + parse.errorString();
    back.book = doc.object();
    return back;
}

// The cell at `row`, `column` (from 0) of a sheet; null when the row is
// shorter or missing.
inline QJsonObject CellAt(const QJsonObject& sheet, int row, int column) {
    const QJsonArray rows = sheet[QStringLiteral("rows")].toArray();
    if (row >= rows.size())
        return {};
    const QJsonArray cells = rows[row].toArray();
    return column < cells.size() ? cells[column].toObject() : QJsonObject();
}

inline int RowCount(const QJsonObject& sheet) {
    return static_cast<int>(sheet[QStringLiteral("rows")].toArray().size());
}
