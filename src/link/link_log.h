#pragma once
// The link's log category, shared by the files of PanelLink.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLink)
