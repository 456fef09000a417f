#pragma once
// The program's one window: two lists to choose from, the log, START, pause
// and stop, the found-cards counter and the progress bar.
//
// TMainForm's handlers are spread over the files of src/ui/:
//   main_form.cpp          the controls and their layout, FormShow (start-up
//                          checks), closing (closeEvent, FormClose), the "все"
//                          buttons, Ctrl+A in the log
//   reference_loading.cpp  Timer1Timer: loading the lists, then the saved or
//                          named selections
//   run_control.cpp        START, pause, stop, ResumeTimerTimer, a run's end
//   window_view.cpp        what the window shows of a run (its notifications)
//   selection_files.cpp    the selection files (free functions)

#include "run/run_request.h"

#include <QList>
#include <QRect>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

// "Парсер сайта " and the web host with its first letter in upper case: the
// window's caption and the application's title.
QString WindowCaption(const QString& webHost);

// The window's question whether to continue an interrupted run (a modal box,
// "Да" by default).
ContinueAnswer AskToContinueRun(QWidget* parent, const UnfinishedRun& run);

class QCheckBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class TScraper;
class WindowRunView;

class TMainForm : public QWidget {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Controls, in their order of creation.
    QProgressBar* ProgressBar = nullptr;
    QLabel* Label2 = nullptr; // "Логи"
    QLabel* Label1 = nullptr; // "Города/Регионы"
    QLabel* Label4 = nullptr; // found-cards counter
    QLabel* Label3 = nullptr; // "Категории"
    QPlainTextEdit* LogsMemo = nullptr;
    QPushButton* StartButton = nullptr;
    QPushButton* StopButton = nullptr;
    QPushButton* PauseButton = nullptr;
    QListWidget* CitiesListBox = nullptr;
    QPushButton* SelectAllCitiesButton = nullptr;
    QListWidget* CatsListBox = nullptr;
    QPushButton* Button1 = nullptr; // "все" under the categories
    // "Также Excel (.xlsx)": runs also write the workbook, opened at the end
    // instead of the result file; remembered in the program folder.
    QCheckBox* XlsxCheckBox = nullptr;
    QTimer* ResumeTimer = nullptr;
    QTimer* Timer1 = nullptr;

    // Event handlers.
    void FormShow();
    // Saves the selections; when that fails, shows the error in a message
    // box (without waiting for it) and returns false: the window stays open.
    // Stopping a run is the close event's part (closeEvent).
    bool FormClose();
    void Timer1Timer();
    void Button1Click();
    void SelectAllCitiesButtonClick();
    void StartButtonClick();
    void PauseButtonClick();
    void StopButtonClick();
    void ResumeTimerTimer();
    // The check box changed: the choice is saved at once.
    void XlsxCheckBoxClick(bool checked);
    // Ctrl+A (Shift and Alt allowed) selects the whole log; returns whether
    // the key was handled.
    bool LogsMemoKeyDown(int key, Qt::KeyboardModifiers modifiers);

    // Appends one line at the end of the log.
    void AppendLog(const QString& line);

    // The category id of each row of CatsListBox, in row order.
    QStringList CategoryIds;

    // Asked at START when an interrupted run of the same selection exists:
    // Continue continues it, StartAnew starts anew and deletes its journal,
    // Cancel starts nothing. Tests answer in place of the user.
    std::function<ContinueAnswer(const UnfinishedRun&)> AskToContinue =
        [this](const UnfinishedRun& run) { return AskToContinueRun(this, run); };

    // The run most recently started; it stays valid after the run has ended.
    std::shared_ptr<TScraper> CurrentRun;
    // Whether CurrentRun is a run whose work has not finished.
    bool RunActive() const;

    bool LoadingEnded() const { return loadingEnded_; }

    // What the window shows of a run.
    WindowRunView& RunView() { return *view_; }

signals:
    // Reference loading has ended; `succeeded` is false when its error line
    // was written.
    void ReferenceLoadingEnded(bool succeeded);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ApplyInitialSelection();
    void RunEnded();
    RunRequest SelectedRequest() const;
    void SelectNamedCategories();
    void SelectNamedCities();

    enum Anchor { Left = 1, Top = 2, Right = 4, Bottom = 8 };
    struct Anchored {
        QWidget* widget;
        QRect base; // geometry at the design size
        int anchors;
    };
    void place(QWidget* widget, QRect geometry, int anchors);
    void layoutControls();

    std::unique_ptr<WindowRunView> view_;
    QList<Anchored> anchored_;
    bool shown_ = false;
    bool loadingEnded_ = false;
    bool loadingSucceeded_ = false;
    // Closing while a run is active: the selections are saved, the run is
    // stopped, and the window closes when the run has ended.
    bool selectionsSaved_ = false;
    bool closeWhenRunEnds_ = false;
    bool closeWaitOver_ = false;
};
