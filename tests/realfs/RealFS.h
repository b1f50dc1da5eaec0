// Tachoro run against the real frame server, with the test plug-in at hand.
#pragma once

#include <string>
#include <vector>

#include "tests/e2e/Harness.h"

// Skips the rest of a test under Wine (when the program uses the class
// interface), saying why.
#if defined(_WIN32)
#define SKIP_UNDER_WINE(reason) GTEST_SKIP() << (reason)
#define SKIP_UNDER_WINE_OVER_CLASS(reason) \
    if (InterfaceUnderTest() == "class") GTEST_SKIP() << (reason)
#else
#define SKIP_UNDER_WINE(reason) static_cast<void>(reason)
#define SKIP_UNDER_WINE_OVER_CLASS(reason) static_cast<void>(reason)
#endif

// Why runs that end on an error are not tested under Wine over the class
// interface: the library is unloaded while the worker threads of its
// undeleted environment still run, and now and then one of them faults in
// the unmapped code. Over the C interface the environment is deleted after
// an error, and the library stays loaded after a fault.
extern const char* const kUnloadedUnderItsThreads;

// A run whose settings name the real frame server (later lines win).
class RealRun : public TachoroRun {
public:
    explicit RealRun(const std::vector<std::string>& settings = {});

    // Writes a script that loads the test plug-in and then does `body`.
    std::string Script(const std::string& name, const std::string& body);
};

// "\nTachoro 2.1.3 (x64)\n", the query status, and the version line as the
// real frame server fills it (read once from an "-avsinfo" run).
std::string RealBanner();

// The console as a person reads it: for each line the text after its last
// carriage return that is followed by text, trailing blanks dropped.
std::vector<std::string> ScreenLines(const std::string& output);

// Lines of a CR LF file, without their line ends.
std::vector<std::string> CrLfLines(const std::string& text);

// The lines after `heading` up to the next empty line.
std::vector<std::string> Section(const std::vector<std::string>& lines, const std::string& heading);

// Comma- or blank-separated fields.
std::vector<std::string> Fields(const std::string& line, char separator);

// The value after the label of the last screen line that starts with `label`
// (the summary's, where the live display had one too), empty when none does.
std::string ValueOf(const std::vector<std::string>& lines, const std::string& label);
