// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Creates the ten shared stores in the order the window is built with: AccountStore,
// AppStore, CompanyStore, PayerStore, Reason1Store, Reason2Store, PaytypeStore,
// ReceiptNoStore, RemarkStore, TranslateStore. The first of them opens the database.
void touchSharedStores();

// Destroys every shared store and the database helper, so that the next access starts
// from the database and preferences as they now are. For tests and benchmarks.
void resetSharedStores();

// Every shared store that exists loads again, in place, from the database file at the
// path now (after a restore replaced it): screens hold the stores and redraw on their
// signals. The database helper starts over, so the first open's checks run on the new
// file. The list selection, the receipt to print and a receipt being edited name rows
// of the replaced file: they are cleared, and the form starts a new receipt numbered
// after those of the new file.
void reloadSharedStores();
