#include "ui/ProjectManager.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

ino_t inodeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

class ProjectManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(dir("a")));
        ASSERT_TRUE(QDir().mkpath(dir("b")));
        ASSERT_TRUE(writeTextFile(dir("notes.txt"), "x"));
        file = tmp.filePath("config/varnix/projects.json");
    }
    QString dir(const QString& name) const { return tmp.filePath("projects/" + name); }
    QByteArray entry(const QString& path, bool expanded = true) const {
        return QStringLiteral(R"({"path":"%1","isExpanded":%2})").arg(path, expanded ? "true" : "false").toUtf8();
    }

    QTemporaryDir tmp;
    QString file;
};

TEST_F(ProjectManagerTest, UnreadableFilesGiveAnEmptyList) {
    struct Case {
        const char* name;
        QByteArray text;
    };
    const QList<Case> cases = {
        {"bad JSON", "[{\"path\":"},
        {"an object instead of an array", entry(dir("a"))},
        {"an entry without isExpanded", "[" + entry(dir("a")) + R"(,{"path":")" + dir("b").toUtf8() + "\"}]"},
        {"an entry without path", R"([{"isExpanded":true}])"},
        {"a path that is not text", R"([{"path":7,"isExpanded":true}])"},
        {"isExpanded that is not a boolean", "[" + QByteArray(R"({"path":")") + dir("a").toUtf8() +
                                                 R"(","isExpanded":"yes"}])"},
        {"an entry that is not an object", "[" + entry(dir("a")) + ",\"b\"]"},
    };
    EXPECT_TRUE(ProjectManager(file).projects.isEmpty()) << "missing file";
    for (const Case& c : cases) {
        ASSERT_TRUE(writeTextFile(file, c.text));
        EXPECT_TRUE(ProjectManager(file).projects.isEmpty()) << c.name;
    }
}

TEST_F(ProjectManagerTest, LoadKeepsExistingPathsInOrderAndLeavesTheFileAlone) {
    const QByteArray text = "[" + entry(dir("b"), false) + "," + entry(dir("gone")) + "," + entry(dir("notes.txt")) +
                            "," + entry(dir("a")) + "]";
    ASSERT_TRUE(writeTextFile(file, text));
    ProjectManager store(file);
    const QList<Project> expected = {{dir("b"), false}, {dir("notes.txt"), true}, {dir("a"), true}};
    EXPECT_EQ(store.projects, expected) << "files count as existing too; order and isExpanded are kept";
    EXPECT_EQ(readAll(file), text) << "loading never rewrites the file";

    // The dropped entry leaves the file with the next save.
    store.save();
    EXPECT_FALSE(readAll(file).contains("gone"));
}

TEST_F(ProjectManagerTest, SaveWritesCompactlyInPlaceWithBothKeys) {
    ProjectManager store(file);
    store.projects = {{dir("a"), true}, {dir("b"), false}};
    ASSERT_TRUE(store.save()) << "the directory is created";
    const QByteArray expected = "[" + QByteArray(R"({"isExpanded":true,"path":")") + dir("a").toUtf8() + "\"}," +
                                R"({"isExpanded":false,"path":")" + dir("b").toUtf8() + "\"}]";
    EXPECT_EQ(readAll(file), expected);

    const ino_t before = inodeOf(file);
    store.projects.removeFirst();
    ASSERT_TRUE(store.save());
    EXPECT_EQ(inodeOf(file), before) << "written in place";
    EXPECT_EQ(ProjectManager(file).projects, (QList<Project>{{dir("b"), false}}));
}

TEST_F(ProjectManagerTest, OpeningMovesToTheFrontWithoutDuplicatesAndRemovalDropsEveryCopy) {
    ProjectManager store(file);
    store.projects = {{dir("a"), true}, {dir("b"), false}, {dir("notes.txt"), true}, {dir("b"), true}};
    store.recordOpened(dir("b"));
    const QList<Project> afterOpen = {{dir("b"), true}, {dir("a"), true}, {dir("notes.txt"), true}};
    EXPECT_EQ(store.projects, afterOpen);
    EXPECT_EQ(ProjectManager(file).projects, afterOpen) << "saved at once";

    store.projects << Project{dir("a"), false};
    store.remove(dir("a"));
    const QList<Project> afterRemove = {{dir("b"), true}, {dir("notes.txt"), true}};
    EXPECT_EQ(store.projects, afterRemove);
    EXPECT_EQ(ProjectManager(file).projects, afterRemove) << "saved at once";
}

TEST_F(ProjectManagerTest, AFailedWriteKeepsTheListInMemory) {
    ASSERT_TRUE(writeTextFile(tmp.filePath("blocker"), "a file where a directory should be"));
    ProjectManager store(tmp.filePath("blocker/projects.json"));
    store.recordOpened(dir("a"));
    EXPECT_FALSE(store.save());
    EXPECT_EQ(store.projects, (QList<Project>{{dir("a"), true}}));
}

TEST(ProjectManagerShared, LoadsFromTheConfigDirectoryOfHome) {
    TempHome home;
    ASSERT_TRUE(QDir().mkpath(home.file("code/app")));
    const QString path = home.file("code/app");
    ASSERT_TRUE(writeTextFile(home.file(".config/varnix/projects.json"),
                              QStringLiteral(R"([{"path":"%1","isExpanded":true}])").arg(path).toUtf8()));
    ProjectManager::resetShared();
    EXPECT_EQ(ProjectManager::shared().filePath(), home.file(".config/varnix/projects.json"));
    EXPECT_EQ(ProjectManager::shared().projects, (QList<Project>{{path, true}}));
    ProjectManager::resetShared();
}

}  // namespace
