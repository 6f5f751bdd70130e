#include "store/Spool.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

QByteArray Lines(int first, int count) {
    QByteArray out;
    for (int i = first; i < first + count; ++i)
        out += "m,slot=3 v=" + QByteArray::number(i) + " " + QByteArray::number(1000 + i) + "\n";
    return out;
}

std::unique_ptr<TSpool> OpenSpool(const QString& dir, long long maxBytes = 1 << 30) {
    auto spool = std::make_unique<TSpool>();
    QString error;
    EXPECT_TRUE(spool->Open(dir, maxBytes, error)) << error.toStdString();
    return spool;
}

// Drains the spool batch by batch, committing each.
QByteArray DrainAll(TSpool& spool, long long batchBytes) {
    QByteArray all;
    for (;;) {
        const TSpool::TBatch batch = spool.Peek(batchBytes);
        if (batch.Lines.isEmpty())
            return all;
        EXPECT_TRUE(batch.Lines.endsWith('\n'));
        all += batch.Lines;
        QString error;
        EXPECT_TRUE(spool.Commit(batch, error)) << error.toStdString();
    }
}

} // namespace

// What was taken before a restart is not sent again; what was not is sent,
// in order, including what a batch peeked but never committed.
TEST(Spool, RestartResumesAfterTheLastTakenBatch) {
    QTemporaryDir dir;
    QString error;
    {
        auto spool = OpenSpool(dir.path());
        ASSERT_EQ(spool->Append(Lines(0, 10), error), TSpool::TAppend::Done);
        const TSpool::TBatch first = spool->Peek(Lines(0, 4).size());
        EXPECT_EQ(first.Lines, Lines(0, 4));
        ASSERT_TRUE(spool->Commit(first, error));
        EXPECT_EQ(spool->Peek(Lines(4, 3).size() + 5).Lines, Lines(4, 3)); // peeked, not taken
    }
    auto spool = OpenSpool(dir.path());
    EXPECT_EQ(spool->PendingBytes(), Lines(4, 6).size());
    ASSERT_EQ(spool->Append(Lines(10, 2), error), TSpool::TAppend::Done);
    EXPECT_EQ(DrainAll(*spool, 100), Lines(4, 8));
    EXPECT_EQ(spool->PendingBytes(), 0);
}

// A kill in the middle of a write leaves part of a line; the next run must
// neither send it nor glue the next line onto it.
TEST(Spool, PartOfALineAfterAKillIsCutOff) {
    QTemporaryDir dir;
    QString error;
    {
        auto spool = OpenSpool(dir.path());
        ASSERT_EQ(spool->Append(Lines(0, 3), error), TSpool::TAppend::Done);
    }
    QFile segment(dir.filePath("000000000001.lp"));
    ASSERT_TRUE(segment.open(QIODevice::Append));
    segment.write("m,slot=3 v=9");
    segment.close();
    auto spool = OpenSpool(dir.path());
    ASSERT_EQ(spool->Append(Lines(3, 1), error), TSpool::TAppend::Done);
    EXPECT_EQ(DrainAll(*spool, 1 << 20), Lines(0, 4));
}

// Full: the append is refused whole and says so; taking a batch makes room.
TEST(Spool, BoundRefusesWholeAppendsUntilBatchesAreTaken) {
    QTemporaryDir dir;
    QString error;
    const long long bound = Lines(0, 5).size();
    auto spool = OpenSpool(dir.path(), bound);
    ASSERT_EQ(spool->Append(Lines(0, 4), error), TSpool::TAppend::Done);
    EXPECT_EQ(spool->Append(Lines(4, 2), error), TSpool::TAppend::Full);
    EXPECT_TRUE(error.contains("is full")) << error.toStdString();
    EXPECT_EQ(spool->PendingBytes(), Lines(0, 4).size());
    const TSpool::TBatch batch = spool->Peek(Lines(0, 2).size());
    ASSERT_TRUE(spool->Commit(batch, error));
    ASSERT_EQ(spool->Append(Lines(4, 2), error), TSpool::TAppend::Done);
    EXPECT_EQ(DrainAll(*spool, 1 << 20), Lines(2, 4));
}

// Past a segment's size a new one begins; sent segments are deleted, and a
// restart between the last batch of a segment and its deletion goes on in
// the next one.
TEST(Spool, SegmentsFollowInOrderAndSentOnesAreDeleted) {
    QTemporaryDir dir;
    QString error;
    QByteArray expected;
    {
        auto spool = OpenSpool(dir.path());
        const QByteArray chunk = Lines(0, 20000); // well over a megabyte
        const int chunks = int(SpoolSegmentBytes / chunk.size()) + 2;
        for (int i = 0; i < chunks; ++i) {
            const QByteArray lines = Lines(i * 20000, 20000);
            ASSERT_EQ(spool->Append(lines, error), TSpool::TAppend::Done);
            expected += lines;
        }
        EXPECT_TRUE(QFile::exists(dir.filePath("000000000002.lp")));
        // The whole first segment, then a restart.
        QByteArray sent;
        while (QFile::exists(dir.filePath("000000000001.lp"))) {
            const TSpool::TBatch batch = spool->Peek(1 << 20);
            sent += batch.Lines;
            ASSERT_TRUE(spool->Commit(batch, error));
        }
        expected.remove(0, sent.size());
    }
    auto spool = OpenSpool(dir.path());
    EXPECT_EQ(spool->PendingBytes(), expected.size());
    EXPECT_EQ(DrainAll(*spool, 1 << 20), expected);
    EXPECT_EQ(QDir(dir.path()).entryList({"*.lp"}, QDir::Files).size(), 1);
}

TEST(Spool, OneClientPerDirectory) {
    QTemporaryDir dir;
    auto first = OpenSpool(dir.path());
    TSpool second;
    QString error;
    EXPECT_FALSE(second.Open(dir.path(), 1 << 20, error));
    EXPECT_TRUE(error.contains("in use")) << error.toStdString();
}
