// One HTTP/1.1 POST over a fresh connection, with one deadline for the whole
// exchange: a store that is down, refuses, or answers a byte at a time costs
// at most that long.
#pragma once

#include <QByteArray>
#include <QString>

struct TUrlParts {
    QString Host;
    int Port = 0;
    QString Path; // without a trailing "/"
};

// "http://HOST:PORT[/path]"; false with the reason for anything else.
bool ParseHttpUrl(const QString& url, TUrlParts& parts, QString& error);

struct THttpAnswer {
    int Status = 0;  // 0: no answer (the error says why)
    QByteArray Body; // the first part of the answer's body
    QString Error;
};

// headers: complete header lines, each ending with "\r\n".
THttpAnswer PostHttp(const TUrlParts& url, const QByteArray& target, const QByteArray& headers,
                     const QByteArray& body, int timeoutMs);
