#pragma once
// The value texts a download stores for one section, from panel bytes laid
// out by the memory image (the section and type of every address). Item 0
// stands for one text over all the section's items (types 4 and 5).

#include <QList>
#include <QPair>
#include <QString>
#include <QtGlobal>

using SectionValues = QList<QPair<int, QString>>;

SectionValues sectionValues(const qint16* bytes, const qint16* sections, const qint16* types, int size, int section);

// The values as one line of text ("1 0 1 0 0 0 0 0", "0A 1F", "12AB").
QString joinedValues(const SectionValues& values);
