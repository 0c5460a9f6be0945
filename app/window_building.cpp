#include "Bk_control_main.h"

#include <algorithm>
#include <QApplication>
#include <QFontMetricsF>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QtMath>
#include <QSessionManager>
#include <QStyle>
#include <QTreeView>
#include <QWindow>

#include "chart_ordering.h"
#include "play_journal.h"
#include "session.h"
#include "window_parts.h"

using namespace window_parts;

namespace {

constexpr int EntryFieldMaxLength = 5;
// Where the controls to the right of the labels begin: the fields and results, the percentage
// beside the rank, the list; and the totals panel's width.
constexpr int FieldLeft = 250;
constexpr int PercentLeft = 300;
constexpr int ListLeft = 346;
constexpr int TotalsWidth = 415;

// A label is one line high and as wide as the room up to its right-hand neighbour, once: then no
// longer text is ever cut, and a new text costs no measuring, only its painting. The line is the
// height the label would size itself to for any text in its font.
QLabel *MakeLabel(QWidget *parent, const char *name, QPoint position, int room, const QString &text, const QFont &font)
{
    auto *label = MakeControl<QLabel>(parent, name, QRect(position, QSize(room, qCeil(QFontMetricsF(font).height()))));
    label->setFont(font);
    label->setText(text);
    return label;
}

}  // namespace

namespace window_parts {

// A box opens over the window it belongs to only when it has one: on Wayland the compositor alone
// places windows, and it puts a box without a parent anywhere. None is active while the close
// button of a compositor or a logout asks the question; the program's window stands in then.
QWidget *BoxParent()
{
    if (QWidget *active = QApplication::activeWindow())
        return active;
    const QWidgetList windows = QApplication::topLevelWidgets();
    const auto main = std::find_if(windows.begin(), windows.end(), [](const QWidget *window) {
        return window->isVisible() && qobject_cast<const TBK_ControlMain *>(window) != nullptr;
    });
    return main != windows.end() ? *main : nullptr;
}

QPushButton *MakeButton(QWidget *parent, const char *name, QRect geometry, const QString &text)
{
    auto *button = MakeControl<QPushButton>(parent, name, geometry);
    button->setText(text);
    button->setAutoDefault(true);  // Enter presses the focused button, as Space does
    return button;
}

}  // namespace window_parts

// The picture and the icon are compiled into this static library, whose resource
// registration the linker would otherwise drop.
static void RegisterWindowResources()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    Q_INIT_RESOURCE(brisko);
    InstallAccessibleRoles();
}

TBK_ControlMain::TBK_ControlMain(QWidget *parent)
    : QWidget(parent), session(TSession::Current()), playJournal(std::make_unique<PlayJournal>())
{
    RegisterWindowResources();
    BuildWindow();
    BuildInsertPanel();
    chartOrder = new ChartOrder{};
    ClearEntryFields();
    InitChartTable(chartOrder);
    ShowAfterStart(session.LoadOwnScoreFile());
    ShowAfterStart(session.TakeInRecoveryFiles());
    SortCharts(chartOrder, sortKey, sortAscending);
    FillScoreList();
    UpdateTotals();
    ListViewScores->setFocus();
    PlaceCentredOnScreen();
    AfterFirstPaint(PanelInsert, Guarded([this] { FinishStart(); }));
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            Guarded([this](QSessionManager &manager) { SessionEnding(manager); }));
}

// What the first frame does not show, done once it is on screen, so that the player waits for
// none of it; the comparison dialog follows in parts whenever the event loop is idle. The warning panel is not made until a warning is due: most plays never see it, and
// two of its fonts are used nowhere else.
void TBK_ControlMain::FinishStart()
{
    setWindowIcon(WindowIcon());
    BuildTotalsKey();
    PrepareComparisonDialog();
}

TBK_ControlMain::~TBK_ControlMain()
{
    // The controls die after this body; none of them may call back into a half-destroyed window.
    for (QObject *child : findChildren<QObject *>())
        child->blockSignals(true);
    DeleteFileDialogs();
    currentChart = nullptr;
    delete chartOrder;
    chartOrder = nullptr;
}

const char *TBK_ControlMain::ApplicationTitle()
{
    return "Brisko Calculator";
}

void TBK_ControlMain::BuildWindow()
{
    // First: Qt 6.8 makes and keeps the window's accessible object as soon as the title is set
    // while a reader listens, and it keeps the role it was made with.
    SetAccessibleRole(this, QAccessible::Window);
    setObjectName(QStringLiteral("BK_ControlMain"));
    setWindowTitle(QStringLiteral("Brisko Calculator - ver. 1.1.00  (by Wren)"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMinimizeButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(ClientWidth, ClientHeight);
    setFont(WindowFont(SmallPixels, false));
    SetBackground(this, WindowGreen);
}

void TBK_ControlMain::BuildInsertPanel()
{
    PanelInsert = MakeControl<QFrame>(this, "PanelInsert", QRect(0, 0, ClientWidth, ClientHeight));
    PanelInsert->setFrameStyle(QFrame::NoFrame);
    SetBackground(PanelInsert, WindowGreen);
    // A panel with a role of its own is read, with every label in it, as the context of the focus
    // each time the focus comes back from the warning or a dialog: these only lay out.
    SetAccessibleRole(PanelInsert, QAccessible::Client);
    PanelInsert->setAccessibleName(QStringLiteral("Score entry"));

    ImageBrisko = MakeControl<QLabel>(PanelInsert, "ImageBrisko", QRect(8, 8, 165, 338));  // drawn once shown
    Describe(ImageBrisko, QStringLiteral("Brisko Calculator picture"),
             QStringLiteral("Artwork: a dance pad with arrows under the program's name"));

    Bevel1 = MakeControl<QFrame>(PanelInsert, "Bevel1", QRect(180, 161, 160, 10));
    Bevel2 = MakeControl<QFrame>(PanelInsert, "Bevel2", QRect(180, 275, 160, 10));
    for (QFrame *rule : {Bevel1, Bevel2}) {
        rule->setFrameStyle(QFrame::HLine | QFrame::Sunken);
        rule->setContentsMargins(0, 0, 0, 0);
        rule->setFixedHeight(2);  // a rule along the top edge of its design box
        SetAccessibleRole(rule, QAccessible::Separator);
    }

    BuildEntryFields();
    BuildResultLabels();
    BuildButtons();
    BuildScoreList();
    BuildTotalsPanel();
    SetTabOrder();
}

void TBK_ControlMain::BuildEntryFields()
{
    struct FieldRow {
        const char *labelName;
        QPoint labelPosition;
        const char *caption;
        const char *fieldName;
        int top;
        QLineEdit *TBK_ControlMain::*field;
        QLabel *TBK_ControlMain::*label;
        const char *accessibleName;
        const char *description;
        void (TBK_ControlMain::*change)();
    };
    const FieldRow rows[] = {
        {"LabelGreat", QPoint(185, 15), "&Great", "MemoGreat", 12, &TBK_ControlMain::MemoGreat,
         &TBK_ControlMain::LabelGreat, "Great count",
         "Steps judged Great, one DP each; filled with the stored DP lost when a chart is chosen",
         &TBK_ControlMain::MemoGreatChange},
        {"LabelGood", QPoint(185, 45), "Goo&d", "MemoGood", 42, &TBK_ControlMain::MemoGood,
         &TBK_ControlMain::LabelGood, "Good count", "Steps judged Good, two DP each", &TBK_ControlMain::MemoGoodChange},
        {"LabelBoo", QPoint(185, 75), "&Boo", "MemoBoo", 72, &TBK_ControlMain::MemoBoo,
         &TBK_ControlMain::LabelBoo, "Boo count", "Steps judged Boo, six DP each", &TBK_ControlMain::MemoBooChange},
        {"LabelMiss", QPoint(185, 105), "&Miss", "MemoMiss", 102, &TBK_ControlMain::MemoMiss,
         &TBK_ControlMain::LabelMiss, "Miss count", "Steps judged Miss, ten DP each", &TBK_ControlMain::MemoMissChange},
        {"LabelOK", QPoint(185, 135), "&OK", "MemoOK", 132, &TBK_ControlMain::MemoOK, &TBK_ControlMain::LabelOK,
         "OK freeze count", "Freezes judged OK; every freeze not OK loses six DP", &TBK_ControlMain::MemoOKChange},
    };
    // A QLineEdit lays out its empty text in the application's font inside its constructor,
    // before its own font applies. With the window's font standing in for the application's
    // meanwhile, that costs no font the window never shows.
    const QFont applicationFont = QApplication::font();
    QApplication::setFont(font());
    for (const FieldRow &row : rows) {
        QLineEdit *field = MakeControl<QLineEdit>(PanelInsert, row.fieldName, QRect(FieldLeft, row.top, 85, 20));
        field->setMaxLength(EntryFieldMaxLength);
        field->installEventFilter(this);
        Describe(field, QString::fromLatin1(row.accessibleName), QString::fromLatin1(row.description));
        connect(field, &QLineEdit::textChanged, this, Guarded([this, change = row.change] { (this->*change)(); }));
        QLabel *label = MakeLabel(PanelInsert, row.labelName, row.labelPosition, FieldLeft - row.labelPosition.x(), QString::fromLatin1(row.caption),
                                  WindowFont(SmallPixels, false));
        label->setBuddy(field);
        label->setAccessibleName(field->accessibleName());  // a reader names the field by its label
        this->*row.field = field;
        this->*row.label = label;
    }
    QApplication::setFont(applicationFont);
}

void TBK_ControlMain::BuildResultLabels()
{
    const QFont caption = WindowFont(LargePixels, false);
    const QFont result = WindowFont(LargePixels, true);
    LabelDPMax = MakeLabel(PanelInsert, "LabelDPMax", QPoint(184, 173), FieldLeft - 184, QStringLiteral("Max DP:"), caption);
    LabelDPFreeze = MakeLabel(PanelInsert, "LabelDPFreeze", QPoint(FieldLeft, 173), ListLeft - FieldLeft, QStringLiteral("DPFrz:"), result);
    LabelDPMiss = MakeLabel(PanelInsert, "LabelDPMiss", QPoint(185, 209), FieldLeft - 185, QStringLiteral("Greats:"), caption);
    LabelDPMissResult =
        MakeLabel(PanelInsert, "LabelDPMissResult", QPoint(FieldLeft, 209), ListLeft - FieldLeft, QStringLiteral("Greats:"), result);
    LabelRank = MakeLabel(PanelInsert, "LabelRank", QPoint(185, 249), FieldLeft - 185, QStringLiteral("Rank:"), caption);
    LabelRankResult = MakeLabel(PanelInsert, "LabelRankResult", QPoint(FieldLeft, 249), PercentLeft - FieldLeft, QStringLiteral("Rank:"), result);
    LabelPercResult = MakeLabel(PanelInsert, "LabelPercResult", QPoint(PercentLeft, 254), ListLeft - PercentLeft, QStringLiteral("Perc:"),
                                WindowFont(SmallPixels, true));
    for (QLabel *label : {LabelDPFreeze, LabelDPMissResult, LabelRankResult, LabelPercResult})
        SetTextColour(label, ResultRed);
    DescribeResult(LabelDPFreeze, QStringLiteral("Max DP and freezes"),
                   QStringLiteral("The chart's maximum DP and its freeze count"));
    DescribeResult(LabelDPMissResult, QStringLiteral("Greats"),
                   QStringLiteral("DP lost by the play typed in the entry fields, one Great for each DP"));
    DescribeResult(LabelRankResult, QStringLiteral("Rank"),
                   QStringLiteral("Rank letters of the play typed in the entry fields"));
    DescribeResult(LabelPercResult, QStringLiteral("Percentage"),
                   QStringLiteral("Percentage of the chart's DP kept by the play"));
    BuildResultNotice();
}

void TBK_ControlMain::BuildButtons()
{
    ButtonInsert = MakeButton(PanelInsert, "ButtonInsert", QRect(184, 288, 70, 25), QStringLiteral("&Insert"));
    ButtonFilePrint = MakeButton(PanelInsert, "ButtonFilePrint", QRect(266, 288, 70, 25), QStringLiteral("&File Print"));
    ButtonCompare = MakeButton(PanelInsert, "ButtonCompare", QRect(184, 321, 70, 25), QStringLiteral("Co&mpare"));
    ButtonCompareReset =
        MakeButton(PanelInsert, "ButtonCompareReset", QRect(266, 321, 70, 25), QStringLiteral("Comp. &Reset"));
    ButtonCompareReset->setEnabled(false);
    for (QPushButton *button : {ButtonFilePrint, ButtonCompare, ButtonCompareReset})
        button->setFocusPolicy(Qt::ClickFocus);  // reached by click or mnemonic, not by Tab
    // "&Miss" and "Co&mpare" share Alt+M; the window decides where it goes (MissOrCompareMnemonic).
    LabelMiss->installEventFilter(this);
    ButtonCompare->installEventFilter(this);

    Describe(ButtonInsert, QStringLiteral("Insert, store the score"),
             QStringLiteral("Stores the result with today's date as the chart's score and saves Scores.txt"));
    Describe(ButtonFilePrint, QStringLiteral("File Print"),
             QStringLiteral("Writes all charts in the list's order to OutPrint.txt"));
    Describe(ButtonCompare, QStringLiteral("Compare"),
             QStringLiteral("Opens another player's score file and compares it chart by chart"));
    Describe(ButtonCompareReset, QStringLiteral("Comp. Reset, end the comparison"),
             QStringLiteral("Leaves comparison mode and shows percentages and ranks again"));

    connect(ButtonInsert, &QPushButton::clicked, this, Guarded([this] { ButtonInsertClick(ButtonInsert); }));
    connect(ButtonFilePrint, &QPushButton::clicked, this, Guarded([this] { ButtonFilePrintClick(); }));
    connect(ButtonCompare, &QPushButton::clicked, this, Guarded([this] { ButtonCompareClick(); }));
    connect(ButtonCompareReset, &QPushButton::clicked, this, Guarded([this] { ButtonCompareResetClick(); }));
}

void TBK_ControlMain::BuildTotalsPanel()
{
    PanelTotals = MakeControl<QFrame>(PanelInsert, "PanelTotals", QRect(ListLeft, 307, TotalsWidth, 37));
    PanelTotals->setFrameStyle(QFrame::NoFrame);
    SetBackground(PanelTotals, PanelSilver);
    SetAccessibleRole(PanelTotals, QAccessible::Client);
    PanelTotals->setAccessibleName(QStringLiteral("Totals"));
    LabelTotalRanks = MakeLabel(PanelTotals, "LabelTotalRanks", QPoint(3, 0), TotalsWidth - 3, QStringLiteral("Total Ranks:"),
                                WindowFont(LargePixels, false));
    LabelTotalDP = MakeLabel(PanelTotals, "LabelTotalDP", QPoint(3, 22), TotalsWidth - 3, QStringLiteral("Total DPs:"),
                             WindowFont(SmallPixels, false));
    for (QLabel *label : {LabelTotalRanks, LabelTotalDP}) {
        SetTextColour(label, TotalsBlack);
        SetBackground(label, PanelSilver);
    }
    // Their texts say what they count, and a reader reads them as they are.
    LabelTotalRanks->setAccessibleDescription(
        QStringLiteral("How many charts stand at each rank, or won, lost and drawn in comparison mode"));
    LabelTotalDP->setAccessibleDescription(
        QStringLiteral("DP gained over all charts, the overall percentage and the DP missed, or the comparison margins"));
}

void TBK_ControlMain::SetTabOrder()
{
    QWidget::setTabOrder(ListViewScores, MemoGreat);
    QWidget::setTabOrder(MemoGreat, MemoGood);
    QWidget::setTabOrder(MemoGood, MemoBoo);
    QWidget::setTabOrder(MemoBoo, MemoMiss);
    QWidget::setTabOrder(MemoMiss, MemoOK);
    QWidget::setTabOrder(MemoOK, ButtonInsert);
}

// Centred on the screen, frame included. A window larger than the free area, frame included (a
// high scale on a small screen), starts at its top-left corner, where the title bar and the
// first controls can be reached, rather than centred partly off-screen. An X11 window manager
// frames the window only once it is shown: until then a title bar of the style's height decides
// whether the window fits.
void TBK_ControlMain::PlaceCentredOnScreen()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect available = screen->availableGeometry();
    const QMargins frame = Frame();
    const QSize framed = size().grownBy(frame);
    const QSize needed =
        frame.isNull() ? size().grownBy(QMargins(0, style()->pixelMetric(QStyle::PM_TitleBarHeight), 0, 0)) : framed;
    const auto start = [](int freeStart, int freeLength, int neededLength, int framedLength) {
        return neededLength > freeLength ? freeStart : freeStart + (freeLength - framedLength) / 2;
    };
    move(start(available.left(), available.width(), needed.width(), framed.width()),
         start(available.top(), available.height(), needed.height(), framed.height()));
}

// The frame as far as the platform has told it.
QMargins TBK_ControlMain::Frame() const
{
    const QRect outer = frameGeometry();
    const QRect inner = geometry();
    return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
            outer.bottom() - inner.bottom()};
}

// Once the real frame is known the window is placed again: unseen, where the platform tells the
// frame before the window shows, and otherwise only if the frame sticks out of the free area.
void TBK_ControlMain::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    QScreen *screen = QGuiApplication::primaryScreen();
    if (frameKnown || Frame().isNull() || screen == nullptr)
        return;
    frameKnown = true;
    const bool seen = windowHandle() != nullptr && windowHandle()->isExposed();
    if (!seen || !screen->availableGeometry().contains(frameGeometry()))
        PlaceCentredOnScreen();
}
