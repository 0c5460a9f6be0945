// What more than one of the window's files needs: the window's size, its fonts and colours, the
// helpers that make and label its controls, and the guard around every handler. Internal to the
// window; nothing outside app/ includes it but the bench's reference window, which draws in
// the same fonts and colours.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <type_traits>
#include <utility>

#include <QAccessible>
#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>

#include "Bk_control_main.h"
#include "entry_conversion.h"

class QFileDialog;
class QIcon;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace window_parts {

constexpr int ClientWidth = 763;
constexpr int ClientHeight = 350;

const QColor WindowGreen(0, 128, 0);
const QColor ResultRed(255, 0, 0);
const QColor PanelSilver(192, 192, 192);
const QColor TotalsBlack(0, 0, 0);

// The list's six columns: Song, Date, AA, Rank, DP and the last one, "%" or "Diff." in
// comparison mode.
constexpr int ListColumnCount = 6;
constexpr int LastColumn = ListColumnCount - 1;

constexpr int SmallPixels = 11;
constexpr int LargePixels = 16;

// The design font at a pixel height, bold or in the design's light weight.
QFont WindowFont(int pixelSize, bool bold);
void SetTextColour(QWidget *widget, const QColor &colour);
void SetBackground(QWidget *widget, const QColor &colour);
void KeepStyleColours(QWidget *widget);
// Runs a step once, as soon as the first frame showing the widget is on screen.
void AfterFirstPaint(QWidget *widget, std::function<void()> step);
QIcon WindowIcon();

template <typename Widget> Widget *MakeControl(QWidget *parent, const char *name, QRect geometry)
{
    auto *widget = new Widget(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

QWidget *BoxParent();
QPushButton *MakeButton(QWidget *parent, const char *name, QRect geometry, const QString &text);

void InstallAccessibleRoles();
// What a reader is told of an entry field: the toolkit's answers, but its text as one whole run.
QAccessibleInterface *EntryFieldInterface(QLineEdit *field);
void SetAccessibleRole(QWidget *widget, QAccessible::Role role);
void Describe(QWidget *widget, const QString &name, const QString &description);
// What a reader says of the list at the first meeting, before the current row.
QString ListHint();

inline QString Decimal(int64_t value)
{
    return QString::number(value);
}

// The file dialogs' own answer when no test answers in their place: the chosen name, or false
// when the player cancels.
bool ExecFileDialog(QFileDialog &dialog, QString &fileName);
// The answer a test gave in the dialog's place, or else the dialog's own.
inline bool ChooseFile(const TBK_ControlMain::FileChooser &standIn, QFileDialog &dialog, QString &fileName)
{
    return standIn ? standIn(dialog, fileName) : ExecFileDialog(dialog, fileName);
}

// What Scores.txt's save and Plays.csv's append said, as one message: either alone, or both as
// sentences of their own.
inline QString SaveMessages(const QString &scores, const QString &plays)
{
    return scores.isEmpty() || plays.isEmpty() ? scores + plays : scores + QStringLiteral(". ") + plays;
}

}  // namespace window_parts

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
