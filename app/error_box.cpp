#include "Bk_control_main.h"

#include <stdexcept>
#include <QMessageBox>

#include "session.h"
#include "window_parts.h"

using namespace window_parts;

namespace {

void ShowErrorBox(const QString &message)
{
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(TBK_ControlMain::ApplicationTitle()), message,
                    QMessageBox::Ok, BoxParent());
    box.exec();
}

}  // namespace

void TBK_ControlMain::ShowError(QString message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        message += u'.';
    if (const ErrorPresenter &presenter = TSession::Current().standIns.error)
        presenter(message);
    else
        ShowErrorBox(message);
}

void TBK_ControlMain::SetErrorPresenter(ErrorPresenter presenter)
{
    TSession::Current().standIns.error = std::move(presenter);
}

// What the player hears of once the window is up, so that the window itself appears at once.
void TBK_ControlMain::ShowAfterStart(const QString &message)
{
    if (!message.isEmpty())
        QMetaObject::invokeMethod(this, Guarded([message] { throw std::runtime_error(message.toStdString()); }),
                                  Qt::QueuedConnection);
}
