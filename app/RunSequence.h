// The program's run from start to exit code.
#pragma once

// Runs the stages of one run in order; returns the exit code (0 or -1).
int RunTachoro(int argc, char** argv);
