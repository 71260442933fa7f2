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
    switch (call) {
    case WindowsPortCall::SetLine:
    case WindowsPortCall::SetRate:
        if (code == kInvalidFunction || code == kNotSupported || code == kInvalidParameter)
            return WindowsPortFailure::Refused;
        return WindowsPortFailure::Lost;
    case WindowsPortCall::Read:
    case WindowsPortCall::Write:
    case WindowsPortCall::ClearErrors:
    case WindowsPortCall::ModemStatus:
        break;
    }
    return WindowsPortFailure::Lost;
}
