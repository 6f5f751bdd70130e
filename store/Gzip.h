// The gzip form (RFC 1952) of a byte string, which an InfluxDB /write takes
// with "Content-Encoding: gzip". Built on Qt's deflate: no zlib of our own.
#pragma once

#include <QByteArray>

QByteArray GzipBytes(const QByteArray& data);
