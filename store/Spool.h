// A write-ahead queue of line-protocol lines on disk: every point the store
// is to get is appended here (synced) before anyone tries to send it, and
// leaves only after the store has taken it. The queue survives a kill of the
// client; the next run with the same directory sends what is left, in order.
//
// Files in the directory: segments "NNNNNNNNNNNN.lp" (appended in order,
// deleted once sent), "sent" (the segment and offset up to which the store
// has taken the lines), "lock" (one client per directory).
//
// Thread safety: Append may be called from several threads at once, and
// Peek/Commit from one other thread (the sender) at the same time.
#pragma once

#include <QByteArray>
#include <QString>

#include <mutex>

class TSpool {
public:
    TSpool() = default;
    ~TSpool();
    TSpool(const TSpool&) = delete;
    TSpool& operator=(const TSpool&) = delete;

    // Opens or creates the spool in dir, holding at most maxBytes of unsent
    // lines. False with the error text when it cannot be used.
    bool Open(const QString& dir, long long maxBytes, QString& error);

    enum class TAppend { Done, Full, Failed };
    // Appends whole lines (each ending with "\n") and syncs them. Full: the
    // unsent lines would exceed the bound; nothing was written.
    TAppend Append(const QByteArray& lines, QString& error);

    // The next unsent lines, at most maxBytes of them unless the first line
    // alone is longer; empty when everything has been sent.
    struct TBatch {
        QByteArray Lines;
        long long Segment = 0;
        long long End = 0; // offset in Segment just after Lines
    };
    TBatch Peek(long long maxBytes);
    // Marks the batch as taken by the store (persisted before it returns).
    bool Commit(const TBatch& batch, QString& error);
    // Moves a batch the store refuses to "rejected.lp" and commits it.
    bool SetAside(const TBatch& batch, QString& error);

    long long PendingBytes() const;
    QString Directory() const { return Dir; }

private:
    QString SegmentPath(long long segment) const;
    bool WriteCursor(long long segment, long long offset, QString& error);
    bool StartSegment(long long segment, QString& error);

    mutable std::mutex Mutex;
    QString Dir;
    long long MaxBytes = 0;
    int LockFd = -1;
    int WriteFd = -1;
    long long WriteSegment = 0; // the segment being appended to
    long long WriteSize = 0;    // its size
    long long FirstSegment = 0; // oldest segment on disk
    long long SentSegment = 0;  // the cursor
    long long SentOffset = 0;
    long long Pending = 0; // unsent bytes
};

// A segment is closed and a new one begun beyond this size.
inline constexpr long long SpoolSegmentBytes = 8LL << 20;
