#pragma once

// Creates the ten shared stores in the order the window is built with: AccountStore,
// AppStore, CompanyStore, PayerStore, Reason1Store, Reason2Store, PaytypeStore,
// ReceiptNoStore, RemarkStore, TranslateStore. The first of them opens the database.
void touchSharedStores();

// Destroys every shared store and the database helper, so that the next access starts
// from the database and preferences as they now are. For tests and benchmarks.
void resetSharedStores();
