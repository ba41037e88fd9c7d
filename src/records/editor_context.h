#pragma once
// The editor context: what the section value editor (w_seccion) edits, set by
// its caller right before opening it, and the section's mark as the editor
// leaves it, read back by the caller when the editor has closed.
//
//   m_ctx.editor = EditorContext::forSubscriber(abonado, panel, seccion,
//                                               configuracion, marca);
//   auto* editor = w_seccion::abrir(m_ctx, this);
//   connect(editor, &QDialog::finished, this, [this] {
//       const int marca = m_ctx.editor.marca; // 1, -1 or as it was
//       showSections();
//   });
//
// The templates copy/rename dialog (w_configuracion_abm) reads only the
// template value: 0 copies the template on display, any other number renames
// that template.

#include <QString>

enum class EditorMode { abonado, configuracion };

// "abonado" or "configuracion".
QString editorModeText(EditorMode mode);

struct EditorContext {
    EditorMode mode = EditorMode::configuracion;
    int panel = 0;         // id_panel of the model
    int seccion = 0;       // id_seccion to edit
    int configuracion = 0; // template edited, or the subscriber's template (defaults)
    int abonado = 0;       // id_abonado (mode abonado only)
    // On opening: the section's mark as the caller shows it. On closing: 1
    // after "Subir sección" or "Restaurar", -1 after "Bajar sección",
    // otherwise unchanged.
    int marca = 0;

    // A subscriber's section (the panel console); the defaults shown are the
    // values of the subscriber's template.
    static EditorContext forSubscriber(int id_abonado, int id_panel, int id_seccion, int id_configuracion,
                                       int marca);
    // A template's section (the templates window).
    static EditorContext forTemplate(int id_panel, int id_configuracion, int id_seccion, int marca);
};
