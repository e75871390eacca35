#include "observe/JSONLTailer.h"

#include "ObserveTestSupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// A tailer on its own queue, with the batches it delivered.
class TailerHarness {
public:
    explicit TailerHarness(const QString& path, JSONLTailer::Options options = {}) : queue_("com.varnix.test-tailer") {
        queue_.sync([&] {
            tailer_ = std::make_unique<JSONLTailer>(
                path, queue_,
                [this](const QStringList& lines) {
                    EXPECT_TRUE(queue_.isCurrent());
                    batches_.add(lines);
                },
                options);
        });
    }
    ~TailerHarness() {
        queue_.sync([&] { tailer_.reset(); });
    }
    void start() {
        queue_.sync([&] { tailer_->start(); });
    }
    void stop() {
        queue_.sync([&] { tailer_->stop(); });
    }
    template <typename F>
    auto onQueue(F f) {
        decltype(f(std::declval<JSONLTailer&>())) result{};
        queue_.sync([&] { result = f(*tailer_); });
        return result;
    }
    QStringList lines() const {
        QStringList all;
        for (const QStringList& batch : batches_.values()) all += batch;
        return all;
    }
    qsizetype batchCount() const { return batches_.size(); }
    bool waitForLines(qsizetype n, int timeoutMs = kWaitMs) const {
        return waitUntil([&] { return lines().size() >= n; }, timeoutMs);
    }

private:
    SerialQueue queue_;
    std::unique_ptr<JSONLTailer> tailer_;
    Inbox<QStringList> batches_;
};

}  // namespace

TEST(JSONLTailer, DeliversWhatIsThereThenCompleteLinesOnly) {
    QTemporaryDir dir;
    const QString path = dir.filePath("t.jsonl");
    // Blank lines, CRLF endings and padding are trimmed away; the last line has no line feed yet.
    ASSERT_TRUE(writeTextFile(path, "{\"a\":1}\n\n   \r\n  {\"b\":2}\r\n{\"c\":"));
    TailerHarness h(path);
    h.start();
    EXPECT_EQ(h.lines(), (QStringList{"{\"a\":1}", "{\"b\":2}"}));
    EXPECT_EQ(h.batchCount(), 1);
    EXPECT_TRUE(h.onQueue([](JSONLTailer& t) { return t.carrySize() > 0; }));

    ASSERT_TRUE(appendToFile(path, "3}"));
    h.onQueue([](JSONLTailer& t) { t.drain(); return 0; });
    EXPECT_EQ(h.lines().size(), 2);  // still waiting for its line feed

    ASSERT_TRUE(appendToFile(path, "\n"));
    ASSERT_TRUE(h.waitForLines(3));
    EXPECT_EQ(h.lines().last(), "{\"c\":3}");
    EXPECT_EQ(h.batchCount(), 2);
}

TEST(JSONLTailer, SkipsALineThatIsNotUtf8AndKeepsTheRest) {
    QTemporaryDir dir;
    const QString path = dir.filePath("t.jsonl");
    ASSERT_TRUE(writeTextFile(path, QByteArray("{\"ok\":1}\n{\"bad\":\"\xff\xfe\"}\n{\"cut\":\"\xe2\x82\"}\n") +
                                        "{\"text\":\"caf\xc3\xa9 \xe2\x9c\x93\"}\n"));
    TailerHarness h(path);
    h.start();
    EXPECT_EQ(h.lines(), (QStringList{"{\"ok\":1}", u"{\"text\":\"caf\u00e9 \u2713\"}"_qs}));
}

TEST(JSONLTailer, PicksUpAppendsByFileEvent) {
    QTemporaryDir dir;
    const QString path = dir.filePath("t.jsonl");
    ASSERT_TRUE(writeTextFile(path, ""));
    JSONLTailer::Options options;
    options.pollIntervalMs = 3600 * 1000;  // only the event can deliver within the test
    TailerHarness h(path, options);
    h.start();
    EXPECT_EQ(h.batchCount(), 0);  // an empty file delivers nothing
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(appendToFile(path, QByteArray("{\"n\":") + QByteArray::number(i) + "}\n"));
        ASSERT_TRUE(h.waitForLines(i + 1));
    }
    EXPECT_EQ(h.lines(), (QStringList{"{\"n\":0}", "{\"n\":1}", "{\"n\":2}"}));
}

TEST(JSONLTailer, PicksUpAppendsByPollWithoutEvents) {
    QTemporaryDir dir;
    const QString path = dir.filePath("t.jsonl");
    ASSERT_TRUE(writeTextFile(path, "{\"n\":0}\n"));
    JSONLTailer::Options options;
    options.fileEvents = false;
    options.pollIntervalMs = 200;
    TailerHarness h(path, options);
    h.start();
    ASSERT_EQ(h.lines().size(), 1);
    ASSERT_TRUE(appendToFile(path, "{\"n\":1}\n"));
    ASSERT_TRUE(h.waitForLines(2));
    EXPECT_EQ(h.lines().last(), "{\"n\":1}");
}

TEST(JSONLTailer, StopKeepsTheOffsetAndAMissingFileIsLeftAlone) {
    QTemporaryDir dir;
    const QString path = dir.filePath("t.jsonl");
    ASSERT_TRUE(writeTextFile(path, "{\"n\":0}\n{\"partial\""));
    JSONLTailer::Options options;
    options.pollIntervalMs = 100;
    TailerHarness h(path, options);
    h.start();
    h.stop();
    EXPECT_FALSE(h.onQueue([](JSONLTailer& t) { return t.isOpen(); }));
    EXPECT_EQ(h.onQueue([](JSONLTailer& t) { return t.offset(); }), 18u);
    EXPECT_EQ(h.onQueue([](JSONLTailer& t) { return t.carrySize(); }), 0);
    ASSERT_TRUE(appendToFile(path, "{\"n\":1}\n"));
    QTest::qWait(400);
    EXPECT_EQ(h.lines().size(), 1);  // stopped: no events, no polls

    TailerHarness missing(dir.filePath("absent.jsonl"));
    missing.start();
    EXPECT_FALSE(missing.onQueue([](JSONLTailer& t) { return t.isOpen(); }));
    ASSERT_TRUE(writeTextFile(dir.filePath("absent.jsonl"), "{\"n\":0}\n"));
    QTest::qWait(200);
    EXPECT_EQ(missing.lines().size(), 0);  // no retry
}

TEST(JSONLTailer, LargeBacklogArrivesInBoundedBatchesAndOverlongLinesAreDropped) {
    QTemporaryDir dir;
    const QString path = dir.filePath("t.jsonl");
    QByteArray content;
    for (int i = 0; i < 5000; ++i) content += "{\"i\":" + QByteArray::number(i) + ",\"pad\":\"" + QByteArray(50, 'p') + "\"}\n";
    // A line without its line feed past the limit is dropped up to the next line feed.
    content += "{\"huge\":\"" + QByteArray(70000, 'h') + "\"}\n{\"after\":1}\n";
    ASSERT_TRUE(writeTextFile(path, content));
    JSONLTailer::Options options;
    options.readBlockBytes = 4096;
    options.maxLineBytes = 16384;
    LogCapture log;
    TailerHarness h(path, options);
    h.start();
    const QStringList lines = h.lines();
    ASSERT_EQ(lines.size(), 5001);
    for (int i = 0; i < 5000; ++i) ASSERT_TRUE(lines[i].startsWith(QStringLiteral("{\"i\":%1,").arg(i))) << i;
    EXPECT_EQ(lines.last(), "{\"after\":1}");
    EXPECT_GT(h.batchCount(), 50);
    EXPECT_LE(h.onQueue([](JSONLTailer& t) { return t.carrySize(); }), 16384);
    EXPECT_TRUE(log.contains("[JSONLTailer] skipping a line longer than 16384 bytes"));
}
