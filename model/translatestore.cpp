// SPDX-License-Identifier: GPL-3.0-or-later
#include "translatestore.h"

TranslateStore &TranslateStore::shared()
{
    return SharedInstance<TranslateStore>::get();
}

void TranslateStore::setDatas(const QList<Translate> &datas)
{
    m_datas = datas;
    Q_EMIT datasChanged();
}
