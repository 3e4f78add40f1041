// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "receipt.h"

class QWidget;

// Builds the screen of a "基本设置" sidebar row (settings_payer … settings_account), or
// nullptr for any other destination.
QWidget *createSettingsScreen(NavigationItem item, QWidget *parent);
