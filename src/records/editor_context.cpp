#include "records/editor_context.h"

QString editorModeText(EditorMode mode)
{
    return mode == EditorMode::abonado ? QStringLiteral("abonado") : QStringLiteral("configuracion");
}

EditorContext EditorContext::forSubscriber(int id_abonado, int id_panel, int id_seccion, int id_configuracion,
                                           int marca)
{
    EditorContext c;
    c.mode = EditorMode::abonado;
    c.abonado = id_abonado;
    c.panel = id_panel;
    c.seccion = id_seccion;
    c.configuracion = id_configuracion;
    c.marca = marca;
    return c;
}

EditorContext EditorContext::forTemplate(int id_panel, int id_configuracion, int id_seccion, int marca)
{
    EditorContext c;
    c.mode = EditorMode::configuracion;
    c.panel = id_panel;
    c.seccion = id_seccion;
    c.configuracion = id_configuracion;
    c.marca = marca;
    return c;
}
