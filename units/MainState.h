// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// The working state that the program's face (the main window, or the shell's update) owns for the
// whole life of the process: the manager binding, the unit tables, the shared command buffers, the
// selected unit, the transfer block size, the progress target and the download image. Kept apart
// from both faces so that the update sequence and the logic that works on it serve either, and run
// in tests without a display.
#pragma once

#include <cstdint>

#include "aspi/AspiManager.h"
#include "aspi/LowMemory.h"
#include "units/UnitTable.h"

namespace units {

struct MainState {
    MainState() = default;
    MainState(const MainState &) = delete;
    MainState &operator=(const MainState &) = delete;
    // Frees the low-memory buffers.
    ~MainState() {
        aspi::LowBuffers buffers{InquiryData, DownloadImage};
        aspi::freeLowBuffers(buffers);
    }

    aspi::AspiManager aspi;
    UnitTable units;
    std::uint8_t AdapterCount = 0;

    // Low-memory buffers that request records point at (see aspi/LowMemory.h).
    std::uint8_t *InquiryData = nullptr;    // 98 bytes
    std::uint8_t *DownloadImage = nullptr;  // aspi::kImageBufferSize bytes
    std::uint32_t ImageLength = 0;

    std::uint8_t LastSense[aspi::kSenseLength] = {};
    aspi::CommandResult LastResult = 0;

    std::uint8_t SelectedAdapter = 0;
    std::uint8_t SelectedTarget = 0;

    std::uint16_t BlockSize = 0;
    std::int32_t ProgressTarget = 0;
    std::int32_t TimerInterval = 0;

    // The latest transfer: how many blocks it had and how many of them failed and were ignored
    // (the unit did not take them). Both are 0 while an update has sent nothing.
    std::uint32_t BlockCount = 0;
    std::uint32_t IgnoredBlocks = 0;

    // Set from the start of the Update handler until it returns: the main window's handlers
    // refuse to act meanwhile (see update::UpdateClick).
    bool UpdateRunning = false;

    // The checks before the first block that the user turned off at start (--allow-usb-bridge,
    // --allow-battery; see update/UpdateChecks.h).
    bool AllowUsbBridge = false;
    bool AllowBattery = false;

    // Set once the start-up notices were shown (app/StartupNotices.h): once per start.
    bool StartupNoticesShown = false;

    // Reserves the low-memory buffers. On failure shows a message box and ends the process with
    // status 1: without them no command can be sent.
    void allocateBuffers();
};

}  // namespace units
