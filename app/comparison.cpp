#include "Bk_control_main.h"

#include <algorithm>
#include <QAccessible>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLayout>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QTimer>
#include <QTreeView>
#include <QWindow>

#include "chosen_files.h"
#include "session.h"
#include "window_parts.h"

using namespace window_parts;

bool window_parts::ExecFileDialog(QFileDialog &dialog, QString &fileName)
{
    if (dialog.exec() != QDialog::Accepted)
        return false;
    fileName = dialog.selectedFiles().value(0);
    return true;
}

namespace {

// The file dialog's own sizes cut its detail columns and the names of its places short ("…").
// Here the columns fit their contents, the place names show whole, and the dialog opens wide
// enough for both beside a long name, as far as the screen allows. The dialog a platform theme
// brings sizes itself and has none of these parts.
void ShowFileDetailsWhole(QFileDialog &dialog)
{
    auto *places = dialog.findChild<QListView *>(QStringLiteral("sidebar"));
    auto *files = dialog.findChild<QTreeView *>(QStringLiteral("treeView"));
    auto *splitter = dialog.findChild<QSplitter *>(QStringLiteral("splitter"));
    if (places == nullptr || files == nullptr || splitter == nullptr)
        return;
    QHeaderView *header = files->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int column = 1; column < header->count(); ++column)
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    const QFontMetrics metrics(files->font());
    const int placesWidth = places->sizeHintForColumn(0) + 2 * places->frameWidth() + metrics.horizontalAdvance(u'n');
    const int filesWidth = metrics.horizontalAdvance(QString(80, u'n'));  // a row of about 80 letters
    const int width = dialog.sizeHint().width() - splitter->sizeHint().width() + placesWidth + filesWidth;
    const QWidget *window = dialog.parentWidget()->window();
    const QSize room = window->screen()->availableGeometry().size() - (window->frameGeometry().size() - window->size());
    dialog.resize(QSize(width, dialog.sizeHint().height()).boundedTo(room));
    splitter->setSizes({placesWidth, filesWidth});
}

// The dialog's list of places reports its first place as focused while it is filled, though the
// dialog is hidden and has no focus: a reader would read the dialog over the window. Nothing the
// dialog tells while it is made is for a reader, who meets it as it shows.
class UnheardWhileMade {
public:
    UnheardWhileMade() : told_(QAccessible::installUpdateHandler([](QAccessibleEvent *) {})) {}
    ~UnheardWhileMade() { QAccessible::installUpdateHandler(told_); }
    UnheardWhileMade(const UnheardWhileMade &) = delete;
    UnheardWhileMade &operator=(const UnheardWhileMade &) = delete;

private:
    QAccessible::UpdateHandler told_;
};

constexpr int ComparisonDialogParts = 5;
constexpr int ComparisonDialogDelayMs = 1000;  // after the first frame

}  // namespace

void TBK_ControlMain::SetComparisonFileChooser(FileChooser chooser)
{
    TSession::Current().standIns.comparisonFile = std::move(chooser);
}

// The dialog is a whole window of its own, and building it would take a third of the start-up
// time and 4 MiB for a command many players never use; built on the first Compare, it made the
// player wait more than a frame. It is built once the window has been on the screen for a while,
// one part each time the event loop has nothing else to do (PrepareComparisonDialog): the first
// moments after the first frame belong to the player's first keys, and a start that ends at
// once never pays for it. A Compare that comes sooner builds what is left.
QFileDialog &TBK_ControlMain::OpenDialogEnemy()
{
    while (comparisonDialogParts < ComparisonDialogParts)
        BuildComparisonDialogPart(comparisonDialogParts++);
    return *OpenDialog_Enemy;
}

void TBK_ControlMain::BuildComparisonDialogPart(int part)
{
    switch (part) {
    case 0: {
        const UnheardWhileMade unheard;
        OpenDialog_Enemy = new QFileDialog(this, QStringLiteral("Open for comparison"));
        OpenDialog_Enemy->setObjectName(QStringLiteral("OpenDialog_Enemy"));
        OpenDialog_Enemy->setAcceptMode(QFileDialog::AcceptOpen);
        OpenDialog_Enemy->setFileMode(QFileDialog::ExistingFile);  // the path and the file must exist
        OpenDialog_Enemy->setNameFilter(QStringLiteral("Score files (*.txt)"));
        OpenDialog_Enemy->setDefaultSuffix(QStringLiteral("txt"));
        OpenDialog_Enemy->setViewMode(QFileDialog::Detail);
        OpenDialog_Enemy->selectFile(QStringLiteral("*.txt"));
        break;
    }
    case 1:
        ShowFileDetailsWhole(*OpenDialog_Enemy);
        for (QCompleter *completer : OpenDialog_Enemy->findChildren<QCompleter *>())
            completer->popup()->installEventFilter(this);  // CloseComparisonCompletion on Enter
        OpenDialog_Enemy->installEventFilter(this);        // ReadComparisonBoxWhole
        break;
    case 2:
        // what its first show would otherwise do: the style's polish and the layout's sizes
        OpenDialog_Enemy->ensurePolished();
        OpenDialog_Enemy->layout()->activate();
        break;
    case 3:
        // the folder's listing, read by the dialog's own thread
        if (auto *files = OpenDialog_Enemy->findChild<QFileSystemModel *>()) {
            const QModelIndex folder = files->index(OpenDialog_Enemy->directory().absolutePath());
            if (files->canFetchMore(folder))
                files->fetchMore(folder);
        }
        break;
    default:
        // its first paint, off the screen: the fonts, glyphs and icon sizes it needs
        (void)OpenDialog_Enemy->grab();
        break;
    }
}

void TBK_ControlMain::PrepareComparisonDialog()
{
    if (comparisonDialogParts >= ComparisonDialogParts)
        return;
    QTimer::singleShot(comparisonDialogParts == 0 ? ComparisonDialogDelayMs : 0, this, Guarded([this] {
        if (comparisonDialogParts < ComparisonDialogParts)
            BuildComparisonDialogPart(comparisonDialogParts++);
        PrepareComparisonDialog();
    }));
}

// The dialog's own box for a name that is not there ("*.txt", "File not found.", a hint) keeps
// its text on three lines, of which a reader says only the first. Polished before it shows, its
// text tells a reader the three as one line.
void TBK_ControlMain::ReadComparisonBoxWhole(QObject *child)
{
    auto *box = qobject_cast<QMessageBox *>(child);
    auto *label = box != nullptr ? box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")) : nullptr;
    if (label != nullptr)
        label->setAccessibleName(box->text().split(u'\n', Qt::SkipEmptyParts).join(u' '));
}

void TBK_ControlMain::ButtonCompareClick()
{
    QString fileName;
    const bool chosen = ChooseFile(session.standIns.comparisonFile, OpenDialogEnemy(), fileName);
    ReturnFromComparisonDialog();
    if (!chosen)
        return;
    ScoreFileStatus status;
    if (!ReadComparisonFile(fileName, &status)) {
        const QString name = QFileInfo(fileName).fileName();
        const bool namesNoChart = status.refusal == ScoreFileRefusal::None || status.refusal == ScoreFileRefusal::NamesNoChart;
        Announce(namesNoChart ? QStringLiteral("%1 names no chart; nothing compared").arg(name)
                              : QStringLiteral("%1 could not be read; nothing compared").arg(name));
        return;
    }
    compareMode = true;
    SetLastColumnCaption(QStringLiteral("Diff."));
    FillScoreList();
    UpdateTotals();
    ButtonCompareReset->setEnabled(true);
}

// The dialog's name completion is a popup window of its own, which holds the keyboard grab.
// When Enter accepts the dialog while the completion shows, Qt hides the dialog with the popup
// still open: the popup stays on top and eats the next click, and with a screen reader listening
// the window mostly never becomes active again, the focus left on the vanished dialog's field.
// Closed as the key arrives, while the dialog still has the focus, it is gone before the dialog.
void TBK_ControlMain::CloseComparisonCompletion()
{
    for (QCompleter *completer : OpenDialog_Enemy->findChildren<QCompleter *>())
        completer->popup()->hide();
}

bool TBK_ControlMain::IsComparisonCompletion(const QObject *object) const
{
    if (OpenDialog_Enemy == nullptr || !object->isWidgetType())
        return false;
    const QList<QCompleter *> completers = OpenDialog_Enemy->findChildren<QCompleter *>();
    return std::any_of(completers.begin(), completers.end(),
                       [object](const QCompleter *completer) { return completer->popup() == object; });
}

// The window asks for the activation and gives the list the focus only once the dialog's window
// is off the screen, so that the request follows the window manager's own focus change as the
// dialog goes rather than racing it.
void TBK_ControlMain::ReturnFromComparisonDialog()
{
    CloseComparisonCompletion();
    QWindow *dialogWindow = OpenDialog_Enemy->windowHandle();
    if (dialogWindow != nullptr && dialogWindow->isExposed())
        dialogWindow->installEventFilter(this);  // ComparisonDialogGone, on its last expose
    else
        ComparisonDialogGone();
}

void TBK_ControlMain::ComparisonDialogGone()
{
    if (QWindow *dialogWindow = OpenDialog_Enemy->windowHandle())
        dialogWindow->removeEventFilter(this);
    activateWindow();
    ListViewScores->setFocus(Qt::OtherFocusReason);
}

void TBK_ControlMain::ButtonCompareResetClick()
{
    compareMode = false;
    SetLastColumnCaption(QStringLiteral("%"));
    FillScoreList();
    UpdateTotals();
    ButtonCompareReset->setEnabled(false);
    Announce(QStringLiteral("comparison ended; percentages and ranks shown"));
}

// The toolkit's own file dialog writes its history and the last folder it showed into the
// player's configuration (QtProject.conf) as it is destroyed: a file no part of the program
// names. While the window's dialogs are destroyed, that configuration is looked for where no
// folder can ever be made, and its own place is given back at once, so that nothing else moves.
// On Windows the toolkit keeps it in the registry, which no path moves.
void TBK_ControlMain::DeleteFileDialogs()
{
    if (OpenDialog_Enemy == nullptr && SaveDialog_Export == nullptr)
        return;
    const QString configuration =
        QFileInfo(QSettings(QSettings::UserScope, QStringLiteral("QtProject")).fileName()).absolutePath();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("/dev/null/none"));
    delete OpenDialog_Enemy;
    delete SaveDialog_Export;
    OpenDialog_Enemy = nullptr;
    SaveDialog_Export = nullptr;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configuration);
}
