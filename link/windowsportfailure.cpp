#include "link/windowsportfailure.h"

namespace {

// The Win32 codes a driver gives for a request it does not support, by number:
// the rule is built and tried where windows.h is not.
constexpr unsigned long kInvalidFunction = 1;    // ERROR_INVALID_FUNCTION
constexpr unsigned long kNotSupported = 50;      // ERROR_NOT_SUPPORTED
constexpr unsigned long kInvalidParameter = 87;  // ERROR_INVALID_PARAMETER

} // namespace

WindowsPortFailure windowsPortFailure(WindowsPortCall call, unsigned long code)
{
    const bool setting = call == WindowsPortCall::SetLine || call == WindowsPortCall::SetRate;
    const bool unsupported = code == kInvalidFunction || code == kNotSupported || code == kInvalidParameter;
    return setting && unsupported ? WindowsPortFailure::Refused : WindowsPortFailure::Lost;
}
