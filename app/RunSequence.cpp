#include "app/RunSequence.h"

#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Dialogs.h"
#include "app/FrameServerSteps.h"
#include "app/Series.h"
#include "app/StartUp.h"
#include "platform/Guard.h"
#include "platform/Process.h"

namespace {

// The call's end when a worker thread of the frame server faulted and the
// thread that measures cannot come back from its wait for it.
void EndAfterWorkerFault(uint32_t code, void* context) {
    ScriptsMeasurement& measurement = *static_cast<ScriptsMeasurement*>(context);
    platform::EndProcessNow(Closing(measurement.EndAfterLostWork(code)));
}

}  // namespace

int RunTachoro(int argc, char** argv) {
    // Before anything is opened or written.
    platform::PrepareStandardStreams();

    // Help and version come before the settings file: they need no frame
    // server and leave no settings file behind.
    const std::vector<std::string> arguments =
        argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
    const InformationRequest request = FindInformationRequest(arguments);
    if (request != InformationRequest::None) {
        PrintInformation(request);
        return 0;
    }

    FrameServerFacts avisynthInfo;
    int exitCode = 0;
    const std::optional<Invocation> call = StartUp(arguments, avisynthInfo, exitCode);
    if (!call) return exitCode;
    CGPUMonitor gpu;
    bool monitorGPU = call->MonitorGPULoad;
    if (!ConnectGPUMonitor(gpu, static_cast<uint32_t>(call->GPUDevice), monitorGPU)) return -1;

    // The scripts, each measured as often as asked, then the exit pause.
    FrameServerSteps steps(*call, avisynthInfo, gpu, monitorGPU);
    ScriptsMeasurement measurement(*call, steps);
    platform::SetWorkerFaultEnding(EndAfterWorkerFault, &measurement);
    exitCode = measurement.Run();
    platform::SetWorkerFaultEnding(nullptr, nullptr);
    steps.StopCatchingInterruptions();
    return Closing(exitCode);
}
