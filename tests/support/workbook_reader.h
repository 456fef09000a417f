#pragma once
// A workbook read back by an independent reader: openpyxl through
// read_workbook.py beside this file, which prints it as JSON.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include "support/child_process.h"

struct ReadBack {
    QJsonArray sheets;
    QString error; // why there is nothing to look at

    QStringList SheetNames() const {
        QStringList names;
        for (const QJsonValue& sheet : sheets)
            names << sheet[QStringLiteral("name")].toString();
        return names;
    }
    QJsonObject Sheet(const QString& name) const {
        return sheets[SheetNames().indexOf(name)].toObject();
    }
};

inline ReadBack ReadWorkbookBack(const QString& path) {
    // The reader's own errors go to the test's standard error.
    const ChildRun reader =
        RunChild({"/usr/bin/python3", WORKBOOK_READER, path.toStdString()}, 60000);
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(reader.out));
    if (reader.exitCode != 0 || !doc.isObject())
        return {{}, QStringLiteral("no reading (is python3-openpyxl installed?)")};
    return {doc[QStringLiteral("sheets")].toArray(), {}};
}

// The cell at `row`, `column` (from 0), empty past the sheet's cells; the
// number of rows.
inline QJsonObject CellAt(const QJsonObject& sheet, int row, int column) {
    return sheet[QStringLiteral("rows")][row][column].toObject();
}
inline int RowCount(const QJsonObject& sheet) {
    return static_cast<int>(sheet[QStringLiteral("rows")].toArray().size());
}
