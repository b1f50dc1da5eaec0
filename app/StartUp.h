// The start of a call, before the first script: the settings file, the
// banner, the installation check of the frame server, the single-instance
// lock, the command line, the installation report (-avsinfo), the report
// files' check, the process priority and the GPU monitor.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/Invocation.h"
#include "frameserver/AvisynthInfo.h"
#include "measure/GPUMonitor.h"

// The invocation when its scripts are to be measured; otherwise none, and
// exitCode is the call's (its message shown, the exit pause over).
std::optional<Invocation> StartUp(const std::vector<std::string>& arguments, FrameServerFacts& avisynthInfo,
                                  int& exitCode);

// With GPU monitoring a GPU source must be there: GPU-Z on Windows, as it
// always was, else a driver's. Without one the user may go on without GPU
// figures (monitorGPU becomes false). `device` is the one -gpu=n names,
// counted from 0. False when the call ends here.
bool ConnectGPUMonitor(CGPUMonitor& gpu, uint32_t device, bool& monitorGPU);
