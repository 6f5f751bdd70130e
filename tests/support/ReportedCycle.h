// A measurement cycle for tests: it keeps every report and stops at the
// first, as the window's worker does once its message is shown.
#pragma once

#include <QStringList>

#include "acquisition/MeasurementCycle.h"

class TReportedCycle final : public TMeasurementCycle {
public:
    using TMeasurementCycle::TMeasurementCycle;
    void Report(const QString& text) override {
        Reports << text;
        MessageShown = true;
    }
    QStringList Reports;
};
