#include "app/RunSequence.h"

int main(int argc, char** argv) { return RunTachoro(argc, argv); }
