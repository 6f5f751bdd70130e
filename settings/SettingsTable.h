// Every key of the settings file in one table: its section, text, type, the
// value a reader takes when the key is missing, and the value a fresh file
// holds (they differ for some keys). The fresh file is written from it row by
// row, so the row order is the order of the file. Qt Core only.
#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <vector>

class TSettingsFile;

enum class TSettingType { Bool, Integer, Float, String };
// The application's part (window, detection) and the module's part are
// written by separate steps, each with its own failure message.
enum class TSettingPart { Application, Module };

struct TSettingRow {
    TSettingPart Part;
    QString Section;
    QString Key;
    TSettingType Type;
    QVariant ReadDefault;
    QVariant FreshValue;
};

// The precision keys name the input ranges (volts, ohms).
std::vector<TSettingRow> SettingsTable(const double rangesU[3], const double rangesR[3]);

// The read default of a key; an invalid QVariant when the table has none.
QVariant ReadDefault(const std::vector<TSettingRow>& table, const QString& section, const QString& key);

// Writes the fresh values of one part's rows in table order.
void WriteFreshPart(TSettingsFile& file, const std::vector<TSettingRow>& table, TSettingPart part);

// The key's value read as its row types it, with the row's read default; an
// invalid QVariant when the table has no such row.
QVariant ReadSetting(const TSettingsFile& file, const std::vector<TSettingRow>& table, const QString& section,
                     const QString& key);

// Writes values (key to value, all of section) in table order, so keys new to
// the file land in the order a fresh file has them. False, writing nothing,
// when a key has no row.
bool WriteSettings(TSettingsFile& file, const std::vector<TSettingRow>& table, const QString& section,
                   const QVariantMap& values);
