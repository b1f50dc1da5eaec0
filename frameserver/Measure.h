// The benchmark over the frames of a session's evaluated clip, compiled with
// the session's interface (Measure.cpp), so that app/ is the same for both.
#pragma once

#include "frameserver/Session.h"
#include "measure/Benchmark.h"

// Runs the benchmark over the frames of the evaluated clip (call it inside a
// guarded region).
void MeasureFrames(const FrameServerContext& session, const BenchmarkSetup& setup, CGPUMonitor& gpu,
                   BenchmarkState& state);
