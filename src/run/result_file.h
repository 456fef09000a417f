#pragma once
// The result file: a UTF-8 CSV with a byte order mark, a header line and one
// row per card, every line ended by CR LF.

#include "run/card_extractor.h"
#include "text/csv_row.h"

#include <QIODevice>
#include <QString>

#include <cstdint>
#include <vector>

// "data%d.csv" with the tick as a signed 32-bit number.
QString ResultFileName(std::uint32_t tick);

// The rows of a result file's bytes: how many, the URL field of each (when
// `keepUrls`), and where the last complete line ends (`complete`: 0 when even
// the header is incomplete). `valid` is false when the bytes are not a result
// file's (a line cut short is only possible at the end).
struct ResultRows {
    bool valid = false;
    qint64 complete = 0;
    std::int64_t count = 0;
    std::vector<QString> urls; // only when asked for
};
ResultRows ScanResultRows(QIODevice& device, bool keepUrls = true);

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

    // Creates `path` (or cuts an existing file to length 0) and writes the byte
    // order mark and the header line. Throws `Cannot create file "<absolute
    // path>". <reason>` when the file cannot be created, `Cannot write to
    // file "<absolute path>". <reason>` when the header cannot be written (the
    // file is closed again then).
    void Open(const QString& path);

    // Writes the card's row and its line end. A failed or incomplete write
    // throws `Cannot write to file "<absolute path>". <reason>`; the file is
    // then cut back to the rows written before, so it still ends with a
    // complete line, and stays open.
    void WriteCard(const CardRecord& card);

    // Opens the result file of an interrupted run to add rows after its own:
    // a torn last line is cut off first, and a missing file, or one cut off
    // inside its header, is made anew with its header. Returns the URL
    // fields of its rows, in order. Throws like Open, and `Cannot continue
    // file "<absolute path>": it is not a result file` when it holds
    // something this program did not write.
    std::vector<QString> Continue(const QString& path);

    // Writes what is written so far to the disk (the data, not necessarily
    // the file's times).
    void Sync();

    // Closes the file; harmless when it is not open.
    void Close();

    bool IsOpen() const { return fd_ >= 0; }

    // The absolute path of the file last opened.
    const QString& Path() const { return path_; }

private:
    void WriteAll(const QByteArray& bytes);

    int fd_ = -1;
    QString path_;
    std::int64_t size_ = 0; // bytes of complete lines written
};
