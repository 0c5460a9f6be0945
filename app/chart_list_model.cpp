#include "chart_list_model.h"

#include <iterator>

#include <QFontMetricsF>

#include "dp_scoring.h"
#include "score_text.h"
#include "window_parts.h"

namespace {

constexpr ChartListModel::ColumnLook ListColumns[] = {
    {"Song", 165, Qt::AlignLeft | Qt::AlignVCenter},  {"Date", 70, Qt::AlignCenter}, {"AA", 30, Qt::AlignCenter},
    {"Rank", 40, Qt::AlignCenter}, {"DP", 40, Qt::AlignRight | Qt::AlignVCenter}, {"%", 45, Qt::AlignRight | Qt::AlignVCenter},
};
static_assert(std::size(ListColumns) == window_parts::ListColumnCount);

enum Column { Song, Date, AA, Rank, DP };

}  // namespace

ChartListModel::ChartListModel(QObject *parent)
    : QAbstractTableModel(parent), lastCaption_(QString::fromLatin1(ListColumns[window_parts::LastColumn].caption))
{
}

const ChartListModel::ColumnLook &ChartListModel::Column(int column)
{
    return ListColumns[column];
}

void ChartListModel::Show(ChartOrder *order, bool compareMode)
{
    compareMode_ = compareMode;
    if (order_ != order) {
        beginResetModel();
        order_ = order;
        endResetModel();
        return;
    }
    if (order_ != nullptr)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1),
                         {Qt::DisplayRole, Qt::AccessibleTextRole, Qt::ToolTipRole});
}

ChartRecord *ChartListModel::ChartAt(int row) const
{
    return order_ == nullptr || row < 0 || row >= rowCount() ? nullptr : (*order_)[row];
}

void ChartListModel::SetLastCaption(const QString &caption)
{
    lastCaption_ = caption;
    emit headerDataChanged(Qt::Horizontal, window_parts::LastColumn, window_parts::LastColumn);
}

void ChartListModel::SetTitleRoom(const QFont &font, int width)
{
    titleFont_ = font;
    titleWidth_ = width;
}

int ChartListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || order_ == nullptr ? 0 : int(ChartCount);
}

int ChartListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : window_parts::ListColumnCount;
}

QString ChartListModel::CellText(const ChartRecord &chart, int column) const
{
    switch (column) {
    case Song:
        return QString::fromLatin1(chart.name);
    case Date:
        return QString::fromLatin1(ListDateText(chart).text);
    case AA:
        return window_parts::Decimal(chart.aaAllowance);
    case Rank:
        return QString::fromLatin1(RankName(ChartPercent(chart)));
    case DP:
        return chart.dpLost == chart.maxDp ? QStringLiteral("N/A") : window_parts::Decimal(chart.dpLost);
    default:
        return QString::fromLatin1(compareMode_ ? DifferenceText(ChartDifference(chart)).text
                                                : PercentFieldText(ChartPercent(chart)).text);
    }
}

// A screen reader reads a row as its cells run together, so each cell says what it holds:
// "date 08/12/2026, AA 43, rank A, DP lost 52, 91.63 percent", "difference +42", "no score".
QString ChartListModel::SpokenCellText(const ChartRecord &chart, int column) const
{
    switch (column) {
    case Date:
        if (chart.day == 0 && chart.month == 0 && chart.year == 0)
            return QStringLiteral("no score");
        return QStringLiteral("date ") + CellText(chart, column);
    case AA:
        return QStringLiteral("AA ") + CellText(chart, column);
    case Rank:
        return QStringLiteral("rank ") + CellText(chart, column);
    case DP:
        return chart.dpLost == chart.maxDp ? QStringLiteral("all DP lost") : QStringLiteral("DP lost ") + CellText(chart, column);
    case window_parts::LastColumn:
        if (compareMode_)
            return QStringLiteral("difference ") + CellText(chart, column).trimmed();
        return QString::fromLatin1(PercentLabelText(ChartPercent(chart)).text).replace(u'%', QStringLiteral(" percent"));
    default:
        return CellText(chart, column);
    }
}

bool ChartListModel::TitleIsCut(const ChartRecord &chart) const
{
    return titleWidth_ >= 0 &&
           QFontMetricsF(titleFont_).horizontalAdvance(QString::fromLatin1(chart.name)) > titleWidth_;
}

QVariant ChartListModel::data(const QModelIndex &index, int role) const
{
    const ChartRecord *chart = ChartAt(index.row());
    if (chart == nullptr || index.column() < 0 || index.column() >= columnCount())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return CellText(*chart, index.column());
    case Qt::AccessibleTextRole:
        return SpokenCellText(*chart, index.column());
    case Qt::TextAlignmentRole:
        return int(ListColumns[index.column()].alignment);
    case Qt::ToolTipRole:
        if (index.column() == Song && TitleIsCut(*chart))
            return QString::fromLatin1(chart->name);
        return {};
    default:
        return {};
    }
}

QVariant ChartListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    if (role == Qt::DisplayRole)
        return section == window_parts::LastColumn ? lastCaption_ : QString::fromLatin1(ListColumns[section].caption);
    if (role == Qt::TextAlignmentRole)
        return int(ListColumns[section].alignment);
    return {};
}

Qt::ItemFlags ChartListModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
}
