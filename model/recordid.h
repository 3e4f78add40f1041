// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// A new id for a stored record (a receipt, an entry of a lookup list, a history row): a
// UUID in capitals without braces, as the book has always stored them. Made here only.
QString newRecordId();
