#include "acquisition/FrameCycle.h"

#include "acquisition/TMeasurementCycle.h"
#include "device/DeviceRecords.h"

bool AcquireFrame(TMeasurementCycle& cycle, const TFrameRequest& request) {
    KM808_CONTROL* module = request.Module;
    int32_t failure = 0;
    uint32_t* position = request.Buffer;
    uint32_t chunk = cycle.RecvChunk;
    uint32_t received = 0;

    bool receive = true;
    if (module->AcquisitionRunning != 0 && KM808_Stop(module) != 0) {
        cycle.Report("Не могу остановить сбор данных!!!!");
        receive = false;
    } else if (KM808_Start(module) != 0) {
        cycle.Report("Не могу выполнить запуск сбора кадра данных!!!");
        receive = false;
    }
    if (receive) {
        for (;;) {
            const int32_t n = KM808_Recv(module, position, nullptr, chunk, ReceiveTimeoutMs);
            if (n < 0) {
                failure = n;
                cycle.Report("Не могу получить данные с модуля!");
                break;
            }
            if (n == 0) {
                failure = -1;
                cycle.Report("Не принято ни одного отсчёта с модуля!");
                break;
            }
            if (static_cast<uint32_t>(n) != chunk) {
                failure = n;
                cycle.Report("Принято неправильное кол-во данных с модуля!");
                break;
            }
            received += chunk;
            if (received >= request.Words)
                break;
            position += chunk;
            if (received + chunk > request.Words)
                chunk = request.Words - received;
            if (cycle.Terminated)
                break;
        }
        // The measurement loop's stop phase stops a module left running here.
        if (failure != 0 || cycle.Terminated)
            return false;
        if (received != request.Words)
            cycle.Report("Приняты не все требуемые данные с АЦП модуля!");
    }
    if (module->AcquisitionRunning != 0 && KM808_Stop(module) != 0)
        cycle.Report("Не могу выполнить останов сбора данных!!!");
    return !cycle.Terminated && !cycle.MessageShown;
}

bool ProcessFrame(const TMeasurementCycle& cycle, KM808_CONTROL* module, const uint32_t* words,
                  double* values, uint32_t wordCount, int32_t correctionMode) {
    int32_t selector = 0;
    if (correctionMode == 0)
        selector = 1;
    else if (correctionMode == 1)
        selector = 2;
    else
        return false;
    uint32_t size = wordCount;
    if (KM808_ProcessData(module, words, values, &size, selector, 3) != 0)
        return false;
    return wordCount * cycle.ResultChannelCount == static_cast<uint32_t>(module->FrameLength) * size;
}
