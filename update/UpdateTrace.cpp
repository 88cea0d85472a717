// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "update/UpdateTrace.h"

#include <QJsonObject>
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "update/Journal.h"

namespace update {

namespace {

const char *directionName(std::uint8_t flags) {
    switch (flags & (aspi::SRB_DIR_IN | aspi::SRB_DIR_OUT)) {
        case aspi::SRB_DIR_OUT:
            return "out";
        case aspi::SRB_DIR_IN:
            return "in";
        default:
            return "none";
    }
}

qint64 microseconds(UpdateTrace::Clock::duration span) {
    return std::chrono::duration_cast<std::chrono::microseconds>(span).count();
}

}  // namespace

std::string traceFolder(const std::string &journalPath) {
    const std::size_t slash = journalPath.rfind('/');
    return (slash == std::string::npos ? std::string(".") : journalPath.substr(0, slash)) +
           "/traces";
}

std::string tracePath(const std::string &journalPath, const std::string &id) {
    return traceFolder(journalPath) + "/" + id + ".jsonl";
}

void UpdateTrace::begin(const Journal *journal, const std::string &id, const UpdateFacts &facts) {
    m_path.clear();
    m_count = 0;
    if (journal == nullptr || id.empty()) {
        return;
    }
    m_path = tracePath(journal->settings().path, id);
    m_start = Clock::now();
    QJsonObject unit = unitJson(facts.unitAddress, facts.vendor, facts.product, facts.revision);
    if (!facts.transport.empty() && facts.transport != "unknown") {
        unit.insert("transport", QString::fromStdString(facts.transport));
    }
    // The file's name only: its folder may name the user, and a replay needs only the name.
    const std::string name = facts.filePath.substr(facts.filePath.rfind('/') + 1);
    const QJsonObject first{
        {"trace", kTraceFormat},
        {"id", QString::fromStdString(id)},
        {"program", CDRW_VERSION},
        {"started", QString::fromStdString(journalTime())},
        {"manager", QString::fromStdString(facts.context.manager)},
        {"bus", QString::fromStdString(facts.bus)},
        {"unit", unit},
        {"file", QJsonObject{{"name", QString::fromStdString(name)},
                             {"sha256", QString::fromStdString(facts.fileSha256)}}},
        {"blocks", static_cast<qint64>(facts.blockCount)},
    };
    if (!appendJsonLine(m_path, first, "update trace")) {
        m_path.clear();
        return;
    }
    pruneTraces(traceFolder(journal->settings().path));
}

void UpdateTrace::command(const aspi::SRB_ExecSCSICmd &sent, const std::uint8_t *data,
                          Clock::time_point began, Clock::time_point ended, const char *answer) {
    if (m_path.empty() || sent.SRB_Cmd != aspi::SC_EXEC_SCSI_CMD) {
        return;
    }
    const std::size_t cdbLength = std::min<std::size_t>(sent.SRB_CDBLen, sizeof sent.CDBByte);
    QJsonObject line{
        {"command", static_cast<qint64>(++m_count)},
        {"cdb", QString::fromStdString(hexBytes(sent.CDBByte, cdbLength))},
        {"direction", directionName(sent.SRB_Flags)},
        {"length", static_cast<qint64>(sent.SRB_BufLen)},
        {"aspi_status", sent.SRB_Status},
        {"host_adapter_status", sent.SRB_HaStat},
        {"target_status", sent.SRB_TargStat},
        {"at_us", microseconds(began - m_start)},
        {"duration_us", microseconds(ended - began)},
    };
    if ((sent.SRB_Flags & aspi::SRB_DIR_OUT) != 0 && data != nullptr) {
        line.insert("data_sha256", QString::fromStdString(sha256Hex(data, sent.SRB_BufLen)));
    }
    // Sense belongs to this command only when it ended in CHECK CONDITION on a healthy host side.
    if (sent.SRB_Status == aspi::SS_ERR && sent.SRB_HaStat == 0 &&
        sent.SRB_TargStat == aspi::STATUS_CHKCOND) {
        line.insert("sense",
                    QString::fromStdString(hexBytes(sent.SenseArea, sizeof sent.SenseArea)));
    }
    if (answer != nullptr) {
        line.insert("answer", answer);
    }
    if (!appendJsonLine(m_path, line, "update trace")) {
        m_path.clear();  // said once; the rest of this trace goes unwritten
    }
}

void pruneTraces(const std::string &folder, std::size_t keep) {
    namespace fs = std::filesystem;
    struct Trace {
        fs::file_time_type time;
        fs::path path;
    };
    std::vector<Trace> traces;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code statError;
        // A link is a name someone else may have put there: it is never a trace.
        if (entry->path().extension() == ".jsonl" &&
            entry->symlink_status(statError).type() == fs::file_type::regular) {
            const fs::file_time_type time = fs::last_write_time(entry->path(), statError);
            if (!statError) {
                traces.push_back({time, entry->path()});
            }
        }
    }
    if (traces.size() <= keep) {
        return;
    }
    std::sort(traces.begin(), traces.end(), [](const Trace &a, const Trace &b) {
        return a.time != b.time ? a.time > b.time : a.path > b.path;
    });
    for (std::size_t i = keep; i < traces.size(); ++i) {
        fs::remove(traces[i].path, error);
    }
}

}  // namespace update
