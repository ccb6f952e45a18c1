// --list-devices: what the device page would offer, as text.
#pragma once

#include <ostream>

class IEnumDeviceEx;

// Prints every disk with its partitions and volumes (size, file system, label). Returns the exit code:
// 0, or 1 with a reason on err when no disk can be listed.
int ListDevices(IEnumDeviceEx& devices, std::ostream& out, std::ostream& err);
