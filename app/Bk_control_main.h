// The program is this one window over two plain libraries: core/ (chart table, DP arithmetic,
// ordering, totals texts) and storage/ (score and print files). TBK_ControlMain holds the state
// and every event handler and calls them directly; the list only shows the chart records. What
// must still be saved when the program ends lives in TSession (session.h), beside the window.
//
// Its definitions live in one file per concern:
//   window_building.cpp       construction, the controls and their places, tab order, placement
//                             on the screen, what waits until after the first frame
//   error_box.cpp             the error box, which every failure a handler throws reaches
//   window_look.cpp           design font and its fallback, colours, the picture, the icon, the
//                             first paint
//   window_accessibility.cpp  roles, names and descriptions, the buttons' keys, what is spoken
//                             without a change on screen (from a status bar): the result after a
//                             pause, the row at start, sorts, commands, the totals
//   entry_field_reading.cpp   what a reader is told of an entry field's text
//   window_keys.cpp           keys: Enter moving on, the shared mnemonic, sort shortcuts, Escape
//   entry_road.cpp            entry fields, recalculation, Insert, the warning, saving and closing
//                             with unsaved scores
//   session.h, session.cpp    TSession, the run of the program beside the window and longer: the
//                             unsaved scores and plays, their saves, the quiet save on the way out
//                             (a signal, the session's end, exit()), the answers tests give in
//                             place of the boxes; session_end_posix.cpp / _windows.cpp its signals
//   score_recovery.cpp        the recovery file the save on the way out falls back on, and its
//                             taking in by the next window
//   chart_list.cpp            the list and its header: fill, selection, sorting, totals, print
//   chart_list_model.cpp      the list's cells, made from the chart records as the view asks
//   chart_cell_painter.cpp    how a cell is drawn
//   comparison.cpp            Compare and its dialog (built in parts while idle after the first
//                             frame), Comp. Reset; the file dialogs' end, which leaves the
//                             player's configuration alone
//   play_journal_window.cpp   the play journal: the line each Insert appends (the session keeps
//                             it while Plays.csv cannot be written), undoing the last Insert
//   list_menu.cpp             the list's context menu and its keys: history, undo, export
//   chosen_files_posix.cpp    the names the player chose, as the system spells them (and
//                             chosen_files_windows.cpp, behind chosen_files.h)
//   play_history.cpp          a chart's plays: the dialog, its table; history_plot.cpp the plot
//   window_parts.h            what several of these share
// main.cpp starts the program, with what differs between systems in main_posix.cpp and
// main_windows.cpp (main_system.h); command_line.cpp reads its options before the toolkit
// starts, and entry_conversion.cpp turns a field's text into its count, both behind own headers.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include <QWidget>

#include "chart_table.h"

class ChartListModel;
class QFileDialog;
class QFrame;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMenu;
class PlayHistoryDialog;
class QPushButton;
class QSessionManager;
class QTimer;
class QModelIndex;
class QTreeView;
class QWindow;
class ScoreFileLock;
class TSession;
struct PlayJournal;
struct PlayLine;

class TBK_ControlMain : public QWidget {
    Q_OBJECT

public:
    explicit TBK_ControlMain(QWidget *parent = nullptr);
    ~TBK_ControlMain() override;

    static const char *ApplicationTitle();

    // The program's one error path: an exception that leaves a handler reaches the toolkit's
    // error box here (Guarded), with a full stop appended when the message ends in a character
    // above ".". Handlers throw to say what failed. Tests put a recorder in its place.
    using ErrorPresenter = std::function<void(const QString &message)>;
    static void ShowError(QString message);
    static void SetErrorPresenter(ErrorPresenter presenter);

    // Shows the comparison dialog; yields false when the player cancels, else the chosen name.
    // Tests answer in its place so that no modal dialog ever waits. An empty function restores
    // the dialog, as an empty presenter restores the error box.
    using FileChooser = std::function<bool(QFileDialog &dialog, QString &fileName)>;
    static void SetComparisonFileChooser(FileChooser chooser);
    // The same for the export's save dialog.
    static void SetExportFileChooser(FileChooser chooser);

    // Asked when the window closes, or the desktop session ends, with scores that are not in
    // Scores.txt or plays that are not in Plays.csv; tests answer in place of the question box,
    // as for the dialog above. Each answer given in place of a box lasts as long as the
    // session (session.h) it was given in.
    enum class UnsavedScoresAnswer : uint8_t { SaveAgain, Discard, Cancel };
    using UnsavedScoresQuestion = std::function<UnsavedScoresAnswer(int unsavedCount, int unsavedPlays)>;
    static void SetUnsavedScoresQuestion(UnsavedScoresQuestion question);

    // The folder of the program's own copy of Liberation Sans, loaded only where no face with the
    // design font's metrics is installed; set before the first window is made.
    static void SetFallbackFontFolder(const QString &folder);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    void BuildWindow();
    void BuildWarningPanel();
    void BuildInsertPanel();
    void BuildEntryFields();
    void BuildResultLabels();
    void BuildResultNotice();
    void BuildTotalsKey();
    void BuildButtons();
    void BuildScoreList();
    void BuildTotalsPanel();
    void SetTabOrder();
    void PlaceCentredOnScreen();
    QMargins Frame() const;
    void FinishStart();

    // Every handler the toolkit calls runs through this guard, so an exception reaches the
    // error box and the event loop goes on.
    template <typename Handler> auto Guarded(Handler handler);

    void FillScoreList();
    void SelectChartByIndex(uint32_t index);
    void UpdateTotals();
    // Great, Good, Boo, Miss and OK, in this order.
    using EntryFieldList = std::array<QLineEdit *, 5>;
    EntryFieldList EntryFields() const;
    void ClearEntryFields();
    bool RecalculateEntry();
    QString ResultSentence() const;
    QString CurrentRowSentence() const;
    void Announce(const QString &sentence);
    void AnnounceTotals();
    void AnnounceResultAfterPause();
    void ResultHeardWithRow();
    void TimerResultPauseTimer();
    bool CommitEntry(bool warnIfWorse);

    void ListViewScoresColumnClick(int column);
    void ListViewScoresSelectItem(const QModelIndex &item, bool selected);
    bool ListViewScoresKeyPress(QKeyEvent *event);
    void ListViewScoresEnter(Qt::FocusReason reason);
    void ReportCurrentCellFocused();
    void ListViewScoresExit();
    bool IsEntryField(const QObject *object) const;
    bool EntryFieldEnter(QLineEdit *field, Qt::FocusReason reason);
    void SetLabelText(QLabel *label, const QString &text);
    void DescribeResult(QLabel *label, const QString &name, const QString &description);
    // A result label is heard by its name and its value; which labels those are, and whether the
    // list's hint went with its first meeting, is kept here rather than read back from the texts
    // given to a reader.
    struct ResultLabel {
        const QLabel *label;
        QString name;
    };
    std::vector<ResultLabel> resultLabels;
    bool listHintTaken = false;
    void MemoGreatChange();
    void MemoGoodChange();
    void MemoBooChange();
    void MemoMissChange();
    void MemoOKChange();
    bool MemoGreatKeyPress(QKeyEvent *event);
    bool MemoGoodKeyPress(QKeyEvent *event);
    bool MemoBooKeyPress(QKeyEvent *event);
    bool MemoMissKeyPress(QKeyEvent *event);
    bool MemoOKKeyPress(QKeyEvent *event);
    bool PanelWarningKeyPress(QKeyEvent *event);
    void ButtonInsertClick(QObject *sender);
    void ButtonWarningOKClick();
    void ButtonWarningNOClick();
    void ButtonCompareClick();
    void ButtonCompareResetClick();
    void ButtonFilePrintClick();

    void ShowAfterStart(const QString &message);
    void ShowMergedScores();
    QString SaveScoresAgain();
    bool MayClose(bool mayAsk);
    void SessionEnding(QSessionManager &manager);
    void DeleteFileDialogs();

    void ShowWarningPanel();
    bool StillAsWarned() const;
    void ShowStoredMeanwhile();
    void ShowEntryPanel();
    void SetLastColumnCaption(const QString &caption);
    bool FocusNextOnEnter(QKeyEvent *event, QWidget *next);
    static bool DropChordText(const QKeyEvent *event);
    void MissOrCompareMnemonic();
    void ShowPicture();
    QFileDialog &OpenDialogEnemy();
    void PrepareComparisonDialog();
    void BuildComparisonDialogPart(int part);
    void ReturnFromComparisonDialog();
    void CloseComparisonCompletion();
    bool IsComparisonCompletion(const QObject *object) const;
    void ComparisonDialogGone();
    void ReadComparisonBoxWhole(QObject *child);

    // The last Insert of this window, for its undo: the score it stored and the one it replaced.
    struct ChartScore {
        uint16_t dpLost = 0;
        uint8_t day = 0;
        uint8_t month = 0;
        uint16_t year = 0;
        bool operator==(const ChartScore &) const = default;
    };
    struct UndoableInsert {
        bool valid = false;   // an Insert was stored here
        bool undone = false;  // and undone since
        uint32_t chart = 0;
        ChartScore stored;
        ChartScore replaced;
    };
    static ChartScore ScoreOf(const ChartRecord &chart);
    PlayLine StartPlayLine() const;
    void FinishPlayLine(PlayLine &line);
    QString SaveWithPlay(const ScoreFileLock &lock, const PlayLine &line);
    QString ReadJournal();
    void UndoLastInsert();
    void ShowChartHistory();
    void ExportList();
    void BuildListMenuHooks();
    QMenu &ListMenu();
    void ShowListMenu(QPoint position);
    bool ListMenuKeyPress(QKeyEvent *event);
    QFileDialog &SaveDialogExport();

    ChartRecord *currentChart = nullptr;
    ChartOrder *chartOrder = nullptr;
    uint8_t sortKey = 0;
    bool sortAscending = true;
    uint16_t pendingDpLost = 0;
    bool compareMode = false;
    QWindow *pictureWindow = nullptr;  // the native window whose screen the picture follows
    bool frameKnown = false;            // the platform has told the frame's size
    TSession &session;                   // what is saved however the program ends; outlives the window
    QString heardResult;                 // the result sentence the player last heard
    UndoableInsert lastInsert;
    uint32_t warnedChart = 0;            // the warning's chart and the score it compared with
    ChartScore warnedScore;
    std::unique_ptr<PlayJournal> playJournal;  // as last read, for the history and the export

    QFrame *PanelWarning = nullptr;
    QLabel *LabelWarningTitle = nullptr;
    QLabel *LabelWarningMessage = nullptr;
    QLabel *LabelWarningContinue = nullptr;
    QLabel *LabelWarningStored = nullptr;  // the score stored meanwhile, when the warning asks again
    QPushButton *ButtonWarningOK = nullptr;
    QPushButton *ButtonWarningNO = nullptr;

    QFrame *PanelInsert = nullptr;
    QLabel *ImageBrisko = nullptr;
    QFrame *Bevel1 = nullptr;
    QFrame *Bevel2 = nullptr;
    QLabel *LabelGreat = nullptr;
    QLineEdit *MemoGreat = nullptr;
    QLabel *LabelGood = nullptr;
    QLineEdit *MemoGood = nullptr;
    QLabel *LabelBoo = nullptr;
    QLineEdit *MemoBoo = nullptr;
    QLabel *LabelMiss = nullptr;
    QLineEdit *MemoMiss = nullptr;
    QLabel *LabelOK = nullptr;
    QLineEdit *MemoOK = nullptr;
    QLabel *LabelDPMax = nullptr;
    QLabel *LabelDPFreeze = nullptr;
    QLabel *LabelDPMiss = nullptr;
    QLabel *LabelDPMissResult = nullptr;
    QLabel *LabelRank = nullptr;
    QLabel *LabelRankResult = nullptr;
    QLabel *LabelPercResult = nullptr;
    QWidget *NoticeResult = nullptr;
    QTimer *TimerResultPause = nullptr;
    QPushButton *ButtonInsert = nullptr;
    QPushButton *ButtonFilePrint = nullptr;
    QPushButton *ButtonCompare = nullptr;
    QPushButton *ButtonCompareReset = nullptr;
    QTreeView *ListViewScores = nullptr;
    ChartListModel *ListScoresModel = nullptr;
    QFrame *PanelTotals = nullptr;
    QLabel *LabelTotalRanks = nullptr;
    QLabel *LabelTotalDP = nullptr;
    QFileDialog *OpenDialog_Enemy = nullptr;
    QMenu *MenuScores = nullptr;
    PlayHistoryDialog *DialogHistory = nullptr;
    QFileDialog *SaveDialog_Export = nullptr;
    int comparisonDialogParts = 0;  // of its parts built so far, on Compare or while idle
};
