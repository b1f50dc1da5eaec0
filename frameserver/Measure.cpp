// The benchmark over the session's frames, compiled with the session's
// interface (FrameSource inlines the interface's request and release).
#include "frameserver/Measure.h"

#include "frameserver/FrameSource.h"

void MeasureFrames(const FrameServerContext& session, const BenchmarkSetup& setup, CGPUMonitor& gpu,
                   BenchmarkState& state) {
    RunBenchmark(session.Frames(), setup, gpu, state);
}
