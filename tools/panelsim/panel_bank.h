#pragma once
// Many panels behind one modem, one per subscriber, found by the number the
// station dials: a folder of panel state files named by that number
// ("5550101.json"), or one file listing them ({"5550101": {...}, ...}).
// A number it does not know answers "NO ANSWER"; a state may say
// "busyCalls": N, and the first N calls to it end "BUSY".

#include "panel.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QString>

namespace panelsim {

class PanelBank : public QObject {
    Q_OBJECT
public:
    explicit PanelBank(QObject* parent = nullptr) : QObject(parent) {}

    // Adds the panel for `number` from its state (with "busyCalls"). False,
    // with `error`, on a bad state or number.
    bool add(const QString& number, const QJsonObject& state, QString* error = nullptr);
    // A folder of NUMBER.json files, or one JSON file of number: state.
    bool load(const QString& path, QString* error = nullptr);

    // The panel that answers `number`, or null with the modem's result code.
    Panel* route(const QString& number, QByteArray* result);
    Panel* panel(const QString& number) const { return m_panels.value(number); }
    QStringList numbers() const { return m_panels.keys(); }
    int busyLeft(const QString& number) const { return m_busy.value(number); }

    // Every panel's state, by number (the simulator's --state-out).
    QJsonObject toJson() const;

signals:
    void changed();

private:
    QMap<QString, Panel*> m_panels;
    QMap<QString, int> m_busy;
};

} // namespace panelsim
