// Saved recordsets: opening one through the persistence provider, reading
// its fields and saving it again, each against a baseline measured in the
// same run on the same data:
//   load        pugixml's xml_document::load_buffer (default flags) of the
//               same bytes already in memory
//   field read  VariantCopy + VariantClear of the same value
//   save        pugixml saving a document that holds the same rows
// Sizes: 10,000 and 100,000 rows; 1,000,000 rows only when the environment
// sets NUV_BENCH_BIG=1.
//
// The ratios and per-row figures use the thread's CPU time (user and
// system, so reading the file counts), measured around each operation and
// its baseline in turn: on a shared machine the wall clock mostly measures
// the other processes.
//
// Memory: `bench_persist --memory <rows>` opens a file of that many rows in
// a fresh process and prints the peak growth of the resident set during
// the open (getrusage maxrss against the resident set before it) and the
// heap the open recordset keeps (mallinfo2), each as a multiple of the file
// size.  `bench_persist --memory-table` runs that for every size.
#include "saved_recordset_gen.h"

#include <adoint.h>
#include <oleauto.h>

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr GUID AdoGuid(DWORD first) {
    return GUID{first, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
}
constexpr GUID kCLSID_Recordset = AdoGuid(0x00000535);
constexpr GUID kIID_Recordset = AdoGuid(0x00000556);

// The calling thread's CPU time.
struct Clock {
    using duration = std::chrono::nanoseconds;
    struct time_point {
        int64_t ns;
        duration operator-(const time_point& o) const { return duration(ns - o.ns); }
    };
    static time_point now() {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return {static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec};
    }
};

bool BigSizes() {
    const char* v = std::getenv("NUV_BENCH_BIG");
    return v && *v && std::strcmp(v, "0") != 0;
}

// The generated document of each size, written once to a file of its own.
struct SavedFile {
    std::string bytes;
    std::string path;
};

const SavedFile& FileOf(size_t rows) {
    static std::map<size_t, SavedFile> files;
    auto it = files.find(rows);
    if (it != files.end())
        return it->second;
    SavedFile f;
    f.bytes = bench_gen::SavedRecordset(rows);
    f.path = "/tmp/nuv_bench_persist_" + std::to_string(getpid()) + "_" + std::to_string(rows) + ".xml";
    std::ofstream(f.path, std::ios::binary).write(f.bytes.data(), static_cast<std::streamsize>(f.bytes.size()));
    return files.emplace(rows, std::move(f)).first->second;
}

void RemoveFiles() {
    for (size_t rows : {10000ul, 100000ul, 1000000ul}) {
        const std::string path =
            "/tmp/nuv_bench_persist_" + std::to_string(getpid()) + "_" + std::to_string(rows) + ".xml";
        std::remove(path.c_str());
    }
}

struct BstrVariant {
    VARIANT v;
    explicit BstrVariant(const std::string& ascii) {
        VariantInit(&v);
        std::u16string w(ascii.begin(), ascii.end());
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(w.c_str()), static_cast<UINT>(w.size()));
    }
    ~BstrVariant() { VariantClear(&v); }
};

_Recordset* OpenFile(const std::string& path) {
    _Recordset* rs = nullptr;
    if (FAILED(CoCreateInstance(kCLSID_Recordset, nullptr, CLSCTX_INPROC_SERVER, kIID_Recordset,
                                reinterpret_cast<void**>(&rs))))
        return nullptr;
    BstrVariant source(path), connection("Provider=MSPersist;");
    if (FAILED(rs->Open(source.v, connection.v, adOpenUnspecified, adLockUnspecified, adCmdUnspecified))) {
        rs->Release();
        return nullptr;
    }
    return rs;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// ---------------------------------------------------------------- load

void BM_BareParse(benchmark::State& state) {
    const SavedFile& file = FileOf(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        pugi::xml_document doc;
        if (!doc.load_buffer(file.bytes.data(), file.bytes.size()))
            state.SkipWithError("pugixml refused the document");
        benchmark::DoNotOptimize(doc.first_child());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.bytes.size()));
    state.counters["ns_per_row"] = benchmark::Counter(static_cast<double>(state.range(0)) * 1e-9,
                                                      benchmark::Counter::kIsIterationInvariantRate |
                                                          benchmark::Counter::kInvert);
}

// Recordset.Open of the file; each iteration also times the bare parse of
// the same bytes (outside the measured time), so that `ratio` compares the
// two interleaved under the same machine load.
void BM_RecordsetOpen(benchmark::State& state) {
    const size_t rows = static_cast<size_t>(state.range(0));
    const SavedFile& file = FileOf(rows);
    // One untimed round of each first, so that neither pays for the
    // process's first touch of its memory.
    if (_Recordset* warm = OpenFile(file.path))
        warm->Release();
    {
        pugi::xml_document doc;
        benchmark::DoNotOptimize(doc.load_buffer(file.bytes.data(), file.bytes.size()));
    }
    double load = 0, parse = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        _Recordset* rs = OpenFile(file.path);
        const auto t1 = Clock::now();
        if (!rs) {
            state.SkipWithError("Open failed");
            break;
        }
        state.PauseTiming();
        rs->Release();
        const auto t2 = Clock::now();
        {
            pugi::xml_document doc;
            benchmark::DoNotOptimize(doc.load_buffer(file.bytes.data(), file.bytes.size()));
        }
        const auto t3 = Clock::now();
        state.ResumeTiming();
        load += Seconds(t1 - t0);
        parse += Seconds(t3 - t2);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.bytes.size()));
    const double n = static_cast<double>(state.iterations());
    state.counters["ns_per_row"] = load / n / static_cast<double>(rows) * 1e9;
    state.counters["bare_parse_ms"] = parse / n * 1e3;
    state.counters["ratio"] = parse > 0 ? load / parse : 0;
}

// ---------------------------------------------------------------- fields

// Fields.Item + Field.Value + release, by ordinal (range 1 = 0) or by name
// (range 1 = 1), of column `range 0` of the first row; the floor is
// VariantCopy + VariantClear of the same value.
void BM_FieldRead(benchmark::State& state) {
    const SavedFile& file = FileOf(10000);
    _Recordset* rs = OpenFile(file.path);
    if (!rs) {
        state.SkipWithError("Open failed");
        return;
    }
    Fields* fields = nullptr;
    rs->get_Fields(&fields);
    const LONG column = static_cast<LONG>(state.range(0));
    VARIANT index;
    VariantInit(&index);
    if (state.range(1) == 0) {
        V_VT(&index) = VT_I4;
        V_I4(&index) = column;
    } else {
        Field* f = nullptr;
        VARIANT ordinal;
        VariantInit(&ordinal);
        V_VT(&ordinal) = VT_I4;
        V_I4(&ordinal) = column;
        fields->get_Item(ordinal, &f);
        BSTR name = nullptr;
        f->get_Name(&name);
        f->Release();
        V_VT(&index) = VT_BSTR;
        V_BSTR(&index) = name;
    }
    VARIANT sample;
    VariantInit(&sample);
    {
        Field* f = nullptr;
        fields->get_Item(index, &f);
        f->get_Value(&sample);
        f->Release();
    }
    double read = 0, floor = 0;
    constexpr int kBatch = 64;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
            Field* f = nullptr;
            fields->get_Item(index, &f);
            VARIANT v;
            VariantInit(&v);
            f->get_Value(&v);
            VariantClear(&v);
            f->Release();
        }
        const auto t1 = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
            VARIANT v;
            VariantInit(&v);
            VariantCopy(&v, &sample);
            benchmark::DoNotOptimize(v);
            VariantClear(&v);
        }
        const auto t2 = Clock::now();
        read += Seconds(t1 - t0);
        floor += Seconds(t2 - t1);
    }
    const double n = static_cast<double>(state.iterations()) * kBatch;
    state.counters["read_ns"] = read / n * 1e9;
    state.counters["floor_ns"] = floor / n * 1e9;
    state.counters["ratio"] = floor > 0 ? read / floor : 0;
    state.SetLabel(V_VT(&sample) == VT_BSTR ? "string" : V_VT(&sample) == VT_I4 ? "int" : "other");
    VariantClear(&sample);
    VariantClear(&index);
    fields->Release();
    rs->Release();
}

// ---------------------------------------------------------------- save

void BM_RecordsetSave(benchmark::State& state) {
    const size_t rows = static_cast<size_t>(state.range(0));
    const SavedFile& file = FileOf(rows);
    _Recordset* rs = OpenFile(file.path);
    if (!rs) {
        state.SkipWithError("Open failed");
        return;
    }
    pugi::xml_document doc;
    doc.load_buffer(file.bytes.data(), file.bytes.size());
    const std::string ours = file.path + ".saved.xml";
    const std::string theirs = file.path + ".pugi.xml";
    BstrVariant target(ours);
    double save = 0, baseline = 0;
    for (auto _ : state) {
        std::remove(ours.c_str());
        const auto t0 = Clock::now();
        const HRESULT hr = rs->Save(target.v, adPersistXML);
        const auto t1 = Clock::now();
        if (FAILED(hr)) {
            state.SkipWithError("Save failed");
            break;
        }
        state.PauseTiming();
        const auto t2 = Clock::now();
        doc.save_file(theirs.c_str(), "\t", pugi::format_raw);
        const auto t3 = Clock::now();
        state.ResumeTiming();
        save += Seconds(t1 - t0);
        baseline += Seconds(t3 - t2);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["ns_per_row"] = save / n / static_cast<double>(rows) * 1e9;
    state.counters["pugixml_save_ms"] = baseline / n * 1e3;
    state.counters["ratio"] = baseline > 0 ? save / baseline : 0;
    std::remove(ours.c_str());
    std::remove(theirs.c_str());
    rs->Release();
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->Arg(10000)->Arg(100000);
    if (BigSizes())
        b->Arg(1000000);
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_BareParse)->Apply(Sizes);
BENCHMARK(BM_RecordsetOpen)->Apply(Sizes);
BENCHMARK(BM_FieldRead)->ArgsProduct({{0, 2}, {0, 1}});
BENCHMARK(BM_RecordsetSave)->Apply([](benchmark::internal::Benchmark* b) {
    b->Arg(100000);
    if (BigSizes())
        b->Arg(1000000);
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
});

// ---------------------------------------------------------------- memory

long ResidentKb() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

size_t HeapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

// In a fresh process: the file is already there; only the open is measured.
int MeasureMemory(const std::string& path, size_t rows) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const double fileBytes = static_cast<double>(in.tellg());
    in.close();
    // Start the host layer before measuring.
    {
        _Recordset* warm = nullptr;
        CoCreateInstance(kCLSID_Recordset, nullptr, CLSCTX_INPROC_SERVER, kIID_Recordset,
                         reinterpret_cast<void**>(&warm));
        if (warm)
            warm->Release();
    }
    malloc_trim(0);
    const long residentBefore = ResidentKb();
    const size_t heapBefore = HeapInUse();
    _Recordset* rs = OpenFile(path);
    if (!rs) {
        std::fprintf(stderr, "open failed\n");
        return 1;
    }
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const double peak = static_cast<double>(usage.ru_maxrss - residentBefore) * 1024.0;
    const double kept = static_cast<double>(HeapInUse() - heapBefore);
    std::printf("%9zu rows  file %7.1f MB  peak growth %7.1f MB = %4.2fx file  kept %7.1f MB = %4.2fx file\n", rows,
                fileBytes / 1e6, peak / 1e6, peak / fileBytes, kept / 1e6, kept / fileBytes);
    rs->Release();
    return 0;
}

int MemoryTable(const char* self) {
    std::vector<size_t> sizes = {10000, 100000};
    if (BigSizes())
        sizes.push_back(1000000);
    for (size_t rows : sizes) {
        const SavedFile& file = FileOf(rows);
        const pid_t child = fork();
        if (child == 0) {
            const std::string count = std::to_string(rows);
            execl(self, self, "--memory-of", file.path.c_str(), count.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
    }
    RemoveFiles();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--memory-of") == 0)
        return MeasureMemory(argv[2], static_cast<size_t>(std::strtoul(argv[3], nullptr, 10)));
    if (argc == 2 && std::strcmp(argv[1], "--memory-table") == 0)
        return MemoryTable("/proc/self/exe");
    // Freed memory stays with the process, so that every repetition (ours
    // and the baselines') reuses pages instead of faulting fresh ones in.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    RemoveFiles();
    return 0;
}
