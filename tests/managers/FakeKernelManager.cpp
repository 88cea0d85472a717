// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
// A test manager, built as wnaspi32.DLL: the real manager's entry points and logic over a kernel
// seam and a sysfs tree that the test hands over, so the program can be driven over the real
// manager without a device. Besides the two entry points it exports
//   void FakeKernelInstall(const char *sysfsRoot, sg::PassThrough *kernel)
// which replaces the manager by one that reads `sysfsRoot` and runs its commands through
// `kernel`; the test calls it before the program binds the module, keeps both alive, and calls it
// with two null pointers to drop the manager (which closes its units) before the kernel goes.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "managers/sg/ModuleManager.h"

namespace {

std::unique_ptr<sg::SgManager> g_manager;

}  // namespace

sg::SgManager &sg::moduleManager() {
    if (!g_manager) {
        std::fputs("fake kernel manager: FakeKernelInstall was not called\n", stderr);
        std::abort();
    }
    return *g_manager;
}

extern "C" __attribute__((visibility("default"))) void FakeKernelInstall(const char *sysfsRoot,
                                                                         sg::PassThrough *kernel) {
    g_manager.reset();
    if (kernel != nullptr) {
        sg::SgConfig config;
        config.sysfsRoot = sysfsRoot;
        g_manager = std::make_unique<sg::SgManager>(config, *kernel);
    }
}
