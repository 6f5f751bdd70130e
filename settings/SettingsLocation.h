// Where the settings file lives.
#pragma once

#include <QString>

// A build tree, or a copy of the program in a directory of its own, keeps the
// file beside the executable. An installed program cannot write beside
// itself (/usr/bin), so the installed layout keeps one file per user in the
// user's configuration directory. The layout is fixed when the program is
// built (KM808_INSTALLED_LAYOUT), never guessed from where it runs.
enum class SettingsLayout { BesideExecutable, UserConfiguration };

// The layout this program was built for.
SettingsLayout BuiltSettingsLayout();

// The directory that holds Km808_Viza.ini in the given layout. For the user's
// configuration directory ($XDG_CONFIG_HOME when absolute, else ~/.config)
// the directory is made (mode 0700) when it is missing, so that the first
// start can create the file there.
QString SettingsDirectoryFor(SettingsLayout layout);
