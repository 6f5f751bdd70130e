#include "store/Spool.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString ErrnoText(int code) {
    return QString::fromLocal8Bit(strerror(code));
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

long long FileSize(const QString& path) {
    struct stat st {};
    return ::stat(path.toLocal8Bit().constData(), &st) == 0 ? st.st_size : 0;
}

void SyncDirectory(const QString& dir) {
    const int fd = ::open(dir.toLocal8Bit().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Reads up to size bytes at offset; fewer only at the file's end.
QByteArray ReadAt(int fd, long long offset, long long size) {
    QByteArray data(qsizetype(size), Qt::Uninitialized);
    long long got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, data.data() + got, size_t(size - got), off_t(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    data.truncate(qsizetype(got));
    return data;
}

} // namespace

TSpool::~TSpool() {
    if (WriteFd >= 0)
        ::close(WriteFd);
    if (LockFd >= 0)
        ::close(LockFd);
}

QString TSpool::SegmentPath(long long segment) const {
    return Dir + QStringLiteral("/%1.lp").arg(segment, 12, 10, QChar('0'));
}

bool TSpool::Open(const QString& dir, long long maxBytes, QString& error) {
    Dir = QDir(dir).absolutePath();
    MaxBytes = maxBytes;
    if (!QDir().mkpath(Dir)) {
        error = QStringLiteral("cannot create the spool directory %1").arg(Dir);
        return false;
    }
    LockFd = ::open((Dir + "/lock").toLocal8Bit().constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (LockFd < 0) {
        error = QStringLiteral("cannot use the spool directory %1: %2").arg(Dir, ErrnoText(errno));
        return false;
    }
    // Two writers would interleave their points and their cursor.
    if (::flock(LockFd, LOCK_EX | LOCK_NB) != 0) {
        error = QStringLiteral("the spool %1 is in use by another process").arg(Dir);
        return false;
    }

    std::vector<long long> segments;
    const QStringList names = QDir(Dir).entryList({"*.lp"}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        bool ok = false;
        const long long n = name.chopped(3).toLongLong(&ok);
        if (ok && name.size() == 15 && n > 0)
            segments.push_back(n);
    }
    std::sort(segments.begin(), segments.end());

    QFile cursor(Dir + "/sent");
    SentSegment = segments.empty() ? 1 : segments.front();
    SentOffset = 0;
    if (cursor.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> parts = cursor.readAll().simplified().split(' ');
        if (parts.size() == 2 && parts[0].toLongLong() >= SentSegment) {
            SentSegment = parts[0].toLongLong();
            SentOffset = std::max(0LL, parts[1].toLongLong());
        }
    }
    // Segments wholly sent before a kill between the cursor and the delete.
    while (!segments.empty() && segments.front() < SentSegment) {
        QFile::remove(SegmentPath(segments.front()));
        segments.erase(segments.begin());
    }
    FirstSegment = SentSegment;
    WriteSegment = segments.empty() ? SentSegment : segments.back();

    WriteFd = ::open(SegmentPath(WriteSegment).toLocal8Bit().constData(),
                     O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (WriteFd < 0) {
        error =
            QStringLiteral("cannot open the spool %1: %2").arg(SegmentPath(WriteSegment), ErrnoText(errno));
        return false;
    }
    // A kill in the middle of a write leaves part of a line: cut it off.
    WriteSize = FileSize(SegmentPath(WriteSegment));
    const long long tail = std::min(WriteSize, 1LL << 16);
    const QByteArray end = ReadAt(WriteFd, WriteSize - tail, tail);
    const qsizetype lastNewline = end.lastIndexOf('\n');
    const long long whole = lastNewline < 0 ? WriteSize - tail : WriteSize - tail + lastNewline + 1;
    if (whole < WriteSize) {
        if (::ftruncate(WriteFd, whole) != 0) {
            error = QStringLiteral("cannot repair the spool %1: %2")
                        .arg(SegmentPath(WriteSegment), ErrnoText(errno));
            return false;
        }
        ::fsync(WriteFd);
        WriteSize = whole;
    }
    if (SentSegment == WriteSegment)
        SentOffset = std::min(SentOffset, WriteSize);

    Pending = -SentOffset;
    for (long long s = SentSegment; s < WriteSegment; ++s)
        Pending += FileSize(SegmentPath(s));
    Pending += WriteSize;
    return true;
}

bool TSpool::StartSegment(long long segment, QString& error) {
    const int fd =
        ::open(SegmentPath(segment).toLocal8Bit().constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = QStringLiteral("cannot write the spool %1: %2").arg(SegmentPath(segment), ErrnoText(errno));
        return false;
    }
    SyncDirectory(Dir);
    ::close(WriteFd);
    WriteFd = fd;
    WriteSegment = segment;
    WriteSize = 0;
    return true;
}

TSpool::TAppend TSpool::Append(const QByteArray& lines, QString& error) {
    std::lock_guard lock(Mutex);
    if (Pending + lines.size() > MaxBytes) {
        error = QStringLiteral("the spool %1 is full (%2 bytes not yet taken by the store, at most %3)")
                    .arg(Dir)
                    .arg(Pending)
                    .arg(MaxBytes);
        return TAppend::Full;
    }
    if (WriteSize > 0 && WriteSize + lines.size() > SpoolSegmentBytes &&
        !StartSegment(WriteSegment + 1, error))
        return TAppend::Failed;
    if (!WriteAll(WriteFd, lines.constData(), size_t(lines.size())) || ::fdatasync(WriteFd) != 0) {
        const int code = errno;
        // Whole lines or nothing: the next run must not read half a point.
        if (::ftruncate(WriteFd, WriteSize) == 0)
            ::fdatasync(WriteFd);
        error =
            QStringLiteral("cannot write the spool %1: %2").arg(SegmentPath(WriteSegment), ErrnoText(code));
        return code == ENOSPC || code == EDQUOT ? TAppend::Full : TAppend::Failed;
    }
    WriteSize += lines.size();
    Pending += lines.size();
    return TAppend::Done;
}

TSpool::TBatch TSpool::Peek(long long maxBytes) {
    long long segment = 0;
    long long offset = 0;
    long long size = 0;
    {
        std::lock_guard lock(Mutex);
        // What lies before WriteSize is written and synced; older segments
        // no longer change.
        size = SentSegment == WriteSegment ? WriteSize : FileSize(SegmentPath(SentSegment));
        while (SentSegment < WriteSegment && SentOffset >= size) {
            ++SentSegment;
            SentOffset = 0;
            size = SentSegment == WriteSegment ? WriteSize : FileSize(SegmentPath(SentSegment));
        }
        segment = SentSegment;
        offset = SentOffset;
    }
    TBatch batch;
    batch.Segment = segment;
    batch.End = offset;
    if (offset >= size)
        return batch;
    const int fd = ::open(SegmentPath(segment).toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return batch;
    QByteArray data = ReadAt(fd, offset, std::min(size - offset, maxBytes));
    qsizetype cut = data.lastIndexOf('\n');
    if (cut < 0) {
        // One line longer than a batch goes alone.
        data = ReadAt(fd, offset, size - offset);
        cut = data.indexOf('\n');
    }
    ::close(fd);
    data.truncate(cut + 1);
    batch.Lines = data;
    batch.End = offset + data.size();
    return batch;
}

bool TSpool::WriteCursor(long long segment, long long offset, QString& error) {
    const QString temporary = Dir + "/sent.new";
    const int fd =
        ::open(temporary.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const QByteArray text = QByteArray::number(segment) + ' ' + QByteArray::number(offset) + '\n';
    const bool written = fd >= 0 && WriteAll(fd, text.constData(), size_t(text.size())) && ::fsync(fd) == 0;
    const int code = errno;
    if (fd >= 0)
        ::close(fd);
    if (!written ||
        ::rename(temporary.toLocal8Bit().constData(), (Dir + "/sent").toLocal8Bit().constData()) != 0) {
        error = QStringLiteral("cannot write the spool's cursor in %1: %2")
                    .arg(Dir, ErrnoText(written ? errno : code));
        return false;
    }
    SyncDirectory(Dir);
    return true;
}

bool TSpool::Commit(const TBatch& batch, QString& error) {
    long long segment = batch.Segment;
    long long offset = batch.End;
    {
        std::lock_guard lock(Mutex);
        if (segment < WriteSegment && offset >= FileSize(SegmentPath(segment))) {
            ++segment;
            offset = 0;
        }
    }
    if (!WriteCursor(segment, offset, error))
        return false;
    long long first = 0;
    {
        std::lock_guard lock(Mutex);
        Pending -= batch.Lines.size();
        SentSegment = segment;
        SentOffset = offset;
        first = FirstSegment;
        FirstSegment = segment;
    }
    for (long long s = first; s < segment; ++s)
        QFile::remove(SegmentPath(s));
    return true;
}

bool TSpool::SetAside(const TBatch& batch, QString& error) {
    const QString path = Dir + "/rejected.lp";
    const int fd = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const bool written =
        fd >= 0 && WriteAll(fd, batch.Lines.constData(), size_t(batch.Lines.size())) && ::fsync(fd) == 0;
    const int code = errno;
    if (fd >= 0)
        ::close(fd);
    if (!written) {
        error = QStringLiteral("cannot write %1: %2").arg(path, ErrnoText(code));
        return false;
    }
    return Commit(batch, error);
}

long long TSpool::PendingBytes() const {
    std::lock_guard lock(Mutex);
    return Pending;
}
