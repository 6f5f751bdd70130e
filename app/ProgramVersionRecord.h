/* The version record the build embeds in the program's executable. */
#ifndef KM808_PROGRAM_VERSION_RECORD_H
#define KM808_PROGRAM_VERSION_RECORD_H

#include <stdint.h>

#define Km808VersionMagic "KM808VER"

struct Km808VersionRecord {
    char Magic[8];       /* "KM808VER", no NUL */
    uint16_t Numbers[4]; /* major, minor, release, build */
};

#endif
