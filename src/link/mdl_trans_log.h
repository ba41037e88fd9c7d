#pragma once
// The link's log category, shared by the files of mdl_trans.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLink)
