#pragma once

#include <string>
#include <vector>

// One value of the registry's serial-device map,
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM, read with the Win32 API
// alone. Windows only; kept free of Qt so that it builds and runs on its own
// (scripts/windows-check runs it under Wine).
namespace SerialComm {

enum class Status {
    Ok,      // the value was read
    NoValue, // no value at that index, or its name or data does not fit the buffers
    NoKey,   // the key cannot be opened for reading
};

// The buffers the value is read into: name in UTF-16 units (with its
// terminating zero), data in bytes.
constexpr unsigned long kNameUnits = 256;
constexpr unsigned long kDataBytes = 256;

struct Entry
{
    Status status = Status::NoKey;
    std::wstring name;               // the value's name, without the terminating zero
    std::vector<unsigned char> data; // the value's data as stored (a REG_SZ: UTF-16LE with its zero)
};

// Opens the key, reads the value at `index` in the registry's enumeration
// order, and closes the key again.
Entry readEntry(unsigned long index);

} // namespace SerialComm
