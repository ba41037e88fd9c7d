#pragma once
// Sizes and positions given in twips (1440 per inch) on the screen's logical DPI.

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace ui {

int twips(int t);
QSize twipsSize(int w, int h);
// Sizes a window to the given twips, or larger when its contents need more
// room (our fonts are wider than those the sizes were once chosen for).
void sizeWindow(QWidget* w, int widthTwips, int heightTwips);
// Children of the main window: centred horizontally on it, 700 twips above its
// vertical centre.
void placeChild(QWidget* child);
// Dialogs and the search list: centred on the screen.
void centreOnScreen(QWidget* w);
// A top-level window centred horizontally on `owner` (global coordinates),
// its centre `aboveTwips` above the owner's centre, kept inside the screen.
void centreOver(QWidget* w, const QRect& owner, int aboveTwips = 0);

} // namespace ui
