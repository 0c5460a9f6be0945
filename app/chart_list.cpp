#include "Bk_control_main.h"

#include <iterator>
#include <stdexcept>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>

#include "chart_ordering.h"
#include "dp_scoring.h"
#include "print_file.h"
#include "score_text.h"
#include "totals.h"
#include "window_parts.h"

using namespace window_parts;

namespace {

constexpr int ChartRole = Qt::UserRole;

struct ListColumn {
    const char *caption;
    int width;
    Qt::Alignment alignment;
};
constexpr ListColumn ListColumns[] = {
    {"Song", 165, Qt::AlignLeft | Qt::AlignVCenter},  {"Date", 70, Qt::AlignCenter}, {"AA", 30, Qt::AlignCenter},
    {"Rank", 40, Qt::AlignCenter}, {"DP", 40, Qt::AlignRight | Qt::AlignVCenter}, {"%", 45, Qt::AlignRight | Qt::AlignVCenter},
};
static_assert(std::size(ListColumns) == ListColumnCount);

ChartRecord *ChartOfRow(const QTreeWidgetItem *item)
{
    return item == nullptr ? nullptr : static_cast<ChartRecord *>(item->data(0, ChartRole).value<void *>());
}

QStringList RowTexts(const ChartRecord &chart, bool compareMode)
{
    uint16_t percent = ChartPercent(chart);
    QString dp = chart.dpLost == chart.maxDp ? QStringLiteral("N/A") : Decimal(chart.dpLost);
    QString last = QString::fromLatin1(compareMode ? DifferenceText(ChartDifference(chart)).text
                                                   : PercentFieldText(percent).text);
    return {QString::fromLatin1(chart.name), QString::fromLatin1(ListDateText(chart).text),
            Decimal(chart.aaAllowance), QString::fromLatin1(RankName(percent)), dp, last};
}

}  // namespace

void TBK_ControlMain::BuildScoreList()
{
    ListViewScores = MakeControl<QTreeWidget>(PanelInsert, "ListViewScores", QRect(346, 7, 415, 295));
    KeepStyleColours(ListViewScores);
    ListViewScores->setRootIsDecorated(false);
    ListViewScores->setItemsExpandable(false);
    ListViewScores->setUniformRowHeights(true);
    ListViewScores->setSortingEnabled(false);  // the header click sorts the charts, not the rows
    ListViewScores->setSelectionMode(QAbstractItemView::SingleSelection);
    ListViewScores->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListViewScores->setAllColumnsShowFocus(true);
    ListViewScores->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListViewScores->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ListViewScores->header()->setSectionsClickable(true);
    ListViewScores->header()->setSectionsMovable(false);
    ListViewScores->header()->setStretchLastSection(false);
    ListViewScores->installEventFilter(this);
    Describe(ListViewScores, QStringLiteral("Charts and scores"),
             QStringLiteral("Ctrl+1 to Ctrl+6 sort by a column"));  // until ListViewScoresExit

    QStringList captions;
    for (const ListColumn &column : ListColumns)
        captions << QString::fromLatin1(column.caption);
    ListViewScores->setHeaderLabels(captions);
    for (int i = 0; i < ListColumnCount; ++i) {
        ListViewScores->setColumnWidth(i, ListColumns[i].width);
        ListViewScores->headerItem()->setTextAlignment(i, ListColumns[i].alignment);
    }

    connect(ListViewScores->header(), &QHeaderView::sectionClicked, this,
            Guarded([this](int column) { ListViewScoresColumnClick(column); }));
    connect(ListViewScores, &QTreeWidget::itemSelectionChanged, this, Guarded([this] {
                const QList<QTreeWidgetItem *> selected = ListViewScores->selectedItems();
                if (!selected.isEmpty())
                    ListViewScoresSelectItem(selected.first(), true);
            }));
}

void TBK_ControlMain::FillScoreList()
{
    if (chartOrder == nullptr)
        return;
    if (currentChart == nullptr)
        currentChart = (*chartOrder)[0];
    uint32_t index = currentChart->index;

    ListViewScores->setUpdatesEnabled(false);
    ListViewScores->clearSelection();  // the reselection below then reports the chart afresh
    if (ListViewScores->topLevelItemCount() == 0) {
        AppendScoreRows();
    } else {
        int row = 0;
        for (ChartRecord *chart : *chartOrder)
            FillScoreRow(ListViewScores->topLevelItem(row++), *chart);
    }
    ListViewScores->setUpdatesEnabled(true);

    SelectChartByIndex(index);
}

// The 256 rows are made once, by the first fill, and every later fill writes them anew. Rows
// removed and appended again would leave a screen reader holding cells that no longer exist:
// Qt 6.4 keeps their accessibility objects registered after the rows are gone. The first rows
// get their texts before they join the list, where every text written would be a change the
// view is told of.
void TBK_ControlMain::AppendScoreRows()
{
    QList<QTreeWidgetItem *> rows;
    rows.reserve(ChartCount);
    for (ChartRecord *chart : *chartOrder) {
        auto *row = new QTreeWidgetItem;
        for (int column = 0; column < ListColumnCount; ++column)
            row->setTextAlignment(column, ListColumns[column].alignment);
        FillScoreRow(row, *chart);
        rows.append(row);
    }
    ListViewScores->addTopLevelItems(rows);
}

void TBK_ControlMain::FillScoreRow(QTreeWidgetItem *row, ChartRecord &chart)
{
    const QStringList texts = RowTexts(chart, compareMode);
    for (int column = 0; column < ListColumnCount; ++column)
        row->setText(column, texts[column]);
    row->setData(0, ChartRole, QVariant::fromValue(static_cast<void *>(&chart)));
}

void TBK_ControlMain::SelectChartByIndex(uint32_t index)
{
    for (int i = 0; i < ListViewScores->topLevelItemCount(); ++i) {
        QTreeWidgetItem *row = ListViewScores->topLevelItem(i);
        const ChartRecord *chart = ChartOfRow(row);
        if (chart == nullptr || chart->index != index)
            continue;
        QModelIndex rowIndex = ListViewScores->indexFromItem(row);
        ListViewScores->selectionModel()->select(rowIndex, QItemSelectionModel::ClearAndSelect |
                                                               QItemSelectionModel::Rows);
        ListViewScores->selectionModel()->setCurrentIndex(rowIndex, QItemSelectionModel::NoUpdate);
        ListViewScores->scrollToItem(row);
        return;
    }
}

void TBK_ControlMain::UpdateTotals()
{
    TotalsCaptions captions = TotalsCaptionTexts(TallyCharts(ChartTable), compareMode);
    SetLabelText(LabelTotalRanks, QString::fromLatin1(captions.ranks));
    SetLabelText(LabelTotalDP, QString::fromLatin1(captions.dp));
}

void TBK_ControlMain::SetLastColumnCaption(const QString &caption)
{
    ListViewScores->headerItem()->setText(LastColumn, caption);
}

void TBK_ControlMain::ListViewScoresColumnClick(int column)
{
    static constexpr uint8_t KeyOfColumn[] = {SortByName, SortByDate, SortByAaAllowance, SortByRank, SortByDpLost};
    uint8_t key = 0;
    if (column >= 0 && column < LastColumn)
        key = KeyOfColumn[column];
    else if (column == LastColumn)
        key = compareMode ? SortByDifference : SortByPercent;
    else
        return;
    sortAscending = key == sortKey ? !sortAscending : true;
    sortKey = key;
    SortCharts(chartOrder, sortKey, sortAscending);
    FillScoreList();
}

void TBK_ControlMain::ListViewScoresSelectItem(QTreeWidgetItem *item, bool selected)
{
    if (chartOrder == nullptr || !selected)
        return;
    ChartRecord *chart = ChartOfRow(item);
    if (chart == nullptr) {
        ClearEntryFields();
        return;
    }
    currentChart = chart;
    MemoGreat->setText(Decimal(chart->dpLost));
    MemoOK->setText(Decimal(chart->freezes));
    RecalculateEntry();
    ResultHeardWithRow();
}

// A listing that did not reach its file says so: silence would look like a printed listing.
void TBK_ControlMain::ButtonFilePrintClick()
{
    SaveFailure failure;
    if (!WritePrintFile(chartOrder, &failure))
        throw std::runtime_error(QStringLiteral("%1 could not be written: %2")
                                     .arg(QString::fromLatin1(PrintFileName), QString::fromLocal8Bit(failure.reason))
                                     .toStdString());
}
