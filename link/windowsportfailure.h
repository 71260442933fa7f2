#pragma once

// What a failed Win32 call on an open COM port means. Kept apart from the
// port so that the rule holds on every platform and is tried on Linux.
//
// Drivers name an unplugged adapter in many ways (121 from WriteFile on USB
// serial adapters, 87 from ClearCommError, 22, 31, 995, 1167 ...), so a failure
// to move bytes or to read the lines is the port gone, whatever its code.
// Only a refused setting (a rate the port has not, a line it cannot set)
// leaves the port as it was.
enum class WindowsPortCall {
    Read,          // ReadFile
    Write,         // WriteFile
    ClearErrors,   // ClearCommError
    ModemStatus,   // GetCommModemStatus
    SetLine,       // EscapeCommFunction: DTR or RTS
    SetRate,       // SetCommState on an open port
};

enum class WindowsPortFailure {
    Lost,          // close the port: the check is void
    Refused,       // the port stays open and as it was
};

WindowsPortFailure windowsPortFailure(WindowsPortCall call, unsigned long code);
