// Which module a run asks for. A run that names its module (--crate, --slot
// or the settings file's crate) measures that module or none: an unattended
// run must not record another module's data under the name it was given.
#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <vector>

struct TMeasureOptions;
struct TRunChoice;

// The crate server's crates and their slot types, as listed before any
// module is opened.
struct TCrateListing {
    QStringList Serials;
    std::vector<std::array<uint16_t, 16>> Types;
};

// Why the listing could not be read: the crate list, or the slot types.
enum class TListingFailure { None, NoCrates, NoSlotTypes };

// The crates (listed, as the crate server names them) and their slot types,
// read before any module is opened.
TListingFailure ReadCrateListing(char listed[16][16], TCrateListing& listing);

struct TNamedModule {
    bool Named = false;  // false: the first KM808 the detection finds
    int CrateIndex = -1; // into the listing
    QString Crate;
    int Slot = 0;
    // Why the named module is not there; empty when it is.
    QString Missing;
};

TNamedModule NameModule(const TMeasureOptions& options, const TRunChoice& choice,
                        const TCrateListing& listing);

// "QIRA_SERVER=HOST:PORT", or the default address: failure texts name it.
QString ServerAddressText();
