// SPDX-License-Identifier: GPL-3.0-or-later
#include "recordid.h"

#include <QUuid>

QString newRecordId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}
