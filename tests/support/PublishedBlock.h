// A GPU-Z block published by gpuz_publisher (built beside the tests) for as
// long as the object lives: its standard input is a pipe, and closing the
// pipe ends the publisher, which removes the block.
#pragma once

#include <cstdio>
#include <string>

#include "tests/support/ScratchDir.h"

class PublishedBlock {
public:
    PublishedBlock(const ScratchDir& dir, const std::string& description);
    ~PublishedBlock();
    PublishedBlock(const PublishedBlock&) = delete;
    PublishedBlock& operator=(const PublishedBlock&) = delete;

    // Waits for "ready"; another publisher may hold the block for a while.
    bool WaitReady();
    // Why the block is not there; mentions "window" when no window could be
    // created (no display under Wine).
    std::string Problem;

private:
    FILE* Pipe = nullptr;
    std::string OutputPath;
};
