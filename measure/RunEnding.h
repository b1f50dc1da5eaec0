// How a run ended: one record from the frame loop's stop and the frame-server
// region's failure to the run's line, log, JSON and exit code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct RunEnding {
    enum class Kind {
        Completed,           // every frame of the range; for a region, its work done
        StoppedByEsc,
        StoppedByTimeLimit,
        StoppedBySignal,
        FrameServerError,    // the frame server's error, in evaluation or in a frame request
        Fault,               // a processor fault
        Exception,           // any other exception
    };
    Kind How = Kind::Completed;
    // The error's or the fault's text: the frame server's message, the
    // fault's name, or for another exception its description.
    std::string Message;
    uint32_t FaultCode = 0;
    // A fault on a thread of the frame server's own: unlike one on the main
    // thread, its text goes into the log's error section too, the only place
    // that says where it happened once the console is gone.
    bool OnWorkerThread = false;
    // A fault while the frame server closed, after every requested frame was
    // rendered: the run stands as measured (How says how the loop ended) and
    // Message says what happened.
    bool WhileClosing = false;
    std::optional<uint32_t> FailedFrame;  // the frame whose request failed in the loop

    // A frame-server error, a fault or another exception.
    bool Failed() const { return How == Kind::FrameServerError || How == Kind::Fault || How == Kind::Exception; }
};
