#include <cerrno>
#include <cstring>
#include <string>

#include "platform/Errors.h"
#include "platform/posix/PosixInternal.h"

namespace platform {

namespace {

thread_local std::string t_lastError;

}  // namespace

namespace posix {
void SetLastErrorText(const std::string& text) { t_lastError = text; }
void SetLastErrorFromErrno() { t_lastError = std::strerror(errno); }
}  // namespace posix

std::string SystemErrorText() { return t_lastError; }
void ClearSystemError() { t_lastError.clear(); }

}  // namespace platform
