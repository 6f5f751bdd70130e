// Every save path on a file system with no byte left (run by full-disk.sh on
// a small tmpfs of its own): the failure is told with the save's message and
// the old file stays byte for byte; the first start leaves no file at all.
#include "FormControl.h"
#include "app/TMainForm.h"
#include "settings/Cp1251Codec.h"
#include "settings/TSettingsFile.h"
#include "ui/SettingsMessages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString SaveCaption = QStringLiteral("ОШИБКА SaveIniFile()!!!");
const QString DefaultCaption = QStringLiteral("ОШИБКА CreateDefaultIniFile()!");

struct Message {
    QString text, caption;
    bool operator==(const Message&) const = default;
};

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class FullDisk : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* skip = std::getenv("KM808_FULL_DISK_SKIP"))
            GTEST_SKIP() << skip;
        const char* root = std::getenv("KM808_FULL_DISK_DIR");
        if (!root)
            GTEST_SKIP()
                << "needs the small file system that full-disk.sh mounts (ctest -R settings.full_disk)";
        Root = QString::fromLocal8Bit(root);
        QDir(Root).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(Root + "/program"));
        Form.SetSettingsDirectory(Root + "/program");
        Path = Form.SettingsPath();
        SettingsMessageOverride() = [this](QWidget*, const QString& text, const QString& caption) {
            Messages.push_back({text, caption});
        };
    }
    void TearDown() override {
        SettingsMessageOverride() = nullptr;
        if (!Root.isEmpty())
            QDir(Root).removeRecursively();
    }

    // Settings unlike the defaults, loaded into the window.
    void StoreAndLoad() {
        QString text = Cp1251::Decode(ReadAll(KM808_SETTINGS_FIXTURES "/default-Km808_Viza.ini"));
        text.replace("АЦП. Индекс частоты работы АЦП=6", "АЦП. Индекс частоты работы АЦП=2");
        text.replace("Сохранение настроек=0", "Сохранение настроек=1");
        QFile f(Path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        Stored = Cp1251::Encode(text);
        ASSERT_EQ(f.write(Stored), Stored.size());
        f.close();
        auto accessor = TSettingsFile::Open(Path);
        ASSERT_TRUE(Form.LoadSettings(accessor.get()));
        // Something for a save to change.
        Control<QComboBox>(Form, "AdcRateComboBox")->setCurrentIndex(4);
    }

    // Takes every free block.
    void Fill() {
        int fd = ::open(QFile::encodeName(Root + "/filler").constData(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        const QByteArray block(4096, 'x');
        while (::write(fd, block.constData(), block.size()) > 0) {
        }
        ASSERT_EQ(errno, ENOSPC);
        for (int size = 2048; size > 0; size /= 2)
            while (::write(fd, block.constData(), size) > 0) {
            }
        ::close(fd);
    }

    QStringList Leftovers() const {
        return QDir(Root + "/program").entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    QString Root, Path;
    QByteArray Stored;
    TMainForm Form;
    std::vector<Message> Messages;
};

const std::vector<Message> SaveMessages = {{"Не могу сохранить файл настроек приложения!", SaveCaption},
                                           {"Не могу сохранить файл настроек модуля!", SaveCaption}};

TEST_F(FullDisk, CtrlSToldAndTheFileStaysWhole) {
    StoreAndLoad();
    Fill();
    Form.SaveCurrentSettingsClick();
    EXPECT_EQ(Messages, SaveMessages);
    EXPECT_EQ(ReadAll(Path), Stored);
    EXPECT_EQ(Leftovers(), QStringList{"Km808_Viza.ini"});
}

TEST_F(FullDisk, AutoSaveOnCloseToldAndTheFileStaysWhole) {
    StoreAndLoad();
    ASSERT_TRUE(Control<QCheckBox>(Form, "AutoSaveSettingsLMDCheckBox")->isChecked());
    Fill();
    Form.FormClose();
    EXPECT_EQ(Messages, SaveMessages);
    EXPECT_EQ(ReadAll(Path), Stored);
    EXPECT_EQ(Leftovers(), QStringList{"Km808_Viza.ini"});
}

TEST_F(FullDisk, CtrlDToldAndTheFileStaysWhole) {
    StoreAndLoad();
    Fill();
    Form.SaveDefaultSettingsClick();
    EXPECT_EQ(Messages, (std::vector<Message>{
                            {"Не могу создать файл обычных настроек для приложения!", DefaultCaption}}));
    EXPECT_EQ(ReadAll(Path), Stored);
    EXPECT_EQ(Leftovers(), QStringList{"Km808_Viza.ini"});
}

TEST_F(FullDisk, FirstStartToldAndNoFileIsLeft) {
    Fill();
    QStringList reports;
    EXPECT_FALSE(Form.OpenSettingsFile([&](const QString& text) { reports << text; }));
    EXPECT_TRUE(reports.isEmpty());
    EXPECT_EQ(Messages, (std::vector<Message>{
                            {"Не могу создать файл обычных настроек для приложения!", DefaultCaption}}));
    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(", ").toStdString();
}

} // namespace
