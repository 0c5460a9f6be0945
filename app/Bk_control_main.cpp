#include "Bk_control_main.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <iterator>
#include <type_traits>
#include <stdexcept>
#include <utility>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QCompleter>
#include <QDate>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QIconEngine>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSessionManager>
#include <QShortcutEvent>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QWindow>

#include "chart_ordering.h"
#include "dp_scoring.h"
#include "entry_conversion.h"
#include "print_file.h"
#include "score_file.h"
#include "score_file_lock.h"
#include "score_text.h"
#include "totals.h"

namespace {

constexpr int ClientWidth = 763;
constexpr int ClientHeight = 350;
constexpr int EntryFieldMaxLength = 5;
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
constexpr int ListColumnCount = int(std::size(ListColumns));
constexpr int LastColumn = ListColumnCount - 1;  // "%", or "Diff." in comparison mode

const QColor WindowGreen(0, 128, 0);
const QColor ResultRed(255, 0, 0);
const QColor PanelSilver(192, 192, 192);
const QColor TotalsBlack(0, 0, 0);

constexpr int SmallPixels = 11;
constexpr int LargePixels = 16;
constexpr int LegacyLightWeight = 40;  // on the 0-99 scale, where normal is 50

void ShowErrorBox(const QString &message)
{
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(TBK_ControlMain::ApplicationTitle()), message,
                    QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

bool ExecFileDialog(QFileDialog &dialog, QString &fileName)
{
    if (dialog.exec() != QDialog::Accepted)
        return false;
    fileName = dialog.selectedFiles().value(0);
    return true;
}

TBK_ControlMain::UnsavedScoresAnswer AskAboutUnsavedScores(int unsavedCount)
{
    const QString text = unsavedCount == 1 ? QStringLiteral("1 score is not saved in %1.")
                                           : QStringLiteral("%1 scores are not saved in %2.").arg(unsavedCount);
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(TBK_ControlMain::ApplicationTitle()),
                    text.arg(QString::fromLatin1(ScoreFileName)), QMessageBox::NoButton, QApplication::activeWindow());
    box.setInformativeText(QStringLiteral("Save again before closing, discard, or keep the window open?"));
    QPushButton *save = box.addButton(QStringLiteral("&Save again"), QMessageBox::AcceptRole);
    QPushButton *discard = box.addButton(QStringLiteral("&Discard"), QMessageBox::DestructiveRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(save);
    box.exec();
    if (box.clickedButton() == save)
        return TBK_ControlMain::UnsavedScoresAnswer::SaveAgain;
    if (box.clickedButton() == discard)
        return TBK_ControlMain::UnsavedScoresAnswer::Discard;
    return TBK_ControlMain::UnsavedScoresAnswer::Cancel;
}

TBK_ControlMain::UnsavedScoresQuestion &UnsavedScoresQuestionSlot()
{
    static TBK_ControlMain::UnsavedScoresQuestion question = AskAboutUnsavedScores;
    return question;
}

TBK_ControlMain::ErrorPresenter &ErrorPresenterSlot()
{
    static TBK_ControlMain::ErrorPresenter presenter = ShowErrorBox;
    return presenter;
}

TBK_ControlMain::FileChooser &FileChooserSlot()
{
    static TBK_ControlMain::FileChooser chooser = ExecFileDialog;
    return chooser;
}

QString &FallbackFontFolder()
{
    static QString folder;
    return folder;
}

QString InstalledFamily(std::initializer_list<const char *> candidates)
{
    const QStringList installed = QFontDatabase::families();
    for (const char *name : candidates) {
        const QString candidate = QString::fromLatin1(name);
        for (const QString &entry : installed) {
            // a family from more than one foundry is listed once for each: "Name [Foundry]"
            if (entry.compare(candidate, Qt::CaseInsensitive) == 0 ||
                entry.startsWith(candidate + QStringLiteral(" ["), Qt::CaseInsensitive))
                return candidate;
        }
    }
    return {};
}

// The two faces the window draws with, from the program's own folder.
QString LoadFallbackFamily()
{
    QString family;
    for (const char *face : {"LiberationSans-Regular.ttf", "LiberationSans-Bold.ttf"}) {
        const int id = QFontDatabase::addApplicationFont(FallbackFontFolder() + u'/' + QString::fromLatin1(face));
        if (id < 0)
            return {};
        family = QFontDatabase::applicationFontFamilies(id).value(0);
    }
    return family;
}

// The design font, or where it is not installed the first of its substitutes with the same
// metrics, so that every text fits its control; where none of them is installed, the program's
// own copy of one of them. A font asked for by a family that is not installed costs a failed
// match and a fontconfig fallback search before any substitute is tried, and that for every
// size and weight the window uses.
const QString &DesignFamily()
{
    static const QString family = [] {
        QString found = InstalledFamily({"MS Sans Serif", "Liberation Sans", "Arimo"});
        if (found.isEmpty())
            found = LoadFallbackFamily();
        if (found.isEmpty())
            found = InstalledFamily({"DejaVu Sans"});
        return found.isEmpty() ? QStringLiteral("MS Sans Serif") : found;  // the toolkit's default font
    }();
    return family;
}

QFont WindowFont(int pixelSize, bool bold)
{
    QFont font(DesignFamily());
    font.setPixelSize(pixelSize);
    font.setStyleHint(QFont::SansSerif);
    if (bold) {
        font.setBold(true);
    } else {
        // The design weight is given on the old 0-99 scale; Qt still maps it exactly this way.
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        font.setLegacyWeight(LegacyLightWeight);
        QT_WARNING_POP
    }
    return font;
}

template <typename Widget> Widget *MakeControl(QWidget *parent, const char *name, QRect geometry)
{
    auto *widget = new Widget(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

void SetTextColour(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

void SetBackground(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// A widget draws with its parent's colours wherever it does not set its own, so the window's
// green would fill the list's scroll-bar trough and the header's empty end under some styles.
// The list takes every colour of the style's own palette instead.
void KeepStyleColours(QWidget *widget)
{
    const QPalette style = QApplication::palette(widget);
    QPalette palette;
    for (int group = 0; group < QPalette::NColorGroups; ++group) {
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            const auto colourGroup = QPalette::ColorGroup(group);
            const auto colourRole = QPalette::ColorRole(role);
            if (colourRole != QPalette::NoRole)
                palette.setBrush(colourGroup, colourRole, style.brush(colourGroup, colourRole));
        }
    }
    widget->setPalette(palette);
}

constexpr char ResultNameProperty[] = "briskoResultName";

// Labels size themselves to their text, so a longer result never gets cut. A screen reader
// reads a label's accessible name instead of its text, so a result label's name carries the
// value as well as what the value is. Qt reports every name set, changed or not, and a keystroke
// that leaves a result as it was must not make a reader hear of it.
void SetLabelText(QLabel *label, const QString &text)
{
    label->setText(text);
    label->adjustSize();
    const QString resultName = label->property(ResultNameProperty).toString();
    const QString value = text.trimmed();
    const QString name = value.isEmpty() ? resultName : resultName + QStringLiteral(": ") + value;
    if (!resultName.isEmpty() && label->accessibleName() != name)
        label->setAccessibleName(name);
}

QLabel *MakeLabel(QWidget *parent, const char *name, QRect geometry, const QString &text, const QFont &font)
{
    auto *label = MakeControl<QLabel>(parent, name, geometry);
    label->setFont(font);
    SetLabelText(label, text);
    return label;
}

// A label of the hidden warning panel keeps its design size until FinishStart sizes it to its
// text: measuring loads the font, and two of the panel's fonts are used nowhere else.
QLabel *MakeWarningLabel(QWidget *parent, const char *name, QRect geometry, const QString &text, const QFont &font)
{
    auto *label = MakeControl<QLabel>(parent, name, geometry);
    label->setFont(font);
    label->setText(text);
    return label;
}

// Reads an image in the one format it is kept in: a reader left to detect the format loads
// every image plugin installed before it tries its own.
QImage ReadImage(const QString &fileName, const char *format)
{
    QImageReader reader(fileName, format);
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

// The window icon, a picture drawn for each size from 16 to 256 pixels. It offers the sizes a
// window manager draws a window's icon at, 16 to 64; the larger pictures serve larger requests
// and scaled screens. A size is decoded when it is asked for, and nothing is kept: an X11
// window hands each offered size to the window manager once, when it gets the icon (a dialog,
// which shows its parent's icon, as it opens), and other platforms do not ask at all.
class WindowIconEngine : public QIconEngine {
public:
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        const QSize side = actualSize(size, mode, state);
        const int *drawn = std::find_if(std::begin(DrawnSizes), std::end(DrawnSizes),
                                        [&](int drawnSize) { return drawnSize >= side.width(); });
        const int source = drawn == std::end(DrawnSizes) ? DrawnSizes[std::size(DrawnSizes) - 1] : *drawn;
        QPixmap picture = QPixmap::fromImage(ReadImage(QStringLiteral(":/icons/%1.png").arg(source), "png"));
        if (picture.size() != side)
            picture = picture.scaled(side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        return picture;
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device()->devicePixelRatioF();
        painter->drawPixmap(rect, pixmap((QSizeF(rect.size()) * ratio).toSize(), mode, state));
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        const int side = std::min({size.width(), size.height(), DrawnSizes[std::size(DrawnSizes) - 1]});
        return QSize(side, side);
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        return {QSize(16, 16), QSize(32, 32), QSize(48, 48), QSize(64, 64)};
    }

    QIconEngine *clone() const override { return new WindowIconEngine; }

private:
    static constexpr int DrawnSizes[] = {16, 32, 48, 64, 128, 256};
};

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

// Runs a step once, as soon as the first frame showing the widget has been painted and flushed:
// the call posted from the paint event waits until the whole paint pass is over.
class AfterFirstPaint : public QObject {
public:
    AfterFirstPaint(QWidget *widget, std::function<void()> step) : QObject(widget), step_(std::move(step))
    {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QMetaObject::invokeMethod(this, [this] {
                step_();
                deleteLater();
            }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    std::function<void()> step_;
};

QPushButton *MakeButton(QWidget *parent, const char *name, QRect geometry, const QString &text)
{
    auto *button = MakeControl<QPushButton>(parent, name, geometry);
    button->setText(text);
    button->setAutoDefault(true);  // Enter presses the focused button, as Space does
    return button;
}

constexpr char AccessibleRoleProperty[] = "briskoAccessibleRole";
constexpr int ResultPauseMilliseconds = 500;

// Qt gives every plain QFrame and the bare top-level QWidget a generic role, which screen
// readers take for a window of its own (a frame) or skip as a filler; the window names the
// role these widgets really play.
QAccessibleInterface *WidgetInItsRole(const QString &, QObject *object)
{
    const QVariant role = object->property(AccessibleRoleProperty);
    if (!role.isValid() || !object->isWidgetType())
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Role(role.toInt()));
}

void SetAccessibleRole(QWidget *widget, QAccessible::Role role)
{
    widget->setProperty(AccessibleRoleProperty, int(role));
}

void Describe(QWidget *widget, const QString &name, const QString &description)
{
    widget->setAccessibleName(name);
    widget->setAccessibleDescription(description);
}

void DescribeResult(QLabel *label, const QString &name, const QString &description)
{
    label->setProperty(ResultNameProperty, name);
    label->setAccessibleDescription(description);
    SetLabelText(label, label->text());
}

// Only the one picture the screen needs is decoded: the drawn original on a plain screen, the
// double-size one on a scaled screen, smoothly resized for scales other than 2. The pictures are
// kept as plain PPM, uncompressed, which reads in a sixth of the time PNG takes to decode.
QPixmap BriskoPicture(QSize size, qreal ratio)
{
    QPixmap picture = QPixmap::fromImage(
        ReadImage(ratio > 1.0 ? QStringLiteral(":/brisko@2x.ppm") : QStringLiteral(":/brisko.ppm"), "ppm"));
    const QSize deviceSize = (QSizeF(size) * ratio).toSize();
    if (picture.size() != deviceSize)
        picture = picture.scaled(deviceSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    picture.setDevicePixelRatio(ratio);
    return picture;
}

ChartRecord *ChartOfRow(const QTreeWidgetItem *item)
{
    return item == nullptr ? nullptr : static_cast<ChartRecord *>(item->data(0, ChartRole).value<void *>());
}

QString Decimal(int64_t value)
{
    return QString::number(value);
}

bool IsEnterKey(const QKeyEvent *event)
{
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

// Ctrl+1 to Ctrl+6 stand for a click on the list's columns 1 to 6, so that sorting needs no
// mouse; the digit may come from the keypad. Any other key gives -1.
int SortShortcutColumn(const QKeyEvent *event)
{
    if ((event->modifiers() & ~Qt::KeypadModifier) != Qt::ControlModifier)
        return -1;
    const int digit = event->key() - Qt::Key_0;
    return digit >= 1 && digit <= LastColumn + 1 ? digit - 1 : -1;
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

// The picture and the icon are compiled into this static library, whose resource
// registration the linker would otherwise drop.
static void RegisterWindowResources()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    Q_INIT_RESOURCE(brisko);
    QAccessible::installFactory(WidgetInItsRole);
}

template <typename Handler> auto TBK_ControlMain::Guarded(Handler handler)
{
    return [handler](auto &&...arguments) {
        try {
            if constexpr (std::is_invocable_v<Handler, decltype(arguments)...>)
                handler(std::forward<decltype(arguments)>(arguments)...);
            else
                handler();  // the signal's arguments are not needed
        } catch (const EConvertError &error) {
            ShowError(error.Message());
        } catch (const std::exception &error) {
            ShowError(QString::fromUtf8(error.what()));
        } catch (...) {
            ShowError(QString());
        }
    };
}

TBK_ControlMain::TBK_ControlMain(QWidget *parent) : QWidget(parent)
{
    RegisterWindowResources();
    BuildWarningPanel();
    BuildInsertPanel();
    chartOrder = new ChartOrder{};
    ClearEntryFields();
    InitChartTable(chartOrder);
    LoadOwnScoreFile();
    SortCharts(chartOrder, sortKey, sortAscending);
    FillScoreList();
    UpdateTotals();
    ListViewScores->setFocus();
    PlaceCentredOnScreen();
    new AfterFirstPaint(PanelInsert, Guarded([this] { FinishStart(); }));
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            Guarded([this](QSessionManager &manager) { SessionEnding(manager); }));
}

// What the first frame does not show, done once it is on screen, so that the player waits for
// none of it: the icon, and the sizes of the hidden warning panel's labels.
void TBK_ControlMain::FinishStart()
{
    setWindowIcon(QIcon(new WindowIconEngine));
    for (QLabel *label : {LabelWarningTitle, LabelWarningMessage, LabelWarningContinue})
        label->adjustSize();
}

TBK_ControlMain::~TBK_ControlMain()
{
    // The controls die after this body; none of them may call back into a half-destroyed window.
    for (QObject *child : findChildren<QObject *>())
        child->blockSignals(true);
    currentChart = nullptr;
    delete chartOrder;
    chartOrder = nullptr;
}

const char *TBK_ControlMain::ApplicationTitle()
{
    return "Brisko Calculator";
}

void TBK_ControlMain::ShowError(QString message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        message += u'.';
    ErrorPresenterSlot()(message);
}

void TBK_ControlMain::SetErrorPresenter(ErrorPresenter presenter)
{
    ErrorPresenterSlot() = presenter ? std::move(presenter) : ShowErrorBox;
}

void TBK_ControlMain::SetComparisonFileChooser(FileChooser chooser)
{
    FileChooserSlot() = chooser ? std::move(chooser) : ExecFileDialog;
}

void TBK_ControlMain::SetUnsavedScoresQuestion(UnsavedScoresQuestion question)
{
    UnsavedScoresQuestionSlot() = question ? std::move(question) : AskAboutUnsavedScores;
}

void TBK_ControlMain::SetFallbackFontFolder(const QString &folder)
{
    FallbackFontFolder() = folder;
}

void TBK_ControlMain::BuildWarningPanel()
{
    setObjectName(QStringLiteral("BK_ControlMain"));
    setWindowTitle(QStringLiteral("Brisko Calculator - ver. 1.1.00  (by Wren)"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMinimizeButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(ClientWidth, ClientHeight);
    setFont(WindowFont(SmallPixels, false));
    SetBackground(this, WindowGreen);

    SetAccessibleRole(this, QAccessible::Window);

    // Created first, so that the entry panel lies on top of it.
    PanelWarning = MakeControl<QFrame>(this, "PanelWarning", QRect(0, 0, ClientWidth, ClientHeight));
    PanelWarning->setFrameStyle(QFrame::Panel | QFrame::Raised);
    PanelWarning->hide();
    SetBackground(PanelWarning, WindowGreen);

    LabelWarningTitle = MakeWarningLabel(PanelWarning, "LabelWarningTitle", QRect(312, 20, 128, 37),
                                         QStringLiteral("Warning"), WindowFont(32, true));
    SetTextColour(LabelWarningTitle, ResultRed);
    LabelWarningMessage = MakeWarningLabel(PanelWarning, "LabelWarningMessage", QRect(171, 96, 447, 20),
                                           QStringLiteral("You are inserting a greater amout of DPs than before!!! "),
                                           WindowFont(LargePixels, true));
    LabelWarningContinue = MakeWarningLabel(PanelWarning, "LabelWarningContinue", QRect(327, 148, 91, 24),
                                            QStringLiteral("Continue ?"), WindowFont(19, false));
    SetTextColour(LabelWarningContinue, ResultRed);

    ButtonWarningOK = MakeButton(PanelWarning, "ButtonWarningOK", QRect(259, 195, 75, 25), QStringLiteral("O&K"));
    ButtonWarningNO = MakeButton(PanelWarning, "ButtonWarningNO", QRect(418, 195, 75, 25), QStringLiteral("&Cancel"));
    // A reader announces the panel as an alert and reads its description: the words on the panel.
    SetAccessibleRole(PanelWarning, QAccessible::AlertMessage);
    Describe(PanelWarning, LabelWarningTitle->text(),
             LabelWarningMessage->text().trimmed() + u' ' + LabelWarningContinue->text());
    PanelWarning->installEventFilter(this);
    Describe(ButtonWarningOK, QStringLiteral("OK, store the worse score"),
             QStringLiteral("Stores the new result although it loses more DP than the stored score"));
    Describe(ButtonWarningNO, QStringLiteral("Cancel, keep the stored score"),
             QStringLiteral("Goes back to the entry without storing anything"));
    connect(ButtonWarningOK, &QPushButton::clicked, this, Guarded([this] { ButtonWarningOKClick(); }));
    connect(ButtonWarningNO, &QPushButton::clicked, this, Guarded([this] { ButtonWarningNOClick(); }));
}

void TBK_ControlMain::BuildInsertPanel()
{
    PanelInsert = MakeControl<QFrame>(this, "PanelInsert", QRect(0, 0, ClientWidth, ClientHeight));
    PanelInsert->setFrameStyle(QFrame::NoFrame);
    SetBackground(PanelInsert, WindowGreen);
    SetAccessibleRole(PanelInsert, QAccessible::Grouping);
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
        QRect labelGeometry;
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
        {"LabelGreat", QRect(185, 15, 26, 13), "&Great", "MemoGreat", 12, &TBK_ControlMain::MemoGreat,
         &TBK_ControlMain::LabelGreat, "Great count",
         "Steps judged Great, one DP each; filled with the stored DP lost when a chart is chosen",
         &TBK_ControlMain::MemoGreatChange},
        {"LabelGood", QRect(185, 45, 26, 13), "Goo&d", "MemoGood", 42, &TBK_ControlMain::MemoGood,
         &TBK_ControlMain::LabelGood, "Good count", "Steps judged Good, two DP each", &TBK_ControlMain::MemoGoodChange},
        {"LabelBoo", QRect(185, 75, 19, 13), "&Boo", "MemoBoo", 72, &TBK_ControlMain::MemoBoo,
         &TBK_ControlMain::LabelBoo, "Boo count", "Steps judged Boo, six DP each", &TBK_ControlMain::MemoBooChange},
        {"LabelMiss", QRect(185, 105, 21, 13), "&Miss", "MemoMiss", 102, &TBK_ControlMain::MemoMiss,
         &TBK_ControlMain::LabelMiss, "Miss count", "Steps judged Miss, ten DP each", &TBK_ControlMain::MemoMissChange},
        {"LabelOK", QRect(185, 135, 15, 13), "&OK", "MemoOK", 132, &TBK_ControlMain::MemoOK, &TBK_ControlMain::LabelOK,
         "OK freeze count", "Freezes judged OK; every freeze not OK loses six DP", &TBK_ControlMain::MemoOKChange},
    };
    // A QLineEdit lays out its empty text in the application's font inside its constructor,
    // before its own font applies. With the window's font standing in for the application's
    // meanwhile, that costs no font the window never shows.
    const QFont applicationFont = QApplication::font();
    QApplication::setFont(font());
    for (const FieldRow &row : rows) {
        QLineEdit *field = MakeControl<QLineEdit>(PanelInsert, row.fieldName, QRect(250, row.top, 85, 20));
        field->setMaxLength(EntryFieldMaxLength);
        field->installEventFilter(this);
        Describe(field, QString::fromLatin1(row.accessibleName), QString::fromLatin1(row.description));
        connect(field, &QLineEdit::textChanged, this, Guarded([this, change = row.change] { (this->*change)(); }));
        QLabel *label = MakeLabel(PanelInsert, row.labelName, row.labelGeometry, QString::fromLatin1(row.caption),
                                  WindowFont(SmallPixels, false));
        label->setBuddy(field);
        this->*row.field = field;
        this->*row.label = label;
    }
    QApplication::setFont(applicationFont);
}

void TBK_ControlMain::BuildResultLabels()
{
    const QFont caption = WindowFont(LargePixels, false);
    const QFont result = WindowFont(LargePixels, true);
    LabelDPMax = MakeLabel(PanelInsert, "LabelDPMax", QRect(184, 173, 59, 20), QStringLiteral("Max DP:"), caption);
    LabelDPFreeze = MakeLabel(PanelInsert, "LabelDPFreeze", QRect(250, 173, 55, 20), QStringLiteral("DPFrz:"), result);
    LabelDPMiss = MakeLabel(PanelInsert, "LabelDPMiss", QRect(185, 209, 53, 20), QStringLiteral("Greats:"), caption);
    LabelDPMissResult =
        MakeLabel(PanelInsert, "LabelDPMissResult", QRect(250, 209, 60, 20), QStringLiteral("Greats:"), result);
    LabelRank = MakeLabel(PanelInsert, "LabelRank", QRect(185, 249, 42, 20), QStringLiteral("Rank:"), caption);
    LabelRankResult = MakeLabel(PanelInsert, "LabelRankResult", QRect(250, 249, 47, 20), QStringLiteral("Rank:"), result);
    LabelPercResult = MakeLabel(PanelInsert, "LabelPercResult", QRect(300, 254, 30, 13), QStringLiteral("Perc:"),
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

// A reader stays with the field being typed into and leaves the result labels alone; what Qt
// 6.4 tells of a changed name or description, the object instead of its new text, a reader
// cannot speak at all. What a reader does speak is a notification as it is shown. So once the
// typing pauses the result is shown anew as one sentence in a notification of no size. It
// belongs to the window, not to the entry panel, so that the panel's return after the warning
// does not show it again.
void TBK_ControlMain::BuildResultNotice()
{
    NoticeResult = MakeControl<QWidget>(this, "NoticeResult", QRect(184, 209, 0, 0));
    SetAccessibleRole(NoticeResult, QAccessible::Notification);
    NoticeResult->hide();  // until there is something to say
    TimerResultPause = new QTimer(this);
    TimerResultPause->setObjectName(QStringLiteral("TimerResultPause"));
    TimerResultPause->setSingleShot(true);
    TimerResultPause->setInterval(ResultPauseMilliseconds);
    connect(TimerResultPause, &QTimer::timeout, this, Guarded([this] { TimerResultPauseTimer(); }));
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

void TBK_ControlMain::BuildTotalsPanel()
{
    PanelTotals = MakeControl<QFrame>(PanelInsert, "PanelTotals", QRect(346, 307, 415, 37));
    PanelTotals->setFrameStyle(QFrame::NoFrame);
    SetBackground(PanelTotals, PanelSilver);
    SetAccessibleRole(PanelTotals, QAccessible::Grouping);
    PanelTotals->setAccessibleName(QStringLiteral("Totals"));
    LabelTotalRanks = MakeLabel(PanelTotals, "LabelTotalRanks", QRect(3, 0, 89, 20), QStringLiteral("Total Ranks:"),
                                WindowFont(LargePixels, false));
    LabelTotalDP = MakeLabel(PanelTotals, "LabelTotalDP", QRect(3, 22, 50, 13), QStringLiteral("Total DPs:"),
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

// The dialog is a whole window of its own, and building it would take a third of the start-up
// time and 4 MiB for a command many players never use; it is built on the first Compare.
QFileDialog &TBK_ControlMain::OpenDialogEnemy()
{
    if (OpenDialog_Enemy != nullptr)
        return *OpenDialog_Enemy;
    OpenDialog_Enemy = new QFileDialog(this, QStringLiteral("Open for comparison"));
    OpenDialog_Enemy->setObjectName(QStringLiteral("OpenDialog_Enemy"));
    OpenDialog_Enemy->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog_Enemy->setFileMode(QFileDialog::ExistingFile);  // the path and the file must exist
    OpenDialog_Enemy->setNameFilter(QStringLiteral("Score files (*.txt)"));
    OpenDialog_Enemy->setDefaultSuffix(QStringLiteral("txt"));
    OpenDialog_Enemy->setViewMode(QFileDialog::Detail);
    OpenDialog_Enemy->selectFile(QStringLiteral("*.txt"));
    ShowFileDetailsWhole(*OpenDialog_Enemy);
    for (QCompleter *completer : OpenDialog_Enemy->findChildren<QCompleter *>())
        completer->popup()->installEventFilter(this);  // CloseComparisonCompletion on Enter
    return *OpenDialog_Enemy;
}

void TBK_ControlMain::SetTabOrder()
{
    QWidget::setTabOrder(ListViewScores, MemoGreat);
    QWidget::setTabOrder(MemoGreat, MemoGood);
    QWidget::setTabOrder(MemoGood, MemoBoo);
    QWidget::setTabOrder(MemoBoo, MemoMiss);
    QWidget::setTabOrder(MemoMiss, MemoOK);
    QWidget::setTabOrder(MemoOK, ButtonInsert);
    QWidget::setTabOrder(ButtonWarningOK, ButtonWarningNO);
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

TBK_ControlMain::EntryFieldList TBK_ControlMain::EntryFields() const
{
    return {MemoGreat, MemoGood, MemoBoo, MemoMiss, MemoOK};
}

void TBK_ControlMain::ClearEntryFields()
{
    for (QLineEdit *field : EntryFields())
        field->setText(QString());
    for (QLabel *label : {LabelDPFreeze, LabelDPMissResult, LabelRankResult, LabelPercResult})
        SetLabelText(label, QString());
}

bool TBK_ControlMain::RecalculateEntry()
{
    if (currentChart == nullptr)
        return false;
    const ChartRecord &chart = *currentChart;
    pendingDpLost = chart.maxDp;
    SetLabelText(LabelDPFreeze, QStringLiteral("%1 / %2").arg(chart.maxDp).arg(chart.freezes));

    int32_t great = ConvertEntryText(MemoGreat->text());
    int32_t good = ConvertEntryText(MemoGood->text());
    int32_t boo = ConvertEntryText(MemoBoo->text());
    int32_t miss = ConvertEntryText(MemoMiss->text());
    int32_t ok = chart.freezes != 0 ? ConvertEntryText(MemoOK->text()) : 0;  // never read without freezes

    uint16_t dpLost = ComputeDpLost(chart.maxDp, chart.freezes, great, good, boo, miss, ok);
    uint16_t percent = PercentHundredths(chart.maxDp, dpLost);
    SetLabelText(LabelDPMissResult, Decimal(dpLost));
    SetLabelText(LabelRankResult, QString::fromLatin1(RankName(percent)));
    SetLabelText(LabelPercResult, QString::fromLatin1(PercentLabelText(percent).text));
    pendingDpLost = dpLost;
    return true;
}

// The result as a reader says it: "DP lost 36, rank AA, 94.52 percent"; nothing before a chart
// is chosen.
QString TBK_ControlMain::ResultSentence() const
{
    const QString dpLost = LabelDPMissResult->text();
    if (dpLost.isEmpty())
        return QString();
    QString percent = LabelPercResult->text();
    if (percent.endsWith(u'%'))
        percent.chop(1);
    return QStringLiteral("DP lost %1, rank %2, %3 percent").arg(dpLost, LabelRankResult->text(), percent);
}

void TBK_ControlMain::AnnounceResultAfterPause()
{
    TimerResultPause->start();
}

// A chosen row is read out with its DP lost, rank and percentage, so its result is not said again.
void TBK_ControlMain::ResultHeardWithRow()
{
    TimerResultPause->stop();
    heardResult = ResultSentence();
}

// Said only when it differs from what the player heard last, and never over the warning.
void TBK_ControlMain::TimerResultPauseTimer()
{
    const QString sentence = ResultSentence();
    if (sentence.isEmpty() || sentence == heardResult || !PanelInsert->isVisible())
        return;
    heardResult = sentence;
    NoticeResult->hide();
    NoticeResult->setAccessibleName(sentence);
    NoticeResult->show();
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

void TBK_ControlMain::MemoGreatChange() { RecalculateEntry(); AnnounceResultAfterPause(); }
void TBK_ControlMain::MemoGoodChange() { RecalculateEntry(); AnnounceResultAfterPause(); }
void TBK_ControlMain::MemoBooChange() { RecalculateEntry(); AnnounceResultAfterPause(); }
void TBK_ControlMain::MemoMissChange() { RecalculateEntry(); AnnounceResultAfterPause(); }
void TBK_ControlMain::MemoOKChange() { RecalculateEntry(); AnnounceResultAfterPause(); }

bool TBK_ControlMain::FocusNextOnEnter(QKeyEvent *event, QWidget *next)
{
    if (!IsEnterKey(event))
        return false;
    next->setFocus(Qt::TabFocusReason);
    return true;
}

bool TBK_ControlMain::ListViewScoresKeyPress(QKeyEvent *event)
{
    const int column = SortShortcutColumn(event);
    if (column >= 0) {
        ListViewScoresColumnClick(column);
        return true;
    }
    FocusNextOnEnter(event, MemoGreat);
    return false;  // the list still receives the key
}

// A reader says the list's description whenever the list gets the focus, and every Insert and
// every Cancel gives it the focus back. The hint is for the first meeting: it goes once the list
// has lost the focus for the first time, and only after the focus has moved on, as a reader
// presents a change of the focused object's description and cannot read what Qt 6.4 sends.
void TBK_ControlMain::ListViewScoresExit()
{
    if (ListViewScores->accessibleDescription().isEmpty())
        return;
    QMetaObject::invokeMethod(
        this, Guarded([this] { ListViewScores->setAccessibleDescription(QString()); }), Qt::QueuedConnection);
}

bool TBK_ControlMain::MemoGreatKeyPress(QKeyEvent *event) { return DropChordText(event) || FocusNextOnEnter(event, MemoGood); }
bool TBK_ControlMain::MemoGoodKeyPress(QKeyEvent *event) { return DropChordText(event) || FocusNextOnEnter(event, MemoBoo); }
bool TBK_ControlMain::MemoBooKeyPress(QKeyEvent *event) { return DropChordText(event) || FocusNextOnEnter(event, MemoMiss); }
bool TBK_ControlMain::MemoMissKeyPress(QKeyEvent *event) { return DropChordText(event) || FocusNextOnEnter(event, MemoOK); }
bool TBK_ControlMain::MemoOKKeyPress(QKeyEvent *event) { return DropChordText(event) || FocusNextOnEnter(event, ButtonInsert); }

// A live mnemonic never reaches a field: the shortcut takes the key first. What does reach it
// with Alt or Meta held is a chord that is no mnemonic now (a disabled or hidden button's, or
// none), and QLineEdit would type its letter; with Ctrl alone QLineEdit already types nothing.
// AltGr still types: X11 reports it as a group switch, Windows as Ctrl with Alt.
bool TBK_ControlMain::DropChordText(const QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (event->text().isEmpty() || !(modifiers & (Qt::AltModifier | Qt::MetaModifier)))
        return false;
    const bool altGr = modifiers.testFlag(Qt::GroupSwitchModifier) ||
                       (modifiers.testFlag(Qt::AltModifier) && modifiers.testFlag(Qt::ControlModifier));
    return !altGr;
}

bool TBK_ControlMain::PanelWarningKeyPress(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Escape)
        return false;
    ButtonWarningNOClick();  // as Escape cancels any dialog
    return true;
}

// Qt hands an ambiguous mnemonic to its owners in turn, whatever has the focus, and remembers
// the turn across presses: left alone, every second Alt+M would land on Compare even when the
// player wants the Miss field. Here the focus decides: Alt+M goes to MemoMiss, and from
// MemoMiss on to ButtonCompare, which Space or Enter then presses.
void TBK_ControlMain::MissOrCompareMnemonic()
{
    QWidget *target = MemoMiss->hasFocus() ? static_cast<QWidget *>(ButtonCompare) : MemoMiss;
    target->setFocus(Qt::ShortcutFocusReason);
    setAttribute(Qt::WA_KeyboardFocusChange);
}

void TBK_ControlMain::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    QWindow *window = windowHandle();
    if (window == nullptr || window == pictureWindow)
        return;
    pictureWindow = window;
    connect(window, &QWindow::screenChanged, this, Guarded([this] { ShowPicture(); }));
    ShowPicture();
}

// The picture is drawn for the device pixel ratio of the screen the window is on, so that it
// stays sharp when the window moves to a screen with another scale.
void TBK_ControlMain::ShowPicture()
{
    ImageBrisko->setPixmap(BriskoPicture(ImageBrisko->size(), devicePixelRatioF()));
}

bool TBK_ControlMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Shortcut && (watched == LabelMiss || watched == ButtonCompare) &&
        static_cast<QShortcutEvent *>(event)->isAmbiguous()) {
        Guarded([this] { MissOrCompareMnemonic(); })();
        return true;
    }
    if (event->type() == QEvent::FocusOut && watched == ListViewScores) {
        Guarded([this] { ListViewScoresExit(); })();
        return false;
    }
    if (event->type() == QEvent::Expose && OpenDialog_Enemy != nullptr &&
        watched == OpenDialog_Enemy->windowHandle() && !OpenDialog_Enemy->windowHandle()->isExposed()) {
        Guarded([this] { ComparisonDialogGone(); })();
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    if (IsEnterKey(key) && IsComparisonCompletion(watched)) {
        Guarded([this] { CloseComparisonCompletion(); })();
        return false;  // the key goes on to the name field and accepts the dialog
    }
    bool consumed = false;
    Guarded([&] {
        if (watched == ListViewScores)
            consumed = ListViewScoresKeyPress(key);
        else if (watched == MemoGreat)
            consumed = MemoGreatKeyPress(key);
        else if (watched == MemoGood)
            consumed = MemoGoodKeyPress(key);
        else if (watched == MemoBoo)
            consumed = MemoBooKeyPress(key);
        else if (watched == MemoMiss)
            consumed = MemoMissKeyPress(key);
        else if (watched == MemoOK)
            consumed = MemoOKKeyPress(key);
        else if (watched == PanelWarning)
            consumed = PanelWarningKeyPress(key);
    })();
    return consumed || QWidget::eventFilter(watched, event);
}

bool TBK_ControlMain::CommitEntry(bool warnIfWorse)
{
    if (currentChart == nullptr)
        return false;
    if (warnIfWorse && currentChart->dpLost < pendingDpLost) {
        ShowWarningPanel();
        return false;
    }
    const QDate today = QDate::currentDate();
    currentChart->day = static_cast<uint8_t>(today.day());
    currentChart->month = static_cast<uint8_t>(today.month());
    currentChart->year = static_cast<uint16_t>(today.year());
    currentChart->dpLost = pendingDpLost;
    return true;
}

// Scores.txt is read again under the lock on every Insert, whatever its size or times say:
// another window or an editor may have written it, and it reads in well under a millisecond.
// The warning then compares with the score as the file has it.
void TBK_ControlMain::ButtonInsertClick(QObject *sender)
{
    if (currentChart == nullptr)
        return;
    const ScoreFileLock lock;
    const bool merged = MergeOwnFile();
    if (!CommitEntry(sender != nullptr)) {
        if (merged)
            ShowMergedScores();
        return;
    }
    uint32_t index = currentChart->index;
    unsavedScore[index] = true;
    SortCharts(chartOrder, sortKey, sortAscending);
    FillScoreList();
    UpdateTotals();
    const QString saveFailure = SaveOwnScoreFile(lock);
    SelectChartByIndex(index);
    ListViewScores->setFocus(Qt::OtherFocusReason);
    // The score stays in memory and in the list; the next insert, or closing, tries again.
    if (!saveFailure.isEmpty())
        throw std::runtime_error(saveFailure.toStdString());
}

// A Scores.txt that exists but was not read is never written over. The player hears why once
// the window is up, so that the window itself appears at once.
void TBK_ControlMain::LoadOwnScoreFile()
{
    LoadScoreFile(nullptr, &ownFileStatus);
    if (!IsRefusal(ownFileStatus))
        return;
    const QString message = QStringLiteral("%1 was not read: %2. The window starts without scores and leaves that file as it is")
                                .arg(QString::fromLatin1(ScoreFileName), QString::fromLocal8Bit(DescribeRefusal(ownFileStatus).text));
    QMetaObject::invokeMethod(this, [message] { ShowError(message); }, Qt::QueuedConnection);
}

// True when a score in the table changed. A refused file is tried again every time, as the
// player may have mended it.
bool TBK_ControlMain::MergeOwnFile()
{
    return MergeOwnScoreFile(unsavedScore, ownFileStatus);
}

// The file brought other scores than the window showed, and nothing was stored: the list shows
// the file's scores at once, while the entry keeps what the player typed for OK or Cancel.
void TBK_ControlMain::ShowMergedScores()
{
    const EntryFieldList fields = EntryFields();
    QString typed[std::size(fields)];
    std::transform(fields.begin(), fields.end(), typed, [](QLineEdit *field) { return field->text(); });
    SortCharts(chartOrder, sortKey, sortAscending);
    FillScoreList();
    UpdateTotals();
    for (size_t i = 0; i < std::size(fields); ++i)
        fields[i]->setText(typed[i]);
}

// Yields the message for a Scores.txt that was not saved, or nothing when it was.
QString TBK_ControlMain::SaveOwnScoreFile(const ScoreFileLock &lock)
{
    QString reason;
    SaveFailure failure;
    if (IsRefusal(ownFileStatus))
        reason = QString::fromLocal8Bit(DescribeRefusal(ownFileStatus).text);
    else if (lock.Busy())
        reason = QStringLiteral("Another window kept it locked");
    else if (!SaveScoreFile(&failure))
        reason = QString::fromLocal8Bit(failure.reason);
    else
        std::fill(std::begin(unsavedScore), std::end(unsavedScore), false);
    return reason.isEmpty() ? reason
                            : QStringLiteral("%1 could not be saved: %2").arg(QString::fromLatin1(ScoreFileName), reason);
}

// The save of Insert without a new score: under the lock, after reading the file again.
// Yields the message for a failure, as SaveOwnScoreFile does.
QString TBK_ControlMain::SaveScoresAgain()
{
    const ScoreFileLock lock;
    if (MergeOwnFile())
        ShowMergedScores();
    return SaveOwnScoreFile(lock);
}

int TBK_ControlMain::UnsavedScoreCount() const
{
    return int(std::count(std::begin(unsavedScore), std::end(unsavedScore), true));
}

// Closing ends the program, so scores that are not in Scores.txt are asked about first; with
// every score saved nothing is asked and nothing written. Where nothing may be asked (a session
// that ends without letting programs interact), saving is the one safe answer, and a failure
// can only go unsaid.
bool TBK_ControlMain::MayClose(bool mayAsk)
{
    const int unsaved = UnsavedScoreCount();
    if (unsaved == 0)
        return true;
    if (!mayAsk)
        return SaveScoresAgain().isEmpty();
    switch (UnsavedScoresQuestionSlot()(unsaved)) {
    case UnsavedScoresAnswer::SaveAgain: {
        const QString saveFailure = SaveScoresAgain();
        if (!saveFailure.isEmpty())
            ShowError(saveFailure);
        return saveFailure.isEmpty();
    }
    case UnsavedScoresAnswer::Discard:
        std::fill(std::begin(unsavedScore), std::end(unsavedScore), false);
        return true;
    case UnsavedScoresAnswer::Cancel:
        break;
    }
    return false;
}

void TBK_ControlMain::closeEvent(QCloseEvent *event)
{
    bool mayClose = true;
    Guarded([&] { mayClose = MayClose(true); })();
    if (mayClose)
        QWidget::closeEvent(event);
    else
        event->ignore();
}

// The desktop session asks every program before it ends (a logout); Cancel keeps it going.
void TBK_ControlMain::SessionEnding(QSessionManager &manager)
{
    if (!manager.allowsInteraction()) {
        MayClose(false);
        return;
    }
    const bool mayEnd = MayClose(true);
    manager.release();
    if (!mayEnd)
        manager.cancel();
}

// While the entry panel covers it, the warning panel is hidden as well: a covered OK button
// must not be reachable by Tab or by its mnemonic, where it would store without the test.
void TBK_ControlMain::ShowWarningPanel()
{
    PanelWarning->show();
    PanelInsert->hide();
    ButtonWarningOK->setFocus(Qt::OtherFocusReason);
    if (QAccessible::isActive()) {
        QAccessibleEvent alert(PanelWarning, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }
}

void TBK_ControlMain::ShowEntryPanel()
{
    PanelInsert->show();
    PanelWarning->hide();
}

void TBK_ControlMain::ButtonWarningOKClick()
{
    ShowEntryPanel();
    ButtonInsertClick(nullptr);
}

void TBK_ControlMain::ButtonWarningNOClick()
{
    ShowEntryPanel();
    ListViewScores->setFocus(Qt::OtherFocusReason);
}

void TBK_ControlMain::ButtonCompareClick()
{
    QString fileName;
    const bool chosen = FileChooserSlot()(OpenDialogEnemy(), fileName);
    ReturnFromComparisonDialog();
    if (!chosen)
        return;
    if (!LoadScoreFile(QFile::encodeName(fileName).constData()))
        return;
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
