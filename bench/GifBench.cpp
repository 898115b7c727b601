// Decodes the same in-memory GIF files with this codec, wuffs (when built
// with it), giflib and stb_image in one run, and prints per file the median
// time of each decoder and each peer's time relative to ours.
//
//   gifbench [benchmark flags] PATH...        PATH: a .gif file or a folder of them
//   gifbench --peak DECODER FILE              decodes FILE once and prints the peak of its
//                                             resident data (standard error)
//   gifbench --decoders                       prints the decoders' names
//   gifbench --verify PATH...                 checks our raster decoder against the
//                                             reference decoder, reports giflib's
//                                             indices and checks wuffs' on one-frame files

#include "Decoders.h"
#include "Peers.h"

#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct GifFile {
    std::string name;
    Bytes bytes;
    GifCensus census;
};

bool ReadFile(const fs::path& path, Bytes& bytes)
{
    std::error_code error;
    auto size = fs::file_size(path, error);
    std::ifstream in(path, std::ios::binary);
    if (error || !in)
        return false;
    // Exactly the file, so that peak memory counts no spare capacity.
    bytes.resize(size);
    return static_cast<bool>(in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)));
}

// Files named directly, then the .gif files of each named folder in name order.
std::vector<fs::path> CollectPaths(int argc, char** argv, int first)
{
    std::vector<fs::path> paths;
    for (int i = first; i < argc; ++i) {
        fs::path p(argv[i]);
        if (fs::is_directory(p)) {
            std::vector<fs::path> inFolder;
            for (const auto& entry : fs::directory_iterator(p))
                if (entry.is_regular_file() && entry.path().extension() == ".gif")
                    inFolder.push_back(entry.path());
            std::sort(inFolder.begin(), inFolder.end());
            paths.insert(paths.end(), inFolder.begin(), inFolder.end());
        } else {
            paths.push_back(p);
        }
    }
    return paths;
}

std::vector<GifFile> LoadFiles(const std::vector<fs::path>& paths)
{
    std::vector<GifFile> files;
    for (const auto& p : paths) {
        GifFile f;
        f.name = p.filename().string();
        if (!ReadFile(p, f.bytes)) {
            std::fprintf(stderr, "cannot read %s\n", p.string().c_str());
            continue;
        }
        f.census = CountGifPixels(f.bytes);
        files.push_back(std::move(f));
    }
    return files;
}

double ToMilliseconds(double value, benchmark::TimeUnit unit)
{
    switch (unit) {
    case benchmark::kNanosecond: return value / 1e6;
    case benchmark::kMicrosecond: return value / 1e3;
    case benchmark::kMillisecond: return value;
    case benchmark::kSecond: return value * 1e3;
    }
    return value;
}

// The console output as usual, and afterwards one table with the median CPU
// time of every decoder per file and the ratios to ours, all from this run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter(const std::vector<GifFile>& files, const std::vector<Decoder>& decoders)
        : ConsoleReporter(OO_Tabular), files_(files), decoders_(decoders)
    {
    }

    void ReportRuns(const std::vector<Run>& reports) override
    {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& run : reports) {
            Result& r = results_[run.run_name.function_name];
            if (run.error_occurred) {
                r.failed = true;
                continue;
            }
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Iteration && !r.fromMedian) {
                r.ms = ToMilliseconds(run.GetAdjustedCPUTime(), run.time_unit);
                r.present = true;
            } else if (median) {
                r.ms = ToMilliseconds(run.GetAdjustedCPUTime(), run.time_unit);
                r.present = r.fromMedian = true;
            }
        }
    }

    void PrintTable() const
    {
        std::printf("\nCPU time per decode in ms (median when repeated); ratio = peer time / ours\n");
        std::printf("%-40s %8s", "file", "MPix");
        for (const Decoder& d : decoders_)
            std::printf(" %10s", d.name);
        for (const Decoder& d : decoders_)
            if (!d.ours)
                std::printf(" %9s", (std::string(d.name) + "/us").c_str());
        std::printf(" %9s\n", "us MP/s");
        for (const GifFile& f : files_) {
            // Files the filter left out have no results.
            if (std::none_of(decoders_.begin(), decoders_.end(), [&](const Decoder& d) { return Find(f, d); }))
                continue;
            std::printf("%-40s %8.2f", f.name.c_str(), f.census.pixels / 1e6);
            for (const Decoder& d : decoders_)
                PrintTime(Find(f, d));
            const Result* ours = Find(f, decoders_.front());
            for (const Decoder& d : decoders_) {
                if (d.ours)
                    continue;
                const Result* peer = Find(f, d);
                if (ours && peer && ours->present && peer->present && ours->ms > 0)
                    std::printf(" %9.2f", peer->ms / ours->ms);
                else
                    std::printf(" %9s", "-");
            }
            if (ours && ours->present && ours->ms > 0)
                std::printf(" %9.1f\n", f.census.pixels / 1e6 / (ours->ms / 1e3));
            else
                std::printf(" %9s\n", "-");
        }
        std::fflush(stdout);
    }

    static std::string BenchmarkName(const GifFile& f, const Decoder& d) { return f.name + "/" + d.name; }

private:
    struct Result {
        double ms = 0;
        bool present = false;
        bool fromMedian = false;
        bool failed = false;
    };

    const Result* Find(const GifFile& f, const Decoder& d) const
    {
        auto it = results_.find(BenchmarkName(f, d));
        return it == results_.end() ? nullptr : &it->second;
    }

    static void PrintTime(const Result* r)
    {
        if (!r)
            std::printf(" %10s", "-");
        else if (r->failed)
            std::printf(" %10s", "fails");
        else if (r->present)
            std::printf(" %10.4f", r->ms);
        else
            std::printf(" %10s", "-");
    }

    const std::vector<GifFile>& files_;
    const std::vector<Decoder>& decoders_;
    std::map<std::string, Result> results_;
};

// Not timed: how often our codec allocates, per load and per frame bitmap.
void PrintAllocations(const std::vector<GifFile>& files)
{
    std::printf("\nHeap allocations (operator new) of ours: image and load with frame 0's bitmap; each later "
                "frame's bitmap\n");
    std::printf("%-40s %8s %8s %12s\n", "file", "frames", "load", "later/frame");
    for (const GifFile& f : files) {
        AllocationCounts counts;
        if (!CountAllocations(f.bytes, counts)) {
            std::printf("%-40s %8s\n", f.name.c_str(), "fails");
            continue;
        }
        std::printf("%-40s %8d %8llu", f.name.c_str(), counts.frames, static_cast<unsigned long long>(counts.load));
        if (counts.frames > 1)
            std::printf(" %12.1f\n", double(counts.laterFrames) / (counts.frames - 1));
        else
            std::printf(" %12s\n", "-");
    }
    std::fflush(stdout);
}

const Decoder* FindDecoder(const std::vector<Decoder>& decoders, const std::string& name)
{
    for (const Decoder& d : decoders)
        if (name == d.name)
            return &d;
    return nullptr;
}

void Usage()
{
    std::fprintf(stderr,
                 "usage: gifbench [benchmark flags] PATH...\n"
                 "       gifbench --peak DECODER FILE\n"
                 "       gifbench --decoders\n"
                 "       gifbench --verify PATH...\n"
                 "PATH is a .gif file or a folder whose .gif files are used.\n");
}

// Maps every page of the process's file-backed mappings (the executable and
// the libraries) without writing them.
void MapFilePages()
{
#ifndef MADV_POPULATE_READ
#define MADV_POPULATE_READ 22
#endif
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        unsigned long start = 0, end = 0;
        char perms[5] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %4s", &start, &end, perms) != 3 || perms[0] != 'r' ||
            line.find(" /") == std::string::npos)
            continue;
        madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_READ);
    }
}

// The process's peak resident memory less its file-backed pages (code and
// libraries, all mapped by then): its data's peak, in KiB. Which pages of
// the libraries are resident differs from run to run by more than the
// margins the memory goal is about.
long PeakDataKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    long peak = -1, file = 0, shared = 0;
    while (std::getline(status, line)) {
        long kib = 0;
        if (std::sscanf(line.c_str(), "VmHWM: %ld", &kib) == 1)
            peak = kib;
        else if (std::sscanf(line.c_str(), "RssFile: %ld", &kib) == 1)
            file = kib;
        else if (std::sscanf(line.c_str(), "RssShmem: %ld", &kib) == 1)
            shared = kib;
    }
    return peak < 0 ? -1 : peak - file - shared;
}

int PeakMode(int argc, char** argv, const std::vector<Decoder>& decoders)
{
    if (argc != 4) {
        Usage();
        return 2;
    }
    // "none" only reads the file: the baseline of the others.
    bool none = std::strcmp(argv[2], "none") == 0;
    const Decoder* d = FindDecoder(decoders, argv[2]);
    Bytes bytes;
    if ((!d && !none) || !ReadFile(argv[3], bytes)) {
        std::fprintf(stderr, "unknown decoder or unreadable file\n");
        return 2;
    }
    // Every decoder's code resident in every run: the peaks then differ by
    // data alone, not by how much of the executable each one's first touches
    // happened to map around themselves.
    MapFilePages();
    int status = 0;
    if (!none) {
        std::function<bool()> decode = d->prepare(bytes);
        // Ours decodes its own memory-stream copy of the file: dropping the
        // bytes leaves one copy of the file in memory, as with the others.
        if (d->ours)
            Bytes().swap(bytes);
        status = decode() ? 0 : 1;
    }
    std::fprintf(stderr, "peak data KiB: %ld\n", PeakDataKiB());
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<Decoder> decoders = AllDecoders();
    if (argc > 1 && std::strcmp(argv[1], "--peak") == 0)
        return PeakMode(argc, argv, decoders);
    if (argc == 2 && std::strcmp(argv[1], "--decoders") == 0) {
        for (const Decoder& d : decoders)
            std::printf("%s\n", d.name);
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--verify") == 0) {
        std::vector<GifFile> files = LoadFiles(CollectPaths(argc, argv, 2));
        if (files.empty())
            return 77;  // nothing to verify: skipped
        VerifyCounts total;
        for (const GifFile& f : files) {
            VerifyCounts c = Verify(f.name, f.bytes);
            total.decodes += c.decodes;
            total.mismatches += c.mismatches;
            total.giflibSame += c.giflibSame;
            total.giflibDifferent += c.giflibDifferent;
            total.wuffsSame += c.wuffsSame;
            total.wuffsDifferent += c.wuffsDifferent;
            total.wuffsSkipped += c.wuffsSkipped;
        }
        std::printf("%zu files: %d of %d frame decodes differ from the reference decoder; %d frames as giflib, "
                    "%d not\n",
                    files.size(), total.mismatches, total.decodes, total.giflibSame, total.giflibDifferent);
#ifdef KANTREL_BENCH_WUFFS
        std::printf("wuffs on one-frame files: %d as the reference decoder, %d not, %d not decoded whole\n",
                    total.wuffsSame, total.wuffsDifferent, total.wuffsSkipped);
#else
        std::printf("wuffs: skipped (../shared/peers/wuffs was not found when gifbench was built)\n");
#endif
        // Nothing compared at all means the check itself is broken.
        return total.mismatches == 0 && total.giflibDifferent == 0 && total.wuffsDifferent == 0 &&
                       total.decodes > 0
                   ? 0
                   : 1;
    }

    benchmark::Initialize(&argc, argv);
    std::vector<GifFile> files = LoadFiles(CollectPaths(argc, argv, 1));
    if (files.empty()) {
        Usage();
        return 2;
    }
    for (const GifFile& f : files) {
        for (const Decoder& d : decoders) {
            std::function<bool()> decode = d.prepare(f.bytes);
            int64_t pixels = f.census.pixels;
            benchmark::RegisterBenchmark(RatioReporter::BenchmarkName(f, d).c_str(),
                                         [decode, pixels](benchmark::State& state) {
                                             for (auto _ : state) {
                                                 if (!decode()) {
                                                     state.SkipWithError("decoding failed");
                                                     break;
                                                 }
                                             }
                                             state.counters["pixels/s"] = benchmark::Counter(
                                                 static_cast<double>(pixels),
                                                 benchmark::Counter::kIsIterationInvariantRate);
                                         })
                ->Unit(benchmark::kMillisecond);
        }
    }
#ifndef KANTREL_BENCH_WUFFS
    std::printf("wuffs: skipped (../shared/peers/wuffs was not found when gifbench was built)\n");
#endif
    RatioReporter reporter(files, decoders);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintTable();
    PrintAllocations(files);
    benchmark::Shutdown();
    return 0;
}
