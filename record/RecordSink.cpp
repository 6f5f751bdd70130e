#include "record/RecordSink.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool WriteAll(int fd, const char* data, size_t size, int& error) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

// The first line (up to a limit) and the length up to the last line end.
bool ReadExisting(int fd, long long size, QByteArray& firstLine, long long& wholeLines) {
    constexpr long long limit = 64 * 1024;
    QByteArray head(int(std::min(size, limit)), '\0');
    if (::pread(fd, head.data(), size_t(head.size()), 0) != head.size())
        return false;
    const qsizetype end = head.indexOf('\n');
    firstLine = end >= 0 ? head.left(end) : head;
    wholeLines = size;
    char tail[4096];
    while (wholeLines > 0) {
        const long long from = std::max(0LL, wholeLines - static_cast<long long>(sizeof tail));
        const ssize_t n = ::pread(fd, tail, size_t(wholeLines - from), from);
        if (n != wholeLines - from)
            return false;
        const void* last = memrchr(tail, '\n', size_t(n));
        if (last != nullptr) {
            wholeLines = from + (static_cast<const char*>(last) - tail) + 1;
            return true;
        }
        wholeLines = from;
    }
    return true;
}

} // namespace

TRecordSink::~TRecordSink() {
    if (Fd < 0)
        return;
    ::close(Fd);
    if (Created && !Written)
        ::unlink(Path.toLocal8Bit().constData());
}

bool TRecordSink::Open(const QString& path, TExisting existing, bool alsoStdout, QString& error,
                       bool& exists) {
    exists = false;
    ToStdout = path.isEmpty() || alsoStdout;
    if (path.isEmpty())
        return true;
    Path = path;
    const QByteArray name = path.toLocal8Bit();
    Fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    Created = Fd >= 0;
    if (Fd < 0 && errno == EEXIST && existing != TExisting::Refuse)
        Fd = ::open(name.constData(), O_RDWR | O_CLOEXEC | (existing == TExisting::Append ? O_APPEND : 0));
    if (Fd < 0) {
        exists = errno == EEXIST;
        error =
            exists ? QStringLiteral("--output: %1 exists; add --append to add to it or --force to replace it")
                         .arg(path)
                   : QStringLiteral("--output: cannot open %1: %2").arg(path, strerror(errno));
        return false;
    }
    struct stat st {};
    if (::fstat(Fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = QStringLiteral("--output: %1 is not a plain file").arg(path);
        ::close(Fd);
        Fd = -1;
        return false;
    }
    DiskSize = st.st_size;
    FileSize = 0;
    if (existing == TExisting::Append && DiskSize > 0 &&
        !ReadExisting(Fd, DiskSize, ExistingFirstLine, FileSize)) {
        error = QStringLiteral("--output: cannot read %1: %2").arg(path, strerror(errno));
        ::close(Fd);
        Fd = -1;
        return false;
    }
    return true;
}

bool TRecordSink::Write(const QByteArray& lines, QString& error) {
    int code = 0;
    if (Fd >= 0) {
        // The replaced content or an unfinished last line goes with the first
        // line of this run, not before: a run that writes nothing leaves the
        // file as it found it.
        const bool cut = DiskSize != FileSize && ::ftruncate(Fd, FileSize) != 0;
        if (cut || !WriteAll(Fd, lines.constData(), size_t(lines.size()), code) || ::fsync(Fd) != 0) {
            if (code == 0)
                code = errno;
            // Cut back to the last whole line; what fails here leaves the
            // same bytes a kill would.
            if (::ftruncate(Fd, FileSize) == 0)
                ::fsync(Fd);
            DiskSize = FileSize;
            error = QStringLiteral("cannot write %1: %2").arg(Path, strerror(code));
            return false;
        }
        FileSize += lines.size();
        DiskSize = FileSize;
        Written = true;
    }
    if (ToStdout && !WriteAll(STDOUT_FILENO, lines.constData(), size_t(lines.size()), code)) {
        ReaderWentAway = code == EPIPE;
        error = QStringLiteral("cannot write to standard output: %1").arg(strerror(code));
        return false;
    }
    return true;
}
