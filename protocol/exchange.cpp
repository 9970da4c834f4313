#include "atprotocol.h"
#include "common.h"
#include "kx47main.h"
#include "logformat.h"
#include "serialsocket.h"

void KX47main::kx47send(QByteArray date)
{
    show_log(date, LogFormat::Sent);
    SerialSocket::getInstance()->sendData(date);
}

bool KX47main::kx47Query(QByteArray date, int16_t time)
{
    Common::delay(100);
    show_log(date, LogFormat::Sent);
    SerialSocket* const port = SerialSocket::getInstance();
    const bool replied = port->sendAndWait(date, time);
    if (replied)
        show_log(port->getReply(), LogFormat::Received);
    return replied;
}

bool KX47main::kx47Query_one(QByteArray date, int16_t time)
{
    SerialSocket* const port = SerialSocket::getInstance();
    const bool replied = port->sendAndWait(date, time);
    if (replied)
        show_log(port->getReply(), LogFormat::Received);
    return replied;
}

int KX47main::at_master_get_argc(char* str)
{
    return At::countListedEntries(str);
}

char KX47main::ConvertHexChar(char ch)
{
    return At::hexDigitFlag(ch);
}
