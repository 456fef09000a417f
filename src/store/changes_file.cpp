#include "store/changes_file.h"

#include "core/platform.h"
#include "text/csv_row.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <stdexcept>

namespace {

void AppendField(QString& row, const QString& value) {
    row += QStringLiteral(";\"") + CsvFieldText(value) + QLatin1Char('"');
}

} // namespace

QString ChangesFileName(std::uint32_t tick) {
    return TickFileName("changes%d.csv", tick);
}

QString ChangesPathFor(const QString& resultPath) {
    const QFileInfo result(resultPath);
    QString name = result.fileName();
    if (name.startsWith(QLatin1String("data")))
        name.remove(0, 4);
    return result.dir().filePath(QStringLiteral("changes") + name);
}

QString ChangesHeader() {
    return CsvHeader() + QStringLiteral(";\"Статус\";\"Что изменилось\"");
}

QString FormatChangesRow(const ChangedCard& row) {
    QString line = FormatCsvRow(row.card);
    AppendField(line, StatusText(row.status));
    AppendField(line, ChangedColumnsText(row.changed));
    return line;
}

void WriteChangesFile(const QString& path, const std::vector<ChangedCard>& rows) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QSaveFile file(absolute);
    const auto fail = [&] {
        throw std::runtime_error(QStringLiteral("Cannot write to file \"%1\". %2")
                                     .arg(absolute, file.errorString())
                                     .toStdString());
    };
    if (!file.open(QIODevice::WriteOnly))
        fail();
    QByteArray bytes("\xEF\xBB\xBF");
    bytes += (ChangesHeader() + QStringLiteral("\r\n")).toUtf8();
    for (const ChangedCard& row : rows) {
        bytes += (FormatChangesRow(row) + QStringLiteral("\r\n")).toUtf8();
        if (bytes.size() >= (1 << 20)) {
            if (file.write(bytes) != bytes.size())
                fail();
            bytes.clear();
        }
    }
    if (file.write(bytes) != bytes.size() || !file.commit())
        fail();
}
