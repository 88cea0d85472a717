// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// Test managers, built from this one file in several forms (each as wnaspi32.DLL in its own
// folder, chosen by LD_LIBRARY_PATH):
//   FAKE_NO_SUPPORT_INFO  exports no GetASPI32SupportInfo
//   FAKE_NO_SEND          exports no SendASPI32Command
//   FAKE_SUPPORT_WORD     the support word returned (default 0x00000102)
// SendASPI32Command answers from a reply that the test sets with FakeSetReply; with a delay the
// status is stored later from another thread, so the caller's poll has to wait for it. Host
// adapter inquiries from the adapter FakeSetSilentFrom names on are left untouched, as by a
// manager that does not know the adapter.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

#include "aspi/AspiRecords.h"

#ifndef FAKE_SUPPORT_WORD
#define FAKE_SUPPORT_WORD 0x00000102u
#endif

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
std::atomic<int> g_supportAsked{0};
std::atomic<int> g_commands{0};
struct Reply {
    std::uint8_t status = aspi::SS_COMP;
    std::uint8_t haStat = 0;
    std::uint8_t targStat = 0;
    std::uint8_t deviceType = 5;
    std::uint8_t sense[aspi::kSenseLength] = {};
    int delayMilliseconds = 0;
} g_reply;
aspi::SRB_ExecSCSICmd g_lastExec{};
int g_silentFrom = 256;
}  // namespace

FAKE_EXPORT void FakeSetSilentFrom(int adapter) {
    g_silentFrom = adapter;
}

FAKE_EXPORT int FakeSupportAsked() {
    return g_supportAsked.load();
}
FAKE_EXPORT int FakeCommands() {
    return g_commands.load();
}
FAKE_EXPORT void FakeSetReply(std::uint8_t status, std::uint8_t haStat, std::uint8_t targStat,
                              std::uint8_t deviceType, const std::uint8_t *sense,
                              int delayMilliseconds) {
    g_reply = {status, haStat, targStat, deviceType, {}, delayMilliseconds};
    std::memcpy(g_reply.sense, sense, aspi::kSenseLength);
}
FAKE_EXPORT void FakeLastExec(aspi::SRB_ExecSCSICmd *out) {
    *out = g_lastExec;
}

#ifndef FAKE_NO_SUPPORT_INFO
FAKE_EXPORT std::uint32_t GetASPI32SupportInfo() {
    ++g_supportAsked;
    return FAKE_SUPPORT_WORD;
}
#endif

#ifndef FAKE_NO_SEND
FAKE_EXPORT std::uint32_t SendASPI32Command(void *record) {
    ++g_commands;
    auto *header = static_cast<aspi::SRB_Header *>(record);
    const Reply reply = g_reply;
    if (header->SRB_Cmd == aspi::SC_HA_INQUIRY) {
        auto *srb = static_cast<aspi::SRB_HAInquiry *>(record);
        if (srb->SRB_HaId >= g_silentFrom) {
            return aspi::SS_INVALID_HA;
        }
        srb->HA_SCSI_ID = 7;
        aspi::storeStatus(srb->SRB_Status, aspi::SS_COMP);
        return aspi::SS_COMP;
    }
    if (header->SRB_Cmd == aspi::SC_GET_DEV_TYPE) {
        auto *srb = static_cast<aspi::SRB_GDEVBlock *>(record);
        srb->SRB_DeviceType = reply.deviceType;
    } else {
        auto *srb = static_cast<aspi::SRB_ExecSCSICmd *>(record);
        g_lastExec = *srb;
        srb->SRB_HaStat = reply.haStat;
        srb->SRB_TargStat = reply.targStat;
        std::memcpy(srb->SenseArea, reply.sense, aspi::kSenseLength);
    }
    if (reply.delayMilliseconds > 0) {
        std::thread([header, reply]() {
            std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMilliseconds));
            aspi::storeStatus(header->SRB_Status, reply.status);
        }).detach();
        return aspi::SS_PENDING;
    }
    aspi::storeStatus(header->SRB_Status, reply.status);
    return reply.status;
}
#endif
