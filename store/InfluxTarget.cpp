#include "store/InfluxTarget.h"

#include <QFile>
#include <QUrl>

long long InfluxPrecisionDivisor(const QString& precision) {
    if (precision == "ns")
        return 1;
    if (precision == "u")
        return 1000;
    if (precision == "ms")
        return 1000000;
    return 0;
}

bool ReadInfluxCredentials(const QString& file, TInfluxTarget& target, QString& error) {
    QString text;
    if (!file.isEmpty()) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("--influx-credentials: cannot read %1").arg(file);
            return false;
        }
        text = QString::fromUtf8(f.readLine(4096)).trimmed();
        const qsizetype colon = text.indexOf(':');
        if (colon <= 0) {
            error = QStringLiteral("--influx-credentials: %1 must hold one line USER:PASSWORD").arg(file);
            return false;
        }
        target.User = text.left(colon);
        target.Password = text.mid(colon + 1);
        return true;
    }
    target.User = qEnvironmentVariable("INFLUX_USERNAME");
    target.Password = qEnvironmentVariable("INFLUX_PASSWORD");
    return true;
}

QByteArray InfluxWriteTarget(const TInfluxTarget& target) {
    return "/write?db=" + QUrl::toPercentEncoding(target.Database) +
           "&precision=" + target.Precision.toUtf8();
}

QByteArray InfluxWriteHeaders(const TInfluxTarget& target, bool gzip) {
    QByteArray headers = "Content-Type: text/plain; charset=utf-8\r\n";
    if (gzip)
        headers += "Content-Encoding: gzip\r\n";
    if (!target.User.isEmpty())
        headers +=
            "Authorization: Basic " + (target.User + ":" + target.Password).toUtf8().toBase64() + "\r\n";
    return headers;
}
