#include "ui/workbook_choice.h"

#include "ui/selection_files.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringList>

#include <stdexcept>

namespace {
const QString kKey = QStringLiteral("xlsx=");
} // namespace

QString OptionsFileName() {
    return QStringLiteral("options.txt");
}

bool WorkbookWanted(const QByteArray& contents) {
    bool wanted = false;
    for (const QString& line : DecodeSelectionLines(contents)) {
        if (line.startsWith(kKey))
            wanted = line.mid(kKey.size()).trimmed() == QLatin1String("1");
    }
    return wanted;
}

QByteArray WorkbookOptionText(bool wanted) {
    return EncodeSelectionLines({kKey + (wanted ? QStringLiteral("1") : QStringLiteral("0"))});
}

bool ReadWorkbookChoice(const QString& folder) {
    QFile file(QDir(folder).filePath(OptionsFileName()));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return WorkbookWanted(file.readAll());
}

void SaveWorkbookChoice(const QString& folder, bool wanted) {
    const QString path = QDir(folder).filePath(OptionsFileName());
    // As the selection files: a temporary file renamed over the old one, so
    // a failed write keeps the choice saved before.
    QSaveFile file(path);
    const QByteArray bytes = WorkbookOptionText(wanted);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
        file.write(bytes) != bytes.size() || !file.commit())
        throw std::runtime_error(
            QStringLiteral("%1: %2").arg(path, file.errorString()).toStdString());
}
