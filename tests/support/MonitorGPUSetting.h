// Sets MonitorGPULoad for one test and restores it afterwards: the log and
// CSV writers read it from the process-wide settings record.
#pragma once

#include <cstdint>

#include "app/Settings.h"

class MonitorGPUSetting {
public:
    explicit MonitorGPUSetting(int32_t value) : Saved(Settings.MonitorGPULoad) { Settings.MonitorGPULoad = value; }
    ~MonitorGPUSetting() { Settings.MonitorGPULoad = Saved; }
    MonitorGPUSetting(const MonitorGPUSetting&) = delete;
    MonitorGPUSetting& operator=(const MonitorGPUSetting&) = delete;

private:
    int32_t Saved;
};
