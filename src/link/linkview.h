#pragma once
// What updateView computes for the console to render: for every
// indicator (by its control name, arrays as name_index: "img_zona_0") the
// picture key of the image list, the tool-tip and the caption, plus the
// colours of the traffic and error labels and the progress bar value.

#include <QHash>
#include <QString>

enum class LinkColour { ButtonFace, Red, Green, Blue };

struct LinkIndicator {
    QString picture;  // "verde", "gris", "rojo", "amarillo", "naranja", "azul"; empty: not a picture
    QString toolTip;
    QString caption;
    bool visible = true;

    bool operator==(const LinkIndicator&) const = default;
};

struct LinkView {
    QHash<QString, LinkIndicator> items;
    LinkColour st_rx = LinkColour::ButtonFace;
    LinkColour st_tx = LinkColour::ButtonFace;
    LinkColour st_err = LinkColour::ButtonFace;
    int pb_progreso = 0;
    // What the link is doing, or how its last session or transfer ended, in
    // words for the console's status line.
    QString statusLine;
    // Answers refused in this connection (their code or length did not fit
    // the request) and datagrams dropped from sources other than the panel;
    // also in the tool-tips of st_err and img_IP.
    int rejectedAnswers = 0;
    int strangerDatagrams = 0;
    // Requests that got two different answers, and datagrams from panels
    // the allowed list refused (in the same tool-tips).
    int doubledAnswers = 0;
    int refusedPanels = 0;

    QString picture(const QString& name) const { return items.value(name).picture; }
    QString toolTip(const QString& name) const { return items.value(name).toolTip; }
    QString caption(const QString& name) const { return items.value(name).caption; }
    bool visible(const QString& name) const { return items.value(name).visible; }

    static QString indexed(const char* name, int i) { return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(i); }
};
