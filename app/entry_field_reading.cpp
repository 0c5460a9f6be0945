#include <algorithm>

#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QLineEdit>

#include "window_parts.h"

namespace {

// Qt 6.4's own interface for a line edit reports the attributes of every character as the empty
// run (k, k). A reader that joins those runs into the field's line ends the line one character
// short: Orca 43 says "62" of a field holding 622, and nothing of a lone "0". The fields hold no
// attributes at all, so every character lies in the one run of the whole text. In all else this
// interface answers as the toolkit's does.
class EntryFieldReading : public QAccessibleWidget,
                          public QAccessibleTextInterface,
                          public QAccessibleEditableTextInterface {
public:
    explicit EntryFieldReading(QLineEdit *field) : QAccessibleWidget(field, QAccessible::EditableText)
    {
        addControllingSignal(QStringLiteral("textChanged(const QString&)"));
        addControllingSignal(QStringLiteral("returnPressed()"));
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        if (type == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text kind) const override
    {
        const QString value = kind == QAccessible::Value ? Field()->text() : QString();
        return value.isEmpty() ? QAccessibleWidget::text(kind) : value;
    }

    void setText(QAccessible::Text kind, const QString &text) override
    {
        if (kind == QAccessible::Value)
            Field()->setText(text);
        else
            QAccessibleWidget::setText(kind, text);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.editable = true;
        state.readOnly = Field()->isReadOnly();
        state.selectableText = true;
        return state;
    }

    QString attributes(int offset, int *startOffset, int *endOffset) const override
    {
        *startOffset = 0;
        *endOffset = characterCount();
        if (offset < 0 || offset > *endOffset)
            *startOffset = *endOffset = offset;  // outside the text, as the toolkit answers
        return QString();
    }

    int characterCount() const override { return int(Field()->text().size()); }
    int cursorPosition() const override { return Field()->cursorPosition(); }
    void setCursorPosition(int position) override { Field()->setCursorPosition(position); }
    int selectionCount() const override { return Field()->hasSelectedText() ? 1 : 0; }

    void selection(int selectionIndex, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex != 0)
            return;
        *startOffset = Field()->selectionStart();
        *endOffset = *startOffset + int(Field()->selectedText().size());
    }

    void addSelection(int startOffset, int endOffset) override { setSelection(0, startOffset, endOffset); }

    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex == 0)
            Field()->deselect();
    }

    void setSelection(int selectionIndex, int startOffset, int endOffset) override
    {
        if (selectionIndex == 0)
            Field()->setSelection(startOffset, endOffset - startOffset);
    }

    QString text(int startOffset, int endOffset) const override
    {
        return startOffset > endOffset ? QString() : Field()->text().mid(startOffset, endOffset - startOffset);
    }

    // -2 stands for the caret, as at-spi asks
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int *startOffset,
                             int *endOffset) const override
    {
        return QAccessibleTextInterface::textBeforeOffset(AtCaret(offset), boundary, startOffset, endOffset);
    }

    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int *startOffset,
                            int *endOffset) const override
    {
        return QAccessibleTextInterface::textAfterOffset(AtCaret(offset), boundary, startOffset, endOffset);
    }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int *startOffset,
                         int *endOffset) const override
    {
        // Qt 6.4's shared code never returns when asked for the word or the sentence at the end
        // of the text (where the caret of a typed number is), so a reader asking would hang the
        // window: at the end, the last word or sentence is the one meant.
        int at = AtCaret(offset);
        const int length = characterCount();
        if (boundary == QAccessible::WordBoundary || boundary == QAccessible::SentenceBoundary) {
            if (length == 0) {
                *startOffset = *endOffset = 0;
                return {};
            }
            at = std::clamp(at, 0, length - 1);
        }
        return QAccessibleTextInterface::textAtOffset(at, boundary, startOffset, endOffset);
    }

    // The fields are wide enough for their five digits, so the text never scrolls: a character
    // lies as far right of the caret as the text between them is wide.
    QRect characterRect(int offset) const override
    {
        const QString character = text(offset, offset + 1);
        if (character.isEmpty())
            return QRect();
        const QFontMetrics metrics(Field()->font());
        const QString shown = Field()->text();
        const int caretX = (Field()->*CaretRect)().left() + CaretRectLead;
        const int x = caretX + metrics.horizontalAdvance(shown.left(offset)) -
                      metrics.horizontalAdvance(shown.left(Field()->cursorPosition()));
        const QRect rect(x, Field()->textMargins().top(), metrics.horizontalAdvance(character), metrics.height());
        return QRect(Field()->mapToGlobal(rect.topLeft()), rect.size());
    }

    int offsetAtPoint(const QPoint &point) const override { return Field()->cursorPositionAt(Field()->mapFromGlobal(point)); }

    void scrollToSubstring(int startIndex, int endIndex) override
    {
        Field()->setCursorPosition(endIndex);
        Field()->setCursorPosition(startIndex);
    }

    void deleteText(int startOffset, int endOffset) override
    {
        Field()->setText(Field()->text().remove(startOffset, endOffset - startOffset));
    }

    void insertText(int offset, const QString &text) override { Field()->setText(Field()->text().insert(offset, text)); }

    void replaceText(int startOffset, int endOffset, const QString &text) override
    {
        Field()->setText(Field()->text().replace(startOffset, endOffset - startOffset, text));
    }

private:
    // Where the field draws its caret, which it keeps to itself and its subclasses.
    struct CaretRectOpened : QLineEdit {
        using QLineEdit::cursorRect;
    };
    static constexpr QRect (QLineEdit::*CaretRect)() const = &CaretRectOpened::cursorRect;
    // a character begins this far right of the left edge of the caret's rectangle before it,
    // where the toolkit's own line edit reports it
    static constexpr int CaretRectLead = 2;

    QLineEdit *Field() const { return static_cast<QLineEdit *>(widget()); }
    int AtCaret(int offset) const { return offset == -2 ? cursorPosition() : offset; }
};

}  // namespace

QAccessibleInterface *window_parts::EntryFieldInterface(QLineEdit *field)
{
    return new EntryFieldReading(field);
}
