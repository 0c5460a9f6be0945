#include "play_history.h"

PlayHistoryDialog::PlayHistoryDialog(QWidget *parent) : QDialog(parent) {}

PlayHistoryDialog::~PlayHistoryDialog() = default;

void PlayHistoryDialog::ShowChart(const ChartRecord &chart, const PlayJournal &journal)
{
    setWindowTitle(QStringLiteral("History of ") + QString::fromLatin1(chart.name));
    (void)journal;
    open();
}
