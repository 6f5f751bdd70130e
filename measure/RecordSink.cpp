#include "measure/RecordSink.h"

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

} // namespace

TRecordSink::~TRecordSink() {
    if (Fd >= 0)
        ::close(Fd);
}

bool TRecordSink::Open(const QString& path, TExisting existing, bool alsoStdout, QString& error,
                       bool& exists) {
    exists = false;
    ToStdout = path.isEmpty() || alsoStdout;
    if (path.isEmpty())
        return true;
    Path = path;
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
    if (existing == TExisting::Refuse)
        flags |= O_EXCL;
    else if (existing == TExisting::Append)
        flags |= O_APPEND;
    else
        flags |= O_TRUNC;
    const QByteArray name = path.toLocal8Bit();
    Fd = ::open(name.constData(), flags, 0644);
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
    FileSize = st.st_size;
    return true;
}

bool TRecordSink::Write(const QByteArray& lines, QString& error) {
    int code = 0;
    if (Fd >= 0) {
        if (!WriteAll(Fd, lines.constData(), size_t(lines.size()), code) || ::fsync(Fd) != 0) {
            if (code == 0)
                code = errno;
            // Cut back to the last whole line; what fails here leaves the
            // same bytes a kill would.
            if (::ftruncate(Fd, FileSize) == 0)
                ::fsync(Fd);
            error = QStringLiteral("cannot write %1: %2").arg(Path, strerror(code));
            return false;
        }
        FileSize += lines.size();
    }
    if (ToStdout && !WriteAll(STDOUT_FILENO, lines.constData(), size_t(lines.size()), code)) {
        error = QStringLiteral("cannot write to standard output: %1").arg(strerror(code));
        return false;
    }
    return true;
}
