#pragma once

#include "sim/simmodule.h"

#include <QCommandLineOption>
#include <QStringList>

class QCommandLineParser;

namespace sim {

// The fault switches of the module that velkocan-sim offers as options.
class FaultOptions
{
public:
    FaultOptions();

    void addTo(QCommandLineParser& parser) const;
    // Sets the switches of the options given. False with `error` set when a value is malformed.
    bool read(const QCommandLineParser& parser, SimModule::Faults* faults, QString* error) const;
    // The options given, as on the command line; for the start-up log.
    QStringList given(const QCommandLineParser& parser) const;

private:
    QList<QCommandLineOption> all() const;

    QCommandLineOption m_blanks;
    QCommandLineOption m_paddedIds;
    QCommandLineOption m_bareEmptyList;
    QCommandLineOption m_pauseInLine;
    QCommandLineOption m_slowOk;
    QCommandLineOption m_silentAfter;
    QCommandLineOption m_vanishAfter;
    QCommandLineOption m_keepSettings;
    QCommandLineOption m_refuse;
    QCommandLineOption m_replug;
    QCommandLineOption m_lineReport;
};

} // namespace sim
