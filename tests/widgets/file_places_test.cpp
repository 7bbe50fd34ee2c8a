// Where the file dialogs start and the names they propose.
#include <QDir>
#include <QFileDialog>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "widgets/file_places.h"

using namespace zelbo::ui;

TEST(FilePlaces, EachKindRemembersItsFolderAndNamesComeFromTheChipAndTheTime)
{
    QTemporaryDir a, b;
    rememberFolder(filekind::kSettings, a.filePath("x.set"));
    rememberFolder(filekind::kPicture, b.filePath("y.jpeg"));
    EXPECT_EQ(lastFolder(filekind::kSettings), a.path());
    EXPECT_EQ(lastFolder(filekind::kPicture), b.path());
    // Across runs: it is in the settings, not in memory.
    EXPECT_EQ(QSettings().value("Folders/settings").toString(), a.path());

    // A folder that went away is not proposed.
    QString gone;
    {
        QTemporaryDir c;
        gone = c.path();
        rememberFolder(filekind::kData, c.filePath("z.csv"));
    }
    EXPECT_NE(lastFolder(filekind::kData), gone);
    EXPECT_TRUE(QDir(lastFolder(filekind::kData)).exists());

    const QDateTime at(QDate(2026, 3, 4), QTime(5, 6, 7));
    setChipNameSource({});
    EXPECT_EQ(proposedName(at), "TQ5170_20260304-050607");
    setChipNameSource([] { return QStringLiteral("TQ5170/12 A"); });
    EXPECT_EQ(proposedName(at), "TQ5170_12_A_20260304-050607");
    EXPECT_TRUE(proposedPath(filekind::kPicture, "jpeg").startsWith(b.path() + "/TQ5170_12_A_"));
    EXPECT_TRUE(proposedPath(filekind::kPicture, "jpeg").endsWith(".jpeg"));

    QFileDialog d;
    prepareDialog(d, filekind::kSettings);
    EXPECT_EQ(QDir(d.directory()).absolutePath(), QDir(a.path()).absolutePath());
    setChipNameSource({});

    EXPECT_FALSE(readFailure(a.filePath("missing.csv")).isEmpty());
    EXPECT_FALSE(readFailure(a.path()).isEmpty());
}
