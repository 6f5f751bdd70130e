#include "TREALFFT.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "WindowFunctions.h"

namespace {

// FFTW's planner keeps global state and is not thread-safe; this program is its
// only user, so one lock around plan creation and destruction is enough.
std::mutex PlannerMutex;

constexpr uint32_t LargestLength = 1u << 30;

bool IsPowerOfTwo(uint32_t n) {
    return n != 0 && (n & (n - 1)) == 0;
}

} // namespace

TREALFFT::TREALFFT(uint32_t length, const std::atomic<bool>* abortFlag)
    : AbortFlag(abortFlag), FLength(length) {
    CreateTransform();
}

TREALFFT::~TREALFFT() {
    DestroyTransform();
}

bool TREALFFT::SetLength(uint32_t length) {
    if (length == 0)
        return false;
    if (length != FLength) {
        DestroyTransform();
        FLength = length;
        CreateTransform();
    }
    return true;
}

void TREALFFT::CreateTransform() {
    if (!IsPowerOfTwo(FLength) || FLength > LargestLength)
        return;
    Input = static_cast<double*>(fftw_malloc(sizeof(double) * FLength));
    Output = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * (FLength / 2 + 1)));
    if (Input != nullptr && Output != nullptr) {
        std::lock_guard<std::mutex> lock(PlannerMutex);
        // FFTW_ESTIMATE neither measures nor touches the buffers, so creation is
        // quick and gives the same plan every time.
        Plan = fftw_plan_dft_r2c_1d(static_cast<int>(FLength), Input, Output, FFTW_ESTIMATE);
    }
    if (Plan == nullptr)
        DestroyTransform();
}

void TREALFFT::DestroyTransform() {
    if (Plan != nullptr) {
        std::lock_guard<std::mutex> lock(PlannerMutex);
        fftw_destroy_plan(Plan);
        Plan = nullptr;
    }
    fftw_free(Input);
    Input = nullptr;
    fftw_free(Output);
    Output = nullptr;
}

void TREALFFT::GenerateWindow(double* out, int kind) {
    std::fill(std::begin(WindowCoefs), std::end(WindowCoefs), 0.0);
    if (kind == 0) {
        Enbw = 1.0;
        return;
    }
    const TWindowKindInfo* info = WindowKindInfo(kind);
    if (info == nullptr) {
        MainLobeBins = 0;
        BinSpan1 = 0;
        BinSpan2 = 0;
        Enbw = 0.0;
        WindowTermCount = 0;
        return;
    }
    WindowTermCount = info->TermCount;
    std::copy(info->Coefs, info->Coefs + info->TermCount, WindowCoefs);
    MainLobeBins = info->MainLobeBins;
    BinSpan1 = info->BinSpan1;
    BinSpan2 = info->BinSpan2;
    Enbw = info->Enbw;
    FillCosineSumWindow(out, FLength, info->Coefs, info->TermCount, AbortFlag);
}

bool TREALFFT::Transform(const double* windowed, double* amplitudeSpectrum, double windowSum,
                         double& dcValue) {
    if (Plan == nullptr || windowSum == 0.0 || !std::isfinite(windowSum))
        return false;
    std::memcpy(Input, windowed, sizeof(double) * FLength);
    fftw_execute(Plan);
    const uint32_t half = FLength / 2;
    for (uint32_t k = 0; k <= half; ++k) {
        const double magnitude = std::sqrt(Output[k][0] * Output[k][0] + Output[k][1] * Output[k][1]);
        const bool single = k == 0 || (k == half && FLength % 2 == 0);
        amplitudeSpectrum[k] = (single ? magnitude : 2.0 * magnitude) / windowSum;
    }
    dcValue = Output[0][0] / windowSum;
    return true;
}
