// SPDX-License-Identifier: GPL-3.0-or-later
#include "offeredtexts.h"

#include "combobox.h"
#include "lookupstores.h"

#include <QPointer>

void OfferedTexts::bind(ComboBox *comboBox, LookupStoreBase &lookup, RecentValues::Field field)
{
    // Either store may be made anew (a test starting over) while the box lives: each is
    // asked for as it is when something changes.
    const QPointer<LookupStoreBase> list(&lookup);
    const auto offer = [comboBox, list, field] {
        if (list)
            comboBox->setItems(RecentValues::shared().offered(field, list->items()));
    };
    QObject::connect(&lookup, &LookupStoreBase::itemsChanged, comboBox, offer);
    QObject::connect(&RecentValues::shared(), &RecentValues::valuesChanged, comboBox, offer);
    offer();
}
