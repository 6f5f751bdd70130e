// The two calling orders of the crate server library: the crate list and the
// slot types of the listed crates.
#pragma once

#include <cstdint>

// Fills list (16 serials of 16 bytes) with the crates the server knows.
bool ListCrates(char list[16][16]);

// Reads the slot type codes of the first count crates of list (at most 16),
// stopping at the first failure.
bool ReadSlotTypes(const char list[16][16], uint16_t count, uint16_t types[16][16]);
