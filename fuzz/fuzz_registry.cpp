// The texts of a registry value of the serial-device map: the name from the
// input's bytes taken two at a time as UTF-16 units, the data from the bytes.
#include "core/transport/portnames.h"
#include "fuzz/fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QVector<ushort> units;
    for (size_t i = 0; i + 1 < size; i += 2)
        units.append(ushort(data[i] | data[i + 1] << 8));
    const QString name = PortNames::registryNameText(units);
    FUZZ_CHECK(name.size() == units.size());
    for (int i = 0; i < units.size(); ++i)
        FUZZ_CHECK(name.at(i).unicode() == (units.at(i) & 0xFF));

    const QByteArray bytes = fuzzBytes(data, size);
    const QString text = PortNames::registryDataText(bytes);
    int nonZero = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            continue;
        FUZZ_CHECK(nonZero < text.size());
        FUZZ_CHECK(text.at(nonZero).unicode() == data[i]);
        ++nonZero;
    }
    FUZZ_CHECK(text.size() == nonZero);
    return 0;
}
