#include "ui/main_form.h"

#include "core/config.h"
#include "core/platform.h"
#include "ui/selection_files.h"
#include "ui/startup_checks.h"
#include "ui/window_view.h"
#include "ui/workbook_choice.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {
constexpr int kCloseWaitMs = 10000;
constexpr int kDesignWidth = 1097;
constexpr int kDesignHeight = 786;
constexpr int kProgressHeight = 17;
} // namespace

QString WindowCaption(const QString& webHost) {
    QString host = webHost;
    if (!host.isEmpty())
        host[0] = host[0].toUpper();
    return QStringLiteral("Парсер сайта ") + host;
}

TMainForm::TMainForm(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(WindowCaption(Config().WebHost));
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    resize(kDesignWidth, kDesignHeight);

    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    ProgressBar->setStyleSheet(
        QStringLiteral("QProgressBar { border: 1px solid #a0a0a0; background: #f0f0f0; }"
                       "QProgressBar::chunk { background: qlineargradient(x1:0, y1:0, x2:1, y2:0,"
                       " stop:0 #00a000, stop:1 #90ee90); }"));

    auto makeLabel = [this](const char* name, const QString& text, QPoint at, int anchors) {
        auto* label = new QLabel(text, this);
        label->setObjectName(QLatin1String(name));
        label->adjustSize();
        place(label, QRect(at, label->sizeHint()), anchors);
        return label;
    };
    Label2 = makeLabel("Label2", QStringLiteral("Логи"), {271, 51}, Left | Top);
    // Kept above the cities list, which moves with the bottom edge.
    Label1 = makeLabel("Label1", QStringLiteral("Города/Регионы"), {12, 369}, Left | Bottom);
    Label4 = makeLabel("Label4", QStringLiteral("Найдено карточек: 0"), {618, 8}, Left | Top);
    place(Label4, QRect(618, 6, 250, 16), Left | Top);
    Label3 = makeLabel("Label3", QStringLiteral("Категории"), {12, 8}, Left | Top);

    LogsMemo = new QPlainTextEdit(this);
    LogsMemo->setObjectName(QStringLiteral("LogsMemo"));
    LogsMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    LogsMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    LogsMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    LogsMemo->installEventFilter(this);
    place(LogsMemo, QRect(271, 70, 818, 693), Left | Top | Right | Bottom);

    StartButton = new QPushButton(QStringLiteral("СТАРТ"), this);
    StartButton->setObjectName(QStringLiteral("StartButton"));
    StartButton->setFont(QFont(QStringLiteral("Tahoma"), 14));
    place(StartButton, QRect(313, 8, 265, 37), Left | Top);

    StopButton = new QPushButton(QStringLiteral("стоп"), this);
    StopButton->setObjectName(QStringLiteral("StopButton"));
    place(StopButton, QRect(699, 24, 75, 18), Left | Top);

    PauseButton = new QPushButton(QStringLiteral("пауза"), this);
    PauseButton->setObjectName(QStringLiteral("PauseButton"));
    place(PauseButton, QRect(618, 24, 75, 18), Left | Top);

    CitiesListBox = new QListWidget(this);
    CitiesListBox->setObjectName(QStringLiteral("CitiesListBox"));
    CitiesListBox->setSelectionMode(QAbstractItemView::ExtendedSelection);
    CitiesListBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    place(CitiesListBox, QRect(8, 388, 257, 375), Left | Bottom);

    SelectAllCitiesButton = new QPushButton(QStringLiteral("все"), this);
    SelectAllCitiesButton->setObjectName(QStringLiteral("SelectAllCitiesButton"));
    place(SelectAllCitiesButton, QRect(206, 737, 41, 25), Left | Bottom);

    CatsListBox = new QListWidget(this);
    CatsListBox->setObjectName(QStringLiteral("CatsListBox"));
    CatsListBox->setSelectionMode(QAbstractItemView::ExtendedSelection);
    CatsListBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    place(CatsListBox, QRect(8, 27, 257, 336), Left | Top | Bottom);

    Button1 = new QPushButton(QStringLiteral("все"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    place(Button1, QRect(206, 337, 41, 25), Left | Bottom);

    // Under START, above the log.
    XlsxCheckBox = new QCheckBox(QStringLiteral("Также Excel (.xlsx)"), this);
    XlsxCheckBox->setObjectName(QStringLiteral("XlsxCheckBox"));
    XlsxCheckBox->setChecked(Config().Workbook || ReadWorkbookChoice(ProgramFolder()));
    place(XlsxCheckBox, QRect(313, 48, 265, 18), Left | Top);

    // The "все" buttons lie over the lower right corners of their lists.
    SelectAllCitiesButton->raise();
    Button1->raise();

    ResumeTimer = new QTimer(this);
    ResumeTimer->setObjectName(QStringLiteral("ResumeTimer"));
    ResumeTimer->setInterval(1000);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);

    QWidget::setTabOrder(CitiesListBox, StartButton);
    QWidget::setTabOrder(StartButton, XlsxCheckBox);
    QWidget::setTabOrder(XlsxCheckBox, PauseButton);
    QWidget::setTabOrder(PauseButton, StopButton);
    QWidget::setTabOrder(StopButton, LogsMemo);
    QWidget::setTabOrder(LogsMemo, SelectAllCitiesButton);
    QWidget::setTabOrder(SelectAllCitiesButton, CatsListBox);
    QWidget::setTabOrder(CatsListBox, Button1);

    connect(Button1, &QPushButton::clicked, this, &TMainForm::Button1Click);
    connect(SelectAllCitiesButton, &QPushButton::clicked, this,
            &TMainForm::SelectAllCitiesButtonClick);
    connect(Timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);
    connect(StartButton, &QPushButton::clicked, this, &TMainForm::StartButtonClick);
    connect(PauseButton, &QPushButton::clicked, this, &TMainForm::PauseButtonClick);
    connect(StopButton, &QPushButton::clicked, this, &TMainForm::StopButtonClick);
    connect(ResumeTimer, &QTimer::timeout, this, &TMainForm::ResumeTimerTimer);
    connect(XlsxCheckBox, &QCheckBox::clicked, this, &TMainForm::XlsxCheckBoxClick);

    view_ = std::make_unique<WindowRunView>(WindowRunView::Controls{
        LogsMemo, ProgressBar, StartButton, ResumeTimer, CitiesListBox, CatsListBox, Label4});
    view_->OnRunEnded = [this](const QString&) { RunEnded(); };

    Timer1->start();
    layoutControls();
}

TMainForm::~TMainForm() = default;

void TMainForm::place(QWidget* widget, QRect geometry, int anchors) {
    for (Anchored& a : anchored_) {
        if (a.widget == widget) {
            a.base = geometry;
            a.anchors = anchors;
            widget->setGeometry(geometry);
            return;
        }
    }
    anchored_.append({widget, geometry, anchors});
    widget->setGeometry(geometry);
}

// Each control keeps its distance to the edges it is anchored to: anchored
// to both opposite edges it stretches, to the far edge only it moves.
void TMainForm::layoutControls() {
    const int dw = width() - kDesignWidth;
    const int dh = height() - kDesignHeight;
    for (const Anchored& a : anchored_) {
        QRect r = a.base;
        if ((a.anchors & Right) != 0) {
            if ((a.anchors & Left) != 0)
                r.setWidth(r.width() + dw);
            else
                r.translate(dw, 0);
        }
        if ((a.anchors & Bottom) != 0) {
            if ((a.anchors & Top) != 0)
                r.setHeight(r.height() + dh);
            else
                r.translate(0, dh);
        }
        a.widget->setGeometry(r);
    }
    ProgressBar->setGeometry(0, height() - kProgressHeight, width(), kProgressHeight);
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutControls();
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TMainForm::FormShow() {
    const StartupProblem problem = CheckStartup(ProgramFolder(), TlsAvailable());
    if (problem == StartupProblem::None)
        return;
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Внимание!"),
                    StartupMessage(problem).replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
                    QMessageBox::Ok, this);
    box.exec();
    // The process ends at once: the window does not close in the ordinary
    // way, so nothing is saved.
    std::fflush(nullptr);
    std::_Exit(0);
}

// Closing during a run stops it and lets it write its end lines, its run log
// and its result file; the window closes once the run has ended (its end
// display calls RunEnded). The close never waits here: it may come from
// inside a notification that the run itself is waiting for. A run that has
// not ended after kCloseWaitMs no longer keeps the window.
void TMainForm::closeEvent(QCloseEvent* event) {
    if (closeWhenRunEnds_ && RunActive() && !closeWaitOver_) {
        event->ignore(); // already closing: the run is ending
        return;
    }
    if (!selectionsSaved_) {
        if (!FormClose()) {
            event->ignore();
            return;
        }
        selectionsSaved_ = true;
    }
    if (RunActive() && !closeWaitOver_) {
        closeWhenRunEnds_ = true;
        StopButtonClick();
        QTimer::singleShot(kCloseWaitMs, this, [this] {
            closeWaitOver_ = true;
            close();
        });
        event->ignore();
        return;
    }
    event->accept();
}

bool TMainForm::FormClose() {
    // Until loading has restored the saved selections, a list without a
    // selected row is not the user's choice: its file stays as it is.
    const auto save = [this](const QListWidget& list, const QString& fileName) {
        if (!loadingSucceeded_ && list.selectedItems().isEmpty())
            return;
        SaveSelection(list, fileName);
    };
    try {
        save(*CitiesListBox, QStringLiteral("selection2.txt"));
        save(*CatsListBox, QStringLiteral("selection1.txt"));
    } catch (const std::exception& e) {
        // Shown without blocking this handler; the window stays open.
        auto* box = new QMessageBox(QMessageBox::Critical, windowTitle(),
                                    QString::fromUtf8(e.what()), QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return false;
    }
    return true;
}

void TMainForm::XlsxCheckBoxClick(bool checked) {
    try {
        SaveWorkbookChoice(ProgramFolder(), checked);
    } catch (const std::exception& e) {
        AppendLog(QStringLiteral("Ошибка: не удалось записать ") + QString::fromUtf8(e.what()));
    }
}

void TMainForm::Button1Click() {
    CatsListBox->selectAll();
}

void TMainForm::SelectAllCitiesButtonClick() {
    CitiesListBox->selectAll();
}

bool TMainForm::LogsMemoKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    if (key == Qt::Key_A && (modifiers & Qt::ControlModifier) != 0) {
        LogsMemo->selectAll();
        return true;
    }
    return false;
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == LogsMemo &&
        (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_A && (key->modifiers() & Qt::ControlModifier) != 0) {
            if (event->type() == QEvent::ShortcutOverride) {
                event->accept(); // keep Ctrl+A from any window shortcut
                return true;
            }
            return LogsMemoKeyDown(key->key(), key->modifiers());
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TMainForm::AppendLog(const QString& line) {
    LogsMemo->appendPlainText(line);
}
