#pragma once
// The 64-bit content hash of the sync fingerprints. The function is fixed for good: fingerprint
// files written by one program version on one machine are read by others, so it depends on
// nothing but the bytes (no seed chosen at run time, no byte order or word size of the machine).
#include <QByteArray>
#include <QtGlobal>

#include <cstddef>

namespace yunshan::sync {

// The XXH64 construction, written here from its published description: 32 bytes a round, well
// above the speed of reading rows from the database.
quint64 content_hash(const char *data, std::size_t size, quint64 seed = 0);

// The hash of a sequence of fields (the columns of one row). Every field is hashed with the
// hash so far as seed, and the kind of field (bytes, null, integer) goes into that seed, so
// ("ab", "") and ("a", "b") and (null) and ("") all differ.
class FieldHasher {
  public:
    void add_bytes(const char *data, std::size_t size);
    void add_bytes(const QByteArray &bytes) { add_bytes(bytes.constData(), std::size_t(bytes.size())); }
    void add_null();
    void add_integer(qint64 value);
    quint64 value() const { return h_; }

  private:
    quint64 h_ = 0x5945554E53484148ull; // any fixed start
};

} // namespace yunshan::sync
