#pragma once

#include <QString>

// Where the program finds its translation catalogues, wherever it is started:
// `name` (e.g. "language/language_EN.qm") under the working directory when it
// is there, else under the program's own folder (the build folder), else under
// ../share/velkocan-config/ from the program's folder (an installed or unpacked
// tree). When none exists, `name` itself: loading it fails and the Chinese
// source texts stay.
QString cataloguePath(const QString& name);
