/* Module library: drives one KM808 16-channel ADC module in a slot of a QIRA
 * crate through the crate server. */
#ifndef KM808API_H
#define KM808API_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KM808_TYPE_CODE 0x7272u
#define KM808_MAX_TABLE 128
#define KM808_LOOPBACK_ADDRESS 0x7F000001u
#define KM808_DEFAULT_PORT 11111u

/* Mode codes of a channel table entry. */
#define KM808_MODE_VOLTAGE 0x00u
#define KM808_MODE_RESISTANCE_A 0x20u
#define KM808_MODE_RESISTANCE_B 0x28u

#pragma pack(push, 1)
typedef struct KM808_TABLE_ENTRY {
    uint8_t ModeCode;
    uint8_t PhysicalChannel; /* 0..15 */
    uint8_t RangeCode;       /* 0..2 */
} KM808_TABLE_ENTRY;

/* The module-control record. All zero is a valid never-opened record. The
 * library keeps its own state in Private and the Reserved areas. Offsets stay
 * in one column, so the formatter leaves the record alone. */
/* clang-format off */
typedef struct KM808_CONTROL {
    uint8_t Private[340];                               /* 0 */
    int32_t LogicalChannelCount;                        /* 340 */
    KM808_TABLE_ENTRY LogicalChannelTable[KM808_MAX_TABLE]; /* 344 */
    uint16_t CalibrationSlotCount;                      /* 728 */
    uint8_t OptionByte1;                                /* 730 */
    uint8_t Reserved731;
    uint8_t OptionByte2;                                /* 732 */
    uint8_t Reserved733[3];
    int32_t FrequencyDivider;                           /* 736 */
    int32_t FrameLength;                                /* 740 */
    int32_t AcquisitionRunning;                         /* 744 */
    uint8_t Reserved748[4];
    char ModuleName[8];                                 /* 752 */
    char SerialNumber[16];                              /* 760 */
    uint16_t FirmwareVersion;                           /* 776 */
    uint8_t Reserved778[18];
    float ModuleCoefs[9];                               /* 796 */
    float TableCoefs[9];                                /* 832 */
    uint8_t TableCoefsTail[2];                          /* 868 */
    uint8_t Reserved870[154];
} KM808_CONTROL;
/* clang-format on */
#pragma pack(pop)

#ifdef __cplusplus
#define KM808_ASSERT(c, m) static_assert(c, m)
#else
#define KM808_ASSERT(c, m) _Static_assert(c, m)
#endif
KM808_ASSERT(sizeof(KM808_TABLE_ENTRY) == 3, "table entry is 3 bytes");
KM808_ASSERT(offsetof(KM808_CONTROL, LogicalChannelCount) == 340, "LogicalChannelCount");
KM808_ASSERT(offsetof(KM808_CONTROL, LogicalChannelTable) == 344, "LogicalChannelTable");
KM808_ASSERT(offsetof(KM808_CONTROL, CalibrationSlotCount) == 728, "CalibrationSlotCount");
KM808_ASSERT(offsetof(KM808_CONTROL, OptionByte1) == 730, "OptionByte1");
KM808_ASSERT(offsetof(KM808_CONTROL, OptionByte2) == 732, "OptionByte2");
KM808_ASSERT(offsetof(KM808_CONTROL, FrequencyDivider) == 736, "FrequencyDivider");
KM808_ASSERT(offsetof(KM808_CONTROL, FrameLength) == 740, "FrameLength");
KM808_ASSERT(offsetof(KM808_CONTROL, AcquisitionRunning) == 744, "AcquisitionRunning");
KM808_ASSERT(offsetof(KM808_CONTROL, ModuleName) == 752, "ModuleName");
KM808_ASSERT(offsetof(KM808_CONTROL, SerialNumber) == 760, "SerialNumber");
KM808_ASSERT(offsetof(KM808_CONTROL, FirmwareVersion) == 776, "FirmwareVersion");
KM808_ASSERT(offsetof(KM808_CONTROL, ModuleCoefs) == 796, "ModuleCoefs");
KM808_ASSERT(offsetof(KM808_CONTROL, TableCoefs) == 832, "TableCoefs");
KM808_ASSERT(sizeof(KM808_CONTROL) == 1024, "the record is 1024 bytes");
#undef KM808_ASSERT

/* Failure codes. A refusal by the crate server is -(100 + its status), for
 * example -104 for a failing module and -107 when the module's data link
 * dropped during KM808_Recv. */
#define KM808_ERR_NOT_OPEN (-1)
#define KM808_ERR_ARGUMENT (-2)
#define KM808_ERR_CONNECTION (-3) /* cannot reach the server, or the connection broke */
#define KM808_ERR_PROTOCOL (-4)   /* a reply that does not fit the request; the connection is dropped */
#define KM808_ERR_ALREADY_OPEN (-5)
#define KM808_ERR_NOT_CONFIGURED (-6) /* no KM808_SetADC, or the table changed since */
#define KM808_ERR_STRUCTURE (-7)      /* KM808_ProcessData: a word out of place */
#define KM808_ERR_TIMEOUT (-8)     /* no whole reply within the call's time-out; the connection is dropped */
#define KM808_ERR_CALIBRATION (-9) /* KM808_Calibrate: zero and reference give no plausible span */
#define KM808_ERR_NO_DESCRIPTOR                                                                              \
    (-10) /* the process or the system has no descriptor (or record slot) left                               \
           */
#define KM808_ERR_SERVER_BASE (-100)

/* KM808_ProcessData flags: bit 0 checks the block's structure, bit 1 applies
 * the calibration (without it the nominal, uncorrected conversion is used).
 * The program passes 3. */
#define KM808_FLAG_CHECK 1
#define KM808_FLAG_CORRECT 2

/* KM808_Open with the default address and port honours the environment
 * variable QIRA_SERVER ("HOST:PORT"), so tests can use another server. */

/* Threads: calls on different records may run at the same time from
 * different threads (the records share only the library's connection table,
 * which is locked); one record is used by one thread at a time.
 *
 * Every call returns 0 on success, except KM808_IsOpened (0 while open) and
 * KM808_Recv (a word count, or a negative code). Each call is bounded as a
 * whole: 5000 ms for a control call (KM808_Open included), the time-out plus
 * one second for KM808_Recv (and 1 ms per KiB of words received). An open
 * record belongs to its address: a copy of it is not open. */
int32_t KM808_Init(KM808_CONTROL* m);
int32_t KM808_Open(KM808_CONTROL* m, uint32_t address, uint16_t port, const char* crateSerial, uint16_t slot);
int32_t KM808_IsOpened(KM808_CONTROL* m);
int32_t KM808_Close(KM808_CONTROL* m);
int32_t KM808_GetConfig(KM808_CONTROL* m);
int32_t KM808_SetADC(KM808_CONTROL* m);
int32_t KM808_Calibrate(KM808_CONTROL* m);
int32_t KM808_Start(KM808_CONTROL* m);
int32_t KM808_Recv(KM808_CONTROL* m, uint32_t* words, uint32_t* marks, uint32_t count, uint32_t timeoutMs);
int32_t KM808_ProcessData(KM808_CONTROL* m, const uint32_t* words, double* values, uint32_t* count,
                          int32_t calibration, int32_t flags);
int32_t KM808_Stop(KM808_CONTROL* m);
/* Without a request: 0 while the open record's connection is still up;
 * KM808_ERR_CONNECTION once the server has closed it (a restarted crate
 * server) or a call failed on it, KM808_ERR_NOT_OPEN for a closed record.
 * A record found dead is closed by KM808_Close at once. */
int32_t KM808_CheckLink(KM808_CONTROL* m);

#ifdef __cplusplus
}
#endif

#endif
