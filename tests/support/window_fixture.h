#pragma once

#include <memory>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

#include "Bk_control_main.h"
#include "chart_fixture.h"
#include "session.h"

// One window in a fresh temporary directory and a session of its own, with the error box
// replaced by a recorder; every other answer a test gives in place of a box ends with the
// session. Tests create it after arranging the directory (a Scores.txt to read, say).
class WindowFixture {
public:
    WindowFixture()
    {
        BuiltInTable().Restore();
        dir_ = std::make_unique<ScopedWorkDir>();
        session_ = std::make_unique<TSession>();
        TBK_ControlMain::SetErrorPresenter([this](const QString &message) { errors << message; });
    }

    ~WindowFixture()
    {
        window_.reset();
        session_.reset();
        dir_.reset();
        BuiltInTable().Restore();
    }

    TBK_ControlMain &Open()
    {
        window_ = std::make_unique<TBK_ControlMain>();
        window_->show();
        window_->activateWindow();
        if (!QTest::qWaitForWindowActive(window_.get()))
            qWarning("the window did not become active");
        // right after its first frame the window sets its icon
        if (!QTest::qWaitFor([this] { return !window_->windowIcon().isNull(); }))
            qWarning("the window did not finish its start");
        return *window_;
    }

    void Close() { window_.reset(); }

    TBK_ControlMain &window() { return *window_; }
    TSession &session() { return *session_; }
    ScopedWorkDir &dir() { return *dir_; }

    template <typename Widget> Widget *Find(const char *name) const
    {
        auto *widget = window_->findChild<Widget *>(QString::fromLatin1(name));
        if (widget == nullptr)
            qFatal("no control named %s", name);
        return widget;
    }

    QTreeView *List() const { return Find<QTreeView>("ListViewScores"); }
    int RowCount() const { return List()->model()->rowCount(); }
    QModelIndex Cell(int row, int column = 0) const { return List()->model()->index(row, column); }
    QString CellText(int row, int column = 0) const { return Cell(row, column).data().toString(); }
    QString Caption(int column) const { return List()->model()->headerData(column, Qt::Horizontal).toString(); }
    QLineEdit *Field(const char *name) const { return Find<QLineEdit>(name); }
    QString LabelText(const char *name) const { return Find<QLabel>(name)->text(); }
    QPushButton *Button(const char *name) const { return Find<QPushButton>(name); }

    QStringList RowTexts(int row) const
    {
        QStringList texts;
        for (int column = 0; column < List()->model()->columnCount(); ++column)
            texts << CellText(row, column);
        return texts;
    }

    int RowOf(const char *title) const
    {
        for (int row = 0; row < RowCount(); ++row)
            if (CellText(row) == QLatin1String(title))
                return row;
        return -1;
    }

    QString SelectedTitle() const
    {
        const QModelIndexList selected = List()->selectionModel()->selectedRows();
        return selected.size() == 1 ? selected.first().data().toString()
                                    : QStringLiteral("<%1 selected>").arg(selected.size());
    }

    QString CurrentTitle() const
    {
        return CellText(List()->currentIndex().row());
    }

    QStringList Titles() const
    {
        QStringList titles;
        for (int row = 0; row < RowCount(); ++row)
            titles << CellText(row);
        return titles;
    }

    // A real click on a row, scrolled into view first as a player would.
    void ClickRow(const char *title)
    {
        const QModelIndex cell = Cell(RowOf(title));
        List()->scrollTo(cell);
        QRect rect = List()->visualRect(cell);
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    }

    void ClickHeader(int column)
    {
        QHeaderView *header = List()->header();
        QPoint point(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, point);
    }

    void Click(const char *buttonName) { QTest::mouseClick(Button(buttonName), Qt::LeftButton); }

    // The warning panel is made only when the first warning is due.
    bool WarningShown() const
    {
        auto *warning = window_->findChild<QWidget *>(QStringLiteral("PanelWarning"));
        return warning != nullptr && warning->isVisible() && !Find<QWidget>("PanelInsert")->isVisible();
    }

    // Raises the warning as a player does: a score stored for the chart of the list's current
    // row, then a worse one inserted.
    void ShowWarning()
    {
        Type("MemoGreat", QStringLiteral("0"));
        Click("ButtonInsert");
        Type("MemoGreat", QStringLiteral("1"));
        Click("ButtonInsert");
        if (!WarningShown())
            qFatal("the warning did not show");
    }

    // What a player does to store a play of that many Greats (and every freeze OK) on a chart.
    void InsertGreats(const char *title, const QString &greats)
    {
        ClickRow(title);
        Type("MemoGreat", greats);
        Click("ButtonInsert");
    }

    void Type(const char *fieldName, const QString &text)
    {
        QLineEdit *field = Field(fieldName);
        field->setFocus();
        field->selectAll();
        if (text.isEmpty())
            QTest::keyClick(field, Qt::Key_Delete);
        else
            QTest::keyClicks(field, text);
    }

    // Plays.csv as a spreadsheet reads it: its rows, split into fields as RFC 4180 quotes them.
    static QList<QStringList> CsvRows(const QString &name)
    {
        QList<QStringList> rows;
        const QString text = QString::fromUtf8(ReadText(name));
        QStringList row;
        QString field;
        bool quoted = false;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (quoted && c == u'"' && i + 1 < text.size() && text.at(i + 1) == u'"')
                field += text.at(++i);
            else if (c == u'"')
                quoted = !quoted;
            else if (!quoted && (c == u',' || c == u'\n')) {
                row << std::exchange(field, QString());
                if (c == u'\n')
                    rows << std::exchange(row, QStringList());
            } else
                field += c;
        }
        return rows;
    }
    static QList<QStringList> JournalRows() { return CsvRows(QStringLiteral("Plays.csv")); }

    QWidget *FocusWidget() const { return QApplication::focusWidget(); }
    QString FocusName() const { return FocusWidget() != nullptr ? FocusWidget()->objectName() : QString(); }

    QStringList errors;

private:
    std::unique_ptr<ScopedWorkDir> dir_;
    std::unique_ptr<TSession> session_;
    std::unique_ptr<TBK_ControlMain> window_;
};
