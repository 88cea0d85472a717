// Unit discovery: asks every host adapter the manager reports for the units on targets 0 to 6,
// keeps their INQUIRY texts in the unit table, appends one line per unit to the unit list and
// marks each unit eligible or not for the selected firmware variant.
#pragma once

#include <string>

#include "app/MainState.h"

namespace app {

// What discovery needs of the main window: the current bus and variant selections, and the list
// to append lines to. The window implements it; tests use a plain recording one.
class UnitListView {
public:
    virtual ~UnitListView() = default;
    virtual int busType() const = 0;          // 0 SCSI, 1 ATAPI
    virtual int firmwareVariant() const = 0;  // 0 to 6
    virtual void appendUnitLine(const std::string &line) = 0;
};

// Scans the buses. Appends to the list without clearing it and without changing its selection.
void ScanUnits(MainState &state, UnitListView &view);

}  // namespace app
