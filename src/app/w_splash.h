#pragma once
// Splash window: shown at process start; its one-second timer starts the station.

#include <QWidget>

class QTimer;

class w_splash : public QWidget {
    Q_OBJECT
public:
    explicit w_splash(QWidget* parent = nullptr);
    QTimer* Timer1;

signals:
    void elapsed();

protected:
    void paintEvent(QPaintEvent*) override;
};
