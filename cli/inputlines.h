#pragma once

#include <QString>
#include <functional>

class QObject;

// The lines a person types on standard input, taken on the event loop as
// they come, for a program that asks for a word while it works.
namespace InputLines {

// From now on `onLine` runs on the event loop with each line, without its
// line end, for as long as `context` lives and standard input is open.
void watch(QObject* context, std::function<void(const QString&)> onLine);

} // namespace InputLines
