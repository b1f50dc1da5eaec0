#include "tests/support/PublishedBlock.h"

#include "platform/Process.h"
#include "platform/Time.h"

namespace {

#ifdef _WIN32
#define OpenPipe _popen
#define ClosePipe _pclose
#else
#define OpenPipe popen
#define ClosePipe pclose
#endif

std::string PublisherPath() {
    std::string self = platform::ExecutablePath();
    size_t slash = self.find_last_of("/\\");
    if (slash == std::string::npos) return std::string();
#ifdef _WIN32
    return self.substr(0, slash + 1) + "gpuz_publisher.exe";
#else
    return self.substr(0, slash + 1) + "gpuz_publisher";
#endif
}

}  // namespace

PublishedBlock::PublishedBlock(const ScratchDir& dir, const std::string& description) {
    std::string publisher = PublisherPath();
    if (!PathExists(publisher)) {
        Problem = "gpuz_publisher is not built beside the tests";
        return;
    }
    std::string descriptionPath = dir.Path("block.txt");
    OutputPath = dir.Path("publisher.out");
    WriteBytes(descriptionPath, description);
#ifdef _WIN32
    std::string command = "\"\"" + publisher + "\" \"" + descriptionPath + "\" 60 > \"" + OutputPath + "\" 2>&1\"";
#else
    std::string command = "'" + publisher + "' '" + descriptionPath + "' 60 > '" + OutputPath + "' 2>&1";
#endif
    Pipe = OpenPipe(command.c_str(), "w");
    if (!Pipe) Problem = "cannot start gpuz_publisher";
}

PublishedBlock::~PublishedBlock() {
    if (Pipe) ClosePipe(Pipe);
}

bool PublishedBlock::WaitReady() {
    for (int i = 0; Pipe && i < 600; ++i) {
        std::string output = ReadBytes(OutputPath);
        if (output.find("ready") != std::string::npos) return true;
        if (output.find("gpuz_publisher:") != std::string::npos) {
            Problem = output;
            return false;
        }
        platform::SleepMs(50);
    }
    if (Problem.empty()) Problem = "gpuz_publisher did not get ready";
    return false;
}

