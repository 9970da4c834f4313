// Standard input watched by a notifier on the event loop: a terminal, a pipe
// or a file alike.
#include "cli/inputlines.h"

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>

#include <cerrno>
#include <unistd.h>

namespace InputLines {

void watch(QObject* context, std::function<void(const QString&)> onLine)
{
    auto* const notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, context); // goes with context
    auto* const pending = new QByteArray;
    QObject::connect(notifier, &QObject::destroyed, [pending] { delete pending; });
    QObject::connect(notifier, &QSocketNotifier::activated, context, [notifier, pending, onLine] {
        char buffer[512];
        ssize_t n = 0;
        do
            n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        while (n < 0 && errno == EINTR);
        if (n <= 0) {
            // Standard input ended: nothing more will come.
            notifier->setEnabled(false);
            return;
        }
        pending->append(buffer, int(n));
        for (int end = pending->indexOf('\n'); end >= 0; end = pending->indexOf('\n')) {
            QByteArray line = pending->left(end);
            pending->remove(0, end + 1);
            if (line.endsWith('\r'))
                line.chop(1);
            onLine(QString::fromLocal8Bit(line));
        }
    });
}

} // namespace InputLines
