// The transcript tailer's first drain of a 100 MB transcript, next to reading the same file in
// the same blocks (the baseline: the drain should be bound by reading, not by splitting and
// decoding lines). A third figure adds what the Claude watcher does with each line. Each figure
// is the CPU time of the thread doing the work (the drain runs on the tailer's queue), which
// other load on the machine disturbs less than wall time.
#include "core/SerialQueue.h"
#include "observe/ClaudeTranscripts.h"
#include "observe/JSONLTailer.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <ctime>

namespace {

QString gPath;
qint64 gSize = 0;

double threadSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

QByteArray line(int i) {
    const QByteArray n = QByteArray::number(i);
    switch (i % 5) {
    case 0:
        return "{\"parentUuid\":\"" + n + "\",\"isSidechain\":false,\"type\":\"user\",\"sessionId\":\"0b1e\","
               "\"cwd\":\"/home/ann/repo\",\"message\":{\"role\":\"user\",\"content\":\"Please fix the failing test "
               "number " + n + " and explain what went wrong.\"}}\n";
    case 1:
    case 3:
        return "{\"parentUuid\":\"" + n + "\",\"isSidechain\":false,\"type\":\"assistant\",\"sessionId\":\"0b1e\","
               "\"message\":{\"model\":\"claude-opus-4-1-20250805\",\"role\":\"assistant\",\"content\":[{\"type\":"
               "\"text\",\"text\":\"" + QByteArray("I looked at the code. ").repeated(40) + "Caf\xc3\xa9 \xe2\x9c\x93\"}],"
               "\"usage\":{\"input_tokens\":12,\"cache_creation_input_tokens\":340,\"cache_read_input_tokens\":51000,"
               "\"output_tokens\":" + n + "}}}\n";
    case 2:
        return "{\"parentUuid\":\"" + n + "\",\"type\":\"user\",\"sessionId\":\"0b1e\",\"message\":{\"role\":\"user\","
               "\"content\":[{\"type\":\"tool_result\",\"content\":\"" + QByteArray("line of tool output\\n").repeated(400) +
               "\"}]}}\n";
    default:
        return "{\"type\":\"summary\",\"summary\":\"Fixing tests\",\"leafUuid\":\"" + n + "\"}\n";
    }
}

bool writeTranscript(const QString& path, qint64 size) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    qint64 written = 0;
    QByteArray block;
    for (int i = 0; written < size; ++i) {
        block += line(i);
        if (block.size() > (1 << 20)) {
            written += f.write(block);
            block.clear();
        }
    }
    f.write(block);
    return true;
}

void BM_ReadFileBaseline(benchmark::State& state) {
    QByteArray block(JSONLTailer::Options{}.readBlockBytes, Qt::Uninitialized);
    for (auto _ : state) {
        const double started = threadSeconds();
        QFile f(gPath);
        f.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        uint64_t sum = 0;
        for (qint64 n; (n = f.read(block.data(), block.size())) > 0;) sum += uint8_t(block[n - 1]);
        benchmark::DoNotOptimize(sum);
        state.SetIterationTime(threadSeconds() - started);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * gSize);
}
BENCHMARK(BM_ReadFileBaseline)->Unit(benchmark::kMillisecond)->UseManualTime();

template <typename Consume>
void drainOnce(benchmark::State& state, SerialQueue& queue, Consume consume) {
    queue.sync([&] {
        const double started = threadSeconds();
        {
            JSONLTailer tailer(gPath, queue, consume);
            tailer.start();
        }
        state.SetIterationTime(threadSeconds() - started);
    });
}

void BM_TailerFirstDrain(benchmark::State& state) {
    SerialQueue queue(QStringLiteral("bench-tailer"));
    qsizetype lines = 0;
    for (auto _ : state) drainOnce(state, queue, [&](const QStringList& batch) { lines += batch.size(); });
    benchmark::DoNotOptimize(lines);
    state.SetBytesProcessed(int64_t(state.iterations()) * gSize);
}
BENCHMARK(BM_TailerFirstDrain)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_TailerFirstDrainWithUsage(benchmark::State& state) {
    SerialQueue queue(QStringLiteral("bench-tailer"));
    qint64 tokens = 0;
    for (auto _ : state) {
        std::optional<QString> sessionID;
        drainOnce(state, queue, [&](const QStringList& batch) {
            for (const QString& l : batch) {
                if (!sessionID) sessionID = ClaudeTranscriptLocator::sessionID(l);
                if (auto usage = ClaudeUsage::parseAssistantRecord(l)) tokens += usage->tokensIn + usage->tokensOut;
            }
        });
    }
    benchmark::DoNotOptimize(tokens);
    state.SetBytesProcessed(int64_t(state.iterations()) * gSize);
}
BENCHMARK(BM_TailerFirstDrainWithUsage)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    QTemporaryDir dir;
    gPath = dir.filePath(QStringLiteral("transcript.jsonl"));
    if (!writeTranscript(gPath, 100LL << 20)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(gPath));
        return 1;
    }
    gSize = QFile(gPath).size();
    std::printf("transcript: %.1f MB\n", double(gSize) / 1e6);
    RatioReporter reporter({{"BM_TailerFirstDrain", "BM_ReadFileBaseline"},
                            {"BM_TailerFirstDrainWithUsage", "BM_ReadFileBaseline"}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
