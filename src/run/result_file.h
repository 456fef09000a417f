#pragma once
// The result file: a UTF-8 CSV with a byte order mark, a header line and one
// row per card, every line ended by CR LF.

#include "run/card_extractor.h"

#include <QIODevice>
#include <QString>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

// The header line, without its line end.
QString CsvHeader();

// The rows of a result file's bytes: how many, the URL field of each (when
// `keepUrls`), how many rows have each column after the URL filled, and where
// the last complete line ends (`complete`: 0 when even the header is
// incomplete). `valid` is false when the bytes are not a result file's (a
// line cut short is only possible at the end).
struct ResultRows {
    bool valid = false;
    qint64 complete = 0;
    std::int64_t count = 0;
    std::vector<QString> urls; // only when asked for
    // Rows whose field is not empty, for the ten columns after the URL; the
    // telephone's field counts as empty when it holds only its space.
    std::array<std::int64_t, 10> filled{};
};
ResultRows ScanResultRows(QIODevice& device, bool keepUrls = true);

// A result file that cannot be continued: it cannot be opened, read or
// written, or it holds something this program did not write. The file is
// left exactly as it was; `reason` says why, for the log.
struct ContinueRefused : std::runtime_error {
    ContinueRefused(const QString& message, QString reason)
        : std::runtime_error(message.toStdString()), reason(std::move(reason)) {}
    QString reason;
};

// The name a new result file was to get is taken (by a file of another run,
// or of another copy of the program).
struct ResultFileExists : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The text of a field between its quotes, as the row holds it: the value
// through QuoteSafe, then through FormulaSafe. A continued run compares its
// card URLs with the file's URL fields through it.
QString CsvFieldText(const QString& value);

// One card as a row, without its line end: eleven quoted fields separated by
// ";", none after the last; every value through CsvFieldText, except the
// telephone: its field holds a space and the value through QuoteSafe (the
// space already keeps a "+7 ..." from being read as a formula).
QString FormatCsvRow(const CardRecord& card);

// The open result file. Every write goes to the file before it returns, so
// other programs may read the rows as they come and a stop or crash keeps
// every row written. Failures throw std::runtime_error with the system's
// reason.
class ResultFile {
public:
    ResultFile() = default;
    ~ResultFile();
    ResultFile(const ResultFile&) = delete;
    ResultFile& operator=(const ResultFile&) = delete;

    // Creates `path`, a new file, and writes the byte order mark and the
    // header line. Never touches an existing file: throws ResultFileExists
    // when the name is taken. Throws `Cannot create file "<absolute path>".
    // <reason>` when the file cannot be created, `Cannot write to file
    // "<absolute path>". <reason>` when the header cannot be written (the
    // file is closed again then).
    void Open(const QString& path);

    // Writes the card's row and its line end. A failed or incomplete write
    // throws `Cannot write to file "<absolute path>". <reason>`; the file is
    // then cut back to the rows written before, so it still ends with a
    // complete line, and stays open.
    void WriteCard(const CardRecord& card);

    // Opens the result file of an interrupted run to add rows after its own:
    // a torn last line is cut off first, and a missing file, or one cut off
    // inside its header, is made anew with its header. Returns its rows (the
    // URL fields, in order, and the filled columns). Throws ContinueRefused,
    // leaving the file as it was, when it cannot be opened for reading and
    // writing or holds something this program did not write; throws like
    // Open when a missing file cannot be made.
    ResultRows Continue(const QString& path);

    // Writes what is written so far to the disk (the data, not necessarily
    // the file's times).
    void Sync();

    // Closes the file; harmless when it is not open.
    void Close();

    bool IsOpen() const { return fd_ >= 0; }

    // The absolute path of the file last opened.
    const QString& Path() const { return path_; }

private:
    // Creates the file with `flags` added to O_RDWR | O_CREAT and writes its
    // head.
    void Create(const QString& path, int flags);
    void WriteAll(const QByteArray& bytes);

    int fd_ = -1;
    QString path_;
    std::int64_t size_ = 0; // bytes of complete lines written
};
