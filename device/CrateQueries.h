// The two calling orders of the crate server library: the crate list and the
// slot types of the listed crates.
#pragma once

#include <cstdint>

// Fills list (16 serials of 16 bytes) with the crates the server knows;
// result (if given) gets the failing call's code, 0 on success.
bool ListCrates(char list[16][16], int32_t* result = nullptr);

// Reads the slot type codes of the first count crates of list (at most 16),
// stopping at the first failure.
bool ReadSlotTypes(const char list[16][16], uint16_t count, uint16_t types[16][16]);

// Reads the slot type codes of one crate on a connection of its own; 0 or
// the failing call's code.
int32_t ReadCrateSlotTypes(const char serial[16], uint16_t types[16]);
