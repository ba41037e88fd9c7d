#pragma once
// What a text field takes in, the same in every window: a paste longer than
// the field keeps what fits and says so beside the field, and control
// characters (and the marks that reorder text) never get in, whether typed,
// pasted or dropped. Multi-line fields keep their line breaks.

#include <QString>

class QWidget;

namespace ui {

// The note shown beside a field whose paste was cut to `limit` characters.
QString cutNote(int limit);

// Guards every text field of `window` not guarded yet.
void guardTextInput(QWidget* window);

// Pastes `text` into `field` (a QLineEdit or QPlainTextEdit) by the rules
// above; what the paste key and the field's menu do.
void pasteInto(QWidget* field, const QString& text);

} // namespace ui
