// SPDX-License-Identifier: GPL-3.0-or-later
#include "stores.h"

#include "appstore.h"
#include "backupservice.h"
#include "companystore.h"
#include "lookupstores.h"
#include "receiptbook.h"
#include "receiptdraft.h"
#include "receiptnostore.h"
#include "seriesstore.h"
#include "recentvalues.h"
#include "sqlitehelper.h"
#include "translatestore.h"

void touchSharedStores()
{
    AccountStore::shared();
    AppStore::shared();
    CompanyStore::shared();
    PayerStore::shared();
    Reason1Store::shared();
    Reason2Store::shared();
    PaytypeStore::shared();
    ReceiptNoStore::shared();
    RemarkStore::shared();
    TranslateStore::shared();
}

void resetSharedStores()
{
    SharedInstance<TranslateStore>::reset();
    SharedInstance<RemarkStore>::reset();
    SharedInstance<ReceiptNoStore>::reset();
    SharedInstance<PaytypeStore>::reset();
    SharedInstance<Reason2Store>::reset();
    SharedInstance<Reason1Store>::reset();
    SharedInstance<PayerStore>::reset();
    SharedInstance<CompanyStore>::reset();
    SharedInstance<AppStore>::reset();
    SharedInstance<AccountStore>::reset();
    SharedInstance<ReceiptDraft>::reset();
    SharedInstance<BackupService>::reset();
    SharedInstance<RecentValues>::reset();
    SharedInstance<ReceiptSeriesStore>::reset();
    SQLiteHelper::resetShared();
}

namespace {
template<typename Store>
void reloadIfExists()
{
    if (SharedInstance<Store>::exists())
        Store::shared().load();
}
} // namespace

void reloadSharedStores()
{
    SQLiteHelper::resetShared();
    reloadIfExists<AccountStore>();
    reloadIfExists<CompanyStore>();
    reloadIfExists<PayerStore>();
    reloadIfExists<Reason1Store>();
    reloadIfExists<Reason2Store>();
    reloadIfExists<PaytypeStore>();
    reloadIfExists<RemarkStore>();

    // The series and the setting first: numbering from the old file's counter would save
    // that counter into the new file.
    if (SharedInstance<ReceiptSeriesStore>::exists())
        ReceiptSeriesStore::shared().reload();
    const bool numbering = SharedInstance<ReceiptNoStore>::exists();
    if (numbering)
        ReceiptNoStore::shared().loadSetting();
    if (SharedInstance<AppStore>::exists()) {
        AppStore &appStore = AppStore::shared();
        appStore.setSelection({});
        appStore.setSelectedId(std::nullopt);
        appStore.setReceiptPrint(std::nullopt);
        // Saving an edit of the old file's receipt would write it over a receipt of the
        // new file with the same id.
        if (!appStore.receiptEdit().id.isEmpty())
            appStore.newReceipt();
        else if (numbering)
            ReceiptNoStore::shared().nextReceiptNo();
        appStore.loadReceipts();
    }
    // Every list shows the other file's receipts.
    ReceiptBook::shared().tellReplaced();
}
