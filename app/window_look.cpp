#include "Bk_control_main.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <QApplication>
#include <QFontDatabase>
#include <QIcon>
#include <QIconEngine>
#include <QResource>
#include <QSysInfo>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QWindow>

#include "window_parts.h"

using namespace window_parts;

namespace {

constexpr int LegacyLightWeight = 40;  // on the 0-99 scale, where normal is 50

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
        QPixmap picture = QPixmap::fromImage(IconPicture(source));
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
    static constexpr int LargestRawSize = 64;

    static QImage IconPicture(int side)
    {
        if (side > LargestRawSize)
            return ReadImage(QStringLiteral(":/icons/%1.png").arg(side), "png");
        const QResource raw(QStringLiteral(":/icons/%1.argb").arg(side));
        const qsizetype bytesPerLine = qsizetype(side) * 4;
        if (raw.compressionAlgorithm() != QResource::NoCompression || raw.size() != bytesPerLine * side)
            return {};
        // The image borrows the resource's bytes, already in the pixmap's own format, so the
        // pixmap made from it shares them instead of converting a copy.
        if constexpr (QSysInfo::ByteOrder == QSysInfo::LittleEndian)
            return QImage(raw.data(), side, side, bytesPerLine, QImage::Format_ARGB32_Premultiplied);
        else
            return QImage(raw.data(), side, side, bytesPerLine, QImage::Format_RGBA8888_Premultiplied).rgbSwapped();
    }
};

// Runs a step once, as soon as the first frame showing the widget has been painted and flushed:
// the call posted from the paint event waits until the whole paint pass is over.
class FirstPaintWatch : public QObject {
public:
    FirstPaintWatch(QWidget *widget, std::function<void()> step) : QObject(widget), step_(std::move(step))
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

}  // namespace

namespace window_parts {

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

void AfterFirstPaint(QWidget *widget, std::function<void()> step)
{
    new FirstPaintWatch(widget, std::move(step));
}

QIcon WindowIcon()
{
    return QIcon(new WindowIconEngine);
}

}  // namespace window_parts

void TBK_ControlMain::SetFallbackFontFolder(const QString &folder)
{
    FallbackFontFolder() = folder;
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
