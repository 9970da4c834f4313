// Standard input watched on the event loop through its handle: a console
// signals input as it is typed, a file or pipe whenever it can be read.
#include "cli/inputlines.h"

#include <QByteArray>
#include <QObject>
#include <QWinEventNotifier>

#include <windows.h>

namespace InputLines {

void watch(QObject* context, std::function<void(const QString&)> onLine)
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == INVALID_HANDLE_VALUE || input == nullptr)
        return;
    DWORD mode = 0;
    const bool console = GetConsoleMode(input, &mode) != 0;
    auto* const notifier = new QWinEventNotifier(input, context); // goes with context
    auto* const pending = new QString;
    QObject::connect(notifier, &QObject::destroyed, [pending] { delete pending; });
    QObject::connect(notifier, &QWinEventNotifier::activated, context, [notifier, pending, onLine, input, console] {
        if (console) {
            // Key presses and other events signal the handle too: only
            // whole lines are read, as the console gives them.
            INPUT_RECORD records[64];
            DWORD count = 0;
            if (!PeekConsoleInputW(input, records, 64, &count))
                return;
            bool enter = false;
            for (DWORD i = 0; i < count; ++i)
                enter = enter || (records[i].EventType == KEY_EVENT && records[i].Event.KeyEvent.bKeyDown &&
                                  records[i].Event.KeyEvent.wVirtualKeyCode == VK_RETURN);
            if (!enter) {
                FlushConsoleInputBuffer(input);
                return;
            }
            wchar_t buffer[512];
            DWORD read = 0;
            if (!ReadConsoleW(input, buffer, 512, &read, nullptr) || read == 0)
                return;
            pending->append(QString::fromWCharArray(buffer, int(read)));
        } else {
            char buffer[512];
            DWORD read = 0;
            if (!ReadFile(input, buffer, sizeof buffer, &read, nullptr) || read == 0) {
                notifier->setEnabled(false);
                return;
            }
            pending->append(QString::fromLocal8Bit(buffer, int(read)));
        }
        for (int end = pending->indexOf(QLatin1Char('\n')); end >= 0; end = pending->indexOf(QLatin1Char('\n'))) {
            QString line = pending->left(end);
            pending->remove(0, end + 1);
            if (line.endsWith(QLatin1Char('\r')))
                line.chop(1);
            onLine(line);
        }
    });
}

} // namespace InputLines
