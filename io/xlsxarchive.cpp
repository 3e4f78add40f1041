// SPDX-License-Identifier: GPL-3.0-or-later
#include "xlsxarchive.h"

#include <minizip/zip.h>
#include <xlsxwriter.h>
#include <xlsxwriter/packager.h>
#include <xlsxwriter/xmlwriter.h>

#include <zlib.h>

#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

// The library reaches minizip, and its own sheet writer, through the dynamic linker, so a
// definition in the program comes first; each one below hands its call on to the library's
// (dlsym with RTLD_NEXT) unless it has something of its own to do.

namespace {

template<typename Function>
Function next(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

using Write = int (*)(zipFile, const void *, unsigned);

Write minizipWrite()
{
    static const Write write = next<Write>("zipWriteInFileInZip");
    return write;
}

// One stretch of the sheet's text compressed on its own as a piece of one deflate stream:
// it may refer back into the 32 KiB before it, ends on a byte boundary (a sync flush), and
// only the last piece closes the stream. Pieces so made, laid end to end, are one ordinary
// deflate stream, so two of them can be made at once on two cores.
struct Piece
{
    std::vector<char> text;
    std::vector<unsigned char> compressed;
    uLong crc = 0;
    bool ok = false;

    void compress(const char *window, size_t windowSize, bool last)
    {
        crc = crc32(0, reinterpret_cast<const Bytef *>(text.data()), uInt(text.size()));
        z_stream stream {};
        if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY)
            != Z_OK)
            return;
        if (windowSize)
            deflateSetDictionary(&stream, reinterpret_cast<const Bytef *>(window),
                                 uInt(windowSize));
        // Room for the worst case, the flush's empty block and the stream's end.
        compressed.resize(deflateBound(&stream, uLong(text.size())) + 16);
        stream.next_in = reinterpret_cast<Bytef *>(text.data());
        stream.avail_in = uInt(text.size());
        stream.next_out = compressed.data();
        stream.avail_out = uInt(compressed.size());
        const int result = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
        ok = (last ? result == Z_STREAM_END : result == Z_OK) && stream.avail_in == 0
            && stream.avail_out > 0;
        compressed.resize(compressed.size() - stream.avail_out);
        deflateEnd(&stream);
    }
};

// The sheet's part compressed at zlib's fastest level, a pair of pieces at a time.
class SheetDeflate
{
public:
    static constexpr size_t pieceSize = size_t(1) << 20;
    static constexpr size_t windowSize = size_t(1) << 15;

    SheetDeflate(zipFile archive)
        : m_archive(archive)
    {
        for (Piece &piece : m_pieces)
            piece.text.reserve(pieceSize);
    }

    int add(const char *bytes, size_t size)
    {
        while (size > 0) {
            Piece &piece = m_pieces[m_filling];
            const size_t taken = std::min(size, pieceSize - piece.text.size());
            piece.text.insert(piece.text.end(), bytes, bytes + taken);
            bytes += taken;
            size -= taken;
            if (piece.text.size() == pieceSize && ++m_filling == m_pieces.size()) {
                if (const int written = flush(false); written != ZIP_OK)
                    return written;
            }
        }
        return ZIP_OK;
    }

    // Text compressed elsewhere as a piece of the stream, after what was added so far:
    // `size` bytes of text whose CRC is `crc` and whose last 32 KiB are `window`, already
    // `compressed` (ending on a byte boundary, the stream not closed).
    int addCompressed(FILE *compressed, ZPOS64_T size, uLong crc, std::vector<char> window)
    {
        if (!m_pieces[0].text.empty()) {
            if (const int written = flush(false); written != ZIP_OK)
                return written;
        }
        const Write write = minizipWrite();
        std::vector<char> buffer(size_t(1) << 18);
        if (std::fflush(compressed) != 0 || std::fseek(compressed, 0, SEEK_SET) != 0)
            return ZIP_ERRNO;
        for (;;) {
            const size_t read = std::fread(buffer.data(), 1, buffer.size(), compressed);
            if (read > 0) {
                if (const int written = write(m_archive, buffer.data(), unsigned(read));
                    written != ZIP_OK)
                    return written;
            }
            if (read < buffer.size()) {
                if (std::ferror(compressed))
                    return ZIP_ERRNO;
                break;
            }
        }
        m_crc = crc32_combine(m_crc, crc, z_off_t(size));
        m_size += size;
        m_window = std::move(window);
        return ZIP_OK;
    }

    // The pieces still held, the last closing the stream.
    int finish() { return flush(true); }

    uLong crc() const { return m_crc; }
    ZPOS64_T size() const { return m_size; }

private:
    int flush(bool last)
    {
        Piece &first = m_pieces[0];
        Piece &second = m_pieces[1];
        const bool both = !second.text.empty();
        {
            // The first piece refers back into the text before it, the second into the
            // first's end.
            std::jthread other;
            if (both) {
                const size_t window = std::min(windowSize, first.text.size());
                other = std::jthread([&second, &first, window, last] {
                    second.compress(first.text.data() + first.text.size() - window, window, last);
                });
            }
            first.compress(m_window.data(), m_window.size(), last && !both);
        }
        const Write write = minizipWrite();
        for (Piece *piece : {&first, &second}) {
            if (piece == &second && !both)
                break;
            if (!piece->ok)
                return ZIP_INTERNALERROR;
            if (const int written
                = write(m_archive, piece->compressed.data(), unsigned(piece->compressed.size()));
                written != ZIP_OK)
                return written;
            m_crc = crc32_combine(m_crc, piece->crc, z_off_t(piece->text.size()));
            m_size += piece->text.size();
        }
        // A piece short of full is the last, or text compressed elsewhere follows it with a
        // window of its own.
        const Piece &end = both ? second : first;
        const size_t window = std::min(windowSize, end.text.size());
        m_window.assign(end.text.end() - std::ptrdiff_t(window), end.text.end());
        first.text.clear();
        second.text.clear();
        m_filling = 0;
        return ZIP_OK;
    }

    zipFile m_archive;
    std::array<Piece, 2> m_pieces;
    size_t m_filling = 0;
    std::vector<char> m_window;
    uLong m_crc = crc32(0, nullptr, 0);
    ZPOS64_T m_size = 0;
};

// Compresses a sheet's rows on a thread of its own while the library is still writing them
// to their scratch file, a whole megabyte at a time as each is written, so that little is
// left for the close. It reads through the file's descriptor at given offsets, and never
// moves the file's own position or touches its buffer, which belong to the writing thread.
class RowsFollower
{
public:
    struct Followed
    {
        bool ok = false;
        FILE *compressed = nullptr; // the stream so far, ending on a byte boundary
        ZPOS64_T size = 0; // how much of the rows it holds, from the start
        uLong crc = 0;
        std::vector<char> window; // their last 32 KiB
    };

    explicit RowsFollower(int descriptor)
        : m_descriptor(descriptor)
    {
        m_done.crc = crc32(0, nullptr, 0);
        m_done.compressed = std::tmpfile();
        if (!m_done.compressed
            || deflateInit2(&m_stream, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY)
                != Z_OK) {
            // Nothing followed: the close compresses every row.
            if (m_done.compressed)
                std::fclose(m_done.compressed);
            m_done.compressed = nullptr;
            m_done.ok = true;
            return;
        }
        m_streaming = true;
        m_thread = std::jthread([this](std::stop_token stop) { run(stop); });
    }

    ~RowsFollower()
    {
        m_thread = {};
        if (m_streaming)
            deflateEnd(&m_stream);
        if (m_done.compressed)
            std::fclose(m_done.compressed);
    }

    // How much of the rows it has compressed so far.
    ZPOS64_T followed() const { return m_followed; }

    // Stops it once the piece at hand is done; what it compressed, now the caller's.
    Followed stop()
    {
        m_thread = {};
        Followed done = std::move(m_done);
        m_done = {};
        return done;
    }

private:
    void run(std::stop_token stop)
    {
        // It has the time the writing thread and the reading thread leave.
        setpriority(PRIO_PROCESS, 0, 10);
        std::vector<char> text(SheetDeflate::pieceSize);
        std::vector<unsigned char> compressed(deflateBound(&m_stream, uLong(text.size())) + 64);
        bool ok = true;
        while (ok && !stop.stop_requested()) {
            struct stat status = {};
            if (fstat(m_descriptor, &status) != 0) {
                ok = false;
                break;
            }
            if (ZPOS64_T(status.st_size) - m_done.size < text.size()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            size_t read = 0;
            while (read < text.size()) {
                const ssize_t got = pread(m_descriptor, text.data() + read, text.size() - read,
                                          off_t(m_done.size + read));
                if (got < 0 && errno == EINTR)
                    continue;
                if (got <= 0)
                    break;
                read += size_t(got);
            }
            ok = read == text.size() && compress(text.data(), read, Z_NO_FLUSH, compressed);
            if (ok) {
                m_done.crc
                    = crc32(m_done.crc, reinterpret_cast<const Bytef *>(text.data()), uInt(read));
                m_done.size += read;
                m_followed = m_done.size;
                m_done.window.assign(text.end() - std::ptrdiff_t(SheetDeflate::windowSize),
                                     text.end());
            }
        }
        // The stream so far ends on a byte boundary, for the rest to follow it.
        m_done.ok = ok && compress(nullptr, 0, Z_SYNC_FLUSH, compressed)
            && std::fflush(m_done.compressed) == 0;
    }

    bool compress(const char *text, size_t size, int flush, std::vector<unsigned char> &out)
    {
        m_stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text));
        m_stream.avail_in = uInt(size);
        do {
            m_stream.next_out = out.data();
            m_stream.avail_out = uInt(out.size());
            if (deflate(&m_stream, flush) == Z_STREAM_ERROR)
                return false;
            const size_t made = out.size() - m_stream.avail_out;
            if (made && std::fwrite(out.data(), 1, made, m_done.compressed) != made)
                return false;
        } while (m_stream.avail_out == 0);
        return m_stream.avail_in == 0;
    }

    int m_descriptor;
    z_stream m_stream {};
    bool m_streaming = false;
    Followed m_done;
    std::atomic<ZPOS64_T> m_followed = 0;
    std::jthread m_thread;
};

// The rows of one sheet on their way into the archive, on the thread closing the workbook.
struct Rows
{
    bool wanted = false; // an XlsxRowsInPlace lives on this thread
    int moved = 0;
    FILE *file = nullptr; // the rows' scratch file, taken over from the library
    bool unwritten = false; // the scratch file lost some of them
    long long at = -1; // where the rows belong in the sheet's part, -1 once there
    long long passed = 0; // how much of the part the library has handed over so far
    int failed = ZIP_OK; // the first failure while the part was written
    std::unique_ptr<SheetDeflate> part; // the sheet's part, open in the archive
    std::unique_ptr<RowsFollower> follower; // compressing the rows as they are written

    void drop()
    {
        // Stopped before the file it reads is closed.
        follower.reset();
        if (file)
            std::fclose(file);
        file = nullptr;
        unwritten = false;
        at = -1;
        passed = 0;
        failed = ZIP_OK;
        part.reset();
    }
};

thread_local Rows rows;

// The rows into the sheet's part: those compressed while they were written as they are,
// the rest from their scratch file.
int addRows()
{
    if (rows.unwritten || std::fflush(rows.file) != 0)
        return ZIP_ERRNO;
    ZPOS64_T from = 0;
    if (rows.follower) {
        RowsFollower::Followed followed = rows.follower->stop();
        rows.follower.reset();
        int added = followed.ok ? ZIP_OK : ZIP_ERRNO;
        if (followed.ok && followed.compressed)
            added = rows.part->addCompressed(followed.compressed, followed.size, followed.crc,
                                             std::move(followed.window));
        if (followed.compressed)
            std::fclose(followed.compressed);
        if (added != ZIP_OK)
            return added;
        from = followed.size;
    }
    if (fseeko(rows.file, off_t(from), SEEK_SET) != 0)
        return ZIP_ERRNO;
    std::vector<char> buffer(size_t(1) << 18);
    for (;;) {
        const size_t read = std::fread(buffer.data(), 1, buffer.size(), rows.file);
        if (const int added = rows.part->add(buffer.data(), read); added != ZIP_OK)
            return added;
        if (read < buffer.size())
            return std::ferror(rows.file) ? ZIP_ERRNO : ZIP_OK;
    }
}

} // namespace

XlsxRowsInPlace::XlsxRowsInPlace()
{
    rows.drop();
    rows.moved = 0;
    rows.wanted = true;
}

XlsxRowsInPlace::~XlsxRowsInPlace()
{
    // A workbook whose archive failed part way leaves the scratch file here.
    rows.drop();
    rows.wanted = false;
}

void XlsxRowsInPlace::follow(lxw_worksheet *sheet)
{
    if (sheet && sheet->optimize_tmpfile && !rows.follower && !rows.file)
        rows.follower = std::make_unique<RowsFollower>(fileno(sheet->optimize_tmpfile));
}

long long XlsxRowsInPlace::rowsFollowed() const
{
    return rows.follower ? (long long)rows.follower->followed() : 0;
}

int XlsxRowsInPlace::sheetsMoved() const
{
    return rows.moved;
}

// The library calls this while it assembles a constant-memory sheet, to copy the rows from
// their scratch file into the sheet's own. In place, it writes the sheetData element around
// nothing, and keeps the scratch file and where its rows belong for when the sheet's part is
// compressed, which follows at once.
extern "C" void _worksheet_write_optimized_sheet_data(lxw_worksheet *self)
{
    using Assemble = void (*)(lxw_worksheet *);
    static const Assemble library = next<Assemble>("_worksheet_write_optimized_sheet_data");
    if (!rows.wanted || rows.file || self->dim_rowmin == LXW_ROW_MAX || !self->optimize_tmpfile
        || !self->file) {
        // The library closes the scratch file: whatever follows it stops first.
        rows.follower.reset();
        if (library)
            library(self);
        return;
    }
    lxw_xml_start_tag(self->file, "sheetData", nullptr);
    // The library closes the scratch file here; it is closed once its rows are archived.
    rows.file = self->optimize_tmpfile;
    rows.unwritten = std::fflush(rows.file) != 0 || std::ferror(rows.file);
    rows.at = ftello(self->file);
    if (rows.at < 0)
        rows.unwritten = true;
    lxw_xml_end_tag(self->file, "sheetData");
}

// The library writes each part of a workbook to a scratch file of its own and adds that to
// the archive without looking whether every write went through: on a full disk it would
// archive a part cut short, and report success. Such a part fails the workbook instead.
extern "C" lxw_error _add_file_to_zip(lxw_packager *self, FILE *file, const char *filename)
{
    using Add = lxw_error (*)(lxw_packager *, FILE *, const char *);
    static const Add library = next<Add>("_add_file_to_zip");
    if (!library)
        return LXW_ERROR_ZIP_FILE_ADD;
    if (file && (std::fflush(file) != 0 || std::ferror(file)))
        return LXW_ERROR_ZIP_FILE_ADD;
    return library(self, file, filename);
}

// libxlsxwriter adds each part of a workbook to its archive at zlib's default level and lets
// no caller choose another. The sheet of a long list is almost all of the file and of its
// writing time, and zlib's fastest level compresses its repetitive XML nearly as well (7.4 MB
// where the default level gives 6.2 MB, for 100,000 receipts) in under half the time. So each
// part is opened at that level; every other argument passes unchanged, and an archive at any
// level is an ordinary one. A sheet whose rows are taken in place is compressed here, on
// two cores, so its part is opened raw.
extern "C" int zipOpenNewFileInZip4_64(zipFile file, const char *filename,
                                       const zip_fileinfo *zipfi, const void *extrafield_local,
                                       uInt size_extrafield_local, const void *extrafield_global,
                                       uInt size_extrafield_global, const char *comment, int method,
                                       int level, int raw, int windowBits, int memLevel,
                                       int strategy, const char *password, uLong crcForCrypting,
                                       uLong versionMadeBy, uLong flagBase, int zip64)
{
    using Open = decltype(&zipOpenNewFileInZip4_64);
    static const Open minizip = next<Open>("zipOpenNewFileInZip4_64");
    if (!minizip)
        return ZIP_INTERNALERROR;
    if (method == Z_DEFLATED && level != 0)
        level = Z_BEST_SPEED;
    // The part the library opens right after assembling a sheet is that sheet's.
    const bool sheet
        = rows.file && !rows.part && rows.at >= 0 && method == Z_DEFLATED && !raw && !password;
    const int opened
        = minizip(file, filename, zipfi, extrafield_local, size_extrafield_local, extrafield_global,
                  size_extrafield_global, comment, method, level, sheet ? 1 : raw, windowBits,
                  memLevel, strategy, password, crcForCrypting, versionMadeBy, flagBase, zip64);
    if (opened == ZIP_OK && sheet) {
        rows.part = std::make_unique<SheetDeflate>(file);
        rows.passed = 0;
    }
    return opened;
}

// The sheet's part as the library reads it back from its file, with the rows put where
// the sheetData element is empty.
extern "C" int zipWriteInFileInZip(zipFile file, const void *buf, unsigned len)
{
    const Write write = minizipWrite();
    if (!write)
        return ZIP_INTERNALERROR;
    if (!rows.part)
        return write(file, buf, len);
    const auto *bytes = static_cast<const char *>(buf);
    int added = ZIP_OK;
    if (rows.at < 0 || rows.at > rows.passed + len) {
        added = rows.part->add(bytes, len);
    } else {
        const auto before = size_t(rows.at - rows.passed);
        added = rows.part->add(bytes, before);
        if (added == ZIP_OK)
            added = addRows();
        if (added == ZIP_OK)
            added = rows.part->add(bytes + before, len - before);
        rows.at = -1;
    }
    rows.passed += len;
    if (rows.failed == ZIP_OK)
        rows.failed = added;
    return added;
}

extern "C" int zipCloseFileInZip(zipFile file)
{
    using Close = int (*)(zipFile);
    static const Close minizip = next<Close>("zipCloseFileInZip");
    using CloseRaw = int (*)(zipFile, ZPOS64_T, uLong);
    static const CloseRaw minizipRaw = next<CloseRaw>("zipCloseFileInZipRaw64");
    if (!minizip || !minizipRaw)
        return ZIP_INTERNALERROR;
    if (!rows.part)
        return minizip(file);
    // Rows that belong at the very end of the part go in now; a part that ended before
    // their place is not the sheet it was taken for, and fails.
    int added = rows.failed;
    if (added == ZIP_OK && rows.at >= 0)
        added = rows.at == rows.passed ? addRows() : ZIP_INTERNALERROR;
    if (added == ZIP_OK)
        added = rows.part->finish();
    const uLong crc = rows.part->crc();
    const ZPOS64_T size = rows.part->size();
    if (added == ZIP_OK)
        ++rows.moved;
    rows.drop();
    const int closed = minizipRaw(file, size, crc);
    return added == ZIP_OK ? closed : added;
}
