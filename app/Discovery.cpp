#include "app/Discovery.h"

namespace app {

void ScanUnits(MainState &state, UnitListView & /*view*/) {
    state.AdapterCount = 0;
    if ((state.aspi.AspiSupport() >> 8) != aspi::SS_COMP) {
        return;
    }
    state.AdapterCount = static_cast<std::uint8_t>(state.aspi.AspiSupport() & 0xFF);
}

}  // namespace app
