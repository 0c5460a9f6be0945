#include <algorithm>

#include <QFileDialog>
#include <QFontMetricsF>
#include <QListView>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QTreeView>
#include <QWindow>

#include "window_fixture.h"

// The fixed layout on screens that scale it: CTest runs this at the scale factors 2 and 1.5
// (QT_SCALE_FACTOR), on two screens of different scale (tests/app/two_screens.json), and at
// scale 1 on a system whose only fonts are DejaVu's (FONTCONFIG_FILE).
// Texts are measured in fractional logical pixels, as the scaled fonts are drawn.
namespace {

QByteArray Record(const ChartRecord &chart, int dpLost)
{
    return QByteArray(chart.name) + "\n24/12/2026\n" + QByteArray::number(dpLost) + "\n----------\n";
}

int MaxDp(const ChartRecord &chart)
{
    return 2 * chart.steps + 6 * chart.freezes;
}

// Scores of every rank with three-digit counts, so that the rank totals are as long as they get;
// the chart with the largest maximum gets a perfect score, for the widest result texts.
QByteArray ScoresOfEveryRank(const ChartRecord &widest)
{
    struct Share {
        int charts;
        int lostPercent;
    };
    const Share shares[] = {{100, 0}, {50, 3}, {40, 10}, {30, 25}, {20, 45}, {10, 70}};
    QByteArray file;
    int index = 0;
    for (const Share &share : shares) {
        for (int i = 0; i < share.charts; ++i, ++index) {
            const ChartRecord &chart = ChartTable[index];
            file += Record(chart, &chart == &widest ? 0 : MaxDp(chart) * share.lostPercent / 100);
        }
    }
    return file;
}

// A friend who lost nothing anywhere, for the largest comparison margins.
QByteArray PerfectScores()
{
    QByteArray file;
    for (const ChartRecord &chart : ChartTable)
        file += Record(chart, 0);
    return file;
}

const ChartRecord &ChartWithTheLargestMaximum()
{
    const ChartRecord *largest = &ChartTable[0];
    for (const ChartRecord &chart : ChartTable)
        if (MaxDp(chart) > MaxDp(*largest))
            largest = &chart;
    return *largest;
}

QString Plain(QString text)
{
    return text.remove(u'&');
}

QString Describe(const QWidget *widget)
{
    return widget->objectName().isEmpty() ? QString::fromLatin1(widget->metaObject()->className()) : widget->objectName();
}

bool IsRule(const QWidget *widget)
{
    auto *frame = qobject_cast<const QFrame *>(widget);
    return frame != nullptr && frame->frameShape() == QFrame::HLine;
}

}  // namespace

class TestWindowHighDpi : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowFixture> fixture_;
    WindowFixture &f() { return *fixture_; }
    qreal scale_ = 1;
    QStringList problems_;

    void Problem(const QWidget *widget, const QString &what) { problems_ << Describe(widget) + QStringLiteral(": ") + what; }

    void CheckLabel(QLabel *label)
    {
        if (label->text().isEmpty())
            return;
        const QFontMetricsF metrics(label->font());
        const qreal needed = metrics.horizontalAdvance(Plain(label->text()));
        if (needed > label->contentsRect().width())
            Problem(label, QStringLiteral("text needs %1 of %2 pixels").arg(needed).arg(label->contentsRect().width()));
        if (metrics.height() > label->height())
            Problem(label, QStringLiteral("text is %1 high in %2").arg(metrics.height()).arg(label->height()));
        QWidget *parent = label->parentWidget();
        if (!parent->rect().contains(label->geometry()))
            Problem(label, QStringLiteral("sticks out of %1").arg(Describe(parent)));
        for (QWidget *sibling : parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (sibling != label && sibling->isVisible() && !IsRule(sibling) &&
                sibling->geometry().intersects(label->geometry()))
                Problem(label, QStringLiteral("runs into %1").arg(Describe(sibling)));
        }
    }

    void CheckButton(QPushButton *button)
    {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const QRect contents = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        const qreal needed = QFontMetricsF(button->font()).horizontalAdvance(Plain(button->text()));
        if (needed > contents.width())
            Problem(button, QStringLiteral("caption needs %1 of %2 pixels").arg(needed).arg(contents.width()));
    }

    // QLineEdit draws its text inside the style's contents rectangle, less its text margins
    // and two pixels left and right, one above and below.
    void CheckField(QLineEdit *field)
    {
        QStyleOptionFrame option;
        option.initFrom(field);
        option.lineWidth = field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, field);
        const QRect contents = field->style()
                                   ->subElementRect(QStyle::SE_LineEditContents, &option, field)
                                   .marginsRemoved(field->textMargins())
                                   .adjusted(2, 1, -2, -1);
        const QFontMetricsF metrics(field->font());
        const qreal needed = metrics.horizontalAdvance(QString(field->maxLength(), u'8'));
        if (needed > contents.width())
            Problem(field, QStringLiteral("%1 digits need %2 of %3 pixels").arg(field->maxLength()).arg(needed).arg(contents.width()));
        if (metrics.height() > contents.height())
            Problem(field, QStringLiteral("text is %1 high in %2").arg(metrics.height()).arg(contents.height()));
    }

    void CheckList(QTreeView *list)
    {
        QHeaderView *header = list->header();
        const int headerMargin = list->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
        const int cellMargin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
        const QFontMetricsF headerMetrics(header->font());
        const QFontMetricsF cellMetrics(list->font());
        const QAbstractItemModel *model = list->model();
        for (int column = 0; column < model->columnCount(); ++column) {
            const QString caption = model->headerData(column, Qt::Horizontal).toString();
            const qreal needed = headerMetrics.horizontalAdvance(caption) + 2 * headerMargin;
            if (needed > header->sectionSize(column))
                Problem(list, QStringLiteral("header \"%1\" needs %2 of %3 pixels").arg(caption).arg(needed).arg(header->sectionSize(column)));
        }
        const int last = model->columnCount() - 1;
        if (header->sectionPosition(last) + header->sectionSize(last) > list->viewport()->width())
            Problem(list, QStringLiteral("the columns are wider than the list"));
        // Titles are cut to the column by design; every other cell shows all of its text.
        for (int row = 0; row < model->rowCount(); ++row) {
            for (int column = 1; column < model->columnCount(); ++column) {
                const QString text = model->index(row, column).data().toString();
                const qreal needed = cellMetrics.horizontalAdvance(text) + 2 * cellMargin;
                if (needed > list->columnWidth(column))
                    Problem(list, QStringLiteral("cell \"%1\" needs %2 of %3 pixels").arg(text).arg(needed).arg(list->columnWidth(column)));
            }
        }
    }

    void CheckEverythingVisible()
    {
        problems_.clear();
        for (QWidget *widget : f().window().findChildren<QWidget *>()) {
            if (widget->window() != &f().window() || !widget->isVisible())
                continue;
            if (auto *label = qobject_cast<QLabel *>(widget); label != nullptr && label->pixmap().isNull())
                CheckLabel(label);
            else if (auto *button = qobject_cast<QPushButton *>(widget))
                CheckButton(button);
            else if (auto *field = qobject_cast<QLineEdit *>(widget))
                CheckField(field);
            else if (auto *list = qobject_cast<QTreeView *>(widget))
                CheckList(list);
        }
        QVERIFY2(problems_.isEmpty(), qPrintable(QStringLiteral("at scale %1:\n").arg(f().window().devicePixelRatioF()) +
                                                 problems_.join(u'\n')));
    }

    bool MoveWindowTo(QScreen *screen)
    {
        f().window().windowHandle()->setScreen(screen);
        f().window().move(screen->geometry().topLeft() + QPoint(50, 50));
        return QTest::qWaitFor([&] { return f().window().screen() == screen; });
    }

    void ExpectPictureFor(qreal ratio)
    {
        const QPixmap picture = f().Find<QLabel>("ImageBrisko")->pixmap();
        QCOMPARE(picture.devicePixelRatio(), ratio);
        // drawn from art with at least as many pixels as the screen shows, never enlarged
        QVERIFY2(picture.width() >= int(165 * ratio) && picture.height() >= int(338 * ratio),
                 qPrintable(QStringLiteral("%1x%2 at %3").arg(picture.width()).arg(picture.height()).arg(ratio)));
        QVERIFY(picture.width() <= 330 && picture.height() <= 676);
        if (ratio == 1 || ratio == 2) {
            const QImage art(ratio == 1 ? QStringLiteral(":/brisko.ppm") : QStringLiteral(":/brisko@2x.ppm"));
            QCOMPARE(picture.toImage().convertToFormat(QImage::Format_RGB32), art.convertToFormat(QImage::Format_RGB32));
        }
    }

private slots:
    void initTestCase()
    {
        TBK_ControlMain::SetFallbackFontFolder(QStringLiteral(BRISKO_FALLBACK_FONT_DIR));
        scale_ = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")).toDouble();
        QVERIFY(scale_ >= 1);
        if (QGuiApplication::screens().size() == 1)
            QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(), scale_);
    }

    void init() { fixture_ = std::make_unique<WindowFixture>(); }
    void cleanup() { fixture_.reset(); }

    void pictureIsDrawnForTheScale()
    {
        f().Open();
        const qreal ratio = f().window().devicePixelRatioF();
        QCOMPARE(ratio, f().window().screen()->devicePixelRatio());
        ExpectPictureFor(ratio);
        // the window icon has a picture of its own for every size the desktop asks for at this scale
        for (int size : {16, 32, 48, 64, 128}) {
            const QPixmap icon = f().window().windowIcon().pixmap(QSize(size, size), ratio);
            QCOMPARE(icon.size(), QSize(size, size) * ratio);
        }
        // the sizes kept as raw bytes show exactly the installed theme's PNGs
        for (int size : {16, 32, 48, 64}) {
            const QImage shown = f().window().windowIcon().pixmap(QSize(size, size), 1.0).toImage();
            const QImage drawn(QStringLiteral(BRISKO_ICON_DIR "/%1.png").arg(size));
            QCOMPARE(shown.convertToFormat(QImage::Format_ARGB32_Premultiplied),
                     drawn.convertToFormat(QImage::Format_ARGB32_Premultiplied));
        }
    }

    void pictureFollowsTheScreen()
    {
        const QList<QScreen *> screens = QGuiApplication::screens();
        if (screens.size() < 2 || screens[0]->devicePixelRatio() == screens[1]->devicePixelRatio())
            QSKIP("needs two screens of different scale (tst_window_hidpi_two_screens)");
        f().Open();
        QScreen *first = f().window().screen();
        QScreen *second = first == screens[0] ? screens[1] : screens[0];
        ExpectPictureFor(first->devicePixelRatio());
        for (QScreen *screen : {second, first}) {
            QVERIFY(MoveWindowTo(screen));
            ExpectPictureFor(screen->devicePixelRatio());
            CheckEverythingVisible();
        }
    }

    // Centred when it fits; a window larger than the screen starts at its top-left corner.
    void placedWhereItCanBeReached()
    {
        f().Open();
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect frame = f().window().frameGeometry();
        if (frame.width() > available.width())
            QCOMPARE(frame.left(), available.left());
        else
            QVERIFY(qAbs(frame.center().x() - available.center().x()) <= 1);
        if (frame.height() > available.height())
            QCOMPARE(frame.top(), available.top());
        else
            QVERIFY(qAbs(frame.center().y() - available.center().y()) <= 1);
    }

    // The comparison dialog opens with its places and a file's detail columns whole, where the
    // screen has room for the whole dialog.
    void comparisonDialogShowsDetailsWhole()
    {
        QVERIFY(WriteBytes("friend.txt", PerfectScores()));
        bool roomy = false;
        TBK_ControlMain::SetComparisonFileChooser([&](QFileDialog &dialog, QString &) {
            dialog.setDirectory(QDir::currentPath());
            dialog.show();
            roomy = dialog.frameGeometry().width() < dialog.screen()->availableGeometry().width();
            QAbstractItemView *places = dialog.findChild<QListView *>(QStringLiteral("sidebar"));
            QAbstractItemView *files = dialog.findChild<QTreeView *>(QStringLiteral("treeView"));
            QHeaderView *header = static_cast<QTreeView *>(files)->header();
            const auto cutShort = [&] {
                problems_.clear();
                if (files->model()->rowCount(files->rootIndex()) == 0)
                    problems_ << QStringLiteral("no file listed");
                if (places->sizeHintForColumn(0) > places->viewport()->width())
                    Problem(places, QStringLiteral("names need %1 pixels").arg(places->sizeHintForColumn(0)));
                for (int column = 0; column < header->count(); ++column)
                    if (files->sizeHintForColumn(column) > header->sectionSize(column) ||
                        header->sectionViewportPosition(column) + header->sectionSize(column) > files->viewport()->width())
                        Problem(files, QStringLiteral("column %1 needs %2 pixels").arg(column).arg(files->sizeHintForColumn(column)));
                return !problems_.isEmpty();
            };
            if (roomy)
                (void)QTest::qWaitFor([&] { return !cutShort(); });  // a thread lists the files
            dialog.hide();
            return false;
        });
        f().Open();
        // On two screens, from the one of scale 1: Qt 6.8's offscreen platform, whose primary screen
        // is the last one configured, halves a dialog opened on a screen that Qt's per-screen factor
        // scales. The run at scale 2 checks the dialog at that scale.
        const QList<QScreen *> screens = QGuiApplication::screens();
        const auto lessScaled = [](QScreen *a, QScreen *b) { return a->devicePixelRatio() < b->devicePixelRatio(); };
        QVERIFY(MoveWindowTo(*std::min_element(screens.begin(), screens.end(), lessScaled)));
        f().Click("ButtonCompare");
        if (!roomy)
            QSKIP("the dialog takes the screen's whole width (the runs at scale 1 have room)");
        QVERIFY2(problems_.isEmpty(), qPrintable(problems_.join(u'\n')));
    }

    void textsFitTheirControls_data()
    {
        QTest::addColumn<QString>("state");
        QTest::newRow("entry, scores of every rank") << QStringLiteral("entry");
        QTest::newRow("comparison totals") << QStringLiteral("comparison");
        QTest::newRow("warning panel") << QStringLiteral("warning");
    }

    void textsFitTheirControls()
    {
        QFETCH(QString, state);
        const ChartRecord &widest = ChartWithTheLargestMaximum();
        QVERIFY(WriteBytes("Scores.txt", ScoresOfEveryRank(widest)));
        QVERIFY(WriteBytes("friend.txt", PerfectScores()));
        TBK_ControlMain::SetComparisonFileChooser([](QFileDialog &, QString &chosen) {
            chosen = QStringLiteral("friend.txt");
            return true;
        });
        f().Open();
        f().ClickRow(widest.name);
        QCOMPARE(f().LabelText("LabelPercResult"), QStringLiteral("100.00%"));
        const QRegularExpression everyRank(QStringLiteral("^Rank: AAA:\\d{3} +AA:\\d+ +A:\\d+ +B:\\d+ +C:\\d+ +D:\\d+ +E:\\d+ +$"));
        QVERIFY2(everyRank.match(f().LabelText("LabelTotalRanks")).hasMatch(), qPrintable(f().LabelText("LabelTotalRanks")));
        if (state == QLatin1String("comparison")) {
            f().Click("ButtonCompare");
            QCOMPARE(f().Caption(5), QStringLiteral("Diff."));
        } else if (state == QLatin1String("warning")) {
            f().Type("MemoMiss", "12");
            f().Click("ButtonInsert");
            QVERIFY(f().WarningShown());
        }
        CheckEverythingVisible();
    }
};

QTEST_MAIN(TestWindowHighDpi)
#include "tst_window_hidpi.moc"
