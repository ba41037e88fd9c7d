#pragma once
// Driving the station from the keyboard, and naming its controls for screen
// readers. One table gives every keyed button its shortcut, the same in every
// window (F2 edit, Ins new, Del delete, F9 save or accept, Esc cancel, F3
// search ...); the console's link and panel commands use function keys, which
// typing in a text box cannot produce. Installed once on the application,
// KeyboardPolish polishes every window as it is shown: shortcuts on its keyed
// actions, shown in their tool-tips; labels bound as buddies (with an
// Alt-letter mnemonic) to the input beside them; pictures named by their
// tool-tips.

#include <QKeySequence>
#include <QObject>
#include <QString>
#include <functional>

class QAction;
class QWidget;

namespace ui {

// A caption as words, for reuse in a message or a name: without the marks of
// its Alt-letter ("T&iempo" -> "Tiempo"; "&&" is a plain "&").
QString withoutMnemonic(const QString& caption);

// The shortcut of a keyed button or command ("cb_guardar" -> F9); empty when none.
QKeySequence shortcutFor(const QString& key);

// Gives a keyed action its shortcut and tool-tip; an action of a child window
// fires only while the focus is inside that window.
void applyShortcut(QAction* action, QWidget* window);

// A keyboard command for a control that is not a button (a picture clicked
// with the mouse): an action keyed `key`, firing `run` while `control` is
// not hidden itself (it may sit on another tab page of the window).
QAction* keyCommand(QWidget* window, QWidget* control, const QString& key, std::function<void()> run);

// Everything above for one window, and the keys every window has (Ctrl+Tab
// and Ctrl+Shift+Tab for its pages; Ctrl+F4, and Esc when nothing is to be
// cancelled, to close a child or report window); safe to run again after
// the window changed (only what is missing is added).
void polishWindow(QWidget* window);

// Puts the focus on a window's first useful control: its list, else its
// first input, else the window itself (so that its keys work); nothing when
// the focus is inside it already.
void focusFirstControl(QWidget* window);

class KeyboardPolish : public QObject {
public:
    explicit KeyboardPolish(QObject* parent = nullptr);

protected:
    bool eventFilter(QObject* o, QEvent* e) override;
};

} // namespace ui
