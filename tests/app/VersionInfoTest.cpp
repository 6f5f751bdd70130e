// The program version read back from an executable's version record. This
// test executable links the record; other files lack it.
#include "app/ModuleStatus.h"
#include "app/PJVersionInfo.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString WriteFile(const QTemporaryDir& dir, const char* name, const QByteArray& content) {
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(content);
    return path;
}

TEST(VersionInfo, ReadsTheRecordOfAnExecutableThatHasOne) {
    PJVersionInfo info;
    info.SetFileName("/proc/self/exe");
    ASSERT_TRUE(info.HaveInfo());
    EXPECT_EQ(info.FileVersion[0], KM808_TEST_VERSION_MAJOR);
    EXPECT_EQ(info.FileVersion[1], KM808_TEST_VERSION_MINOR);
    EXPECT_EQ(info.FileVersion[2], KM808_TEST_VERSION_PATCH);
    EXPECT_EQ(VersionCaption("/proc/self/exe"), QString("KM808_viza - %1.%2.%3")
                                                    .arg(KM808_TEST_VERSION_MAJOR)
                                                    .arg(KM808_TEST_VERSION_MINOR)
                                                    .arg(KM808_TEST_VERSION_PATCH));
}

TEST(VersionInfo, FilesWithoutARecordGiveAnEmptyCaption) {
    QTemporaryDir dir;
    QFile self("/proc/self/exe");
    ASSERT_TRUE(self.open(QIODevice::ReadOnly));
    const QByteArray elf = self.readAll();
    const QString paths[] = {
        KM808_TEST_PLAIN_EXECUTABLE,                        // an executable of the build without the record
        WriteFile(dir, "text", "not an executable at all"), // not ELF
        WriteFile(dir, "head", elf.left(200)),              // section headers cut off
        WriteFile(dir, "empty", {}),
        dir.filePath("missing"),
    };
    for (const QString& path : paths) {
        PJVersionInfo info;
        info.SetFileName(path);
        EXPECT_FALSE(info.HaveInfo()) << path.toStdString();
        EXPECT_EQ(VersionCaption(path), "") << path.toStdString();
    }
}

TEST(FirmwareVersion, HighByteDotLowByteInDecimal) {
    const std::pair<uint16_t, const char*> cases[] = {
        {0x0105, "1.5"}, {0x0A00, "10.0"}, {0xFFFF, "255.255"}, {0, "0.0"}};
    for (const auto& [version, text] : cases)
        EXPECT_EQ(FirmwareVersionText(version), text) << version;
}

} // namespace
