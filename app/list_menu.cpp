#include "Bk_control_main.h"

#include <stdexcept>
#include <QAbstractItemView>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QTreeView>

#include "chosen_files.h"
#include "play_history.h"
#include "play_journal.h"
#include "session.h"
#include "window_parts.h"

using namespace window_parts;

namespace {

// The keys the menu shows, each on the list alone; a field keeps Ctrl+Z for its own text.
struct ListCommand {
    const char *text;
    const char *name;
    QKeyCombination key;
};
constexpr ListCommand HistoryCommand{"&History...", "ActionHistory", Qt::CTRL | Qt::Key_H};
constexpr ListCommand UndoCommand{"&Undo last Insert", "ActionUndo", Qt::CTRL | Qt::Key_Z};
constexpr ListCommand ExportCommand{"&Export as CSV...", "ActionExport", Qt::CTRL | Qt::Key_E};

bool IsKey(const QKeyEvent *event, const ListCommand &command)
{
    return event->keyCombination() == command.key;
}

}  // namespace

void TBK_ControlMain::SetExportFileChooser(FileChooser chooser)
{
    TSession::Current().standIns.exportFile = std::move(chooser);
}

// Only the hook is made at start; the menu itself waits for its first use.
void TBK_ControlMain::BuildListMenuHooks()
{
    ListViewScores->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListViewScores, &QWidget::customContextMenuRequested, this, Guarded([this](QPoint at) {
                ShowListMenu(ListViewScores->viewport()->mapToGlobal(at));
            }));
}

QMenu &TBK_ControlMain::ListMenu()
{
    if (MenuScores != nullptr)
        return *MenuScores;
    MenuScores = new QMenu(this);
    MenuScores->setObjectName(QStringLiteral("MenuScores"));
    const auto add = [this](const ListCommand &command, auto handler) {
        QAction *action = MenuScores->addAction(QString::fromLatin1(command.text));
        action->setObjectName(QString::fromLatin1(command.name));
        action->setShortcut(QKeySequence(command.key));
        action->setShortcutContext(Qt::WidgetShortcut);  // the list's own keys do the work
        connect(action, &QAction::triggered, this, Guarded(handler));
    };
    add(HistoryCommand, [this] { ShowChartHistory(); });
    add(UndoCommand, [this] { UndoLastInsert(); });
    add(ExportCommand, [this] { ExportList(); });
    return *MenuScores;
}

void TBK_ControlMain::ShowListMenu(QPoint position)
{
    QMenu &menu = ListMenu();
    menu.findChild<QAction *>(QString::fromLatin1(UndoCommand.name))->setEnabled(lastInsert.valid && !lastInsert.undone);
    menu.popup(position);
}

// Ctrl+H, Ctrl+Z and Ctrl+E as the menu shows them; the Menu key and Shift+F10 open it at the
// current row, where the mouse would.
bool TBK_ControlMain::ListMenuKeyPress(QKeyEvent *event)
{
    if (IsKey(event, HistoryCommand))
        ShowChartHistory();
    else if (IsKey(event, UndoCommand))
        UndoLastInsert();
    else if (IsKey(event, ExportCommand))
        ExportList();
    else if (event->key() == Qt::Key_Menu || event->keyCombination() == (Qt::SHIFT | Qt::Key_F10)) {
        const QRect row = ListViewScores->visualRect(ListViewScores->currentIndex());
        ShowListMenu(ListViewScores->viewport()->mapToGlobal(row.isValid() ? row.bottomLeft() : QPoint()));
    } else
        return false;
    return true;
}

void TBK_ControlMain::ShowChartHistory()
{
    if (currentChart == nullptr)
        return;
    const QString refused = ReadJournal();  // shows what was read before, if anything
    if (DialogHistory == nullptr)
        DialogHistory = new PlayHistoryDialog(this);
    DialogHistory->ShowChart(*currentChart, *playJournal);
    if (!refused.isEmpty())
        throw std::runtime_error(refused.toStdString());
}

// Made on the first export, as the comparison's dialog is on the first Compare.
QFileDialog &TBK_ControlMain::SaveDialogExport()
{
    if (SaveDialog_Export != nullptr)
        return *SaveDialog_Export;
    SaveDialog_Export = new QFileDialog(this, QStringLiteral("Export as CSV"));
    SaveDialog_Export->setObjectName(QStringLiteral("SaveDialog_Export"));
    SaveDialog_Export->setOption(QFileDialog::DontUseNativeDialog);
    SaveDialog_Export->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog_Export->setNameFilter(QStringLiteral("CSV files (*.csv)"));
    SaveDialog_Export->setDefaultSuffix(QStringLiteral("csv"));
    SaveDialog_Export->setDirectory(QDir::currentPath());
    SaveDialog_Export->selectFile(QStringLiteral("Scores.csv"));
    // Enter on a name whose completion shows would leave the completion's popup over the window.
    connect(SaveDialog_Export, &QDialog::finished, this, [dialog = SaveDialog_Export] {
        for (QCompleter *completer : dialog->findChildren<QCompleter *>())
            completer->popup()->hide();
    });
    return *SaveDialog_Export;
}

void TBK_ControlMain::ExportList()
{
    QString fileName;
    const bool chosen = ChooseFile(session.standIns.exportFile, SaveDialogExport(), fileName);
    activateWindow();
    ListViewScores->setFocus(Qt::OtherFocusReason);
    if (!chosen || chartOrder == nullptr)
        return;
    uint32_t plays[ChartCount] = {};
    const QString refused = ReadJournal();  // the counts of what was read before, if anything
    for (const PlayLine &line : playJournal->lines)
        if (line.kind == PlayKind::Play && line.chart < ChartCount)
            ++plays[line.chart];
    SaveFailure failure;
    const QString name = QFileInfo(fileName).fileName();
    if (!WriteExport(fileName, *chartOrder, plays, compareMode, &failure))
        throw std::runtime_error(
            SaveMessages(refused, QStringLiteral("%1 could not be written: %2").arg(name, QString::fromUtf8(failure.reason)))
                .toStdString());
    Announce(QStringLiteral("%1 written: %2 charts in the list's order").arg(name).arg(ChartCount));
    if (!refused.isEmpty())
        throw std::runtime_error(refused.toStdString());
}
