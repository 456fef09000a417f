#include "ui/selection_files.h"

#include "core/platform.h"

#include <QFile>
#include <QItemSelection>
#include <QListWidget>
#include <QSaveFile>
#include <QSet>
#include <QStringDecoder>

#include <stdexcept>

QByteArray EncodeSelectionLines(const QStringList& lines) {
    QByteArray out;
    for (const QString& line : lines) {
        out += line.toUtf8();
        out += "\r\n";
    }
    return out;
}

QStringList DecodeSelectionLines(const QByteArray& contents) {
    QString text;
    if (contents.startsWith("\xEF\xBB\xBF")) {
        text = QString::fromUtf8(contents.mid(3));
    } else if (contents.startsWith("\xFF\xFE")) {
        QStringDecoder decoder(QStringDecoder::Utf16LE);
        text = decoder.decode(contents.mid(2));
    } else if (contents.startsWith("\xFE\xFF")) {
        QStringDecoder decoder(QStringDecoder::Utf16BE);
        text = decoder.decode(contents.mid(2));
    } else {
        text = QString::fromUtf8(contents);
    }

    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        lines.append(text.mid(start, i - start));
        if (c == QLatin1Char('\r') && i + 1 < n && text[i + 1] == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}

void SaveSelection(const QListWidget& list, const QString& fileName) {
    if (list.count() == 0)
        return;
    QStringList lines;
    for (int i = 0; i < list.count(); ++i) {
        if (list.item(i)->isSelected())
            lines.append(list.item(i)->text());
    }
    const QString path = ProgramFolder() + fileName;
    // The text goes to a temporary file beside the old one, which is replaced
    // only once the whole text is on disk: a failed write keeps the selection
    // saved before.
    // Unbuffered, so that a short write shows at once (a buffered one can be
    // cut short unnoticed).
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw std::runtime_error(QStringLiteral("Cannot create file \"%1\". %2")
                                     .arg(path, file.errorString())
                                     .toStdString());
    const QByteArray bytes = EncodeSelectionLines(lines);
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw std::runtime_error(QStringLiteral("Cannot write file \"%1\". %2")
                                     .arg(path, file.errorString())
                                     .toStdString());
}

QStringList ReadSelectionFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(QStringLiteral("Cannot open file \"%1\". %2")
                                     .arg(path, file.errorString())
                                     .toStdString());
    const QByteArray contents = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw std::runtime_error(QStringLiteral("Cannot read file \"%1\". %2")
                                     .arg(path, file.errorString())
                                     .toStdString());
    return DecodeSelectionLines(contents);
}

QList<bool> SelectedByLines(const QStringList& rows, const QStringList& lines) {
    QSet<QString> wanted;
    for (const QString& line : lines)
        wanted.insert(line.toCaseFolded());
    QList<bool> selected;
    selected.reserve(rows.size());
    for (const QString& row : rows)
        selected << wanted.contains(row.toCaseFolded());
    return selected;
}

void RestoreSelection(QListWidget& list, const QStringList& lines) {
    QStringList rows;
    for (int i = 0; i < list.count(); ++i)
        rows << list.item(i)->text();
    const QList<bool> selected = SelectedByLines(rows, lines);
    // One selection change for the whole list, not one per row.
    QItemSelection selection;
    for (int i = 0; i < list.count(); ++i) {
        if (selected[i]) {
            const QModelIndex index = list.model()->index(i, 0);
            selection.select(index, index);
        }
    }
    list.selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}
