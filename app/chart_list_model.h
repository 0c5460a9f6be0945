// The list's rows as the view sees them: row i is chartOrder[i], and a cell's text is made from
// the chart record only when the view asks for it. The model holds no copy of any text, so a
// refill only tells the view that every cell may have changed.
#pragma once

#include <QAbstractTableModel>
#include <QFont>

#include "chart_table.h"

class ChartListModel : public QAbstractTableModel {
public:
    explicit ChartListModel(QObject *parent = nullptr);

    // A column's caption (the last one's in percentage mode), its width at the design size and
    // the alignment of its texts.
    struct ColumnLook {
        const char *caption;
        int width;
        Qt::Alignment alignment;
    };
    static const ColumnLook &Column(int column);

    // Shows the charts in this order, with the last column as percentage or difference. The
    // first call brings the rows; every later one keeps them and changes their cells, so that
    // objects a screen reader holds for the cells stay valid.
    void Show(ChartOrder *order, bool compareMode);
    ChartRecord *ChartAt(int row) const;
    void SetLastCaption(const QString &caption);
    // The font and width a title is drawn in: a title wider than that is cut and carries its
    // whole text as a tool tip.
    void SetTitleRoom(const QFont &font, int width);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    QString CellText(const ChartRecord &chart, int column) const;
    QString SpokenCellText(const ChartRecord &chart, int column) const;
    bool TitleIsCut(const ChartRecord &chart) const;

    ChartOrder *order_ = nullptr;
    bool compareMode_ = false;
    QString lastCaption_;
    QFont titleFont_;
    int titleWidth_ = -1;  // no room known yet: no title counts as cut
};
