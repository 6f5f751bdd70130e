#pragma once

#include <atomic>
#include <cstdint>

#include <fftw3.h>

// Spectral analyser of the "fft" computation method: a real-input FFT of a
// power-of-two length with the cosine-sum window it is used with.
class TREALFFT {
public:
    TREALFFT(uint32_t length, const std::atomic<bool>* abortFlag);
    ~TREALFFT();
    TREALFFT(const TREALFFT&) = delete;
    TREALFFT& operator=(const TREALFFT&) = delete;

    // False for 0 (nothing changes); otherwise rebuilds the transform when the
    // length differs. HasTransform() tells whether the rebuild succeeded.
    bool SetLength(uint32_t length);
    uint32_t Length() const { return FLength; }
    bool HasTransform() const { return Plan != nullptr; }

    // Fills Length() values of kind 0..8 and records the window's coefficients and
    // constants. Kind 0 leaves the buffer untouched.
    void GenerateWindow(double* out, int kind);

    // Transforms Length() windowed samples. amplitudeSpectrum receives
    // Length() / 2 + 1 values: |X0| / windowSum for bin 0, 2|Xk| / windowSum above
    // it (the Nyquist bin of an even length is not doubled: it has no mirror).
    // dcValue receives the signed X0 / windowSum. X0 is the plain sum of the
    // windowed samples, so this is the window-weighted mean of the block, the
    // same value as WindowedMean(samples, window, n, windowSum) up to rounding.
    // False without a transform or for a zero or non-finite windowSum.
    bool Transform(const double* windowed, double* amplitudeSpectrum, double windowSum, double& dcValue);

    const std::atomic<bool>* AbortFlag;
    int32_t MainLobeBins = 0;
    uint32_t BinSpan1 = 0;
    uint32_t BinSpan2 = 0;
    double Enbw = 1.0;
    uint16_t WindowTermCount = 0;
    double WindowCoefs[32] = {};

private:
    void CreateTransform();
    void DestroyTransform();

    uint32_t FLength;
    double* Input = nullptr;
    fftw_complex* Output = nullptr;
    fftw_plan Plan = nullptr;
};
