#include "scpi/ScpiServer.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

TScpiServer::TScpiServer(TScpiInstrument& instrument, QObject* parent)
    : QObject(parent), Instrument(instrument), Listener(new QTcpServer(this)) {
    connect(Listener, &QTcpServer::newConnection, this, &TScpiServer::Accept);
}

TScpiServer::~TScpiServer() {
    for (auto& c : Clients) {
        Instrument.Detach(c->Session);
        c->Socket->disconnect(this);
    }
}

bool TScpiServer::Listen(const QHostAddress& address, quint16 port) {
    Listener->setMaxPendingConnections(ClientLimit);
    return Listener->listen(address, port);
}

quint16 TScpiServer::Port() const {
    return Listener->serverPort();
}

void TScpiServer::Accept() {
    while (QTcpSocket* socket = Listener->nextPendingConnection()) {
        if (int(Clients.size()) >= ClientLimit) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto client = std::make_unique<TClient>();
        TClient* c = client.get();
        c->Socket = socket;
        socket->setParent(this);
        // Qt's own buffer is bounded too: a flooding client is held back by
        // TCP, not by the server's memory.
        socket->setReadBufferSize(LineLimit * 4);
        // Answers go out at once, not held for the next segment.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        Instrument.Attach(c->Session);
        Clients.push_back(std::move(client));
        connect(socket, &QTcpSocket::readyRead, this, [this, c] {
            Pump(*c);
            ResumeAll();
        });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, c] {
            Pump(*c);
            ResumeAll();
        });
        // Queued: a socket may report its end from inside a write, while
        // the clients are being gone through.
        connect(
            socket, &QTcpSocket::disconnected, this,
            [this, c] {
                Drop(c);
                ResumeAll();
            },
            Qt::QueuedConnection);
    }
}

void TScpiServer::Drop(TClient* client) {
    Instrument.Detach(client->Session);
    client->Socket->disconnect(this);
    client->Socket->deleteLater();
    Clients.remove_if([client](const std::unique_ptr<TClient>& c) { return c.get() == client; });
}

void TScpiServer::Send(TClient& client, const QByteArray& bytes) {
    if (!bytes.isEmpty() && client.Socket->state() == QAbstractSocket::ConnectedState)
        client.Socket->write(bytes);
}

void TScpiServer::Pump(TClient& c) {
    while (!c.Session.Waiting() && c.Socket->bytesToWrite() < OutputLimit) {
        qsizetype end = c.Input.indexOf('\n');
        if (end < 0 && c.Socket->bytesAvailable() > 0) {
            c.Input += c.Socket->read(LineLimit + 1 - c.Input.size());
            end = c.Input.indexOf('\n');
        }
        if (end < 0) {
            if (c.Input.size() <= LineLimit)
                return; // the rest of the line has not come yet
            if (!c.Discarding)
                c.Session.Status.PushError(ScpiError::InputBufferOverrun, "a line longer than 4096 bytes");
            c.Discarding = true;
            c.Input.clear();
            continue;
        }
        QByteArray line = c.Input.left(end);
        c.Input.remove(0, end + 1);
        if (c.Discarding) {
            c.Discarding = false;
            continue;
        }
        if (line.endsWith('\r'))
            line.chop(1);
        Send(c, Instrument.Execute(c.Session, line));
    }
}

void TScpiServer::ResumeAll() {
    // A session's next line may stop the run another session waits on:
    // go round until nothing moves.
    for (bool moved = true; moved;) {
        moved = false;
        for (auto& c : Clients) {
            if (!c->Session.Waiting())
                continue;
            Send(*c, Instrument.Resume(c->Session));
            if (!c->Session.Waiting()) {
                moved = true;
                Pump(*c);
            }
        }
    }
}
