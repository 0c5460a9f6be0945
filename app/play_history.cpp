#include "play_history.h"

#include <algorithm>
#include <iterator>

#include <QAbstractTableModel>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "chart_cell_painter.h"
#include "dp_scoring.h"
#include "history_plot.h"
#include "score_text.h"
#include "window_parts.h"

using namespace window_parts;

namespace {

struct HistoryColumn {
    const char *caption;
    const char *spoken;  // said before the cell's text, so that a row read whole says each column
    int width;
    Qt::Alignment alignment;
};

constexpr Qt::Alignment Right = Qt::AlignRight | Qt::AlignVCenter;
constexpr HistoryColumn HistoryColumns[] = {
    {"Date and time", "played", 110, Qt::AlignLeft | Qt::AlignVCenter},
    {"Great", "Great", 48, Right},
    {"Good", "Good", 48, Right},
    {"Boo", "Boo", 48, Right},
    {"Miss", "Miss", 48, Right},
    {"OK", "OK", 48, Right},
    {"DP lost", "DP lost", 56, Right},
    {"%", "", 52, Right},
    {"Rank", "rank", 44, Qt::AlignCenter},
    {"Stored", "", 100, Qt::AlignLeft | Qt::AlignVCenter},
};
enum Column { When, Great, Good, Boo, Miss, OK, DpLost, Percent, Rank, Stored, ColumnCount };
static_assert(std::size(HistoryColumns) == ColumnCount);

const QString StoredMark = QStringLiteral("stored score");
const QString UndoneMark = QStringLiteral("Insert undone");

// The date part of a line's local time as day, month and year, for the stored score's date.
bool SameDay(const PlayLine &line, const ChartRecord &chart)
{
    const auto digits = [&line](int at, int count) {
        int value = 0;
        for (int i = at; i < at + count; ++i) {
            if (line.time[i] < '0' || line.time[i] > '9')
                return -1;
            value = value * 10 + (line.time[i] - '0');
        }
        return value;
    };
    return digits(0, 4) == chart.year && line.time[4] == '-' && digits(5, 2) == chart.month && line.time[7] == '-' &&
           digits(8, 2) == chart.day;
}

// An undo line is the chart's former score put back, so never the stored play itself.
bool IsStoredPlay(const PlayLine &line, const ChartRecord &chart)
{
    return line.kind == PlayKind::Play && line.dpLost == chart.dpLost && SameDay(line, chart);
}

}  // namespace

// One chart's lines, newest first. They are copied out of the journal: the window may read the
// journal again while the dialog is open, and only this chart's few lines are worth keeping.
class PlayHistoryModel : public QAbstractTableModel {
public:
    explicit PlayHistoryModel(QObject *parent) : QAbstractTableModel(parent) {}

    void Show(const ChartRecord &chart, const PlayJournal &journal)
    {
        beginResetModel();
        lines_.clear();
        for (const PlayLine &line : journal.lines)
            if (line.chart == chart.index)
                lines_.push_back(line);
        // newest first; of lines with the same time, the later in the file first
        std::reverse(lines_.begin(), lines_.end());
        std::stable_sort(lines_.begin(), lines_.end(),
                         [](const PlayLine &a, const PlayLine &b) { return a.utcSeconds > b.utcSeconds; });
        stored_ = -1;
        for (size_t row = 0; row < lines_.size() && stored_ < 0; ++row)
            if (IsStoredPlay(lines_[row], chart))
                stored_ = int(row);
        endResetModel();
    }

    const std::vector<PlayLine> &Lines() const { return lines_; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(lines_.size());
    }

    int columnCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : ColumnCount;
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= rowCount() || index.column() >= ColumnCount)
            return {};
        switch (role) {
        case Qt::DisplayRole:
            return CellText(index.row(), index.column());
        case Qt::AccessibleTextRole:
            return SpokenCellText(index.row(), index.column());
        case Qt::TextAlignmentRole:
            return int(HistoryColumns[index.column()].alignment);
        default:
            return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
            return {};
        if (role == Qt::DisplayRole)
            return QString::fromLatin1(HistoryColumns[section].caption);
        if (role == Qt::TextAlignmentRole)
            return int(HistoryColumns[section].alignment);
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
    }

private:
    QString CellText(int row, int column) const
    {
        const PlayLine &line = lines_[size_t(row)];
        switch (column) {
        case When:
            return PlayMinuteText(line);
        case Great:
        case Good:
        case Boo:
        case Miss:
        case OK:
            return line.hasCounts ? Decimal(line.counts[column - Great]) : QString();
        case DpLost:
            return Decimal(line.dpLost);
        case Percent:
            return QString::fromLatin1(PercentFieldText(std::min(line.percent, PerfectPercent)).text);
        case Rank:
            return QString::fromLatin1(RankName(std::min(line.percent, PerfectPercent)));
        default:
            if (line.kind == PlayKind::Undo)
                return UndoneMark;
            return row == stored_ ? StoredMark : QString();
        }
    }

    // "played 2026-12-09 14:03, Great 12, ..., DP lost 52, 91.63 percent, rank A, stored score";
    // an undo line: "undone 2026-12-09 14:05, restored DP lost 40, ..., Insert undone".
    QString SpokenCellText(int row, int column) const
    {
        const PlayLine &line = lines_[size_t(row)];
        const QString text = CellText(row, column);
        const bool undo = line.kind == PlayKind::Undo;
        switch (column) {
        case When:
            return (undo ? QStringLiteral("undone ") : QStringLiteral("played ")) + text;
        case DpLost:
            return (undo ? QStringLiteral("restored DP lost ") : QStringLiteral("DP lost ")) + text;
        case Percent:
            return SpokenPercent(std::min(line.percent, PerfectPercent));
        case Stored:
            return text;
        default:
            if (text.isEmpty())
                return text;
            return QString::fromLatin1(HistoryColumns[column].spoken) + u' ' + text;
        }
    }

    std::vector<PlayLine> lines_;
    int stored_ = -1;  // the row of the stored score, if a line is it
};

namespace {

// The plot is a chart to a screen reader, not a bare client area.
QAccessibleInterface *PlotAsChart(const QString &, QObject *object)
{
    if (object->metaObject() != &HistoryPlot::staticMetaObject)
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Chart);
}

}  // namespace

PlayHistoryDialog::PlayHistoryDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("DialogHistory"));
    static const bool plotRoleInstalled = [] {
        QAccessible::installFactory(PlotAsChart);
        return true;
    }();
    (void)plotRoleInstalled;

    setFont(WindowFont(SmallPixels, false));
    SetBackground(this, PanelSilver);
    auto *layout = new QVBoxLayout(this);

    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("LabelHistoryPlays"));
    summary_->setFont(WindowFont(LargePixels, true));
    SetTextColour(summary_, WindowGreen);
    layout->addWidget(summary_);

    skipped_ = new QLabel(this);
    skipped_->setObjectName(QStringLiteral("LabelHistorySkipped"));
    SetTextColour(skipped_, ResultRed);
    layout->addWidget(skipped_);

    plot_ = new HistoryPlot(this);
    layout->addWidget(plot_, 2);

    model_ = new PlayHistoryModel(this);
    table_ = new QTableView(this);
    table_->setObjectName(QStringLiteral("TableHistory"));
    KeepStyleColours(table_);
    table_->setModel(model_);
    // the list's painter: each cell's text laid out once, not twice as the styled delegate does
    table_->setItemDelegate(new ChartCellPainter(table_));
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setWordWrap(false);
    table_->setCornerButtonEnabled(false);
    table_->verticalHeader()->hide();
    // every row is one line of the design font: no row is measured
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() + 6);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->horizontalHeader()->setSectionsClickable(false);
    for (int column = 0; column < ColumnCount; ++column)
        table_->setColumnWidth(column, HistoryColumns[column].width);
    layout->addWidget(table_, 3);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    close_ = buttons->button(QDialogButtonBox::Close);
    close_->setObjectName(QStringLiteral("ButtonHistoryClose"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    setTabOrder(table_, plot_);
    setTabOrder(plot_, close_);
    resize(660, 560);
}

PlayHistoryDialog::~PlayHistoryDialog() = default;

void PlayHistoryDialog::ShowChart(const ChartRecord &chart, const PlayJournal &journal)
{
    const QString title = QString::fromLatin1(chart.name);
    setWindowTitle(QStringLiteral("History of ") + title);
    model_->Show(chart, journal);
    plot_->Show(model_->Lines());

    const auto plays = size_t(std::count_if(model_->Lines().begin(), model_->Lines().end(),
                                            [](const PlayLine &line) { return line.kind == PlayKind::Play; }));
    const size_t undone = model_->Lines().size() - plays;
    QString said;
    if (model_->Lines().empty())
        said = QStringLiteral("No play of this chart is in Plays.csv yet.");
    else
        said = plays == 1 ? QStringLiteral("1 play") : QStringLiteral("%1 plays").arg(Decimal(int64_t(plays)));
    if (undone != 0)
        said += QStringLiteral(", %1 undone").arg(Decimal(int64_t(undone)));
    summary_->setText(said);
    const QString skipped = journal.skippedLines == 0
                                ? QString()
                                : QStringLiteral("%1 %2 of Plays.csv could not be read and %3 skipped.")
                                      .arg(Decimal(journal.skippedLines),
                                           journal.skippedLines == 1 ? QStringLiteral("line") : QStringLiteral("lines"),
                                           journal.skippedLines == 1 ? QStringLiteral("was") : QStringLiteral("were"));
    skipped_->setText(skipped);
    skipped_->setVisible(!skipped.isEmpty());
    // what the labels say is heard with the table, where the focus starts
    Describe(table_, QStringLiteral("Plays of ") + title, skipped.isEmpty() ? said : said + QStringLiteral(". ") + skipped);

    if (model_->rowCount() > 0)
        table_->setCurrentIndex(model_->index(0, 0));
    table_->scrollToTop();
    open();
    table_->setFocus(Qt::OtherFocusReason);
}
