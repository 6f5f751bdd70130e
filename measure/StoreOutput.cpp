#include "measure/StoreOutput.h"

#include <QDir>

#include <cstdio>

namespace {

void PrintMessage(const QString& text) {
    const QByteArray bytes = ("km808-measure: " + text + "\n").toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

} // namespace

QString DefaultSpoolDirectory() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty())
        state = QDir::homePath() + "/.local/state";
    return state + "/km808-measure/spool";
}

QByteArray WithStampUnit(const QByteArray& lines, long long divisor) {
    if (divisor == 1)
        return lines;
    QByteArray out;
    for (const QByteArray& line : lines.split('\n')) {
        if (line.isEmpty())
            continue;
        const qsizetype blank = line.lastIndexOf(' ');
        out += line.left(blank + 1) + QByteArray::number(line.mid(blank + 1).toLongLong() / divisor) + '\n';
    }
    return out;
}

bool TStoreOutput::Open(const TMeasureOptions& options, QString& error) {
    if (options.InfluxUrl.isEmpty())
        return true;
    TInfluxTarget target;
    target.UrlText = options.InfluxUrl;
    target.Database = options.InfluxDb;
    target.Precision = options.InfluxPrecision;
    Divisor = InfluxPrecisionDivisor(target.Precision);
    if (!ParseHttpUrl(options.InfluxUrl, target.Url, error)) {
        error = "--influx-url: " + error;
        return false;
    }
    if (!ReadInfluxCredentials(options.InfluxCredentials, target, error))
        return false;
    Spool = std::make_unique<TSpool>();
    const QString dir = options.SpoolDir.isEmpty() ? DefaultSpoolDirectory() : options.SpoolDir;
    if (!Spool->Open(dir, options.SpoolMax, error)) {
        error = "--spool: " + error;
        return false;
    }
    if (const long long left = Spool->PendingBytes(); left > 0)
        PrintMessage(QStringLiteral("%1 bytes of points from an earlier run in the spool %2 go first")
                         .arg(left)
                         .arg(Spool->Directory()));
    Delivery = std::make_unique<TInfluxDelivery>(*Spool, target, PrintMessage);
    Delivery->Start();
    return true;
}

bool TStoreOutput::Write(const QByteArray& lines, QString& error) {
    if (!Delivery)
        return true;
    if (Spool->Append(WithStampUnit(lines, Divisor), error) != TSpool::TAppend::Done)
        return false;
    Delivery->Notify();
    return true;
}

QString TStoreOutput::Finish(int waitMs) {
    if (!Delivery || Delivery->Finish(waitMs))
        return {};
    return QStringLiteral("%1 bytes of points stay in the spool %2; the next run with this spool sends them")
        .arg(Spool->PendingBytes())
        .arg(Spool->Directory());
}
