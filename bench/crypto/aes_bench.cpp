// AES-128-CBC encryption and decryption throughput on 1 MB and 64 MB buffers:
//   Stream   – encrypt_stream_cbc / decrypt_stream_cbc between QBuffer objects (what notes use)
//   Engine   – the chaining loop on memory with the engine this processor gets
//   Table    – the chaining loop with the table-driven code only
//   OpenSSL  – EVP_aes_128_cbc without padding, same key, IV and data
// The figure that matters for notes is Stream against OpenSSL; the engine rows show the raw
// block loop. Output bytes are checked against OpenSSL before anything is timed.
//
// After the table comes the summary: ours as a ratio of OpenSSL's throughput (above 1: faster),
// from rounds that time ours and OpenSSL back to back on the same buffers, alternating which goes
// first, in thread CPU time; the median of the rounds' ratios is shown, so load from other
// processes on a shared machine cancels out.
// Run: build/bench/crypto/bench_crypto   (summary only: --benchmark_filter=none)
#include "crypto/aes.h"
#include "crypto/aes_engine.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <QBuffer>
#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>

using namespace yunshan;

namespace {

const AesKey kKey = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6, 0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};
const AesBlock kIv = {'3', '0', '9', '2', '8', '1', '7', '4', '0', '5', '2', '9', '3', '0', '1', '8'};

QByteArray make_random_data(qsizetype size)
{
    std::mt19937 generator(12345);
    QByteArray data(size, Qt::Uninitialized);
    for (auto &c : data)
        c = static_cast<char>(generator() & 0xff);
    return data;
}

enum Direction { Encrypt = 0, Decrypt = 1 };

void Stream(benchmark::State &state, Direction direction)
{
    const auto size = static_cast<qsizetype>(state.range(0));
    QByteArray input = make_random_data(size);
    QByteArray output(size, '\0'); // sized once: the runs overwrite it in place
    QBuffer source(&input);
    source.open(QIODevice::ReadOnly);
    QBuffer destination(&output);
    destination.open(QIODevice::WriteOnly);
    for (auto _ : state) {
        destination.seek(0);
        if (direction == Encrypt)
            encrypt_stream_cbc(source, 0, kKey, kIv, destination);
        else
            decrypt_stream_cbc(source, 0, kKey, kIv, destination);
        benchmark::DoNotOptimize(output.constData());
    }
    state.SetBytesProcessed(state.iterations() * size);
}

void Engine(benchmark::State &state, Direction direction, aes_engine::Engine engine)
{
    const auto size = static_cast<qsizetype>(state.range(0));
    QByteArray input = make_random_data(size);
    QByteArray output(size, '\0');
    const auto *in = reinterpret_cast<const std::uint8_t *>(input.constData());
    auto *out = reinterpret_cast<std::uint8_t *>(output.data());
    const AesExpandedKey key = direction == Encrypt ? expand_key_encrypt(kKey) : expand_key_decrypt(kKey);
    for (auto _ : state) {
        AesBlock chain = kIv;
        if (direction == Encrypt)
            aes_engine::cbc_encrypt(engine, key, chain, in, out, static_cast<std::size_t>(size / 16));
        else
            aes_engine::cbc_decrypt(engine, key, chain, in, out, static_cast<std::size_t>(size / 16));
        benchmark::DoNotOptimize(output.constData());
    }
    state.SetBytesProcessed(state.iterations() * size);
}

void OpenSSL(benchmark::State &state, Direction direction)
{
    const auto size = static_cast<int>(state.range(0));
    QByteArray input = make_random_data(size);
    QByteArray output(size + 16, '\0');
    EVP_CIPHER_CTX *context = EVP_CIPHER_CTX_new();
    for (auto _ : state) {
        int written = 0;
        EVP_CipherInit_ex(context, EVP_aes_128_cbc(), nullptr, kKey.data(), kIv.data(), direction == Encrypt ? 1 : 0);
        EVP_CIPHER_CTX_set_padding(context, 0);
        EVP_CipherUpdate(context, reinterpret_cast<unsigned char *>(output.data()), &written,
                         reinterpret_cast<const unsigned char *>(input.constData()), size);
        if (written != size)
            state.SkipWithError("EVP_CipherUpdate wrote a different size");
        benchmark::DoNotOptimize(output.constData());
    }
    EVP_CIPHER_CTX_free(context);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}

constexpr std::int64_t kOneMB = 1 << 20;
constexpr std::int64_t kSixtyFourMB = 64 << 20;

void sizes(benchmark::internal::Benchmark *b)
{
    b->Arg(kOneMB)->Arg(kSixtyFourMB)->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK_CAPTURE(Stream, Encrypt, Encrypt)->Apply(sizes);
BENCHMARK_CAPTURE(Engine, Encrypt, Encrypt, aes_engine::best())->Apply(sizes);
BENCHMARK_CAPTURE(Engine, EncryptTable, Encrypt, aes_engine::Engine::Table)->Apply(sizes);
BENCHMARK_CAPTURE(OpenSSL, Encrypt, Encrypt)->Apply(sizes);
BENCHMARK_CAPTURE(Stream, Decrypt, Decrypt)->Apply(sizes);
BENCHMARK_CAPTURE(Engine, Decrypt, Decrypt, aes_engine::best())->Apply(sizes);
BENCHMARK_CAPTURE(Engine, DecryptTable, Decrypt, aes_engine::Engine::Table)->Apply(sizes);
BENCHMARK_CAPTURE(Engine, DecryptAesni, Decrypt, aes_engine::Engine::Aesni)->Apply(sizes);
BENCHMARK_CAPTURE(OpenSSL, Decrypt, Decrypt)->Apply(sizes);

// Before timing anything: the stream path and every engine give OpenSSL's bytes for both
// directions, on a size that is not a power of two.
bool outputs_match_openssl()
{
    const int size = (3 << 20) + 16 * 7;
    const QByteArray input = make_random_data(size);
    bool ok = true;
    for (Direction direction : {Encrypt, Decrypt}) {
        QByteArray reference(size + 16, '\0');
        int written = 0;
        EVP_CIPHER_CTX *context = EVP_CIPHER_CTX_new();
        EVP_CipherInit_ex(context, EVP_aes_128_cbc(), nullptr, kKey.data(), kIv.data(), direction == Encrypt ? 1 : 0);
        EVP_CIPHER_CTX_set_padding(context, 0);
        EVP_CipherUpdate(context, reinterpret_cast<unsigned char *>(reference.data()), &written,
                         reinterpret_cast<const unsigned char *>(input.constData()), size);
        EVP_CIPHER_CTX_free(context);
        reference.truncate(written);

        QByteArray streamed;
        QByteArray in = input;
        QBuffer source(&in);
        source.open(QIODevice::ReadOnly);
        QBuffer destination(&streamed);
        destination.open(QIODevice::WriteOnly);
        if (direction == Encrypt)
            encrypt_stream_cbc(source, 0, kKey, kIv, destination);
        else
            decrypt_stream_cbc(source, 0, kKey, kIv, destination);
        const char *name = direction == Encrypt ? "encrypt" : "decrypt";
        if (streamed != reference) {
            std::fprintf(stderr, "stream %s differs from OpenSSL\n", name);
            ok = false;
        }
        for (auto engine : {aes_engine::Engine::Table, aes_engine::best()}) {
            QByteArray out(size, '\0');
            const AesExpandedKey key = direction == Encrypt ? expand_key_encrypt(kKey) : expand_key_decrypt(kKey);
            AesBlock chain = kIv;
            const auto *i = reinterpret_cast<const std::uint8_t *>(input.constData());
            auto *o = reinterpret_cast<std::uint8_t *>(out.data());
            if (direction == Encrypt)
                aes_engine::cbc_encrypt(engine, key, chain, i, o, std::size_t(size / 16));
            else
                aes_engine::cbc_decrypt(engine, key, chain, i, o, std::size_t(size / 16));
            if (out != reference) {
                std::fprintf(stderr, "engine %d %s differs from OpenSSL\n", int(engine), name);
                ok = false;
            }
        }
    }
    return ok;
}

double thread_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

template <typename Work> double timed(Work &&work)
{
    const double start = thread_seconds();
    work();
    return thread_seconds() - start;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Ours against OpenSSL in the same rounds: the stream routines between QBuffer objects and the
// engine alone, each as OpenSSL's time divided by ours.
void print_ratios()
{
    std::printf("\nThroughput as a ratio of OpenSSL EVP (median of paired rounds, thread CPU time):\n");
    std::printf("%-10s %8s %8s %8s %12s\n", "direction", "size", "stream", "engine", "OpenSSL MB/s");
    for (Direction direction : {Encrypt, Decrypt}) {
        for (const std::int64_t size : {kOneMB, kSixtyFourMB}) {
            const int rounds = size == kOneMB ? 301 : 15;
            QByteArray input = make_random_data(static_cast<qsizetype>(size));
            QByteArray output(static_cast<qsizetype>(size + 16), '\0');
            QBuffer source(&input);
            source.open(QIODevice::ReadOnly);
            QBuffer destination(&output);
            destination.open(QIODevice::WriteOnly);
            const AesExpandedKey key = direction == Encrypt ? expand_key_encrypt(kKey) : expand_key_decrypt(kKey);
            EVP_CIPHER_CTX *context = EVP_CIPHER_CTX_new();
            const auto *in = reinterpret_cast<const std::uint8_t *>(input.constData());
            auto *out = reinterpret_cast<std::uint8_t *>(output.data());

            const auto stream = [&] {
                destination.seek(0);
                if (direction == Encrypt)
                    encrypt_stream_cbc(source, 0, kKey, kIv, destination);
                else
                    decrypt_stream_cbc(source, 0, kKey, kIv, destination);
            };
            const auto engine = [&] {
                AesBlock chain = kIv;
                if (direction == Encrypt)
                    aes_engine::cbc_encrypt(aes_engine::best(), key, chain, in, out, std::size_t(size / 16));
                else
                    aes_engine::cbc_decrypt(aes_engine::best(), key, chain, in, out, std::size_t(size / 16));
            };
            const auto openssl = [&] {
                int written = 0;
                EVP_CipherInit_ex(context, EVP_aes_128_cbc(), nullptr, kKey.data(), kIv.data(),
                                  direction == Encrypt ? 1 : 0);
                EVP_CIPHER_CTX_set_padding(context, 0);
                EVP_CipherUpdate(context, out, &written, in, static_cast<int>(size));
            };
            stream(), engine(), openssl(); // pages touched, code warm
            std::vector<double> stream_ratio, engine_ratio, openssl_seconds;
            for (int round = 0; round < rounds; ++round) {
                double s = 0, e = 0, o = 0;
                if (round % 2 == 0) {
                    s = timed(stream), e = timed(engine), o = timed(openssl);
                } else {
                    o = timed(openssl), e = timed(engine), s = timed(stream);
                }
                stream_ratio.push_back(o / s);
                engine_ratio.push_back(o / e);
                openssl_seconds.push_back(o);
            }
            EVP_CIPHER_CTX_free(context);
            std::printf("%-10s %6lld MB %8.3f %8.3f %12.0f\n", direction == Encrypt ? "encrypt" : "decrypt",
                        static_cast<long long>(size >> 20), median(stream_ratio), median(engine_ratio),
                        static_cast<double>(size) / 1e6 / median(openssl_seconds));
        }
    }
}

int main(int argc, char **argv)
{
    if (!outputs_match_openssl())
        return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::AddCustomContext("output_check", "stream and engines give OpenSSL's bytes");
    static const char *const kNames[] = {"tables", "AES-NI", "VAES 256-bit", "VAES 512-bit"};
    benchmark::AddCustomContext("aes_engine", kNames[static_cast<int>(aes_engine::best())]);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    print_ratios();
    return 0;
}
