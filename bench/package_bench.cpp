// Throughput and peak memory of loading a large firmware package, next to the
// two passes over the bytes that matter most: Blowfish-ECB decryption (ours and
// OpenSSL's) and CRC-32 (ours and zlib's). Every benchmark works on the same
// 64 MiB: the payload of one package file written at start-up.
//
// OpenSSL is measured the fastest way it offers: one EVP_DecryptUpdate over the
// whole buffer, with Blowfish from OpenSSL 3's legacy provider. One BF_ecb_encrypt
// call per block is measured beside it; the two run close (the legacy provider's
// ECB loops over the same block function), and the goal is taken against the
// faster of them on the machine at hand.
//
// The load benchmark reads the file from the page cache (the summary says how much
// of the file was resident); a second one drops the file's pages before each load.
//
// What we aim for: a load at least 0.9 times as fast as OpenSSL's Blowfish-ECB
// alone, and a load whose peak memory is at most 1.2 times the file size. The
// summary printed after the benchmarks gives both figures.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/blowfish.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/temp_dir_testing.h"
#include "common/crc32.h"
#include "package/container.h"
#include "package/content.h"
#include "package/pkg.h"

namespace {

constexpr std::uint16_t kComponentCount = 5;
// Five components of this size make a package of about 64 MiB.
constexpr std::size_t kComponentBytes = (std::size_t{64} << 20) / kComponentCount / 8 * 8;
constexpr char kSetKey[] = "0100200030000400005000063";  // memory form

// What the benchmarks share, made once in main().
struct Data {
    std::string path;                    // the package file
    std::uint64_t fileBytes = 0;         // its size
    std::vector<std::uint8_t> payload;   // its bytes after the checksum, still encrypted
    std::vector<std::uint8_t> scratch;   // the same, decrypted in place by the cipher benchmarks
    BF_KEY openSslKey{};
    EVP_CIPHER* evpBlowfish = nullptr;   // BF-ECB from the legacy provider
};
Data* data = nullptr;

void Fail(const std::string& message) {
    std::fprintf(stderr, "package_bench: %s\n", message.c_str());
    std::exit(EXIT_FAILURE);
}

// splitmix64: fast, and the same bytes on every run.
void FillPseudoRandom(std::span<std::uint8_t> bytes) {
    std::uint64_t state = 0x5eed;
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
        z ^= z >> 31;
        std::memcpy(bytes.data() + i, &z, std::min<std::size_t>(8, bytes.size() - i));
    }
}

// One set of five components of types 1 to 5 with pseudo-random contents,
// serialized as it is stored in a file (before encryption).
std::vector<std::uint8_t> MakePackagePayload() {
    auto contents = std::make_shared<std::vector<std::uint8_t>>(kComponentCount * kComponentBytes);
    FillPseudoRandom(*contents);

    FirmwarePackage package;
    const std::string model = "BENCH-MONITOR";
    std::copy(model.begin(), model.end(), package.modelName.begin());
    package.version = kSetKey;
    FirmwareSet set;
    set.key = kSetKey;
    for (std::uint16_t type = 1; type <= kComponentCount; ++type) {
        FirmwareComponent c;
        c.type = type;
        c.writeSeconds = 30;
        c.data = SharedSlice{contents, contents->data() + (type - 1) * kComponentBytes, kComponentBytes};
        set.components.emplace(type, std::move(c));
    }
    package.sets.emplace(kSetKey, std::move(set));
    auto payload = SerializePackage(package);
    if (!payload) Fail("the package could not be serialized");
    return std::move(*payload);
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes(std::filesystem::file_size(path));
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
        Fail("cannot read " + path);
    return bytes;
}

void OpenSslDecryptPerBlock(std::span<std::uint8_t> bytes) {
    for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8)
        BF_ecb_encrypt(bytes.data() + i, bytes.data() + i, &data->openSslKey, BF_DECRYPT);
}

// One context and one update over the whole buffer, in place, without padding.
// The context is set up per call as a program decrypting a file would.
bool OpenSslDecryptEvp(std::span<std::uint8_t> bytes) {
    const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                              &EVP_CIPHER_CTX_free);
    int written = 0;
    return ctx && EVP_DecryptInit_ex(ctx.get(), data->evpBlowfish, nullptr, nullptr, nullptr) == 1 &&
           EVP_CIPHER_CTX_set_key_length(ctx.get(), sizeof kPackageKeyText) == 1 &&
           EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, reinterpret_cast<const unsigned char*>(kPackageKeyText),
                              nullptr) == 1 &&
           EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
           EVP_DecryptUpdate(ctx.get(), bytes.data(), &written, bytes.data(), static_cast<int>(bytes.size())) == 1 &&
           static_cast<std::size_t>(written) == bytes.size();
}

// Blowfish lives in OpenSSL 3's legacy provider; the default provider is loaded
// beside it, since loading one provider explicitly stops the default loading itself.
void FetchEvpBlowfish() {
    if (!OSSL_PROVIDER_load(nullptr, "legacy") || !OSSL_PROVIDER_load(nullptr, "default"))
        Fail("OpenSSL's legacy provider (Blowfish) cannot be loaded");
    data->evpBlowfish = EVP_CIPHER_fetch(nullptr, "BF-ECB", nullptr);
    if (data->evpBlowfish == nullptr) Fail("OpenSSL offers no BF-ECB");
}

// The share of the file's pages in the page cache, from mincore().
double ResidentShare(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    const std::size_t size = std::filesystem::file_size(path);
    void* map = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (map == MAP_FAILED) return -1;
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> resident((size + page - 1) / page);
    const bool ok = mincore(map, size, resident.data()) == 0;
    munmap(map, size);
    if (!ok) return -1;
    const auto in = std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return (r & 1) != 0; });
    return static_cast<double>(in) / static_cast<double>(resident.size());
}

// Asks the kernel to drop the file's clean pages from the page cache.
bool DropFromPageCache(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fdatasync(fd) == 0 && posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    close(fd);
    return ok;
}

// Our blocks are two little-endian words, OpenSSL's two big-endian ones.
void SwapWords(std::span<std::uint8_t> bytes) {
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) std::reverse(bytes.begin() + i, bytes.begin() + i + 4);
}

// Before anything is timed: both ciphers must turn the file's payload back into
// the package that was written, and both CRCs must agree; otherwise comparing
// their speeds would mean nothing.
void CheckAgainstReferences(const std::vector<std::uint8_t>& plain) {
    std::vector<std::uint8_t> ours = data->payload;
    PackageCipher().DecryptEcb(ours);
    if (!std::equal(plain.begin(), plain.end(), ours.begin()))
        Fail("the package file does not decrypt to the package that was written");

    std::vector<std::uint8_t> theirs = data->payload;
    SwapWords(theirs);
    OpenSslDecryptPerBlock(theirs);
    SwapWords(theirs);
    if (theirs != ours) Fail("OpenSSL's BF_ecb_encrypt and our Blowfish-ECB decrypt the same blocks differently");

    theirs = data->payload;
    SwapWords(theirs);
    if (!OpenSslDecryptEvp(theirs)) Fail("OpenSSL's EVP BF-ECB failed");
    SwapWords(theirs);
    if (theirs != ours) Fail("OpenSSL's EVP BF-ECB and our Blowfish-ECB decrypt the same blocks differently");

    if (Crc32(data->payload) != crc32_z(0, data->payload.data(), data->payload.size()))
        Fail("our CRC-32 and zlib's disagree");
}

void SetBytes(benchmark::State& state, std::uint64_t perIteration) {
    state.SetBytesProcessed(static_cast<std::int64_t>(perIteration) * state.iterations());
}

// Each iteration starts from the encrypted bytes again; the copy is not timed.
void RestoreScratch(benchmark::State& state) {
    state.PauseTiming();
    std::memcpy(data->scratch.data(), data->payload.data(), data->payload.size());
    state.ResumeTiming();
}

void BM_PkgLoadFile(benchmark::State& state) {
    for (auto _ : state) {
        PackageHandle handle{};
        if (PkgLoadFile(data->path.c_str(), &handle) != kStatusSuccess) {
            state.SkipWithError("PkgLoadFile failed");
            break;
        }
        PkgCloseAll();
    }
    SetBytes(state, data->fileBytes);
}

// The same load with the file's pages dropped first: the disk's speed, not ours.
void BM_PkgLoadFileCold(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        const bool dropped = DropFromPageCache(data->path);
        state.counters["resident_before"] = ResidentShare(data->path);
        state.ResumeTiming();
        PackageHandle handle{};
        if (!dropped || PkgLoadFile(data->path.c_str(), &handle) != kStatusSuccess) {
            state.SkipWithError("the page cache could not be dropped or PkgLoadFile failed");
            break;
        }
        PkgCloseAll();
    }
    SetBytes(state, data->fileBytes);
}

void BM_OurBlowfishDecryptEcb(benchmark::State& state) {
    for (auto _ : state) {
        RestoreScratch(state);
        PackageCipher().DecryptEcb(data->scratch);
        benchmark::ClobberMemory();
    }
    SetBytes(state, data->scratch.size());
}

// The timed bytes are our file's, not byte-swapped into OpenSSL's word order:
// Blowfish takes as long whatever the bytes, and the swap is no part of OpenSSL's work.
void BM_OpenSslEvpBlowfishEcb(benchmark::State& state) {
    for (auto _ : state) {
        RestoreScratch(state);
        if (!OpenSslDecryptEvp(data->scratch)) {
            state.SkipWithError("EVP_DecryptUpdate failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    SetBytes(state, data->scratch.size());
}

void BM_OpenSslBlowfishPerBlock(benchmark::State& state) {
    for (auto _ : state) {
        RestoreScratch(state);
        OpenSslDecryptPerBlock(data->scratch);
        benchmark::ClobberMemory();
    }
    SetBytes(state, data->scratch.size());
}

void BM_OurCrc32(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(Crc32(data->payload));
    SetBytes(state, data->payload.size());
}

void BM_ZlibCrc32(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(crc32_z(0, data->payload.data(), data->payload.size()));
    SetBytes(state, data->payload.size());
}

// Resident memory figures of the child process, in kB as /proc reports them.
struct LoadMemory {
    bool ok = false;
    long baselineKb = 0;
    long peakKb = 0;
    long afterKb = 0;  // still resident once the load has returned, the package open
};

long StatusFieldKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.compare(0, prefix.size(), prefix) == 0) return std::atol(line.c_str() + prefix.size());
    return -1;
}

LoadMemory MeasureLoadInThisProcess() {
    LoadMemory m;
    {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5";
        if (!clear.flush()) return m;
    }
    m.baselineKb = StatusFieldKb("VmHWM");
    PackageHandle handle{};
    const Status status = PkgLoadFile(data->path.c_str(), &handle);
    m.peakKb = StatusFieldKb("VmHWM");
    m.afterKb = StatusFieldKb("VmRSS");
    m.ok = status == kStatusSuccess && m.baselineKb >= 0 && m.peakKb >= 0;
    return m;
}

// The peak memory of one load is measured in a forked child, away from what
// this process has allocated and freed before. VmHWM is the peak resident set
// size; writing "5" to /proc/self/clear_refs resets it to the current resident
// size. So the child resets it, reads it (the baseline), loads the package
// once and reads it again: the difference is what the load needed at its
// highest. The child sends the figures back through a pipe and leaves with
// _exit(), so that it runs none of this process's exit handlers.
void BM_PkgLoadFilePeakMemory(benchmark::State& state) {
    LoadMemory m;
    for (auto _ : state) {
        int fds[2];
        if (pipe(fds) != 0) {
            state.SkipWithError("pipe failed");
            return;
        }
        const pid_t child = fork();
        if (child == 0) {
            close(fds[0]);
            const LoadMemory result = MeasureLoadInThisProcess();
            const bool sent = write(fds[1], &result, sizeof result) == static_cast<ssize_t>(sizeof result);
            _exit(sent ? 0 : 1);
        }
        close(fds[1]);
        const bool received = child > 0 && read(fds[0], &m, sizeof m) == static_cast<ssize_t>(sizeof m);
        close(fds[0]);
        if (child > 0) waitpid(child, nullptr, 0);
        if (!received || !m.ok) {
            state.SkipWithError("the child process could not measure a load");
            return;
        }
    }
    const double fileKb = static_cast<double>(data->fileBytes) / 1024;
    state.counters["peak_rss_MiB"] = static_cast<double>(m.peakKb - m.baselineKb) / 1024;
    state.counters["peak_rss_x_file"] = static_cast<double>(m.peakKb - m.baselineKb) / fileKb;
    state.counters["kept_rss_x_file"] = static_cast<double>(m.afterKb - m.baselineKb) / fileKb;
}

// The 64 MiB benchmarks take about 0.1 to 1 s an iteration: a few iterations
// each keep the whole run well under a minute. All of them run on this one
// thread and, with the file in the page cache, never wait: their rates are
// taken from the process's CPU time, which a busy machine does not inflate.
BENCHMARK(BM_PkgLoadFile)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_OurBlowfishDecryptEcb)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_OpenSslEvpBlowfishEcb)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_OpenSslBlowfishPerBlock)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_OurCrc32)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_ZlibCrc32)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_PkgLoadFilePeakMemory)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
// Last, so that every benchmark before it finds the file in the page cache.
// Real time: the load waits for the disk.
BENCHMARK(BM_PkgLoadFileCold)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Prints as usual and keeps each benchmark's counters for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal, as the default reporter does.
    SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred && run.run_type == Run::RT_Iteration)
                counters_[run.run_name.function_name] = run.counters;
    }

    void PrintSummary() const {
        const double load = Counter("BM_PkgLoadFile", "bytes_per_second");
        const double cold = Counter("BM_PkgLoadFileCold", "bytes_per_second");
        const double ours = Counter("BM_OurBlowfishDecryptEcb", "bytes_per_second");
        const double evp = Counter("BM_OpenSslEvpBlowfishEcb", "bytes_per_second");
        const double perBlock = Counter("BM_OpenSslBlowfishPerBlock", "bytes_per_second");
        const double peak = Counter("BM_PkgLoadFilePeakMemory", "peak_rss_x_file");
        // The reference is whichever of OpenSSL's two ways was faster on this machine.
        const double openSsl = std::max(evp, perBlock);
        const char* fastest = evp >= perBlock ? "EVP over the whole buffer" : "one BF_ecb_encrypt per block";
        std::printf("\n");
        if (warmResident_ >= 0)
            std::printf("package file in the page cache before the load benchmark: %.0f %% of its pages\n",
                        warmResident_ * 100);
        if (evp > 0 && perBlock > 0)
            std::printf("OpenSSL Blowfish-ECB: EVP %.1f MiB/s, per block %.1f MiB/s; the faster is the reference\n",
                        evp / (1 << 20), perBlock / (1 << 20));
        if (load > 0 && openSsl > 0)
            std::printf("load (page cache) / OpenSSL (%s) = %.2f  (%.1f / %.1f MiB/s of CPU time; goal >= 0.90)\n",
                        fastest, load / openSsl, load / (1 << 20), openSsl / (1 << 20));
        if (ours > 0 && openSsl > 0)
            std::printf("our Blowfish-ECB / OpenSSL (%s) = %.2f  (%.1f / %.1f MiB/s)\n", fastest, ours / openSsl,
                        ours / (1 << 20), openSsl / (1 << 20));
        if (cold > 0)
            std::printf("load with the file's pages dropped first: %.1f MiB/s of real time\n", cold / (1 << 20));
        if (peak > 0) std::printf("peak memory of one load = %.2f x file size  (goal <= 1.20)\n", peak);
        std::fflush(stdout);
    }

private:
    double Counter(const std::string& benchmark, const std::string& name) const {
        const auto b = counters_.find(benchmark);
        if (b == counters_.end()) return 0;
        const auto c = b->second.find(name);
        return c == b->second.end() ? 0 : c->second.value;
    }

    std::map<std::string, benchmark::UserCounters> counters_;
    double warmResident_ = ResidentShare(data->path);
};


}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    static TempDir dir;  // static: also removed when Fail() calls exit()
    static Data shared;
    data = &shared;
    data->path = dir.File("bench.pkg");
    {
        const std::vector<std::uint8_t> plain = MakePackagePayload();
        if (WriteContainer(data->path, plain.data(), plain.size()) != kStatusSuccess)
            Fail("cannot write " + data->path);
        std::vector<std::uint8_t> file = ReadWholeFile(data->path);
        data->fileBytes = file.size();
        data->payload.assign(file.begin() + 2, file.end());
        data->scratch.resize(data->payload.size());
        FetchEvpBlowfish();
        BF_set_key(&data->openSslKey, sizeof kPackageKeyText, reinterpret_cast<const unsigned char*>(kPackageKeyText));
        CheckAgainstReferences(plain);
    }
    std::printf("package file: %s, %.2f MiB\n", data->path.c_str(), static_cast<double>(data->fileBytes) / (1 << 20));

    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
