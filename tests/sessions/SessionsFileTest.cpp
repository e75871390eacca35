// The sessions file: its name, its exact format, and what still loads.
#include "sessions/SessionsFile.h"

#include "support/TestSupport.h"
#include "QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(SessionsFile, NameReplacesEverySlashAndSpace) {
    struct Case {
        const char* dir;
        const char* name;
    };
    const Case cases[] = {
        {"/home/ann/my app", "sessions__home_ann_my_app.json"},
        {"/Users/ann/my app", "sessions__Users_ann_my_app.json"},
        {"/srv/a  b/c.d-e", "sessions__srv_a__b_c.d-e.json"},
        {"/", "sessions__.json"},
        {"/tab\there/caf\u00e9", "sessions__tab\there_caf\u00e9.json"},
    };
    for (const Case& c : cases) EXPECT_EQ(SessionsFile::fileName(QString::fromUtf8(c.dir)), QString::fromUtf8(c.name));
    EXPECT_EQ(SessionsFile::path("/h/.config/varnix", "/home/ann/my app"),
              "/h/.config/varnix/sessions__home_ann_my_app.json");
}

TEST(SessionsFile, WritesPrettyPrintedSortedKeysAndOmitsWhatIsAbsent) {
    QTemporaryDir tmp;
    SessionsFile file;
    file.projectDir = "/w/app";
    SavedSession full;
    full.name = "Yaga";
    full.worktreePath = "/w/app/.varnix/worktrees/fix";
    full.agentType = "claude";
    full.isOrchestrator = true;
    full.agentSessionID = "5f0c2a8e-1111-2222-3333-444455556666";
    full.transcriptPath = "/h/.claude/projects/-w-app/5f0c2a8e-1111-2222-3333-444455556666.jsonl";
    full.exited = true;
    full.tabID = "0E4F3A52-6B7C-4D8E-9FA0-B1C2D3E4F5A6";
    SavedSession bare;
    bare.name = "Finist";
    file.sessions = {full, bare};

    // The configuration directory is made when missing.
    const QString path = tmp.filePath("config/varnix/sessions__w_app.json");
    ASSERT_TRUE(file.write(path));
    EXPECT_EQ(readAll(path),
              "{\n"
              "    \"projectDir\": \"/w/app\",\n"
              "    \"sessions\": [\n"
              "        {\n"
              "            \"agentSessionID\": \"5f0c2a8e-1111-2222-3333-444455556666\",\n"
              "            \"agentType\": \"claude\",\n"
              "            \"exited\": true,\n"
              "            \"isOrchestrator\": true,\n"
              "            \"name\": \"Yaga\",\n"
              "            \"tabID\": \"0E4F3A52-6B7C-4D8E-9FA0-B1C2D3E4F5A6\",\n"
              "            \"transcriptPath\": \"/h/.claude/projects/-w-app/5f0c2a8e-1111-2222-3333-444455556666.jsonl\",\n"
              "            \"worktreePath\": \"/w/app/.varnix/worktrees/fix\"\n"
              "        },\n"
              "        {\n"
              "            \"isOrchestrator\": false,\n"
              "            \"name\": \"Finist\"\n"
              "        }\n"
              "    ]\n"
              "}\n");
    EXPECT_EQ(SessionsFile::load(path)->sessions, file.sessions);

    // Replacing leaves no temporary file behind.
    file.sessions = {bare};
    ASSERT_TRUE(file.write(path));
    EXPECT_EQ(QDir(tmp.filePath("config/varnix")).entryList(QDir::Files | QDir::Hidden), QStringList{"sessions__w_app.json"});
    EXPECT_EQ(SessionsFile::load(path)->sessions.size(), 1);
}

TEST(SessionsFile, LoadsFilesOfOtherVersionsLeniently) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("s.json");

    // Unknown keys, values of the wrong type and entries that are not objects do not spoil the rest.
    ASSERT_TRUE(writeTextFile(path, R"({"projectDir":"/w/app","version":3,"sessions":[
        {"name":"Yaga","agentType":"codex","isOrchestrator":false,"color":"red"},
        {"name":7,"agentSessionID":["x"],"worktreePath":null,"exited":"yes","isOrchestrator":1,"tabID":"T"},
        "stray",
        {"name":"Koschei","exited":false}
    ]})"));
    const auto loaded = SessionsFile::load(path);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->projectDir, "/w/app");
    ASSERT_EQ(loaded->sessions.size(), 3);
    SavedSession yaga;
    yaga.name = "Yaga";
    yaga.agentType = "codex";
    EXPECT_EQ(loaded->sessions[0], yaga);
    SavedSession odd;
    odd.tabID = "T";
    EXPECT_EQ(loaded->sessions[1], odd);
    EXPECT_EQ(loaded->sessions[2].name, "Koschei");
    EXPECT_FALSE(loaded->sessions[2].exited);

    // What does not decode as a sessions file loads nothing.
    for (const QByteArray& text : {QByteArray(R"({"sessions":[]})"), QByteArray(R"({"projectDir":"/w/app"})"),
                                   QByteArray(R"({"projectDir":1,"sessions":[]})"),
                                   QByteArray(R"({"projectDir":"/w/app","sessions":{}})"), QByteArray("[]"),
                                   QByteArray("{\"projectDir\":\"/w/app\",\"sessions\":["), QByteArray()}) {
        ASSERT_TRUE(writeTextFile(path, text));
        EXPECT_FALSE(SessionsFile::load(path)) << text.constData();
    }
    EXPECT_FALSE(SessionsFile::load(tmp.filePath("missing.json")));
}
