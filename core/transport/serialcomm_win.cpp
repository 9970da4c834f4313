#include "core/transport/serialcomm_win.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace SerialComm {

Entry readEntry(unsigned long index)
{
    Entry entry;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return entry;

    wchar_t name[kNameUnits];
    DWORD nameLength = kNameUnits;
    BYTE data[kDataBytes];
    DWORD dataLength = kDataBytes;
    DWORD type = 0;
    // ERROR_NO_MORE_ITEMS past the last value, ERROR_MORE_DATA when the name
    // or the data is too long: both leave the entry without a value.
    if (RegEnumValueW(key, DWORD(index), name, &nameLength, nullptr, &type, data, &dataLength) == ERROR_SUCCESS) {
        entry.status = Status::Ok;
        entry.name.assign(name, nameLength);
        entry.data.assign(data, data + dataLength);
    } else {
        entry.status = Status::NoValue;
    }
    RegCloseKey(key);
    return entry;
}

} // namespace SerialComm
