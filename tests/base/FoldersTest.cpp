#include "base/Folders.h"
#include "base/SystemReason.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
struct Entry {
    const char* path;
    mode_t mode;
};

struct Row {
    const char* name;
    std::vector<Entry> folders; // there before, with these modes
    const char* file;           // a file there before, or nullptr
    const char* target;
    FolderAccess access;
    int error;                // 0: the folder is made
    std::vector<Entry> after; // modes once made
};

mode_t modeOf(const QByteArray& path) {
    struct stat info {};
    return ::stat(path.constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Restores the process's umask, which the rows fix so that shared modes are known.
class Umask {
public:
    explicit Umask(mode_t mask) : m_old(::umask(mask)) {}
    ~Umask() { ::umask(m_old); }

private:
    mode_t m_old;
};
} // namespace

TEST(FoldersTest, MakesMissingFoldersOrSaysWhyNot) {
    using enum FolderAccess;
    const std::vector<Row> rows{
        {"nested", {}, nullptr, "a/b/c", shared, 0, {{"a/b", 0755}, {"a/b/c", 0755}}},
        {"owner only on what it creates",
         {{"a", 0755}},
         nullptr,
         "a/b/c",
         ownerOnly,
         0,
         {{"a", 0755}, {"a/b", 0700}, {"a/b/c", 0700}}},
        {"a file in the way", {}, "a", "a", shared, ENOTDIR, {}},
        {"a file as a parent", {}, "a", "a/b", ownerOnly, ENOTDIR, {}},
        {"an unwritable parent", {{"a", 0500}}, nullptr, "a/b", shared, EACCES, {{"a", 0500}}},
    };
    const Umask umask(022);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.error == EACCES && ::geteuid() == 0)
            continue; // root is never refused
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const auto inDir = [&dir](const char* path) {
            return QFile::encodeName(dir.filePath(QString::fromLatin1(path)));
        };
        for (const Entry& folder : row.folders) {
            ASSERT_TRUE(QDir(dir.path()).mkpath(QString::fromLatin1(folder.path)));
            ASSERT_EQ(::chmod(inDir(folder.path).constData(), folder.mode), 0);
        }
        if (row.file) {
            QFile file(dir.filePath(QString::fromLatin1(row.file)));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
        const QString target = dir.filePath(QString::fromLatin1(row.target));
        const QString expected = row.error ? systemReason(row.error) : QString();
        EXPECT_EQ(makeFolder(target, row.access).toStdString(), expected.toStdString());
        for (const Entry& entry : row.after)
            EXPECT_EQ(modeOf(inDir(entry.path)), entry.mode) << entry.path;
        for (const Entry& folder : row.folders) // lets the temporary folder go
            ::chmod(inDir(folder.path).constData(), 0700);
    }
}
