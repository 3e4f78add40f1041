// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bookimport.h"

#include <QObject>

class BookMaintenance;
class QMainWindow;
class Toast;

// The window's menu bar and what it does with the receipt book as a whole: 文件 (backup,
// restore, the data folder, print settings, quit), 收据 (the history of every receipt or of the
// selected one, the verification of a printed receipt's code, the day's end, the paper books
// and their spoiled forms) and 帮助 (about). It also makes the automatic backup after every so
// many saved receipts, on a worker thread, telling a failure once.
class BookMenu : public QObject
{
    Q_OBJECT

public:
    explicit BookMenu(QMainWindow *window);

    void backUp();
    // 校验账本…: the book proved on a worker, a head printed before checked too when given.
    void verify();
    void restore();
    void openDataFolder();
    // 导出… of the receipt list on screen.
    void exportList();
    // 导入收据…: a file is checked first (its problems shown, nothing written), then
    // imported after the user confirms.
    void importReceipts();
    // 打开共享账本…: once the book there can be used, it is remembered and the program starts
    // again on it (the password given, if any, only in that program's environment).
    void openSharedBook();
    // Starts the program again on the shared book at `uri` (found usable); false when the
    // window stayed open. A book file named with --book is kept for 使用本机账本.
    bool switchToSharedBook(const QString &uri, const QString &password);
    // 使用本机账本: forgets the shared book and starts again on the book on this computer:
    // the file the window left for the shared book, else the one in the documents folder.
    void useLocalBook();
    void showAbout();
    void showPrintSettings();
    void showHistory();
    // The history of the receipt selected in the list; refused when none is.
    void showSelectedHistory();
    // 收据本登记…: the paper books, their registration, return and reconciliation.
    void showPaperBooks();
    // 登记废票…: a spoiled form, offered the number of the receipt selected in a list.
    void spoilForm();
    // 验证收据…: the code of a printed receipt, scanned or typed, and what the book says.
    void verifyReceipt();

private:
    // Runs one pass of an import of `source` (a check, or the write) with a progress
    // dialog when it takes a moment; *notes gets what the reader passed over. Nothing,
    // with the reason told, when the file cannot be read at all.
    std::optional<BookImport::Result> runImport(const QString &source,
                                                const BookImport::Options &options,
                                                QStringList *notes);
    // Closes the window and, once it has closed, starts the program again on `book`. False
    // when the window stayed open (the user went back to an unsaved receipt).
    bool restartOn(const QString &book, const QString &password);
    void onReceiptSaved();
    void onBackupFailed(const QString &error);

    QMainWindow *m_window;
    Toast *m_successToast;
    Toast *m_errorToast;
    BookMaintenance *m_maintenance;
    bool m_backupFailureTold = false;
    // The import under way takes a file the book took before: the user said so.
    bool m_importAgain = false;
};
