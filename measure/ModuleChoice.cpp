#include "measure/ModuleChoice.h"

#include "device/CrateQueries.h"
#include "device/DeviceRecords.h"
#include "discovery/DetectionTables.h"
#include "measure/MeasureOptions.h"
#include "measure/RunChoice.h"
#include "record/Printable.h"

#include <algorithm>
#include <cstdlib>

namespace {

bool HoldsKm808(const std::array<uint16_t, 16>& types) {
    return std::find(types.begin(), types.end(), Km808TypeCode) != types.end();
}

QString KnownCrates(const TCrateListing& listing) {
    QStringList names;
    for (const QString& serial : listing.Serials)
        names << Printable(serial);
    return names.isEmpty() ? QStringLiteral("none") : names.join(", ");
}

QString Km808Slots(const std::array<uint16_t, 16>& types) {
    QStringList numbers;
    for (int k = 0; k < 16; ++k)
        if (types[size_t(k)] == Km808TypeCode)
            numbers << QString::number(k + 1);
    return numbers.isEmpty() ? QStringLiteral("none") : numbers.join(", ");
}

} // namespace

TNamedModule NameModule(const TMeasureOptions& options, const TRunChoice& choice,
                        const TCrateListing& listing) {
    TNamedModule named;
    named.Named = !options.CrateSerial.isEmpty() || options.CrateNumber > 0 || options.Slot > 0 ||
                  !choice.WantedCrateSerial.isEmpty();
    if (!named.Named)
        return named;

    const int count = int(std::min<size_t>(size_t(listing.Serials.size()), listing.Types.size()));
    int crate = -1;
    if (options.CrateNumber > 0) {
        int withKm808 = 0;
        for (int i = 0; i < count && crate < 0; ++i)
            if (HoldsKm808(listing.Types[size_t(i)]) && ++withKm808 == options.CrateNumber)
                crate = i;
        if (crate < 0) {
            named.Missing = QStringLiteral("--crate: %1, but the crate server has %2 crate(s) with a KM808")
                                .arg(options.CrateNumber)
                                .arg(withKm808);
            return named;
        }
    } else {
        const QString wanted = options.CrateSerial.isEmpty() ? choice.WantedCrateSerial : options.CrateSerial;
        const bool storedCrate = options.CrateSerial.isEmpty() && !wanted.isEmpty();
        for (int i = 0; i < count && crate < 0; ++i)
            if (wanted.isEmpty() ? HoldsKm808(listing.Types[size_t(i)]) : listing.Serials[i] == wanted)
                crate = i;
        if (crate < 0) {
            named.Missing =
                wanted.isEmpty()
                    ? QStringLiteral("--slot: the crate server has no crate with a KM808 (it has: %1)")
                          .arg(KnownCrates(listing))
                    : QStringLiteral("%1: the crate server has no crate '%2' (it has: %3)")
                          .arg(storedCrate ? "--settings" : "--crate", Printable(wanted),
                               KnownCrates(listing));
            return named;
        }
    }
    named.CrateIndex = crate;
    named.Crate = listing.Serials[crate];
    const std::array<uint16_t, 16>& types = listing.Types[size_t(crate)];

    // The stored slot counts only in the stored crate, however it is named.
    QString slotSource = QStringLiteral("--slot");
    if (options.Slot > 0) {
        named.Slot = options.Slot;
    } else if (named.Crate == choice.WantedCrateSerial && choice.WantedSlot >= 1 && choice.WantedSlot <= 16) {
        named.Slot = choice.WantedSlot;
        slotSource = QStringLiteral("--settings");
    } else {
        const auto first = std::find(types.begin(), types.end(), Km808TypeCode);
        named.Slot = first == types.end() ? 0 : int(first - types.begin()) + 1;
    }
    if (named.Slot == 0)
        named.Missing = QStringLiteral("--crate: crate '%1' holds no KM808").arg(Printable(named.Crate));
    else if (types[size_t(named.Slot - 1)] != Km808TypeCode)
        named.Missing = QStringLiteral("%1: slot %2 of crate '%3' holds no KM808 (KM808 in slots: %4)")
                            .arg(slotSource)
                            .arg(named.Slot)
                            .arg(Printable(named.Crate), Km808Slots(types));
    return named;
}

QString ServerAddressText() {
    const char* env = std::getenv("QIRA_SERVER");
    if (env != nullptr && *env != 0)
        return QStringLiteral("QIRA_SERVER=") + Printable(QString::fromLocal8Bit(env));
    return QStringLiteral("127.0.0.1:%1 (the default; QIRA_SERVER is not set)").arg(ModuleServerPort);
}

TListingFailure ReadCrateListing(char listed[16][16], TCrateListing& listing) {
    if (!ListCrates(listed))
        return TListingFailure::NoCrates;
    uint16_t count = 0;
    while (count < 16 && listed[count][0] != 0)
        ++count;
    uint16_t types[16][16] = {};
    if (!ReadSlotTypes(listed, count, types))
        return TListingFailure::NoSlotTypes;
    for (uint16_t i = 0; i < count; ++i) {
        listing.Serials << FixedText(listed[i], 16);
        std::array<uint16_t, 16> row{};
        std::copy(std::begin(types[i]), std::end(types[i]), row.begin());
        listing.Types.push_back(row);
    }
    return TListingFailure::None;
}
