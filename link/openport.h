#pragma once

class SerialPort;
class SettingsStore;
struct TelState;

// Reads the saved port, baud rate and block number into the state and
// (re)opens the port with them. Silent when the port does not open.
void OpenPort(TelState &state, SerialPort &MSComm1, const SettingsStore &store);
