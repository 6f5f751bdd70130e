// The SCPI socket server: one session per connection, lines ended by '\n',
// responses in order. Bounded everywhere a client could make it grow: line
// length, unread input, unread output, number of connections. Nothing waits
// for a client: a silent or slow one holds only its own session.
#pragma once

#include <QByteArray>
#include <QObject>

#include <list>
#include <memory>

#include "scpi/ScpiInstrument.h"

class QTcpServer;
class QTcpSocket;
class QHostAddress;

class TScpiServer : public QObject {
public:
    static constexpr qsizetype LineLimit = 4096;
    static constexpr qint64 OutputLimit = 64 * 1024;
    static constexpr int ClientLimit = 16;

    explicit TScpiServer(TScpiInstrument& instrument, QObject* parent = nullptr);
    ~TScpiServer() override;

    bool Listen(const QHostAddress& address, quint16 port);
    quint16 Port() const;
    // After a block or a failure: answers the queries that wait.
    void ResumeAll();

private:
    struct TClient {
        QTcpSocket* Socket = nullptr;
        TScpiSession Session;
        QByteArray Input;
        bool Discarding = false; // the rest of an over-long line
    };
    void Accept();
    void Pump(TClient& client);
    void Send(TClient& client, const QByteArray& bytes);
    void Drop(TClient* client);

    TScpiInstrument& Instrument;
    QTcpServer* Listener;
    std::list<std::unique_ptr<TClient>> Clients;
};
