// Writing the package: one entry, deflated with zlib, optionally encrypted, into memory or a file.
#include "backup/zip_cryptor.h"
#include "backup/zip_format.h"
#include "backup/zip_package.h"
#include "platform/code_page.h"

#define ZLIB_CONST
#include <zlib.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopeGuard>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace yunshan {
namespace {

using namespace zipfmt;

constexpr qsizetype kReadChunk = 1 << 20;
// Largest size the classic (non-ZIP64) fields can hold; 0xFFFFFFFF itself means "see ZIP64".
constexpr std::uint64_t kMaxClassicSize = 0xFFFFFFFEu;

// Where the archive goes: appended in order, with the local header patched at the end.
class ArchiveOut {
  public:
    virtual ~ArchiveOut() = default;
    virtual void append(const void *data, qsizetype n) = 0;
    // Overwrites bytes already written.
    virtual void patch(qsizetype pos, const void *data, qsizetype n) = 0;
    qsizetype used() const { return used_; }

  protected:
    qsizetype used_ = 0;
};

// The archive in memory. Its storage is sized once from the deflate bound, so it is not copied
// while it grows; pages never written are never touched, so they cost no memory.
class MemoryOut : public ArchiveOut {
  public:
    explicit MemoryOut(qsizetype expected) { bytes_.resize(std::max<qsizetype>(expected, 256)); }

    void append(const void *data, qsizetype n) override
    {
        if (bytes_.size() - used_ < n)
            bytes_.resize(std::max(used_ + n, bytes_.size() + bytes_.size() / 2));
        std::memcpy(bytes_.data() + used_, data, static_cast<std::size_t>(n));
        used_ += n;
    }
    void patch(qsizetype pos, const void *data, qsizetype n) override
    {
        std::memcpy(bytes_.data() + pos, data, static_cast<std::size_t>(n));
    }
    QByteArray take()
    {
        bytes_.resize(used_);
        bytes_.squeeze();
        return std::move(bytes_);
    }

  private:
    QByteArray bytes_;
};

// The archive in a file, written through a small buffer.
class FileOut : public ArchiveOut {
  public:
    explicit FileOut(const QString &path) : file_(path)
    {
        if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            throw ArchiveError(QStringLiteral("Cannot create \"%1\": %2").arg(path, file_.errorString()));
        buffer_.reserve(kBufferSize);
    }

    void append(const void *data, qsizetype n) override
    {
        const char *p = static_cast<const char *>(data);
        if (static_cast<qsizetype>(buffer_.size()) + n > kBufferSize)
            flush();
        if (n >= kBufferSize)
            write_at_end(p, n);
        else
            buffer_.insert(buffer_.end(), p, p + n);
        used_ += n;
    }
    void patch(qsizetype pos, const void *data, qsizetype n) override
    {
        flush();
        if (!file_.seek(pos) || file_.write(static_cast<const char *>(data), n) != n || !file_.seek(used_))
            fail_write();
    }
    void finish()
    {
        flush();
        file_.close();
        if (file_.error() != QFileDevice::NoError)
            fail_write();
    }

  private:
    static constexpr qsizetype kBufferSize = 1 << 20;

    void flush()
    {
        if (!buffer_.empty())
            write_at_end(buffer_.data(), static_cast<qsizetype>(buffer_.size()));
        buffer_.clear();
    }
    void write_at_end(const char *p, qsizetype n)
    {
        if (file_.write(p, n) != n)
            fail_write();
    }
    [[noreturn]] void fail_write()
    {
        throw ArchiveError(QStringLiteral("Cannot write \"%1\": %2").arg(file_.fileName(), file_.errorString()));
    }

    QFile file_;
    std::vector<char> buffer_;
};

struct SourceState {
    qint64 size = 0;
    qint64 mtime_ns = 0;
    ino_t inode = 0;
    mode_t mode = 0;

    bool operator==(const SourceState &) const = default;
};

SourceState stat_source(QFile &file)
{
    struct stat st {};
    if (::fstat(file.handle(), &st) != 0)
        throw ArchiveError(QStringLiteral("Cannot read the attributes of file \"%1\"").arg(file.fileName()));
    SourceState s;
    s.size = st.st_size;
    s.mtime_ns = static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.inode = st.st_ino;
    s.mode = st.st_mode;
    return s;
}

// MS-DOS time and date (local time, two-second steps, years 1980 to 2107).
void dos_date_time(qint64 mtime_ns, std::uint16_t &dos_time, std::uint16_t &dos_date)
{
    QDateTime t = QDateTime::fromSecsSinceEpoch(mtime_ns / 1000000000, Qt::LocalTime);
    if (t.date().year() < 1980)
        t = QDateTime(QDate(1980, 1, 1), QTime(0, 0, 0), Qt::LocalTime);
    else if (t.date().year() > 2107)
        t = QDateTime(QDate(2107, 12, 31), QTime(23, 59, 58), Qt::LocalTime);
    const QDate d = t.date();
    const QTime tm = t.time();
    dos_time = static_cast<std::uint16_t>((tm.hour() << 11) | (tm.minute() << 5) | (tm.second() / 2));
    dos_date = static_cast<std::uint16_t>(((d.year() - 1980) << 9) | (d.month() << 5) | d.day());
}

// MS-DOS attribute bits: archive, plus read-only when the owner may not write.
std::uint32_t dos_attributes(mode_t mode)
{
    std::uint32_t attributes = 0x20;
    if (!(mode & S_IWUSR))
        attributes |= 0x01;
    return attributes;
}

[[noreturn]] void throw_read_error(const QFile &file)
{
    throw ArchiveError(QStringLiteral("Cannot read file \"%1\": %2").arg(file.fileName(), file.errorString()));
}

[[noreturn]] void throw_changed(const QFile &file)
{
    throw ArchiveError(QStringLiteral("The file \"%1\" changed while it was being packed").arg(file.fileName()));
}

// Classic ZIP sizes and offsets are 32 bits: the file or its packed form passes them.
[[noreturn]] void throw_too_large(const QString &path)
{
    throw ArchiveError(QStringLiteral("The file \"%1\" is too large for the package (4 GB at most)").arg(path));
}

// Reads the whole file once for its CRC-32 and length.
std::uint32_t crc_of_file(QFile &file, std::vector<unsigned char> &chunk, qint64 &length)
{
    uLong crc = crc32(0, nullptr, 0);
    length = 0;
    for (;;) {
        const qint64 n = file.read(reinterpret_cast<char *>(chunk.data()), static_cast<qint64>(chunk.size()));
        if (n < 0)
            throw_read_error(file);
        if (n == 0)
            break;
        crc = crc32_z(crc, chunk.data(), static_cast<z_size_t>(n));
        length += n;
    }
    return static_cast<std::uint32_t>(crc);
}

// The file is compressed in blocks of kReadChunk bytes by a small crew of worker threads, the way
// parallel gzip tools do it: each block becomes an independent piece of one raw deflate stream
// that ends on a byte boundary and is not final (the last block's piece ends with the final
// block), so the pieces joined in order form one ordinary deflate stream.
//
// Inside a block, every kSegment bytes are either deflated or stored. A segment whose bytes are
// spread almost evenly over all 256 values (pictures, already compressed data) would shrink by
// a percent or two at most, and deflating it costs far more than the rest of packing together;
// it goes into stored blocks of the deflate format instead, which any inflater reads.
constexpr std::size_t kWindowSize = 32 * 1024;
constexpr std::size_t kSegment = 16 * 1024;
// Segments this short are deflated whatever their bytes: too few to judge, and cheap anyway.
constexpr std::size_t kShortestJudged = 4 * 1024;
// Bits per byte (order-0 entropy) from which a segment is stored: the bytes could lose at most
// (8 - 7.85) / 8 ≈ 2 % to any coding of single bytes.
constexpr double kStoreEntropy = 7.85;
constexpr std::size_t kStoredBlockMax = 0xFFFF;

// Byte storage whose growth leaves the new bytes uninitialised: every byte of the blocks and of
// their compressed pieces is written before it is read, so zero-filling them would be wasted.
template <typename T> struct UninitialisedAllocator : std::allocator<T> {
    template <typename U> struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <typename U> UninitialisedAllocator(const UninitialisedAllocator<U> &) noexcept {}
    template <typename U> void construct(U *p) noexcept { ::new (static_cast<void *>(p)) U; }
    template <typename U, typename... Args> void construct(U *p, Args &&...args)
    {
        ::new (static_cast<void *>(p)) U(std::forward<Args>(args)...);
    }
};
using Bytes = std::vector<unsigned char, UninitialisedAllocator<unsigned char>>;

struct Block {
    Bytes data;
};
using BlockPtr = std::shared_ptr<const Block>;

bool worth_deflating(const unsigned char *data, std::size_t size)
{
    if (size < kShortestJudged)
        return true;
    // Four tables so that runs of one byte value do not stall on a single counter.
    std::uint32_t counts[4][256] = {};
    std::size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        ++counts[0][data[i]];
        ++counts[1][data[i + 1]];
        ++counts[2][data[i + 2]];
        ++counts[3][data[i + 3]];
    }
    for (; i < size; ++i)
        ++counts[0][data[i]];
    // size * H = size * log2(size) - sum(c * log2(c))
    double sum = 0;
    for (int v = 0; v < 256; ++v) {
        const std::uint32_t c = counts[0][v] + counts[1][v] + counts[2][v] + counts[3][v];
        if (c > 1)
            sum += c * std::log2(static_cast<double>(c));
    }
    const double n = static_cast<double>(size);
    const double bits_per_byte = std::log2(n) - sum / n;
    return bits_per_byte < kStoreEntropy;
}

// Level 5 rather than zlib's default 6: it follows shorter chains of earlier matches, which more
// than halves the time spent deflating the text of a notes database, for a package under half a
// percent larger (the pictures, most of its bytes, are stored either way).
constexpr int kDeflateLevel = 5;

// One worker's compressor, kept for all the blocks it handles.
class BlockCompressor {
  public:
    BlockCompressor()
    {
        if (deflateInit2(&zs_, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw ArchiveError(QStringLiteral("Cannot start the deflate compressor"));
    }
    ~BlockCompressor() { deflateEnd(&zs_); }
    BlockCompressor(const BlockCompressor &) = delete;
    BlockCompressor &operator=(const BlockCompressor &) = delete;

    // The piece of the deflate stream for `block`, which follows `previous` (null for the first).
    Bytes compress(const Block *previous, const Block &block, bool last)
    {
        out_.clear();
        out_.reserve(block.data.size() + block.data.size() / 1000 + 1024);
        const unsigned char *data = block.data.data();
        const std::size_t size = block.data.size();
        if (size == 0) {
            deflate_run(previous, data, 0, last);
            return std::move(out_);
        }
        std::size_t pos = 0;
        bool deflating = worth_deflating(data, std::min(kSegment, size));
        while (pos < size) {
            // The run: this segment and every following one of the same kind.
            std::size_t end = std::min(pos + kSegment, size);
            bool next_deflating = deflating;
            while (end < size) {
                next_deflating = worth_deflating(data + end, std::min(kSegment, size - end));
                if (next_deflating != deflating)
                    break;
                end = std::min(end + kSegment, size);
            }
            const bool final_run = last && end == size;
            if (deflating)
                // At the start of the block the previous block's end is the window; after a
                // stored run there is nothing worth referring back to.
                deflate_run(pos == 0 ? previous : nullptr, data + pos, end - pos, final_run);
            else
                store_run(data + pos, end - pos, final_run);
            pos = end;
            deflating = next_deflating;
        }
        return std::move(out_);
    }

  private:
    // Deflates a run that starts on a byte boundary and ends on one (sync flush), or with the
    // final block when `final_run`.
    void deflate_run(const Block *previous, const unsigned char *data, std::size_t size, bool final_run)
    {
        deflateReset(&zs_);
        if (previous && !previous->data.empty()) {
            const std::size_t dictionary = std::min(previous->data.size(), kWindowSize);
            deflateSetDictionary(&zs_, previous->data.data() + previous->data.size() - dictionary,
                                 static_cast<uInt>(dictionary));
        }
        zs_.next_in = data;
        zs_.avail_in = static_cast<uInt>(size);
        const int flush = final_run ? Z_FINISH : Z_SYNC_FLUSH;
        for (;;) {
            const std::size_t used = out_.size();
            const std::size_t room = std::max<std::size_t>(deflateBound(&zs_, zs_.avail_in) + 64, 64 * 1024);
            out_.resize(used + room);
            zs_.next_out = out_.data() + used;
            zs_.avail_out = static_cast<uInt>(room);
            const int ret = deflate(&zs_, flush);
            out_.resize(used + room - zs_.avail_out);
            if (ret == Z_STREAM_ERROR)
                throw ArchiveError(QStringLiteral("Deflate failed"));
            if (final_run ? ret == Z_STREAM_END : (zs_.avail_in == 0 && zs_.avail_out != 0))
                break;
        }
    }

    // Stored blocks of the deflate format: after a sync flush the stream is on a byte boundary,
    // so each block is one header byte (BFINAL, type 00, padding), LEN, NLEN and the bytes.
    void store_run(const unsigned char *data, std::size_t size, bool final_run)
    {
        while (size > 0) {
            const std::size_t n = std::min(size, kStoredBlockMax);
            size -= n;
            const unsigned char header[5] = {static_cast<unsigned char>(final_run && size == 0 ? 1 : 0),
                                             static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                                             static_cast<unsigned char>(~n), static_cast<unsigned char>(~n >> 8)};
            out_.insert(out_.end(), header, header + 5);
            out_.insert(out_.end(), data, data + n);
            data += n;
        }
    }

    z_stream zs_{};
    Bytes out_;
};

// Worker threads that compress blocks; results come back through futures in the order asked.
class CompressionCrew {
  public:
    explicit CompressionCrew(unsigned workers)
    {
        try {
            for (unsigned i = 0; i < workers; ++i)
                threads_.emplace_back([this] { work(); });
        } catch (...) {
            stop();
            throw;
        }
    }
    ~CompressionCrew() { stop(); }
    CompressionCrew(const CompressionCrew &) = delete;
    CompressionCrew &operator=(const CompressionCrew &) = delete;

    std::future<Bytes> compress(BlockPtr previous, BlockPtr block, bool last)
    {
        Task task{std::move(previous), std::move(block), last, {}};
        auto result = task.result.get_future();
        {
            const std::lock_guard lock(mutex_);
            queue_.push_back(std::move(task));
        }
        wake_.notify_one();
        return result;
    }

  private:
    struct Task {
        BlockPtr previous;
        BlockPtr block;
        bool last = false;
        std::promise<Bytes> result;
    };

    void work()
    {
        std::unique_ptr<BlockCompressor> compressor;
        for (;;) {
            Task task;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
                if (stopping_)
                    return;
                task = std::move(queue_.front());
                queue_.pop_front();
            }
            try {
                if (!compressor)
                    compressor = std::make_unique<BlockCompressor>();
                task.result.set_value(compressor->compress(task.previous.get(), *task.block, task.last));
            } catch (...) {
                task.result.set_exception(std::current_exception());
            }
        }
    }

    void stop()
    {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread &t : threads_)
            t.join();
        threads_.clear();
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// What the local header and the central record both hold about the entry, besides its CRC and sizes.
struct EntryFields {
    std::uint16_t flags;
    std::uint16_t dos_time;
    std::uint16_t dos_date;
    std::uint16_t name_size;
};

// The run the local header and the central record share, from "version needed" to the name's length.
unsigned char *put_entry_fields(unsigned char *p, const EntryFields &e, std::uint32_t crc,
                                std::uint32_t compressed_size, std::uint32_t uncompressed_size)
{
    p = put16(p, 20); // version needed: 2.0
    p = put16(p, e.flags);
    p = put16(p, kMethodDeflated);
    p = put16(p, e.dos_time);
    p = put16(p, e.dos_date);
    p = put32(p, crc);
    p = put32(p, compressed_size);
    p = put32(p, uncompressed_size);
    return put16(p, e.name_size);
}

// Workers: one per core, at least one. Blocks in flight: enough to keep them all busy while this
// thread reads, encrypts and writes, even when a slow block of text holds up the ones behind it
// (a block of pictures is stored some twenty times faster than a block of text is deflated).
unsigned crew_size()
{
    return std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}

// Packs the file into `out`; `make_out` receives the expected archive size.
template <typename MakeOut> void build(const QString &source_path, const QString &password, MakeOut make_out)
{
    QFile file(source_path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw ArchiveError(QStringLiteral("Cannot open file \"%1\": %2").arg(source_path, file.errorString()));
    const SourceState before = stat_source(file);
    if (!S_ISREG(before.mode))
        throw ArchiveError(QStringLiteral("\"%1\" is not a regular file").arg(source_path));
    if (static_cast<std::uint64_t>(before.size) > kMaxClassicSize)
        throw_too_large(source_path);

    const QByteArray name = QFileInfo(source_path).fileName().toUtf8();
    if (name.isEmpty() || name.size() > 0xFFFF)
        throw ArchiveError(QStringLiteral("Unusable file name \"%1\"").arg(source_path));
    const bool encrypted = !password.isEmpty();
    std::uint16_t flags = kFlagUtf8Name;
    if (encrypted)
        flags |= kFlagEncrypted;
    std::uint16_t dos_time = 0;
    std::uint16_t dos_date = 0;
    dos_date_time(before.mtime_ns, dos_time, dos_date);

    // The check byte of the encryption header needs the CRC before any data is written, so an
    // encrypted entry reads the file twice.
    std::uint32_t first_crc = 0;
    if (encrypted) {
        std::vector<unsigned char> chunk(static_cast<std::size_t>(kReadChunk));
        qint64 length = 0;
        first_crc = crc_of_file(file, chunk, length);
        if (length != before.size)
            throw_changed(file);
        if (!file.seek(0))
            throw_read_error(file);
    }

    const qsizetype name_size = name.size();
    // Deflate output is at most the input plus 5 bytes per stored block, plus the few bytes each
    // change between deflated and stored runs adds (a sync flush, a partial byte).
    const qsizetype bound = before.size + before.size / 1000 + (before.size / kReadChunk + 1) * 1024 + 1024;
    ArchiveOut &out = make_out(
        static_cast<qsizetype>(kLocalHeaderSize + kEncryptionHeaderSize + kCentralHeaderSize + kEndRecordSize) +
        2 * name_size + bound);

    const EntryFields fields{flags, dos_time, dos_date, static_cast<std::uint16_t>(name_size)};
    // Local header with provisional CRC and sizes; rewritten once the data is written.
    unsigned char local[kLocalHeaderSize];
    {
        unsigned char *p = local;
        p = put32(p, kLocalSignature);
        p = put_entry_fields(p, fields, first_crc, 0, 0);
        put16(p, 0); // extra field
    }
    out.append(local, kLocalHeaderSize);
    out.append(name.constData(), name_size);
    const qsizetype data_start = out.used();

    TPKWAREZipCryptor cryptor;
    if (encrypted) {
        cryptor.init_with_bytes(unicode_to_ansi(password));
        unsigned char header[kEncryptionHeaderSize];
        QRandomGenerator *random = QRandomGenerator::system();
        for (std::size_t i = 0; i + 1 < kEncryptionHeaderSize; ++i)
            header[i] = static_cast<unsigned char>(random->bounded(256));
        header[kEncryptionHeaderSize - 1] = static_cast<unsigned char>(first_crc >> 24);
        cryptor.encrypt(header, kEncryptionHeaderSize);
        out.append(header, kEncryptionHeaderSize);
    }

    // Reading, the CRC, the encryption and the output stay on this thread, in order; the
    // compression of blocks runs beside it on the crew.
    CompressionCrew crew(crew_size());
    const std::size_t in_flight = 3 * crew_size() + 2;
    std::deque<std::future<Bytes>> pending;
    const auto take_oldest = [&] {
        Bytes compressed = pending.front().get();
        pending.pop_front();
        if (encrypted)
            cryptor.encrypt(compressed.data(), compressed.size());
        out.append(compressed.data(), static_cast<qsizetype>(compressed.size()));
    };

    uLong crc = crc32(0, nullptr, 0);
    qint64 length = 0;
    BlockPtr previous;
    for (bool last = false; !last;) {
        auto block = std::make_shared<Block>();
        block->data.resize(static_cast<std::size_t>(kReadChunk));
        const qint64 n = file.read(reinterpret_cast<char *>(block->data.data()), kReadChunk);
        if (n < 0)
            throw_read_error(file);
        block->data.resize(static_cast<std::size_t>(n));
        length += n;
        if (static_cast<std::uint64_t>(length) > kMaxClassicSize)
            throw_changed(file);
        crc = crc32_z(crc, block->data.data(), static_cast<z_size_t>(n));
        last = n < kReadChunk;
        BlockPtr current = std::move(block);
        pending.push_back(crew.compress(previous, current, last));
        previous = std::move(current);
        while (pending.size() >= in_flight || (last && !pending.empty()))
            take_oldest();
    }

    // The file must be the one measured at the start: same length, same CRC on both readings,
    // unchanged attributes. Anything else would pack a mixture of two versions.
    if (length != before.size || (encrypted && static_cast<std::uint32_t>(crc) != first_crc) ||
        !(stat_source(file) == before))
        throw_changed(file);
    file.close();

    const std::uint64_t compressed = static_cast<std::uint64_t>(out.used() - data_start);
    if (compressed > kMaxClassicSize)
        throw_too_large(source_path);
    const std::uint32_t crc_value = static_cast<std::uint32_t>(crc);
    const std::uint32_t compressed_size = static_cast<std::uint32_t>(compressed);
    const std::uint32_t uncompressed_size = static_cast<std::uint32_t>(length);

    {
        unsigned char sizes[12];
        unsigned char *p = sizes;
        p = put32(p, crc_value);
        p = put32(p, compressed_size);
        put32(p, uncompressed_size);
        out.patch(kLocalCrcOffset, sizes, sizeof sizes);
    }

    const qsizetype central_start = out.used();
    unsigned char central[kCentralHeaderSize];
    {
        unsigned char *p = central;
        p = put32(p, kCentralSignature);
        p = put16(p, 20); // made by: version 2.0, host 0 (MS-DOS)
        p = put_entry_fields(p, fields, crc_value, compressed_size, uncompressed_size);
        p = put16(p, 0); // extra field
        p = put16(p, 0); // comment
        p = put16(p, 0); // disk number
        p = put16(p, 0); // internal attributes
        p = put32(p, dos_attributes(before.mode));
        put32(p, 0); // offset of the local header
    }
    out.append(central, kCentralHeaderSize);
    out.append(name.constData(), name_size);
    const qsizetype central_size = out.used() - central_start;
    if (static_cast<std::uint64_t>(out.used()) > 0xFFFFFFFFu)
        throw_too_large(source_path);

    unsigned char end[kEndRecordSize];
    {
        unsigned char *p = end;
        p = put32(p, kEndSignature);
        p = put16(p, 0);
        p = put16(p, 0);
        p = put16(p, 1);
        p = put16(p, 1);
        p = put32(p, static_cast<std::uint32_t>(central_size));
        p = put32(p, static_cast<std::uint32_t>(central_start));
        put16(p, 0);
    }
    out.append(end, kEndRecordSize);
}

} // namespace

QByteArray build_package(const QString &source_path, const QString &password)
{
    try {
        std::unique_ptr<MemoryOut> out;
        build(source_path, password, [&out](qsizetype expected) -> ArchiveOut & {
            out = std::make_unique<MemoryOut>(expected);
            return *out;
        });
        return out->take();
    } catch (const std::system_error &e) {
        throw ArchiveError(QStringLiteral("Cannot start a worker thread: %1").arg(QString::fromLocal8Bit(e.what())));
    }
}

void build_package_file(const QString &source_path, const QString &password, const QString &archive_path)
{
    try {
        std::unique_ptr<FileOut> out;
        build(source_path, password, [&out, &archive_path](qsizetype) -> ArchiveOut & {
            out = std::make_unique<FileOut>(archive_path);
            return *out;
        });
        out->finish();
    } catch (const std::system_error &e) {
        throw ArchiveError(QStringLiteral("Cannot start a worker thread: %1").arg(QString::fromLocal8Bit(e.what())));
    }
}

} // namespace yunshan
