#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

// Periodic cosine-sum windows used as weights of the channel mean ("sum") and
// by the spectral analyser ("fft").

inline constexpr int WindowKindCount = 9;             // kinds 0 (rectangular) to 8
inline constexpr int WindowCoefSlots = 32;            // descriptor capacity
inline constexpr uint32_t WindowPieceLength = 262144; // values between two abort tests

// One row of the window table. Kind 0 has no terms.
struct TWindowKindInfo {
    uint16_t TermCount;
    double Coefs[9];
    int32_t MainLobeBins;
    uint32_t BinSpan1;
    uint32_t BinSpan2;
    double Enbw;
};

// The row of a kind, or nullptr for a kind outside 0..8.
const TWindowKindInfo* WindowKindInfo(int kind);

// Window descriptor of the acquisition worker.
struct TWindowDescriptor {
    int8_t WindowKind = 0;
    uint16_t WindowTermCount = 0;
    double WindowCoefs[WindowCoefSlots] = {};
};

// Fills out[0..n) with the cosine sum of termCount coefficients (1..9), in pieces
// of WindowPieceLength values with an abort test before each. afterPiece, when
// set, is told how many values are filled after every piece.
void FillCosineSumWindow(double* out, uint32_t n, const double* coefs, uint16_t termCount,
                         const std::atomic<bool>* abortFlag,
                         const std::function<void(uint32_t filled)>& afterPiece = {});

// The worker's generator: kind 0 writes unit weights without testing the abort
// flag and leaves WindowTermCount alone; a kind outside the table only clears the
// coefficients. descriptor.WindowKind is the caller's.
void GenerateWorkerWindow(TWindowDescriptor& descriptor, const std::atomic<bool>* abortFlag, double* out,
                          uint32_t n, int kind);
