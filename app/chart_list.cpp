#include "Bk_control_main.h"

#include <stdexcept>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTreeView>

#include "chart_cell_painter.h"
#include "chart_list_model.h"
#include "chart_ordering.h"
#include "print_file.h"
#include "totals.h"
#include "window_parts.h"

using namespace window_parts;

namespace {

// The toolkit's header measures every caption again each time it is shown or hidden, and the
// list asks for its size on every geometry update; what it measures changes only with a caption,
// the font or the style, so it is measured once for each of those.
class ChartListHeader : public QHeaderView {
public:
    ChartListHeader(QWidget *parent, const QAbstractItemModel *model) : QHeaderView(Qt::Horizontal, parent)
    {
        // as the list's own header would be
        setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        // connected ahead of the header's own handling, which asks for the size at once
        connect(model, &QAbstractItemModel::headerDataChanged, this, [this] { measured_ = QSize(); });
    }

    QSize sizeHint() const override
    {
        if (!measured_.isValid())
            measured_ = QHeaderView::sizeHint();
        return measured_;
    }

protected:
    // the viewport hears of a new font before the header does, and the header measures anew there
    bool viewportEvent(QEvent *event) override
    {
        Forget(event);
        return QHeaderView::viewportEvent(event);
    }

    bool event(QEvent *event) override
    {
        Forget(event);
        return QHeaderView::event(event);
    }

private:
    void Forget(const QEvent *event)
    {
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
            measured_ = QSize();
    }

    mutable QSize measured_;
};

}  // namespace

void TBK_ControlMain::BuildScoreList()
{
    ListViewScores = MakeControl<QTreeView>(PanelInsert, "ListViewScores", QRect(346, 7, 415, 295));
    ListScoresModel = new ChartListModel(ListViewScores);
    ListViewScores->setHeader(new ChartListHeader(ListViewScores, ListScoresModel));
    ListViewScores->setModel(ListScoresModel);
    ListViewScores->setItemDelegate(new ChartCellPainter(ListViewScores));
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
    BuildListMenuHooks();
    Describe(ListViewScores, QStringLiteral("Charts and scores"), ListHint());  // until ListViewScoresExit
    // the tool tip of a cut title follows the Song column's width, which the player may drag
    const auto showTitleRoom = [this] {
        ListScoresModel->SetTitleRoom(ListViewScores->font(), ListViewScores->columnWidth(0) -
                                                                  2 * ChartCellPainter::TextMargin(ListViewScores));
    };
    for (int column = 0; column < ListColumnCount; ++column)
        ListViewScores->setColumnWidth(column, ChartListModel::Column(column).width);
    showTitleRoom();
    connect(ListViewScores->header(), &QHeaderView::sectionResized, this, showTitleRoom);

    connect(ListViewScores->header(), &QHeaderView::sectionClicked, this,
            Guarded([this](int column) { ListViewScoresColumnClick(column); }));
    connect(ListViewScores->selectionModel(), &QItemSelectionModel::selectionChanged, this, Guarded([this] {
                const QModelIndexList selected = ListViewScores->selectionModel()->selectedRows();
                if (!selected.isEmpty())
                    ListViewScoresSelectItem(selected.first(), true);
            }));
}

// The rows stay, and a refill only tells the view that their cells changed: rows removed and
// appended again would leave a screen reader holding cells that no longer exist.
void TBK_ControlMain::FillScoreList()
{
    if (chartOrder == nullptr)
        return;
    if (currentChart == nullptr)
        currentChart = (*chartOrder)[0];
    uint32_t index = currentChart->index;

    ListViewScores->clearSelection();  // the reselection below then reports the chart afresh
    ListScoresModel->Show(chartOrder, compareMode);
    SelectChartByIndex(index);
}

void TBK_ControlMain::SelectChartByIndex(uint32_t index)
{
    for (int row = 0; row < ListScoresModel->rowCount(); ++row) {
        const ChartRecord *chart = ListScoresModel->ChartAt(row);
        if (chart == nullptr || chart->index != index)
            continue;
        const QModelIndex rowIndex = ListScoresModel->index(row, 0);
        ListViewScores->selectionModel()->select(rowIndex, QItemSelectionModel::ClearAndSelect |
                                                               QItemSelectionModel::Rows);
        {
            // The chart stays current through every refill; only its row may move. Told of it,
            // the list would report the row as newly focused, and a reader would read it again
            // before hearing what the refill was for (a sort).
            const QSignalBlocker quiet(ListViewScores->selectionModel());
            ListViewScores->selectionModel()->setCurrentIndex(rowIndex, QItemSelectionModel::NoUpdate);
        }
        ListViewScores->scrollTo(rowIndex);
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
    ListScoresModel->SetLastCaption(caption);
}

namespace {

// A sort as a reader says it. Some keys put the highest value first when set: the words say
// which way the values run, not the flag.
QString SortSentence(uint8_t key, bool ascending)
{
    struct KeyWords {
        const char *name;
        bool setRunsUp;
    };
    static constexpr KeyWords Keys[] = {{"title", true},         {"date", false},      {"AA allowance", true},
                                        {"rank", false},         {"DP lost", true},    {"percentage", false},
                                        {"difference", false}};
    const KeyWords &words = Keys[key];
    return QStringLiteral("sorted by %1, %2")
        .arg(QString::fromLatin1(words.name),
             words.setRunsUp == ascending ? QStringLiteral("ascending") : QStringLiteral("descending"));
}

}  // namespace

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
    Announce(SortSentence(sortKey, sortAscending));
}

void TBK_ControlMain::ListViewScoresSelectItem(const QModelIndex &item, bool selected)
{
    if (chartOrder == nullptr || !selected)
        return;
    ChartRecord *chart = ListScoresModel->ChartAt(item.row());
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
                                     .arg(QString::fromLatin1(PrintFileName), QString::fromUtf8(failure.reason))
                                     .toStdString());
    Announce(QStringLiteral("%1 written: all %2 charts in the list's order").arg(QString::fromLatin1(PrintFileName)).arg(ChartCount));
}
