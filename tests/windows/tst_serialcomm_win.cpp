// SerialComm::readEntry against a serial-device map that each case writes
// into the registry first. Windows only, without Qt: scripts/windows-check
// builds it with MinGW-w64 and runs it under Wine, in a prefix of its own.
//
// With "--listed NAME=DATA..." it leaves the registry as it is and checks
// that the map lists exactly these values, in this order (the check writes
// them with Wine's reg.exe first).
#include "core/transport/serialcomm_win.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

using SerialComm::Status;

namespace {
const wchar_t* const kMapKey = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

struct Value
{
    std::wstring name;
    std::wstring data; // stored as REG_SZ
};

struct Expected
{
    Status status;
    std::wstring name;
    std::wstring data;
};

struct Case
{
    const char* title;
    bool keyPresent;
    std::vector<Value> values;
    std::vector<Expected> entries; // for the indexes 0, 1, ...
};

// Replaces the map with `values` (the key itself is volatile, as Windows and
// Wine keep it), or removes it.
bool writeMap(bool present, const std::vector<Value>& values)
{
    const LSTATUS removed = RegDeleteKeyW(HKEY_LOCAL_MACHINE, kMapKey);
    if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND)
        return false;
    if (!present)
        return true;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMapKey, 0, nullptr, REG_OPTION_VOLATILE, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = true;
    for (const Value& v : values) {
        const DWORD bytes = DWORD((v.data.size() + 1) * sizeof(wchar_t));
        ok = ok && RegSetValueExW(key, v.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.data.c_str()),
                                  bytes) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return ok;
}

// A REG_SZ's bytes: UTF-16LE with the terminating zero.
std::vector<unsigned char> stored(const std::wstring& text)
{
    std::vector<unsigned char> bytes;
    for (const wchar_t c : text) {
        bytes.push_back(static_cast<unsigned char>(c & 0xFF));
        bytes.push_back(static_cast<unsigned char>((c >> 8) & 0xFF));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

const char* statusText(Status s)
{
    return s == Status::Ok ? "ok" : s == Status::NoValue ? "no value" : "no key";
}

std::wstring serial(int n)
{
    return L"\\Device\\Serial" + std::to_wstring(n);
}

// Names and data sorted the same way, so that the cases do not depend on
// whether the registry lists values by name or in the order they were set.
std::vector<Case> cases()
{
    const Expected none{Status::NoValue, L"", L""};
    const std::wstring fullData(SerialComm::kDataBytes / 2 - 1, L'D'); // with its zero: the whole buffer
    const std::wstring longData(SerialComm::kDataBytes / 2, L'D');     // two bytes too many
    const std::wstring fullName = L"\\Device\\V" + std::wstring(SerialComm::kNameUnits - 10, L'n'); // 255 units
    const std::wstring longName = L"\\Device\\W" + std::wstring(SerialComm::kNameUnits - 9, L'n');  // 256 units
    return {
        {"three ports in enumeration order",
         true,
         {{serial(0), L"COM1"}, {serial(1), L"COM3"}, {L"\\Device\\VCP0", L"COM7"}},
         {{Status::Ok, serial(0), L"COM1"},
          {Status::Ok, serial(1), L"COM3"},
          {Status::Ok, L"\\Device\\VCP0", L"COM7"},
          none}},
        {"one port name under two devices",
         true,
         {{serial(0), L"COM3"}, {serial(1), L"COM3"}},
         {{Status::Ok, serial(0), L"COM3"}, {Status::Ok, serial(1), L"COM3"}, none}},
        {"data filling its buffer, then data too long for it",
         true,
         {{serial(0), fullData}, {serial(1), longData}},
         {{Status::Ok, serial(0), fullData}, none, none}},
        {"name filling its buffer, then a name too long for it",
         true,
         {{fullName, L"COM4"}, {longName, L"COM5"}},
         {{Status::Ok, fullName, L"COM4"}, none}},
        {"empty map", true, {}, {none}},
        {"map missing", false, {}, {{Status::NoKey, L"", L""}, {Status::NoKey, L"", L""}}},
    };
}

// The case of "--listed": the map as another program wrote it.
Case listedCase(int argc, wchar_t** argv)
{
    Case c{"the map as reg.exe wrote it", true, {}, {}};
    for (int i = 2; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const std::size_t equals = arg.find(L'=');
        c.entries.push_back(
            {Status::Ok, arg.substr(0, equals), equals == std::wstring::npos ? L"" : arg.substr(equals + 1)});
    }
    c.entries.push_back({Status::NoValue, L"", L""});
    return c;
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    const bool listed = argc > 1 && std::wstring(argv[1]) == L"--listed";
    const std::vector<Case> all = listed ? std::vector<Case>{listedCase(argc, argv)} : cases();
    int passed = 0;
    int failed = 0;
    for (const Case& c : all) {
        std::string problem;
        if (!listed && !writeMap(c.keyPresent, c.values))
            problem = "the map could not be written";
        for (unsigned long i = 0; problem.empty() && i < c.entries.size(); ++i) {
            const Expected& want = c.entries[i];
            const SerialComm::Entry got = SerialComm::readEntry(i);
            const bool same = got.status == want.status &&
                              (want.status != Status::Ok || (got.name == want.name && got.data == stored(want.data)));
            if (!same)
                problem = "index " + std::to_string(i) + ": " + statusText(got.status) + " (name " +
                          std::to_string(got.name.size()) + " units, data " + std::to_string(got.data.size()) +
                          " bytes), expected " + statusText(want.status);
        }
        if (problem.empty()) {
            ++passed;
            std::printf("PASS   : %s\n", c.title);
        } else {
            ++failed;
            std::printf("FAIL!  : %s: %s\n", c.title, problem.c_str());
        }
    }
    std::printf("Totals: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
