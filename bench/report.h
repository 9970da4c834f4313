#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <vector>

// The benchmarks' output: one `key=value` line per measurement, which
// scripts/bench turns into the table of docs/performance.md.

inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

inline void put(const QByteArray& key, double value, int decimals = 1)
{
    std::printf("%s=%.*f\n", key.constData(), decimals, value);
    std::fflush(stdout);
}

inline void putText(const QByteArray& key, const QString& value)
{
    std::printf("%s=%s\n", key.constData(), qPrintable(value));
    std::fflush(stdout);
}
