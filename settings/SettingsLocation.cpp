#include "settings/SettingsLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

SettingsLayout BuiltSettingsLayout() {
#ifdef KM808_SETTINGS_IN_USER_CONFIG
    return SettingsLayout::UserConfiguration;
#else
    return SettingsLayout::BesideExecutable;
#endif
}

QString SettingsDirectoryFor(SettingsLayout layout) {
    if (layout == SettingsLayout::BesideExecutable)
        return QCoreApplication::applicationDirPath();
    // A relative XDG_CONFIG_HOME is invalid and is ignored, as the base
    // directory rules ask.
    QString dir = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (dir.isEmpty() || QDir::isRelativePath(dir))
        dir = QDir::homePath() + QStringLiteral("/.config");
    dir = QDir::cleanPath(dir);
    if (!QFileInfo::exists(dir) && QDir().mkpath(dir))
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return dir;
}
