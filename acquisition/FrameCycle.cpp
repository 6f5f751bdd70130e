#include "acquisition/FrameCycle.h"

#include "acquisition/TMainThread.h"
#include "device/DeviceRecords.h"

bool AcquireFrame(TMainThread* worker, const TFrameRequest& request) {
    KM808_CONTROL* module = request.Module;
    int32_t failure = 0;
    uint32_t* position = request.Buffer;
    uint32_t chunk = worker->RecvChunk;
    uint32_t received = 0;

    bool receive = true;
    if (module->AcquisitionRunning != 0 && KM808_Stop(module) != 0) {
        worker->Report("Не могу остановить сбор данных!!!!");
        receive = false;
    } else if (KM808_Start(module) != 0) {
        worker->Report("Не могу выполнить запуск сбора кадра данных!!!");
        receive = false;
    }
    if (receive) {
        for (;;) {
            const int32_t n = KM808_Recv(module, position, nullptr, chunk, ReceiveTimeoutMs);
            if (n < 0) {
                failure = n;
                worker->Report("Не могу получить данные с модуля!");
                break;
            }
            if (n == 0) {
                failure = -1;
                worker->Report("Не принято ни одного отсчёта с модуля!");
                break;
            }
            if (static_cast<uint32_t>(n) != chunk) {
                failure = n;
                worker->Report("Принято неправильное кол-во данных с модуля!");
                break;
            }
            received += chunk;
            if (received >= request.Words)
                break;
            position += chunk;
            if (received + chunk > request.Words)
                chunk = request.Words - received;
            if (worker->Terminated)
                break;
        }
        // The measurement loop's stop phase stops a module left running here.
        if (failure != 0 || worker->Terminated)
            return false;
        if (received != request.Words)
            worker->Report("Приняты не все требуемые данные с АЦП модуля!");
    }
    if (module->AcquisitionRunning != 0 && KM808_Stop(module) != 0)
        worker->Report("Не могу выполнить останов сбора данных!!!");
    return !worker->Terminated && !worker->MessageShown;
}

bool ProcessFrame(TMainThread* worker, KM808_CONTROL* module, const uint32_t* words, double* values,
                  uint32_t wordCount, int32_t correctionMode) {
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
    return wordCount * worker->ResultChannelCount == static_cast<uint32_t>(module->FrameLength) * size;
}
