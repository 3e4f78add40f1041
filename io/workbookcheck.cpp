// SPDX-License-Identifier: GPL-3.0-or-later
#include "workbookcheck.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>

#include <zip.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

struct ArchiveCloser {
    void operator()(zip_t *archive) const { zip_discard(archive); }
};
struct EntryCloser {
    void operator()(zip_file_t *entry) const { zip_fclose(entry); }
};

// Counts `needle` in the text read piece by piece, one that straddles two pieces included.
class Counter
{
public:
    explicit Counter(QByteArrayView needle)
        : m_needle(needle)
    {
    }
    void feed(QByteArrayView piece)
    {
        // One that straddles the end of the piece before and the start of this one.
        const qsizetype reach = m_needle.size() - 1;
        if (!m_carry.isEmpty()) {
            const QByteArray seam = m_carry + piece.first(std::min(piece.size(), reach)).toByteArray();
            if (seam.indexOf(m_needle) >= 0)
                ++m_count;
        }
        qsizetype at = 0;
        while ((at = piece.indexOf(m_needle, at)) >= 0) {
            ++m_count;
            at += m_needle.size();
        }
        m_carry = piece.last(std::min(piece.size(), reach)).toByteArray();
    }
    qint64 count() const { return m_count; }

private:
    QByteArrayView m_needle;
    QByteArray m_carry;
    qint64 m_count = 0;
};

} // namespace

bool WorkbookCheck::sheetHoldsRows(const QString &path, const char *sheet, qint64 rows,
                                   QString *error)
{
    int code = 0;
    const std::unique_ptr<zip_t, ArchiveCloser> archive(
        zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code));
    if (!archive) {
        zip_error_t reason;
        zip_error_init_with_code(&reason, code);
        *error = u"工作簿读不回来（%1）"_s.arg(QString::fromUtf8(zip_error_strerror(&reason)));
        zip_error_fini(&reason);
        return false;
    }
    bool sheetFound = false;
    QByteArray piece(1 << 20, Qt::Uninitialized);
    const zip_int64_t entries = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t index = 0; index < entries; ++index) {
        const char *name = zip_get_name(archive.get(), zip_uint64_t(index), 0);
        const std::unique_ptr<zip_file_t, EntryCloser> entry(
            zip_fopen_index(archive.get(), zip_uint64_t(index), 0));
        if (!name || !entry) {
            *error = u"工作簿的第 %1 部分打不开（%2）"_s.arg(index + 1).arg(
                QString::fromUtf8(zip_strerror(archive.get())));
            return false;
        }
        const bool isSheet = qstrcmp(name, sheet) == 0;
        sheetFound = sheetFound || isSheet;
        // Each complete row ends so; a cell's text never does, its "<" written as "&lt;".
        Counter ends("</row>");
        QByteArray tail;
        for (;;) {
            const zip_int64_t read
                = zip_fread(entry.get(), piece.data(), zip_uint64_t(piece.size()));
            if (read < 0) {
                // A checksum that does not match is told here, at the end of the part.
                *error = u"%1 读不回来（%2）"_s.arg(QString::fromUtf8(name),
                                                 QString::fromUtf8(zip_file_strerror(entry.get())));
                return false;
            }
            if (read == 0)
                break;
            const QByteArrayView got(piece.constData(), read);
            if (isSheet)
                ends.feed(got);
            tail = got.size() >= 64 ? got.last(64).toByteArray()
                                    : (tail + got.toByteArray()).right(64);
        }
        // Every part is XML, ending with its closing tag: one left empty or cut short
        // does not.
        if (!tail.trimmed().endsWith('>')) {
            *error = u"%1 不完整"_s.arg(QString::fromUtf8(name));
            return false;
        }
        if (isSheet && (!tail.trimmed().endsWith("</worksheet>") || ends.count() != rows)) {
            *error = u"工作表只写进了 %1 行，应有 %2 行"_s.arg(ends.count()).arg(rows);
            return false;
        }
    }
    if (!sheetFound) {
        *error = u"工作簿缺少工作表"_s;
        return false;
    }
    return true;
}
