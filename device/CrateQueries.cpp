#include "device/CrateQueries.h"

#include "qiraapi.h"

#include <algorithm>
#include <cstring>

int32_t ReadCrateSlotTypes(const char serial[16], uint16_t types[16]) {
    CrateControl crate{};
    if (const int32_t r = QIRA_Init(&crate))
        return r;
    crate.ChannelSelector = 0;
    std::memcpy(crate.CrateSerial, serial, sizeof crate.CrateSerial);
    crate.CrateSerial[15] = 0;
    if (const int32_t r = QIRA_Open(&crate))
        return r;
    const int32_t r = QIRA_GetCrateModules(&crate, types);
    QIRA_Close(&crate);
    return r;
}

bool ListCrates(char list[16][16], int32_t* result) {
    std::memset(list, 0, 16 * 16);
    CrateControl crate{};
    int32_t r = QIRA_Init(&crate);
    crate.ChannelSelector = 0;
    if (r == 0)
        r = QIRA_Open(&crate);
    if (r == 0) {
        r = QIRA_GetCrates(&crate, list);
        QIRA_Close(&crate);
    }
    if (result)
        *result = r;
    return r == 0;
}

bool ReadSlotTypes(const char list[16][16], uint16_t count, uint16_t types[16][16]) {
    for (uint16_t i = 0; i < std::min<uint16_t>(count, 16); ++i)
        if (ReadCrateSlotTypes(list[i], types[i]) != 0)
            return false;
    return true;
}
