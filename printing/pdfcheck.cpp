// SPDX-License-Identifier: GPL-3.0-or-later
#include "pdfcheck.h"

#include <QFile>
#include <QFileInfo>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

using namespace Qt::StringLiterals;

QString PdfCheck::problem(const QString &path, int pages)
{
    if (QFileInfo(path).size() <= 0)
        return u"文件是空的"_s;
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        // A file cut short is mended by qpdf's recovery from what is left: that it opens
        // then says nothing of whether a viewer will.
        pdf.setAttemptRecovery(false);
        pdf.processFile(QFile::encodeName(path).constData());
        const int found = int(QPDFPageDocumentHelper(pdf).getAllPages().size());
        if (pdf.anyWarnings())
            return u"文件不完整"_s;
        if (found != pages)
            return u"文件只有 %1 页，应有 %2 页"_s.arg(found).arg(pages);
    } catch (const std::exception &) {
        return u"文件不完整，无法读出"_s;
    }
    return {};
}
