#include "app/station.h"

#include "data/link_store.h"
#include "data/messages.h"

Station::Station(MessageService& messages, const QString& programDir)
    : main(messages), search(messages), reports(main), ctx{main, messages, search, editor, reports}
{
    main.setProgramDir(programDir);
    trans.setHost(this);
    trans.setClock([this] { return main.now(); });
}

Station::~Station()
{
    trans.setHost(nullptr);
    trans.setConsole(nullptr);
    // Report windows of their own refer to this station: they go with it.
    for (const QPointer<QObject>& w : std::as_const(ctx.reportWindows))
        delete w.data();
    reports.closeAll();
    main.closeConnections();
}

std::unique_ptr<LinkStore> Station::linkStore()
{
    return std::make_unique<SqlLinkStore>(main.db(), main.currentUser(), &m_storeError);
}

bool Station::portOpen() const
{
    return main.portOpen();
}

void Station::portLost()
{
    main.portLost();
}

void Station::showError(int number)
{
    main.showMessage(number);
}

void Station::showMessage(const QString& title, const QString& text)
{
    main.messages().show(title, text, MessageService::Icon::Critical);
}

QString Station::takeStoreError()
{
    return std::exchange(m_storeError, QString());
}
