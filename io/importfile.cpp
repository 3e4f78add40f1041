// SPDX-License-Identifier: GPL-3.0-or-later
#include "importfile.h"

#include "exportfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIODevice>
#include <QSet>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <unicode/ucnv.h>
#include <zip.h>

using namespace Qt::StringLiterals;

namespace {

using namespace ImportFile;

QString megabytes(qint64 bytes)
{
    return u"%1 MB"_s.arg(bytes / (1024 * 1024));
}

// ---- CSV

// The text of a CSV file, decoded a piece at a time.
class CsvReader : public Reader
{
public:
    explicit CsvReader(const QString &path)
        : m_file(path)
    { }
    ~CsvReader() override
    {
        if (m_gb18030)
            ucnv_close(m_gb18030);
    }

    bool open(QString *error)
    {
        if (!m_file.open(QIODevice::ReadOnly)) {
            *error = m_file.errorString();
            return false;
        }
        const QByteArray head = m_file.peek(4);
        if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF")
            || head.startsWith(QByteArray("\x00\x00\xFE\xFF", 4))) {
            *error = u"文件是 UTF-16 或 UTF-32 编码：请另存为 UTF-8 或 GB18030 编码的 CSV"_s;
            return false;
        }
        const bool marked = head.startsWith("\xEF\xBB\xBF");
        // UTF-8 when every byte sequence is one (as the byte-order mark says, if there is
        // one), else GB18030 (what Chinese Excel writes) when it is that; anything else is
        // refused rather than misread.
        QStringDecoder utf8(QStringDecoder::Utf8);
        bool nul = false;
        while (!m_file.atEnd()) {
            const QByteArray piece = m_file.read(1 << 16);
            nul = nul || piece.contains('\0');
            const QString decoded = utf8.decode(piece);
        }
        m_file.seek(0);
        if (nul) {
            *error = u"文件中有空字符：不是文本文件，或者是 UTF-16 编码"_s;
            return false;
        }
        if (!utf8.hasError()) {
            if (marked)
                m_file.read(3);
            return true;
        }
        if (marked) {
            *error = u"文件开头标明是 UTF-8 编码，其中却有不是 UTF-8 的字节：文件已损坏？"_s;
            return false;
        }
        UErrorCode status = U_ZERO_ERROR;
        m_gb18030 = ucnv_open("GB18030", &status);
        if (U_FAILURE(status)) {
            *error = u"无法读取 GB18030 编码"_s;
            return false;
        }
        ucnv_setToUCallBack(m_gb18030, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
        QString ignored;
        while (!m_file.atEnd()) {
            ignored.clear();
            if (!decodeGb18030(m_file.read(1 << 16), m_file.atEnd(), &ignored)) {
                *error = u"文件的编码既不是 UTF-8 也不是 GB18030：请另存为 UTF-8 编码的 CSV"_s;
                return false;
            }
        }
        ucnv_resetToUnicode(m_gb18030);
        m_file.seek(0);
        return true;
    }

    bool next(Row *row) override
    {
        for (;;) {
            QList<Cell> cells;
            if (!readRecord(&cells))
                return false;
            ++m_record;
            if (!m_error.isEmpty())
                return false;
            const bool empty = std::all_of(cells.cbegin(), cells.cend(),
                                           [](const Cell &cell) { return cell.isEmpty(); });
            if (!empty) {
                *row = Row {m_record, std::move(cells)};
                return true;
            }
        }
    }

    QString error() const override { return m_error; }
    qint64 position() const override { return m_file.pos(); }
    qint64 size() const override { return m_file.size(); }

private:
    bool decodeGb18030(const QByteArray &bytes, bool last, QString *out)
    {
        const char *source = bytes.constData();
        const char *sourceEnd = source + bytes.size();
        for (;;) {
            char16_t buffer[8192];
            UChar *target = reinterpret_cast<UChar *>(buffer);
            UErrorCode status = U_ZERO_ERROR;
            ucnv_toUnicode(m_gb18030, &target, target + 8192, &source, sourceEnd, nullptr, last,
                           &status);
            out->append(QStringView(buffer, target - reinterpret_cast<UChar *>(buffer)));
            if (status == U_BUFFER_OVERFLOW_ERROR)
                continue;
            return U_SUCCESS(status);
        }
    }

    // More text into the buffer; false at the end of the file.
    bool fill()
    {
        if (m_file.atEnd())
            return false;
        m_buffer.remove(0, m_pos);
        m_pos = 0;
        const QByteArray bytes = m_file.read(1 << 16);
        if (m_gb18030)
            decodeGb18030(bytes, m_file.atEnd(), &m_buffer);
        else
            m_buffer += m_utf8.decode(bytes);
        return true;
    }

    bool get(QChar *c)
    {
        while (m_pos >= m_buffer.size()) {
            if (!fill())
                return false;
        }
        *c = m_buffer.at(m_pos++);
        return true;
    }
    bool peek(QChar *c)
    {
        while (m_pos >= m_buffer.size()) {
            if (!fill())
                return false;
        }
        *c = m_buffer.at(m_pos);
        return true;
    }

    static void endField(QList<Cell> *cells, QString &field)
    {
        // The export writes a text that a spreadsheet would run with a quote before it.
        if (field.size() > 1 && field.front() == u'\''
            && ExportFile::startsLikeFormula(QStringView(field).mid(1)))
            field.remove(0, 1);
        cells->append(Cell {field.isEmpty() ? Cell::Kind::Empty : Cell::Kind::Text, field});
        field.clear();
    }

    // One record (RFC 4180: quoted fields may hold commas, quotes doubled and line
    // breaks); false at the end of the file.
    bool readRecord(QList<Cell> *cells)
    {
        QChar c;
        if (!get(&c))
            return false;
        QString field;
        bool quoted = false;
        for (;;) {
            if (c == u'"' && field.isEmpty() && !quoted) {
                quoted = true;
                // Inside the quotes until a quote that is not doubled.
                for (;;) {
                    if (!get(&c)) {
                        m_error = u"第 %1 行的引号没有结束"_s.arg(m_record + 1);
                        return true;
                    }
                    if (c == u'"') {
                        QChar after;
                        if (peek(&after) && after == u'"') {
                            get(&after);
                            field += u'"';
                            continue;
                        }
                        break;
                    }
                    field += c;
                    if (field.size() > cellSizeLimit) {
                        m_error = cellTooLarge();
                        return true;
                    }
                }
            } else if (c == u',') {
                endField(cells, field);
                quoted = false;
            } else if (c == u'\n' || c == u'\r') {
                QChar after;
                if (c == u'\r' && peek(&after) && after == u'\n')
                    get(&after);
                endField(cells, field);
                return true;
            } else {
                field += c;
                if (field.size() > cellSizeLimit) {
                    m_error = cellTooLarge();
                    return true;
                }
            }
            if (!get(&c)) {
                endField(cells, field);
                return true;
            }
        }
    }

    QString cellTooLarge() const
    {
        return u"第 %1 行有一个单元格超过 %2，不能导入"_s.arg(m_record + 1)
            .arg(megabytes(cellSizeLimit));
    }

    QFile m_file;
    QStringDecoder m_utf8 {QStringDecoder::Utf8};
    UConverter *m_gb18030 = nullptr;
    QString m_buffer;
    qsizetype m_pos = 0;
    qint64 m_record = 0;
    QString m_error;
};

// ---- Excel

// One part of a workbook as it unpacks, refused past what it may unpack to: the sizes
// the archive tells for it can lie, so the bytes are counted as they come.
class ZipEntry : public QIODevice
{
public:
    ZipEntry(zip_file_t *file, qint64 limit, const QString &name)
        : m_file(file)
        , m_limit(limit)
        , m_name(name)
    {
        QIODevice::open(QIODevice::ReadOnly);
    }
    ~ZipEntry() override { zip_fclose(m_file); }
    bool isSequential() const override { return true; }
    qint64 unpacked() const { return m_read; }
    const QString &name() const { return m_name; }
    const QString &failure() const { return m_failure; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (!m_failure.isEmpty())
            return -1;
        const zip_int64_t n = zip_fread(m_file, data, zip_uint64_t(maxSize));
        if (n < 0) {
            m_failure = u"工作簿中的 %1 无法解压（文件损坏？）"_s.arg(m_name);
            return -1;
        }
        m_read += n;
        if (m_read > m_limit) {
            m_failure = u"工作簿中的 %1 解压后过大（可能是“压缩炸弹”），不能导入"_s.arg(m_name);
            return -1;
        }
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    zip_file_t *m_file;
    qint64 m_limit;
    qint64 m_read = 0;
    QString m_name;
    QString m_failure;
};

// "_x000D_" and the like: how a workbook writes a character an XML text cannot hold;
// "_x005F_" is the underscore, so a text with "_x0041_" in it comes back as written.
QString decodeEscapes(const QString &text)
{
    if (!text.contains(u"_x"_s))
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'_' && i + 6 < text.size() && text.at(i + 1) == u'x'
            && text.at(i + 6) == u'_') {
            bool ok = false;
            const uint code = QStringView(text).mid(i + 2, 4).toUInt(&ok, 16);
            if (ok) {
                out += QChar(char16_t(code));
                i += 6;
                continue;
            }
        }
        out += text.at(i);
    }
    return out;
}

// 0-based column of a cell name ("C7" is 2); -1 without letters.
int columnOf(QStringView name)
{
    int column = 0;
    qsizetype i = 0;
    for (; i < name.size() && name.at(i).isLetter() && i < 3; ++i)
        column = column * 26 + (name.at(i).toUpper().unicode() - u'A' + 1);
    return i == 0 ? -1 : column - 1;
}

class XlsxReader : public Reader
{
public:
    explicit XlsxReader(const QString &path)
        : m_path(path)
    { }
    ~XlsxReader() override
    {
        m_sheet.reset();
        if (m_archive)
            zip_discard(m_archive);
    }

    bool open(QString *error)
    {
        m_size = QFileInfo(m_path).size();
        int code = 0;
        m_archive = zip_open(QFile::encodeName(m_path).constData(), ZIP_RDONLY, &code);
        if (!m_archive) {
            *error = u"不是 Excel 工作簿（.xlsx），或者文件已损坏"_s;
            return false;
        }
        if (!checkNames(error))
            return false;
        QString sheetPath = u"xl/worksheets/sheet1.xml"_s;
        QString stringsPath = u"xl/sharedStrings.xml"_s;
        if (!readWorkbook(&sheetPath, &stringsPath, error)
            || !readSharedStrings(stringsPath, error))
            return false;
        m_sheet = openEntry(sheetPath, error);
        if (!m_sheet)
            return false;
        m_xml.setDevice(m_sheet.get());
        return true;
    }

    bool next(Row *row) override
    {
        if (!m_error.isEmpty())
            return false;
        Row current;
        qint64 lastRow = m_lastRow;
        int column = -1;
        bool inValue = false, inInline = false, hasFormula = false, hasValue = false;
        QString type, value;
        while (!m_xml.atEnd()) {
            const QXmlStreamReader::TokenType token = m_xml.readNext();
            if (token == QXmlStreamReader::StartElement) {
                const QStringView name = m_xml.name();
                if (name == u"row") {
                    bool ok = false;
                    const qint64 number
                        = m_xml.attributes().value(QLatin1String("r")).toLongLong(&ok);
                    current = Row {ok ? number : lastRow + 1, {}};
                    column = -1;
                } else if (name == u"c") {
                    const int named = columnOf(m_xml.attributes().value(QLatin1String("r")));
                    column = named >= 0 ? named : column + 1;
                    type = m_xml.attributes().value(QLatin1String("t")).toString();
                    value.clear();
                    hasFormula = hasValue = false;
                } else if (name == u"f") {
                    hasFormula = true;
                } else if (name == u"v") {
                    inValue = true;
                    hasValue = true;
                } else if (name == u"is") {
                    inInline = true;
                    hasValue = true;
                } else if (name == u"rPh") {
                    m_xml.skipCurrentElement(); // the reading of the text, not the text
                } else if (name == u"t" && inInline) {
                    value += m_xml.readElementText(QXmlStreamReader::IncludeChildElements);
                }
            } else if (token == QXmlStreamReader::Characters && inValue) {
                value += m_xml.text();
            } else if (token == QXmlStreamReader::EndElement) {
                const QStringView name = m_xml.name();
                if (name == u"v") {
                    inValue = false;
                } else if (name == u"is") {
                    inInline = false;
                } else if (name == u"c") {
                    if (value.size() > cellSizeLimit) {
                        m_error = u"第 %1 行有一个单元格超过 %2，不能导入"_s.arg(current.number)
                                      .arg(megabytes(cellSizeLimit));
                        return false;
                    }
                    const Cell made = makeCell(type, value, hasFormula, hasValue);
                    if (made.kind != Cell::Kind::Empty && column >= 0 && column < 16384) {
                        if (current.cells.size() <= column)
                            current.cells.resize(column + 1);
                        current.cells[column] = made;
                    }
                } else if (name == u"row") {
                    m_lastRow = lastRow = current.number;
                    if (!current.cells.isEmpty()) {
                        *row = std::move(current);
                        return true;
                    }
                } else if (name == u"sheetData") {
                    return false;
                }
            }
            if (m_xml.hasError())
                break;
        }
        if (!m_sheet->failure().isEmpty())
            m_error = m_sheet->failure();
        else if (m_xml.hasError())
            m_error = u"工作表无法读取（第 %1 行附近）：%2"_s.arg(m_lastRow + 1)
                          .arg(m_xml.errorString());
        return false;
    }

    QString error() const override { return m_error; }
    qint64 position() const override
    {
        // Unpacked bytes against the packed file: a guess that keeps moving.
        return m_sheet ? std::min(m_size, m_sheet->unpacked() / 8) : 0;
    }
    qint64 size() const override { return m_size; }
    bool countsFrom1904() const override { return m_1904; }

private:
    Cell makeCell(const QString &type, const QString &value, bool hasFormula, bool hasValue)
    {
        if (hasFormula && (!hasValue || (value.isEmpty() && type != u"str"_s)))
            return {Cell::Kind::Error, u"公式没有计算结果"_s};
        if (!hasValue)
            return {};
        if (type == u"s"_s) {
            bool ok = false;
            const qsizetype index = value.toLongLong(&ok);
            if (!ok || index < 0 || index >= m_strings.size())
                return {Cell::Kind::Error, u"共享字符串不存在"_s};
            return {Cell::Kind::Text, m_strings.at(index)};
        }
        if (type == u"inlineStr"_s || type == u"str"_s || type == u"d"_s)
            return {Cell::Kind::Text, decodeEscapes(value)};
        if (type == u"b"_s)
            return {Cell::Kind::Text, value == u"1"_s ? u"TRUE"_s : u"FALSE"_s};
        if (type == u"e"_s)
            return {Cell::Kind::Error, u"错误值 %1"_s.arg(value)};
        return {value.isEmpty() ? Cell::Kind::Empty : Cell::Kind::Number, value.trimmed()};
    }

    // Two parts of one name: which of them a program reads is its own choice, so the
    // workbook could show one sheet in Excel and import another. Part names are alike in
    // any ASCII letter case in a workbook's package, so those are the same name too.
    bool checkNames(QString *error)
    {
        const zip_int64_t count = zip_get_num_entries(m_archive, 0);
        QSet<QByteArray> seen;
        for (zip_int64_t i = 0; i < count; ++i) {
            const char *name = zip_get_name(m_archive, zip_uint64_t(i), 0);
            if (!name)
                continue;
            const QByteArray folded = QByteArray(name).toLower();
            if (seen.contains(folded)) {
                *error = u"工作簿中有两个部分同名（%1）：文件已损坏或被改动过，不能导入"_s.arg(
                    QString::fromUtf8(name));
                return false;
            }
            seen.insert(folded);
        }
        return true;
    }

    std::unique_ptr<ZipEntry> openEntry(const QString &name, QString *error, bool optional = false)
    {
        const QByteArray encoded = name.toUtf8();
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat(m_archive, encoded.constData(), 0, &stat) != 0) {
            if (!optional)
                *error = u"工作簿中没有 %1：不是 Excel 工作簿（.xlsx），或者文件已损坏"_s.arg(name);
            return nullptr;
        }
        // The size the archive's directory declares for the part is not looked at: it
        // can be too large as well as too small (libzip unpacks what is there either way),
        // so only the bytes the part really unpacks to are held against the limit.
        const qint64 packed = (stat.valid & ZIP_STAT_COMP_SIZE) ? qint64(stat.comp_size) : 0;
        const qint64 limit = std::min(unpackedSizeLimit - m_unpacked,
                                      std::max(ratioFreeSize, packed * packingRatioLimit));
        zip_file_t *file = zip_fopen(m_archive, encoded.constData(), 0);
        if (!file) {
            *error = u"工作簿中的 %1 无法解压（加密或已损坏）"_s.arg(name);
            return nullptr;
        }
        return std::make_unique<ZipEntry>(file, limit, name);
    }

    bool finishPart(ZipEntry &entry, QXmlStreamReader &xml, QString *error)
    {
        m_unpacked += entry.unpacked();
        if (!entry.failure().isEmpty()) {
            *error = entry.failure();
            return false;
        }
        if (xml.hasError()) {
            *error = u"工作簿中的 %1 无法读取：%2"_s.arg(entry.name(), xml.errorString());
            return false;
        }
        return true;
    }

    static QString partPath(const QString &target)
    {
        if (target.startsWith(u'/'))
            return target.mid(1);
        return QDir::cleanPath(u"xl/"_s + target);
    }

    // The first sheet and the shared strings, as the workbook names them.
    bool readWorkbook(QString *sheetPath, QString *stringsPath, QString *error)
    {
        QString sheetId;
        if (std::unique_ptr<ZipEntry> entry = openEntry(u"xl/workbook.xml"_s, error)) {
            QXmlStreamReader xml(entry.get());
            while (!xml.atEnd()) {
                if (xml.readNext() != QXmlStreamReader::StartElement)
                    continue;
                if (xml.name() == u"workbookPr") {
                    const QStringView date1904 = xml.attributes().value(QLatin1String("date1904"));
                    m_1904 = date1904 == u"1" || date1904 == u"true";
                } else if (xml.name() == u"sheet" && sheetId.isEmpty()) {
                    for (const QXmlStreamAttribute &attribute : xml.attributes()) {
                        if (attribute.name() == u"id")
                            sheetId = attribute.value().toString();
                    }
                }
            }
            if (!finishPart(*entry, xml, error))
                return false;
        } else {
            return false;
        }
        std::unique_ptr<ZipEntry> rels = openEntry(u"xl/_rels/workbook.xml.rels"_s, error, true);
        if (!rels)
            return error->isEmpty();
        QXmlStreamReader xml(rels.get());
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != u"Relationship")
                continue;
            const QXmlStreamAttributes attributes = xml.attributes();
            const QString target = attributes.value(QLatin1String("Target")).toString();
            if (attributes.value(QLatin1String("Id")) == sheetId && !sheetId.isEmpty())
                *sheetPath = partPath(target);
            else if (attributes.value(QLatin1String("Type")).endsWith(u"/sharedStrings"))
                *stringsPath = partPath(target);
        }
        return finishPart(*rels, xml, error);
    }

    bool readSharedStrings(const QString &path, QString *error)
    {
        std::unique_ptr<ZipEntry> entry = openEntry(path, error, true);
        if (!entry)
            return error->isEmpty(); // a workbook without shared strings
        QXmlStreamReader xml(entry.get());
        QString current;
        int depth = 0;
        while (!xml.atEnd()) {
            const QXmlStreamReader::TokenType token = xml.readNext();
            if (token == QXmlStreamReader::StartElement) {
                if (xml.name() == u"si") {
                    current.clear();
                    depth = 1;
                } else if (xml.name() == u"rPh") {
                    xml.skipCurrentElement();
                } else if (xml.name() == u"t" && depth > 0) {
                    current += xml.readElementText(QXmlStreamReader::IncludeChildElements);
                    if (current.size() > cellSizeLimit) {
                        *error = u"工作簿中有一个单元格超过 %1，不能导入"_s.arg(
                            megabytes(cellSizeLimit));
                        return false;
                    }
                }
            } else if (token == QXmlStreamReader::EndElement && xml.name() == u"si") {
                m_strings.append(decodeEscapes(current));
                depth = 0;
            }
        }
        return finishPart(*entry, xml, error);
    }

    QString m_path;
    qint64 m_size = 0;
    zip_t *m_archive = nullptr;
    qint64 m_unpacked = 0;
    bool m_1904 = false;
    QStringList m_strings;
    std::unique_ptr<ZipEntry> m_sheet;
    QXmlStreamReader m_xml;
    qint64 m_lastRow = 0;
    QString m_error;
};

} // namespace

std::unique_ptr<ImportFile::Reader> ImportFile::open(const QString &path, QString *error)
{
    const QFileInfo info(path);
    const QString name = QDir::toNativeSeparators(path);
    if (!info.isFile()) {
        *error = info.exists() ? u"%1 不是文件"_s.arg(name) : u"文件不存在：%1"_s.arg(name);
        return nullptr;
    }
    if (info.size() > fileSizeLimit) {
        *error = u"%1 超过 %2，不能导入"_s.arg(name, megabytes(fileSizeLimit));
        return nullptr;
    }
    const QString suffix = info.suffix().toLower();
    QString reason;
    if (suffix == u"csv"_s) {
        auto reader = std::make_unique<CsvReader>(path);
        if (reader->open(&reason))
            return reader;
    } else if (suffix == u"xlsx"_s) {
        auto reader = std::make_unique<XlsxReader>(path);
        if (reader->open(&reason))
            return reader;
    } else {
        reason = u"只能导入 .csv、.xlsx 或 .db 文件"_s;
    }
    *error = u"无法导入 %1：%2"_s.arg(name, reason);
    return nullptr;
}
