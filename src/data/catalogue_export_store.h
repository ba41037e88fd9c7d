#pragma once
// Builds a catalogue update file from a station database: the models, their
// sections, value lists and items, and the values of configuration 1. This is
// how a catalogue maintainer ships changes to the stations.

#include <QList>
#include <QString>

namespace export_store {

struct ExportCounts {
    qint64 paneles = 0, secciones = 0, secciones_valores = 0, secciones_items = 0, configuraciones_valores = 0;
};

// Writes `updateFile` (which must not exist yet) from `stationFile`; with
// `panels` given, only those models. Throws db::Error; a half-written file is
// removed.
ExportCounts exportCatalogue(const QString& stationFile, const QString& updateFile, const QList<int>& panels = {});

} // namespace export_store
