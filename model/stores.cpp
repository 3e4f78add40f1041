#include "stores.h"

#include "appstore.h"
#include "companystore.h"
#include "lookupstores.h"
#include "receiptdraft.h"
#include "receiptnostore.h"
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
    SQLiteHelper::resetShared();
}
