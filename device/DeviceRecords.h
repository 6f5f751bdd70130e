// The program's side of the device boundary: the records and constants it
// hands to the crate server and module libraries.
#pragma once

#include "km808api.h"
#include "qiraapi.h"

#include <cstdint>

using ModuleControlRecord = KM808_CONTROL;
using CrateList = char[16][16];
using SlotTypes = uint16_t[16];

inline constexpr uint16_t Km808TypeCode = 0x7272;
inline constexpr uint32_t ModuleServerAddress = 0x7F000001; // 127.0.0.1
inline constexpr uint16_t ModuleServerPort = 11111;
inline constexpr uint32_t ReceiveTimeoutMs = 5000;
