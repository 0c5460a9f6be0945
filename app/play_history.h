// A chart's plays over the window: the table of them, newest first, and the percentage over time.
#pragma once

#include <QDialog>

#include "chart_table.h"
#include "play_journal.h"

class HistoryPlot;
class PlayHistoryModel;
class QLabel;
class QPushButton;
class QTableView;

// A chart's plays over the window: a table, newest first, and a plot of the percentage over time.
class PlayHistoryDialog : public QDialog {
    Q_OBJECT
public:
    explicit PlayHistoryDialog(QWidget *parent);
    ~PlayHistoryDialog() override;
    // Fills the table and the plot with chart's lines of journal and shows the dialog without
    // blocking (open(), never exec()); called again for another chart, the same dialog is reused,
    // so that a second history costs no new widgets. chart's dpLost and date tell which play is the
    // stored score. journal.skippedLines is said in the dialog when not 0.
    void ShowChart(const ChartRecord &chart, const PlayJournal &journal);

private:
    PlayHistoryModel *model_ = nullptr;
    QTableView *table_ = nullptr;
    HistoryPlot *plot_ = nullptr;
    QLabel *summary_ = nullptr;
    QLabel *skipped_ = nullptr;
    QPushButton *close_ = nullptr;
};
