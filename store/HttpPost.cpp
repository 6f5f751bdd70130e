#include "store/HttpPost.h"

#include <QUrl>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// True when reply holds a whole answer: a server that keeps the connection
// open after it must not cost the deadline.
bool Complete(const QByteArray& reply) {
    const qsizetype headEnd = reply.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return false;
    const QByteArray head = reply.left(headEnd).toLower();
    if (head.startsWith("http/1.1 204") || head.startsWith("http/1.0 204"))
        return true;
    const qsizetype at = head.indexOf("\r\ncontent-length:");
    if (at < 0)
        return false;
    const qsizetype end = head.indexOf("\r\n", at + 2);
    const long long length = head.mid(at + 17, end < 0 ? -1 : end - at - 17).trimmed().toLongLong();
    return reply.size() - headEnd - 4 >= length;
}

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

// Waits for events on fd until the deadline; false when it passed.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int left = MsLeft(deadline);
        if (left == 0)
            return false;
        const int n = ::poll(&p, 1, left);
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

int Connect(const TUrlParts& url, Clock::time_point deadline, QString& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(url.Host.toUtf8().constData(), QByteArray::number(url.Port).constData(),
                                 &hints, &found);
    if (rc != 0) {
        error = QStringLiteral("cannot resolve %1: %2").arg(url.Host, gai_strerror(rc));
        return -1;
    }
    int fd = -1;
    error = QStringLiteral("cannot connect to %1:%2").arg(url.Host).arg(url.Port);
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        int code = 0;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            code = errno;
            if (code == EINPROGRESS) {
                socklen_t length = sizeof code;
                code = WaitFor(fd, POLLOUT, deadline) ? 0 : ETIMEDOUT;
                if (code == 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &length) != 0)
                    code = errno;
            }
        }
        if (code != 0) {
            error =
                QStringLiteral("cannot connect to %1:%2: %3").arg(url.Host).arg(url.Port).arg(strerror(code));
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd >= 0)
        error.clear();
    return fd;
}

} // namespace

bool ParseHttpUrl(const QString& text, TUrlParts& parts, QString& error) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != "http" || url.host().isEmpty() || !url.query().isEmpty() ||
        !url.userInfo().isEmpty()) {
        error = QStringLiteral("'%1' is not http://HOST:PORT (credentials go in a file or the environment)")
                    .arg(text);
        return false;
    }
    parts.Host = url.host();
    parts.Port = url.port(8086);
    parts.Path = url.path();
    while (parts.Path.endsWith('/'))
        parts.Path.chop(1);
    return true;
}

THttpAnswer PostHttp(const TUrlParts& url, const QByteArray& target, const QByteArray& headers,
                     const QByteArray& body, int timeoutMs) {
    THttpAnswer answer;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const int fd = Connect(url, deadline, answer.Error);
    if (fd < 0)
        return answer;
    const QByteArray request = "POST " + url.Path.toUtf8() + target +
                               " HTTP/1.1\r\nHost: " + url.Host.toUtf8() + ":" +
                               QByteArray::number(url.Port) +
                               "\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size()) +
                               "\r\n" + headers + "\r\n" + body;
    qsizetype sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(fd, request.constData() + sent, size_t(request.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            answer.Error = QStringLiteral("the connection to %1:%2 broke: %3")
                               .arg(url.Host)
                               .arg(url.Port)
                               .arg(strerror(errno));
            break;
        } else if (!WaitFor(fd, POLLOUT, deadline)) {
            answer.Error = QStringLiteral("%1:%2 took no request within %3 ms")
                               .arg(url.Host)
                               .arg(url.Port)
                               .arg(timeoutMs);
            break;
        }
    }
    // The answer is read to its end (the server closes) or to the deadline.
    QByteArray reply;
    while (answer.Error.isEmpty()) {
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            if (reply.size() < (1 << 16))
                reply.append(buffer, n);
            if (Complete(reply))
                break;
            continue;
        }
        if (n == 0)
            break;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN) {
            // A reset after a whole answer still counts as the answer.
            if (reply.contains("\r\n\r\n"))
                break;
            answer.Error = QStringLiteral("the connection to %1:%2 broke: %3")
                               .arg(url.Host)
                               .arg(url.Port)
                               .arg(strerror(errno));
        } else if (!WaitFor(fd, POLLIN, deadline)) {
            answer.Error = QStringLiteral("%1:%2 gave no whole answer within %3 ms")
                               .arg(url.Host)
                               .arg(url.Port)
                               .arg(timeoutMs);
        }
    }
    ::close(fd);
    if (!answer.Error.isEmpty())
        return answer;
    const qsizetype headEnd = reply.indexOf("\r\n\r\n");
    const QList<QByteArray> status = reply.left(reply.indexOf("\r\n")).split(' ');
    if (headEnd < 0 || status.size() < 2 || !status[0].startsWith("HTTP/1.")) {
        answer.Error = QStringLiteral("%1:%2 did not answer in HTTP").arg(url.Host).arg(url.Port);
        return answer;
    }
    answer.Status = status[1].toInt();
    answer.Body = reply.mid(headEnd + 4, 512);
    // A chunked answer: the text without its first chunk's size.
    if (reply.left(headEnd).toLower().contains("transfer-encoding: chunked"))
        answer.Body = answer.Body.mid(answer.Body.indexOf("\r\n") + 2);
    return answer;
}
