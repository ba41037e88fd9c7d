#pragma once
// Message boxes for the message service: the toolkit's modal boxes.

#include "data/messages.h"

class WidgetMessages : public MessageService {
public:
    void show(const QString& title, const QString& text, Icon icon) override;
    bool ask(const QString& title, const QString& text, Default defaultAnswer) override;
};
