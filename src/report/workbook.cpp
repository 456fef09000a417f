#include "report/workbook.h"

#include "report/workbook_cells.h"
#include "store/changes_file.h"
#include "text/csv_row.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <xlsxwriter.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

constexpr int kWidestColumn = 45;   // characters; longer values run under the next column
constexpr int kFilterButton = 3;    // characters the header's filter button covers
constexpr double kChartWidth = 1.0; // of the default chart's size
constexpr double kChartHeight = 1.5;
const char* const kSummarySheet = "Сводка";

[[noreturn]] void Fail(const QString& reason) {
    throw std::runtime_error(reason.toStdString());
}

// Why a system call failed, in the user's words where the cause is a common
// one.
QString SystemReason(int code) {
    switch (code) {
    case EACCES:
    case EPERM:
    case EROFS:
        return QStringLiteral("запись запрещена");
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return QStringLiteral("на диске нет места");
    case ENOENT:
        return QStringLiteral("папки нет");
    default:
        return QString::fromLocal8Bit(std::strerror(code));
    }
}

void Check(lxw_error error) {
    if (error != LXW_NO_ERROR)
        Fail(QString::fromUtf8(lxw_strerror(error)));
}

template <typename T> T* Made(T* made) {
    if (made == nullptr)
        Fail(QString::fromUtf8(lxw_strerror(LXW_ERROR_MEMORY_MALLOC_FAILED)));
    return made;
}

// A new file beside `path`, removed again unless it replaces `path`.
class TemporaryBeside {
public:
    explicit TemporaryBeside(const QString& path) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QString name =
                QStringLiteral("%1.%2.tmp")
                    .arg(path)
                    .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
            const QByteArray native = QFile::encodeName(name);
            const int fd =
                ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::close(fd);
                native_ = native;
                return;
            }
            if (errno != EEXIST)
                Fail(SystemReason(errno));
        }
        Fail(SystemReason(EEXIST));
    }
    ~TemporaryBeside() {
        if (!native_.isEmpty())
            ::unlink(native_.constData());
    }
    TemporaryBeside(const TemporaryBeside&) = delete;
    TemporaryBeside& operator=(const TemporaryBeside&) = delete;

    const char* Native() const { return native_.constData(); }

    // On the disk, then in place of `path`, and the folder's entry on the
    // disk too.
    void Replace(const QString& path) {
        const int fd = ::open(native_.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::fsync(fd) != 0) {
            const int code = errno;
            if (fd >= 0)
                ::close(fd);
            Fail(SystemReason(code));
        }
        ::close(fd);
        if (::rename(native_.constData(), QFile::encodeName(path).constData()) != 0)
            Fail(SystemReason(errno));
        native_.clear();
        const int folder = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                                  O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            ::fsync(folder);
            ::close(folder);
        }
    }

private:
    QByteArray native_;
};

struct WorkbookFree {
    void operator()(lxw_workbook* book) const { lxw_workbook_free(book); }
};
using WorkbookPtr = std::unique_ptr<lxw_workbook, WorkbookFree>;

// The workbook being written and the formats its sheets share.
struct Book {
    WorkbookPtr book;
    lxw_format* bold = nullptr;
    lxw_format* indented = nullptr;
    lxw_format* dateTime = nullptr;
    lxw_format* percent = nullptr;

    lxw_worksheet* AddSheet(const QString& name) {
        return Made(workbook_add_worksheet(book.get(), name.toUtf8().constData()));
    }
};

void WriteText(lxw_worksheet* sheet, lxw_row_t row, lxw_col_t col, const QString& text,
               lxw_format* format = nullptr) {
    Check(worksheet_write_string(sheet, row, col, CellText(text).toUtf8().constData(), format));
}

// The names of a header line's quoted fields.
QStringList HeaderNames(const QString& header) {
    QStringList names = header.split(QLatin1Char(';'));
    for (QString& name : names)
        name = name.mid(1, name.size() - 2);
    return names;
}

// The rows of one file on sheets named `name`, `name 2`, ...: the header in
// bold, frozen and filtered, each value in its column's typing, widths that
// fit the values.
class TableSheets {
public:
    TableSheets(Book& book, QString name, QStringList header, const WorkbookLimits& limits)
        : book_(book), name_(std::move(name)), header_(std::move(header)), limits_(limits) {}

    void Row(const std::vector<QString>& fields) {
        if (sheet_ == nullptr || rows_ == limits_.rowsPerSheet) {
            EndSheet();
            NewSheet();
        }
        ++rows_;
        const auto row = static_cast<lxw_row_t>(rows_);
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i].isEmpty())
                continue;
            const auto col = static_cast<lxw_col_t>(i);
            const WorkbookCell cell = CardCell(static_cast<int>(i), fields[i]);
            Widen(i, cell.kind == WorkbookCell::Kind::Number ? fields[i] : cell.text);
            switch (cell.kind) {
            case WorkbookCell::Kind::Number:
                Check(worksheet_write_number(sheet_, row, col, cell.number, nullptr));
                break;
            case WorkbookCell::Kind::Link:
                if (links_ < limits_.linksPerSheet) {
                    ++links_;
                    Check(worksheet_write_url_opt(sheet_, row, col,
                                                  cell.target.toUtf8().constData(), nullptr,
                                                  cell.text.toUtf8().constData(), nullptr));
                    break;
                }
                [[fallthrough]];
            case WorkbookCell::Kind::Text:
                Check(worksheet_write_string(sheet_, row, col, cell.text.toUtf8().constData(),
                                             nullptr));
                break;
            }
        }
    }

    // The last sheet's filter and widths; a file without rows still gets
    // its sheet with the header.
    void Finish() {
        if (sheet_ == nullptr)
            NewSheet();
        EndSheet();
    }

private:
    void NewSheet() {
        ++sheets_;
        sheet_ =
            book_.AddSheet(sheets_ == 1 ? name_ : QStringLiteral("%1 %2").arg(name_).arg(sheets_));
        rows_ = 0;
        links_ = 0;
        widths_.assign(static_cast<std::size_t>(header_.size()), 0);
        for (qsizetype i = 0; i < header_.size(); ++i) {
            WriteText(sheet_, 0, static_cast<lxw_col_t>(i), header_[i], book_.bold);
            Widen(static_cast<std::size_t>(i), header_[i] + QString(kFilterButton, u' '));
        }
        worksheet_freeze_panes(sheet_, 1, 0);
    }

    void EndSheet() {
        if (sheet_ == nullptr)
            return;
        const auto lastCol = static_cast<lxw_col_t>(header_.size() - 1);
        Check(worksheet_autofilter(sheet_, 0, 0, static_cast<lxw_row_t>(rows_), lastCol));
        for (std::size_t i = 0; i < widths_.size(); ++i) {
            const auto col = static_cast<lxw_col_t>(i);
            Check(worksheet_set_column(sheet_, col, col, widths_[i] + 2, nullptr));
        }
    }

    // Wide enough for the longest line seen in the column, up to a limit.
    void Widen(std::size_t column, const QString& text) {
        qsizetype longest = 0;
        for (const QStringView line : QStringView(text).split(QLatin1Char('\n')))
            longest = std::max(longest, line.size());
        const int width = static_cast<int>(std::min<qsizetype>(longest, kWidestColumn));
        widths_[column] = std::max(widths_[column], width);
    }

    Book& book_;
    QString name_;
    QStringList header_;
    WorkbookLimits limits_;
    lxw_worksheet* sheet_ = nullptr;
    int sheets_ = 0;
    std::int64_t rows_ = 0;
    std::int64_t links_ = 0;
    std::vector<int> widths_;
};

// The rows of the file at `path`, framed as `header` says, onto sheets
// named `name`.
void WriteTable(Book& book, const QString& name, const QString& path, const QString& header,
                const WorkbookLimits& limits) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        Fail(QStringLiteral("файл %1 не читается: %2").arg(path, file.errorString()));
    const QStringList names = HeaderNames(header);
    TableSheets sheets(book, name, names, limits);
    const bool valid =
        ReadQuotedRows(file, header, static_cast<int>(names.size()),
                       [&sheets](std::vector<QString>&& fields) { sheets.Row(fields); });
    if (!valid)
        Fail(QStringLiteral("файл %1 записан не этой программой").arg(path));
    if (file.error() != QFileDevice::NoError)
        Fail(QStringLiteral("файл %1 не читается: %2").arg(path, file.errorString()));
    sheets.Finish();
}

// "Сводка": label and value rows, top to bottom (a constant-memory sheet is
// written in row order).
class SummarySheet {
public:
    explicit SummarySheet(Book& book)
        : book_(book), sheet_(book.AddSheet(QString::fromUtf8(kSummarySheet))) {
        Check(worksheet_set_column(sheet_, 0, 0, 28, nullptr));
        Check(worksheet_set_column(sheet_, 1, 1, 20, nullptr));
    }

    lxw_worksheet* Sheet() const { return sheet_; }
    lxw_row_t Row() const { return row_; }

    void Text(const QString& label, const QString& value, lxw_format* labelFormat = nullptr) {
        if (!label.isEmpty())
            WriteText(sheet_, row_, 0, label, labelFormat);
        if (!value.isEmpty())
            WriteText(sheet_, row_, 1, value);
        ++row_;
    }
    void Number(const QString& label, double value, lxw_format* labelFormat = nullptr,
                lxw_format* valueFormat = nullptr) {
        WriteText(sheet_, row_, 0, label, labelFormat);
        Check(worksheet_write_number(sheet_, row_, 1, value, valueFormat));
        ++row_;
    }
    void Date(const QString& label, const QDateTime& when) {
        WriteText(sheet_, row_, 0, label);
        if (when.isValid()) {
            const QDateTime local = when.toLocalTime();
            lxw_datetime value{local.date().year(),   local.date().month(),
                               local.date().day(),    local.time().hour(),
                               local.time().minute(), static_cast<double>(local.time().second())};
            Check(worksheet_write_datetime(sheet_, row_, 1, &value, book_.dateTime));
        }
        ++row_;
    }
    void Blank() { ++row_; }

private:
    Book& book_;
    lxw_worksheet* sheet_;
    lxw_row_t row_ = 0;
};

// A bar chart of the filled shares in rows `first` to `last` of "Сводка".
void AddFilledChart(Book& book, lxw_worksheet* sheet, lxw_row_t first, lxw_row_t last) {
    lxw_chart* chart = Made(workbook_add_chart(book.book.get(), LXW_CHART_BAR));
    lxw_chart_series* series = Made(chart_add_series(chart, nullptr, nullptr));
    chart_series_set_categories(series, kSummarySheet, first, 0, last, 0);
    // A constant-memory book cannot read the cells back for the chart's
    // cache, and without it the library would refer to the column names as
    // numbers; they are text.
    series->categories->has_string_cache = LXW_TRUE;
    chart_series_set_values(series, kSummarySheet, first, 1, last, 1);
    chart_series_set_labels(series);
    chart_series_set_labels_num_format(series, "0%");
    chart_title_set_name(chart, "Заполнено");
    chart_legend_set_position(chart, LXW_CHART_LEGEND_NONE);
    // A bar chart's x axis holds the values, along the bottom; its y axis
    // the columns, reversed so that the first is on top, as in the table.
    chart_axis_set_min(chart->x_axis, 0);
    chart_axis_set_max(chart->x_axis, 1);
    chart_axis_set_num_format(chart->x_axis, "0%");
    chart_axis_set_major_unit(chart->x_axis, 0.2);
    chart_axis_set_reverse(chart->y_axis);
    lxw_chart_options options{};
    options.x_scale = kChartWidth;
    options.y_scale = kChartHeight;
    Check(worksheet_insert_chart_opt(sheet, 0, 2, chart, &options)); // beside the figures
}

void WriteSummary(Book& book, const WorkbookFacts& facts) {
    SummarySheet s(book);
    const RunSummary& summary = facts.summary;
    s.Date(QStringLiteral("Начало"), facts.started);
    s.Date(QStringLiteral("Конец"), facts.ended);
    s.Text(QStringLiteral("Сайт"), facts.webHost);
    s.Text(QStringLiteral("API сайта"), facts.apiHost);
    s.Blank();
    s.Number(QStringLiteral("Найдено карточек"), static_cast<double>(facts.found));
    s.Number(QStringLiteral("Записано строк"), static_cast<double>(summary.Rows()));
    s.Number(QStringLiteral("Не скачано"), static_cast<double>(summary.Failed()));
    s.Number(QStringLiteral("404"), static_cast<double>(summary.NotFound()), book.indented);
    s.Number(QStringLiteral("другие ответы с ошибкой"), static_cast<double>(summary.ErrorStatus()),
             book.indented);
    s.Number(QStringLiteral("пустые ответы"), static_cast<double>(summary.EmptyBody()),
             book.indented);
    s.Number(QStringLiteral("сбои связи"), static_cast<double>(summary.NoAnswer()), book.indented);
    s.Number(QStringLiteral("Не загружено страниц списка"),
             static_cast<double>(summary.LostPages()));
    if (facts.comparison) {
        const RunComparison& c = *facts.comparison;
        s.Blank();
        s.Date(QStringLiteral("Сравнение со сбором от"), facts.comparedWith);
        s.Number(QStringLiteral("Новых"), static_cast<double>(c.fresh), book.indented);
        s.Number(QStringLiteral("Изменилось"), static_cast<double>(c.changed), book.indented);
        s.Number(QStringLiteral("Без изменений"), static_cast<double>(c.unchanged), book.indented);
        if (c.goneCounted)
            s.Number(QStringLiteral("Пропало"), static_cast<double>(c.gone), book.indented);
        else
            s.Text(QStringLiteral("Пропало"), QStringLiteral("не считаем: сбор неполный"),
                   book.indented);
    }
    if (summary.Rows() > 0) {
        s.Blank();
        WriteText(s.Sheet(), s.Row(), 0, QStringLiteral("Столбец"), book.bold);
        WriteText(s.Sheet(), s.Row(), 1, QStringLiteral("Заполнено"), book.bold);
        s.Blank();
        const lxw_row_t first = s.Row();
        for (int i = 0; i < kSummaryColumns; ++i)
            s.Number(ColumnNames()[static_cast<std::size_t>(i)], summary.FilledPercent(i) / 100.0,
                     nullptr, book.percent);
        AddFilledChart(book, s.Sheet(), first, s.Row() - 1);
    }
    // The selection last, a row each: it may be long.
    for (const auto& [label, rows] :
         {std::pair{QStringLiteral("Категории"), &facts.categories},
          std::pair{QStringLiteral("Города и регионы"), &facts.cities}}) {
        s.Blank();
        for (qsizetype i = 0; i < rows->size(); ++i)
            s.Text(i == 0 ? label : QString(), rows->at(i));
    }
}

} // namespace

QString WorkbookPathFor(const QString& resultPath) {
    QString path = resultPath;
    if (path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
        path.chop(4);
    return path + QStringLiteral(".xlsx");
}

void WriteWorkbook(const QString& path, const QString& resultPath, const QString& changesPath,
                   const WorkbookFacts& facts, const WorkbookLimits& limits) {
    TemporaryBeside temporary(path);
    // libxlsxwriter keeps each sheet's rows in a temporary file until it
    // closes the book: beside the workbook, on the disk it is written to,
    // rather than in a memory-backed /tmp.
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = const_cast<char*>(folder.constData());
    Book book;
    book.book.reset(Made(workbook_new_opt(temporary.Native(), &options)));
    book.bold = Made(workbook_add_format(book.book.get()));
    format_set_bold(book.bold);
    book.indented = Made(workbook_add_format(book.book.get()));
    format_set_indent(book.indented, 1);
    book.dateTime = Made(workbook_add_format(book.book.get()));
    format_set_num_format(book.dateTime, "dd.mm.yyyy hh:mm:ss");
    book.percent = Made(workbook_add_format(book.book.get()));
    format_set_num_format(book.percent, "0%");

    WriteTable(book, QStringLiteral("Карточки"), resultPath, CsvHeader(), limits);
    WriteSummary(book, facts);
    if (!changesPath.isEmpty())
        WriteTable(book, QStringLiteral("Изменения"), changesPath, ChangesHeader(), limits);

    // The file is written now; the book is freed whatever the outcome.
    errno = 0;
    const lxw_error closed = workbook_close(book.book.release());
    if (closed != LXW_NO_ERROR) {
        const int code = errno;
        if (code == ENOSPC || code == EDQUOT || code == EFBIG || code == EACCES || code == EROFS)
            Fail(SystemReason(code));
        Fail(QString::fromUtf8(lxw_strerror(closed)));
    }
    temporary.Replace(path);
}
