// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bookimport.h"

#include <QDialog>

// What the check of a file to import found, before anything is written: the receipts it
// would bring and their sum, with 导入 and 取消; or the rows that cannot be taken, each
// with its row number and why, with 关闭 and, when every problem is a number taken,
// 改用新单号导入. Accepted means: import (renumbered, for the second).
class ImportDialog : public QDialog
{
    Q_OBJECT

public:
    ImportDialog(const QString &file, const BookImport::Result &checked, const QStringList &notes,
                 QWidget *parent);
    // Whether the file can be imported as it is; false: only renumbered, if at all.
    bool isImportable() const { return m_importable; }

private:
    bool m_importable;
};
