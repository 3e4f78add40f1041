#pragma once

#include "receipt.h"

class QWidget;

// Builds the screen of a "基本设置" sidebar row (settings_payer … settings_account), or
// nullptr for any other destination.
QWidget *createSettingsScreen(NavigationItem item, QWidget *parent);
