#include "ui/ui_unsaved.h"

#include "data/messages.h"

#include <QApplication>
#include <QWidget>

namespace ui {

const QString DiscardQuestion = QStringLiteral("Hay cambios sin guardar. ¿Descarta los cambios?");

bool mayClose(const UnsavedChanges& w)
{
    return !w.hasUnsavedChanges() || askYesNo(DiscardQuestion);
}

bool mayExit()
{
    for (QWidget* w : QApplication::allWidgets())
        if (const auto* u = dynamic_cast<const UnsavedChanges*>(w); u && u->hasUnsavedChanges())
            return askYesNo(DiscardQuestion);
    return true;
}

} // namespace ui
