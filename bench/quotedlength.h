#pragma once

#include <QString>

// Number of bytes of a QByteArray as QDebug quotes it, from the opening quote
// at `open`: "AT\r\n" is 4; a hexadecimal escape is one byte, and "" only
// splits the quoted text.
inline int quotedLength(const QString& text, int open)
{
    int bytes = 0;
    for (int i = open + 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\')) {
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('x'))
                i += 3;
            else
                i += 1;
            ++bytes;
        } else if (c == QLatin1Char('"')) {
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"'))
                ++i;
            else
                break;
        } else {
            ++bytes;
        }
    }
    return bytes;
}
