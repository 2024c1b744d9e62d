// OpenMetrics: one status query as a fleet-monitoring exposition.
//
// The text follows the OpenMetrics text format and stays inside the part of
// it that Prometheus' node exporter textfile collector also reads: gauge
// families only, every family with HELP and TYPE, no timestamps, no units,
// ending in "# EOF". An unpaired machine has had no status run: it gets only
// korvan_paired and korvan_state, the latter at "unpaired". Every series carries the user's name as
// its `user` label so that files of two users on one machine never hold the same series.
//
// `openMetricsText` and `bytesFromKB` are pure; any thread may call them.
// `openMetricsStatus` is korvanctl's command and runs on the main thread.
#pragma once

#include "Commands.h"
#include "core/ServiceSnapshot.h"

#include <QString>

namespace cli {

// The state that --json and --openmetrics give a machine without a pairing.
inline const QString unpairedStateName = QStringLiteral("unpaired");

struct StatusMetrics {
    ServiceSnapshot snapshot; // with exitCode, read only when paired
    bool paired = false;
    qint32 exitCode = 0; // of the "status" run, the runner's own 127/126 included
    QString user;
};

QString openMetricsText(const StatusMetrics& metrics);

// The exact decimal of kb * 1024, for the whole 64-bit range of kb.
QString bytesFromKB(qint64 kb);

// Runs one status query and prints its exposition, or with a non-empty
// `outputPath` replaces that file atomically. 0, or 74 when writing failed.
int openMetricsStatus(Invocation& call, const QString& outputPath);

} // namespace cli
