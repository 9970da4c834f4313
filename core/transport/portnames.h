#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// Text conversions of one registry value of the serial-device map, kept as
// plain functions so that every platform tests them.
namespace PortNames {

// The value's name: one character per UTF-16 unit, its low 8 bits.
QString registryNameText(const QVector<ushort>& units);
// The value's data: one character per byte that is not zero; zero bytes are skipped.
QString registryDataText(const QByteArray& data);

// Folder in which simulated modules publish links to their virtual ports.
QString virtualPortFolder();
// The links in `folder` whose targets exist, sorted by name.
QStringList virtualPorts(const QString& folder);

} // namespace PortNames
