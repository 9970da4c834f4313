#pragma once

#include <QByteArray>
#include <QString>

class QDateTime;

namespace LogFormat {

// Direction flags of a log entry.
enum Flag { Sent = 1, Received = 2, Message = 3 };

// "yyyy-MM-dd hh:mm::ss.zzz" (two colons before the seconds).
QString timeStamp(const QDateTime& when);

// The text shown for one entry: "TX:" or "RX:" and the data for traffic, the
// data alone for a message, nothing for any other flag. The data ends at its
// first zero byte; the whole of it is kept, however long.
QString entryText(const QByteArray& data, int flag);

// Traffic is shown as plain text, byte for byte: a reply that looks like
// markup is not rendered. Messages may carry markup.
bool isPlainEntry(int flag);

} // namespace LogFormat
