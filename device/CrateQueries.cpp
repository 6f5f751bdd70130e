#include "device/CrateQueries.h"

#include "qiraapi.h"

#include <algorithm>
#include <cstring>

bool ListCrates(char list[16][16]) {
    std::memset(list, 0, 16 * 16);
    CrateControl crate{};
    if (QIRA_Init(&crate) != 0)
        return false;
    crate.ChannelSelector = 0;
    if (QIRA_Open(&crate) != 0)
        return false;
    const bool listed = QIRA_GetCrates(&crate, list) == 0;
    QIRA_Close(&crate);
    return listed;
}

bool ReadSlotTypes(const char list[16][16], uint16_t count, uint16_t types[16][16]) {
    CrateControl crate{};
    if (QIRA_Init(&crate) != 0)
        return false;
    crate.ChannelSelector = 0;
    for (uint16_t i = 0; i < std::min<uint16_t>(count, 16); ++i) {
        std::memcpy(crate.CrateSerial, list[i], sizeof crate.CrateSerial);
        crate.CrateSerial[15] = 0;
        if (QIRA_Open(&crate) != 0)
            return false;
        const bool read = QIRA_GetCrateModules(&crate, types[i]) == 0;
        QIRA_Close(&crate);
        if (!read)
            return false;
    }
    return true;
}
