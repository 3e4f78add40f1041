// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "recentvalues.h"

class ComboBox;
class LookupStoreBase;

// What a combo box of the entry form offers: its lookup list's entries, then the texts of
// recent receipts the list lacks (RecentValues), kept up to date with both.
namespace OfferedTexts {

void bind(ComboBox *comboBox, LookupStoreBase &lookup, RecentValues::Field field);

} // namespace OfferedTexts
