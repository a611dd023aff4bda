// Reading the package: archives come from a network share, so every field is checked against
// the buffer, every name against the target folder, every password before a file is created,
// and every file against its CRC before it replaces anything.
#include "backup/zip_cryptor.h"
#include "backup/zip_format.h"
#include "backup/zip_package.h"
#include "platform/code_page.h"

#define ZLIB_CONST
#include <zlib.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QStorageInfo>
#include <QStringDecoder>

#include <QScopeGuard>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace yunshan {
namespace {

using namespace zipfmt;

constexpr std::size_t kInputChunk = 1 << 20;
constexpr std::size_t kOutputChunk = 1 << 20;

struct Entry {
    QString name;     // as stored, decoded
    QString relative; // checked relative path, "/" separated, without a trailing "/"
    bool is_folder = false;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t dos_time = 0;
    std::uint16_t dos_date = 0;
    std::uint32_t crc = 0;
    std::uint32_t compressed_size = 0;
    std::uint32_t uncompressed_size = 0;
    qsizetype header_offset = 0; // local header
    qsizetype data_offset = 0;   // first byte after the local header (encryption header, if any)

    bool encrypted() const { return flags & kFlagEncrypted; }
};

[[noreturn]] void fail(const QString &message, ArchiveError::Kind kind = ArchiveError::Kind::Damaged)
{
    throw ArchiveError(message, kind);
}

constexpr ArchiveError::Kind kLocalFile = ArchiveError::Kind::LocalFile;

[[noreturn]] void fail_damaged(const QString &detail)
{
    fail(QStringLiteral("The archive is damaged: %1").arg(detail));
}

[[noreturn]] void fail_wrong_password()
{
    throw ArchiveError(std::string(kWrongPasswordMessage), ArchiveError::Kind::WrongPassword);
}

class Reader {
  public:
    explicit Reader(const QByteArray &archive)
        : data_(reinterpret_cast<const unsigned char *>(archive.constData())), size_(archive.size())
    {
    }
    // Over a mapped file: `release` hands back the pages of a range that has been read.
    Reader(const unsigned char *data, qsizetype size, std::function<void(qsizetype, qsizetype)> release)
        : data_(data), size_(size), release_(std::move(release))
    {
    }

    // The range will not be read again (entry data streams through once).
    void release(qsizetype offset, qsizetype length) const
    {
        if (release_ && length > 0)
            release_(offset, length);
    }

    // Whether [offset, offset + length) lies inside the buffer.
    bool fits(qsizetype offset, qsizetype length) const
    {
        return offset >= 0 && length >= 0 && offset <= size_ && length <= size_ - offset;
    }
    const unsigned char *at(qsizetype offset) const { return data_ + offset; }
    qsizetype size() const { return size_; }

  private:
    const unsigned char *data_;
    qsizetype size_;
    std::function<void(qsizetype, qsizetype)> release_;
};

bool valid_utf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    (void)decoder.decode(bytes);
    return !decoder.hasError();
}

bool plain_ascii(const QByteArray &bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Unflagged names come from Linux tools (UTF-8) and from Chinese Windows tools (code page 936).
// Many two-byte GBK characters also form valid two-byte UTF-8 sequences (U+0080..U+07FF: Latin,
// Greek, Cyrillic, ...), while Chinese text in UTF-8 takes three bytes per character; so bytes
// count as UTF-8 only when valid and free of two-byte sequences.
bool looks_like_utf8(const QByteArray &bytes)
{
    if (!valid_utf8(bytes))
        return false;
    const QString text = QString::fromUtf8(bytes);
    return std::none_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x80 && c.unicode() < 0x800; });
}

// The name of an entry: UTF-8 when flagged; otherwise a Unicode path field that belongs to this
// name, then UTF-8 when the bytes look like it, else code page 936.
QString decode_name(const QByteArray &raw, std::uint16_t flags, const unsigned char *extra, std::size_t extra_size)
{
    if (flags & kFlagUtf8Name) {
        if (!valid_utf8(raw))
            fail_damaged(QStringLiteral("an entry name is not valid UTF-8"));
        return QString::fromUtf8(raw);
    }
    if (plain_ascii(raw))
        return QString::fromLatin1(raw);
    std::size_t pos = 0;
    while (pos + 4 <= extra_size) {
        const std::uint16_t id = get16(extra + pos);
        const std::uint16_t len = get16(extra + pos + 2);
        if (pos + 4 + len > extra_size)
            break;
        const unsigned char *field = extra + pos + 4;
        if (id == kExtraUnicodePath && len >= 5 && field[0] == 1) {
            const uLong name_crc =
                crc32(0, reinterpret_cast<const Bytef *>(raw.constData()), static_cast<uInt>(raw.size()));
            const QByteArray utf8(reinterpret_cast<const char *>(field + 5), len - 5);
            if (get32(field + 1) == static_cast<std::uint32_t>(name_crc) && valid_utf8(utf8))
                return QString::fromUtf8(utf8);
        }
        pos += 4 + len;
    }
    if (looks_like_utf8(raw))
        return QString::fromUtf8(raw);
    return ansi_to_unicode(raw);
}

// The entry name as a path below the target folder, or an error when it could leave it:
// absolute paths, drive letters and other colons, ".." components, control characters.
// Backslashes count as separators, as they do on Windows.
QString checked_relative_path(const QString &name, bool &is_folder)
{
    const auto refuse = [&name]() -> QString {
        fail(QStringLiteral("The archive contains an unsafe entry name: \"%1\"").arg(name));
    };
    QString path = name;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.contains(QLatin1Char(':')))
        return refuse();
    for (const QChar c : path) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return refuse();
    }
    is_folder = path.endsWith(QLatin1Char('/'));
    QStringList parts;
    for (const QString &part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".."))
            return refuse();
        if (part != QLatin1String("."))
            parts.append(part);
    }
    if (parts.isEmpty())
        return refuse();
    return parts.join(QLatin1Char('/'));
}

qsizetype find_end_record(const Reader &in)
{
    if (in.size() < static_cast<qsizetype>(kEndRecordSize))
        fail(QStringLiteral("The data is not a ZIP archive"));
    const qsizetype last = in.size() - static_cast<qsizetype>(kEndRecordSize);
    const qsizetype first = std::max<qsizetype>(0, last - 0xFFFF);
    for (qsizetype pos = last; pos >= first; --pos) {
        const unsigned char *p = in.at(pos);
        if (get32(p) == kEndSignature && get16(p + 20) <= in.size() - pos - static_cast<qsizetype>(kEndRecordSize))
            return pos;
    }
    fail(QStringLiteral("The data is not a ZIP archive, or the archive is truncated"));
}

std::vector<Entry> read_directory(const Reader &in)
{
    const qsizetype end_pos = find_end_record(in);
    const unsigned char *end = in.at(end_pos);
    const std::uint16_t disk = get16(end + 4);
    const std::uint16_t central_disk = get16(end + 6);
    const std::uint16_t entries_here = get16(end + 8);
    const std::uint16_t entries_total = get16(end + 10);
    const std::uint32_t central_size = get32(end + 12);
    const std::uint32_t central_offset = get32(end + 16);

    const bool zip64_locator =
        end_pos >= static_cast<qsizetype>(kZip64LocatorSize) &&
        get32(in.at(end_pos - static_cast<qsizetype>(kZip64LocatorSize))) == kZip64LocatorSignature;
    if (zip64_locator || entries_total == 0xFFFF || central_size == 0xFFFFFFFFu || central_offset == 0xFFFFFFFFu)
        fail(QStringLiteral("ZIP64 archives are not supported"));
    if (disk != 0 || central_disk != 0 || entries_here != entries_total)
        fail(QStringLiteral("Archives split over several parts are not supported"));
    if (static_cast<qsizetype>(central_offset) + static_cast<qsizetype>(central_size) > end_pos)
        fail_damaged(QStringLiteral("the central directory lies outside the archive"));

    std::vector<Entry> entries;
    entries.reserve(entries_total);
    const qsizetype central_end = static_cast<qsizetype>(central_offset) + central_size;
    qsizetype pos = central_offset;
    for (int i = 0; i < entries_total; ++i) {
        if (pos + static_cast<qsizetype>(kCentralHeaderSize) > central_end || get32(in.at(pos)) != kCentralSignature)
            fail_damaged(QStringLiteral("bad central directory record"));
        const unsigned char *c = in.at(pos);
        Entry e;
        e.flags = get16(c + 8);
        e.method = get16(c + 10);
        e.dos_time = get16(c + 12);
        e.dos_date = get16(c + 14);
        e.crc = get32(c + 16);
        e.compressed_size = get32(c + 20);
        e.uncompressed_size = get32(c + 24);
        const std::uint16_t name_size = get16(c + 28);
        const std::uint16_t extra_size = get16(c + 30);
        const std::uint16_t comment_size = get16(c + 32);
        const std::uint16_t start_disk = get16(c + 34);
        const std::uint32_t local_offset = get32(c + 42);
        const qsizetype record_end =
            pos + static_cast<qsizetype>(kCentralHeaderSize) + name_size + extra_size + comment_size;
        if (record_end > central_end)
            fail_damaged(QStringLiteral("bad central directory record"));
        if (e.compressed_size == 0xFFFFFFFFu || e.uncompressed_size == 0xFFFFFFFFu || local_offset == 0xFFFFFFFFu)
            fail(QStringLiteral("ZIP64 archives are not supported"));
        if (start_disk != 0)
            fail(QStringLiteral("Archives split over several parts are not supported"));

        const QByteArray raw_name(reinterpret_cast<const char *>(c + kCentralHeaderSize), name_size);
        e.name = decode_name(raw_name, e.flags, c + kCentralHeaderSize + name_size, extra_size);
        e.relative = checked_relative_path(e.name, e.is_folder);

        if (e.encrypted() && ((e.flags & kFlagStrongEncryption) || e.method == kMethodAesEncrypted))
            fail(QStringLiteral("The entry \"%1\" uses an encryption that is not supported").arg(e.name));
        if (e.flags & kFlagMaskedHeader)
            fail(QStringLiteral("Archives with an encrypted central directory are not supported"));
        if (e.method != kMethodStored && e.method != kMethodDeflated)
            fail(QStringLiteral("The entry \"%1\" uses compression method %2, which is not supported")
                     .arg(e.name)
                     .arg(e.method));

        // The local header must agree with the central record.
        e.header_offset = local_offset;
        if (!in.fits(local_offset, kLocalHeaderSize) ||
            static_cast<qsizetype>(local_offset) + static_cast<qsizetype>(kLocalHeaderSize) > central_offset ||
            get32(in.at(local_offset)) != kLocalSignature)
            fail_damaged(QStringLiteral("bad local header of \"%1\"").arg(e.name));
        const unsigned char *l = in.at(local_offset);
        const std::uint16_t local_flags = get16(l + 6);
        const std::uint16_t local_name_size = get16(l + 26);
        const std::uint16_t local_extra_size = get16(l + 28);
        e.data_offset = static_cast<qsizetype>(local_offset) + static_cast<qsizetype>(kLocalHeaderSize) +
                        local_name_size + local_extra_size;
        if ((local_flags & kFlagEncrypted) != (e.flags & kFlagEncrypted) || get16(l + 8) != e.method)
            fail_damaged(QStringLiteral("the headers of \"%1\" disagree").arg(e.name));
        if (local_name_size != name_size || !in.fits(local_offset + kLocalHeaderSize, name_size) ||
            std::memcmp(l + kLocalHeaderSize, raw_name.constData(), name_size) != 0)
            fail_damaged(QStringLiteral("the headers of \"%1\" disagree").arg(e.name));
        if (!(local_flags & kFlagDataDescriptor) &&
            (get32(l + 14) != e.crc || get32(l + 18) != e.compressed_size || get32(l + 22) != e.uncompressed_size))
            fail_damaged(QStringLiteral("the headers of \"%1\" disagree").arg(e.name));
        // The local time feeds the check byte of entries written with a data descriptor.
        e.dos_time = get16(l + 10);
        e.flags = static_cast<std::uint16_t>(e.flags | (local_flags & kFlagDataDescriptor));
        if (e.data_offset + static_cast<qsizetype>(e.compressed_size) > central_offset)
            fail_damaged(QStringLiteral("the data of \"%1\" runs past its end").arg(e.name));

        const std::uint32_t header_size = e.encrypted() ? kEncryptionHeaderSize : 0;
        if (e.compressed_size < header_size)
            fail_damaged(QStringLiteral("the data of \"%1\" is too short").arg(e.name));
        if (e.method == kMethodStored && e.compressed_size - header_size != e.uncompressed_size)
            fail_damaged(QStringLiteral("the sizes of \"%1\" disagree").arg(e.name));

        entries.push_back(std::move(e));
        pos = record_end;
    }
    if (pos != central_end)
        fail_damaged(QStringLiteral("the central directory has an unexpected size"));

    // Entries may not share data: a range counted twice is a sign of a crafted archive.
    std::vector<std::pair<qsizetype, qsizetype>> ranges;
    for (const Entry &e : entries)
        ranges.emplace_back(e.header_offset, e.data_offset + static_cast<qsizetype>(e.compressed_size));
    std::sort(ranges.begin(), ranges.end());
    for (std::size_t i = 1; i < ranges.size(); ++i) {
        if (ranges[i].first < ranges[i - 1].second)
            fail_damaged(QStringLiteral("entries overlap"));
    }
    return entries;
}

// Sets up `cryptor` for the entry's data and checks the password against the header's check
// byte: the CRC's high byte, or the time's high byte for entries with a data descriptor (some
// writers use the CRC there as well).
void start_decryption(const Reader &in, const Entry &e, const QByteArray &password_bytes, TPKWAREZipCryptor &cryptor)
{
    if (password_bytes.isEmpty())
        fail_wrong_password();
    cryptor.init_with_bytes(password_bytes);
    unsigned char header[kEncryptionHeaderSize];
    std::memcpy(header, in.at(e.data_offset), kEncryptionHeaderSize);
    cryptor.decrypt(header, kEncryptionHeaderSize);
    const unsigned char check = header[kEncryptionHeaderSize - 1];
    const bool by_crc = check == static_cast<unsigned char>(e.crc >> 24);
    const bool by_time = (e.flags & kFlagDataDescriptor) && check == static_cast<unsigned char>(e.dos_time >> 8);
    if (!by_crc && !by_time)
        fail_wrong_password();
}

QDateTime dos_to_datetime(std::uint16_t dos_time, std::uint16_t dos_date)
{
    const QDate date(1980 + (dos_date >> 9), (dos_date >> 5) & 0x0F, dos_date & 0x1F);
    const QTime time((dos_time >> 11) & 0x1F, (dos_time >> 5) & 0x3F, (dos_time & 0x1F) * 2);
    return QDateTime(date, time, Qt::LocalTime);
}

std::filesystem::path fs_path(const QString &path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// Everything written during one extraction; undone unless committed.
class Transaction {
  public:
    ~Transaction()
    {
        if (committed_)
            return;
        for (const auto &[temp, target] : files_)
            QFile::remove(temp);
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it)
            QDir().rmdir(*it);
    }

    // Creates `folder` and its missing parents, remembering each one created.
    void make_folder(const QString &folder)
    {
        const QString clean = QDir::cleanPath(QDir(folder).absolutePath());
        QStringList missing;
        for (QString f = clean; !QFileInfo::exists(f);) {
            missing.prepend(f);
            const QString parent = QFileInfo(f).path();
            if (parent == f)
                break;
            f = parent;
        }
        for (const QString &f : missing) {
            if (!QDir().mkdir(f))
                fail(QStringLiteral("Cannot create the folder \"%1\"").arg(f), kLocalFile);
            folders_.push_back(f);
        }
        if (!QFileInfo(clean).isDir())
            fail(QStringLiteral("\"%1\" is not a folder").arg(clean));
    }

    void add_file(const QString &temp, const QString &target) { files_.emplace_back(temp, target); }

    // Renames every written file over its target, in archive order.
    void commit()
    {
        for (std::size_t i = 0; i < files_.size(); ++i) {
            std::error_code error;
            std::filesystem::rename(fs_path(files_[i].first), fs_path(files_[i].second), error);
            if (error) {
                files_.erase(files_.begin(), files_.begin() + static_cast<std::ptrdiff_t>(i));
                folders_.clear(); // files already in place may live in them
                fail(QStringLiteral("Cannot replace \"%1\": %2")
                         .arg(files_.front().second, QString::fromStdString(error.message())),
                     kLocalFile);
            }
        }
        committed_ = true;
        // Make the renames themselves durable.
        QSet<QString> folders;
        for (const auto &[temp, target] : files_)
            folders.insert(QFileInfo(target).path());
        for (const QString &f : std::as_const(folders)) {
            const int fd = ::open(QFile::encodeName(f).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd >= 0) {
                ::fsync(fd);
                ::close(fd);
            }
        }
    }

  private:
    std::vector<std::pair<QString, QString>> files_;
    std::vector<QString> folders_;
    bool committed_ = false;
};

struct InflateStream {
    z_stream zs{};
    bool open = false;
    ~InflateStream()
    {
        if (open)
            inflateEnd(&zs);
    }
};

// The entry's data in chunks, decrypted when needed. Decryption is inherently sequential, so one
// worker thread, started once for the entry, decrypts up to kSlots - 1 chunks ahead into a ring
// of buffers while the caller inflates and writes the chunk it was handed last.
class PlainInput {
  public:
    PlainInput(const Reader &in, qsizetype pos, qsizetype size, TPKWAREZipCryptor *cryptor)
        : in_(in), pos_(pos), remaining_(size), cryptor_(cryptor)
    {
        if (cryptor_) {
            chunks_ = static_cast<std::size_t>((size + static_cast<qsizetype>(kInputChunk) - 1) /
                                               static_cast<qsizetype>(kInputChunk));
            for (auto &slot : slots_)
                slot.resize(std::min<std::size_t>(kInputChunk, static_cast<std::size_t>(size)));
            worker_ = std::thread([this] { decrypt_ahead(); });
        }
    }
    ~PlainInput()
    {
        if (worker_.joinable()) {
            {
                const std::lock_guard lock(mutex_);
                stopping_ = true;
            }
            changed_.notify_all();
            worker_.join();
        }
    }
    PlainInput(const PlainInput &) = delete;
    PlainInput &operator=(const PlainInput &) = delete;

    // The next chunk; valid until the following call. Empty at the end.
    std::pair<const unsigned char *, std::size_t> next()
    {
        if (!cryptor_) {
            in_.release(handed_pos_, handed_size_);
            const std::size_t n = static_cast<std::size_t>(std::min<qsizetype>(remaining_, kInputChunk));
            const unsigned char *p = in_.at(pos_);
            handed_pos_ = pos_;
            handed_size_ = static_cast<qsizetype>(n);
            pos_ += static_cast<qsizetype>(n);
            remaining_ -= static_cast<qsizetype>(n);
            return {p, n};
        }
        std::unique_lock lock(mutex_);
        // The chunk handed out last is done with: its buffer may be filled again.
        released_ = handed_;
        changed_.notify_all();
        if (handed_ == chunks_)
            return {nullptr, 0};
        changed_.wait(lock, [this] { return decrypted_ > handed_; });
        const std::size_t k = handed_++;
        lock.unlock();
        // Its source range has been copied out by the worker and will not be read again.
        const qsizetype first = pos_ + static_cast<qsizetype>(k * kInputChunk);
        const qsizetype n = std::min<qsizetype>(static_cast<qsizetype>(kInputChunk), pos_ + remaining_ - first);
        in_.release(first, n);
        return {slots_[k % kSlots].data(), static_cast<std::size_t>(n)};
    }

  private:
    static constexpr std::size_t kSlots = 3;

    // The worker: chunk after chunk, as soon as the ring has room for it.
    void decrypt_ahead()
    {
        for (std::size_t k = 0; k < chunks_; ++k) {
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this, k] { return stopping_ || k < released_ + kSlots; });
                if (stopping_)
                    return;
            }
            // Slot k % kSlots is the worker's alone until decrypted_ passes k.
            const qsizetype first = pos_ + static_cast<qsizetype>(k * kInputChunk);
            const auto n = static_cast<std::size_t>(
                std::min<qsizetype>(static_cast<qsizetype>(kInputChunk), pos_ + remaining_ - first));
            unsigned char *target = slots_[k % kSlots].data();
            std::memcpy(target, in_.at(first), n);
            cryptor_->decrypt(target, n);
            {
                const std::lock_guard lock(mutex_);
                decrypted_ = k + 1;
            }
            changed_.notify_all();
        }
    }

    const Reader &in_;
    qsizetype pos_;       // unencrypted entries: the next chunk; encrypted ones: the first byte
    qsizetype remaining_; // unencrypted entries: bytes after pos_; encrypted ones: all of them
    TPKWAREZipCryptor *cryptor_;
    qsizetype handed_pos_ = 0; // unencrypted entries: source range handed out last
    qsizetype handed_size_ = 0;

    // Encrypted entries. The counts are chunk numbers, guarded by mutex_; the slots are not: a
    // slot belongs to the worker from the time released_ frees it until decrypted_ covers it,
    // then to the caller until released_ passes it.
    std::size_t chunks_ = 0;
    std::vector<unsigned char> slots_[kSlots];
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t decrypted_ = 0; // chunks the worker has finished
    std::size_t handed_ = 0;    // chunks handed to the caller
    std::size_t released_ = 0;  // chunks the caller is done with
    bool stopping_ = false;
    std::thread worker_; // last: started once everything above exists
};

// Passes one entry's data to `write`, checking length and CRC. A data fault in an encrypted
// entry cannot be told apart from a wrong password and is reported as such.
using Sink = std::function<void(const unsigned char *, std::size_t)>;

void read_entry_data(const Reader &in, const Entry &e, const QByteArray &password_bytes, const Sink &write)
{
    const auto data_fault = [&e](const QString &detail) {
        if (e.encrypted())
            fail_wrong_password();
        fail(QStringLiteral("The data of \"%1\" is corrupted (%2)").arg(e.name, detail));
    };

    TPKWAREZipCryptor cryptor;
    qsizetype pos = e.data_offset;
    qsizetype size = e.compressed_size;
    if (e.encrypted()) {
        start_decryption(in, e, password_bytes, cryptor);
        pos += kEncryptionHeaderSize;
        size -= kEncryptionHeaderSize;
    }
    PlainInput input(in, pos, size, e.encrypted() ? &cryptor : nullptr);

    std::vector<unsigned char> inflated(e.method == kMethodDeflated ? kOutputChunk : 0);
    InflateStream inflater;
    if (e.method == kMethodDeflated) {
        if (inflateInit2(&inflater.zs, -MAX_WBITS) != Z_OK)
            fail(QStringLiteral("Cannot start the inflater"));
        inflater.open = true;
    }

    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t written = 0;
    bool stream_end = false;
    for (;;) {
        const auto [chunk, n] = input.next();
        if (e.method == kMethodStored) {
            if (n == 0)
                break;
            crc = crc32_z(crc, chunk, n);
            write(chunk, n);
            written += n;
            continue;
        }
        if (n == 0) {
            if (!stream_end)
                data_fault(QStringLiteral("truncated compressed stream"));
            break;
        }
        if (stream_end)
            data_fault(QStringLiteral("data after the end of the compressed stream"));
        inflater.zs.next_in = chunk;
        inflater.zs.avail_in = static_cast<uInt>(n);
        for (;;) {
            inflater.zs.next_out = inflated.data();
            inflater.zs.avail_out = static_cast<uInt>(inflated.size());
            const int ret = inflate(&inflater.zs, Z_NO_FLUSH);
            if (ret == Z_NEED_DICT || ret == Z_DATA_ERROR || ret == Z_MEM_ERROR || ret == Z_STREAM_ERROR)
                data_fault(QString::fromUtf8(inflater.zs.msg ? inflater.zs.msg : "inflate error"));
            const std::size_t produced = inflated.size() - inflater.zs.avail_out;
            if (written + produced > e.uncompressed_size)
                data_fault(QStringLiteral("longer than recorded"));
            crc = crc32_z(crc, inflated.data(), produced);
            write(inflated.data(), produced);
            written += produced;
            if (ret == Z_STREAM_END) {
                stream_end = true;
                if (inflater.zs.avail_in != 0)
                    data_fault(QStringLiteral("data after the end of the compressed stream"));
                break;
            }
            if (ret == Z_BUF_ERROR || (inflater.zs.avail_in == 0 && inflater.zs.avail_out != 0))
                break;
        }
    }
    if (written != e.uncompressed_size)
        data_fault(QStringLiteral("shorter than recorded"));
    if (static_cast<std::uint32_t>(crc) != e.crc)
        data_fault(QStringLiteral("CRC mismatch"));
}

QString temporary_name(const QString &target)
{
    const QString folder = QFileInfo(target).path();
    const quint64 tag = QRandomGenerator::global()->generate64();
    return folder + QStringLiteral("/.yunshan-unpack-") + QString::number(tag, 16) + QStringLiteral(".tmp");
}

// Creates the temporary file an entry is extracted into; it must not exist yet.
void create_file(QFile &out)
{
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        fail(QStringLiteral("Cannot create \"%1\": %2").arg(out.fileName(), out.errorString()), kLocalFile);
}

void write_data(QFile &out, const unsigned char *data, std::size_t size)
{
    if (out.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size)) != static_cast<qint64>(size))
        fail(QStringLiteral("Cannot write \"%1\": %2").arg(out.fileName(), out.errorString()), kLocalFile);
}

// Puts an extracted file on disk with the entry's time and closes it.
void finish_file(QFile &out, const Entry &e)
{
    // The file replaces the user's notes: it must be on disk before it takes their place.
    if (::fsync(out.handle()) != 0)
        fail(
            QStringLiteral("Cannot write \"%1\": %2").arg(out.fileName(), QString::fromLocal8Bit(std::strerror(errno))),
            kLocalFile);
    const QDateTime stamp = dos_to_datetime(e.dos_time, e.dos_date);
    if (stamp.isValid())
        out.setFileTime(stamp, QFileDevice::FileModificationTime);
    out.close();
}

void extract(const Reader &in, const QString &password, const QString &folder)
{
    const std::vector<Entry> entries = read_directory(in);
    if (entries.empty())
        fail(QStringLiteral("The archive holds no files"));

    // Every password is checked before anything on disk changes.
    const QByteArray password_bytes = unicode_to_ansi(password);
    for (const Entry &e : entries) {
        if (e.encrypted()) {
            TPKWAREZipCryptor cryptor;
            start_decryption(in, e, password_bytes, cryptor);
        }
    }

    // Names: no file may sit where another entry needs a folder, no existing non-folder may stand
    // in a path, and no existing link may lead outside the target folder.
    const QString root = QDir::cleanPath(QDir(folder).absolutePath());
    QSet<QString> file_paths;
    QSet<QString> folder_paths;
    for (const Entry &e : entries) {
        const QStringList parts = e.relative.split(QLatin1Char('/'));
        QString sub;
        for (qsizetype i = 0; i + (e.is_folder ? 0 : 1) < parts.size(); ++i) {
            sub = sub.isEmpty() ? parts[i] : sub + QLatin1Char('/') + parts[i];
            folder_paths.insert(sub);
        }
        if (!e.is_folder)
            file_paths.insert(e.relative);
    }
    for (const QString &f : std::as_const(file_paths)) {
        if (folder_paths.contains(f))
            fail(QStringLiteral("The archive holds \"%1\" both as a file and as a folder").arg(f));
        const QFileInfo info(root + QLatin1Char('/') + f);
        if (info.isDir() && !info.isSymLink())
            fail(QStringLiteral("Cannot replace the folder \"%1\" with a file").arg(info.filePath()));
    }
    QString canonical_root;
    if (QFileInfo::exists(root)) {
        if (!QFileInfo(root).isDir())
            fail(QStringLiteral("\"%1\" is not a folder").arg(root));
        canonical_root = QFileInfo(root).canonicalFilePath();
    }
    for (const QString &f : std::as_const(folder_paths)) {
        const QFileInfo info(root + QLatin1Char('/') + f);
        if (!info.exists() && !info.isSymLink())
            continue;
        if (!info.isDir())
            fail(QStringLiteral("\"%1\" exists and is not a folder").arg(info.filePath()));
        const QString canonical = info.canonicalFilePath();
        if (!canonical.startsWith(canonical_root + QLatin1Char('/')))
            fail(QStringLiteral("The folder \"%1\" leads outside \"%2\"").arg(info.filePath(), root));
    }

    Transaction transaction;
    transaction.make_folder(root);
    for (const Entry &e : entries) {
        const QString target = root + QLatin1Char('/') + e.relative;
        if (e.is_folder) {
            transaction.make_folder(target);
            continue;
        }
        transaction.make_folder(QFileInfo(target).path());
        const QString temp = temporary_name(target);
        QFile out(temp);
        create_file(out);
        transaction.add_file(temp, target);
        read_entry_data(in, e, password_bytes,
                        [&out](const unsigned char *data, std::size_t size) { write_data(out, data, size); });
        finish_file(out, e);
    }
    transaction.commit();
}

QByteArray first_entry(const QByteArray &archive, const QString &password, qint64 max_size)
{
    const Reader in(archive);
    const std::vector<Entry> entries = read_directory(in);
    if (entries.empty() || entries.front().is_folder)
        fail(QStringLiteral("The archive holds no files"));
    // The recorded size bounds what the inflater may produce: checked before the memory is taken.
    if (static_cast<qint64>(entries.front().uncompressed_size) > max_size)
        fail(QStringLiteral("The entry \"%1\" is %2 bytes large, more than the %3 bytes allowed")
                 .arg(entries.front().name)
                 .arg(entries.front().uncompressed_size)
                 .arg(max_size),
             ArchiveError::Kind::TooLarge);
    QByteArray bytes;
    read_entry_data(in, entries.front(), unicode_to_ansi(password),
                    [&bytes](const unsigned char *data, std::size_t size) {
                        bytes.append(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
                    });
    return bytes;
}

std::function<qint64(const QString &)> &free_space_query()
{
    static std::function<qint64(const QString &)> query;
    return query;
}

qint64 free_space(const QString &folder)
{
    if (free_space_query())
        return free_space_query()(folder);
    const QStorageInfo storage(folder);
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

void extract_one(const Reader &in, const QString &password, const QString &entry_name, const QString &target,
                 const std::function<bool()> &cancel)
{
    const auto check_cancel = [&cancel] {
        if (cancel && cancel())
            fail(QStringLiteral("The extraction was cancelled"), ArchiveError::Kind::Cancelled);
    };
    check_cancel();
    const std::vector<Entry> entries = read_directory(in);
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [&entry_name](const Entry &e) { return !e.is_folder && e.relative == entry_name; });
    if (found == entries.end())
        fail(QStringLiteral("The archive holds no file \"%1\"").arg(entry_name), ArchiveError::Kind::MissingEntry);
    const Entry &e = *found;
    const QByteArray password_bytes = unicode_to_ansi(password);
    if (e.encrypted()) {
        TPKWAREZipCryptor cryptor;
        start_decryption(in, e, password_bytes, cryptor);
    }

    const QString folder = QFileInfo(target).absolutePath();
    const qint64 available = free_space(folder);
    if (available >= 0 && static_cast<qint64>(e.uncompressed_size) > available)
        fail(QStringLiteral("Not enough free space in \"%1\": %2 bytes needed, %3 bytes free")
                 .arg(folder)
                 .arg(e.uncompressed_size)
                 .arg(available),
             ArchiveError::Kind::NoSpace);

    const QString temp = temporary_name(target);
    QFile out(temp);
    create_file(out);
    bool placed = false;
    const auto remove_temp = qScopeGuard([&] {
        if (!placed) {
            out.close();
            QFile::remove(temp);
        }
    });
    qint64 since_check = 0;
    read_entry_data(in, e, password_bytes, [&](const unsigned char *data, std::size_t size) {
        write_data(out, data, size);
        since_check += static_cast<qint64>(size);
        if (since_check >= static_cast<qint64>(kOutputChunk)) {
            since_check = 0;
            check_cancel();
        }
    });
    check_cancel();
    finish_file(out, e);
    std::error_code error;
    std::filesystem::rename(fs_path(temp), fs_path(target), error);
    if (error)
        fail(QStringLiteral("Cannot replace \"%1\": %2").arg(target, QString::fromStdString(error.message())),
             kLocalFile);
    placed = true;
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Maps the archive file and runs `work` over it; pages already streamed through are dropped, so
// a large archive never sits in memory whole.
void with_mapped_archive(const QString &archive_path, const std::function<void(const Reader &)> &work)
{
    QFile file(archive_path);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("Cannot open file \"%1\": %2").arg(archive_path, file.errorString()), kLocalFile);
    const qint64 size = file.size();
    if (size < static_cast<qint64>(kEndRecordSize))
        fail(QStringLiteral("The data is not a ZIP archive"));
    void *mapped = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, file.handle(), 0);
    if (mapped == MAP_FAILED)
        fail(QStringLiteral("Cannot read file \"%1\": %2")
                 .arg(archive_path, QString::fromLocal8Bit(std::strerror(errno))),
             kLocalFile);
    const auto unmap = qScopeGuard([mapped, size] { ::munmap(mapped, static_cast<std::size_t>(size)); });
    auto *base = static_cast<unsigned char *>(mapped);
    const qsizetype page = static_cast<qsizetype>(::sysconf(_SC_PAGESIZE));
    const Reader in(base, static_cast<qsizetype>(size), [base, page](qsizetype offset, qsizetype length) {
        const qsizetype first = (offset + page - 1) / page * page;
        const qsizetype last = (offset + length) / page * page;
        if (last > first)
            ::madvise(base + first, static_cast<std::size_t>(last - first), MADV_DONTNEED);
    });
    try {
        work(in);
    } catch (const std::system_error &e) {
        throw ArchiveError(QStringLiteral("Cannot start a worker thread: %1").arg(QString::fromLocal8Bit(e.what())));
    }
}

} // namespace

void set_free_space_query(std::function<qint64(const QString &folder)> query)
{
    free_space_query() = std::move(query);
}

QByteArray read_first_entry(const QByteArray &archive, const QString &password, qint64 max_size)
{
    try {
        return first_entry(archive, password, max_size);
    } catch (const std::system_error &e) {
        throw ArchiveError(QStringLiteral("Cannot start a worker thread: %1").arg(QString::fromLocal8Bit(e.what())));
    }
}

void extract_package(const QByteArray &archive, const QString &password, const QString &folder)
{
    try {
        extract(Reader(archive), password, folder);
    } catch (const std::system_error &e) {
        throw ArchiveError(QStringLiteral("Cannot start a worker thread: %1").arg(QString::fromLocal8Bit(e.what())));
    }
}

void extract_package_file(const QString &archive_path, const QString &password, const QString &folder)
{
    with_mapped_archive(archive_path, [&](const Reader &in) { extract(in, password, folder); });
}

void extract_entry_file(const QString &archive_path, const QString &password, const QString &entry_name,
                        const QString &target_path, const std::function<bool()> &cancel)
{
    with_mapped_archive(archive_path,
                        [&](const Reader &in) { extract_one(in, password, entry_name, target_path, cancel); });
}

} // namespace yunshan
