#include "settings/SettingsLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// Sets or clears an environment variable for one test.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : Name(name), Old(qgetenv(name)), Had(qEnvironmentVariableIsSet(name)) {
        qputenv(name, value);
    }
    ~ScopedEnv() {
        if (Had)
            qputenv(Name, Old);
        else
            qunsetenv(Name);
    }

private:
    const char* Name;
    QByteArray Old;
    bool Had;
};

} // namespace

TEST(SettingsLocation, BesideTheExecutableIsTheProgramsDirectory) {
    int argc = 1;
    char name[] = "settings_location_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    EXPECT_EQ(SettingsDirectoryFor(SettingsLayout::BesideExecutable), QCoreApplication::applicationDirPath());
    EXPECT_FALSE(QCoreApplication::applicationDirPath().isEmpty());
}

TEST(SettingsLocation, UserConfigurationFollowsTheBaseDirectoryRules) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString home = tmp.filePath("home");
    ScopedEnv homeEnv("HOME", QFile::encodeName(home));
    struct Case {
        const char* what;
        QByteArray xdgConfigHome; // "-" for unset
        QString expected;
    };
    const Case cases[] = {
        {"unset", "-", home + "/.config"},
        {"empty", "", home + "/.config"},
        {"relative, so invalid", "rel/config", home + "/.config"},
        {"absolute, nested and missing", QFile::encodeName(tmp.filePath("xdg/a/b/")),
         tmp.filePath("xdg/a/b")},
    };
    for (const Case& c : cases) {
        ScopedEnv xdg("XDG_CONFIG_HOME", c.xdgConfigHome);
        if (c.xdgConfigHome == "-")
            qunsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(SettingsDirectoryFor(SettingsLayout::UserConfiguration), c.expected) << c.what;
        // The first start must be able to create the file there, and nobody
        // else may read it.
        QFileInfo made(c.expected);
        EXPECT_TRUE(made.isDir()) << c.what;
        struct stat st {};
        ASSERT_EQ(stat(QFile::encodeName(c.expected).constData(), &st), 0) << c.what;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << c.what;
    }
}

TEST(SettingsLocation, AnExistingConfigurationDirectoryKeepsItsMode) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    ASSERT_EQ(chmod(QFile::encodeName(tmp.path()).constData(), 0755), 0);
    ScopedEnv xdg("XDG_CONFIG_HOME", QFile::encodeName(tmp.path()));
    EXPECT_EQ(SettingsDirectoryFor(SettingsLayout::UserConfiguration), tmp.path());
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(tmp.path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
}
