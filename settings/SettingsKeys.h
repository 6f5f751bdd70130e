// Section and key names of the settings file. The file is shared with the
// same program on other machines, so these texts must stay byte for byte as
// they are, inner blanks included.
#pragma once

#include <QString>

namespace SettingsKeys {

inline const QString ApplicationSection = QStringLiteral("Приложение. Общие");
inline const QString AutoSave = QStringLiteral("Сохранение настроек");
inline const QString WindowTop = QStringLiteral("Top    основной панели");
inline const QString WindowLeft = QStringLiteral("Left   основной панели");
inline const QString CoefSource = QStringLiteral("Источник загрузки корректировочных коэфф.");

inline const QString DiscoverySection = QStringLiteral("Приложение. Обнаружение");
inline const QString CrateSerial = QStringLiteral("Серийный номер QIRA крейта");
inline const QString ModuleSlot = QStringLiteral("Слот модуля");

inline const QString ModuleSection = QStringLiteral("Модуль KM808");
inline const QString ComputationMethod = QStringLiteral("АЦП. Метод расчёта");
inline const QString AmplitudeType = QStringLiteral("АЦП. Тип амплитуды");
inline const QString AcquisitionTime = QStringLiteral("АЦП. Требуемое время сбора данных, с");
inline const QString MinSamples[4] = {
    QStringLiteral("АЦП. Минимальное кол-во отсчётов на канал при работе на частоте АЦП 5 Гц"),
    QStringLiteral("АЦП. Минимальное кол-во отсчётов на канал при работе на частоте АЦП 100 Гц"),
    QStringLiteral("АЦП. Минимальное кол-во отсчётов на канал при работе на частоте АЦП 200 Гц"),
    QStringLiteral("АЦП. Минимальное кол-во отсчётов на канал при работе на частоте АЦП 500 Гц и выше"),
};
inline const QString AdcRateIndex = QStringLiteral("АЦП. Индекс частоты работы АЦП");
inline const QString CorrectionMode = QStringLiteral("АЦП. Режим коррекции данных");
inline const QString AllChannels = QStringLiteral("АЦП. Групповое управление каналами");
inline const QString CommonRangeU =
    QStringLiteral("АЦП. Групповое управление входным диапазоном для измерения U");
inline const QString CommonRangeR =
    QStringLiteral("АЦП. Групповое управление входным диапазоном для измерения R");
inline const QString CommonMeasuringMode = QStringLiteral("АЦП. Групповое управление режимом измерения");

// Channel n is 1..16.
inline QString Channel(int n) {
    return QStringLiteral("АЦП. Управление каналом ") + QString::number(n);
}
inline QString ChannelRangeU(int n) {
    return QStringLiteral("АЦП. Управление входным диапазоном U канала ") + QString::number(n);
}
inline QString ChannelRangeR(int n) {
    return QStringLiteral("АЦП. Управление входным диапазоном R канала ") + QString::number(n);
}

// Display precision of a range: volts or ohms printed as "%5.2f".
inline QString PrecisionU(double volts) {
    return QStringLiteral("АЦП. Входной диапазон U ") + QString::asprintf("%5.2f", volts) +
           QStringLiteral(" В. U precision");
}
inline QString PrecisionR(double ohms) {
    return QStringLiteral("АЦП. Входной диапазон R ") + QString::asprintf("%5.2f", ohms) +
           QStringLiteral(" Ом. R precision");
}

} // namespace SettingsKeys
