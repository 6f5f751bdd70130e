#include "acquisition/TMeasurementCycle.h"

#include "dsp/TREALFFT.h"

#include <algorithm>
#include <iterator>

TMeasurementCycle::TMeasurementCycle(KM808_CONTROL* module) : Module(module) {
    std::fill(std::begin(ChannelPosition), std::end(ChannelPosition), NoChannelPosition);
}

TMeasurementCycle::~TMeasurementCycle() {
    FreeBuffers();
}

void TMeasurementCycle::FreeBuffers() {
    RcvBuffer.reset();
    Data.reset();
    ChannelsStatus.reset();
    DataPerChannel.reset();
    Window.reset();
    FftAdcDataPerChannel.reset();
    AmplitudeSpectr.reset();
    Analyser.reset();
}
