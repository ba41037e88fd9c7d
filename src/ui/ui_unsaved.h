#pragma once
// Windows holding typed changes that are not saved yet ask before the changes
// are lost: when the window is closed, and when the station exits with it
// open. "Cancelar" is the user's own choice to drop them and does not ask.

#include <QStringList>

class MessageService;
class QWidget;

class UnsavedChanges {
public:
    virtual ~UnsavedChanges() = default;
    virtual bool hasUnsavedChanges() const = 0;
};

// A record form edited between "Alta"/"Editar" and "Aceptar"/"Cancelar": it
// has unsaved changes when what it holds differs from what it held when the
// editing began.
class EditedForm : public UnsavedChanges {
public:
    bool hasUnsavedChanges() const override { return m_editing && formState() != m_atStart; }

protected:
    // What the form holds: texts, and the chosen entries of its lists.
    virtual QStringList formState() const = 0;
    void setEditing(bool editing)
    {
        m_editing = editing;
        m_atStart = editing ? formState() : QStringList();
    }

private:
    bool m_editing = false;
    QStringList m_atStart;
};

namespace ui {

extern const QString DiscardQuestion; // "Hay cambios sin guardar. ¿Descarta los cambios?"

// True when `w` may close: nothing unsaved, or the user discards it (the
// question defaults to No).
bool mayClose(MessageService& messages, const UnsavedChanges& w);
// The same for every open window of the station, asked once.
bool mayExit(MessageService& messages);

} // namespace ui
