#include "ui/ui_text_input.h"

#include "data/text_rules.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QToolTip>

#include <limits>

namespace ui {

namespace {

const char* const GuardedProperty = "sorventTextGuarded";

// A field's limit: a line's maximum length, or the "maxLength" property a
// multi-line field is given.
int limitOf(QWidget* field)
{
    if (auto* line = qobject_cast<QLineEdit*>(field))
        return line->maxLength();
    const QVariant v = field->property("maxLength");
    return v.isValid() ? v.toInt() : std::numeric_limits<int>::max();
}

bool readOnly(QWidget* field)
{
    if (auto* line = qobject_cast<QLineEdit*>(field))
        return line->isReadOnly();
    if (auto* memo = qobject_cast<QPlainTextEdit*>(field))
        return memo->isReadOnly();
    return true;
}

class TextGuard : public QObject {
public:
    TextGuard(QWidget* field) : QObject(field), m_field(field) {}

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->matches(QKeySequence::Paste)) {
            if (!readOnly(m_field))
                pasteInto(m_field, QGuiApplication::clipboard()->text());
            return true;
        }
        if (e->type() == QEvent::ContextMenu) {
            // The field's own menu, with its "Pegar" going through the rules.
            auto* ce = static_cast<QContextMenuEvent*>(e);
            QMenu* menu = nullptr;
            if (auto* line = qobject_cast<QLineEdit*>(m_field))
                menu = line->createStandardContextMenu();
            else if (auto* memo = qobject_cast<QPlainTextEdit*>(m_field))
                menu = memo->createStandardContextMenu(ce->pos());
            if (!menu)
                return false;
            if (QAction* paste = menu->findChild<QAction*>(QStringLiteral("edit-paste"))) {
                QObject::disconnect(paste, &QAction::triggered, nullptr, nullptr);
                QPointer<QWidget> field = m_field;
                QObject::connect(paste, &QAction::triggered, m_field, [field] {
                    if (field)
                        pasteInto(field, QGuiApplication::clipboard()->text());
                });
            }
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(ce->globalPos());
            return true;
        }
        return false;
    }

private:
    QWidget* m_field;
};

// Typing and dropping go past the paste: what they left is cleaned after.
void cleanAfterEdit(QLineEdit* line)
{
    const QString text = line->text();
    const QString clean = textrules::withoutControls(text);
    if (clean == text)
        return;
    const int removedBefore = int(line->cursorPosition()) -
                              int(textrules::withoutControls(text.left(line->cursorPosition())).size());
    const int at = line->cursorPosition() - removedBefore;
    line->setText(clean);
    line->setCursorPosition(at);
}

void cleanAfterEdit(QPlainTextEdit* memo)
{
    const QString text = memo->toPlainText();
    const QString clean = textrules::withoutControls(text, true);
    if (clean == text)
        return;
    memo->setPlainText(clean);
    memo->moveCursor(QTextCursor::End);
}

void guard(QWidget* field)
{
    if (field->property(GuardedProperty).toBool())
        return;
    field->setProperty(GuardedProperty, true);
    auto* g = new TextGuard(field);
    field->installEventFilter(g);
    if (auto* line = qobject_cast<QLineEdit*>(field)) {
        QObject::connect(line, &QLineEdit::textEdited, line, [line] { cleanAfterEdit(line); });
    } else if (auto* memo = qobject_cast<QPlainTextEdit*>(field)) {
        // Its menu is asked for by the viewport.
        memo->viewport()->installEventFilter(g);
        QObject::connect(memo, &QPlainTextEdit::textChanged, memo, [memo] { cleanAfterEdit(memo); });
    }
}

} // namespace

QString cutNote(int limit)
{
    return QStringLiteral("El texto se recortó a %1 caracteres").arg(limit);
}

void pasteInto(QWidget* field, const QString& text)
{
    auto* line = qobject_cast<QLineEdit*>(field);
    auto* memo = qobject_cast<QPlainTextEdit*>(field);
    if (!line && !memo)
        return;
    QString clean = textrules::withoutControls(text, memo != nullptr);
    const int limit = limitOf(field);
    const qsizetype kept = line ? line->text().size() - line->selectedText().size()
                                : memo->toPlainText().size() - memo->textCursor().selectedText().size();
    const qsizetype room = qMax<qsizetype>(0, limit - kept);
    const bool cut = clean.size() > room;
    clean.truncate(room);
    if (line)
        line->insert(clean);
    else
        memo->insertPlainText(clean);
    if (cut)
        QToolTip::showText(field->mapToGlobal(QPoint(0, field->height())), cutNote(limit), field, QRect(), 5000);
}

void guardTextInput(QWidget* window)
{
    for (QLineEdit* line : window->findChildren<QLineEdit*>()) {
        // The editors inside date, number and list boxes keep their own rules.
        QWidget* parent = line->parentWidget();
        if (qobject_cast<QAbstractSpinBox*>(parent) || qobject_cast<QComboBox*>(parent))
            continue;
        guard(line);
    }
    for (QPlainTextEdit* memo : window->findChildren<QPlainTextEdit*>())
        guard(memo);
}

} // namespace ui
