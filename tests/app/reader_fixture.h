#pragma once

// A window read as a screen reader reads it: accessibility switched on as a reader's bridge
// switches it on, and every update the bridge would be told recorded.
#include <QAccessible>
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include "window_fixture.h"

// What a screen-reader bridge is told, and the objects it is handed: it keeps their ids and
// asks for them again later, when each must still stand for something real.
struct Heard {
    QAccessible::Event type;
    QObject *object;
    QString name;
    QString description;
    QObject *focus;  // where the focus was as it was told
    bool unseen;     // told by a widget in a hidden window
};
inline QList<Heard> heard;
inline QList<QAccessible::Id> handedOut;
inline QStringList logged;

inline void Hear(QAccessibleEvent *event)
{
    QAccessibleInterface *accessible = event->accessibleInterface();
    if (accessible == nullptr || !accessible->isValid()) {
        logged << QStringLiteral("event %1 for an invalid object").arg(int(event->type()));
        return;
    }
    handedOut << QAccessible::uniqueId(accessible);
    heard << Heard{event->type(), event->object(), accessible->text(QAccessible::Name),
                   accessible->text(QAccessible::Description), QApplication::focusWidget(),
                   event->object()->isWidgetType() && !static_cast<QWidget *>(event->object())->window()->isVisible()};
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    if (event->type() == QAccessible::Announcement)
        heard.back().name = static_cast<QAccessibleAnnouncementEvent *>(event)->message();
#endif
}

// One window per test, read through its accessibility interfaces rather than its widgets.
class ReaderFixture {
public:
    // What a reader's bridge does when a reader starts; Qt offers no public call for it.
    static bool StartReader()
    {
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
        QAccessible::installUpdateHandler(Hear);
        return QAccessible::isActive();
    }

    void StartTest()
    {
        fixture_ = std::make_unique<WindowFixture>();
        heard.clear();
        handedOut.clear();
        logged.clear();
    }
    void EndTest()
    {
        qInstallMessageHandler(nullptr);
        fixture_.reset();
    }

    WindowFixture &f() { return *fixture_; }

    QAccessibleInterface *Accessible(const char *name)
    {
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(f().Find<QWidget>(name));
        if (accessible == nullptr)
            qFatal("%s has no accessibility interface", name);
        return accessible;
    }

    QString Name(const char *name) { return Accessible(name)->text(QAccessible::Name); }

private:
    std::unique_ptr<WindowFixture> fixture_;
};
