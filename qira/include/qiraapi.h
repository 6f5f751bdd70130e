/* Crate server library: lists the crates the crate server knows and the
 * module type of every slot of a crate. */
#ifndef QIRAAPI_H
#define QIRAAPI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)
/* 36 bytes. The program touches only CrateSerial and ChannelSelector; the rest
 * belongs to the library. */
typedef struct CrateControl {
    uint32_t ServerAddress;   /* 0: IPv4 address, host byte order */
    uint16_t ServerPort;      /* 4 */
    char CrateSerial[16];     /* 6: NUL-terminated; empty = the server itself */
    uint16_t ChannelSelector; /* 22 */
    int32_t Connection;       /* 24: connection handle of this record, 0 when closed */
    uint32_t Magic;           /* 28: set by QIRA_Init */
    uint32_t Reserved;        /* 32 */
} CrateControl;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(CrateControl) == 36, "CrateControl is 36 bytes");
static_assert(offsetof(CrateControl, CrateSerial) == 6, "CrateSerial at 6");
static_assert(offsetof(CrateControl, ChannelSelector) == 22, "ChannelSelector at 22");
#else
_Static_assert(sizeof(CrateControl) == 36, "CrateControl is 36 bytes");
_Static_assert(offsetof(CrateControl, CrateSerial) == 6, "CrateSerial at 6");
_Static_assert(offsetof(CrateControl, ChannelSelector) == 22, "ChannelSelector at 22");
#endif

#define QIRA_CRATE_LIST_SIZE 16
#define QIRA_SLOT_COUNT 16

#define QIRA_DEFAULT_ADDRESS 0x7F000001u
#define QIRA_DEFAULT_PORT 11111u

/* Threads: calls on different records may run at the same time from
 * different threads; one record is used by one thread at a time.
 *
 * Every call returns 0 on success. QIRA_Init points the record at
 * 127.0.0.1:11111, or at the environment variable QIRA_SERVER ("HOST:PORT")
 * when it is set. A server refusal returns -(100 + its status); -8 means no
 * whole reply came within the call's 5000 ms (QIRA_Open: connecting
 * included); -10 that the process or the system has no descriptor left. A
 * connection belongs to the record that opened it: a copy of
 * the record can neither use nor close it. */
int32_t QIRA_Init(CrateControl* crate);
int32_t QIRA_Open(CrateControl* crate);
int32_t QIRA_GetCrates(CrateControl* crate, char list[16][16]);
int32_t QIRA_GetCrateModules(CrateControl* crate, uint16_t types[16]);
int32_t QIRA_Close(CrateControl* crate);

#ifdef __cplusplus
}
#endif

#endif
